// The helper's and the autosave's jobs as systemd user units, through a recording systemctl put first
// on the PATH.

#include "engine/QFHelperAgent.h"

#include "engine/QFTombrelBackup.h"
#include "foundation/QFLaunchd.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFRunningApplications.h"
#include "foundation/QFAuthorization.h"
#include "foundation/QFAppleEvents.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "engine/QFPreferenceSnapshot.h"
#include "tests/support/QFFrozenFolder.h"
#include "tests/support/QFTempHome.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class QFHelperAgentTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        m_path = qgetenv("PATH");
        const QString bin = home.file(QStringLiteral("bin"));
        home.write(QStringLiteral("bin/systemctl"),
            QStringLiteral("#!/bin/sh\necho \"$*\" >> '%1'\n[ -e '%2' ] && exit 1\nexit 0\n")
                .arg(log(), home.file("no-manager"))
                .toUtf8());
        QFile::setPermissions(
            home.file(QStringLiteral("bin/systemctl")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", (bin + u':').toUtf8() + m_path);
        // A bundle with a blank in its name, as the application's own.
        bundle = home.file(QStringLiteral("Applications/Pro Tombrel.app"));
        home.write(QStringLiteral("Applications/Pro Tombrel.app/Contents/Info.plist"),
            "<?xml version=\"1.0\"?><plist "
            "version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>com.quenfield.ProTombrel</string></dict></"
            "plist>");
        home.write(QStringLiteral("Applications/Pro Tombrel.app/Contents/MacOS/Pro Tombrel"), "#!/bin/sh\n");
        const QString helper = QFHelperAgent::helperExecutable(bundle);
        home.write(
            QStringLiteral(
                "Applications/Pro Tombrel.app/Contents/MacOS/ProTombrelHelper.app/Contents/MacOS/ProTombrelHelper"),
            "#!/bin/sh\nsleep 30\n");
        for (const QString &program : { helper, bundle + QStringLiteral("/Contents/MacOS/Pro Tombrel") })
            QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFBundle::setMainBundlePath(bundle);
    }
    void TearDown() override
    {
        QFBundle::setMainBundlePath(QString());
        qputenv("PATH", m_path);
    }
    QString log() const { return home.file(QStringLiteral("systemctl.log")); }
    QStringList calls() const
    {
        QFile file(log());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
                                              : QStringList();
    }
    static QString read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    // systemd's own check of unit files.
    static void expectVerified(const QStringList &files)
    {
        QProcess verify;
        verify.setProcessChannelMode(QProcess::MergedChannels);
        verify.start(QStringLiteral("systemd-analyze"),
            QStringList { QStringLiteral("--user"), QStringLiteral("verify") } + files);
        ASSERT_TRUE(verify.waitForFinished(60000));
        EXPECT_EQ(verify.exitCode(), 0) << verify.readAll().toStdString();
    }

    // The stand-in that lingers when asked to end, installed as the bundle's helper.
    void installSlowHelper()
    {
        const QString helper = QFHelperAgent::helperExecutable(bundle);
        QFile::remove(helper);
        ASSERT_TRUE(QFile::copy(supportProgram(QStringLiteral("qf_slow_helper")), helper));
        QFile::setPermissions(helper, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // The helpers started from the test's bundle (other programs on the machine may run helpers too).
    QList<qint64> helperProcesses() const
    {
        const QString ours = QFileInfo(QFHelperAgent::helperExecutable(bundle)).canonicalFilePath();
        QList<qint64> found;
        for (qint64 pid : QFRunningApplications::processIds()) {
            if (QFileInfo(QFRunningApplications::executableOfProcess(pid)).canonicalFilePath() == ours)
                found << pid;
        }
        return found;
    }

    QByteArray m_path;
    QString bundle;
};

} // namespace

TEST_F(QFHelperAgentTest, TheHelpersJobIsAServiceRestartedOnFailureThatSystemdAccepts)
{
    const QString name = QStringLiteral("com.quenfield.ProTombrel.test");
    ASSERT_TRUE(QFLaunchd::startJob(name, QFHelperAgent::helperJob(bundle), false));
    const QString service = read(QFLaunchd::serviceFile(name));
    EXPECT_TRUE(service.contains(QStringLiteral("ExecStart=\"%1\"\n").arg(QFHelperAgent::helperExecutable(bundle))))
        << qPrintable(service);
    EXPECT_TRUE(service.contains(QStringLiteral("Restart=on-failure\n")));
    EXPECT_TRUE(service.contains(QStringLiteral("WantedBy=default.target\n")));
    EXPECT_EQ(QFLaunchd::serviceFile(name),
        home.file(QStringLiteral(".config/systemd/user/com.quenfield.ProTombrel.test.service")));
    EXPECT_EQ(calls(),
        QStringList({ "--user daemon-reload", "--user enable com.quenfield.ProTombrel.test.service",
            "--user restart com.quenfield.ProTombrel.test.service" }));
    expectVerified({ QFLaunchd::serviceFile(name) });

    // A job is replaced whole: stopped and deleted before it is written again.
    QFile file(QFLaunchd::serviceFile(name));
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("Environment=LEFT=OVER\n");
    file.close();
    QFile::remove(log());
    ASSERT_TRUE(QFLaunchd::startJob(name, QFHelperAgent::helperJob(bundle), false));
    EXPECT_EQ(calls().value(0), QStringLiteral("--user disable --now com.quenfield.ProTombrel.test.service"));
    EXPECT_FALSE(read(QFLaunchd::serviceFile(name)).contains(QStringLiteral("LEFT=OVER")));
}

TEST_F(QFHelperAgentTest, TheAutosaveJobRunsEveryIntervalAndAtLeastEveryMinute)
{
    EXPECT_EQ(QFHelperAgent::autosaveJob(bundle, 0).startInterval, 60);
    EXPECT_EQ(QFHelperAgent::autosaveJob(bundle, 5).startInterval, 300);
    const QString name = QStringLiteral("com.quenfield.ProTombrel.autosave");
    ASSERT_TRUE(QFLaunchd::startLaunchAgent(name, QFHelperAgent::autosaveJob(bundle, 5)));
    const QString timer = read(QFLaunchd::timerFile(name));
    EXPECT_TRUE(timer.contains(QStringLiteral("OnUnitActiveSec=300s\n"))) << qPrintable(timer);
    EXPECT_TRUE(timer.contains(QStringLiteral("Unit=com.quenfield.ProTombrel.autosave.service\n")));
    EXPECT_TRUE(
        read(QFLaunchd::serviceFile(name))
            .contains(QStringLiteral("ExecStart=\"%1/Contents/MacOS/Pro Tombrel\" \"-autosave\"\n").arg(bundle)));
    EXPECT_TRUE(calls().contains(QStringLiteral("--user enable com.quenfield.ProTombrel.autosave.timer")));
    expectVerified({ QFLaunchd::serviceFile(name), QFLaunchd::timerFile(name) });

    ASSERT_TRUE(QFLaunchd::removeJob(name, false));
    EXPECT_FALSE(QFile::exists(QFLaunchd::timerFile(name)));
    EXPECT_FALSE(QFile::exists(QFLaunchd::serviceFile(name)));
    EXPECT_TRUE(calls().contains(QStringLiteral(
        "--user disable --now com.quenfield.ProTombrel.autosave.timer com.quenfield.ProTombrel.autosave.service")));
}

TEST_F(QFHelperAgentTest, AWindowWithNothingToWatchRemovesTheHelpersJobAndTombrelInstallsIt)
{
    QFTombrelBackup engine;
    const QString name = QString::fromLatin1(QFHelperAgent::kHelperJob);
    home.write(
        QStringLiteral(".config/systemd/user/com.quenfield.ProTombrel.service"), "[Service]\nExecStart=/bin/true\n");
    QFVersionStoreBuilder::setPreferences({ { "watchFolders", QVariantList() } });
    EXPECT_FALSE(QFHelperAgent::generateLaunchdPlist(false, true, engine));
    EXPECT_FALSE(QFile::exists(QFLaunchd::serviceFile(name))) << "no projects and no watch folders: no helper";
    EXPECT_FALSE(QFile::exists(QFLaunchd::serviceFile(QString::fromLatin1(QFHelperAgent::kAutosaveJob))));

    // Without a window (tombrel agent install) the job is written whatever there is to watch.
    EXPECT_TRUE(QFHelperAgent::generateLaunchdPlist(false, false, engine));
    EXPECT_TRUE(read(QFLaunchd::serviceFile(name)).contains(QFHelperAgent::helperExecutable(bundle)));
}

TEST_F(QFHelperAgentTest, WithoutAServiceManagerTheHelperIsStartedDirectly)
{
    home.write(QStringLiteral("no-manager"), "");
    // The real helper in the bundle, so that it runs under its own name.
    const QString helper = QFHelperAgent::helperExecutable(bundle);
    QFile::remove(helper);
    ASSERT_TRUE(QFile::copy(QFHelperAgent::helperExecutable(qEnvironmentVariable("QF_BUNDLE_DIR")), helper));
    QFTombrelBackup engine;
    QFVersionStoreBuilder::addProject(home.file(QStringLiteral("Videos/Cut.kdenlive")), QStringLiteral("CUT"));
    EXPECT_TRUE(QFHelperAgent::generateLaunchdPlist(false, true, engine)) << "the job is written for later";
    EXPECT_TRUE(QTest::qWaitFor([] { return QFLaunchd::isProcessRunning(QStringLiteral("ProTombrelHelper")); }, 10000));

    // Relaunching ends it and starts it again; a bundle whose helper is gone cannot relaunch one.
    EXPECT_EQ(QFHelperAgent::relaunchHelper(engine, true), QFHelperAgent::Relaunch::Relaunched);
    EXPECT_TRUE(QFLaunchd::isProcessRunning(QStringLiteral("ProTombrelHelper")));
    QFLaunchd::killProcessesNamed(QStringLiteral("ProTombrelHelper"));
    EXPECT_TRUE(
        QTest::qWaitFor([] { return !QFLaunchd::isProcessRunning(QStringLiteral("ProTombrelHelper")); }, 10000));
    QFile::remove(helper);
    EXPECT_EQ(QFHelperAgent::relaunchHelper(engine, true), QFHelperAgent::Relaunch::Failed)
        << "no helper runs afterwards";
}

TEST_F(QFHelperAgentTest, AnEditorOlderThanSevenGetsNoAutosaveJobAndAutosaveIsSwitchedOff)
{
    const auto installEditor = [this](const char *version) {
        home.write(QStringLiteral("Applications/Final Cut Pro.app/Contents/Info.plist"),
            QByteArray("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>")
                + QFAppleEvents::editorBundleIdentifier().toUtf8()
                + "</string><key>CFBundleShortVersionString</key><string>" + version + "</string></dict></plist>");
    };
    QFLog::createNewLog(QStringLiteral("AgentTest"));
    const QString name = QString::fromLatin1(QFHelperAgent::kAutosaveJob);
    QFTombrelBackup engine;
    QFVersionStoreBuilder::addProject(home.file(QStringLiteral("Movies/Cut.fcp")), QStringLiteral("CUT"));
    QFVersionStoreBuilder::setPreferences({ { "autosaveEnabled", 1 }, { "autosaveInterval", 5 } });

    installEditor("6.0.6");
    ASSERT_EQ(QFAppleEvents::finalCutProMajorVersion(), 6);
    QFHelperAgent::generateAutosavePlist(engine);
    EXPECT_FALSE(QFile::exists(QFLaunchd::serviceFile(name)));
    EXPECT_FALSE(QFile::exists(QFLaunchd::timerFile(name)));
    EXPECT_EQ(QFPreferenceSnapshot::read().integer(QStringLiteral("autosaveEnabled"), -1), 0);
    EXPECT_TRUE(home.logMessages(QStringLiteral("AgentTest"))
                    .join(u'\n')
                    .contains(QStringLiteral("Error: Autosave can only be activated on Final Cut Pro 7+ systems")))
        << qPrintable(home.logMessages(QStringLiteral("AgentTest")).join(u'\n'));

    // Version 7 and autosave on again: the timer is there.
    installEditor("7.0.3");
    QFVersionStoreBuilder::setPreferences({ { "autosaveEnabled", 1 } });
    QFHelperAgent::generateAutosavePlist(engine);
    EXPECT_TRUE(read(QFLaunchd::timerFile(name)).contains(QStringLiteral("OnUnitActiveSec=300s")));
}

TEST_F(QFHelperAgentTest, AJobFolderThatCannotBeWrittenGetsTheJobThroughTheTemporaryFolderAndTheAdministrator)
{
    QFLog::createNewLog(QStringLiteral("AgentTest"));
    const QString name = QStringLiteral("com.quenfield.ProTombrel.test");
    ASSERT_TRUE(QDir().mkpath(QFLaunchd::jobFolder()));
    FrozenFolder folder(QFLaunchd::jobFolder());
    if (!folder.frozen())
        GTEST_SKIP() << "this file system lets the folder be written whatever its mode";
    // The administrator's move, as the privileged helper tool would make it.
    QStringList commands;
    QFLocalPaths::setRootOverride(true);
    QFAuthorization::sharedController()->setCommandRunner(
        [&](const QString &program, const QStringList &arguments, bool) {
            commands << (QStringList { program } + arguments).join(u' ');
            return folder.whileThawed([&] { return QProcess::execute(program, arguments); });
        });
    const bool started = QFLaunchd::startJob(name, QFHelperAgent::helperJob(bundle), false);
    QFAuthorization::sharedController()->setCommandRunner({});
    QFLocalPaths::setRootOverride(std::nullopt);

    EXPECT_TRUE(started);
    const QString temporary = QFLocalPaths::tempDirectory() + QStringLiteral("/com.quenfield.ProTombrel.test.service");
    ASSERT_EQ(commands.size(), 1) << qPrintable(commands.join(u'\n'));
    EXPECT_TRUE(commands.first().startsWith(QStringLiteral("/bin/mv"))) << qPrintable(commands.first());
    EXPECT_TRUE(commands.first().endsWith(temporary + u' ' + QFLaunchd::serviceFile(name)))
        << qPrintable(commands.first());
    EXPECT_TRUE(read(QFLaunchd::serviceFile(name)).contains(QStringLiteral("Restart=on-failure")));
    EXPECT_FALSE(QFile::exists(temporary));
    EXPECT_TRUE(home.logMessages(QStringLiteral("AgentTest"))
                    .contains(QStringLiteral("Unable to write launchd plist - trying to authorize...")))
        << qPrintable(home.logMessages(QStringLiteral("AgentTest")).join(u'\n'));
    EXPECT_TRUE(calls().contains(QStringLiteral("--user restart com.quenfield.ProTombrel.test.service")));
}

TEST_F(QFHelperAgentTest, WithoutAServiceManagerARewrittenJobWaitsForTheOldHelperToEndAndStartsANewOne)
{
    home.write(QStringLiteral("no-manager"), "");
    installSlowHelper();
    QFTombrelBackup engine;
    QFVersionStoreBuilder::addProject(home.file(QStringLiteral("Videos/Cut.kdenlive")), QStringLiteral("CUT"));
    ASSERT_TRUE(QFHelperAgent::startHelperDirectly(bundle));
    ASSERT_TRUE(QTest::qWaitFor([this] { return !helperProcesses().isEmpty(); }, 10000));
    const QList<qint64> old = helperProcesses();

    // The old helper takes a moment to end; the new one is started once it has.
    EXPECT_TRUE(QFHelperAgent::generateLaunchdPlist(false, true, engine));
    for (qint64 pid : old)
        EXPECT_FALSE(QFRunningApplications::isRunning(pid)) << "the job was written while the old helper still ran";
    const QList<qint64> now = helperProcesses();
    ASSERT_EQ(now.size(), 1) << "the user is never left without a helper";
    EXPECT_FALSE(old.contains(now.first()));
    for (qint64 pid : now)
        QFRunningApplications::forceTerminate(pid);
}

TEST_F(QFHelperAgentTest, RelaunchingFromAWindowWithNothingToWatchRemovesTheJobAndStartsNoHelper)
{
    installSlowHelper();
    QFTombrelBackup engine;
    const QString name = QString::fromLatin1(QFHelperAgent::kHelperJob);
    home.write(
        QStringLiteral(".config/systemd/user/com.quenfield.ProTombrel.service"), "[Service]\nExecStart=/bin/true\n");
    QFVersionStoreBuilder::setPreferences({ { "watchFolders", QVariantList() } });
    EXPECT_EQ(QFHelperAgent::relaunchHelper(engine, true), QFHelperAgent::Relaunch::NothingToWatch);
    EXPECT_FALSE(QFile::exists(QFLaunchd::serviceFile(name)));
    EXPECT_FALSE(calls().contains(QStringLiteral("--user enable com.quenfield.ProTombrel.service")));
    EXPECT_TRUE(helperProcesses().isEmpty()) << "a helper with nothing to watch";

    // With a project there is something to watch again.
    QFVersionStoreBuilder::addProject(home.file(QStringLiteral("Videos/Cut.kdenlive")), QStringLiteral("CUT"));
    EXPECT_EQ(QFHelperAgent::relaunchHelper(engine, true), QFHelperAgent::Relaunch::Relaunched);
    EXPECT_TRUE(QFile::exists(QFLaunchd::serviceFile(name)));
    for (qint64 pid : helperProcesses())
        QFRunningApplications::forceTerminate(pid);
}
