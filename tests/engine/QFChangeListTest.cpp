#include "engine/QFTombrelBackup.h"

#include "engine/QFXMLParser.h"
#include "foundation/QFLog.h"
#include "tests/support/QFTempHome.h"

#include <QFile>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using Edits = std::vector<std::pair<const char *, const char *>>;

QByteArray fixture(const char *name)
{
    QFile file(fixturePath(QStringLiteral("xmeml/") + QLatin1String(name)));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

// The text with the first occurrence of each "from" replaced.
QByteArray edited(QByteArray text, const Edits &edits)
{
    for (const auto &[from, to] : edits) {
        const qsizetype at = text.indexOf(from);
        EXPECT_GE(at, 0) << "not in the document: " << from;
        if (at >= 0)
            text.replace(at, qsizetype(qstrlen(from)), to);
    }
    return text;
}

class QFChangeListTest : public TempHomeTest {
protected:
    void SetUp() override { QFLog::createNewLog(QStringLiteral("changelist")); }

    std::unique_ptr<pugi::xml_document> parse(const QByteArray &text)
    {
        QString error;
        auto document = QFXMLParser::documentFromData(text, &error);
        EXPECT_TRUE(document) << qPrintable(error);
        return document;
    }
    QStringList changes(const QByteArray &oldText, const QByteArray &newText)
    {
        const auto base = parse(oldText);
        const auto doc = parse(newText);
        if (!base || !doc)
            return { QStringLiteral("<unreadable>") };
        const auto list
            = engine.changeListForFCPXMLDoc(doc.get(), base.get(), uuids(*base), ids(*base), uuids(*doc), ids(*doc));
        return list ? *list : QStringList { QStringLiteral("<cancelled>") };
    }
    static QStringList uuids(const pugi::xml_node &doc)
    {
        return QFXMLParser::stringValuesForQuery(QStringLiteral("//uuid"), doc);
    }
    static QStringList ids(const pugi::xml_node &doc)
    {
        return QFXMLParser::stringValuesForQuery(QStringLiteral("//@id"), doc);
    }
    QString logText() const
    {
        QFLog::finishWriting();
        QFile log(QFLog::sharedController()->currentLogPath());
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    }

    QFTombrelBackup engine;
};

// Additions to markp.xml that give it the items the real export lacks.
const char *const kGenerator = "<track>\n<generatoritem id=\"g1\"><name>Slug</name><duration>100</duration>"
                               "<in>0</in><out>100</out><start>0</start><end>100</end><alphatype>none</alphatype>"
                               "<effect><name>Slug</name><alphatype>straight</alphatype></effect></generatoritem>";
const char *const kClipExtras = "<alphatype>none</alphatype><media><audio><in>10</in><out>20</out><start>-1</start>"
                                "<end>50</end></audio><video><in>-1</in><out>5</out></video></media>"
                                "<marker><name>Cue</name><comment>Fix</comment><in>100</in><out>-1</out></marker>"
                                "<subclipinfo><startoffset>10</startoffset><endoffset>20</endoffset>"
                                "<mediadelay>5</mediadelay></subclipinfo>";
const char *const kMarkpClip = "<alphatype>none</alphatype>";

struct Row {
    const char *label;
    const char *fixture;
    Edits edits;
    const char *xpath;
    const char *newValue; // nullptr: as the document has it
    const char *oldValue;
    bool uuidIsOld;
    const char *expected; // nullptr: no sentence
};

} // namespace

TEST_F(QFChangeListTest, EveryPhraseOfTheTable)
{
    const char *M = "markp.xml";
    const char *F = "fcp_sample.xml";
    const char *P = "premiere_cs6_lydtest.xml";
    const char *H = "hiero_xml_export.xml";
    const Edits generator = { { "<track>", kGenerator } };
    const Edits clipExtras = { { kMarkpClip, kClipExtras } };
    const std::vector<Row> rows = {
        { "name project", P, {}, "//project/name", nullptr, "old", false,
            "Project name changed to premiere_cs6_lydtest" },
        { "name clip without uuid", H, {}, "//clipitem/name", nullptr, "old", false,
            "Name changed to A160C005_171213_R0MN" },
        { "name clip unchanged", M, {}, "//clipitem/name", nullptr, "old", true, nullptr },
        { "name clip renamed", M, {}, "//clipitem/name", "Inter%20view", "old", true,
            "Inter view clip name changed to Inter%20view" },
        { "name clip new", M, {}, "//clipitem/name", nullptr, "old", false,
            "New video clip added for sequence Sequence 1: marc_phillipson_032310" },
        { "name bin without uuid", P, { { "<children>", "<children><bin><name>Footage</name></bin>" } }, "//bin/name",
            nullptr, "Old", false, "Name changed to Footage" },
        { "name bin renamed", P, { { "<children>", "<children><bin><uuid>B1</uuid><name>Footage</name></bin>" } },
            "//bin/name", nullptr, "Old", true, "Old bin name changed to Footage" },
        { "name bin new", P, { { "<children>", "<children><bin><uuid>B1</uuid><name>Footage</name></bin>" } },
            "//bin/name", nullptr, "Old", false, "New bin added: Footage" },
        { "name codec of clip", M,
            { { "<width>1440</width>\n\t\t\t\t\t\t\t\t\t<height>1080</height>",
                "<width>1440</width><codec><name>DV</name></codec>" } },
            "//clipitem//codec/name", nullptr, "x", false, "Clip codec changed to DV" },
        { "name codec of sequence", M, {}, "//codec/name", nullptr, "x", false,
            "Sequence codec changed to Apple HDV 1080i60" },
        { "name codec elsewhere", M,
            { { "<xmeml version=\"4\">", "<xmeml version=\"4\"><codec><name>Loose</name></codec>" } },
            "/xmeml/codec/name", nullptr, "x", false, nullptr },
        { "name marker", M, clipExtras, "//marker/name", nullptr, "x", false,
            "Marker Cue added to clip marc_phillipson_032310 for sequence Sequence 1" },
        { "name other", M, {}, "//parameter/name", nullptr, "x", false, nullptr },
        { "value of an effect parameter", M, {}, "//parameter[parameterid='fontsize']/value", nullptr, "12", false,
            "Size set to 24 for Timecode Reader Filter" },
        { "value keyframe", F, {}, "//keyframe[when='86']/value", nullptr, "50", false,
            "Keyframe at 86 set to 100 for filter Opacity on clip MVI_0462" },
        { "value otherwise", M, { { "<good>FALSE</good>", "<good>FALSE</good><value>5</value>" } },
            "//logginginfo/value", nullptr, "4", false, "Value changed to 5" },
        { "duration sequence", M, {}, "/xmeml/sequence/duration", nullptr, "44251", false,
            "Sequence 1 sequence duration changed from 01:24:36;15 to 01:24:37;15 (+30)" },
        { "duration clip", M, {}, "//clipitem/duration", nullptr, "44305", false,
            "marc_phillipson_032310 clip duration changed from 01:24:38;09 to 01:24:37;09 (-30)" },
        { "duration subclip", M, clipExtras, "//clipitem/duration", nullptr, "44275", false,
            "marc_phillipson_032310 subclip duration changed from 01:24:37;09 to 01:24:37;09 (0)" },
        { "duration generator", M, generator, "//generatoritem/duration", nullptr, "50", false,
            "Duration changed to 01:00:03;10 for Slug generator" },
        { "in sequence removed", M, {}, "/xmeml/sequence/in", nullptr, "0", false,
            "In Point of sequence Sequence 1 removed" },
        { "in sequence", M, {}, "/xmeml/sequence/in", "10", "0", false,
            "In Point of sequence Sequence 1 changed from 01:00:00;00 to 01:00:00;10 (+10)" },
        { "in clip removed", M, {}, "//clipitem/in", "-1", "0", false,
            "In Point of clip marc_phillipson_032310 removed" },
        { "in clip", M, {}, "//clipitem/in", nullptr, "30", false,
            "In Point of clip marc_phillipson_032310 changed from 01:00:01;00 to 01:00:00;00 (-30)" },
        { "in generator", M, generator, "//generatoritem/in", nullptr, "5", false,
            "In Point of generator Slug changed to 01:00:00;00" },
        { "in filter", M,
            { { "<name>Timecode Reader</name>", "<name>Timecode Reader</name><in>-1</in><out>40</out>" } },
            "//effect/in", nullptr, "5", false, "In Point of filter Timecode Reader removed" },
        { "in transition", M,
            { { "<alignment>start</alignment>", "<alignment>start</alignment><in>5</in><out>-1</out>" } },
            "//transitionitem/in", nullptr, "0", false,
            "In Point of transition Cross Dissolve changed to 01:00:00;05" },
        { "in marker", M, clipExtras, "//marker/in", nullptr, "0", false,
            "In Point of marker Cue changed to 01:00:03;10" },
        { "in audio of clip", M, clipExtras, "//clipitem/media/audio/in", nullptr, "0", false,
            "In Point of audio clip marc_phillipson_032310 changed from 01:00:00;00 to 01:00:00;10 (+10)" },
        { "in video of clip removed", M, clipExtras, "//clipitem/media/video/in", nullptr, "0", false,
            "In Point of video clip marc_phillipson_032310 removed" },
        { "in audio track removed", M, {}, "/xmeml/sequence/media/audio/in", nullptr, "0", false,
            "In Point of audio track in sequence Sequence 1 removed" },
        { "in audio track", M, {}, "/xmeml/sequence/media/audio/in", "30", "0", false,
            "In Point of audio track in sequence Sequence 1 changed from 01:00:00;00 to 01:00:01;00 (+30)" },
        { "in under a filter", M,
            { { "<enabled>TRUE</enabled>\n\t\t\t\t\t\t<start>-1</start>",
                "<enabled>TRUE</enabled><in>3</in><start>-1</start>" } },
            "//filter/in", nullptr, "0", false, "In changed to 3" },
        { "out sequence removed", M, {}, "/xmeml/sequence/out", nullptr, "0", false,
            "Out Point of sequence Sequence 1 removed" },
        { "out sequence", M, {}, "/xmeml/sequence/out", "20", "10", false,
            "Out Point of sequence Sequence 1 changed from 01:00:00;10 to 01:00:00;20 (+10)" },
        { "out clip removed", M, {}, "//clipitem/out", "-1", "0", false,
            "Out Point of clip marc_phillipson_032310 removed" },
        { "out clip", M, {}, "//clipitem/out", "44305", "44275", false,
            "Out Point of clip marc_phillipson_032310 changed from 01:24:37;09 to 01:24:38;09 (+30)" },
        { "out generator", M, generator, "//generatoritem/out", nullptr, "5", false,
            "Out Point of generator Slug changed to 01:00:03;10" },
        { "out filter", M,
            { { "<name>Timecode Reader</name>", "<name>Timecode Reader</name><in>-1</in><out>40</out>" } },
            "//effect/out", nullptr, "5", false, "Out Point of filter Timecode Reader changed to 01:00:01;10" },
        { "out transition", M,
            { { "<alignment>start</alignment>", "<alignment>start</alignment><in>5</in><out>-1</out>" } },
            "//transitionitem/out", nullptr, "0", false, "Out Point of transition Cross Dissolve removed" },
        { "out marker", M, clipExtras, "//marker/out", nullptr, "0", false, "Out Point of marker Cue removed" },
        { "out audio of clip", M, clipExtras, "//clipitem/media/audio/out", nullptr, "0", false,
            "Out Point of audio clip marc_phillipson_032310 changed from 01:00:00;00 to 01:00:00;20 (+20)" },
        { "out audio of clip removed", M, clipExtras, "//clipitem/media/audio/out", "-1", "0", false,
            "Out Point of audio clip marc_phillipson_032310 removed" },
        { "out audio track removed", M, {}, "/xmeml/sequence/media/audio/out", nullptr, "0", false,
            "Out Point of audio track in sequence Sequence 1 removed" },
        { "out audio track", M, {}, "/xmeml/sequence/media/audio/out", "5", "0", false,
            "Out Point of audio track in sequence Sequence 1 changed from 01:00:00;00 to 01:00:00;05 (+5)" },
        { "out video", M, clipExtras, "//clipitem/media/video/out", nullptr, "0", false, "Out changed to 5" },
        { "start sequence", M, { { "<updatebehavior>add</updatebehavior>", "<start>10</start><end>100</end>" } },
            "/xmeml/sequence/start", nullptr, "0", false,
            "Sequence 1 sequence Start changed from 01:00:00;00 to 01:00:00;10 (+10)" },
        { "end sequence", M, { { "<updatebehavior>add</updatebehavior>", "<start>10</start><end>100</end>" } },
            "/xmeml/sequence/end", nullptr, "130", false,
            "Sequence 1 sequence End changed from 01:00:04;10 to 01:00:03;10 (-30)" },
        { "start clip removed", M, {}, "//clipitem/start", nullptr, "0", false,
            "Transition added at beginning of video clip marc_phillipson_032310" },
        { "start clip", M, {}, "//clipitem/start", "10", "0", false,
            "Start point of video clip marc_phillipson_032310 changed from 01:00:00;00 to 01:00:00;10 (+10)" },
        { "end clip removed", M, {}, "//clipitem/end", nullptr, "0", false,
            "Transition added at end of video clip marc_phillipson_032310" },
        { "end freeze frame", M,
            { { kMarkpClip, "<alphatype>none</alphatype><stillframeoffset>3</stillframeoffset>" } }, "//clipitem/end",
            "50", "20", false,
            "End point of video freeze frame marc_phillipson_032310 changed from 01:00:00;20 to 01:00:01;20 (+30)" },
        { "start generator removed", M, generator, "//generatoritem/start", "-1", "0", false,
            "Transition added at beginning of generator Slug" },
        { "start generator", M, generator, "//generatoritem/start", nullptr, "10", false,
            "Start point of generator Slug changed from 01:00:00;10 to 01:00:00;00 (-10)" },
        { "end generator removed", M, generator, "//generatoritem/end", "-1", "0", false,
            "Transition added at end of generator Slug" },
        { "end generator", M, generator, "//generatoritem/end", nullptr, "100", false,
            "End point of generator Slug changed from 01:00:03;10 to 01:00:03;10 (0)" },
        { "start transition", M, {}, "//transitionitem/start", nullptr, "5", false,
            "Start point of transition Cross Dissolve changed to 01:00:00;00" },
        { "end transition", M, {}, "//transitionitem/end", nullptr, "5", false,
            "End point of transition Cross Dissolve changed to 01:00:01;00" },
        { "start filter", M, {}, "//filter/start", nullptr, "5", false,
            "Start point of filter Timecode Reader removed" },
        { "end filter", M, {}, "//filter/end", "40", "5", false,
            "End point of filter Timecode Reader changed to 01:00:01;10" },
        { "start audio of clip", M, clipExtras, "//clipitem/media/audio/start", nullptr, "0", false,
            "Transition added at beginning of audio clip marc_phillipson_032310" },
        { "start audio of clip moved", M, clipExtras, "//clipitem/media/audio/start", "20", "10", false,
            "Start of audio clip marc_phillipson_032310 changed from 01:00:00;10 to 01:00:00;20 (+10)" },
        { "end audio of clip removed", M, clipExtras, "//clipitem/media/audio/end", "-1", "0", false,
            "Transition added at end of audio clip marc_phillipson_032310" },
        { "end audio of clip", M, clipExtras, "//clipitem/media/audio/end", nullptr, "20", false,
            "End of audio clip marc_phillipson_032310 changed from 01:00:00;20 to 01:00:01;20 (+30)" },
        { "in video of clip", M, clipExtras, "//clipitem/media/video/in", "7", "0", false,
            "In Point of video clip marc_phillipson_032310 changed from 01:00:00;00 to 01:00:00;07 (+7)" },
        { "startoffset", M, clipExtras, "//subclipinfo/startoffset", nullptr, "0", false,
            "Start point of subclip marc_phillipson_032310 changed from 01:00:00;00 to 01:00:00;10 (+10)" },
        { "mediadelay", M, clipExtras, "//subclipinfo/mediadelay", nullptr, "10", false,
            "Start point of subclip marc_phillipson_032310 changed from 01:00:00;10 to 01:00:00;05 (-5)" },
        { "endoffset", M, clipExtras, "//subclipinfo/endoffset", nullptr, "0", false,
            "End point of subclip marc_phillipson_032310 changed to 01:00:00;20" },
        { "startoffset elsewhere", M,
            { { "<updatebehavior>add</updatebehavior>", "<subclipinfo><startoffset>4</startoffset></subclipinfo>" } },
            "//startoffset", nullptr, "0", false, "Startoffset changed to 4" },
        { "width sequence", M, {}, "/xmeml/sequence//width", nullptr, "720", false,
            "Sequence 1 sequence width changed to 1440" },
        { "height sequence", M, {}, "/xmeml/sequence//height", nullptr, "480", false,
            "Sequence 1 sequence height changed to 1080" },
        { "pixel aspect ratio sequence", M, {}, "/xmeml/sequence//samplecharacteristics/pixelaspectratio", nullptr,
            "Square", false, "Sequence 1 sequence pixel aspect ratio changed to HD-(1440x1080)" },
        { "field dominance sequence", M, {}, "/xmeml/sequence//samplecharacteristics/fielddominance", nullptr, "lower",
            false, "Sequence 1 sequence field dominance changed to upper" },
        { "width clip", M, {}, "//clipitem//width", nullptr, "720", false,
            "Clip marc_phillipson_032310 width changed to 1440" },
        { "height freeze frame", M,
            { { kMarkpClip, "<alphatype>none</alphatype><stillframeoffset>3</stillframeoffset>" } },
            "//clipitem//height", nullptr, "480", false, "Freeze frame marc_phillipson_032310 height changed to 1080" },
        { "pixel aspect ratio clip", M,
            { { "<width>1440</width>\n\t\t\t\t\t\t\t\t\t<height>1080</height>",
                "<pixelaspectratio>Square</pixelaspectratio><fielddominance>lower</fielddominance>" } },
            "//clipitem//samplecharacteristics/pixelaspectratio", nullptr, "x", false,
            "Clip marc_phillipson_032310 pixel aspect ratio changed to Square" },
        { "field dominance subclip", M,
            { { "<width>1440</width>\n\t\t\t\t\t\t\t\t\t<height>1080</height>",
                  "<pixelaspectratio>Square</pixelaspectratio><fielddominance>lower</fielddominance>" },
                { kMarkpClip, kClipExtras } },
            "//clipitem//samplecharacteristics/fielddominance", nullptr, "x", false,
            "Subclip marc_phillipson_032310 field dominance changed to lower" },
        { "field dominance of an item", M, {}, "//clipitem/fielddominance", nullptr, "lower", false,
            "Sequence 1 sequence field dominance changed to upper" },
        { "width elsewhere", H,
            { { "<sequence", "<samplecharacteristics><width>5</width></samplecharacteristics><sequence" } },
            "/xmeml/samplecharacteristics/width", nullptr, "1", false, "Width changed to 5" },
        { "timebase sequence", M, {}, "/xmeml/sequence/rate/timebase", nullptr, "25", false,
            "Sequence 1 sequence timebase changed to 30" },
        { "timebase clip", M, {}, "//clipitem/rate/timebase", nullptr, "25", false,
            "Clip marc_phillipson_032310 timebase changed to 30" },
        { "ntsc sequence", M, {}, "/xmeml/sequence/rate/ntsc", nullptr, "FALSE", false, "Sequence 1 sequence is NTSC" },
        { "ntsc clip", M, {}, "//clipitem/rate/ntsc", "FALSE", "TRUE", false,
            "Clip marc_phillipson_032310 is not NTSC" },
        { "ntsc elsewhere", M, {}, "//transitionitem/rate/ntsc", nullptr, "FALSE", false, "Ntsc changed to TRUE" },
        { "enabled sequence", M, { { "<updatebehavior>add</updatebehavior>", "<enabled>FALSE</enabled>" } },
            "/xmeml/sequence/enabled", nullptr, "TRUE", false, "Sequence 1 sequence disabled" },
        { "enabled clip", M, {}, "//clipitem/enabled", nullptr, "FALSE", false, "Clip marc_phillipson_032310 enabled" },
        { "enabled filter", M, {}, "//filter/enabled", nullptr, "FALSE", false,
            "Timecode Reader filter for clip marc_phillipson_032310 enabled" },
        { "enabled track", M, {}, "//track/enabled", nullptr, "FALSE", false, "Enabled changed to TRUE" },
        { "alphatype generator", M, generator, "//generatoritem/alphatype", nullptr, "x", false,
            "Alpha type for generator Slug set to none" },
        { "alphatype filter", M, generator, "//generatoritem/effect/alphatype", nullptr, "x", false,
            "Alpha type for filter Slug set to straight" },
        { "alphatype clip", M, {}, "//clipitem/alphatype", nullptr, "x", false,
            "Alpha type for clip marc_phillipson_032310 set to none" },
        { "any other in an effect", M, {}, "//effect/wipecode", nullptr, "1", false,
            "Wipecode set to 0 for Cross Dissolve Filter" },
        { "any other below a parameter", M, {}, "//parameter/parameterid", nullptr, "x", false,
            "Parameterid set to mode for Timecode Reader Filter" },
        { "any other two levels below", M, {}, "//parameter[parameterid='center']/value/vert", nullptr, "0", false,
            "Vert set to 0.37037 for Timecode Reader Filter" },
        { "any other deeper", M, { { "<horiz>0</horiz>", "<horiz><x><y>9</y></x></horiz>" } }, "//horiz/x/y", nullptr,
            "0", false, "Y set to 9 for (null) Filter" },
        { "alignment", M, {}, "//transitionitem/alignment", nullptr, "end", false,
            "Transition aligment set to start for Cross Dissolve" },
        { "comment", M, clipExtras, "//marker/comment", nullptr, "x", false, "Cue marker description changed to Fix" },
        { "shottake", P, {}, "//clip//shottake", "3", "", false,
            "Shot changed to 3 for clip Nokas.2010.NORWEGIAN.DVDSCR.XviD-NOKAS.avi" },
        { "scene", M, {}, "//clipitem//scene", "12", "", false, "Scene changed to 12 for clip (null)" },
        { "ignored", M, {}, "//masterclipid", nullptr, "x", false, nullptr },
        { "unknown", M, {}, "//logginginfo/good", nullptr, "TRUE", false, "Good changed to FALSE" },
    };

    for (const Row &row : rows) {
        SCOPED_TRACE(row.label);
        const auto doc = parse(edited(fixture(row.fixture), row.edits));
        ASSERT_TRUE(doc);
        pugi::xml_node node = QFXMLParser::nodeForQuery(QString::fromUtf8(row.xpath), *doc).node();
        ASSERT_TRUE(node) << row.xpath;
        if (row.newValue) {
            if (!node.first_child())
                node.append_child(pugi::node_pcdata);
            node.first_child().set_value(row.newValue);
        }
        const pugi::xml_node parent = node.parent();
        const QStringList oldUUIDs = row.uuidIsOld ? QStringList { QFXMLParser::uuidForNode(parent) } : QStringList();
        const QString sentence
            = engine.changeStringFromFCPNode(node, QFXMLParser::name(node), QFXMLParser::stringValue(node), parent,
                QFXMLParser::name(parent), node, QString::fromUtf8(row.oldValue), oldUUIDs, {});
        if (row.expected)
            EXPECT_EQ(sentence, QString::fromUtf8(row.expected));
        else
            EXPECT_TRUE(sentence.isNull()) << qPrintable(sentence);
    }
    EXPECT_TRUE(logText().contains(
        QStringLiteral("Unknown change: Good changed to FALSE. XPath: "
                       "/xmeml[1]/sequence[1]/media[1]/video[1]/track[1]/clipitem[1]/logginginfo[1]/good[1]")));
}

namespace {

// markp.xml with its first clip item named Interview and its in, out, start and end in the given order.
QByteArray interview(const char *timing)
{
    return edited(fixture("markp.xml"),
        { { "<name>marc_phillipson_032310</name>", "<name>Interview</name>" },
            { "<in>0</in>\n\t\t\t\t\t<out>44275</out>\n\t\t\t\t\t<start>-1</start>\n\t\t\t\t\t<end>-1</end>",
                timing } });
}

QByteArray withoutSequenceTimecode(QByteArray text)
{
    const qsizetype from = text.indexOf("<timecode>");
    text.remove(from, text.indexOf("</timecode>") + qsizetype(qstrlen("</timecode>")) - from);
    return text;
}

} // namespace

TEST_F(QFChangeListTest, MissingSameAndSwitchedDocuments)
{
    const auto markp = parse(fixture("markp.xml"));
    const auto project = parse(fixture("premiere_cs6_lydtest.xml"));
    ASSERT_TRUE(markp && project);
    EXPECT_EQ(engine.changeListForFCPXMLDoc(markp.get(), markp.get(), {}, {}, {}, {}),
        QStringList { QStringLiteral("No change") });
    EXPECT_EQ(engine.changeListForFCPXMLDoc(nullptr, markp.get(), {}, {}, {}, {}), QStringList());
    EXPECT_EQ(engine.changeListForFCPXMLDoc(markp.get(), nullptr, {}, {}, {}, {}), QStringList());

    for (const char *name : { "markp.xml", "fcp_sample.xml", "premiere_cs6_lydtest.xml", "hiero_xml_export.xml" }) {
        SCOPED_TRACE(name);
        EXPECT_EQ(changes(fixture(name), fixture(name)), QStringList { QStringLiteral("No notable changes") });
    }
    EXPECT_EQ(changes(fixture("premiere_cs6_lydtest.xml"), fixture("markp.xml")),
        QStringList { QStringLiteral("Backup sequence changed to Sequence 1") });
    EXPECT_EQ(changes(fixture("markp.xml"), fixture("premiere_cs6_lydtest.xml")),
        QStringList { QStringLiteral("Backup type changed to Project") });
    EXPECT_EQ(changes(fixture("markp.xml"),
                  edited(fixture("markp.xml"),
                      { { "F2978441-64F3-4CCD-A929-F8DDADB1D7FE", "OTHER" },
                          { "<name>Sequence 1</name>", "<name>Cut 2</name>" } })),
        QStringList { QStringLiteral("Backup sequence changed to Cut 2") });
}

TEST_F(QFChangeListTest, PointsAndTimecodes)
{
    const char *out300 = "<in>0</in><out>300</out><start>-1</start><end>-1</end>";
    const char *out330 = "<in>0</in><out>330</out><start>-1</start><end>-1</end>";
    const QByteArray at300 = withoutSequenceTimecode(interview(out300));
    const QByteArray at330 = withoutSequenceTimecode(interview(out330));
    EXPECT_EQ(changes(at300, at330),
        QStringList { QStringLiteral("Out Point of clip Interview changed from 01:00:10;00 to 01:00:11;00 (+30)") });
    EXPECT_EQ(changes(at330, at300),
        QStringList { QStringLiteral("Out Point of clip Interview changed from 01:00:11;00 to 01:00:10;00 (-30)") });
    EXPECT_EQ(
        changes(at300, withoutSequenceTimecode(interview("<in>0</in><out>0300</out><start>-1</start><end>-1</end>"))),
        QStringList { QStringLiteral("Out Point of clip Interview changed from 01:00:10;00 to 01:00:10;00 (0)") });

    const Edits nonDrop = { { "<frame>107892</frame>", "<frame>0</frame>" },
        { "<displayformat>DF</displayformat>", "<displayformat>NDF</displayformat>" } };
    EXPECT_EQ(changes(edited(interview(out300), nonDrop), edited(interview(out330), nonDrop)),
        QStringList { QStringLiteral("Out Point of clip Interview changed from 00:00:10:00 to 00:00:11:00 (+30)") });

    EXPECT_EQ(changes(interview(out300), interview("<in>-1</in><out>300</out><start>-1</start><end>-1</end>")),
        QStringList { QStringLiteral("In Point of clip Interview removed") });

    // A timebase of zero counts at the usual rate rather than dividing by it.
    const auto zero = parse(edited(fixture("markp.xml"), { { "<timebase>30</timebase>", "<timebase>0</timebase>" } }));
    const pugi::xml_node in = QFXMLParser::nodeForQuery(QStringLiteral("//clipitem/in"), *zero).node();
    EXPECT_EQ(engine.timecodeFromFrames(QStringLiteral("30"), in), QStringLiteral("01:00:01;00"));
    EXPECT_EQ(engine.timecodeFromFrames(QStringLiteral("30"), zero->document_element()), QStringLiteral("00:00:01;00"));
    EXPECT_EQ(engine.startTimeForNode(QFXMLParser::nodeForQuery(QStringLiteral("//clipitem"), *zero).node()),
        QStringLiteral("00:59:59;29"));
    EXPECT_TRUE(engine.startTimeForNode(QFXMLParser::nodeForQuery(QStringLiteral("//rate"), *zero).node()).isNull());
}

TEST_F(QFChangeListTest, StartAndEndStandForInAndOut)
{
    const struct {
        const char *label;
        const char *before;
        const char *after;
        const char *expected;
    } cases[] = {
        { "in after a reported start", "<start>0</start><end>100</end><in>0</in><out>100</out>",
            "<start>10</start><end>100</end><in>10</in><out>100</out>",
            "Start point of video clip Interview changed from 01:00:00;00 to 01:00:00;10 (+10)" },
        { "out after a reported end", "<start>0</start><end>100</end><in>0</in><out>100</out>",
            "<start>0</start><end>130</end><in>0</in><out>130</out>",
            "End point of video clip Interview changed from 01:00:03;10 to 01:00:04;10 (+30)" },
        { "start after a reported in", "<in>0</in><out>100</out><start>0</start><end>100</end>",
            "<in>10</in><out>100</out><start>10</start><end>100</end>",
            "Start point of video clip Interview changed from 01:00:00;00 to 01:00:00;10 (+10)" },
        { "end after a reported out", "<in>0</in><out>100</out><start>0</start><end>100</end>",
            "<in>0</in><out>130</out><start>0</start><end>130</end>",
            "End point of video clip Interview changed from 01:00:03;10 to 01:00:04;10 (+30)" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(changes(interview(c.before), interview(c.after)), QStringList { QString::fromUtf8(c.expected) });
    }
}

TEST_F(QFChangeListTest, RepeatedSentenceAppearsOnce)
{
    QByteArray all = fixture("markp.xml");
    ASSERT_EQ(all.count("<good>FALSE</good>"), 3);
    all.replace("<good>FALSE</good>", "<good>TRUE</good>");
    EXPECT_EQ(changes(fixture("markp.xml"), all), QStringList { QStringLiteral("Good changed to TRUE") });
    EXPECT_TRUE(logText().contains(QStringLiteral("Unknown change: Good changed to TRUE. XPath: ")));
}

TEST_F(QFChangeListTest, NewFiltersExceptTheStandardOnes)
{
    const auto withFilter = [](const char *name) {
        return edited(fixture("markp.xml"),
            { { "<sourcetrack>",
                qPrintable(QStringLiteral(
                    "<filter><effect><name>%1</name><effectid>x</effectid></effect></filter><sourcetrack>")
                               .arg(QLatin1String(name))) } });
    };
    const auto renamed = [](const char *name) {
        return edited(fixture("markp.xml"),
            { { "<name>Timecode Reader</name>",
                qPrintable(QStringLiteral("<name>%1</name>").arg(QLatin1String(name))) } });
    };
    for (const char *name :
        { "Basic Motion", "Audio Levels", "Drop Shadow", "Motion Blur", "Crop", "Distort", "Opacity", "Audio Pan" }) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(
            changes(fixture("markp.xml"), withFilter(name)).filter(QStringLiteral("New filter added")).isEmpty());
        EXPECT_TRUE(changes(fixture("markp.xml"), renamed(name)).filter(QStringLiteral("New filter added")).isEmpty());
    }
    EXPECT_TRUE(changes(fixture("markp.xml"), withFilter("Gaussian Blur"))
                    .contains(QStringLiteral("New filter added for clip marc_phillipson_032310: Gaussian Blur")));
    EXPECT_EQ(changes(fixture("markp.xml"), renamed("Gaussian Blur")),
        QStringList { QStringLiteral("New filter added: Gaussian Blur") });
}

TEST_F(QFChangeListTest, NewItemsAreNamedWithWhereAndWhen)
{
    const QByteArray base = edited(fixture("markp.xml"), { { "<name>Sequence 1</name>", "<name>Main</name>" } });
    const QByteArray added = edited(base,
        { { "<track>\n\t\t\t\t<transitionitem>",
            "<track><clipitem id=\"new 1\"><name>clip</name><in>0</in><out>30</out><start>0</start><end>30</end>"
            "<file id=\"new "
            "file\"><pathurl>file://localhost/Volumes/Media/My%20Clip.mov</pathurl></file></"
            "clipitem><transitionitem>" } });
    const QStringList lines = changes(base, added);
    EXPECT_TRUE(lines.contains(QStringLiteral("New video clip My Clip.mov added for sequence Main at 01:00:00;00")))
        << qPrintable(lines.join(u'\n'));

    const QByteArray generator = edited(base,
        { { "<track>\n\t\t\t\t<transitionitem>",
            "<track><generatoritem id=\"gen\"><name>Slug</name><start>30</start></generatoritem><transitionitem>" } });
    EXPECT_TRUE(
        changes(base, generator).contains(QStringLiteral("New generator Slug added to sequence Main at 01:00:01;00")));
    const QByteArray marker = edited(base,
        { { "<track>\n\t\t\t\t<transitionitem>",
            "<track><marker><name>Cue</name><in>30</in></marker><transitionitem>" } });
    EXPECT_TRUE(
        changes(base, marker).contains(QStringLiteral("New marker Cue added for sequence Main at 01:00:01;00")));
}

TEST_F(QFChangeListTest, RemovedItemsAreReportedOnce)
{
    const QByteArray markp = fixture("markp.xml");
    const qsizetype from = markp.indexOf("<clipitem id=\"marc_phillipson_032310 \">");
    const qsizetype to = markp.indexOf("</clipitem>", from) + qsizetype(qstrlen("</clipitem>"));
    QByteArray without = markp;
    without.remove(from, to - from);
    // Its only uuid stands in an item history; its id still tells it.
    EXPECT_EQ(changes(markp, without), QStringList { QStringLiteral("Clip marc_phillipson_032310 removed") });

    // Without an id, a uuid only in an item history tells nothing.
    const QByteArray noId = edited(markp, { { "<clipitem id=\"marc_phillipson_032310 \">", "<clipitem>" } });
    QByteArray noIdWithout = noId;
    noIdWithout.remove(from, noId.indexOf("</clipitem>", from) + qsizetype(qstrlen("</clipitem>")) - from);
    EXPECT_TRUE(changes(noId, noIdWithout).filter(QStringLiteral("removed")).isEmpty());

    // A clip with a uuid of its own and an id is one item.
    const QByteArray own = edited(
        markp, { { "<name>marc_phillipson_032310</name>", "<uuid>OWN-1</uuid><name>marc_phillipson_032310</name>" } });
    QByteArray ownWithout = own;
    ownWithout.remove(from, own.indexOf("</clipitem>", from) + qsizetype(qstrlen("</clipitem>")) - from);
    // (The walk then compares the neighbours position by position, which may say more.)
    EXPECT_EQ(changes(own, ownWithout).count(QStringLiteral("Clip marc_phillipson_032310 removed")), 1);
}

// Each removed uuid is looked for as the first uuid element with that text, and each removed id as the first
// element carrying it, whatever the texts are made of: non-ASCII texts, repeated ids, a uuid whose first
// element stands in an item history, a uuid element of several texts.
TEST_F(QFChangeListTest, RemovedItemsAreFoundByTheirFirstElements)
{
    const QByteArray base = QByteArray("<xmeml version=\"4\"><project><name>P</name><children>")
        + "<bin id=\"bin \xc3\xa9 1\"><uuid>B-1</uuid><name>Rushes</name></bin>"
        + "<clip id=\"c1\"><uuid>U-1</uuid><name>First</name><itemhistory><uuid>U-9</uuid></itemhistory></clip>"
        + "<clip id=\"c2\"><itemhistory><uuid>U-2</uuid></itemhistory><name>Second</name></clip>"
        + "<clip id=\"c3\"><uuid>U-2</uuid><name>Third</name></clip>"
        + "<clip id=\"c4\"><uuid>\xc3\x9c-4</uuid><name>Fourth</name><file id=\"f "
          "4\"><name>four.mov</name></file></clip>"
        + "<clip id=\"c1\"><uuid>U-5</uuid><name>Again</name></clip>"
        + "<clip id=\"c6\"><uuid>U-6<x/>tail</uuid><name>Sixth</name></clip>" + "</children></project></xmeml>";
    const QByteArray emptied = "<xmeml version=\"4\"><project><name>P</name><children></children></project></xmeml>";
    EXPECT_EQ(changes(base, emptied),
        (QStringList { QStringLiteral("Bin Rushes removed"), QStringLiteral("Clip First removed"),
            QStringLiteral("Clip Fourth removed"), QStringLiteral("Clip Again removed"),
            QStringLiteral("Clip Second removed"), QStringLiteral("Clip Third removed"),
            QStringLiteral("File four.mov removed"), QStringLiteral("Clip Sixth removed") }));
}

TEST_F(QFChangeListTest, CancellationNeedsAWindow)
{
    const auto base = parse(fixture("markp.xml"));
    const auto doc = parse(edited(fixture("markp.xml"), { { "<out>44275</out>", "<out>44305</out>" } }));
    int ended = 0;
    engine.setEndProgressHandler([&ended] { ++ended; });
    engine.setProcessingCancelled(true);
    EXPECT_TRUE(engine.changeListForFCPXMLDoc(doc.get(), base.get(), uuids(*base), ids(*base), uuids(*doc), ids(*doc)));
    EXPECT_EQ(ended, 0);
    engine.setHasGUI(true);
    EXPECT_FALSE(
        engine.changeListForFCPXMLDoc(doc.get(), base.get(), uuids(*base), ids(*base), uuids(*doc), ids(*doc)));
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(logText().contains(QStringLiteral("Change log generation was cancelled")));
    const pugi::xml_node out = QFXMLParser::nodeForQuery(QStringLiteral("//clipitem/out"), *doc).node();
    EXPECT_TRUE(engine
                    .changeStringFromFCPNode(out, QStringLiteral("out"), QStringLiteral("44305"), out.parent(),
                        QStringLiteral("clipitem"), out, QStringLiteral("44275"), {}, {})
                    .isNull());
    EXPECT_EQ(ended, 2);
}

TEST_F(QFChangeListTest, SmallHelpers)
{
    EXPECT_TRUE(engine.capitalizeFirstLetter(QString()).isNull());
    EXPECT_EQ(engine.capitalizeFirstLetter(QStringLiteral("")), QStringLiteral(""));
    EXPECT_EQ(engine.capitalizeFirstLetter(QStringLiteral("x")), QStringLiteral("X"));
    EXPECT_EQ(engine.capitalizeFirstLetter(QStringLiteral("pixelAspect")), QStringLiteral("PixelAspect"));
    const auto doc = parse("<xmeml><clipitem><itemhistory><uuid>H1</uuid><uuid>H2</uuid></itemhistory></clipitem>"
                           "<bin><clip><itemhistory><uuid></uuid></itemhistory></clip><clip><itemhistory><uuid>D</"
                           "uuid></itemhistory></clip></bin>"
                           "<generatorItem/></xmeml>");
    const pugi::xml_node root = doc->document_element();
    EXPECT_EQ(engine.typeOfNode(root.child("clipitem")), QStringLiteral("Clip"));
    EXPECT_EQ(engine.typeOfNode(root.child("generatorItem")), QStringLiteral("Generatoritem"));
    EXPECT_TRUE(engine.typeOfNode(root.child("clipitem").first_child().first_child().first_child()).isNull());
    EXPECT_EQ(engine.uuidHistoryForNode(root.child("clipitem")), QStringList { QStringLiteral("H1") });
    EXPECT_EQ(engine.uuidHistoryForNode(root.child("bin")), QStringList { QStringLiteral("D") });
    const pugi::xml_node uuid = root.child("clipitem").child("itemhistory").child("uuid");
    EXPECT_EQ(engine.nextBaseNode(uuid, uuid.next_sibling()), uuid.parent());
    EXPECT_EQ(engine.nextBaseNode(uuid, root.child("bin")), root.child("bin"));
    EXPECT_EQ(engine.nextBaseNode(uuid.next_sibling(), uuid.next_sibling()), uuid.first_child());
}

TEST_F(QFChangeListTest, HostileInputGivesAnErrorOrAList)
{
    QString error;
    const QByteArray markp = fixture("markp.xml");
    for (const qsizetype length : { qsizetype(10), markp.size() / 3, markp.size() - 12 }) {
        SCOPED_TRACE(length);
        EXPECT_FALSE(QFXMLParser::documentFromData(markp.left(length), &error));
    }
    const QByteArray deep = QByteArray("<xmeml><sequence><uuid>S</uuid>") + QByteArray("<a>").repeated(100000)
        + QByteArray("</a>").repeated(100000) + QByteArray("</sequence></xmeml>");
    EXPECT_FALSE(QFXMLParser::documentFromData(deep, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("nested"))) << qPrintable(error);

    // Given such documents anyway, the walk neither recurses nor compares a chain again at every level.
    QByteArray deepB = deep;
    deepB.replace("<a>", "<b>").replace("</a>", "</b>");
    pugi::xml_document a, b;
    ASSERT_TRUE(a.load_buffer(deep.constData(), size_t(deep.size())));
    ASSERT_TRUE(b.load_buffer(deepB.constData(), size_t(deepB.size())));
    EXPECT_EQ(
        engine.changeListForFCPXMLDoc(&b, &a, {}, {}, {}, {}), QStringList { QStringLiteral("No notable changes") });
    pugi::xml_document copy;
    ASSERT_TRUE(copy.load_buffer(deep.constData(), size_t(deep.size())));
    EXPECT_EQ(
        engine.changeListForFCPXMLDoc(&copy, &a, {}, {}, {}, {}), QStringList { QStringLiteral("No notable changes") });

    // A 50 MB attribute value.
    const QByteArray huge = QByteArray("<xmeml><sequence id=\"") + QByteArray(50 * 1024 * 1024, 'x')
        + QByteArray("\"><uuid>S</uuid><name>Main</name></sequence></xmeml>");
    const QByteArray small = "<xmeml><sequence id=\"s\"><uuid>S</uuid><name>Main</name></sequence></xmeml>";
    EXPECT_EQ(changes(small, huge), QStringList { QStringLiteral("Sequence Main removed") });
    EXPECT_EQ(changes(huge, small).size(), 1);

    // Invalid UTF-8, documents that are not projects, an empty root.
    EXPECT_FALSE(changes(markp, edited(markp, { { "Sequence 1", "Seq\xff\xfe\xc3" } })).isEmpty());
    EXPECT_EQ(changes("<html><body><p>a</p></body></html>", "<html><body><p>b</p><p>c</p></body></html>"),
        QStringList { QStringLiteral("P changed to b") });
    EXPECT_FALSE(changes("<html><body><p>a</p></body></html>", "<html><head/><body><p>b</p></body></html>").isEmpty());
    EXPECT_FALSE(changes(markp, "<svg><g><rect/></g></svg>").isEmpty());
    EXPECT_EQ(changes("<xmeml/>", "<xmeml/>"), QStringList { QStringLiteral("No notable changes") });

    // An empty sequence where another item stood is passed, not compared again and again.
    EXPECT_FALSE(changes("<xmeml><project><name>P</name><foo/><sequence><name>S</name></sequence></project></xmeml>",
        "<xmeml><project><name>P</name><sequence/><bar/></project></xmeml>")
                     .isEmpty());
}

namespace {

// The edited fixtures of tests/fixtures/changelists, by the names their expected lists use.
struct EditedFixture {
    const char *name;
    const char *fixture;
    Edits edits;
};

std::vector<EditedFixture> editedFixtures()
{
    const char *const newItems = "<track><clipitem id=\"new 1\"><name>clip</name><in>0</in><out>30</out>"
                                 "<start>0</start><end>30</end><file id=\"new file\"><pathurl>"
                                 "file://localhost/Volumes/Media/My%20Clip.mov</pathurl></file></clipitem>"
                                 "<generatoritem id=\"gen\"><name>Slug</name><start>30</start></generatoritem>"
                                 "<marker><name>Cue</name><in>30</in></marker><transitionitem>";
    const char *const newFilter = "<filter><effect><name>Gaussian Blur</name><effectid>x</effectid></effect></filter>"
                                  "<sourcetrack>";
    return {
        { "markp-points", "markp.xml",
            { { "<in>0</in>", "<in>30</in>" }, { "<out>44275</out>", "<out>44305</out>" },
                { "<start>0</start>", "<start>10</start>" },
                { "<duration>44281</duration>", "<duration>44311</duration>" } } },
        { "markp-settings", "markp.xml",
            { { "<width>1440</width>", "<width>1920</width>" },
                { "<enabled>TRUE</enabled>", "<enabled>FALSE</enabled>" }, { "<value>24</value>", "<value>36</value>" },
                { "<good>FALSE</good>", "<good>TRUE</good>" },
                { "<alignment>start</alignment>", "<alignment>end</alignment>" } } },
        { "markp-items", "markp.xml",
            { { "<track>\n\t\t\t\t<transitionitem>", newItems }, { "<sourcetrack>", newFilter } } },
        { "fcp_sample-clips", "fcp_sample.xml",
            { { "<out>462</out>", "<out>500</out>" }, { "<end>50</end>", "<end>88</end>" },
                { "<name>DYR18233_01</name>", "<name>Fly close-up</name>" },
                { "<ntsc>FALSE</ntsc>", "<ntsc>TRUE</ntsc>" } } },
        { "premiere-levels", "premiere_cs6_lydtest.xml",
            { { "<value>0.99763</value>", "<value>0.5</value>" }, { "<end>6556</end>", "<end>6600</end>" },
                { "<name>Nokas.2010.NORWEGIAN.DVDSCR.XviD-NOKAS.avi</name>", "<name>Nokas cut</name>" },
                { "<locked>FALSE</locked>", "<locked>TRUE</locked>" } } },
        { "premiere-renamed", "premiere_cs6_lydtest.xml",
            { { "<name>Sequence 01</name>", "<name>Lydtest</name>" }, { "<end>6556</end>", "<end>6600</end>" } } },
        { "hiero-remap", "hiero_xml_export.xml",
            { { "<value>0.25</value>", "<value>0.5</value>" }, { "<out>1055.0</out>", "<out>1100.0</out>" },
                { "<name>A160C005_171213_R0MN</name>", "<name>A160C005 graded</name>" } } },
    };
}

QByteArray expectedChangeList(const QString &oldName, const QString &newName)
{
    QFile file(fixturePath(QStringLiteral("changelists/%1__%2.txt").arg(oldName, newName)));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << qPrintable(file.fileName());
    return file.readAll();
}

} // namespace

// Every fixture against every other, and each edited fixture against its original both ways, give the
// lists kept in tests/fixtures/changelists byte for byte, as tombrel diff prints them.
TEST_F(QFChangeListTest, ChangeListsOfTheFixtures)
{
    const auto listOf = [this](const QByteArray &oldText, const QByteArray &newText) {
        const auto base = parse(oldText);
        const auto doc = parse(newText);
        if (!base || !doc)
            return QByteArray("<unreadable>");
        const auto list = engine.changeListForFCPXMLDoc(doc.get(), base.get(), QFXMLParser::uuidList(*base),
            QFXMLParser::idList(*base), QFXMLParser::uuidList(*doc), QFXMLParser::idList(*doc));
        if (!list)
            return QByteArray("<cancelled>");
        QByteArray text;
        for (const QString &line : *list)
            text += line.toUtf8() + '\n';
        return text;
    };
    const auto check
        = [&](const QString &oldName, const QByteArray &oldText, const QString &newName, const QByteArray &newText) {
              SCOPED_TRACE(qPrintable(oldName + QStringLiteral(" -> ") + newName));
              EXPECT_EQ(listOf(oldText, newText), expectedChangeList(oldName, newName));
          };

    const char *const fixtures[]
        = { "fcp_sample.xml", "hiero_xml_export.xml", "markp.xml", "premiere_cs6_lydtest.xml" };
    const auto stem = [](const char *name) { return QString::fromLatin1(name).chopped(4); };
    int compared = 0;
    for (const char *oldFixture : fixtures) {
        for (const char *newFixture : fixtures) {
            if (qstrcmp(oldFixture, newFixture) == 0)
                continue;
            check(stem(oldFixture), fixture(oldFixture), stem(newFixture), fixture(newFixture));
            ++compared;
        }
    }
    for (const EditedFixture &variant : editedFixtures()) {
        const QByteArray original = fixture(variant.fixture);
        const QByteArray changed = edited(original, variant.edits);
        check(stem(variant.fixture), original, QString::fromLatin1(variant.name), changed);
        check(QString::fromLatin1(variant.name), changed, stem(variant.fixture), original);
        compared += 2;
    }
    EXPECT_EQ(compared, 26);
}

TEST_F(QFChangeListTest, OlderTextComesFromTheOlderNodeUnlessGiven)
{
    const auto doc = parse("<xmeml><bin><uuid>B1</uuid><name>Footage</name></bin>"
                           "<sequence><name>Main</name><duration>60</duration></sequence></xmeml>");
    const auto base = parse("<xmeml><bin><uuid>B1</uuid><name>Rushes</name></bin>"
                            "<sequence><name>Main</name><duration>30</duration></sequence></xmeml>");
    ASSERT_TRUE(doc && base);
    const pugi::xml_node name = doc->document_element().child("bin").child("name");
    const pugi::xml_node oldName = base->document_element().child("bin").child("name");
    const QStringList oldUUIDs { QStringLiteral("B1") };
    EXPECT_EQ(engine.changeStringFromFCPNode(name, QStringLiteral("name"), QStringLiteral("Footage"), name.parent(),
                  QStringLiteral("bin"), oldName, QString(), oldUUIDs, {}),
        QStringLiteral("Rushes bin name changed to Footage"));
    EXPECT_EQ(engine.changeStringFromFCPNode(name, QStringLiteral("name"), QStringLiteral("Footage"), name.parent(),
                  QStringLiteral("bin"), oldName, QStringLiteral("Cuts"), oldUUIDs, {}),
        QStringLiteral("Cuts bin name changed to Footage"));
    EXPECT_EQ(engine.changeStringFromFCPNode(name, QStringLiteral("name"), QStringLiteral("Footage"), name.parent(),
                  QStringLiteral("bin"), oldName, QString(), {}, {}),
        QStringLiteral("New bin added: Footage"));

    const pugi::xml_node duration = doc->document_element().child("sequence").child("duration");
    const pugi::xml_node oldDuration = base->document_element().child("sequence").child("duration");
    EXPECT_EQ(engine.changeStringFromFCPNode(duration, QStringLiteral("duration"), QStringLiteral("60"),
                  duration.parent(), QStringLiteral("sequence"), oldDuration, QString(), {}, {}),
        QStringLiteral("Main sequence duration changed from 01:00:01;00 to 01:00:02;00 (+30)"));
}
