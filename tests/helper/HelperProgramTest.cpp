// The helper program itself: two of them, and the tombrel helper command that talks to one.

#include "cli/TombrelCommand.h"
#include "foundation/QFHelperConnection.h"
#include "foundation/platform/QFPropertyList.h"
#include "engine/QFProject.h"
#include "tests/helper/HelperTestSupport.h"
#include "tests/support/QFSyncTestSupport.h"

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTest>
#include <QUuid>

#include <gtest/gtest.h>

namespace {

class HelperProgramTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());
        const QString built = qEnvironmentVariable("QF_BUNDLE_DIR")
            + QStringLiteral("/Contents/MacOS/ProTombrelHelper.app/Contents/MacOS/ProTombrelHelper");
        ASSERT_TRUE(QFile::exists(built)) << qPrintable(built);
        // A copy with an identifier of its own, so that it never meets a helper running outside this test.
        const QString bundle = home.file(QStringLiteral("Pro Tombrel.app/Contents/MacOS/ProTombrelHelper.app"));
        QDir().mkpath(bundle + QStringLiteral("/Contents/MacOS"));
        executable = bundle + QStringLiteral("/Contents/MacOS/ProTombrelHelper");
        ASSERT_TRUE(QFile::copy(built, executable));
        const QString identifier = QStringLiteral("com.quenfield.ProTombrelHelper.test-")
            + QUuid::createUuid().toString(QUuid::WithoutBraces);
        ASSERT_TRUE(QFPropertyList::write(bundle + QStringLiteral("/Contents/Info.plist"),
            QVariantMap { { "CFBundleIdentifier", identifier }, { "CFBundleName", "ProTombrelHelper" },
                { "CFBundleExecutable", "ProTombrelHelper" } }));
    }
    void TearDown() override
    {
        for (QProcess *helper : { &first, &second }) {
            if (helper->state() != QProcess::NotRunning) {
                helper->terminate();
                if (!helper->waitForFinished(15000)) {
                    helper->kill();
                    helper->waitForFinished(5000);
                }
            }
        }
    }

    void startHelper(
        QProcess &helper, const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
    {
        helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        helper.setProcessEnvironment(environment);
        helper.start(executable, {});
        ASSERT_TRUE(helper.waitForStarted(10000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFHelperConnection::runningHelper() == helper.processId(); }, 20000))
            << "the helper's service belongs to the newest helper";
    }
    QStringList helperLog() const { return home.logMessages(QStringLiteral("ProTombrelHelper")); }
    int tombrel(const QStringList &arguments, QString *output)
    {
        QString out, err;
        QTextStream outStream(&out), errStream(&err);
        const int status = TombrelCommand(outStream, errStream).run(arguments);
        *output = out + err;
        return status;
    }

    QString executable;
    QProcess first;
    QProcess second;
};

} // namespace

TEST_F(HelperProgramTest, ASecondHelperForceQuitsTheFirst)
{
    startHelper(first);
    ASSERT_TRUE(QTest::qWaitFor([&] { return helperLog().contains(QStringLiteral("Backup interval: 630")); }, 20000));
    EXPECT_TRUE(helperLog().contains(QStringLiteral("Currently running instances: 1")));

    startHelper(second);
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(first.exitStatus(), QProcess::CrashExit) << "force-terminated, not asked";
    ASSERT_TRUE(QTest::qWaitFor([&] { return helperLog().contains(QStringLiteral("Backup interval: 630")); }, 20000));
    const QStringList log = helperLog();
    EXPECT_TRUE(log.contains(QStringLiteral("Currently running instances: 2"))) << qPrintable(log.join(u'\n'));
    EXPECT_EQ(log.count(QStringLiteral("Force quitting helper: 1")), 1);
    EXPECT_EQ(second.state(), QProcess::Running);
}

TEST_F(HelperProgramTest, TombrelHelperAsksTheRunningHelper)
{
    QString output;
    EXPECT_EQ(tombrel({ "helper", "status" }, &output), 1);
    EXPECT_EQ(output, QStringLiteral("the helper is not running\n"));
    EXPECT_EQ(tombrel({ "helper", "reload" }, &output), 1);
    EXPECT_EQ(output, QStringLiteral("tombrel: helper reload: the helper is not running\n"));
    EXPECT_EQ(tombrel({ "helper", "restart" }, &output), 2);
    EXPECT_EQ(tombrel({ "helper" }, &output), 2);

    startHelper(first);
    // The service name is taken before the first set-up runs: a set-up that began after the preferences
    // below were written would log the new interval before the reload's own lines are on disk.
    ASSERT_TRUE(QTest::qWaitFor([&] { return helperLog().contains(QStringLiteral("Backup interval: 630")); }, 20000));
    EXPECT_EQ(tombrel({ "helper", "status" }, &output), 0);
    EXPECT_EQ(output, QStringLiteral("the helper is running (process %1)\n").arg(first.processId()));

    QDir().mkpath(home.file(QStringLiteral("Edits")));
    writePreferences({ { "backupMinIntervalEnabled", 1 }, { "backupMinInterval", 2 },
        { "watchFolders", QVariantList { watchFolder(home.file("Edits"), "avb") } } });
    EXPECT_EQ(tombrel({ "helper", "reload" }, &output), 0) << qPrintable(output);
    // The reply comes after the set-up; its log lines reach the disk a moment later.
    ASSERT_TRUE(QTest::qWaitFor([&] { return helperLog().contains(QStringLiteral("Backup interval: 150")); }, 10000));
    QStringList log = helperLog();
    EXPECT_EQ(log.count(QStringLiteral("Setting up...")), 2);
    EXPECT_TRUE(log.contains(QStringLiteral("Backup interval: 150")));
    EXPECT_TRUE(log.contains(QStringLiteral("Watch paths: (\"%1\")").arg(home.file("Edits"))));

    const int scansBefore = int(log.count(QStringLiteral("Beginning scheduled backup...")));
    EXPECT_EQ(tombrel({ "helper", "scan" }, &output), 0) << qPrintable(output);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return helperLog().count(QStringLiteral("Beginning scheduled backup...")) == scansBefore + 1; }, 10000))
        << qPrintable(helperLog().join(u'\n'));

    // A termination request ends it in order.
    first.terminate();
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.state() == QProcess::NotRunning; }, 15000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
}

TEST_F(HelperProgramTest, WithoutADisplayANewVersionIsUploadedByTheApplicationTheHelperStarts)
{
    // The application beside the helper's bundle, as in the installed bundle.
    const QString application = home.file(QStringLiteral("Pro Tombrel.app/Contents/MacOS/Pro Tombrel"));
    ASSERT_TRUE(QFile::copy(
        qEnvironmentVariable("QF_BUNDLE_DIR") + QStringLiteral("/Contents/MacOS/Pro Tombrel"), application));
    ASSERT_TRUE(QFPropertyList::write(home.file(QStringLiteral("Pro Tombrel.app/Contents/Info.plist")),
        QVariantMap {
            { "CFBundleIdentifier",
                QStringLiteral("com.quenfield.ProTombrel.test-") + QUuid::createUuid().toString(QUuid::WithoutBraces) },
            { "CFBundleName", "Pro Tombrel" }, { "CFBundleExecutable", "Pro Tombrel" } }));
    QFFakeDropbox dropbox;
    ASSERT_TRUE(dropbox.listen());
    QDir().mkpath(home.file(QStringLiteral("Edits")));
    home.write(QStringLiteral("Edits/Cut.kdenlive"), "<mlt/>");
    writePreferences({ { "firstRun", false }, { "takeScreenshots", 0 },
        { "watchFolders", QVariantList { watchFolder(home.file("Edits"), "kdenlive") } } });
    synctest::pointAtFake(dropbox);
    synctest::linkAccount(dropbox);

    // As on a server or over ssh.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        environment.remove(QString::fromLatin1(name));
    startHelper(first, environment);
    // The search finds the project and versions it; the application started for it uploads the version
    // while this test's event loop serves the fake.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return QFProject::projectsInStorageRoot().size() == 1 && !dropbox.filePaths().isEmpty(); }, 60000))
        << qPrintable(helperLog().join(u'\n'));
    const QString projectID = QFProject::projectsInStorageRoot().first().projectID;
    EXPECT_EQ(dropbox.filePaths(), QStringList { QStringLiteral("/%1/Cut.00001.kdenlive.zip").arg(projectID) });
}
