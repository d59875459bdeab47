#include "helper/QFWatchFolders.h"

#include "engine/QFPreferenceSnapshot.h"
#include "engine/QFProject.h"
#include "tests/helper/HelperTestSupport.h"

#include <QDir>

#include <gtest/gtest.h>

namespace {

using QFWatchFoldersTest = TempHomeTest;

qint64 intervalFor(const QVariantMap &prefs)
{
    writePreferences(prefs);
    return QFWatchFolders::backupInterval(QFPreferenceSnapshot::read());
}

QFProjectListEntry project(const QString &path)
{
    return QFProjectListEntry { path, QStringLiteral("ID"), std::nullopt, QString() };
}

} // namespace

TEST_F(QFWatchFoldersTest, BackupIntervalFollowsTheMinimumIntervalSetting)
{
    EXPECT_EQ(QFWatchFolders::backupInterval(QFPreferenceSnapshot::read()), 630) << "no preference file";
    const struct {
        const char *name;
        QVariantMap prefs;
        qint64 seconds;
    } cases[] = {
        { "disabled with 5 minutes", { { "backupMinIntervalEnabled", 0 }, { "backupMinInterval", 5 } }, 630 },
        { "enabled key absent (off, as the window shows it), 5 minutes", { { "backupMinInterval", 5 } }, 630 },
        { "enabled, 5 minutes", { { "backupMinIntervalEnabled", 1 }, { "backupMinInterval", 5 } }, 330 },
        { "enabled, interval absent (15 minutes, as the window shows it)", { { "backupMinIntervalEnabled", 1 } }, 930 },
        { "enabled, 1 minute", { { "backupMinIntervalEnabled", 1 }, { "backupMinInterval", 1 } }, 90 },
        { "enabled, 0 minutes", { { "backupMinIntervalEnabled", 1 }, { "backupMinInterval", 0 } }, 630 },
        { "enabled, negative minutes", { { "backupMinIntervalEnabled", 1 }, { "backupMinInterval", -3 } }, 630 },
        { "nothing set", { { "syncService", 0 } }, 630 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(intervalFor(c.prefs), c.seconds);
    }
}

TEST_F(QFWatchFoldersTest, WatchPathsLeaveOutFinalCutFoldersAndCoveredProjectFolders)
{
    const QList<QFWatchFolderEntry> folders
        = { { "/u/Movies", "fcpevent,fcpproject" }, { "/u/Final Cut Projects", "fcp" },
              { "/u/final cut events", "fcp" }, { "/u/Movies", "avb" }, { "/u/Docs", "prproj" } };
    const QList<QFProjectListEntry> projects = { project("/u/Movies/Edit/a.prproj"), project("/u/Work/b.prproj"),
        project("/u/Work/c.prproj"), project("/u/Elsewhere/Lib.fcpproject"), project("/u/Other/d.avb") };
    EXPECT_EQ(
        QFWatchFolders::watchPaths(folders, projects), QStringList({ "/u/Movies", "/u/Docs", "/u/Work", "/u/Other" }));
}

TEST_F(QFWatchFoldersTest, ProjectPathsWithTildeAreExpanded)
{
    const QStringList paths = QFWatchFolders::watchPaths({}, { project("~/Edits/a.avb") });
    EXPECT_EQ(paths, QStringList(QDir::homePath() + "/Edits"));
}

TEST_F(QFWatchFoldersTest, ParentFolderIsAPlainCaseSensitivePrefix)
{
    EXPECT_TRUE(QFWatchFolders::arrayContainsParentFolderForPath({ "/u/Projects" }, "/u/Projects 2"));
    EXPECT_TRUE(QFWatchFolders::arrayContainsParentFolderForPath({ "/a", "/u/P" }, "/u/P/x"));
    EXPECT_FALSE(QFWatchFolders::arrayContainsParentFolderForPath({ "/u/projects" }, "/u/Projects"));
    EXPECT_FALSE(QFWatchFolders::arrayContainsParentFolderForPath({}, "/u"));
}

TEST_F(QFWatchFoldersTest, SearchCoversMatchingWatchFoldersAndDriveFoldersOnMountedVolumes)
{
    const QList<QFWatchFolderEntry> watch = { { "/media/u/Media", "avb" }, { "/home/u/Movies", "fcp" } };
    const QList<QFWatchFolderEntry> drives = { { "Projects", "prproj" }, { "", "avb" } };
    const QStringList volumes = { "/media/u/Media", "/mnt/Backup" };

    const auto all = QFWatchFolders::foldersToSearch(QString(), watch, drives, volumes);
    EXPECT_EQ(all,
        (QList<QFWatchFolderEntry> {
            watch[0], watch[1], { "/media/u/Media/Projects", "prproj" }, { "/mnt/Backup/Projects", "prproj" } }));

    // A mounted volume: only folders that are a prefix of its mount point.
    EXPECT_EQ(QFWatchFolders::foldersToSearch("/media/u/Media", watch, drives, volumes),
        QList<QFWatchFolderEntry> { watch[0] });
    // An event: the watch folder that holds it.
    EXPECT_EQ(QFWatchFolders::foldersToSearch("/home/u/Movies/Cut/", watch, drives, volumes),
        QList<QFWatchFolderEntry> { watch[1] });
    EXPECT_TRUE(QFWatchFolders::foldersToSearch("/home/u/Other/", watch, drives, volumes).isEmpty());
}

TEST_F(QFWatchFoldersTest, RestoreSuppressesEventsOnTheProjectsFoldersForTwentySeconds)
{
    const QString restored = "/Users/u/Projects/a.prproj";
    const QDateTime now = QDateTime::currentDateTime();
    EXPECT_TRUE(QFWatchFolders::isSuppressedByRestore("/Users/u/Projects/", restored, now.addSecs(-5), now));
    EXPECT_TRUE(QFWatchFolders::isSuppressedByRestore("/Users/u/", restored, now.addSecs(-5), now));
    EXPECT_FALSE(QFWatchFolders::isSuppressedByRestore("/Users/u/Other/", restored, now.addSecs(-5), now));
    EXPECT_FALSE(QFWatchFolders::isSuppressedByRestore("/Users/u/Projects/", restored, now.addSecs(-20), now));
    EXPECT_FALSE(QFWatchFolders::isSuppressedByRestore("/Users/u/Projects/", restored, now.addSecs(-25), now));
    EXPECT_FALSE(QFWatchFolders::isSuppressedByRestore("/Users/u/Projects/", restored, now.addSecs(3600), now))
        << "a date ahead of the clock";
    EXPECT_FALSE(QFWatchFolders::isSuppressedByRestore("/Users/u/Projects/", QString(), now, now));
}

TEST_F(QFWatchFoldersTest, CandidatesFollowTheTypesAndTheEditorsOwnFolders)
{
    const QStringList premiere = { "prproj" };
    const QStringList finalCut = { "fcpevent", "fcpproject" };
    EXPECT_TRUE(QFWatchFolders::isProjectCandidate("Edits", "Edit.PRPROJ", "prproj", premiere));
    EXPECT_FALSE(QFWatchFolders::isProjectCandidate("Edits", "Edit.avb", "avb", premiere));
    EXPECT_FALSE(QFWatchFolders::isProjectCandidate("Edits", "Edit", "", premiere));
    EXPECT_FALSE(QFWatchFolders::isProjectCandidate("Adobe Premiere Pro Auto-Save", "Edit.prproj", "prproj", premiere));
    // The editor's auto-save copies: "*~????????-????-????-????-???????????" against the whole name.
    EXPECT_FALSE(
        QFWatchFolders::isProjectCandidate("Edits", "Edit~12345678-1234-1234-1234-1234.prproj", "prproj", premiere));
    EXPECT_TRUE(
        QFWatchFolders::isProjectCandidate("Edits", "Edit-12345678-1234-1234-1234-1234.prproj", "prproj", premiere));
    EXPECT_FALSE(QFWatchFolders::isProjectCandidate("Backups", "CurrentVersion.fcpevent", "fcpevent", finalCut));
    EXPECT_FALSE(
        QFWatchFolders::isProjectCandidate("Old Versions", "CurrentVersion.fcpproject", "fcpproject", finalCut));
    EXPECT_TRUE(QFWatchFolders::isProjectCandidate("Backups", "Cut.prproj", "prproj", premiere));
    EXPECT_FALSE(QFWatchFolders::isProjectCandidate("Apps", "Tool.app", "app", { "app" }));
    EXPECT_TRUE(QFWatchFolders::isProjectCandidate("Songs", "Song.logicx", "logicx", { "logicx" }));
}

TEST_F(QFWatchFoldersTest, ListsFromPreferencesKeepOnlyWellFormedEntries)
{
    const QVariantList list = { watchFolder("/a", " AVB , avp\n,"), QVariantMap { { "folder", "/b" } },
        QStringLiteral("junk"), QVariantMap { { "extensions", "avb" } }, watchFolder("~/Movies", "fcpevent") };
    const auto entries = QFWatchFolderEntry::listFromPreference(list);
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[0].types(), QStringList({ "avb", "avp" }));
    EXPECT_TRUE(entries[1].types().isEmpty()) << "an entry without extensions finds nothing";
    EXPECT_EQ(entries[2].folder, QDir::homePath() + "/Movies");
    EXPECT_TRUE(QFWatchFolderEntry::listFromPreference(QVariant()).isEmpty());
}

TEST_F(QFWatchFoldersTest, DisplayNameOfCurrentVersionFilesIsTheirFolder)
{
    EXPECT_EQ(QFProject::displayNameForPath("/m/My Event/CurrentVersion.fcpevent"), "My Event");
    EXPECT_EQ(QFProject::displayNameForPath("/m/Film/CurrentVersion.fcpproject"), "Film");
    EXPECT_EQ(QFProject::displayNameForPath("/m/Film/Cut.prproj"), "Cut.prproj");
}
