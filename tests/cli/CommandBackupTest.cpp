// tombrel backup and scan: what they made, and their exit status when a backup made nothing or failed.

#include "tests/cli/CommandTestSupport.h"

#include "tests/support/QFFullDisk.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <gtest/gtest.h>

namespace {

using Builder = QFVersionStoreBuilder;

class CommandBackupTest : public CommandTest {
protected:
    void SetUp() override
    {
        CommandTest::SetUp();
        project = home.file(QStringLiteral("Edits/Cut.prproj"));
        folder = Builder::addProject(project, QStringLiteral("P1"), "current");
        Builder::setModified(project, QDateTime::currentDateTime().addSecs(-60));
        Builder::addVersions(
            folder, { { QStringLiteral("Cut.00001.prproj"), QDateTime::currentDateTime().addSecs(-3600), "one" } });
        Builder::setPreferences({ { QStringLiteral("takeScreenshots"), qint64(0) } });
    }
    QString versions() const { return folder + QStringLiteral("/Versions"); }

    QString project;
    QString folder;
};

} // namespace

TEST_F(CommandBackupTest, BackupPrintsTheVersionItMadeOrSaysWhyItMadeNone)
{
    const CommandResult made = runTombrel({ QStringLiteral("backup"), QStringLiteral("Cut") });
    ASSERT_EQ(made.status, 0) << made;
    EXPECT_EQ(made.out, versions() + QStringLiteral("/Cut.00002.prproj\n"));

    Builder::setModified(project, QDateTime::currentDateTime().addSecs(-60));
    QFile::resize(project, 0);
    const CommandResult empty = runTombrel({ QStringLiteral("backup"), QStringLiteral("Cut") });
    EXPECT_EQ(empty.status, 1) << empty;
    EXPECT_TRUE(empty.out.isEmpty()) << empty;
    EXPECT_TRUE(empty.err.contains(QStringLiteral("no version was made of %1: ").arg(project))) << empty;
    EXPECT_TRUE(empty.err.contains(QStringLiteral("empty"))) << empty;
    EXPECT_EQ(Builder::versionNames(folder),
        (QStringList { QStringLiteral("Cut.00001.prproj"), QStringLiteral("Cut.00002.prproj") }));
}

TEST_F(CommandBackupTest, ScanExitsWithOneWhenABackupFailed)
{
    CommandResult scanned;
    {
        const QFFullDisk full;
        scanned = runTombrel({ QStringLiteral("scan") });
    }
    EXPECT_EQ(scanned.status, 1) << scanned;
    EXPECT_EQ(scanned.out, QStringLiteral("Scan finished.\n"));
    EXPECT_TRUE(scanned.err.contains(QStringLiteral("scan: the backup of %1 failed: ").arg(project))) << scanned;
    EXPECT_EQ(Builder::versionNames(folder), QStringList { QStringLiteral("Cut.00001.prproj") });

    // The same scan with room on the disk makes the version and succeeds; one with nothing to do as well.
    scanned = runTombrel({ QStringLiteral("scan") });
    EXPECT_EQ(scanned.status, 0) << scanned;
    EXPECT_EQ(Builder::versionNames(folder),
        (QStringList { QStringLiteral("Cut.00001.prproj"), QStringLiteral("Cut.00002.prproj") }));
    scanned = runTombrel({ QStringLiteral("scan") });
    EXPECT_EQ(scanned.status, 0) << scanned;
    EXPECT_EQ(scanned.out, QStringLiteral("Scan finished.\n"));
}
