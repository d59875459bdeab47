// The change lines of versions saved as MLT XML, as the change-list cache keeps them and Compare Versions
// shows them: each version against the version file before it, with type "mlt" and the editor as host.

#include "engine/QFChangeLines.h"
#include "engine/QFTombrelBackup.h"

#include "foundation/QFLog.h"
#include "foundation/platform/QFBundle.h"
#include "tests/support/QFTempHome.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

using Builder = QFVersionStoreBuilder;

QByteArray fixture(const char *name)
{
    QFile file(fixturePath(QStringLiteral("mlt/") + QString::fromLatin1(name)));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

class QFMLTVersionEntryTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        folder = Builder::addProject(home.file(QStringLiteral("Projects/Edit.kdenlive")), QStringLiteral("KD"));
        versions = folder + QStringLiteral("/Versions");
        QFLog::createNewLog(QStringLiteral("MLTTest"));
    }
    QString name(int n, const char *ext = "kdenlive") const
    {
        return QStringLiteral("Edit.%1.%2").arg(n, 5, 10, QLatin1Char('0')).arg(QLatin1String(ext));
    }
    void add(int n, const QByteArray &contents, const char *ext = "kdenlive")
    {
        Builder::addVersions(
            folder, { VersionSpec { name(n, ext), QDateTime::currentDateTime().addSecs(-3600 + n), contents } });
    }
    QFVersionEntry entryOf(const QVariantMap &cache, const QString &key) const
    {
        return QFVersionEntry::fromDictionary(cache.value(key)).value_or(QFVersionEntry());
    }

    QFTombrelBackup engine;
    QString folder, versions;
};

} // namespace

TEST_F(QFMLTVersionEntryTest, EachVersionIsComparedWithTheVersionFileBeforeIt)
{
    const QByteArray v1 = fixture("kdenlive/sequences.v1-23.08.4.kdenlive");
    const QByteArray v2 = fixture("kdenlive/sequences.v2-24.01.95.kdenlive");
    add(1, v1);
    add(2, v2);
    add(3, v2);
    add(4, v2.left(v2.size() / 3)); // a save cut short
    add(5, v2);
    add(6, fixture("kdenlive/transform.v1.kdenlive"));
    add(7, fixture("kdenlive/transform.v2.kdenlive"));

    const auto cache = engine.cacheForProject(folder);
    ASSERT_TRUE(cache);
    const struct {
        int version;
        QStringList lines;
    } expected[] = {
        { 1, { QStringLiteral("(Base version)") } },
        { 2,
            { QStringLiteral("Filter sepia added to sequence Sequence 1"),
                QStringLiteral("Filter sepia added to sequence Sequence 2") } },
        { 3, { QStringLiteral("No change") } },
        { 4, { QStringLiteral("Unable to create change list") } },
        // Nothing readable to compare with: the history starts again.
        { 5, { QStringLiteral("(Base version)") } },
        { 7, { QStringLiteral("No notable changes") } },
    };
    for (const auto &e : expected) {
        SCOPED_TRACE(e.version);
        const QFVersionEntry entry = entryOf(*cache, name(e.version));
        EXPECT_EQ(entry.changelist, e.lines);
        EXPECT_EQ(entry.type, QStringLiteral("mlt"));
        EXPECT_EQ(entry.host, e.version == 4 ? QStringLiteral("mlt") : QStringLiteral("kdenlive"));
        EXPECT_EQ(entry.version, QStringLiteral("%1").arg(e.version, 5, 10, QLatin1Char('0')));
    }
    EXPECT_GT(entryOf(*cache, name(6)).changelist.size(), 1) << "another project altogether";
    // Each version was read once: the newer project of one comparison is the older of the next.
    EXPECT_EQ(engine.documentsParsed(), 6) << "version 3 is version 2's bytes";

    // A new version costs its own reading and its predecessor's, nothing more.
    add(8, fixture("kdenlive/transform.v1.kdenlive"));
    QFTombrelBackup again;
    const auto refreshed = again.cacheForProject(folder);
    ASSERT_TRUE(refreshed);
    EXPECT_EQ(entryOf(*refreshed, name(8)).changelist, QStringList { QStringLiteral("No notable changes") });
    EXPECT_EQ(again.documentsParsed(), 2);
}

TEST_F(QFMLTVersionEntryTest, TheDocumentDecidesNotTheName)
{
    add(1, fixture("shotcut/shotcut.v1.mlt"), "mlt");
    add(2, fixture("shotcut/shotcut.v2.mlt"), "xml"); // an MLT project under another name
    add(3, fixture("melt/melt.v1.mlt"), "mlt");
    add(4, fixture("melt/melt.v2.mlt"), "mlt");
    add(5, "<?xml version=\"1.0\"?><xmeml version=\"5\"/>", "mlt"); // MLT in name only
    const auto cache = engine.cacheForProject(folder);
    ASSERT_TRUE(cache);
    const QFVersionEntry second = entryOf(*cache, name(2, "xml"));
    EXPECT_EQ(second.changelist,
        QStringList({ QStringLiteral("Filter blur_gaussian_av added to clip A.mp4 on track V1"),
            QStringLiteral("Marker Chapter 2 added at 00:00:12:00") }));
    EXPECT_EQ(second.type, QStringLiteral("mlt"));
    EXPECT_EQ(second.host, QStringLiteral("shotcut"));
    EXPECT_EQ(entryOf(*cache, name(1, "mlt")).host, QStringLiteral("shotcut"));
    EXPECT_EQ(entryOf(*cache, name(4, "mlt")).host, QStringLiteral("mlt"));
    EXPECT_EQ(entryOf(*cache, name(4, "mlt")).changelist.size(), 3);
    const QFVersionEntry fifth = entryOf(*cache, name(5, "mlt"));
    EXPECT_EQ(fifth.changelist, QStringList { QStringLiteral("Unable to create change list") });
    EXPECT_EQ(fifth.type, QStringLiteral("mlt"));
}

TEST_F(QFMLTVersionEntryTest, FilesOverTheSizeLimitAreNotRead)
{
    add(1, fixture("kdenlive/transform.v1.kdenlive"));
    add(2, fixture("kdenlive/transform.v2.kdenlive"));
    add(3, fixture("kdenlive/transform.v1.kdenlive"));
    QFile big(versions + u'/' + name(2));
    ASSERT_TRUE(big.resize(83886080)); // sparse: 80 MB on paper only
    const auto cache = engine.cacheForProject(folder);
    ASSERT_TRUE(cache);
    const QFVersionEntry second = entryOf(*cache, name(2));
    ASSERT_EQ(second.changelist.size(), 1);
    EXPECT_TRUE(second.changelist.first().startsWith(QStringLiteral("Project file size exceeds 80 MB")));
    EXPECT_TRUE(second.noProcess);
    EXPECT_EQ(second.host, QStringLiteral("kdenlive"));
    EXPECT_EQ(entryOf(*cache, name(3)).changelist, QStringList { QStringLiteral("(Base version)") });
    EXPECT_EQ(engine.documentsParsed(), 2);
}

TEST_F(QFMLTVersionEntryTest, CompareVersionsTellsTheChangesBetweenAnyTwo)
{
    add(1, fixture("kdenlive/mix-luma.v1.kdenlive"));
    add(2, fixture("kdenlive/transform.v1.kdenlive"));
    add(3, fixture("kdenlive/mix-luma.v2.kdenlive"));
    QString error;
    const auto lines = QFChangeLines::compareVersions(versions + u'/' + name(3), versions + u'/' + name(1), &error);
    ASSERT_TRUE(lines) << qPrintable(error);
    EXPECT_EQ(*lines,
        QStringList({ QStringLiteral("Transition luma between clip Color Clip and clip Color Clip on track V1: "
                                     "alpha_over changed from 1 to 0"),
            QStringLiteral("Transition luma between clip Color Clip and clip Color Clip on track V1: alpha_over "
                           "changed from 1 to 0") }));
}

TEST_F(QFMLTVersionEntryTest, LinesGetTheirIconsAndFilters)
{
    const struct {
        const char *line;
        const char *image;
        const char *hiddenBy;
    } cases[] = {
        { "Project profile changed from DV/DVD PAL to HD 1080p 25 fps", "", nullptr },
        { "New clip Interview.mp4 added to the bin", "bin.png", "filterBins" },
        { "Clip Music moved to bin Sound", "bin.png", "filterBins" },
        { "New bin Sound added", "bin.png", "filterBins" },
        { "Sequence Sequence 2 renamed to Interviews", "sequence.png", "filterSequences" },
        { "Track Ambience muted", "sequence.png", "filterSequences" },
        { "Clip Close 1 moved from track Close to track Wide at 00:00:35:06", "clip.png", "filterClips" },
        { "Clip C.mp4 and the 2 clips after it on track V1 moved (-50)", "clip.png", "filterClips" },
        { "Out Point of clip B.mp4 on track V1 changed from 00:00:09:24 to 00:00:07:24 (-50)", "outpoint.png",
            "filterOutPoints" },
        { "In Point of clip C.mp4 on track V1 changed from 00:00:00:00 to 00:00:01:00 (+25)", "inpoint.png",
            "filterInPoints" },
        { "Filter sepia added to clip Close 1 on track Close", "filter.png", "filterFilters" },
        { "Keyframes of filter brightness of clip Wide on track Wide changed", "filter.png", "filterFilters" },
        { "Transition luma added between clip B.mp4 and clip C.mp4 on track V1", "filter.png", "filterFilters" },
        { "Marker Chapter 2 added at 00:00:12:00", "marker.png", "filterMarkers" },
        { "Marker Lila of clip SomeNiceContent renamed to Purple", "marker.png", "filterMarkers" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        const QString line = QString::fromUtf8(c.line);
        EXPECT_EQ(QFChangeLines::iconFilenameForString(line), QString::fromLatin1(c.image));
        EXPECT_EQ(QFChangeLines::isAboutProject(line), line.startsWith(QLatin1String("Project ")));
        if (c.hiddenBy) {
            EXPECT_TRUE(QFChangeLines::filterArray({ line }, { { QString::fromLatin1(c.hiddenBy), 1 } }).isEmpty());
        }
    }
    // A track's line is no clip's.
    EXPECT_EQ(
        QFChangeLines::filterArray({ QStringLiteral("Track Ambience muted") }, { { QStringLiteral("filterClips"), 1 } })
            .size(),
        1);
    EXPECT_EQ(QFChangeLines::filterArray({ QStringLiteral("Clip A added to track V1 at 00:00:00:00") },
                  { { QStringLiteral("filterSequences"), 1 } })
                  .size(),
        1);
}
