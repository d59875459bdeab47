// Change lines of MLT projects over real files saved by Kdenlive (tests/fixtures/mlt/SOURCES.md), over
// a pair written by melt and a pair in Shotcut's layout, and over pairs made from the real files by one
// edit of the kind a user makes, written into the XML here as the editor writes it.

#include "engine/QFMLTChangeList.h"

#include "engine/QFXMLParser.h"
#include "tests/support/QFTempHome.h"

#include <QFile>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

QByteArray fixture(const char *name)
{
    QFile file(fixturePath(QStringLiteral("mlt/") + QString::fromLatin1(name)));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

std::optional<QFMLTModel> modelOf(const QByteArray &xml)
{
    QString error;
    const auto document = QFXMLParser::documentFromData(xml, &error);
    EXPECT_TRUE(document) << qPrintable(error);
    if (!document)
        return std::nullopt;
    auto model = QFMLTModel::fromDocument(*document, &error);
    EXPECT_TRUE(model) << qPrintable(error);
    return model;
}

QStringList linesFor(const QByteArray &older, const QByteArray &newer)
{
    const auto a = modelOf(older);
    const auto b = modelOf(newer);
    if (!a || !b)
        return { QStringLiteral("(unreadable)") };
    return QFMLTChangeList::changeLines(*a, *b);
}

struct Edit {
    const char *after; // the text the edit looks for first, empty to start at the top
    const char *from;
    const char *to;
};

// The text with each edit made once: `from` is replaced where it first follows `after`. An edit whose text
// is not there fails the test, so that a case always tests the edit it names.
QByteArray edited(QByteArray text, const std::vector<Edit> &edits)
{
    for (const Edit &edit : edits) {
        const qsizetype start = *edit.after ? text.indexOf(edit.after) : 0;
        EXPECT_GE(start, 0) << edit.after;
        const qsizetype at = start < 0 ? -1 : text.indexOf(edit.from, start);
        EXPECT_GE(at, 0) << edit.from;
        if (at >= 0)
            text.replace(at, qsizetype(qstrlen(edit.from)), edit.to);
    }
    return text;
}

QByteArray everywhere(QByteArray text, const char *from, const char *to)
{
    EXPECT_TRUE(text.contains(from)) << from;
    return text.replace(from, to);
}

QStringList list(std::initializer_list<const char *> lines)
{
    QStringList result;
    for (const char *line : lines)
        result << QString::fromUtf8(line);
    return result;
}

struct Case {
    const char *name;
    QByteArray newer;
    QStringList lines;
};

void expectCases(const QByteArray &base, const std::vector<Case> &cases)
{
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(linesFor(base, c.newer), c.lines);
    }
}

} // namespace

TEST(QFMLTChangeListTest, RealPairsSavedByKdenlive)
{
    SCOPED_TRACE(
        "a Sepia filter added to two sequences; bin ids renumbered, ids reshuffled, Sequence 1 written three times");
    EXPECT_EQ(
        linesFor(fixture("kdenlive/sequences.v1-23.08.4.kdenlive"), fixture("kdenlive/sequences.v2-24.01.95.kdenlive")),
        list({ "Filter sepia added to sequence Sequence 1", "Filter sepia added to sequence Sequence 2" }));
    SCOPED_TRACE("render settings only");
    EXPECT_EQ(
        linesFor(fixture("kdenlive/transform.v1.kdenlive"), fixture("kdenlive/transform.v2.kdenlive")), QStringList());
    SCOPED_TRACE("alpha_over of both luma mixes from 1 to 0");
    EXPECT_EQ(linesFor(fixture("kdenlive/mix-luma.v1.kdenlive"), fixture("kdenlive/mix-luma.v2.kdenlive")),
        list(
            { "Transition luma between clip Color Clip and clip Color Clip on track V1: alpha_over changed from 1 to 0",
                "Transition luma between clip Color Clip and clip Color Clip on track V1: alpha_over changed from 1 to "
                "0" }));
    for (const char *name :
        { "kdenlive/audio-mix.kdenlive", "kdenlive/effect-zones.kdenlive", "kdenlive/qtblend-media.kdenlive",
            "kdenlive/qtblend-transition.kdenlive", "kdenlive/otio-adapter.kdenlive_example_v191180.kdenlive",
            "kdenlive/otio-adapter.kdenlive_mixes_markers.kdenlive", "shotcut/shotcut.v1.mlt", "melt/melt.v1.mlt" }) {
        SCOPED_TRACE(name);
        EXPECT_EQ(linesFor(fixture(name), fixture(name)), QStringList()) << "a project against itself";
    }
}

TEST(QFMLTChangeListTest, PairWrittenByMelt)
{
    // melt.v1.mlt: melt -profile atsc_1080p_25 colour:red in=0 out=49 colour:blue in=0 out=74 colour:green in=0 out=24
    //     -track colour:white in=0 out=99 -consumer xml:melt.v1.mlt
    // melt.v2.mlt: the same with colour:yellow in=0 out=24 after red and -attach-clip sepia after green; melt numbers
    // its producers anew.
    EXPECT_EQ(linesFor(fixture("melt/melt.v1.mlt"), fixture("melt/melt.v2.mlt")),
        list({ "Clip yellow added to track V1 at 00:00:02:00",
            "Clip blue and the 1 clips after it on track V1 moved (+25)",
            "Filter sepia added to clip green on track V1" }));
}

TEST(QFMLTChangeListTest, PairInShotcutsLayout)
{
    // shotcut.v1.mlt is written in the layout Shotcut 22.12 saves (its own producer for each timeline clip, the
    // playlist "background", markers as nested properties of the timeline); shotcut.v2.mlt adds a Gaussian
    // blur to the first clip and a marker at 12 seconds, as Shotcut writes them.
    EXPECT_EQ(linesFor(fixture("shotcut/shotcut.v1.mlt"), fixture("shotcut/shotcut.v2.mlt")),
        list({ "Filter blur_gaussian_av added to clip A.mp4 on track V1", "Marker Chapter 2 added at 00:00:12:00" }));

    const QByteArray base = fixture("shotcut/shotcut.v1.mlt");
    expectCases(base,
        {
            { "muted and locked",
                edited(base,
                    { { "", "<track producer=\"playlist1\" hide=\"video\"/>",
                          "<track producer=\"playlist1\" hide=\"both\"/>" },
                        { "", "<property name=\"shotcut:name\">V1</property>",
                            "<property name=\"shotcut:name\">V1</property>\n    <property "
                            "name=\"shotcut:lock\">1</property>" } }),
                list({ "Track V1 locked", "Track A1 muted" }) },
            { "a video track's audio muted and its video hidden",
                edited(base,
                    { { "", "<track producer=\"playlist0\"/>", "<track producer=\"playlist0\" hide=\"both\"/>" } }),
                list({ "Track V1 muted", "Track V1 hidden" }) },
            { "renamed",
                edited(base,
                    { { "", "<property name=\"shotcut:name\">A1</property>",
                        "<property name=\"shotcut:name\">Music</property>" } }),
                list({ "Track A1 renamed to Music" }) },
            { "a dissolve between B and C: both clips overlap by a second",
                edited(base,
                    { { "", "<entry producer=\"chain1\" in=\"00:00:02.000\" out=\"00:00:11.960\"/>",
                          "<entry producer=\"chain1\" in=\"00:00:02.000\" out=\"00:00:10.960\"/>\n"
                          "    <entry producer=\"tractor1\" in=\"00:00:00.000\" out=\"00:00:00.960\"/>" },
                        { "", "<entry producer=\"chain2\" in=\"00:00:00.000\" out=\"00:00:09.960\"/>",
                            "<entry producer=\"chain2\" in=\"00:00:01.000\" out=\"00:00:09.960\"/>" },
                        { "", "  <playlist id=\"playlist0\">",
                            "  <tractor id=\"tractor1\" in=\"00:00:00.000\" out=\"00:00:00.960\">\n"
                            "    <property name=\"shotcut:transition\">lumaMix</property>\n"
                            "    <track producer=\"chain1\" in=\"00:00:11.000\" out=\"00:00:11.960\"/>\n"
                            "    <track producer=\"chain2\" in=\"00:00:00.000\" out=\"00:00:00.960\"/>\n"
                            "    <transition id=\"transition3\" out=\"00:00:00.960\">\n"
                            "      <property name=\"a_track\">0</property>\n"
                            "      <property name=\"b_track\">1</property>\n"
                            "      <property name=\"factory\">loader</property>\n"
                            "      <property name=\"mlt_service\">luma</property>\n"
                            "      <property name=\"alpha_over\">1</property>\n"
                            "    </transition>\n"
                            "    <transition id=\"transition4\" out=\"00:00:00.960\">\n"
                            "      <property name=\"a_track\">0</property>\n"
                            "      <property name=\"b_track\">1</property>\n"
                            "      <property name=\"mlt_service\">mix</property>\n"
                            "    </transition>\n"
                            "  </tractor>\n"
                            "  <playlist id=\"playlist0\">" } }),
                list({ "Out Point of clip B.mp4 on track V1 changed from 00:00:11:24 to 00:00:10:24 (-25)",
                    "Transition luma added between clip B.mp4 and clip C.mp4 on track V1",
                    "In Point of clip C.mp4 on track V1 changed from 00:00:00:00 to 00:00:01:00 (+25)" }) },
            { "the marker renamed",
                edited(base,
                    { { "", "<property name=\"text\">Chapter 1</property>",
                        "<property name=\"text\">Opening</property>" } }),
                list({ "Marker Chapter 1 renamed to Opening" }) },
        });
}

TEST(QFMLTChangeListTest, SingleEditsOfAKdenliveProject)
{
    // Kdenlive 19.11's layout: a producer of its own for each track a bin clip is used on, the clip's bin id on
    // each entry. V1 is "Wide", V2 "Close"; Close 1 lies on V2 from 00:00:11:17, Close 2 from 00:00:22:01.
    const QByteArray base = fixture("kdenlive/otio-adapter.kdenlive_example_v191180.kdenlive");
    const char *close1 = "<entry producer=\"producer11\" in=\"00:00:03.800\" out=\"00:00:10.400\">";
    expectCases(base,
        {
            { "a clip trimmed at its end, the clip after it left in place",
                edited(base,
                    { { close1, "<blank length=\"00:00:03.720\"/>", "<blank length=\"00:00:04.720\"/>" },
                        { "", close1, "<entry producer=\"producer11\" in=\"00:00:03.800\" out=\"00:00:09.400\">" } }),
                list({ "Out Point of clip Close 1 on track Close changed from 00:00:10:10 to 00:00:09:10 (-25)" }) },
            { "a clip trimmed at its end with a ripple",
                edited(base,
                    { { "", close1, "<entry producer=\"producer11\" in=\"00:00:03.800\" out=\"00:00:09.400\">" } }),
                list({ "Out Point of clip Close 1 on track Close changed from 00:00:10:10 to 00:00:09:10 (-25)",
                    "Clip Close 2 on track Close moved from 00:00:22:01 to 00:00:21:01 (-25)" }) },
            { "a clip moved to another track",
                edited(base,
                    { { "<playlist id=\"playlist8\">", "<blank length=\"00:00:08.720\"/>",
                          "<blank length=\"00:00:19.080\"/>" },
                        { "<playlist id=\"playlist8\">",
                            "  <entry producer=\"producer11\" in=\"00:00:03.800\" out=\"00:00:10.400\">\n"
                            "   <property name=\"kdenlive:id\">5</property>\n"
                            "  </entry>\n"
                            "  <blank length=\"00:00:03.720\"/>\n",
                            "" },
                        { "<playlist id=\"playlist6\">", " </playlist>",
                            "  <blank length=\"00:00:02.000\"/>\n"
                            "  <entry producer=\"producer11\" in=\"00:00:03.800\" out=\"00:00:10.400\">\n"
                            "   <property name=\"kdenlive:id\">5</property>\n"
                            "  </entry>\n"
                            " </playlist>" } }),
                list({ "Clip Close 1 moved from track Close to track Wide at 00:00:35:06" }) },
            { "a clip split in two",
                edited(base,
                    { { "<playlist id=\"playlist6\">",
                        "<entry producer=\"producer10\" in=\"00:00:20.320\" out=\"00:00:35.200\">",
                        "<entry producer=\"producer10\" in=\"00:00:20.320\" out=\"00:00:26.960\">\n"
                        "   <property name=\"kdenlive:id\">4</property>\n"
                        "  </entry>\n"
                        "  <entry producer=\"producer10\" in=\"00:00:27.000\" out=\"00:00:35.200\">" } }),
                list({ "Clip Wide on track Wide split at 00:00:25:00" }) },
            { "a clip replaced by another bin clip",
                edited(base,
                    { { "<playlist id=\"playlist6\">",
                        "<entry producer=\"producer0\" in=\"00:00:00.000\" out=\"00:00:02.920\">\n   <property "
                        "name=\"kdenlive:id\">7</property>",
                        "<entry producer=\"producer6\" in=\"00:00:00.000\" out=\"00:00:02.920\">\n   <property "
                        "name=\"kdenlive:id\">10</property>" } }),
                list({ "Clip Dark Blue on track Wide replaced by Placeholder: Unsupported clip type" }) },
            { "a filter added",
                edited(base,
                    { { close1, "</entry>",
                        " <filter id=\"filter99\">\n    <property name=\"u\">75</property>\n    <property "
                        "name=\"v\">150</property>\n"
                        "    <property name=\"mlt_service\">sepia</property>\n    <property "
                        "name=\"kdenlive_id\">sepia</property>\n   </filter>\n  </entry>" } }),
                list({ "Filter sepia added to clip Close 1 on track Close" }) },
            { "a filter removed",
                edited(base,
                    { { "<playlist id=\"playlist8\">",
                        "   <filter id=\"filter15\" out=\"00:00:01.280\">\n    <property name=\"start\">0</property>\n"
                        "    <property name=\"mlt_service\">brightness</property>\n    <property "
                        "name=\"kdenlive_id\">fade_from_black</property>\n"
                        "    <property name=\"end\">1</property>\n    <property name=\"alpha\">-1</property>\n   "
                        "</filter>\n",
                        "" } }),
                list(
                    { "Filter fade_from_black removed from clip Placeholder: Unsupported clip type on track Close" }) },
            { "a filter's parameter changed",
                edited(base,
                    { { "<filter id=\"filter14\"", "<property name=\"end\">1</property>",
                        "<property name=\"end\">0.5</property>" } }),
                list({ "Filter fade_from_black of clip Dark Blue on track Wide: end changed from 1 to 0.5" }) },
            { "a filter's parameter given a long value",
                edited(base,
                    { { "<filter id=\"filter14\"", "<property name=\"alpha\">-1</property>",
                        "<property name=\"alpha\">0.12345678901234567890123456789012345678901234</property>" } }),
                list({ "Filter fade_from_black of clip Dark Blue on track Wide: alpha changed from -1 to "
                       "0.12345678901234567890123456789012345678\u2026" }) },
            { "a filter turned off",
                edited(base,
                    { { "<filter id=\"filter16\">", "<property name=\"start\">1</property>",
                        "<property name=\"start\">1</property>\n    <property name=\"disable\">1</property>" } }),
                list({ "Filter brightness of clip Wide on track Wide turned off" }) },
            { "a filter's keyframes changed",
                edited(base, { { "<filter id=\"filter16\">", "00:00:08.440=2.02899", "00:00:09.440=2.5" } }),
                list({ "Keyframes of filter brightness of clip Wide on track Wide changed" }) },
            { "a fade made longer",
                edited(base,
                    { { "", "<filter id=\"filter14\" out=\"00:00:00.360\">",
                        "<filter id=\"filter14\" out=\"00:00:01.360\">" } }),
                list({ "Filter fade_from_black of clip Dark Blue on track Wide: out changed from 00:00:00:09 to "
                       "00:00:01:09" }) },
            { "a track renamed",
                edited(base,
                    { { "", "<property name=\"kdenlive:track_name\">Close</property>",
                        "<property name=\"kdenlive:track_name\">Closeups</property>" } }),
                list({ "Track Close renamed to Closeups" }) },
            { "an audio track muted",
                edited(
                    base, { { "", "<track producer=\"tractor0\"/>", "<track hide=\"both\" producer=\"tractor0\"/>" } }),
                list({ "Track Ambience muted" }) },
            { "a video track hidden",
                edited(
                    base, { { "", "<track producer=\"tractor3\"/>", "<track hide=\"both\" producer=\"tractor3\"/>" } }),
                list({ "Track Wide hidden" }) },
            { "a track locked",
                edited(base,
                    { { "", "<property name=\"kdenlive:track_name\">Close</property>",
                        "<property name=\"kdenlive:track_name\">Close</property>\n  <property "
                        "name=\"kdenlive:locked_track\">1</property>" } }),
                list({ "Track Close locked" }) },
            { "a video track added above the others",
                edited(base,
                    { { "", " <tractor title=\"Anonymous Submission\" id=\"tractor5\"",
                          " <playlist id=\"playlist90\"/>\n <playlist id=\"playlist91\"/>\n <tractor id=\"tractor90\" "
                          "in=\"00:00:00.000\">\n"
                          "  <track hide=\"audio\" producer=\"playlist90\"/>\n  <track hide=\"audio\" "
                          "producer=\"playlist91\"/>\n </tractor>\n"
                          " <tractor title=\"Anonymous Submission\" id=\"tractor5\"" },
                        { "", "<track producer=\"tractor4\"/>",
                            "<track producer=\"tractor4\"/>\n  <track producer=\"tractor90\"/>" } }),
                list({ "Track V3 added" }) },
            { "a bin folder added and a clip moved into it",
                edited(base,
                    { { "", "<property name=\"kdenlive:folder.-1.9\">day 2</property>",
                          "<property name=\"kdenlive:folder.-1.9\">day 2</property>\n  <property "
                          "name=\"kdenlive:folder.-1.11\">Sound</property>" },
                        { "<producer title=\"Anonymous Submission\" id=\"producer4\"",
                            "<property name=\"kdenlive:folderid\">-1</property>",
                            "<property name=\"kdenlive:folderid\">11</property>" } }),
                list({ "New bin Sound added", "Clip Music moved to bin Sound" }) },
            { "a bin folder renamed",
                edited(base,
                    { { "", "<property name=\"kdenlive:folder.-1.9\">day 2</property>",
                        "<property name=\"kdenlive:folder.-1.9\">Day Two</property>" } }),
                list({ "Bin day 2 renamed to Day Two" }) },
            { "a bin clip renamed",
                edited(base,
                    { { "", "<property name=\"kdenlive:clipname\">Music</property>",
                        "<property name=\"kdenlive:clipname\">Score</property>" } }),
                list({ "Clip Music renamed to Score" }) },
            { "the project's profile and notes",
                edited(base,
                    { { "", "description=\"DV/DVD PAL\"", "description=\"HD 1080p 25 fps\"" },
                        { "", "<property name=\"kdenlive:documentnotes\"/>",
                            "<property name=\"kdenlive:documentnotes\">Ask for the music rights</property>" } }),
                list({ "Project profile changed from DV/DVD PAL to HD 1080p 25 fps", "Project notes changed" }) },
        });
}

TEST(QFMLTChangeListTest, AClipInsertedInTheMiddleIsOneLineAndTheClipsItPushedOneMore)
{
    // Every clip of this project shows the same bin clip: they are told apart by their source times and order.
    const QByteArray base = fixture("kdenlive/otio-adapter.kdenlive_mixes_markers.kdenlive");
    const QByteArray inserted = edited(base,
        { { "<playlist id=\"playlist2\">", "  <entry producer=\"producer3\" in=\"00:01:06.560\" out=\"00:01:32.440\">",
            "  <entry producer=\"producer3\" in=\"00:00:02.000\" out=\"00:00:03.960\">\n   <property "
            "name=\"kdenlive:id\">2</property>\n  </entry>\n"
            "  <entry producer=\"producer3\" in=\"00:01:06.560\" out=\"00:01:32.440\">" } });
    EXPECT_EQ(linesFor(base, inserted),
        list({ "Clip SomeNiceContent added to track A2 at 00:00:52:22",
            "Clip SomeNiceContent and the 4 clips after it on track A2 moved (+50)" }));
}

TEST(QFMLTChangeListTest, MarkersOfClipsAndOfTheTimeline)
{
    const QByteArray base = edited(fixture("kdenlive/otio-adapter.kdenlive_mixes_markers.kdenlive"),
        { { "", "<property name=\"kdenlive:docproperties.guides\">[\n]",
            "<property name=\"kdenlive:docproperties.guides\">[{\"comment\": \"Intro\", \"pos\": 0, \"type\": 0}, "
            "{\"comment\": \"Chapter 2\", \"pos\": 300, \"type\": 0}]" } });
    expectCases(base,
        {
            // Kdenlive writes a clip's markers on each of its copies.
            { "a clip marker renamed", everywhere(base, "\"comment\": \"Lila\"", "\"comment\": \"Purple\""),
                list({ "Marker Lila of clip SomeNiceContent renamed to Purple" }) },
            { "a clip marker moved", everywhere(base, "\"pos\": 2899", "\"pos\": 2924"),
                list({ "Marker Orange of clip SomeNiceContent moved from 00:01:55:24 to 00:01:56:24 (+25)" }) },
            { "a guide added",
                edited(base,
                    { { "", "{\"comment\": \"Chapter 2\"",
                        "{\"comment\": \"Outro\", \"pos\": 1000, \"type\": 1}, {\"comment\": \"Chapter 2\"" } }),
                list({ "Marker Outro added at 00:00:40:00" }) },
            { "a guide moved", edited(base, { { "", "\"pos\": 300", "\"pos\": 350" } }),
                list({ "Marker Chapter 2 moved from 00:00:12:00 to 00:00:14:00 (+50)" }) },
            { "a guide renamed", edited(base, { { "", "\"comment\": \"Chapter 2\"", "\"comment\": \"Part Two\"" } }),
                list({ "Marker Chapter 2 renamed to Part Two" }) },
            { "a guide removed", edited(base, { { "", "{\"comment\": \"Intro\", \"pos\": 0, \"type\": 0}, ", "" } }),
                list({ "Marker Intro removed at 00:00:00:00" }) },
        });
}

TEST(QFMLTChangeListTest, SequencesOfKdenlive)
{
    const QByteArray base = fixture("kdenlive/sequences.v2-24.01.95.kdenlive");
    expectCases(base,
        {
            { "a sequence renamed",
                edited(base,
                    { { "", "<property name=\"kdenlive:clipname\">Sequence 2</property>",
                        "<property name=\"kdenlive:clipname\">Interviews</property>" } }),
                list({ "Sequence Sequence 2 renamed to Interviews" }) },
            { "a sequence's filter turned off",
                edited(base,
                    { { "<filter id=\"filter18\">", "<property name=\"disable\">0</property>",
                        "<property name=\"disable\">1</property>" } }),
                list({ "Filter sepia of sequence Sequence 2 turned off" }) },
        });
}

TEST(QFMLTChangeListTest, MoreEditsOfKdenliveProjects)
{
    // Kdenlive 19.11: V1 "Wide", V2 "Close", audio "Ambience", A2 (unnamed, AUD0001.OGG twice), A1 (unnamed).
    const QByteArray old = fixture("kdenlive/otio-adapter.kdenlive_example_v191180.kdenlive");
    expectCases(old,
        {
            { "a clip slipped",
                edited(old,
                    { { "<playlist id=\"playlist6\">", "in=\"00:00:20.320\" out=\"00:00:35.200\"",
                        "in=\"00:00:21.320\" out=\"00:00:36.200\"" } }),
                list({ "Clip Wide on track Wide slipped (+25)" }) },
            { "a clip's speed changed",
                edited(old,
                    { { "id=\"producer11\"", "<property name=\"mlt_service\">avformat-novalidate</property>",
                        "<property name=\"mlt_service\">timewarp</property>\n  <property "
                        "name=\"warp_speed\">0.5</property>" } }),
                list({ "Speed of clip Close 1 on track Close changed from 100% to 50%" }) },
            { "a track removed with its clips", edited(old, { { "", "  <track producer=\"tractor1\"/>\n", "" } }),
                list({ "Track A2 removed", "Clip AUD0001.OGG removed from track A2 at 00:00:08:13",
                    "Clip AUD0001.OGG removed from track A2 at 00:00:20:15" }) },
        });

    // Kdenlive 25.03, clips with a control uuid; four compositions of V1 onto the background.
    const QByteArray compositions = fixture("kdenlive/qtblend-transition.kdenlive");
    const char *third = "<transition id=\"transition3\" in=\"00:00:00.240\" out=\"00:00:00.280\">";
    expectCases(compositions,
        {
            { "a composition moved",
                edited(compositions,
                    { { "", third, "<transition id=\"transition3\" in=\"00:00:00.200\" out=\"00:00:00.240\">" } }),
                list({ "Transition qtblend from track V1 onto track Black moved from 00:00:00:06 to 00:00:00:05 "
                       "(-1)" }) },
            { "a composition made longer",
                edited(compositions,
                    { { "", third, "<transition id=\"transition3\" in=\"00:00:00.240\" out=\"00:00:00.320\">" } }),
                list({ "Transition qtblend from track V1 onto track Black changed from 2 to 3 frames" }) },
            { "a composition's parameter",
                edited(compositions,
                    { { "<transition id=\"transition2\"", "<property name=\"compositing\">0</property>",
                        "<property name=\"compositing\">11</property>" } }),
                list({ "Transition qtblend from track V1 onto track Black: compositing changed from 0 to 11" }) },
            { "a composition removed",
                edited(compositions,
                    { { "",
                        "  <transition id=\"transition5\" out=\"00:00:00.040\">\n   <property "
                        "name=\"a_track\">0</property>\n"
                        "   <property name=\"b_track\">3</property>\n   <property name=\"rect\">00:00:00.000=0 0 1920 "
                        "1080 1</property>\n"
                        "   <property name=\"compositing\">0</property>\n   <property name=\"distort\">0</property>\n"
                        "   <property name=\"rotate_center\">1</property>\n   <property "
                        "name=\"mlt_service\">qtblend</property>\n"
                        "   <property name=\"kdenlive_id\">qtblend</property>\n   <property "
                        "name=\"rotation\">00:00:00.000=0</property>\n"
                        "  </transition>\n",
                        "" } }),
                list({ "Transition qtblend removed from track V1 onto track Black" }) },
            { "a picture relinked",
                edited(compositions, { { "", "footage/large-pixmap-ratio-133.png", "footage/stills/large.png" } }),
                list({ "Clip large-pixmap-ratio-133.png now uses large.png" }) },
            { "a picture whose content changed",
                edited(
                    compositions, { { "", "1c5089fe47e2f76673611aabc6570f1f", "0d5089fe47e2f76673611aabc6570f1f" } }),
                list({ "Media of clip large-pixmap-ratio-133.png changed" }) },
        });

    const QByteArray mixes = fixture("kdenlive/mix-luma.v1.kdenlive");
    EXPECT_EQ(linesFor(mixes,
                  edited(mixes,
                      { { "", "<transition id=\"transition1\" in=\"00:00:02.480\" out=\"00:00:03.480\">",
                          "<transition id=\"transition1\" in=\"00:00:02.480\" out=\"00:00:03.440\">" } })),
        list({ "Transition luma between clip Color Clip and clip Color Clip on track V1 changed from 26 to 25 "
               "frames" }));

    const QByteArray markers = fixture("kdenlive/otio-adapter.kdenlive_mixes_markers.kdenlive");
    EXPECT_EQ(
        linesFor(markers,
            everywhere(markers, "[\n    {\n        \"comment\": \"Lila\"",
                "[\n    {\"comment\": \"Blue\", \"pos\": 500, \"type\": 2},\n    {\n        \"comment\": \"Lila\"")),
        list({ "Marker Blue added to clip SomeNiceContent at 00:00:20:00" }));
}

TEST(QFMLTChangeListTest, LinesOfProjectsWithSeveralSequencesNameTheirSequence)
{
    const QByteArray base = fixture("kdenlive/sequences.v2-24.01.95.kdenlive");
    expectCases(base,
        {
            { "a clip trimmed in Sequence 3, the clips after it pulled along",
                edited(base, { { "<playlist id=\"playlist28\">", "out=\"00:00:01.240\"", "out=\"00:00:01.200\"" } }),
                list({ "Out Point of clip Color Clip on track V1 changed from 00:00:01:06 to 00:00:01:05 (-1) in "
                       "sequence Sequence 3",
                    "Clip Sequence 2 and the 1 clips after it on track V1 moved (-1) in sequence Sequence 3" }) },
            { "a sequence replaced by a new one",
                everywhere(base, "{50d9ab74-24aa-4676-bd7f-c2cae585186f}", "{60d9ab74-24aa-4676-bd7f-c2cae585186f}"),
                list({ "New sequence Sequence 3 added", "Sequence Sequence 3 removed" }) },
        });
}
