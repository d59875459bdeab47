#pragma once

// The rules of watch folders that need no running helper: the entries of the preferences, the watch
// paths, the folders a search covers, the restore suppression, the backup interval and which entries of
// a folder become projects. Pure functions, safe from any thread.

#include "engine/QFProject.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

class QFPreferenceSnapshot;

// An element of watchFolders or watchDriveFolders: folder, and the extensions as the user wrote them.
// For a drive folder, folder is relative to the root of a volume.
struct QFWatchFolderEntry {
    QString folder;
    QString extensions;

    // Extensions split at ",", trimmed, lower-cased; empty items dropped.
    QStringList types() const;
    QVariantMap toDictionary() const;
    // Elements that are not dictionaries, and dictionaries without a folder string, are left out.
    static QList<QFWatchFolderEntry> listFromPreference(const QVariant &value);
    bool operator==(const QFWatchFolderEntry &) const = default;
};

namespace QFWatchFolders {

// "((folder = "/a"; extensions = "avb,avp";), …)" for the log.
QString describe(const QList<QFWatchFolderEntry> &entries);
// "("/a", "/b")" for the log.
QString describe(const QStringList &paths);

// Seconds between scheduled scans: 630 unless backupMinIntervalEnabled is 1 (absent: off, as the window
// shows it); then a backupMinInterval of N ≥ 1 minutes (absent: 15) gives N × 60 + 30.
qint64 backupInterval(const QFPreferenceSnapshot &prefs);

// True when path begins (plain, case-sensitive string prefix) with any element of the array.
bool arrayContainsParentFolderForPath(const QStringList &array, const QString &path);

// The folders to watch: the watch folders (without the two Final Cut folders), then the folders of the
// known projects that no earlier path covers (without Final Cut Pro X projects and events).
QStringList watchPaths(const QList<QFWatchFolderEntry> &watchFolders, const QList<QFProjectListEntry> &projects);

// The entries a folder search covers: every watch folder, and every drive folder on every mounted volume;
// with a path, only those whose folder is a prefix of it. volumes: the mount points of mounted volumes.
QList<QFWatchFolderEntry> foldersToSearch(const QString &path, const QList<QFWatchFolderEntry> &watchFolders,
    const QList<QFWatchFolderEntry> &driveFolders, const QStringList &volumes);

// Events on a folder that holds the project restored less than 20 seconds ago are the restore's own.
bool isSuppressedByRestore(const QString &eventPath, const QString &lastRestoredProject,
    const QDateTime &lastRestoreDate, const QDateTime &now);

// Whether a file (not a folder to descend into) of a searched folder becomes a project. ext: lower case.
bool isProjectCandidate(
    const QString &folderName, const QString &entryName, const QString &ext, const QStringList &types);

} // namespace QFWatchFolders
