#include "engine/QFTombrelBackup.h"

#include "engine/QFProjectActions.h"
#include "foundation/QFAppRequest.h"
#include "foundation/QFAppleEvents.h"
#include "foundation/QFClock.h"
#include "foundation/QFFileManager.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFPropertyList.h"
#include "foundation/QFLog.h"
#include "tests/support/QFFullDisk.h"
#include "tests/support/QFRecordingApplication.h"
#include "tests/support/QFTempHome.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>

using Builder = QFVersionStoreBuilder;

// Stands in for the desktop's notification service and listens for the engine's signal.
class BusRecorder : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList notifications;
    int filesBackedUp = 0;

public Q_SLOTS:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body,
        const QStringList &, const QVariantMap &hints, int)
    {
        notifications << summary + QStringLiteral(" | ") + body + QStringLiteral(" | ")
                + hints.value(QStringLiteral("x-quenfield-notification-name")).toString();
        return uint(notifications.size());
    }
    void onFilesBackedUp() { ++filesBackedUp; }
};

namespace {

const QString kLogName = QStringLiteral("BackupTest");

class QFBackupCreationTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "these tests need a private session bus";
        QDBusConnection bus = QDBusConnection::sessionBus();
        ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));
        ASSERT_TRUE(bus.registerObject(
            QStringLiteral("/org/freedesktop/Notifications"), &recorder, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(bus.connect(QString(), QStringLiteral("/com/quenfield/ProTombrel"),
            QStringLiteral("com.quenfield.ProTombrel"), QStringLiteral("QFProTombrelFilesBackedUp"), &recorder,
            SLOT(onFilesBackedUp())));
        QFLog::createNewLog(kLogName);
        qunsetenv("DISPLAY");
        qunsetenv("WAYLAND_DISPLAY");
    }
    void TearDown() override
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.disconnect(QString(), QStringLiteral("/com/quenfield/ProTombrel"),
            QStringLiteral("com.quenfield.ProTombrel"), QStringLiteral("QFProTombrelFilesBackedUp"), &recorder,
            SLOT(onFilesBackedUp()));
        bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
        bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        if (m_editor.state() != QProcess::NotRunning) {
            m_editor.terminate();
            m_editor.waitForFinished(10000);
        }
        QFAppleEvents::setReplyTimeout(0);
        QFLog::finishWriting();
    }

    // Everything posted on the bus so far has arrived once our own marker has.
    void drainBus()
    {
        QDBusConnection::sessionBus().send(QDBusMessage::createSignal(QStringLiteral("/com/quenfield/ProTombrel"),
            QStringLiteral("com.quenfield.ProTombrel"), QStringLiteral("QFProTombrelFilesBackedUp")));
        const int before = m_marks++;
        ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.filesBackedUp > before + m_engineSignals(); }, 10000));
    }
    std::function<int()> m_engineSignals = [] { return 0; };

    QStringList logMessages() const { return home.logMessages(kLogName); }

    void startEditor(const QStringList &openProjects, const QByteArray &xml)
    {
        const QString state = home.file(QStringLiteral("editor"));
        QDir().mkpath(state);
        home.write(QStringLiteral("editor/open.txt"), (openProjects.join(u'\n') + u'\n').toUtf8());
        home.write(QStringLiteral("editor/eXML.xml"), xml);
        home.write(QStringLiteral("editor/gXML.xml"), xml);
        m_editor.start(supportProgram(QStringLiteral("qf_fake_editor")), { QStringLiteral("--state"), state });
        ASSERT_TRUE(m_editor.waitForStarted(10000));
        ASSERT_TRUE(QTest::qWaitFor([] { return QFAppleEvents::isFCPRunning(); }, 10000));
        QFAppleEvents::setReplyTimeout(10000);
    }

    void writeProject(const QString &path, const QByteArray &content,
        const QDateTime &modified = QDateTime::currentDateTime().addSecs(-60))
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();
        Builder::setModified(path, modified);
    }

    BusRecorder recorder;
    QFTombrelBackup engine;
    QProcess m_editor;
    int m_marks = 0;
};

} // namespace

TEST_F(QFBackupCreationTest, NamingAndNumbering)
{
    EXPECT_EQ(QFTombrelBackup::padNumber(7), QStringLiteral("00007"));
    EXPECT_EQ(QFTombrelBackup::padNumber(99999), QStringLiteral("99999"));
    EXPECT_EQ(QFTombrelBackup::padNumber(123456), QStringLiteral("123456"));
    EXPECT_EQ(QFTombrelBackup::baseNameForPath(QStringLiteral("/a/Cut.00007.fcp")), QStringLiteral("Cut"));
    EXPECT_EQ(QFTombrelBackup::baseNameForPath(QStringLiteral("/a/My.Cut.prproj")), QStringLiteral("My"));
    EXPECT_EQ(QFTombrelBackup::versionNumberOfFile(QStringLiteral("Cut.00007.fcp")), 7);
    EXPECT_FALSE(QFTombrelBackup::versionNumberOfFile(QStringLiteral("Cut.fcp")).has_value());

    const QString project = home.file(QStringLiteral("Projects/Cut.prproj"));
    writeProject(project, "seven");
    const QString folder = Builder::addProject(project, QStringLiteral("N1"));
    Builder::addVersions(folder, { VersionSpec { QStringLiteral("Cut.00007.prproj"), {}, "old seven" } });
    QString created;
    EXPECT_FALSE(engine.backupProjectFile(project, folder + QStringLiteral("/Versions"), 7, &created).has_value());
    EXPECT_EQ(QFileInfo(created).fileName(), QStringLiteral("Cut.00008.prproj"));
    EXPECT_EQ(QFileInfo(created).lastModified(), QFileInfo(project).lastModified())
        << "a version keeps its project's date";
    // Dates compared by the scan and retention: the same instant as the file's date, to the millisecond,
    // links followed; none for a missing file.
    ASSERT_TRUE(QFile::link(created, home.file(QStringLiteral("Projects/link.prproj"))));
    EXPECT_EQ(QFTombrelBackup::modificationTime(created), QFileInfo(created).lastModified().toMSecsSinceEpoch());
    EXPECT_EQ(QFTombrelBackup::modificationTime(home.file(QStringLiteral("Projects/link.prproj"))),
        QFTombrelBackup::modificationTime(created));
    EXPECT_FALSE(QFTombrelBackup::modificationTime(home.file(QStringLiteral("Projects/none.prproj"))).has_value());

    // An empty project file gives no version and no notification.
    writeProject(project, "");
    const auto skipped = engine.backupProjectFile(project, folder + QStringLiteral("/Versions"), 9);
    ASSERT_TRUE(skipped.has_value());
    EXPECT_TRUE(skipped->isSkipMarker());
    engine.backupProject(project, folder + QStringLiteral("/Versions"), 9, QString());
    EXPECT_EQ(Builder::versionNames(folder),
        (QStringList { QStringLiteral("Cut.00007.prproj"), QStringLiteral("Cut.00008.prproj") }));
    drainBus();
    EXPECT_TRUE(recorder.notifications.isEmpty());

    // A path with a tilde is read from the home folder.
    writeProject(project, "tilde");
    engine.backupProject(QStringLiteral("~/Projects/Cut.prproj"), folder + QStringLiteral("/Versions"), 9, QString());
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/Versions/Cut.00009.prproj")));
    drainBus();
    EXPECT_EQ(
        recorder.notifications, QStringList { QStringLiteral("Project backed up | Cut.prproj | Backup successful") });
}

TEST_F(QFBackupCreationTest, MinimumIntervalUnlessForced)
{
    Builder::setPreferences({ { QStringLiteral("backupMinIntervalEnabled"), qint64(1) },
        { QStringLiteral("backupMinInterval"), qint64(15) } });
    const QString project = home.file(QStringLiteral("Projects/Cut.prproj"));
    writeProject(project, "new");
    const QString folder = Builder::addProject(project, QStringLiteral("M1"));
    Builder::addVersions(
        folder, { VersionSpec { QStringLiteral("Cut.00001.prproj"), QDateTime::currentDateTime().addSecs(-600) } });
    const QString versions = folder + QStringLiteral("/Versions");
    engine.backupProject(project, versions, 2, QString());
    EXPECT_EQ(Builder::versionNames(folder).size(), 1);
    EXPECT_TRUE(logMessages().contains(
        qfFormat("Backup skipped for %@ because a backup occurred less than %i minute(s) ago.", project, 15)));
    engine.backupProject(project, versions, 2, QString(), false, true);
    EXPECT_EQ(Builder::versionNames(folder).size(), 2);
}

TEST_F(QFBackupCreationTest, DuplicatesGoWithTheirCompanionAndCapture)
{
    const QString project = home.file(QStringLiteral("Projects/Cut.fcp"));
    writeProject(project, "same");
    const QString folder = Builder::addProject(project, QStringLiteral("D1"));
    Builder::addVersions(folder,
        {
            VersionSpec { QStringLiteral("Cut.00004.fcp"), {}, "same" },
            VersionSpec { QStringLiteral("Cut.00005.fcp"), {}, "same" },
            VersionSpec { QStringLiteral("Screenshots/Cut.00005.jpg"), {}, "jpg" },
        });
    EXPECT_TRUE(engine.removeLastDuplicateForProject(folder + QStringLiteral("/Versions")));
    EXPECT_EQ(Builder::versionNames(folder), QStringList { QStringLiteral("Cut.00004.fcp") });
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/Screenshots/Cut.00005.jpg")));

    Builder::addVersions(folder, { VersionSpec { QStringLiteral("Cut.00005.fcp"), {}, "different" } });
    EXPECT_FALSE(engine.removeLastDuplicateForProject(folder + QStringLiteral("/Versions")));
    // A Premiere project is never thinned of duplicates: every save is a version.
    const QString other = home.file(QStringLiteral("Projects/Other.prproj"));
    writeProject(other, "same");
    const QString otherFolder = Builder::addProject(other, QStringLiteral("D2"));
    engine.backupProject(other, otherFolder + QStringLiteral("/Versions"), 1, QString());
    engine.backupProject(other, otherFolder + QStringLiteral("/Versions"), 2, QString());
    EXPECT_EQ(Builder::versionNames(otherFolder).size(), 2);
}

TEST_F(QFBackupCreationTest, XmlCompanionsFollowTheGapAndSizeRules)
{
    const QString project = home.file(QStringLiteral("Projects/Edit.fcp"));
    writeProject(project, "v0");
    startEditor(
        { project }, "<?xml version=\"1.0\"?><xmeml version=\"5\"><project><name>Edit</name></project></xmeml>");
    const QString folder = Builder::addProject(project, QStringLiteral("X1"));
    const QString versions = folder + QStringLiteral("/Versions");

    const auto companions = [&] {
        QStringList out;
        for (const QString &name : Builder::versionNames(folder)) {
            if (name.endsWith(QLatin1String(".xml")))
                out << name.section(u'.', 1, 1);
        }
        return out;
    };
    const struct {
        qint64 xmlLimit;
        QStringList expected;
    } cases[] = {
        { 1, { QStringLiteral("00003"), QStringLiteral("00006"), QStringLiteral("00009") } },
        { 3, { QStringLiteral("00002"), QStringLiteral("00004"), QStringLiteral("00006"), QStringLiteral("00008") } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.xmlLimit);
        QDir(versions).removeRecursively();
        Builder::setPreferences(
            { { QStringLiteral("generateFCPXML"), qint64(1) }, { QStringLiteral("xmlLimit"), c.xmlLimit } });
        for (int n = 1; n <= 9; ++n) {
            writeProject(project, QByteArray("content ") + QByteArray::number(n));
            engine.backupProject(project, versions, n, QString());
        }
        EXPECT_EQ(companions(), c.expected);
    }
    // The companion is the editor's document, and carries the project's date and type code.
    const QString xml = versions + QStringLiteral("/Edit.00008.xml");
    QFile file(xml);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("<name>Edit</name>"));
    EXPECT_EQ(QFileInfo(xml).lastModified(), QFileInfo(versions + QStringLiteral("/Edit.00008.fcp")).lastModified());

    // Above the size limit only a chosen sequence is exported.
    QDir(versions).removeRecursively();
    Builder::setPreferences(
        { { QStringLiteral("generateFCPXML"), qint64(1) }, { QStringLiteral("xmlLimit"), qint64(1) } });
    writeProject(project, QByteArray(1536 * 1024, 'x'));
    Builder::addVersions(folder,
        { VersionSpec { QStringLiteral("Edit.00001.fcp"), {}, "a" },
            VersionSpec { QStringLiteral("Edit.00002.fcp"), {}, "b" } });
    engine.backupProject(project, versions, 3, QString());
    EXPECT_TRUE(companions().isEmpty());
    EXPECT_TRUE(logMessages().contains(QStringLiteral("Skipping XML backup - file size limit met.")));
    writeProject(project, QByteArray(1536 * 1024, 'y'));
    Builder::addVersions(folder,
        { VersionSpec { QStringLiteral("Edit.00004.fcp"), {}, "c" },
            VersionSpec { QStringLiteral("Edit.00005.fcp"), {}, "d" } });
    engine.backupProject(project, versions, 6, QStringLiteral("SEQ-UUID"));
    EXPECT_EQ(companions(), QStringList { QStringLiteral("00006") });

    // With generateFCPXML off there is no export at all, unless forced.
    QDir(versions).removeRecursively();
    Builder::setPreferences({ { QStringLiteral("generateFCPXML"), qint64(0) } });
    writeProject(project, "small");
    engine.backupProject(project, versions, 1, QString());
    EXPECT_TRUE(companions().isEmpty());
    EXPECT_TRUE(logMessages().contains(QStringLiteral("XML backups disabled - skipping...")));
    writeProject(project, "small and forced");
    engine.backupProject(project, versions, 2, QString(), false, true);
    EXPECT_EQ(companions(), QStringList { QStringLiteral("00002") });
}

TEST_F(QFBackupCreationTest, AWantedNumberInUseNeverReplacesAnotherVersionsCompanion)
{
    const QString project = home.file(QStringLiteral("Projects/Edit.fcp"));
    writeProject(project, "eight");
    startEditor({ project }, "<xmeml version=\"5\"><project><name>new</name></project></xmeml>");
    Builder::setPreferences(
        { { QStringLiteral("generateFCPXML"), qint64(1) }, { QStringLiteral("xmlLimit"), qint64(5) } });
    const QString folder = Builder::addProject(project, QStringLiteral("X2"));
    Builder::addVersions(folder,
        { VersionSpec { QStringLiteral("Edit.00007.fcp"), {}, "seven" },
            VersionSpec { QStringLiteral("Edit.00007.xml"), {}, "<old/>" } });
    engine.backupProject(project, folder + QStringLiteral("/Versions"), 7, QString());
    QFile old(folder + QStringLiteral("/Versions/Edit.00007.xml"));
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("<old/>"));
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/Versions/Edit.00008.fcp")));
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/Versions/Edit.00008.xml")));
}

TEST_F(QFBackupCreationTest, ScanOfTwelveProjectsTellsTheFirstThreeAndSignalsAfterTheTenthAndAtTheEnd)
{
    for (int i = 1; i <= 12; ++i) {
        const QString project = home.file(QStringLiteral("Projects/P%1.prproj").arg(i, 2, 10, QLatin1Char('0')));
        writeProject(project, "new " + QByteArray::number(i), QDateTime::currentDateTime().addSecs(-30));
        const QString folder = Builder::addProject(project, QStringLiteral("S%1").arg(i, 2, 10, QLatin1Char('0')));
        Builder::addVersions(folder,
            { VersionSpec { QStringLiteral("P%1.00001.prproj").arg(i, 2, 10, QLatin1Char('0')),
                QDateTime::currentDateTime().addSecs(-3600), "old" } });
    }
    engine.processProjects();
    m_engineSignals = [] { return 2; };
    drainBus();
    EXPECT_EQ(recorder.filesBackedUp, 3) << "after the tenth, at the end, and our marker";
    EXPECT_EQ(recorder.notifications.size(), 3);
    for (const QString &n : std::as_const(recorder.notifications))
        EXPECT_TRUE(n.startsWith(QStringLiteral("Project backed up | P"))) << qPrintable(n);
    for (int i = 1; i <= 12; ++i)
        EXPECT_TRUE(QFileInfo::exists(QFProject::storageRootFromPreferences()
            + QStringLiteral("/S%1.localized/Versions/P%1.00002.prproj").arg(i, 2, 10, QLatin1Char('0'))));
}

TEST_F(QFBackupCreationTest, WideCapturesAreStored1024Wide)
{
    // A capture tool that "photographs" a prepared picture.
    const QString bin = home.file(QStringLiteral("bin"));
    QDir().mkpath(bin);
    const QString picture = home.file(QStringLiteral("screen.jpg"));
    QImage wide(2880, 1800, QImage::Format_RGB32);
    wide.fill(Qt::darkCyan);
    ASSERT_TRUE(wide.save(picture, "JPEG"));
    const QString tool = home.write(QStringLiteral("bin/scrot"),
        "#!/bin/sh\nfor a; do last=\"$a\"; done\ncp \"" + QFile::encodeName(picture) + "\" \"$last\"\n");
    QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin) + ':' + path);
    qputenv("DISPLAY", ":99");

    const QString project = home.file(QStringLiteral("Projects/Cut.prproj"));
    writeProject(project, "x");
    const QString folder = Builder::addProject(project, QStringLiteral("C1"));
    engine.backupProject(project, folder + QStringLiteral("/Versions"), 1, QString());
    qputenv("PATH", path);

    QImageReader reader(folder + QStringLiteral("/Screenshots/Cut.00001.jpg"));
    EXPECT_EQ(reader.size(), QSize(1024, 640));

    // Without a display there is no capture, and the backup goes on.
    qunsetenv("DISPLAY");
    writeProject(project, "y");
    engine.backupProject(project, folder + QStringLiteral("/Versions"), 2, QString());
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/Versions/Cut.00002.prproj")));
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/Screenshots/Cut.00002.jpg")));
}

TEST_F(QFBackupCreationTest, AnOfflineDriveOrDisabledNotificationsAreRespected)
{
    const QString project = home.file(QStringLiteral("Projects/Cut.prproj"));
    writeProject(project, "x");
    QFFileManager::setMountTableReader([] { return QByteArray("22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"); });
    const QString offline
        = QStringLiteral("/mnt/qf-offline-%1/Projects/ID.localized/Versions").arg(QCoreApplication::applicationPid());
    engine.backupProject(project, offline, 1, QString());
    QFFileManager::setMountTableReader({});
    EXPECT_FALSE(QFileInfo::exists(offline.section(u'/', 0, 2)));
    EXPECT_TRUE(logMessages().contains(QStringLiteral("Unable to backup - destination drive not mounted.")));
    drainBus();
    EXPECT_EQ(recorder.notifications,
        QStringList { QStringLiteral("Project backup failed | Drive is offline. | Backup failed") });

    // Switched off for the whole maker: nothing is shown, the backup is made all the same.
    recorder.notifications.clear();
    ASSERT_TRUE(QFPropertyList::write(home.file(QStringLiteral(".config/com.quenfield.global.plist")),
        QVariantMap { { QStringLiteral("growlDisabled"), true } }));
    const QString folder = Builder::addProject(project, QStringLiteral("G1"));
    engine.backupProject(project, folder + QStringLiteral("/Versions"), 1, QString());
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/Versions/Cut.00001.prproj")));
    // Or only for backups, in the product's preferences.
    QFile::remove(home.file(QStringLiteral(".config/com.quenfield.global.plist")));
    Builder::setPreferences({ { QStringLiteral("showGrowlAlerts"), qint64(0) } });
    writeProject(project, "y");
    engine.backupProject(project, folder + QStringLiteral("/Versions"), 2, QString());
    drainBus();
    EXPECT_TRUE(recorder.notifications.isEmpty());
}

TEST_F(QFBackupCreationTest, AVersionGoesToDropboxOnlyOnceTheDuplicateTestHasKeptIt)
{
    // The helper hands uploads to the application beside its bundle; this one writes its arguments down.
    const QFRecordingApplication application(home);
    const auto recorded = [&] { return application.arguments(); };
    Builder::setPreferences({ { QStringLiteral("syncService"), qint64(1) } });

    const QString project = home.file(QStringLiteral("Projects/Cut.fcp"));
    writeProject(project, "same");
    const QString folder = Builder::addProject(project, QStringLiteral("U1"));
    const QString versions = folder + QStringLiteral("/Versions");
    Builder::addVersions(folder, { VersionSpec { QStringLiteral("Cut.00001.fcp"), {}, "same" } });
    engine.backupProject(project, versions, 2, QString());
    EXPECT_EQ(Builder::versionNames(folder), QStringList { QStringLiteral("Cut.00001.fcp") }) << "the duplicate went";

    writeProject(project, "changed");
    engine.backupProject(project, versions, 3, QString());
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return recorded().contains(versions + QStringLiteral("/Cut.00003.fcp")); }, 10000));
    EXPECT_EQ(recorded(), (QStringList { QStringLiteral("-upload"), versions + QStringLiteral("/Cut.00003.fcp") }))
        << "no upload of the version the duplicate test threw away";
}

TEST_F(QFBackupCreationTest, AVersionThatCannotBeHandedOverIsLeftForTheApplicationsNextUpload)
{
    // No application beside this program: every start fails.
    QFBundle::setMainBundlePath(home.file(QStringLiteral("Apps/Pro Tombrel.app/Contents/MacOS/ProTombrelHelper.app")));
    QFAppRequest::setRetryPause(1);
    Builder::setPreferences({ { QStringLiteral("syncService"), qint64(1) } });
    const QString project = home.file(QStringLiteral("Projects/Cut.prproj"));
    writeProject(project, "one");
    const QString folder = Builder::addProject(project, QStringLiteral("U2"));
    engine.backupProject(project, folder + QStringLiteral("/Versions"), 1, QString());
    QFAppRequest::setRetryPause(2000);
    QFBundle::setMainBundlePath(QString());
    EXPECT_EQ(Builder::versionNames(folder), QStringList { QStringLiteral("Cut.00001.prproj") });
    EXPECT_EQ(QFProjectActions::takePendingUploads(), QStringList { folder });
    EXPECT_TRUE(QFProjectActions::takePendingUploads().isEmpty()) << "taken once";
}

TEST_F(QFBackupCreationTest, AFileDatedInTheFutureIsVersionedOnceItHoldsStillAndLaterSavesStillCount)
{
    const QString project = home.file(QStringLiteral("Projects/Cut.prproj"));
    writeProject(project, "from a machine with a fast clock", QDateTime::currentDateTime().addDays(1));
    const QString folder = Builder::addProject(project, QStringLiteral("F1"));
    const QString versions = folder + QStringLiteral("/Versions");
    {
        SCOPED_TRACE("the wait for writes");
        // Every reading of the clock is a second later: the wait sees its four seconds pass without
        // sleeping them.
        std::atomic<qint64> now { QDateTime::currentMSecsSinceEpoch() };
        QFClock::setSource([&] { return now += 1000; });
        QString created;
        const auto error = engine.backupProjectFile(project, versions, 1, &created);
        QFClock::setSource({});
        EXPECT_FALSE(error.has_value());
        EXPECT_EQ(QFileInfo(created).fileName(), QStringLiteral("Cut.00001.prproj"));
        EXPECT_TRUE(logMessages().contains(QStringLiteral("File %1 finished writing.").arg(project)));
    }
    {
        SCOPED_TRACE("a save dated today after a version dated tomorrow");
        writeProject(project, "saved today", QDateTime::currentDateTime().addSecs(-60));
        engine.processProjects();
        EXPECT_TRUE(QFileInfo::exists(versions + QStringLiteral("/Cut.00002.prproj")))
            << qPrintable(Builder::versionNames(folder).join(u' '));
    }
    {
        SCOPED_TRACE("the minimum interval is not measured from tomorrow");
        Builder::setPreferences({ { QStringLiteral("backupMinIntervalEnabled"), qint64(1) },
            { QStringLiteral("backupMinInterval"), qint64(15) } });
        Builder::addVersions(folder,
            { VersionSpec {
                QStringLiteral("Cut.00003.prproj"), QDateTime::currentDateTime().addDays(1), "tomorrow" } });
        writeProject(project, "and today again", QDateTime::currentDateTime().addSecs(-60));
        engine.processProjects();
        EXPECT_TRUE(QFileInfo::exists(versions + QStringLiteral("/Cut.00004.prproj")))
            << qPrintable(Builder::versionNames(folder).join(u' '));
    }
}

#include "QFBackupCreationTest.moc"

TEST_F(QFBackupCreationTest, ALinkedProjectFileIsVersionedByWhatItNames)
{
    const QString real = home.file(QStringLiteral("Shared/Cut.prproj"));
    writeProject(real, "first state");
    const QString link = home.file(QStringLiteral("Projects/Cut.prproj"));
    QDir().mkpath(QFileInfo(link).absolutePath());
    ASSERT_TRUE(QFile::link(real, link));
    const QString folder = Builder::addProject(link, QStringLiteral("L1"));
    QString created;
    ASSERT_FALSE(engine.backupProjectFile(link, folder + QStringLiteral("/Versions"), 1, &created).has_value());

    writeProject(real, "today's state");
    const QFileInfo version(created);
    EXPECT_FALSE(version.isSymLink()) << "a version holds content, not a link to the live file";
    QFile file(created);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("first state"));
}

TEST_F(QFBackupCreationTest, AProjectNamedLikeAHiddenFileGetsNoHiddenVersion)
{
    const QString project = home.file(QStringLiteral("Projects/.hidden.prproj"));
    writeProject(project, "content");
    const QString folder = Builder::addProject(project, QStringLiteral("H1"));
    const QString versions = folder + QStringLiteral("/Versions");
    const auto refused = engine.backupProjectFile(project, versions, 1);
    ASSERT_TRUE(refused.has_value());
    EXPECT_FALSE(refused->isSkipMarker()) << "the refusal is told, not skipped silently";
    EXPECT_TRUE(refused->description.contains(QStringLiteral("begins with \".\""))) << qPrintable(refused->description);
    engine.processProjects();
    EXPECT_EQ(QDir(versions).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList())
        << "neither a backup nor a scan writes a version that no listing shows";
}

TEST_F(QFBackupCreationTest, ABackupTellsWhatItMadeOrWhyItMadeNone)
{
    using Outcome = QFBackupResult::Outcome;
    const QString project = home.file(QStringLiteral("Projects/Cut.fcp"));
    writeProject(project, "one");
    const QString folder = Builder::addProject(project, QStringLiteral("R1"));
    const QString versions = folder + QStringLiteral("/Versions");
    // With a preference file that does not ask for XML copies, no editor is asked for one.
    Builder::setPreferences({ { QStringLiteral("backupMinIntervalEnabled"), qint64(1) },
        { QStringLiteral("backupMinInterval"), qint64(15) } });
    {
        SCOPED_TRACE("no project file");
        const QFBackupResult result
            = engine.backupProject(home.file(QStringLiteral("Projects/None.fcp")), versions, 1, QString());
        EXPECT_EQ(result.outcome, Outcome::SourceMissing);
        EXPECT_FALSE(result.made());
        EXPECT_TRUE(result.version.isEmpty());
        EXPECT_FALSE(result.reason.isEmpty());
    }
    {
        SCOPED_TRACE("made");
        const QFBackupResult result = engine.backupProject(project, versions, 1, QString());
        EXPECT_EQ(result.outcome, Outcome::Made) << qPrintable(result.reason);
        EXPECT_TRUE(result.made());
        EXPECT_EQ(result.project, project);
        EXPECT_EQ(result.version, versions + QStringLiteral("/Cut.00001.fcp"));
        EXPECT_EQ(result.number, 1);
        EXPECT_TRUE(result.xmlCopy.isEmpty());
    }
    {
        SCOPED_TRACE("skipped by the minimum interval");
        writeProject(project, "two");
        const QFBackupResult result = engine.backupProject(project, versions, 2, QString());
        EXPECT_EQ(result.outcome, Outcome::SkippedByRule);
        EXPECT_TRUE(result.reason.contains(QStringLiteral("15 minute"))) << qPrintable(result.reason);
    }
    {
        SCOPED_TRACE("skipped: an empty project file");
        writeProject(project, "");
        const QFBackupResult result = engine.backupProject(project, versions, 2, QString(), false, true);
        EXPECT_EQ(result.outcome, Outcome::SkippedByRule);
        EXPECT_TRUE(result.reason.contains(QStringLiteral("empty"))) << qPrintable(result.reason);
    }
    Builder::setPreferences({ { QStringLiteral("takeScreenshots"), qint64(0) } });
    {
        SCOPED_TRACE("identical to the version before");
        writeProject(project, "one");
        const QFBackupResult result = engine.backupProject(project, versions, 2, QString());
        EXPECT_EQ(result.outcome, Outcome::IdenticalToPrevious) << qPrintable(result.reason);
        EXPECT_TRUE(result.version.isEmpty());
        EXPECT_EQ(Builder::versionNames(folder), QStringList { QStringLiteral("Cut.00001.fcp") });
    }
    {
        SCOPED_TRACE("the copy failed");
        writeProject(project, "three");
        QFBackupResult result;
        {
            const QFFullDisk full;
            result = engine.backupProject(project, versions, 2, QString(), false, true);
        }
        EXPECT_EQ(result.outcome, Outcome::Failed);
        EXPECT_TRUE(result.failed());
        EXPECT_FALSE(result.reason.isEmpty());
        EXPECT_EQ(Builder::versionNames(folder), QStringList { QStringLiteral("Cut.00001.fcp") });
    }
    {
        SCOPED_TRACE("the destination drive is not mounted");
        QFFileManager::setMountTableReader([] { return QByteArray("22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"); });
        const QString offline = QStringLiteral("/mnt/qf-offline-%1/Projects/ID.localized/Versions")
                                    .arg(QCoreApplication::applicationPid());
        const QFBackupResult result = engine.backupProject(project, offline, 1, QString());
        QFFileManager::setMountTableReader({});
        EXPECT_EQ(result.outcome, Outcome::Failed);
        EXPECT_TRUE(result.reason.contains(QStringLiteral("not mounted"))) << qPrintable(result.reason);
    }
}

TEST_F(QFBackupCreationTest, BackUpNowTakesTheNumberAfterTheNewestVersionWhateverItsName)
{
    // Relinked from Zed to Alpha after two versions, and back again after the third.
    const QString project = home.file(QStringLiteral("Projects/Zed.prproj"));
    writeProject(project, "now");
    const QString folder = Builder::addProject(project, QStringLiteral("B1"));
    Builder::addVersions(folder,
        { { QStringLiteral("Zed.00001.prproj"), {}, "1" }, { QStringLiteral("Zed.00002.prproj"), {}, "2" },
            { QStringLiteral("Alpha.00003.prproj"), {}, "3" } });
    const QFBackupResult result = engine.backUpNow(project, folder + QStringLiteral("/Versions"), QString());
    ASSERT_TRUE(result.made()) << qPrintable(result.reason);
    EXPECT_EQ(result.number, 4);
    EXPECT_EQ(QFileInfo(result.version).fileName(), QStringLiteral("Zed.00004.prproj"));
    EXPECT_TRUE(logMessages().contains(qfFormat("Taking snapshot for project %@ uuid %@", project, QString())));
}
