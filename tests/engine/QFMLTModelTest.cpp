// The model an MLT document is read into: dialects, tracks as the editors show them, times as frames, and
// documents that are broken or hostile, which give a clear answer and never a crash or a hang.

#include "engine/QFMLTModel.h"

#include "engine/QFMLTChangeList.h"
#include "engine/QFXMLParser.h"
#include "tests/support/QFTempHome.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

QByteArray fixture(const char *name)
{
    QFile file(fixturePath(QStringLiteral("mlt/") + QString::fromLatin1(name)));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

std::optional<QFMLTModel> modelOf(const QByteArray &xml, QString *error = nullptr)
{
    const auto document = QFXMLParser::documentFromData(xml, error);
    if (!document)
        return std::nullopt;
    return QFMLTModel::fromDocument(*document, error);
}

QByteArray melt(const QByteArray &body)
{
    return "<?xml version=\"1.0\"?><mlt><profile description=\"HD 1080p 25 fps\" frame_rate_num=\"25\" "
           "frame_rate_den=\"1\"/>"
        + body + "</mlt>";
}

} // namespace

TEST(QFMLTModelTest, TellsTheDialectFromTheDocument)
{
    for (const auto &[name, dialect] : std::vector<std::pair<const char *, QFMLTModel::Dialect>> {
             { "kdenlive/sequences.v1-23.08.4.kdenlive", QFMLTModel::Dialect::Kdenlive },
             { "kdenlive/otio-adapter.kdenlive_example_v191180.kdenlive", QFMLTModel::Dialect::Kdenlive },
             { "shotcut/shotcut.v1.mlt", QFMLTModel::Dialect::Shotcut },
             { "melt/melt.v1.mlt", QFMLTModel::Dialect::Plain } }) {
        SCOPED_TRACE(name);
        const auto model = modelOf(fixture(name));
        ASSERT_TRUE(model);
        EXPECT_EQ(model->dialect, dialect);
    }
    EXPECT_EQ(QFMLTModel::hostName(QFMLTModel::Dialect::Kdenlive), QStringLiteral("kdenlive"));
    EXPECT_EQ(QFMLTModel::hostName(QFMLTModel::Dialect::Shotcut), QStringLiteral("shotcut"));
    EXPECT_EQ(QFMLTModel::hostName(QFMLTModel::Dialect::Plain), QStringLiteral("mlt"));
}

TEST(QFMLTModelTest, ReadsSequencesTracksAndClipsAsTheEditorShowsThem)
{
    const auto old = modelOf(fixture("kdenlive/otio-adapter.kdenlive_example_v191180.kdenlive"));
    ASSERT_TRUE(old);
    EXPECT_EQ(old->profile, "DV/DVD PAL");
    EXPECT_EQ(old->timebase, 25);
    ASSERT_EQ(old->sequences.size(), 1u) << "one timeline before Kdenlive 23.04";
    const QFMLTModel::Sequence &timeline = old->sequences.front();
    std::vector<std::string> labels;
    for (const QFMLTModel::Track &track : timeline.tracks)
        labels.push_back(track.label);
    // Audio tracks count from the video ones outward; the black background is no track.
    EXPECT_EQ(labels, (std::vector<std::string> { "Ambience", "A2", "A1", "Wide", "Close" }));
    const QFMLTModel::Track &close = timeline.tracks.back();
    EXPECT_FALSE(close.audio);
    ASSERT_EQ(close.clips.size(), 3u);
    const QFMLTModel::Clip &close1 = close.clips[1];
    EXPECT_EQ(old->sources[size_t(close1.source)].name, "Close 1") << "the bin clip through its bin id";
    EXPECT_EQ(close1.start, 292);
    EXPECT_EQ(close1.in, 95);
    EXPECT_EQ(close1.out, 260);
    EXPECT_EQ(old->folders.size(), 2u);

    const auto sequences = modelOf(fixture("kdenlive/sequences.v2-24.01.95.kdenlive"));
    ASSERT_TRUE(sequences);
    std::vector<std::string> names;
    for (const QFMLTModel::Sequence &sequence : sequences->sequences)
        names.push_back(sequence.name);
    EXPECT_EQ(names, (std::vector<std::string> { "Sequence 1", "Sequence 2", "Sequence 3" }))
        << "each once, though written more often";
    const QFMLTModel::Track &nested = sequences->sequences[2].tracks[2];
    ASSERT_EQ(nested.clips.size(), 3u);
    EXPECT_TRUE(sequences->sources[size_t(nested.clips[2].source)].sequence)
        << "a sequence used as a clip, by its uuid";
    EXPECT_EQ(sequences->sources[size_t(nested.clips[2].source)].name, "Sequence 1");

    const auto mix = modelOf(fixture("kdenlive/mix-luma.v1.kdenlive"));
    ASSERT_TRUE(mix);
    const QFMLTModel::Track &v1 = mix->sequences.front().tracks.at(2);
    ASSERT_EQ(v1.clips.size(), 3u) << "both playlists of a Kdenlive track";
    ASSERT_EQ(v1.mixes.size(), 2u);
    EXPECT_EQ(v1.mixes[0].left, 1);
    EXPECT_EQ(v1.mixes[0].right, 2);
    EXPECT_EQ(v1.mixes[1].left, 0);
    EXPECT_EQ(v1.mixes[1].right, 1);
}

TEST(QFMLTModelTest, TimesAreFramesAtTheProfilesRate)
{
    const auto model = modelOf(
        melt("<playlist id=\"p\"><blank length=\"00:00:01.000\"/><entry producer=\"c\" in=\"00:00:01:05\" out=\"120\"/>"
             "<entry producer=\"c\" in=\"00:00:03.440\" out=\"00:00:03,480\"/></playlist>"
             "<producer id=\"c\"><property name=\"resource\">red</property><property "
             "name=\"mlt_service\">colour</property></producer>"
             "<tractor id=\"t\"><track producer=\"p\"/></tractor>"));
    ASSERT_TRUE(model);
    const std::vector<QFMLTModel::Clip> &clips = model->sequences.at(0).tracks.at(0).clips;
    ASSERT_EQ(clips.size(), 2u);
    EXPECT_EQ(clips[0].start, 25);
    EXPECT_EQ(clips[0].in, 30);
    EXPECT_EQ(clips[0].out, 120);
    EXPECT_EQ(clips[1].start, 25 + 91);
    EXPECT_EQ(clips[1].in, 86);
    EXPECT_EQ(clips[1].out, 87);
    EXPECT_EQ(model->timecode(86), QStringLiteral("00:00:03:11"));
    EXPECT_EQ(model->timecode(25 * 3661 + 24), QStringLiteral("01:01:01:24"));
    EXPECT_EQ(model->timecode(-50), QStringLiteral("-00:00:02:00"));
}

TEST(QFMLTModelTest, KnowsAnMLTFileByItsFirstElement)
{
    QFTempHome home;
    const struct {
        const char *name;
        QByteArray contents;
        bool mlt;
    } cases[] = {
        { "declared.kdenlive",
            "\xEF\xBB\xBF<?xml version='1.0'?>\n<!-- saved -->\n<!DOCTYPE mlt>\n<mlt version=\"7\"><profile/></mlt>",
            true },
        { "bare.mlt", "<mlt/>", true },
        { "export.mlt", "<?xml version=\"1.0\"?><xmeml version=\"5\"/>", false },
        { "lookalike.xml", "<mltx/>", false },
        { "text.mlt", "mlt", false },
        { "empty.kdenlive", "", false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(QFMLTModel::isMLTFile(home.write(QString::fromLatin1(c.name), c.contents)), c.mlt);
    }
    EXPECT_FALSE(QFMLTModel::isMLTFile(home.file(QStringLiteral("missing.mlt"))));
}

TEST(QFMLTModelTest, BrokenAndHostileDocumentsGiveAClearAnswer)
{
    QFTempHome home;
    const QByteArray real = fixture("kdenlive/sequences.v1-23.08.4.kdenlive");
    // Documents that cannot be read as MLT: no model, and why.
    const struct {
        const char *name;
        QByteArray contents;
    } unreadable[] = {
        { "truncated.kdenlive", real.left(real.size() / 2) },
        { "in-name-only.kdenlive", "<?xml version=\"1.0\"?><xmeml version=\"5\"><sequence/></xmeml>" },
        { "not-xml.mlt", "\x00\x01\x02 binary" },
        { "deep.mlt", "<mlt>" + QByteArray("<properties>").repeated(100000) },
    };
    for (const auto &c : unreadable) {
        SCOPED_TRACE(c.name);
        QString error;
        EXPECT_FALSE(QFMLTModel::fromFile(home.write(QString::fromLatin1(c.name), c.contents), &error));
        EXPECT_FALSE(error.isEmpty());
    }

    // Documents that read, oddly: a model, and lines that say what they can.
    const auto missing = modelOf(melt("<playlist id=\"p\"><entry producer=\"nowhere\" in=\"0\" "
                                      "out=\"9\"/></playlist><tractor id=\"t\"><track producer=\"p\"/></tractor>"));
    ASSERT_TRUE(missing);
    ASSERT_EQ(missing->sequences.at(0).tracks.at(0).clips.size(), 1u);
    EXPECT_EQ(missing->sources.at(size_t(missing->sequences[0].tracks[0].clips[0].source)).name, "nowhere");

    const auto itself = modelOf(melt("<playlist id=\"p\"><entry producer=\"p\" in=\"0\" out=\"9\"/><entry "
                                     "producer=\"t\" in=\"0\" out=\"9\"/></playlist>"
                                     "<tractor id=\"t\"><track producer=\"p\"/><track producer=\"t\"/></tractor>"));
    ASSERT_TRUE(itself) << "a playlist that holds itself, a tractor that holds itself";
    EXPECT_EQ(itself->sequences.at(0).tracks.size(), 1u);
    EXPECT_EQ(itself->sequences[0].tracks[0].clips.size(), 2u);

    const auto absurd = modelOf(
        melt("<producer id=\"c\"><property name=\"resource\">a.mp4</property></producer>"
             "<playlist id=\"p\"><blank length=\"-99999999999999999999\"/>"
             "<entry producer=\"c\" in=\"99999999999999999999999\" out=\"-5\"/>"
             "<entry producer=\"c\" in=\"1e300\" out=\"99:99:99.999\"/><blank length=\"9999999999:00:00.000\"/>"
             "<entry producer=\"c\" in=\"nan\" out=\"inf\"/></playlist>"
             "<tractor id=\"t\"><track producer=\"p\"/></tractor>"));
    ASSERT_TRUE(absurd);
    const auto sane = modelOf(melt("<producer id=\"c\"><property name=\"resource\">a.mp4</property></producer>"
                                   "<playlist id=\"p\"><entry producer=\"c\" in=\"0\" out=\"9\"/></playlist><tractor "
                                   "id=\"t\"><track producer=\"p\"/></tractor>"));
    ASSERT_TRUE(sane);
    EXPECT_FALSE(QFMLTChangeList::changeLines(*sane, *absurd).isEmpty());
    EXPECT_FALSE(QFMLTChangeList::changeLines(*absurd, *sane).isEmpty());
    EXPECT_TRUE(QFMLTChangeList::changeLines(*absurd, *absurd).isEmpty());

    // A mix whose second clip is gone: the same project says nothing about itself.
    QByteArray mixes = fixture("kdenlive/mix-luma.v1.kdenlive");
    const QByteArray entry = "  <entry producer=\"producer2\" in=\"00:00:00.000\" out=\"00:00:03.480\">\n   <property "
                             "name=\"kdenlive:id\">4</property>\n  </entry>\n";
    ASSERT_TRUE(mixes.contains(entry));
    const auto broken = modelOf(mixes.replace(entry, ""));
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->sequences.at(0).tracks.at(2).mixes.at(0).right, -1);
    EXPECT_TRUE(QFMLTChangeList::changeLines(*broken, *broken).isEmpty());
}

TEST(QFMLTModelTest, ManyChangesEndInOneLineThatCountsTheRest)
{
    QByteArray clips;
    for (int i = 0; i < 250; ++i)
        clips += "<entry producer=\"c" + QByteArray::number(i) + "\" in=\"0\" out=\"9\"/>";
    QByteArray producers;
    for (int i = 0; i < 250; ++i)
        producers += "<producer id=\"c" + QByteArray::number(i) + "\"><property name=\"resource\">clip"
            + QByteArray::number(i) + ".mp4</property></producer>";
    const auto full = modelOf(melt(
        producers + "<playlist id=\"p\">" + clips + "</playlist><tractor id=\"t\"><track producer=\"p\"/></tractor>"));
    const auto empty = modelOf(melt("<playlist id=\"p\"/><tractor id=\"t\"><track producer=\"p\"/></tractor>"));
    ASSERT_TRUE(full && empty);
    const QStringList lines = QFMLTChangeList::changeLines(*empty, *full);
    ASSERT_EQ(lines.size(), QFMLTChangeList::kLineLimit + 1);
    EXPECT_EQ(lines.first(), QStringLiteral("Clip clip0.mp4 added to track V1 at 00:00:00:00"));
    EXPECT_EQ(lines.last(), QStringLiteral("50 more changes"));
}
