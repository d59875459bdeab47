// The update installer's run, on a thread of its own as in the program, with the updater's callback
// service on the private bus recording what it is told, in a temporary home.

#include "tools/update-installer/QFTaskNotification.h"
#include "tools/update-installer/QFUpdateInstaller.h"

#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "tests/support/QFFullDisk.h"
#include "tests/support/QFTempHome.h"

#include <QDBusConnection>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <QLabel>
#include <QThread>
#include <QWidget>

#include <memory>

#include <gtest/gtest.h>

namespace {

const QString kLog = QStringLiteral("update_installer_tests");

// The updater's end of the callbacks: records each message by name.
class CallbackRecorder final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.quenfield.QFClientCallback")
public:
    QStringList messages;
public Q_SLOTS:
    void incrementRemoteProgress() { messages << QStringLiteral("incrementRemoteProgress"); }
    void postFinishedTask() { messages << QStringLiteral("postFinishedTask"); }
    void postError(const QString &error) { messages << QStringLiteral("postError ") + error; }
    void postDisconnect() { messages << QStringLiteral("postDisconnect"); }
};

class UpdateInstallerTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        QFLog::createNewLog(kLog);
        QDBusConnection bus = QDBusConnection::sessionBus();
        ASSERT_TRUE(bus.registerObject(QStringLiteral("/"), &recorder, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(bus.registerService(QStringLiteral("com.quenfield.QFProClientCallback")));
        hooks.alert
            = [this](const QString &title, const QString &text) { alerts << title + QStringLiteral(" / ") + text; };
        hooks.status = [this](const QString &text) { statuses << text; };
        hooks.hideWindow = [this] { hidden = true; };
        hooks.relaunch = [this](const QString &bundle) { relaunched << bundle; };
        hooks.sleep = [](double) {};
        hooks.unmount = [this](const QString &path) { unmounted << path; };
    }
    void TearDown() override
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(QStringLiteral("com.quenfield.QFProClientCallback"));
        bus.unregisterObject(QStringLiteral("/"));
    }
    // A bundle whose program "App" holds the contents, standing for an application.
    QString bundle(const QString &path, const QByteArray &contents)
    {
        home.write(path + QStringLiteral("/Contents/Info.plist"),
            "<?xml version=\"1.0\"?><plist "
            "version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>com.quenfield.ProTombrel</string>"
            "<key>CFBundleExecutable</key><string>App</string></dict></plist>");
        home.write(path + QStringLiteral("/Contents/MacOS/App"), contents);
        return home.file(path);
    }
    static QByteArray programOf(const QString &bundle)
    {
        QFile file(bundle + QStringLiteral("/Contents/MacOS/App"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // Everything in a folder, hidden names included.
    static QStringList entries(const QString &folder)
    {
        return QDir(folder).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }
    QString trashed(const QString &name) const { return home.file(QStringLiteral(".local/share/Trash/files/") + name); }
    void install(const QFUpdateArguments &arguments)
    {
        QThread *worker = QThread::create([&] { QFUpdateInstaller::beginUpdate(arguments, hooks); });
        worker->start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return worker->isFinished(); }, 20000));
        delete worker;
        // The bus delivers the last message after the worker ends.
        QTest::qWait(0);
    }
    QStringList log() const { return home.logMessages(kLog); }

    CallbackRecorder recorder;
    QFUpdateInstaller::Hooks hooks;
    QStringList alerts;
    QStringList statuses;
    QStringList relaunched;
    QStringList unmounted;
    bool hidden = false;
};

TEST_F(UpdateInstallerTest, ANewVersionReplacesTheOldOneWhichGoesToTheTrash)
{
    const QString source = bundle(QStringLiteral("Image/Pro Tombrel.app"), "new");
    const QString destination = bundle(QStringLiteral("Applications/Pro Tombrel.app"), "old");
    install({ source, destination, QStringLiteral("/media/image"), false });
    QFile file(destination + QStringLiteral("/Contents/MacOS/App"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("new"));
    EXPECT_TRUE(
        QFileInfo::exists(home.file(QStringLiteral(".local/share/Trash/files/Pro Tombrel.app/Contents/MacOS/App"))));
    EXPECT_EQ(relaunched, QStringList { destination });
    EXPECT_EQ(statuses, QStringList { QStringLiteral("Relaunching...") });
    EXPECT_TRUE(hidden);
    EXPECT_EQ(unmounted, QStringList { QStringLiteral("/media/image") });
    EXPECT_TRUE(alerts.isEmpty());
    EXPECT_TRUE(recorder.messages.isEmpty()) << "only a silent run reports to the updater";
    const QStringList lines = log();
    for (const char *line : { "Beginning installation...", "Path is valid.", "Killing software updater instances...",
             "Trashing old application...", "Preparing to copy files...", "File copy successful.", "Launching app...",
             "Cleaning up...", "Terminating self..." })
        EXPECT_TRUE(lines.contains(QString::fromLatin1(line))) << line;
}

TEST_F(UpdateInstallerTest, AMissingDestinationSkipsTheTrashAndASilentRunReportsItsSteps)
{
    const QString source = bundle(QStringLiteral("Image/Pro Tombrel.app"), "new");
    const QString destination = home.file(QStringLiteral("Applications/Pro Tombrel.app"));
    QDir().mkpath(home.file(QStringLiteral("Applications")));
    install({ source, destination, QString(), true });
    EXPECT_TRUE(QFileInfo::exists(destination + QStringLiteral("/Contents/MacOS/App")));
    EXPECT_FALSE(log().contains(QStringLiteral("Trashing old application...")));
    EXPECT_TRUE(relaunched.isEmpty()) << "a silent run does not relaunch";
    EXPECT_TRUE(unmounted.isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.messages.size() == 3; }, 5000))
        << recorder.messages.join(u',').toStdString();
    EXPECT_EQ(recorder.messages,
        (QStringList { QStringLiteral("incrementRemoteProgress"), QStringLiteral("incrementRemoteProgress"),
            QStringLiteral("postFinishedTask") }));
}

TEST_F(UpdateInstallerTest, InvalidArgumentsTouchNothingAndStillFinish)
{
    const QString source = bundle(QStringLiteral("Image/Pro Tombrel"), "new");
    const QString destination = bundle(QStringLiteral("Applications/Pro Tombrel.app"), "old");
    install({ source, destination, QString(), true });
    EXPECT_TRUE(log().contains(QStringLiteral("Invalid arguments")));
    EXPECT_FALSE(log().contains(QStringLiteral("Path is valid.")));
    QFile file(destination + QStringLiteral("/Contents/MacOS/App"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("old"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder.messages.isEmpty(); }, 5000));
    EXPECT_EQ(recorder.messages, QStringList { QStringLiteral("postFinishedTask") });
}

TEST_F(UpdateInstallerTest, SilentRunsHideTheMissingSourceButNotAFailedCopy)
{
    const QString destination = bundle(QStringLiteral("Applications/Pro Tombrel.app"), "old");
    install({ home.file(QStringLiteral("Image/Gone.app")), destination, QString(), true });
    EXPECT_TRUE(log().contains(QStringLiteral("Source file does not exist")));
    EXPECT_TRUE(alerts.isEmpty());
    install({ home.file(QStringLiteral("Image/Gone.app")), destination, QString(), false });
    EXPECT_EQ(alerts, QStringList { QStringLiteral("Unable to install / Source file does not exist.") });

    // A destination below a plain file: nobody, not even the administrator, can copy there; even a silent
    // run says so.
    alerts.clear();
    const QString source = bundle(QStringLiteral("Image/Pro Tombrel.app"), "new");
    home.write(QStringLiteral("Blocker"), "a file, not a folder");
    const QString locked = home.file(QStringLiteral("Blocker/Pro Tombrel.app"));
    install({ source, locked, QString(), true });
    EXPECT_EQ(alerts,
        QStringList {
            QStringLiteral("Unable to install / The installer was unable to copy the file to its destination.") });
    EXPECT_TRUE(log().contains(QStringLiteral("The installer was unable to copy the file to its destination")))
        << log().join(u'\n').toStdString();
}

TEST_F(UpdateInstallerTest, TheNewVersionTakesTheDestinationsPlaceBeforeTheOldOneLeaves)
{
    // The image names its bundle differently from the installed one.
    const QString source = bundle(QStringLiteral("Image/Pro Tombrel 2.0.app"), "new");
    const QString destination = bundle(QStringLiteral("Applications/Pro Tombrel.app"), "old");
    install({ source, destination, QString(), false });
    EXPECT_EQ(programOf(destination), QByteArray("new"));
    EXPECT_EQ(entries(home.file(QStringLiteral("Applications"))), QStringList { QStringLiteral("Pro Tombrel.app") })
        << "installed under the destination's name, nothing left beside it";
    EXPECT_EQ(programOf(trashed(QStringLiteral("Pro Tombrel.app"))), QByteArray("old"));
    EXPECT_EQ(relaunched, QStringList { destination });
    EXPECT_TRUE(alerts.isEmpty()) << alerts.join(u'\n').toStdString();
    EXPECT_EQ(programOf(source), QByteArray("new"));

    // As root with nobody at the console there is no Trash to use: the old one is removed, after the swap.
    QFLocalPaths::setRootOverride(true);
    QFLocalPaths::setConsoleUserResolver([] { return std::optional<QFConsoleUser>(); });
    QDir(trashed(QStringLiteral("Pro Tombrel.app"))).removeRecursively();
    const QString newer = bundle(QStringLiteral("Image/Pro Tombrel 3.0.app"), "newer");
    install({ newer, destination, QString(), true });
    EXPECT_EQ(programOf(destination), QByteArray("newer"));
    EXPECT_EQ(entries(home.file(QStringLiteral("Applications"))), QStringList { QStringLiteral("Pro Tombrel.app") });
    EXPECT_FALSE(QFileInfo::exists(trashed(QStringLiteral("Pro Tombrel.app"))));
    EXPECT_TRUE(log().contains(QStringLiteral("File copy successful.")));
}

TEST_F(UpdateInstallerTest, ACopyThatDoesNotCompleteLeavesTheOldApplicationInPlace)
{
    const QString destination = bundle(QStringLiteral("Applications/Pro Tombrel.app"), "old");
    const auto expectOldKept = [&] {
        EXPECT_EQ(programOf(destination), QByteArray("old"));
        EXPECT_EQ(
            entries(home.file(QStringLiteral("Applications"))), QStringList { QStringLiteral("Pro Tombrel.app") });
        EXPECT_FALSE(QFileInfo::exists(trashed(QStringLiteral("Pro Tombrel.app"))));
        EXPECT_TRUE(relaunched.isEmpty());
        EXPECT_EQ(alerts,
            QStringList {
                QStringLiteral("Unable to install / The installer was unable to copy the file to its destination.") });
        const QStringList lines = log();
        EXPECT_TRUE(lines.contains(QStringLiteral("The installer was unable to copy the file to its destination")));
        EXPECT_FALSE(lines.contains(QStringLiteral("File copy successful.")));
        alerts.clear();
        relaunched.clear();
        QFLog::createNewLog(kLog);
    };
    // A program larger than the disk has room for.
    const QString large = bundle(QStringLiteral("Image/Pro Tombrel.app"), QByteArray(4 << 20, 'n'));
    {
        SCOPED_TRACE("the disk fills up during the copy, and during the administrator's cp after it");
        // As root the administrator's cp runs at once, and meets the same full disk.
        QFLocalPaths::setRootOverride(true);
        {
            QFFullDisk full(1 << 20);
            install({ large, destination, QString(), false });
        }
        expectOldKept();
    }
    {
        SCOPED_TRACE("the same as root with nobody at the console");
        QFLocalPaths::setConsoleUserResolver([] { return std::optional<QFConsoleUser>(); });
        {
            QFFullDisk full(1 << 20);
            install({ large, destination, QString(), true });
        }
        expectOldKept();
        QFLocalPaths::setRootOverride(std::nullopt);
    }
    {
        SCOPED_TRACE("a new bundle without its program");
        const QString broken = bundle(QStringLiteral("Image/Broken.app"), "new");
        QFile::remove(broken + QStringLiteral("/Contents/MacOS/App"));
        install({ broken, destination, QString(), false });
        expectOldKept();
    }
}

TEST_F(UpdateInstallerTest, ASilentRunNeedsNoDisplay)
{
    const QString source = bundle(QStringLiteral("Image/Pro Tombrel.app"), "new");
    const QString destination = bundle(QStringLiteral("Applications/Pro Tombrel.app"), "old");
    QProcess installer;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        environment.remove(QString::fromLatin1(name));
    installer.setProcessEnvironment(environment);
    installer.start(QStringLiteral(QF_UPDATE_INSTALLER_PROGRAM),
        { QStringLiteral("-source"), source, QStringLiteral("-destination"), destination, QStringLiteral("-silent"),
            QStringLiteral("YES") });
    // The event loop runs meanwhile: the program reports to this process's callback service.
    ASSERT_TRUE(QTest::qWaitFor([&] { return installer.state() == QProcess::NotRunning; }, 60000));
    EXPECT_EQ(installer.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(installer.exitCode(), 0) << installer.readAllStandardError().toStdString();
    EXPECT_EQ(programOf(destination), QByteArray("new"));
    EXPECT_TRUE(recorder.messages.contains(QStringLiteral("postFinishedTask")))
        << recorder.messages.join(u',').toStdString();
}

TEST_F(UpdateInstallerTest, RenderTheStatusWindow)
{
    QLabel *status = nullptr;
    std::unique_ptr<QWidget> window(QFUpdateInstaller::createStatusWindow(&status));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    status->setText(QStringLiteral("Relaunching..."));
    QDir().mkpath(QStringLiteral(QF_RENDER_DIR));
    EXPECT_TRUE(window->grab().save(QStringLiteral(QF_RENDER_DIR "/update-installer.png")));
}

} // namespace

#include "UpdateInstallerTest.moc"
