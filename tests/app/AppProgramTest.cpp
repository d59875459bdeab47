// The application program started as a process: its command-line modes and their exit statuses.

#include "foundation/QFAppRequest.h"
#include "foundation/platform/QFPropertyList.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/QFSyncTestSupport.h"
#include "tests/support/QFTempHome.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class AppProgramTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        executable = qEnvironmentVariable("QF_BUNDLE_DIR") + QStringLiteral("/Contents/MacOS/Pro Tombrel");
        ASSERT_TRUE(QFile::exists(executable)) << qPrintable(executable);
    }
    int run(const QStringList &arguments, int timeoutMs = 30000)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(executable, arguments);
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    }
    QString executable;
};

} // namespace

TEST_F(AppProgramTest, BackgroundModesExitWithZeroAndWriteTheTaskLog)
{
    EXPECT_EQ(run({ "-reload" }), 0);
    EXPECT_TRUE(QFile::exists(home.file(".local/state/Quenfield/Pro Tombrel.task.1.log")));
    EXPECT_EQ(run({ "-repopulate" }), 0);
    EXPECT_EQ(run({ "-autosave" }), 0) << "no preference file: nothing to save";
}

TEST_F(AppProgramTest, ProcessModeVersionsChangedProjects)
{
    const QString folder
        = QFVersionStoreBuilder::addProject(home.file("Videos/Edit.kdenlive"), QStringLiteral("EDIT"), "<mlt/>");
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false } });
    EXPECT_EQ(run({ "-process" }), 0);
    EXPECT_EQ(QFVersionStoreBuilder::versionNames(folder), QStringList({ "Edit.00001.kdenlive" }));
}

TEST_F(AppProgramTest, UploadAndRemovalModesEndByThemselves)
{
    // Nothing to upload, nothing to remove, or sync switched off: the mode ends at once.
    EXPECT_EQ(run({ "-upload", home.file("missing.fcp") }), 0);
    EXPECT_EQ(run({ "-removeRemote", "" }), 0);
    const QString version = home.write(QStringLiteral("v.fcp"), "v");
    EXPECT_EQ(run({ "-upload", version }), 0);
    EXPECT_EQ(run({ "-removeRemote", version }), 0);
}

TEST_F(AppProgramTest, AFourthCopyInUploadModeQuitsBeforeDoingAnything)
{
    // A bundle of its own, so that programs of the build's bundle run by other tests do not count.
    const QString bundle = home.file(QStringLiteral("Apps/Pro Tombrel.app"));
    const QString macos = bundle + QStringLiteral("/Contents/MacOS");
    QDir().mkpath(macos);
    ASSERT_TRUE(QFile::copy(executable, macos + QStringLiteral("/Pro Tombrel")));
    ASSERT_TRUE(QFPropertyList::write(bundle + QStringLiteral("/Contents/Info.plist"),
        QVariantMap { { "CFBundleIdentifier",
                          QStringLiteral("com.quenfield.ProTombrel.test-%1").arg(QCoreApplication::applicationPid()) },
            { "CFBundleName", "Pro Tombrel" }, { "CFBundleExecutable", "Pro Tombrel" } }));
    executable = macos + QStringLiteral("/Pro Tombrel");

    // Three programs of that bundle are running already.
    QList<QProcess *> running;
    for (int i = 0; i < 3; ++i) {
        const QString copy = macos + QStringLiteral("/sleep-%1").arg(i);
        ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), copy));
        QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        auto *process = new QProcess;
        process->start(copy, { "60" });
        ASSERT_TRUE(process->waitForStarted());
        running << process;
    }
    QFVersionStoreBuilder::setPreferences({ { "syncService", 1 }, { "firstRun", false } });
    const QString version = home.write(QStringLiteral("v.fcp"), "v");
    EXPECT_EQ(run({ "-upload", version }), 0);
    EXPECT_TRUE(home.logMessages(QStringLiteral("Pro Tombrel"))
                    .contains(QStringLiteral("3 copies are running already - quitting.")))
        << qPrintable(home.logMessages(QStringLiteral("Pro Tombrel")).join(u'\n'));
    for (QProcess *process : running) {
        process->kill();
        process->waitForFinished();
        delete process;
    }
}

TEST_F(AppProgramTest, StartedWithNothingToWatchTheApplicationRemovesTheHelpersJob)
{
    const QString unit = home.write(
        QStringLiteral(".config/systemd/user/com.quenfield.ProTombrel.service"), "[Service]\nExecStart=/bin/true\n");
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false }, { "watchFolders", QVariantList() } });
    QProcess application;
    application.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    application.start(executable, {});
    ASSERT_TRUE(application.waitForStarted(10000));
    const bool removed = QTest::qWaitFor([&] { return !QFile::exists(unit); }, 30000);
    application.kill();
    application.waitForFinished(10000);
    EXPECT_TRUE(removed) << "no projects and no watch folders: no helper";
    QFile log(home.file(QStringLiteral("systemctl.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("--user disable --now com.quenfield.ProTombrel.service"));
}

namespace {

// Records the launcher-entry updates (the badge) sent on the session bus.
class LauncherEntryListener final : public QObject {
    Q_OBJECT
public:
    QList<QVariantMap> updates;
public Q_SLOTS:
    void onUpdate(const QString &, const QVariantMap &properties) { updates.append(properties); }
};

// This process's environment without any display: as on a server or in an ssh session.
QProcessEnvironment withoutDisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        environment.remove(QString::fromLatin1(name));
    return environment;
}

// Runs the program while this process's event loop goes on (the fake Dropbox answers from it).
int runServing(const QString &executable, const QStringList &arguments,
    const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setProcessEnvironment(environment);
    process.start(executable, arguments);
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 30000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
}

} // namespace

TEST_F(AppProgramTest, UploadAndRemovalModesTalkToDropboxAndEndWithTheirAnswers)
{
    QFFakeDropbox dropbox;
    ASSERT_TRUE(dropbox.listen());
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false } });
    synctest::pointAtFake(dropbox);
    synctest::linkAccount(dropbox);
    LauncherEntryListener badge;
    ASSERT_TRUE(
        QDBusConnection::sessionBus().connect(QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"),
            QStringLiteral("Update"), &badge, SLOT(onUpdate(QString, QVariantMap))));

    const QString version
        = home.write(QStringLiteral("Store/X.localized/Versions/Cut.00005.fcp"), QByteArray(200000, 'v'));
    EXPECT_EQ(runServing(executable, { "-upload", version }), 0);
    EXPECT_TRUE(dropbox.hasFile(QStringLiteral("/X/Cut.00005.fcp.zip")));
    // The badge showed the progress and was cleared at the end.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !badge.updates.isEmpty() && !badge.updates.last().value("progress-visible", true).toBool(); },
        5000));

    // A refused upload is logged with its lead text and ends the process too.
    dropbox.failNext(QStringLiteral("/2/files/upload"), 403, "{\"error_summary\": \"no_write_permission/..\"}");
    const QString second = home.write(QStringLiteral("Store/X.localized/Versions/Cut.00006.fcp"), "six");
    EXPECT_EQ(runServing(executable, { "-upload", second }), 0);
    QStringList log;
    for (const QString &name : QDir(home.file(".local/state/Quenfield")).entryList({ "Pro Tombrel*.1.log" }))
        log += home.logMessages(name.chopped(QStringLiteral(".1.log").size()));
    EXPECT_TRUE(
        log.contains(QStringLiteral("Dropbox upload failed: Authentication error - please reauthorize Dropbox.")))
        << log.join('\n').toStdString();
    EXPECT_FALSE(dropbox.hasFile(QStringLiteral("/X/Cut.00006.fcp.zip")));

    // Removal mode: one copy there, one not; the process ends once both are answered.
    const QString list = QFAppRequest::encodeRemotePathList(
        { version, home.file(QStringLiteral("Store/X.localized/Versions/Cut.00007.fcp")) });
    EXPECT_EQ(runServing(executable, { "-removeRemote", list }), 0);
    EXPECT_FALSE(dropbox.hasFile(QStringLiteral("/X/Cut.00005.fcp.zip")));
    // Both deletions go to Dropbox as one batch, a single write.
    EXPECT_EQ(dropbox.requestCount(QStringLiteral("/2/files/delete_batch")), 1);
    EXPECT_EQ(dropbox.requestCount(QStringLiteral("/2/files/delete_v2")), 0);
}

TEST_F(AppProgramTest, EveryModeWithoutAWindowRunsWithoutADisplay)
{
    QFFakeDropbox dropbox;
    ASSERT_TRUE(dropbox.listen());
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false } });
    synctest::pointAtFake(dropbox);
    synctest::linkAccount(dropbox);
    const QProcessEnvironment headless = withoutDisplay();

    for (const char *mode : { "-process", "-reload", "-repopulate", "-autosave" }) {
        SCOPED_TRACE(mode);
        EXPECT_EQ(runServing(executable, { QString::fromLatin1(mode) }, headless), 0);
    }
    const QString version = home.write(QStringLiteral("Store/X.localized/Versions/Cut.00005.fcp"), "five");
    {
        SCOPED_TRACE("-upload");
        EXPECT_EQ(runServing(executable, { "-upload", version }, headless), 0);
        EXPECT_TRUE(dropbox.hasFile(QStringLiteral("/X/Cut.00005.fcp.zip")));
    }
    {
        SCOPED_TRACE("-removeRemote");
        EXPECT_EQ(
            runServing(executable, { "-removeRemote", QFAppRequest::encodeRemotePathList({ version }) }, headless), 0);
        EXPECT_FALSE(dropbox.hasFile(QStringLiteral("/X/Cut.00005.fcp.zip")));
    }
}

TEST_F(AppProgramTest, AVersionNotUploadedWhenItWasMadeGoesUpWithTheNextUpload)
{
    // A bundle of its own, so that programs of the build's bundle run by other tests do not count.
    const QString bundle = home.file(QStringLiteral("Apps/Pro Tombrel.app"));
    const QString macos = bundle + QStringLiteral("/Contents/MacOS");
    QDir().mkpath(macos);
    ASSERT_TRUE(QFile::copy(executable, macos + QStringLiteral("/Pro Tombrel")));
    ASSERT_TRUE(QFPropertyList::write(bundle + QStringLiteral("/Contents/Info.plist"),
        QVariantMap {
            { "CFBundleIdentifier",
                QStringLiteral("com.quenfield.ProTombrel.catchup-%1").arg(QCoreApplication::applicationPid()) },
            { "CFBundleName", "Pro Tombrel" }, { "CFBundleExecutable", "Pro Tombrel" } }));
    executable = macos + QStringLiteral("/Pro Tombrel");
    QFFakeDropbox dropbox;
    ASSERT_TRUE(dropbox.listen());
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false } });
    synctest::pointAtFake(dropbox);
    synctest::linkAccount(dropbox);
    const auto version = [&](const QString &project, const QString &name) {
        return home.write(QStringLiteral("Store/%1.localized/Versions/%2").arg(project, name), name.toUtf8());
    };

    {
        SCOPED_TRACE("three copies running: the new versions wait");
        QList<QProcess *> running;
        for (int i = 0; i < 3; ++i) {
            const QString copy = macos + QStringLiteral("/sleep-%1").arg(i);
            ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), copy));
            QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            auto *process = new QProcess;
            process->start(copy, { "60" });
            ASSERT_TRUE(process->waitForStarted());
            running << process;
        }
        EXPECT_EQ(runServing(executable, { "-upload", version("X", "Cut.00001.fcp") }), 0);
        EXPECT_EQ(runServing(executable, { "-upload", version("Y", "Edit.00001.kdenlive") }), 0);
        for (QProcess *process : running) {
            process->kill();
            process->waitForFinished();
            delete process;
        }
        EXPECT_TRUE(dropbox.filePaths().isEmpty()) << qPrintable(dropbox.filePaths().join(u' '));
    }
    {
        SCOPED_TRACE("the next upload takes its project's and the waiting ones along");
        EXPECT_EQ(runServing(executable, { "-upload", version("X", "Cut.00002.fcp") }), 0);
        for (const char *path : { "/X/Cut.00001.fcp.zip", "/X/Cut.00002.fcp.zip", "/Y/Edit.00001.kdenlive.zip" })
            EXPECT_TRUE(dropbox.hasFile(QString::fromLatin1(path)))
                << path << " in " << qPrintable(dropbox.filePaths().join(u' '));
    }
    {
        SCOPED_TRACE("a refused upload is made by the next one, too");
        dropbox.failNext(QStringLiteral("/2/files/upload"), 403, "{\"error_summary\": \"no_write_permission/..\"}");
        EXPECT_EQ(runServing(executable, { "-upload", version("Y", "Edit.00002.kdenlive") }), 0);
        EXPECT_FALSE(dropbox.hasFile(QStringLiteral("/Y/Edit.00002.kdenlive.zip")));
        EXPECT_EQ(runServing(executable, { "-upload", version("X", "Cut.00003.fcp") }), 0);
        EXPECT_TRUE(dropbox.hasFile(QStringLiteral("/X/Cut.00003.fcp.zip")));
        EXPECT_TRUE(dropbox.hasFile(QStringLiteral("/Y/Edit.00002.kdenlive.zip")))
            << qPrintable(dropbox.filePaths().join(u' '));
    }
}

#include "AppProgramTest.moc"
