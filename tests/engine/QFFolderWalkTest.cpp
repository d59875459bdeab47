#include "engine/QFFolderWalk.h"

#include "tests/support/QFTempHome.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

using QFFolderWalkTest = TempHomeTest;

// Every entry handed over, relative to the home, sorted.
QStringList walked(const QFTempHome &home, const QString &folder, const QFFolderWalk::Options &options = {})
{
    QStringList entries;
    QFFolderWalk::walk(home.file(folder), options, [&](const QString &, const QFileInfo &entry) {
        entries << QDir(home.path()).relativeFilePath(entry.filePath());
    });
    entries.sort();
    return entries;
}

} // namespace

TEST_F(QFFolderWalkTest, SkippedFoldersAndPackages)
{
    for (const char *name : { "/x/.hidden", "/x/Final Cut Backups", "/x/Final Cut Backups.localized",
             "/x/Updated Projects", "/x/Final Cut Projects - Hidden", "/x/Final Cut Events - Hidden" }) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(QFFolderWalk::isSkippedByWatchSearch(name));
    }
    EXPECT_FALSE(QFFolderWalk::isSkippedByWatchSearch("/x/Final Cut Projects"));
    for (const char *name : { "/x/Backups", "/x/Old Versions", "/x/.fcpcache" }) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(QFFolderWalk::isSkippedByImport(name));
    }
    EXPECT_FALSE(QFFolderWalk::isSkippedByImport("/x/Edits"));
    QDir().mkpath(home.file("Lib.fcpbundle"));
    QDir().mkpath(home.file("Tool.APP"));
    home.write("file.app", "x");
    EXPECT_TRUE(QFFolderWalk::isPackage(home.file("Lib.fcpbundle")));
    EXPECT_TRUE(QFFolderWalk::isPackage(home.file("Tool.APP")));
    EXPECT_FALSE(QFFolderWalk::isPackage(home.file("file.app")));
}

TEST_F(QFFolderWalkTest, ProjectAndEventFoldersArePlainFoldersAndOnlyLibrariesOfPackagesAreEntered)
{
    home.write("Movies/Wedding.fcpevent/CurrentVersion.fcpevent", "event");
    home.write("Movies/Cut.fcpproject/CurrentVersion.fcpproject", "project");
    // A folder holding "Contents" is no package for that reason alone.
    home.write("Movies/Reel.fcpevent/Contents/Info.plist", "x");
    home.write("Movies/Film.fcpbundle/Day 1/CurrentVersion.fcpevent", "library");
    home.write("Movies/Tool.app/Contents/Info.plist", "x");
    home.write("Movies/Song.logicx/Alternatives/000/ProjectData", "x");
    for (const char *path : { "Movies/Wedding.fcpevent", "Movies/Cut.fcpproject", "Movies/Reel.fcpevent" }) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(QFFolderWalk::isPackage(home.file(path)));
        EXPECT_TRUE(QFFolderWalk::entersFolder(QFileInfo(home.file(path))));
    }
    EXPECT_TRUE(QFFolderWalk::entersFolder(QFileInfo(home.file("Movies/Film.fcpbundle"))));
    EXPECT_FALSE(QFFolderWalk::entersFolder(QFileInfo(home.file("Movies/Tool.app"))));
    EXPECT_EQ(walked(home, "Movies"),
        QStringList({ "Movies/Cut.fcpproject/CurrentVersion.fcpproject",
            "Movies/Film.fcpbundle/Day 1/CurrentVersion.fcpevent", "Movies/Reel.fcpevent/Contents/Info.plist",
            "Movies/Song.logicx", "Movies/Tool.app", "Movies/Wedding.fcpevent/CurrentVersion.fcpevent" }));
}

TEST_F(QFFolderWalkTest, ALinkedFolderIsWalkedOnceWhereItLies)
{
    home.write("Edits/Trailer.prproj", "x");
    home.write("Elsewhere/Teaser.prproj", "x");
    ASSERT_TRUE(QFile::link(home.file("Elsewhere"), home.file("Edits/Linked")));
    ASSERT_TRUE(QFile::link(home.file("Elsewhere"), home.file("Edits/Linked again")));
    // A link back up the tree ends there.
    ASSERT_TRUE(QFile::link(home.file("Edits"), home.file("Elsewhere/Loop")));
    EXPECT_EQ(walked(home, "Edits"), QStringList({ "Edits/Trailer.prproj", "Elsewhere/Teaser.prproj" }));
}

TEST_F(QFFolderWalkTest, SkipRulesMarkersSubfoldersAndStopping)
{
    home.write("Edits/Trailer.prproj", "x");
    home.write("Edits/Backups/Old.prproj", "x");
    home.write("Edits/Sub/Teaser.prproj", "x");
    home.write("Edits/Cached/.fcpcache/x", "x");
    home.write("Edits/Cached/Z.prproj", "x");
    // A linked folder is asked at its target.
    home.write("Hidden/.store/Copy.prproj", "x");
    ASSERT_TRUE(QFile::link(home.file("Hidden/.store"), home.file("Edits/Visible")));

    QFFolderWalk::Options import;
    import.skipFolder = QFFolderWalk::isSkippedByImport;
    import.endMarker = QFFolderWalk::importEndMarker();
    import.nameOrder = true;
    EXPECT_EQ(walked(home, "Edits", import),
        QStringList({ "Edits/Sub/Teaser.prproj", "Edits/Trailer.prproj", "Hidden/.store/Copy.prproj" }))
        << "the cache marker ends its folder, which is listed first";

    QFFolderWalk::Options search;
    search.skipFolder = QFFolderWalk::isSkippedByWatchSearch;
    EXPECT_EQ(walked(home, "Edits", search),
        QStringList({ "Edits/Backups/Old.prproj", "Edits/Cached/Z.prproj", "Edits/Sub/Teaser.prproj",
            "Edits/Trailer.prproj" }));
    EXPECT_TRUE(walked(home, "Hidden/.store", search).isEmpty()) << "the first folder is asked too";

    QFFolderWalk::Options top;
    top.subfolders = false;
    EXPECT_EQ(walked(home, "Edits", top), QStringList({ "Edits/Trailer.prproj" }));

    QFFolderWalk::Options stopping;
    int seen = 0;
    stopping.stopped = [&] { return seen > 0; };
    QFFolderWalk::walk(home.file("Edits"), stopping, [&](const QString &, const QFileInfo &) { ++seen; });
    EXPECT_EQ(seen, 1);
}

TEST_F(QFFolderWalkTest, AFolderIsDoneAfterEverythingBelowIt)
{
    home.write("Edits/A.prproj", "x");
    home.write("Edits/Sub/B.prproj", "x");
    QStringList order;
    QFFolderWalk::Options options;
    options.folderDone
        = [&](const QString &folder) { order << QStringLiteral("done ") + QFileInfo(folder).fileName(); };
    QFFolderWalk::walk(home.file("Edits"), options, [&](const QString &folder, const QFileInfo &entry) {
        EXPECT_EQ(folder, entry.path());
        order << entry.fileName();
    });
    ASSERT_EQ(order.size(), 4);
    EXPECT_EQ(order.indexOf("B.prproj") + 1, order.indexOf("done Sub"));
    EXPECT_EQ(order.last(), "done Edits");
}

TEST_F(QFFolderWalkTest, AnImportTakesTheFilesOfItsTypesInNameOrder)
{
    home.write("Edits/b.prproj", "x");
    home.write("Edits/A.prproj", "x");
    home.write("Edits/notes.txt", "x");
    home.write("Edits/Backups/Old.prproj", "x");
    home.write("Edits/Sub/Teaser.PRPROJ", "x");
    home.write("Edits/Wedding.fcpevent/CurrentVersion.fcpevent", "x");
    QDir().mkpath(home.file("Edits/Tool.app"));
    const QString edits = home.file("Edits");
    EXPECT_EQ(QFFolderWalk::filesToImport({ edits }, true, { "prproj", "fcpevent" }, true),
        QStringList({ edits + "/A.prproj", edits + "/Sub/Teaser.PRPROJ",
            edits + "/Wedding.fcpevent/CurrentVersion.fcpevent", edits + "/b.prproj" }));
    EXPECT_EQ(QFFolderWalk::filesToImport({ edits }, false, {}, false),
        QStringList({ edits + "/A.prproj", edits + "/Tool.app", edits + "/b.prproj", edits + "/notes.txt" }));
    EXPECT_TRUE(QFFolderWalk::filesToImport({ home.file("Edits/Backups") }, false, {}, true).isEmpty());
}
