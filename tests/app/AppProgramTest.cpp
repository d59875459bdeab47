// The application program started as a process: its command-line modes and their exit statuses.

#include "foundation/platform/QFPropertyList.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/QFTempHome.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
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
    const QString folder = QFVersionStoreBuilder::addProject(home.file("Videos/Edit.kdenlive"), QStringLiteral("EDIT"), "<mlt/>");
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
    // Three programs of the application's bundle are running already.
    const QString bundle = QFileInfo(executable).absolutePath();
    QList<QProcess *> running;
    for (int i = 0; i < 3; ++i) {
        const QString copy = bundle + QStringLiteral("/.test-sleep-%1-%2").arg(QCoreApplication::applicationPid()).arg(i);
        QFile::remove(copy);
        ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), copy));
        QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        auto *process = new QProcess;
        process->start(copy, { "60" });
        ASSERT_TRUE(process->waitForStarted());
        running << process;
        QFile::remove(copy);
    }
    QFVersionStoreBuilder::setPreferences({ { "syncService", 1 }, { "firstRun", false } });
    const QString version = home.write(QStringLiteral("v.fcp"), "v");
    EXPECT_EQ(run({ "-upload", version }), 0);
    EXPECT_TRUE(home.logMessages(QStringLiteral("Pro Tombrel")).contains(QStringLiteral("3 copies are running already - quitting.")))
        << qPrintable(home.logMessages(QStringLiteral("Pro Tombrel")).join(u'\n'));
    for (QProcess *process : running) {
        process->kill();
        process->waitForFinished();
        delete process;
    }
}
