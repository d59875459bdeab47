#include "tests/cli/CommandTestSupport.h"

#include "tests/support/QFFullDisk.h"

#include "engine/QFProject.h"
#include "engine/QFTombrelBackup.h"
#include "foundation/platform/QFPropertyList.h"
#include "tests/support/QFSyncTestSupport.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using Builder = QFVersionStoreBuilder;

class CommandProjectActionsTest : public CommandTest {
protected:
    void SetUp() override
    {
        CommandTest::SetUp();
        cut = home.file(QStringLiteral("Edits/Cut.prproj"));
        trailer = home.file(QStringLiteral("Edits/Trailer.prproj"));
        Builder::addVersions(
            Builder::addProject(cut, QStringLiteral("P1")), { { QStringLiteral("Cut.00001.prproj"), {} } });
        Builder::addVersions(
            Builder::addProject(trailer, QStringLiteral("P2")), { { QStringLiteral("Trailer.00001.prproj"), {} } });
        Builder::addProject(home.file(QStringLiteral("Edits/Teaser.prproj")), QStringLiteral("P3"));
    }
    static QStringList projectIDs()
    {
        QStringList ids;
        for (const QFProjectListEntry &entry : QFProject::projectsInStorageRoot())
            ids << entry.projectID;
        return ids;
    }

    QString cut;
    QString trailer;
};

} // namespace

TEST_F(CommandProjectActionsTest, RemoveSendsProjectFoldersToTheTrashAndLeavesTheirFiles)
{
    QDir().mkpath(QFTombrelBackup::cachesFolder());
    const QString cache = QFTombrelBackup::cachesFolder() + QStringLiteral("/P1.localized.cache.plist");
    ASSERT_TRUE(QFPropertyList::write(cache, QVariantMap()));

    const CommandResult r
        = runTombrel({ QStringLiteral("remove"), QStringLiteral("Cut"), trailer, QStringLiteral("P1") });
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out,
        QStringLiteral("removed project P1 (%1); its versions are in the Trash\n"
                       "removed project P2 (%2); its versions are in the Trash\n")
            .arg(cut, trailer));
    EXPECT_EQ(projectIDs(), QStringList { QStringLiteral("P3") });
    EXPECT_EQ(trashed(), QStringList({ QStringLiteral("P1.localized"), QStringLiteral("P2.localized") }));
    EXPECT_FALSE(QFileInfo::exists(cache));
    EXPECT_TRUE(QFileInfo::exists(cut));
    EXPECT_TRUE(QFileInfo::exists(trailer));
}

TEST_F(CommandProjectActionsTest, RemoveWithAnUnknownProjectRemovesNothing)
{
    const QStringList before = homeTree();
    const CommandResult r = runTombrel({ QStringLiteral("remove"), QStringLiteral("Cut"), QStringLiteral("Cutt") });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, QStringLiteral("tombrel: remove: no project 'Cutt'; see tombrel projects; nothing was removed\n"));
    EXPECT_EQ(homeTree(), before);
    EXPECT_EQ(runTombrel({ QStringLiteral("remove") }).status, 2);
}

TEST_F(CommandProjectActionsTest, RelinkPointsAProjectAtItsMovedFile)
{
    const QString moved = home.write(QStringLiteral("Archive/Cut final.prproj"), "x");
    CommandResult r = runTombrel({ QStringLiteral("relink"), QStringLiteral("Cut"), moved });
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, QStringLiteral("relinked: P1 -> %1\n").arg(moved));
    EXPECT_EQ(QFProject::readProjectFolder(storageRoot() + QStringLiteral("/P1.localized"))->path, moved);
    // Found under its new name from now on, with its versions.
    r = runTombrel({ QStringLiteral("versions"), QStringLiteral("Cut final") });
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_TRUE(r.out.contains(QStringLiteral("Cut.00001.prproj"))) << r;

    r = runTombrel({ QStringLiteral("relink"), QStringLiteral("P1"), trailer });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, QStringLiteral("tombrel: relink: %1 is already the file of project P2\n").arg(trailer));
    r = runTombrel({ QStringLiteral("relink"), QStringLiteral("P1"), home.file(QStringLiteral("nowhere.prproj")) });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(
        r.err, QStringLiteral("tombrel: relink: no such file: %1\n").arg(home.file(QStringLiteral("nowhere.prproj"))));
    EXPECT_EQ(QFProject::readProjectFolder(storageRoot() + QStringLiteral("/P1.localized"))->path, moved);
    EXPECT_EQ(runTombrel({ QStringLiteral("relink"), QStringLiteral("P1") }).status, 2);
}

TEST_F(CommandProjectActionsTest, RelinkOnAFullDiskFailsAndKeepsTheLink)
{
    const QString settings = storageRoot() + QStringLiteral("/P1.localized/Settings.plist");
    const QByteArray before = contents(settings);
    const QString moved = home.write(QStringLiteral("Archive/Cut final.prproj"), "x");
    CommandResult r;
    {
        const QFFullDisk full;
        r = runTombrel({ QStringLiteral("relink"), QStringLiteral("Cut"), moved });
    }
    EXPECT_EQ(r.status, 1) << r;
    EXPECT_EQ(r.err, QStringLiteral("tombrel: relink: cannot write the settings of project P1\n"));
    EXPECT_EQ(contents(settings), before);
    EXPECT_EQ(QFProject::readProjectFolder(storageRoot() + QStringLiteral("/P1.localized"))->path, cut);

    // A file whose name would hide its versions is refused.
    const QString hidden = home.write(QStringLiteral("Archive/.Cut.prproj"), "x");
    r = runTombrel({ QStringLiteral("relink"), QStringLiteral("Cut"), hidden });
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("begins with \".\""))) << r;
}

TEST_F(CommandProjectActionsTest, RemoveWithSyncOnRemovesTheProjectsDropboxCopies)
{
    QFFakeDropbox dropbox;
    ASSERT_TRUE(dropbox.listen());
    synctest::pointAtFake(dropbox);
    synctest::linkAccount(dropbox);
    dropbox.putFile(QStringLiteral("/P1/Cut.00001.prproj.zip"), "one");
    dropbox.putFile(QStringLiteral("/P2/Trailer.00001.prproj.zip"), "trailer");

    QProcess tombrel;
    tombrel.start(qEnvironmentVariable("QF_BUNDLE_DIR") + QStringLiteral("/Contents/MacOS/tombrel"),
        { QStringLiteral("remove"), QStringLiteral("Cut") });
    ASSERT_TRUE(tombrel.waitForFinished(60000));
    EXPECT_EQ(tombrel.exitCode(), 0) << tombrel.readAllStandardError().toStdString();
    EXPECT_EQ(QString::fromUtf8(tombrel.readAllStandardOutput()),
        QStringLiteral("removed project P1 (%1); its versions are in the Trash\n").arg(cut));

    // The application, started for the removal, is served from this test's event loop.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dropbox.hasFile(QStringLiteral("/P1/Cut.00001.prproj.zip")); }, 30000))
        << qPrintable(dropbox.filePaths().join(u' '));
    EXPECT_EQ(dropbox.filePaths(), QStringList { QStringLiteral("/P2/Trailer.00001.prproj.zip") });
    EXPECT_EQ(projectIDs(), (QStringList { QStringLiteral("P2"), QStringLiteral("P3") }));
}
