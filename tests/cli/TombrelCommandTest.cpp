#include "tests/cli/CommandTestSupport.h"

#include "foundation/platform/QFPropertyList.h"
#include "tests/support/QFTempHome.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

class TombrelCommandTest : public TempHomeTest { };

} // namespace

TEST_F(TombrelCommandTest, VersionHelpAndUsageErrors)
{
    EXPECT_EQ(
        runTombrel({ QStringLiteral("--version") }).out, QStringLiteral("tombrel %1\n").arg(TombrelCommand::version()));
    EXPECT_TRUE(runTombrel({ QStringLiteral("--help") }).out.contains(QStringLiteral("paths")));
    const CommandResult none = runTombrel({});
    EXPECT_EQ(none.status, 2);
    EXPECT_TRUE(none.err.startsWith(QStringLiteral("tombrel: ")));
    const CommandResult unknown = runTombrel({ QStringLiteral("frobnicate") });
    EXPECT_EQ(unknown.status, 2);
    EXPECT_TRUE(unknown.err.startsWith(QStringLiteral("tombrel: unknown command 'frobnicate'")));
    EXPECT_EQ(runTombrel({ QStringLiteral("paths"), QStringLiteral("--bogus") }).status, 2);
}

TEST_F(TombrelCommandTest, PathsFollowTheHomeAndThePreferenceFile)
{
    CommandResult r = runTombrel({ QStringLiteral("paths"), QStringLiteral("--json") });
    ASSERT_EQ(r.status, 0);
    QJsonObject paths = QJsonDocument::fromJson(r.out.toUtf8()).object();
    EXPECT_EQ(paths.value(QStringLiteral("storage_root")).toString(),
        home.file(QStringLiteral(".local/share/Quenfield/Pro Tombrel/Projects")));
    EXPECT_EQ(paths.value(QStringLiteral("preference_file")).toString(),
        home.file(QStringLiteral(".config/com.quenfield.ProTombrel.plist")));
    EXPECT_EQ(paths.value(QStringLiteral("caches")).toString(),
        home.file(QStringLiteral(".local/share/Quenfield/Pro Tombrel/Caches")));
    EXPECT_EQ(paths.value(QStringLiteral("logs")).toString(), home.file(QStringLiteral(".local/state/Quenfield")));

    ASSERT_TRUE(QFPropertyList::write(home.file(QStringLiteral(".config/com.quenfield.ProTombrel.plist")),
        QVariantMap { { QStringLiteral("storagePath"), QStringLiteral("/srv/versions") } }));
    r = runTombrel({ QStringLiteral("paths") });
    EXPECT_TRUE(r.out.contains(QStringLiteral("storage root:     /srv/versions\n"))) << qPrintable(r.out);
}

TEST_F(TombrelCommandTest, TheInstalledProgramRunsFromItsBundle)
{
    const QString program = qEnvironmentVariable("QF_BUNDLE_DIR") + QStringLiteral("/Contents/MacOS/tombrel");
    QProcess process;
    process.start(program, { QStringLiteral("--version") });
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(process.readAllStandardOutput()),
        QStringLiteral("tombrel %1\n").arg(TombrelCommand::version()));
    // Its log carries the bundle's version.
    QFile log(home.file(QStringLiteral(".local/state/Quenfield/tombrel.1.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("Version: " + TombrelCommand::version().toUtf8()));
}
