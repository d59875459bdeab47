#include "helper/AppController.h"

#include "engine/QFTombrelBackup.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFHelperConnection.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFPropertyList.h"
#include "foundation/platform/QFRunningApplications.h"
#include "helper/QFApplicationWatcher.h"
#include "helper/QFScanQueue.h"
#include "tests/helper/HelperTestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>
#include <utime.h>

namespace {

using Operation = std::pair<QString, QString>;

const QString kProcess = QStringLiteral("processProjects");
const QString kProcessIn = QStringLiteral("processProjectsInPath");
const QString kPopulate = QStringLiteral("populateProjectsFromWatchFolders");

QString userName()
{
    struct passwd *pw = getpwuid(geteuid());
    return pw ? QString::fromUtf8(pw->pw_name) : QStringLiteral("tester");
}

QByteArray mountLine(int id, const QString &point)
{
    QByteArray escaped = QFile::encodeName(point);
    escaped.replace(" ", "\\040");
    return QByteArray::number(id) + " 1 8:1 / " + escaped + " rw,relatime shared:1 - ext4 /dev/sdb1 rw\n";
}

void setModificationTime(const QString &path, qint64 secondsAgo)
{
    struct utimbuf times;
    times.actime = times.modtime = time(nullptr) - secondsAgo;
    utime(QFile::encodeName(path).constData(), &times);
}

class AppControllerTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "the helper's tests need a private session bus";
        QFLog::createNewLog(QStringLiteral("HelperTest"));
        projects = home.file(QStringLiteral("Projects"));
        QDir().mkpath(projects);
        mountTable = mountLine(20, QStringLiteral("/")) + mountLine(21, QStringLiteral("/home"));
    }
    void TearDown() override
    {
        if (controller)
            controller->scanQueue()->waitUntilAllOperationsAreFinished(120000);
        controller.reset();
        QFFileManager::setWriteQuietPeriod(4000);
        QFLog::finishWriting();
    }

    AppControllerOptions options()
    {
        AppControllerOptions o;
        o.bundleIdentifier = QStringLiteral("com.quenfield.ProTombrelHelper.tests");
        o.singleInstance = false;
        o.registerService = false;
        o.systemBus = QDBusConnection::sessionBus();
        o.mountTable = [this] {
            QMutexLocker lock(&mountLock);
            return mountTable;
        };
        o.mountPollMs = 20;
        o.processPollMs = 60000;
        o.latency = 0.2;
        o.writeQuietMs = 300;
        return o;
    }

    // Creates the controller, records every operation it queues, and runs its set-up.
    void start(const AppControllerOptions &o)
    {
        controller = std::make_unique<AppController>(o);
        QObject::connect(controller->scanQueue(), &QFScanQueue::operationQueued, controller.get(),
            [this](const QString &name, const QString &argument) {
                queued << Operation { name, argument };
            });
        controller->setup();
    }
    void start() { start(options()); }

    bool waitUntilIdle(int timeoutMs = 60000)
    {
        return QTest::qWaitFor([&] { return controller->scanQueue()->operationCount() == 0; }, timeoutMs);
    }
    QStringList versionsOf(const QString &projectPath) const
    {
        for (const QFProjectListEntry &entry : QFProject::projectsInStorageRoot()) {
            if (entry.path == projectPath) {
                const QString folder = QFProject::storageRootFromPreferences()
                    + QStringLiteral("/%1.localized/Versions").arg(entry.projectID);
                return QDir(folder).entryList(QDir::Files, QDir::Name);
            }
        }
        return {};
    }
    int recordsFor(const QString &projectPath) const
    {
        int count = 0;
        for (const QFProjectListEntry &entry : QFProject::projectsInStorageRoot())
            count += entry.path == projectPath ? 1 : 0;
        return count;
    }
    int countOf(const QString &message) { return int(helperLogMessages(home).count(message)); }

    QFFSEventRecord event(const QString &path)
    {
        QFFSEventRecord record;
        record.id = ++nextId;
        record.path = path;
        record.flag = QStringLiteral("0000");
        record.date = QDateTime::currentDateTime();
        return record;
    }

    std::unique_ptr<AppController> controller;
    QList<Operation> queued;
    QString projects;
    QMutex mountLock;
    QByteArray mountTable;
    quint64 nextId = 0;
};

} // namespace

TEST_F(AppControllerTest, NoPreferenceFileGives630SecondsNoWatchFoldersAndAFullScan)
{
    start();
    ASSERT_NE(controller->backupTimer(), nullptr);
    EXPECT_EQ(controller->backupTimer()->interval(), 630 * 1000);
    EXPECT_TRUE(controller->backupTimer()->isActive());
    EXPECT_FALSE(controller->backupTimer()->isSingleShot());
    EXPECT_TRUE(QFFSEvents::sharedController()->watchPaths().isEmpty());
    EXPECT_EQ(queued, (QList<Operation> { { kProcess, QString() }, { kPopulate, QString() } }));
    ASSERT_TRUE(waitUntilIdle());
    const QStringList log = helperLogMessages(home);
    for (const char *line : { "Setting up...", "Watch paths: ()", "Beginning scheduled backup...",
             "Backup interval: 630", "Populating projects from folders: ()" }) {
        SCOPED_TRACE(line);
        EXPECT_TRUE(log.contains(QString::fromUtf8(line))) << qPrintable(log.join(u'\n'));
    }
}

TEST_F(AppControllerTest, UserIntervalAndWatchFoldersAreReadAtSetUp)
{
    writePreferences({ { "backupMinIntervalEnabled", 1 }, { "backupMinInterval", 5 },
        { "watchFolders",
            QVariantList { watchFolder(projects, "prproj"), watchFolder(home.file("Final Cut Projects"), "fcp") } } });
    start();
    EXPECT_EQ(controller->backupTimer()->interval(), 330 * 1000);
    EXPECT_EQ(QFFSEvents::sharedController()->watchPaths(), QStringList(projects));
    EXPECT_EQ(AppController::objectForPreferenceDictionaryKey("backupMinInterval").toLongLong(), 5);
    EXPECT_FALSE(AppController::objectForPreferenceDictionaryKey("missing").isValid());
}

TEST_F(AppControllerTest, ThreeUpdateConfigurationCallsLeaveOneTimerWithTheLastIntervalAndQueueThreeScans)
{
    AppControllerOptions o = options();
    o.registerService = true;
    start(o);
    ASSERT_TRUE(controller->serviceRegistered());
    ASSERT_TRUE(waitUntilIdle());
    queued.clear();

    for (int minutes : { 2, 3, 4 }) {
        writePreferences({ { "backupMinIntervalEnabled", 1 }, { "backupMinInterval", minutes } });
        // Over the bus, as the other programs call it; the reply comes once set-up has run.
        QFuture<bool> call = QtConcurrent::run([] { return QFHelperConnection::updateConfiguration(); });
        ASSERT_TRUE(QTest::qWaitFor([&] { return call.isFinished(); }, 30000));
        EXPECT_TRUE(call.result());
        EXPECT_EQ(controller->backupTimer()->interval(), (minutes * 60 + 30) * 1000);
    }
    const auto timers = controller->findChildren<QTimer *>(QStringLiteral("backupTimer"));
    ASSERT_EQ(timers.size(), 1);
    EXPECT_EQ(timers.first()->interval(), 270 * 1000);
    EXPECT_EQ(queued,
        (QList<Operation> { { kProcess, {} }, { kPopulate, {} }, { kProcess, {} }, { kPopulate, {} }, { kProcess, {} },
            { kPopulate, {} } }));
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(countOf("Processing projects..."), 4) << "the scans run one after another, the first one's included";

    // startBackupScan queues a full scan and returns; filesBackedUp announces new versions.
    queued.clear();
    QFuture<bool> scan = QtConcurrent::run([] { return QFHelperConnection::startBackupScan(); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return scan.isFinished(); }, 30000));
    EXPECT_TRUE(scan.result());
    EXPECT_EQ(queued, (QList<Operation> { { kProcess, {} }, { kPopulate, {} } }));
}

TEST_F(AppControllerTest, TheTimerQueuesAFullScanAtEveryInterval)
{
    AppControllerOptions o = options();
    o.timerSecondMs = 1; // 630 "seconds" of a millisecond each
    start(o);
    EXPECT_EQ(controller->backupTimer()->interval(), 630);
    ASSERT_TRUE(QTest::qWaitFor([&] { return queued.count({ kProcess, QString() }) >= 3; }, 20000));
    EXPECT_EQ(queued.mid(0, 4),
        (QList<Operation> { { kProcess, {} }, { kPopulate, {} }, { kProcess, {} }, { kPopulate, {} } }));
}

TEST_F(AppControllerTest, ABatchOfThreeEventsQueuesThreeBackupsAndOneSearchInThatOrder)
{
    start();
    ASSERT_TRUE(waitUntilIdle());
    queued.clear();
    controller->fileSystemEventsReceived({ event(projects + "/A/"), event(projects + "/B/"), event(projects + "/A/") });
    EXPECT_EQ(queued,
        (QList<Operation> { { kProcessIn, projects + "/A" }, { kProcessIn, projects + "/B" },
            { kProcessIn, projects + "/A" }, { kPopulate, projects + "/A/" } }));
}

TEST_F(AppControllerTest, EventsOnTheFoldersOfAProjectRestoredMomentsAgoAreIgnored)
{
    start();
    ASSERT_TRUE(waitUntilIdle());
    const QString restored = projects + QStringLiteral("/a.prproj");
    for (const int secondsAgo : { 5, 25 }) {
        SCOPED_TRACE(secondsAgo);
        writePreferences({ { "lastRestoredProject", restored },
            { "lastRestoreDate", QDateTime::currentDateTimeUtc().addSecs(-secondsAgo) } });
        queued.clear();
        const int ignoredBefore = countOf("Ignoring event due to recent project restore.");
        controller->fileSystemEventsReceived(
            { event(projects + "/"), event(home.path() + "/"), event(home.path() + "/Other/") });
        if (secondsAgo == 5) {
            EXPECT_EQ(queued,
                (QList<Operation> { { kProcessIn, home.path() + "/Other" }, { kPopulate, home.path() + "/Other/" } }));
            EXPECT_EQ(countOf("Ignoring event due to recent project restore."), ignoredBefore + 2);
        } else {
            EXPECT_EQ(queued,
                (QList<Operation> { { kProcessIn, projects }, { kProcessIn, home.path() },
                    { kProcessIn, home.path() + "/Other" }, { kPopulate, home.path() + "/Other/" } }));
        }
    }
    // The search is queued even when the last event was ignored.
    writePreferences({ { "lastRestoredProject", restored }, { "lastRestoreDate", QDateTime::currentDateTimeUtc() } });
    queued.clear();
    controller->fileSystemEventsReceived({ event(projects + "/") });
    EXPECT_EQ(queued, (QList<Operation> { { kPopulate, projects + "/" } }));
}

TEST_F(AppControllerTest, SavingAProjectInAWatchedFolderMakesItsVersionWithinSixSeconds)
{
    const QString path = home.write(QStringLiteral("Projects/Reel/Cut.prproj"), "first save");
    setModificationTime(path, 3600);
    writePreferences({ { "watchFolders", QVariantList { watchFolder(projects, "prproj") } } });
    QFProject::projectWithPath(path, std::nullopt);
    start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return versionsOf(path).size() == 1; }, 30000))
        << "the first scan makes version 1";
    ASSERT_TRUE(waitUntilIdle());

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("second save");
    file.close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return versionsOf(path).size() == 2; }, 6000))
        << qPrintable(helperLogMessages(home).join(u'\n'));
    EXPECT_EQ(versionsOf(path).last(), QStringLiteral("Cut.00002.prproj"));
}

TEST_F(AppControllerTest, ANewProjectFileInAWatchFolderGetsItsRecordAndANotification)
{
    FakeNotificationServer notifications;
    ASSERT_TRUE(notifications.isRegistered());
    QDir().mkpath(projects + QStringLiteral("/Known"));
    const QString known = home.write(QStringLiteral("Projects/Known/Old.prproj"), "old");
    setModificationTime(known, 3600);
    QFProject::projectWithPath(known, std::nullopt);
    writePreferences({ { "watchFolders", QVariantList { watchFolder(projects, "prproj") } } });
    const auto found = [&] {
        QList<ShownNotification> out;
        for (const ShownNotification &shown : notifications.shown()) {
            if (shown.title == QStringLiteral("Found new project"))
                out << shown;
        }
        return out;
    };
    start();
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_TRUE(found().isEmpty()) << "a known project is no news";

    const QString fresh = home.write(QStringLiteral("Projects/Known/New Edit.PRPROJ"), "new");
    ASSERT_TRUE(QTest::qWaitFor([&] { return recordsFor(fresh) == 1; }, 15000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !found().isEmpty(); }, 10000));
    const ShownNotification shown = found().first();
    EXPECT_EQ(shown.title, QStringLiteral("Found new project"));
    EXPECT_EQ(shown.description, QStringLiteral("New Edit.PRPROJ"));
    EXPECT_EQ(shown.hints.value("x-quenfield-notification-name").toString(), QStringLiteral("Backup successful"));
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(found().size(), 1);
    EXPECT_EQ(recordsFor(fresh), 1);
}

TEST_F(AppControllerTest, NoNotificationsWhenTheyAreSwitchedOff)
{
    FakeNotificationServer notifications;
    ASSERT_TRUE(notifications.isRegistered());
    home.write(QStringLiteral("Projects/Cut.prproj"), "x");
    writePreferences(
        { { "watchFolders", QVariantList { watchFolder(projects, "prproj") } }, { "showGrowlAlerts", 0 } });
    start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return recordsFor(projects + "/Cut.prproj") == 1; }, 15000));
    ASSERT_TRUE(waitUntilIdle());
    // A round trip through the bus shows that no notification is still on its way.
    QDBusConnection::sessionBus().interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications"));
    QCoreApplication::processEvents();
    for (const ShownNotification &shown : notifications.shown())
        EXPECT_NE(shown.title, QStringLiteral("Found new project"));
}

TEST_F(AppControllerTest, OverlappingWatchFoldersNeverMakeTwoRecordsForOneFile)
{
    const QString inner = projects + QStringLiteral("/Inner");
    writePreferences({ { "watchFolders",
        QVariantList { watchFolder(projects, "avb"), watchFolder(inner, "avb"), watchFolder(inner + "/", "AVB") } } });
    start();
    ASSERT_TRUE(waitUntilIdle());
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        const QString bin = home.write(QStringLiteral("Projects/Inner/Bin %1.avb").arg(round), "bin");
        controller->populateProjectsFromWatchFolders();
        EXPECT_EQ(recordsFor(bin), 1);
    }
}

TEST_F(AppControllerTest, TheFolderSearchFollowsTheFolderRules)
{
    const QStringList made = {
        home.write("Projects/Edit.PRPROJ", "x"),
        home.write("Projects/Lib.fcpbundle/Event/CurrentVersion.fcpevent", "x"),
    };
    const QStringList notMade = {
        home.write("Projects/Adobe Premiere Pro Auto-Save/Edit.prproj", "x"),
        home.write("Projects/Final Cut Backups/Edit.prproj", "x"), home.write("Projects/.hidden/Edit.prproj", "x"),
        home.write("Projects/Edit~12345678-1234-1234-1234-1234.prproj", "x"),
        home.write("Projects/Tool.app/Contents/Edit.prproj", "x"),
        home.write("Projects/.Edit.prproj", "x"), // its versions would be hidden
    };
    const QString deeper = home.write("Projects/Adobe Premiere Pro Auto-Save/Sub/Deep.prproj", "x");
    QDir().mkpath(projects + "/Linked");
    ASSERT_TRUE(QFile::link(projects, projects + "/Linked/Loop"));
    start();
    ASSERT_TRUE(waitUntilIdle());
    // The set-up's search had no watch folders; this one searches the folder directly.
    EXPECT_EQ(controller->addNewProjectsInFolder(projects, { "prproj", "fcpevent", "app" }, {}, false), 3);
    for (const QString &path : made)
        EXPECT_EQ(recordsFor(path), 1) << qPrintable(path);
    EXPECT_EQ(recordsFor(deeper), 1) << "subfolders of the auto-save folder are still searched";
    for (const QString &path : notMade)
        EXPECT_EQ(recordsFor(path), 0) << qPrintable(path);
    EXPECT_EQ(controller->addNewProjectsInFolder(projects, { "prproj", "fcpevent" }, {}, false), 0)
        << "found once only";
    EXPECT_EQ(controller->addNewProjectsInFolder(projects, {}, {}, false), 0) << "no types, no projects";
}

TEST_F(AppControllerTest, AMountedVolumeStartsTheSearchForItsMountPointOnly)
{
    const QString volume = QStringLiteral("/media/%1/Media").arg(userName());
    writePreferences({ { "watchFolders", QVariantList { watchFolder(volume, "avb"), watchFolder(projects, "avb") } },
        { "watchDriveFolders", QVariantList { watchFolder("Projects", "prproj") } } });
    start();
    ASSERT_TRUE(waitUntilIdle());
    queued.clear();
    {
        QMutexLocker lock(&mountLock);
        mountTable += mountLine(40, volume) + mountLine(41, QStringLiteral("/run/user/1000/doc"));
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !queued.isEmpty(); }, 10000));
    EXPECT_EQ(queued, (QList<Operation> { { kPopulate, volume } }));
    ASSERT_TRUE(waitUntilIdle());
    const QString expected
        = QStringLiteral("Populating projects from folders: ({extensions = \"avb\"; folder = \"%1\";})").arg(volume);
    EXPECT_EQ(countOf(expected), 1) << qPrintable(helperLogMessages(home).join(u'\n'));
    // A full scan covers the drive folder on the mounted volume.
    controller->beginScheduledBackup();
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(countOf(QStringLiteral("Populating projects from folders: ({extensions = \"avb\"; folder = \"%1\";}, "
                                     "{extensions = \"avb\"; folder = \"%2\";}, "
                                     "{extensions = \"prproj\"; folder = \"%1/Projects\";})")
                          .arg(volume, projects)),
        1);
}

TEST_F(AppControllerTest, OnlyTheEditorQuittingStartsAFullScan)
{
    start();
    ASSERT_TRUE(waitUntilIdle());
    queued.clear();
    controller->appTerminated(QStringLiteral("com.apple.FinalCutPro"));
    EXPECT_TRUE(queued.isEmpty());
    controller->appTerminated(QStringLiteral("com.apple.FinalCut"));
    EXPECT_EQ(queued, (QList<Operation> { { kProcess, {} }, { kPopulate, {} } }));
}

TEST_F(AppControllerTest, ARealEditorProcessEndingIsNoticed)
{
    // A stand-in editor: a copy of sleep inside a bundle with the editor's identifier.
    const QString bundle = home.file(QStringLiteral("Applications/Final Cut Pro.app"));
    QDir().mkpath(bundle + QStringLiteral("/Contents/MacOS"));
    QFPropertyList::write(bundle + QStringLiteral("/Contents/Info.plist"),
        QVariantMap { { "CFBundleIdentifier", "com.apple.FinalCut" } });
    const QString executable = bundle + QStringLiteral("/Contents/MacOS/Final Cut Pro");
    ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), executable));

    AppControllerOptions o = options();
    o.processPollMs = 50;
    start(o);
    ASSERT_TRUE(waitUntilIdle());
    QProcess editor;
    editor.start(executable, { QStringLiteral("300") });
    ASSERT_TRUE(editor.waitForStarted(10000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return QFRunningApplications::bundleIdentifierOfProcess(editor.processId()) == "com.apple.FinalCut"; },
        10000));
    controller->applicationWatcher()->refresh();
    queued.clear();
    editor.kill();
    ASSERT_TRUE(editor.waitForFinished(10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return queued.contains(Operation { kProcess, QString() }); }, 10000));
}

TEST_F(AppControllerTest, SystemEventsProduceTheirLogLinesAndNothingElse)
{
    FakeLogind logind;
    ASSERT_TRUE(logind.isRegistered());
    start();
    ASSERT_TRUE(waitUntilIdle());
    queued.clear();
    logind.prepareForSleep(true);
    logind.prepareForSleep(false);
    logind.prepareForShutdown(true);
    logind.setSessionActive(false);
    logind.setSessionActive(true);
    const QStringList expected = { "System event: entering sleep mode...", "System event: woke from sleep",
        "System event: shutdown.", "System event: user logged out.", "System event: user logged in." };
    ASSERT_TRUE(QTest::qWaitFor([&] { return countOf(expected.last()) == 1; }, 10000))
        << qPrintable(helperLogMessages(home).join(u'\n'));
    QStringList seen;
    for (const QString &line : helperLogMessages(home)) {
        if (line.startsWith(QStringLiteral("System event:")))
            seen << line;
    }
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(queued.isEmpty());
}

TEST_F(AppControllerTest, AQueueOverflowLeadsToARescanOfTheWatchPaths)
{
    QFile limitFile(QStringLiteral("/proc/sys/fs/inotify/max_queued_events"));
    ASSERT_TRUE(limitFile.open(QIODevice::ReadOnly));
    const int limit = limitFile.readAll().trimmed().toInt();
    QDir().mkpath(projects + QStringLiteral("/Flood"));
    writePreferences({ { "watchFolders", QVariantList { watchFolder(projects, "avb") } } });
    start();
    ASSERT_TRUE(waitUntilIdle());
    queued.clear();
    for (int i = 0; i < limit / 2 + 100; ++i) {
        QFile file(projects + QStringLiteral("/Flood/f%1").arg(i));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return queued.contains(Operation { kProcessIn, projects }); }, 30000));
}

TEST_F(AppControllerTest, ANewProjectIsVersionedAtItsFirstSave)
{
    writePreferences({ { "watchFolders", QVariantList { watchFolder(projects, "prproj") } } });
    start();
    ASSERT_TRUE(waitUntilIdle());
    // The save that makes the file is the only event it brings: the pass that registers it backs it up.
    const QString fresh = home.write(QStringLiteral("Projects/Reel/First.prproj"), "first save");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return versionsOf(fresh) == QStringList { QStringLiteral("First.00001.prproj") }; }, 30000))
        << qPrintable(helperLogMessages(home).join(u'\n'));
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(versionsOf(fresh).size(), 1) << "one first version, not one per pass";
}

TEST_F(AppControllerTest, AWatchFolderDeletedAndMadeAgainIsWatchedAgain)
{
    const QString folder = projects + QStringLiteral("/Watched");
    QDir().mkpath(folder);
    const QString missing = home.file(QStringLiteral("Later/Deeper"));
    writePreferences(
        { { "watchFolders", QVariantList { watchFolder(folder, "prproj"), watchFolder(missing, "prproj") } } });
    start();
    ASSERT_TRUE(waitUntilIdle());

    ASSERT_TRUE(QDir(folder).removeRecursively());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return countOf(
                       QStringLiteral("File system events: %1 does not exist; watching for it to appear.").arg(folder))
                == 1;
        },
        10000));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString fresh = home.write(QStringLiteral("Projects/Watched/Again.prproj"), "x");
    EXPECT_TRUE(QTest::qWaitFor([&] { return recordsFor(fresh) == 1; }, 15000))
        << qPrintable(helperLogMessages(home).join(u'\n'));
    EXPECT_EQ(countOf(QStringLiteral("File system events: %1 is back; watching it again.").arg(folder)), 1);

    // One moved away leaves its name to the folder made in its place.
    ASSERT_TRUE(QDir().rename(folder, projects + QStringLiteral("/Moved")));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return countOf(
                       QStringLiteral("File system events: %1 does not exist; watching for it to appear.").arg(folder))
                == 2;
        },
        10000));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString third = home.write(QStringLiteral("Projects/Watched/Third.prproj"), "x");
    EXPECT_TRUE(QTest::qWaitFor([&] { return recordsFor(third) == 1; }, 15000))
        << qPrintable(helperLogMessages(home).join(u'\n'));

    // A watch folder that did not exist at the start is watched once it is made, however deep.
    const QString late = home.write(QStringLiteral("Later/Deeper/Late.prproj"), "x");
    EXPECT_TRUE(QTest::qWaitFor([&] { return recordsFor(late) == 1; }, 15000))
        << qPrintable(helperLogMessages(home).join(u'\n'));
}

TEST_F(AppControllerTest, LinkedFoldersAreSearchedOnceEach)
{
    const QString elsewhere = home.file(QStringLiteral("Elsewhere"));
    const QString linked = home.write(QStringLiteral("Elsewhere/Linked.prproj"), "x");
    home.write(QStringLiteral("Projects/Own.prproj"), "x");
    ASSERT_TRUE(QFile::link(elsewhere, projects + QStringLiteral("/Shortcut")));
    ASSERT_TRUE(QFile::link(elsewhere, projects + QStringLiteral("/Second shortcut")));
    ASSERT_TRUE(QFile::link(projects, elsewhere + QStringLiteral("/Back up the tree")));
    start();
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(controller->addNewProjectsInFolder(projects, { "prproj" }, {}, false), 2);
    EXPECT_EQ(recordsFor(QFileInfo(linked).canonicalFilePath()), 1) << "known by its real path";
    EXPECT_EQ(QFProject::projectsInStorageRoot().size(), 2);
}

TEST_F(AppControllerTest, StoppingEndsTheScanUnderWayAndDropsTheQueue)
{
    // A file that never falls quiet holds a scan for up to ten minutes.
    const QString busy = home.write(QStringLiteral("Projects/Busy.prproj"), "x");
    QFProject::projectWithPath(busy, std::nullopt);
    {
        QFile file(busy);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(3600), QFileDevice::FileModificationTime));
    }
    start();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return countOf(QStringLiteral("File %1 is currently being written to. Waiting...").arg(busy)) == 1; },
        15000));
    for (int i = 0; i < 5; ++i)
        controller->beginScheduledBackup();

    controller->applicationWillTerminate();
    EXPECT_TRUE(waitUntilIdle(20000)) << "the stop does not wait for the scan";
    EXPECT_EQ(
        countOf(QStringLiteral("File %1 is still being written to; no longer waiting because the program is ending.")
                    .arg(busy)),
        1);
    EXPECT_TRUE(versionsOf(busy).isEmpty());
}
