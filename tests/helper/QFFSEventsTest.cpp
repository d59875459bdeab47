#include "helper/QFFSEvents.h"

#include "foundation/QFClock.h"
#include "foundation/QFLog.h"
#include "tests/helper/HelperTestSupport.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/inotify.h>

namespace {

class QFFSEventsTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        QFLog::createNewLog(QStringLiteral("HelperTest"));
        root = home.file(QStringLiteral("Watched"));
        QDir().mkpath(root);
        connection = QObject::connect(
            events(), &QFFSEvents::eventsDelivered, [this](const QList<QFFSEventRecord> &batch) { batches << batch; });
    }
    void TearDown() override
    {
        QObject::disconnect(connection);
        events()->stopWatching();
        QFFSEvents::setWatchAdder({});
    }

    static QFFSEvents *events() { return QFFSEvents::sharedController(); }

    QStringList deliveredPaths() const
    {
        QStringList paths;
        for (const auto &batch : batches) {
            for (const QFFSEventRecord &record : batch)
                paths << record.path;
        }
        return paths;
    }
    bool waitForPath(const QString &path, int timeoutMs = 10000)
    {
        return QTest::qWaitFor([&] { return deliveredPaths().contains(path); }, timeoutMs);
    }

    QString root;
    QList<QList<QFFSEventRecord>> batches;
    QMetaObject::Connection connection;
};

} // namespace

TEST_F(QFFSEventsTest, ChangeIsOneRecordPerFolderWithTrailingSlashFlagsIdAndDate)
{
    const QDateTime fixed = QDateTime::fromString(QStringLiteral("2014-03-07T12:00:00Z"), Qt::ISODate);
    QFClock::setSource([&] { return fixed.toMSecsSinceEpoch(); });
    struct RealClock {
        ~RealClock() { QFClock::setSource({}); }
    } realClock;
    QDir().mkpath(root + QStringLiteral("/Edits"));
    events()->startWatchingPaths({ root }, 0.2);
    EXPECT_EQ(events()->watchPaths(), QStringList(root));
    EXPECT_EQ(events()->watchedFolderCount(), 2);

    home.write(QStringLiteral("Watched/Edits/Cut.prproj"), "one");
    ASSERT_TRUE(waitForPath(root + QStringLiteral("/Edits/")));
    const QList<QFFSEventRecord> &first = batches.first();
    ASSERT_EQ(first.size(), 1) << "several events on one folder make one record";
    EXPECT_EQ(first[0].flag, QStringLiteral("0000"));
    EXPECT_GT(first[0].id, 0u);
    EXPECT_EQ(first[0].date, fixed) << "dated by the system's clock";
    const QVariantMap dictionary = first[0].toDictionary();
    EXPECT_EQ(dictionary.keys(), QStringList({ "date", "flag", "id", "path" }));

    // Records of one batch share the batch's date; ids keep growing.
    home.write(QStringLiteral("Watched/a.txt"), "a");
    home.write(QStringLiteral("Watched/Edits/b.txt"), "b");
    ASSERT_TRUE(QTest::qWaitFor([&] { return deliveredPaths().size() >= 3; }, 10000));
    for (const auto &batch : batches) {
        for (const QFFSEventRecord &record : batch)
            EXPECT_EQ(record.date, batch.first().date);
    }
    EXPECT_GT(batches.last().last().id, first[0].id);
}

TEST_F(QFFSEventsTest, FirstChangeComesAtOnceAndLaterOnesAreGatheredForTheLatency)
{
    QDir().mkpath(root + QStringLiteral("/A"));
    QDir().mkpath(root + QStringLiteral("/B"));
    QDir().mkpath(root + QStringLiteral("/C"));
    events()->startWatchingPaths({ root }, 3.0);
    home.write(QStringLiteral("Watched/A/x"), "x");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !batches.isEmpty(); }, 2500))
        << "the first change after a quiet period is not held back";
    home.write(QStringLiteral("Watched/B/x"), "x");
    home.write(QStringLiteral("Watched/C/x"), "x");
    ASSERT_TRUE(QTest::qWaitFor([&] { return batches.size() >= 2; }, 10000));
    QStringList second;
    for (const QFFSEventRecord &record : batches[1])
        second << record.path;
    EXPECT_EQ(second, QStringList({ root + "/B/", root + "/C/" }));
}

TEST_F(QFFSEventsTest, FoldersCreatedOrMovedInLaterAreWatchedToo)
{
    events()->startWatchingPaths({ root }, 0.1);
    QDir().mkpath(root + QStringLiteral("/New/Deeper/Deepest"));
    ASSERT_TRUE(waitForPath(root + QStringLiteral("/New/Deeper/Deepest/")))
        << "folders made before their watch are reported";
    batches.clear();
    home.write(QStringLiteral("Watched/New/Deeper/Deepest/Cut.avb"), "x");
    EXPECT_TRUE(waitForPath(root + QStringLiteral("/New/Deeper/Deepest/")));

    QDir().mkpath(home.file(QStringLiteral("Outside/Inner")));
    ASSERT_TRUE(QDir().rename(home.file(QStringLiteral("Outside")), root + QStringLiteral("/Moved")));
    ASSERT_TRUE(waitForPath(root + QStringLiteral("/Moved/Inner/")));
    batches.clear();
    home.write(QStringLiteral("Watched/Moved/Inner/Cut.avb"), "x");
    EXPECT_TRUE(waitForPath(root + QStringLiteral("/Moved/Inner/")));

    // Moved out: no longer reported under its old path.
    ASSERT_TRUE(QDir().rename(root + QStringLiteral("/Moved"), home.file(QStringLiteral("Away"))));
    ASSERT_TRUE(waitForPath(root + u'/'));
    batches.clear();
    home.write(QStringLiteral("Away/Inner/Cut.avb"), "y");
    home.write(QStringLiteral("Watched/after.txt"), "x");
    ASSERT_TRUE(waitForPath(root + u'/'));
    EXPECT_FALSE(deliveredPaths().contains(root + QStringLiteral("/Moved/Inner/")));
}

TEST_F(QFFSEventsTest, HiddenAndExcludedFoldersAreNotWatched)
{
    QDir().mkpath(root + QStringLiteral("/.cache"));
    QDir().mkpath(root + QStringLiteral("/Store/Project"));
    events()->setExcludedPaths({ root + QStringLiteral("/Store") });
    events()->startWatchingPaths({ root }, 0.1);
    EXPECT_EQ(events()->watchedFolderCount(), 1);
    home.write(QStringLiteral("Watched/.cache/x"), "x");
    home.write(QStringLiteral("Watched/Store/Project/x"), "x");
    home.write(QStringLiteral("Watched/marker"), "x");
    ASSERT_TRUE(waitForPath(root + u'/'));
    const QStringList paths = deliveredPaths();
    EXPECT_EQ(QSet<QString>(paths.cbegin(), paths.cend()), QSet<QString>({ root + u'/' }));
    events()->setExcludedPaths({});
}

TEST_F(QFFSEventsTest, TenThousandFoldersAreWatchedWithoutMissingTheDeepest)
{
    QString deepest = root;
    for (int top = 0; top < 100; ++top) {
        const QString folder = root + QStringLiteral("/Reel %1").arg(top);
        for (int sub = 0; sub < 99; ++sub)
            ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/Take %1").arg(sub)));
    }
    deepest = root + QStringLiteral("/Reel 99/Take 98");
    for (int level = 0; level < 12; ++level)
        deepest += QStringLiteral("/Level %1").arg(level);
    ASSERT_TRUE(QDir().mkpath(deepest));

    events()->startWatchingPaths({ root }, 0.2);
    EXPECT_GE(events()->watchedFolderCount(), 10001);
    QFile file(deepest + QStringLiteral("/Cut.prproj"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("saved");
    file.close();
    EXPECT_TRUE(waitForPath(deepest + u'/'));
    EXPECT_EQ(deliveredPaths(), QStringList(deepest + u'/')) << "nothing else changed";
}

TEST_F(QFFSEventsTest, QueueOverflowReportsEveryWatchPathForARescan)
{
    const QString other = home.file(QStringLiteral("Other"));
    QDir().mkpath(other);
    QFile limitFile(QStringLiteral("/proc/sys/fs/inotify/max_queued_events"));
    ASSERT_TRUE(limitFile.open(QIODevice::ReadOnly));
    const int limit = limitFile.readAll().trimmed().toInt();
    ASSERT_GT(limit, 0);
    QDir().mkpath(root + QStringLiteral("/Flood"));
    events()->startWatchingPaths({ root, other }, 0.1);

    // The event loop does not run while the files are made, so the kernel's queue fills up.
    for (int i = 0; i < limit / 2 + 100; ++i) {
        QFile file(root + QStringLiteral("/Flood/f%1").arg(i));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (const auto &batch : batches) {
                for (const QFFSEventRecord &record : batch) {
                    if (record.flags == (QFFSEventRecord::MustScanSubDirs | QFFSEventRecord::KernelDropped))
                        return true;
                }
            }
            return false;
        },
        30000));
    QStringList rescanned;
    for (const auto &batch : batches) {
        for (const QFFSEventRecord &record : batch) {
            if (record.flag == QStringLiteral("0005"))
                rescanned << record.path;
        }
    }
    EXPECT_EQ(QSet<QString>(rescanned.cbegin(), rescanned.cend()), QSet<QString>({ root + u'/', other + u'/' }));
    const QStringList log = helperLogMessages(home);
    EXPECT_TRUE(
        log.contains(QStringLiteral("File system events: the event queue overflowed; rescanning the watch paths.")));
}

TEST_F(QFFSEventsTest, WatchLimitIsLoggedOnceAndTheRestIsStillWatched)
{
    for (int i = 0; i < 5; ++i)
        QDir().mkpath(root + QStringLiteral("/Sub %1").arg(i));
    int allowed = 3;
    QFFSEvents::setWatchAdder([&allowed](int fd, const QByteArray &path, quint32 mask) {
        if (allowed <= 0) {
            errno = ENOSPC;
            return -1;
        }
        --allowed;
        return inotify_add_watch(fd, path.constData(), mask);
    });
    events()->startWatchingPaths({ root }, 0.1);
    EXPECT_EQ(events()->watchedFolderCount(), 3);
    allowed = 1;
    events()->startWatchingPaths({ root }, 0.1);
    const QStringList log = helperLogMessages(home);
    const auto limitLines = std::count_if(log.cbegin(), log.cend(),
        [](const QString &line) { return line.startsWith(QStringLiteral("File system events: the limit of")); });
    EXPECT_EQ(limitLines, 1) << qPrintable(log.join(u'\n'));
    home.write(QStringLiteral("Watched/still.txt"), "x");
    EXPECT_TRUE(waitForPath(root + u'/')) << "the folders that got a watch still report";
}

TEST_F(QFFSEventsTest, AddingAndRemovingWatchPathsRestartsWithTheUnionOrTheRest)
{
    const QString a = home.file(QStringLiteral("A"));
    const QString b = home.file(QStringLiteral("B"));
    QDir().mkpath(a);
    QDir().mkpath(b);
    events()->startWatchingPaths({ root });
    events()->addWatchPaths({ a, root });
    events()->addWatchPaths({ b });
    EXPECT_EQ(events()->watchPaths(), QStringList({ root, a, b }));
    events()->removeWatchPaths({ a });
    EXPECT_EQ(events()->watchPaths(), QStringList({ root, b }));
    events()->stopWatching();
    events()->stopWatching();
    EXPECT_TRUE(events()->watchPaths().isEmpty());
    EXPECT_FALSE(events()->isWatching());
}
