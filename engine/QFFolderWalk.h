#pragma once

// What a package is (a folder the desktop shows as one file), and the one walk over a tree of folders
// that the window's drops and folder imports and the helper's search of watch folders share. A walk
// hands over every entry it does not enter (files and packages); folders a caller's skip rule names are
// not entered, and a folder reached through links is walked once, where it lies, however many links
// lead to it, so a link back up the tree ends there. Safe from any thread; a walk runs on its caller's.

#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <functional>

class QFFolderWalk final {
public:
    // A folder whose extension, in any letter case, is app, bundle, framework, plugin, fcpbundle, logicx,
    // band, rtfd or sparsebundle. Folders named like fcpproject or fcpevent are plain folders, so a walk
    // finds the CurrentVersion files inside them.
    static bool isPackage(const QFileInfo &info);
    static bool isPackage(const QString &path);
    // Whether a walk enters the entry: a folder that is not a package, or a library (fcpbundle), whose
    // projects lie inside it.
    static bool entersFolder(const QFileInfo &entry);

    // Folders the search of watch folders never enters: hidden ones and the editors' own backup and
    // hidden folders.
    static bool isSkippedByWatchSearch(const QString &folder);
    // Folders a folder import never enters: the editors' backups and the Final Cut Pro cache.
    static bool isSkippedByImport(const QString &folder);
    // The entry whose presence ends an import of the folder that holds it (entries listed before it stay).
    static QString importEndMarker();

    struct Options {
        // Not entered when true, the first folder included; a linked folder is asked at the link's target.
        std::function<bool(const QString &folder)> skipFolder;
        // False: only the first folder's own entries.
        bool subfolders = true;
        // Entries in name order; otherwise as the file system lists them.
        bool nameOrder = false;
        // An entry of this name ends the walk of the folder that holds it.
        QString endMarker;
        // Asked before each entry; true ends the whole walk.
        std::function<bool()> stopped;
        // Called when the walk enters a folder, and when the walk of it (with everything below it) is over.
        std::function<void(const QString &folder)> folderEntered;
        std::function<void(const QString &folder)> folderDone;
    };

    // entry: a file or package of folder (folder + "/" + its name, cleaned), in the order met; the walk
    // enters a folder where it meets it, between the entries around it.
    using Visitor = std::function<void(const QString &folder, const QFileInfo &entry)>;
    static void walk(const QString &folder, const Options &options, const Visitor &visit);

    // The files and packages a folder import adds, in the order met (the folders in turn, each folder's
    // entries in name order): those whose lower-cased extension is one of types when onlyTypes, and below
    // the first folders only when subfolders. Logs "Adding projects from directory %@..." for each folder.
    static QStringList filesToImport(
        const QStringList &folders, bool onlyTypes, const QStringList &types, bool subfolders);
};
