#include "engine/QFTombrelBackup.h"

#include "foundation/QFLog.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFPropertyList.h"
#include "tests/support/QFTempHome.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using Builder = QFVersionStoreBuilder;

// A small editor export whose one clip ends at `out`.
QByteArray document(int out, const QString &clipName = QStringLiteral("Interview"))
{
    return QStringLiteral(
        "<?xml version=\"1.0\"?><xmeml version=\"5\"><sequence id=\"seq1\"><uuid>U-SEQ</uuid><name>Main</name>"
        "<rate><timebase>25</timebase><ntsc>FALSE</ntsc></rate><media><video><track>"
        "<clipitem id=\"c1\"><uuid>U-C1</uuid><name>%1</name><rate><timebase>25</timebase><ntsc>FALSE</ntsc></rate>"
        "<in>0</in><out>%2</out><start>0</start><end>%2</end></clipitem></track></video></media></sequence></xmeml>")
        .arg(clipName)
        .arg(out)
        .toUtf8();
}

class QFChangelistCacheTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        folder = Builder::addProject(home.file(QStringLiteral("Projects/Cut.fcp")), QStringLiteral("CC"));
        versions = folder + QStringLiteral("/Versions");
        cacheFile = QFTombrelBackup::cachesFolder() + QStringLiteral("/CC.localized.cache.plist");
        QFLog::createNewLog(QStringLiteral("CacheTest"));
    }
    void TearDown() override { QFBundle::setMainBundlePath(QString()); }

    QString name(int n, const char *ext) const
    {
        return QStringLiteral("Cut.%1.%2").arg(n, 5, 10, QLatin1Char('0')).arg(QLatin1String(ext));
    }
    void addPair(int n, const QByteArray &xml, const QDateTime &date = QDateTime::currentDateTime().addSecs(-600))
    {
        Builder::addVersions(folder,
            { VersionSpec { name(n, "fcp"), date, "binary " + QByteArray::number(n) },
                VersionSpec { name(n, "xml"), date.addSecs(5), xml } });
    }
    QFVersionEntry entryOf(const QVariantMap &cache, const QString &key) const
    {
        return QFVersionEntry::fromDictionary(cache.value(key)).value_or(QFVersionEntry());
    }
    bool logContains(const QString &line) const
    {
        QFLog::finishWriting();
        QFile log(QFLog::availableLogs().value(0));
        return log.open(QIODevice::ReadOnly) && log.readAll().contains(line.toUtf8());
    }

    QFTombrelBackup engine;
    QString folder, versions, cacheFile;
};

} // namespace

TEST_F(QFChangelistCacheTest, CompanionsStandForTheirVersionFiles)
{
    addPair(1, document(100));
    addPair(2, document(130));
    const auto cache = engine.cacheForProject(folder);
    ASSERT_TRUE(cache);
    EXPECT_FALSE(cache->contains(name(1, "fcp")));
    EXPECT_FALSE(cache->contains(name(2, "fcp")));

    const QFVersionEntry first = entryOf(*cache, name(1, "xml"));
    EXPECT_EQ(first.changelist, QStringList { QStringLiteral("(Base version)") });
    EXPECT_EQ(first.type, QStringLiteral("xml"));
    EXPECT_EQ(first.host, QStringLiteral("fcp"));
    EXPECT_EQ(first.version, QStringLiteral("00001"));
    EXPECT_EQ(first.date, QFileInfo(versions + u'/' + name(1, "fcp")).lastModified())
        << "the version file's date, not the companion's";
    EXPECT_EQ(first.size, QStringLiteral("8 B"));

    QFTombrelBackup fresh;
    const auto expected = fresh.changelistForFile(versions + u'/' + name(2, "xml"), versions + u'/' + name(1, "xml"));
    ASSERT_TRUE(expected);
    const QFVersionEntry second = entryOf(*cache, name(2, "xml"));
    EXPECT_EQ(second.changelist, expected->changelist);
    EXPECT_FALSE(second.changelist.isEmpty());
    EXPECT_EQ(QFPropertyList::readDictionary(cacheFile)->value(QStringLiteral("version")).toString(),
        QFTombrelBackup::bundleCacheVersion());
}

TEST_F(QFChangelistCacheTest, FilesWithoutCompanions)
{
    Builder::addVersions(folder, { VersionSpec { name(2, "fcp"), {}, "two" } });
    const QString path = versions + u'/' + name(2, "fcp");
    Builder::setPreferences({ { QStringLiteral("generateFCPXML"), qint64(1) } });
    auto entry = engine.changelistForFile(path, QString());
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->changelist, QStringList { QStringLiteral("XML copy 00002 not generated") });
    EXPECT_EQ(entry->type, QStringLiteral("fcp"));
    Builder::setPreferences({ { QStringLiteral("generateFCPXML"), qint64(0) } });
    entry = engine.changelistForFile(path, QString());
    EXPECT_TRUE(entry->changelist.isEmpty());
    EXPECT_EQ(entry->type, QStringLiteral("doc"));

    const QString other = Builder::addProject(home.file(QStringLiteral("Projects/Edit.prproj")), QStringLiteral("PR"));
    Builder::addVersions(other,
        { VersionSpec { QStringLiteral("Edit.00001.prproj"), {}, "same" },
            VersionSpec { QStringLiteral("Edit.00002.prproj"), {}, "same" },
            VersionSpec { QStringLiteral("Edit.00003.prproj"), {}, "different" } });
    const QString v = other + QStringLiteral("/Versions/");
    EXPECT_EQ(
        engine.changelistForFile(v + QStringLiteral("Edit.00002.prproj"), v + QStringLiteral("Edit.00001.prproj"))
            ->changelist,
        QStringList { QStringLiteral("No change") });
    const auto different
        = engine.changelistForFile(v + QStringLiteral("Edit.00003.prproj"), v + QStringLiteral("Edit.00002.prproj"));
    EXPECT_TRUE(different->changelist.isEmpty());
    EXPECT_TRUE(different->host.isEmpty());
    // In a project's cache only XML companions are compared, so other files list no changes.
    const auto cache = engine.cacheForProject(other);
    ASSERT_TRUE(cache);
    EXPECT_EQ(cache->size(), 4);
    EXPECT_TRUE(entryOf(*cache, QStringLiteral("Edit.00002.prproj")).changelist.isEmpty());
}

TEST_F(QFChangelistCacheTest, OversizedProjectsAreNeverParsed)
{
    addPair(1, document(100));
    addPair(2, document(110));
    addPair(3, document(120));
    QFile big(versions + u'/' + name(2, "fcp"));
    ASSERT_TRUE(big.open(QIODevice::ReadWrite));
    ASSERT_TRUE(big.resize(83886080)); // sparse: 80 MB on paper only
    big.close();

    const auto rebuilt = engine.changelistForProject(folder);
    ASSERT_TRUE(rebuilt);
    const QFVersionEntry second = entryOf(*rebuilt, name(2, "xml"));
    EXPECT_TRUE(second.noProcess);
    ASSERT_EQ(second.changelist.size(), 1);
    EXPECT_TRUE(second.changelist.first().startsWith(QStringLiteral("Project file size exceeds 80 MB")));
    EXPECT_EQ(entryOf(*rebuilt, name(3, "xml")).changelist, QStringList { QStringLiteral("(Base version)") })
        << "after an oversized companion the next one starts afresh";
}

TEST_F(QFChangelistCacheTest, ACacheOfAnotherFormatOrADamagedOneIsRebuilt)
{
    QFBundle::setMainBundlePath(qEnvironmentVariable("QF_BUNDLE_DIR"));
    ASSERT_NE(QFTombrelBackup::bundleCacheVersion(), QStringLiteral("0"));
    addPair(1, document(100));
    addPair(2, document(130));
    QDir().mkpath(QFTombrelBackup::cachesFolder());
    ASSERT_TRUE(QFPropertyList::write(cacheFile,
        QVariantMap { { QStringLiteral("version"), QStringLiteral("old") },
            { name(1, "xml"),
                QVariantMap { { QStringLiteral("changelist"), QVariantList { QStringLiteral("stale") } } } } }));
    auto cache = engine.cacheForProject(folder);
    ASSERT_TRUE(cache);
    EXPECT_EQ(entryOf(*cache, name(1, "xml")).changelist, QStringList { QStringLiteral("(Base version)") });
    EXPECT_TRUE(logContains(QStringLiteral("Cache version does not match. Resetting cache...")));

    for (const QByteArray &damage :
        { QByteArray("<?xml version=\"1.0\"?><plist><dict><key>Cut"), QByteArray(3000, '\x9c') }) {
        home.write(QStringLiteral(".local/share/Quenfield/Pro Tombrel/Caches/CC.localized.cache.plist"), damage);
        cache = engine.cacheForProject(folder);
        ASSERT_TRUE(cache);
        EXPECT_EQ(entryOf(*cache, name(1, "xml")).changelist, QStringList { QStringLiteral("(Base version)") });
        EXPECT_TRUE(QFPropertyList::readDictionary(cacheFile).has_value());
    }
}

TEST_F(QFChangelistCacheTest, EachNewVersionIsParsedOnce)
{
    for (int n = 1; n <= 200; ++n)
        addPair(n, document(100 + n));
    ASSERT_TRUE(engine.cacheForProject(folder));
    EXPECT_EQ(engine.documentsParsed(), 200) << "a full build parses each companion once";

    addPair(201, document(400));
    QFTombrelBackup helper;
    const auto cache = helper.cacheForProject(folder);
    ASSERT_TRUE(cache);
    EXPECT_EQ(helper.documentsParsed(), 2) << "the new companion and the one before it, nothing else";
    EXPECT_FALSE(entryOf(*cache, name(201, "xml")).changelist.isEmpty());
    EXPECT_TRUE(helper.lastXMLDocPath().isEmpty()) << "the parsed document is not kept once the refresh is done";
}

TEST_F(QFChangelistCacheTest, SingleUpdatesAndInvalidation)
{
    addPair(1, document(100));
    addPair(2, document(130));
    addPair(3, document(160));
    engine.updateChangelistForItem(versions + u'/' + name(3, "xml"));
    auto cache = QFPropertyList::readDictionary(cacheFile);
    ASSERT_TRUE(cache);
    QFTombrelBackup fresh;
    EXPECT_EQ(entryOf(*cache, name(3, "xml")).changelist,
        fresh.changelistForFile(versions + u'/' + name(3, "xml"), versions + u'/' + name(2, "xml"))->changelist);
    EXPECT_FALSE(cache->contains(name(1, "xml")));

    engine.updateChangelistForItem(versions + u'/' + name(1, "xml"));
    cache = QFPropertyList::readDictionary(cacheFile);
    EXPECT_EQ(entryOf(*cache, name(1, "xml")).changelist, QStringList { QStringLiteral("(Base version)") });
    EXPECT_TRUE(cache->contains(name(2, "xml")));

    home.write(QStringLiteral(".local/share/Quenfield/Pro Tombrel/Caches/notes.txt"), "keep");
    home.write(QStringLiteral(".local/share/Quenfield/Pro Tombrel/Caches/other.cache.plist.bak"), "keep");
    engine.invalidateAllCaches();
    EXPECT_EQ(QDir(QFTombrelBackup::cachesFolder()).entryList(QDir::Files, QDir::Name),
        (QStringList { QStringLiteral("notes.txt"), QStringLiteral("other.cache.plist.bak") }));
}

TEST_F(QFChangelistCacheTest, NotesAndUnreadableCompanions)
{
    addPair(1, document(100));
    addPair(2, document(130));
    Builder::addVersions(folder, { VersionSpec { name(3, "xml"), {}, "<xmeml><unclosed>" } });
    ASSERT_TRUE(QFPropertyList::write(folder + QStringLiteral("/Annotations.plist"),
        QVariantMap { { name(2, "xml"), QStringLiteral("Director's cut") } }));
    const auto cache = engine.cacheForProject(folder);
    ASSERT_TRUE(cache);
    EXPECT_EQ(entryOf(*cache, name(2, "xml")).annotation, QStringLiteral("Director's cut"));
    EXPECT_FALSE(cache->contains(name(3, "xml"))) << "left out, and tried again next time";
    EXPECT_TRUE(logContains(QStringLiteral("Unable to load XML document")));
}

TEST_F(QFChangelistCacheTest, TwoProgramsRefreshingAtOnceLeaveAReadableCache)
{
    for (int n = 1; n <= 60; ++n)
        addPair(n, document(100 + n));
    const QString tombrel = qEnvironmentVariable("QF_BUNDLE_DIR") + QStringLiteral("/Contents/MacOS/tombrel");
    QProcess first, second;
    first.start(tombrel, { QStringLiteral("versions"), QStringLiteral("CC"), QStringLiteral("--json") });
    second.start(tombrel, { QStringLiteral("versions"), QStringLiteral("CC"), QStringLiteral("--json") });
    ASSERT_TRUE(first.waitForFinished(120000));
    ASSERT_TRUE(second.waitForFinished(120000));
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_EQ(second.exitCode(), 0);
    const auto cache = QFPropertyList::readDictionary(cacheFile);
    ASSERT_TRUE(cache);
    EXPECT_EQ(entryOf(*cache, name(60, "xml")).type, QStringLiteral("xml"));
}

TEST_F(QFChangelistCacheTest, ThreadsComparingWithOneEngineGetTheLinesOfAComparisonAlone)
{
    constexpr int kPairs = 8;
    for (int n = 1; n <= kPairs + 1; ++n)
        addPair(n, document(100 * n, n % 2 ? QStringLiteral("Interview") : QStringLiteral("Scene")));
    const auto compare = [&](QFTombrelBackup &with, int n) {
        const auto entry
            = with.changelistForFile(versions + u'/' + name(n, "xml"), versions + u'/' + name(n - 1, "xml"));
        return entry ? entry->changelist : QStringList { QStringLiteral("<none>") };
    };
    QFTombrelBackup alone;
    std::vector<QStringList> expected;
    for (int n = 2; n <= kPairs + 1; ++n)
        expected.push_back(compare(alone, n));

    // Each thread compares every pair, from its own first pair on: the remembered document is passed
    // between comparisons of different threads.
    std::vector<std::vector<QStringList>> results(4, std::vector<QStringList>(kPairs));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPairs; ++i) {
                const int k = (i + 2 * t) % kPairs;
                results[t][k] = compare(engine, k + 2);
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    for (int t = 0; t < 4; ++t) {
        SCOPED_TRACE(t);
        EXPECT_EQ(results[t], expected);
    }
    EXPECT_FALSE(expected.front().isEmpty());
}
