#include "engine/QFProjectActions.h"

#include "engine/QFDropboxSync.h"
#include "engine/QFPreferenceKeys.h"
#include "engine/QFTombrelBackup.h"
#include "engine/QFVersionsFolder.h"
#include "engine/QFXMLParser.h"
#include "foundation/QFClock.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFFileCopy.h"
#include "foundation/platform/QFFileLock.h"
#include "foundation/platform/QFPropertyList.h"
#include "foundation/platform/QFRunningApplications.h"
#include "foundation/QFLocalPaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <sys/stat.h>

namespace {

bool hasExtension(const QString &path, const char *extension)
{
    return QFileInfo(path).suffix().compare(QLatin1String(extension), Qt::CaseInsensitive) == 0;
}

QString withoutExtension(const QString &path)
{
    const QFileInfo info(path);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? info.path() + u'/' + name.left(dot) : path;
}

bool isDigits(const QString &text)
{
    return !text.isEmpty() && std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// Never over a file that appeared meanwhile (the editor saving, say): the old one then stays beside it.
// The file manager's own move is only the fallback, since its administrator path replaces what is there.
bool renameBack(const QString &aside, const QString &target)
{
    QString reason;
    if (qfRenameNoReplace(aside, target, &reason))
        return true;
    if (QFFileManager::existsNoFollow(target))
        return false;
    return QFFileManager::moveFile(aside, target, 10);
}

// Whether the synced copies of removed items are asked to go.
bool syncedCopiesGo(QFProjectActions::SyncedCopies synced)
{
    switch (synced) {
    case QFProjectActions::SyncedCopies::FollowPreferences:
        return QFTombrelBackup::syncRemovalsOn();
    case QFProjectActions::SyncedCopies::WhenSyncIsOn:
        return QFDropboxSync::isSyncOn();
    case QFProjectActions::SyncedCopies::Keep:
        break;
    }
    return false;
}

QFProjectActions::RestoreResult restoreResult(
    QFProjectActions::RestoreStatus status, const QString &title, const QString &message)
{
    QFProjectActions::RestoreResult result;
    result.status = status;
    result.title = title;
    result.message = message;
    return result;
}

} // namespace

QStringList QFProjectActions::versionFiles(const QString &versionsFolder)
{
    QStringList names;
    for (const QFVersionsFolderEntry &entry : QFVersionsFolder::versions(versionsFolder))
        names << entry.name;
    names.sort();
    return names;
}

QStringList QFProjectActions::versionsMissingRemotely(const QString &versionsFolder, const QStringList &remoteNames)
{
    const QSet<QString> listed(remoteNames.cbegin(), remoteNames.cend());
    QStringList missing;
    for (const QString &name : versionFiles(versionsFolder)) {
        if (!listed.contains(name))
            missing << versionsFolder + u'/' + name;
    }
    return missing;
}

QString QFProjectActions::pendingUploadsPath()
{
    return QFLocalPaths::appSupportDirectory(true) + QStringLiteral("/Quenfield/Pro Tombrel/Pending Uploads.plist");
}

bool QFProjectActions::notePendingUploads(const QStringList &projectFolders)
{
    if (projectFolders.isEmpty())
        return true;
    const QString path = pendingUploadsPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QString reason;
    const bool noted = QFPropertyList::updateDictionary(
        path,
        [&](QVariantMap &pending) {
            QStringList folders = pending.value(QStringLiteral("projects")).toStringList();
            for (const QString &folder : projectFolders) {
                const QString clean = QDir::cleanPath(folder);
                if (!folders.contains(clean))
                    folders << clean;
            }
            pending.insert(QStringLiteral("projects"), folders);
            return QFPropertyList::Change::Write;
        },
        &reason);
    if (!noted)
        QFLog::appendLog("Unable to note the uploads left for later in %@: %@", path, reason);
    return noted;
}

QStringList QFProjectActions::takePendingUploads()
{
    const QString path = pendingUploadsPath();
    QStringList folders;
    if (!QFileInfo::exists(path))
        return folders;
    QString reason;
    const bool taken = QFPropertyList::updateDictionary(
        path,
        [&](QVariantMap &pending) {
            folders = pending.value(QStringLiteral("projects")).toStringList();
            return QFPropertyList::Change::Remove;
        },
        &reason);
    if (!taken) {
        QFLog::appendLog("Unable to read the uploads left for later in %@: %@", path, reason);
        return {};
    }
    folders.removeIf([](const QString &folder) { return !QFileInfo(folder).isDir(); });
    return folders;
}

QString QFProjectActions::projectFolderOfVersion(const QString &versionFile)
{
    const QFileInfo info(versionFile);
    if (info.dir().dirName() != QLatin1String("Versions"))
        return {};
    return QFileInfo(info.absolutePath()).absolutePath();
}

std::optional<qint64> QFProjectActions::versionNumber(const QString &name)
{
    return QFVersionsFolder::versionNumber(name);
}

std::optional<QString> QFProjectActions::findVersion(
    const QString &versionsFolder, const QString &version, QString *error)
{
    const auto refuse = [&](const QString &reason) -> std::optional<QString> {
        if (error)
            *error = reason;
        return std::nullopt;
    };
    bool isNumber = false;
    const qint64 wanted = isDigits(version) ? version.toLongLong(&isNumber) : 0;
    if (isNumber) {
        QStringList matches;
        for (const QString &name : versionFiles(versionsFolder)) {
            if (versionNumber(name) == wanted)
                matches << name;
        }
        if (matches.size() == 1)
            return versionsFolder + u'/' + matches.first();
        if (matches.size() > 1)
            return refuse(QStringLiteral("version %1 names %2 files (%3); give the file name")
                              .arg(version)
                              .arg(matches.size())
                              .arg(matches.join(QStringLiteral(", "))));
        return refuse(QStringLiteral("there is no version %1").arg(version));
    }
    if (!version.contains(u'/') && !version.startsWith(u'.')
        && QFFileManager::existsNoFollow(versionsFolder + u'/' + version))
        return versionsFolder + u'/' + version;
    return refuse(QStringLiteral("there is no version '%1'; a version is a number such as 7 or 00007").arg(version));
}

QString QFProjectActions::restoreSource(const QString &versionFile)
{
    if (!hasExtension(versionFile, "xml"))
        return versionFile;
    const QString stem = withoutExtension(versionFile);
    if (QFFileManager::existsNoFollow(stem + QStringLiteral(".fcp")))
        return stem + QStringLiteral(".fcp");
    if (QFFileManager::existsNoFollow(stem))
        return stem;
    return versionFile;
}

QFProjectActions::RestoreResult QFProjectActions::restorePreconditions(
    const QFProject &project, const RestoreOperations &operations)
{
    const QString target = project.expandedProjectPath();
    if (!QFFileManager::isDriveMountedForPath(target)) {
        return restoreResult(RestoreStatus::VolumeNotMounted, QStringLiteral("Unable to restore project"),
            QStringLiteral("The destination is on a volume that is not mounted."));
    }
    if (hasExtension(target, "fcpproject") || hasExtension(target, "fcpevent")) {
        const auto isRunning
            = operations.isApplicationRunning ? operations.isApplicationRunning : [](const QString &identifier) {
                  return !QFRunningApplications::processesWithBundleIdentifier(identifier).isEmpty();
              };
        if (isRunning(QStringLiteral("com.apple.FinalCut")) || isRunning(QStringLiteral("com.apple.FinalCutTrial"))) {
            return restoreResult(RestoreStatus::EditorRunning, QStringLiteral("Final Cut Pro X is running"),
                QStringLiteral("You must close Final Cut Pro X before restoring this file."));
        }
    }
    RestoreResult fine;
    fine.status = RestoreStatus::Restored;
    return fine;
}

QFProjectActions::RestoreResult QFProjectActions::restoreVersion(
    const QFProject &project, const QString &versionFile, const RestoreOperations &operations)
{
    const QString target = project.expandedProjectPath();
    const QString failedTitle = QStringLiteral("Failed to restore project");
    if (RestoreResult refused = restorePreconditions(project, operations); refused.status != RestoreStatus::Restored)
        return refused;
    if (!QFFileManager::existsNoFollow(versionFile)) {
        return restoreResult(RestoreStatus::MissingVersion, QStringLiteral("Unable to locate backup"),
            QStringLiteral("The version %1 does not exist.").arg(versionFile));
    }
    const QString source = restoreSource(versionFile);
    if (hasExtension(source, "xml") && !hasExtension(target, "xml")) {
        QFLog::appendLog("Unable to restore %@ to %@: only the XML copy of that version is left.", source, target);
        RestoreResult result
            = restoreResult(RestoreStatus::OnlyXMLCopyLeft, QStringLiteral("Unable to restore project"),
                QStringLiteral(
                    "Only the XML copy of this version is left (%1). It cannot take the place of the project file %2; "
                    "import it into the editor instead.")
                    .arg(source, target));
        result.source = source;
        return result;
    }
    QFLog::appendLog("Restoring %@ to %@...", source, target);

    // The helper ignores the events of this restore only if it can read this before they come.
    QString reason;
    if (!QFPreferenceKeys::update({ { QStringLiteral("lastRestoredProject"), target },
                                      { QStringLiteral("lastRestoreDate"), QFClock::now().toUTC() } },
            {}, &reason))
        QFLog::appendLog("Unable to note the restore in the preferences: %@", reason);

    QString aside;
    if (QFFileManager::existsNoFollow(target)) {
        aside = QFFileManager::uniqueFilename(target);
        if (!QFFileManager::moveFile(target, aside, 10)) {
            RestoreResult result = restoreResult(
                RestoreStatus::RenameFailed, failedTitle, QStringLiteral("Unable to rename old project."));
            result.source = source;
            // A move that half happened leaves the file under the new name; that is where it is then.
            if (!QFFileManager::existsNoFollow(target) && QFFileManager::existsNoFollow(aside))
                result.keptOldFile = aside;
            return result;
        }
    }

    const auto copy = operations.copy ? operations.copy : [](const QString &from, const QString &to) {
        return QFFileManager::copyFile(from, to, 10);
    };
    if (!copy(source, target)) {
        RestoreResult result
            = restoreResult(RestoreStatus::CopyFailed, failedTitle, QStringLiteral("Unable to copy file."));
        result.source = source;
        if (!aside.isEmpty() && !renameBack(aside, target)) {
            QFLog::appendLog("Unable to rename %@ back to %@; it stays where it is.", aside, target);
            result.keptOldFile = aside;
        }
        QFLog::appendLog("Unable to restore %@: the copy to %@ failed.", source, target);
        return result;
    }

    RestoreResult result = restoreResult(RestoreStatus::Restored, QStringLiteral("Backup restored"),
        QStringLiteral("The backup was restored successfully."));
    result.source = source;
    if (!aside.isEmpty() && !QFFileManager::trashFile(aside, 10)) {
        QFLog::appendLog("Unable to move the replaced project file %@ to the Trash.", aside);
        result.keptOldFile = aside;
    }
    return result;
}

bool QFProjectActions::annotateVersion(const QString &versionFile, const QString &text, QString *error)
{
    const QFileInfo info(versionFile);
    const QString projectFolder = QFileInfo(info.absolutePath()).absolutePath();
    const QString notesPath = projectFolder + QStringLiteral("/Annotations.plist");

    QString note = text;
    note.replace(QLatin1String("\r\n"), QLatin1String(" "));
    note.replace(u'\r', u' ').replace(u'\n', u' ');
    QString reason;
    const bool done = QFPropertyList::updateDictionary(
        notesPath,
        [&](QVariantMap &notes) {
            if (note.isEmpty())
                notes.remove(info.fileName());
            else
                notes.insert(info.fileName(), note);
            return notes.isEmpty() ? QFPropertyList::Change::Remove : QFPropertyList::Change::Write;
        },
        &reason);
    if (done)
        return true;
    if (QFFileManager::existsNoFollow(notesPath) && !QFPropertyList::readDictionary(notesPath)) {
        QFLog::appendLog("Unable to read annotations %@", notesPath);
        if (error)
            *error = QStringLiteral("%1 cannot be read; no note was changed").arg(notesPath);
        return false;
    }
    QFLog::appendLog("Unable to write annotations %@: %@", notesPath, reason);
    if (error)
        *error = QStringLiteral("cannot write %1: %2").arg(notesPath, reason);
    return false;
}

QFProjectActions::RemovalReport QFProjectActions::removeVersions(
    const QStringList &versionFiles, SyncedCopies synced, const std::function<void(int)> &progress)
{
    QFTombrelBackup engine;
    RemovalReport report;
    int done = 0;
    for (const QString &path : versionFiles) {
        // A version that went with its companion removed before it is gone all the same.
        if (engine.removeBackup(path, 0, false) || !QFFileManager::existsNoFollow(path)) {
            report.removed << path;
        } else {
            report.remaining << path;
            report.failures << QStringLiteral("%1 could not be moved to the Trash; the log says why").arg(path);
        }
        if (progress)
            progress(++done);
    }
    if (!report.removed.isEmpty() && syncedCopiesGo(synced)) {
        engine.removeSyncedFiles(report.removed);
        report.syncedCopiesAsked = report.removed;
    }
    return report;
}

QStringList QFProjectActions::deleteVersions(const QStringList &versionFiles, const std::function<void(int)> &progress)
{
    return removeVersions(versionFiles, SyncedCopies::FollowPreferences, progress).remaining;
}

QFProjectActions::RemovalReport QFProjectActions::removeProjects(
    const QStringList &projectFolders, SyncedCopies synced, const std::function<void(int)> &progress)
{
    RemovalReport report;
    int done = 0;
    for (const QString &folder : projectFolders) {
        QString error;
        if (removeProject(folder, &error)) {
            report.removed << folder;
        } else {
            report.remaining << folder;
            report.failures << error;
        }
        if (progress)
            progress(++done);
    }
    if (!report.removed.isEmpty() && syncedCopiesGo(synced)) {
        QFTombrelBackup().removeSyncedProjects(report.removed);
        report.syncedCopiesAsked = report.removed;
    }
    return report;
}

bool QFProjectActions::isOffline(const QFProject &project)
{
    const QString file = project.expandedProjectPath();
    return !QFFileManager::existsNoFollow(file) && QFFileManager::isDriveMountedForPath(file);
}

QList<QFProject> QFProjectActions::offlineProjects(const QList<QFProject> &projects)
{
    QList<QFProject> offline;
    for (const QFProject &project : projects) {
        if (isOffline(project))
            offline << project;
    }
    return offline;
}

bool QFProjectActions::removeProject(const QString &projectFolder, QString *error)
{
    if (!QFFileManager::trashFile(projectFolder, 10)) {
        QFLog::appendLog("Unable to delete project %@", projectFolder);
        if (error)
            *error = qfFormat("Please check permissions for the folder %@.", projectFolder);
        return false;
    }
    const QString name = QFileInfo(projectFolder).fileName();
    const QString cache = QFTombrelBackup::cachesFolder() + qfFormat("/%@.cache.plist", name);
    if (QFFileManager::existsNoFollow(cache))
        QFFileManager::removeFile(cache, 10);
    // No writer can be waiting for the lock of a cache whose project is gone.
    QFile::remove(QFFileLock::lockFilePath(cache));
    QFLog::appendLog("Removing watch file for project %@...", name);
    return true;
}

bool QFProjectActions::relinkProject(QFProject &project, const QString &path, QString *error)
{
    const auto refuse = [&](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    const QString target = QFLocalPaths::absolutePath(path);
    if (!QFFileManager::existsNoFollow(target))
        return refuse(QStringLiteral("no such file: %1").arg(target));
    if (const QString refusal = QFProject::refusalForProjectFile(target); !refusal.isNull())
        return refuse(refusal);
    const QString canonical = QFileInfo(target).canonicalFilePath();
    for (const QFProjectListEntry &other : QFProject::projectsInStorageRoot()) {
        if (other.projectID == project.projectID())
            continue;
        const QString own = QFLocalPaths::absolutePath(other.path);
        if (own == target || (!canonical.isEmpty() && QFileInfo(own).canonicalFilePath() == canonical))
            return refuse(QStringLiteral("%1 is already the file of project %2").arg(target, other.projectID));
    }
    QFLog::appendLog("Relinking project %@ to %@...", project.projectPath(), target);
    project.setProjectPath(target);
    project.setType(QFProject::isFinalCutProProject(target) ? QFProject::FinalCutProProject : QFProject::OtherFile);
    project.updateFriendlyName();
    if (!project.saveSettings()) {
        QFLog::appendLog("Unable to save the settings of project %@", project.projectID());
        return refuse(QStringLiteral("cannot write the settings of project %1").arg(project.projectID()));
    }
    return true;
}

QSet<QString> QFProjectActions::pathKeys(const QString &path)
{
    const QString absolute = QFLocalPaths::absolutePath(path);
    QSet<QString> keys { absolute };
    const QString canonical = QFileInfo(absolute).canonicalFilePath();
    if (!canonical.isEmpty())
        keys.insert(canonical);
    return keys;
}

QFProjectActions::AddResult QFProjectActions::addProject(const QString &path)
{
    AddResult result;
    const QString absolute = QFLocalPaths::absolutePath(path);
    const QSet<QString> keys = pathKeys(absolute);
    for (const QFProjectListEntry &entry : QFProject::projectsInStorageRoot()) {
        if (pathKeys(entry.path).intersects(keys)) {
            result.status = AddStatus::AlreadyListed;
            result.project = QFProject::recordWithPath(entry.path, entry.sequences, entry.projectID);
            return result;
        }
    }
    if (const QString refusal = QFProject::refusalForProjectFile(absolute); !refusal.isNull()) {
        result.status = AddStatus::Refused;
        result.reason = refusal;
        return result;
    }
    QFLog::appendLog("Adding project %@ to list...", absolute);
    result.project = QFProject::projectWithPath(absolute, std::nullopt);
    const auto stored = QFProject::readProjectFolder(result.project.destinationPath());
    if (!stored || stored->path != absolute) {
        result.status = AddStatus::Failed;
        result.reason = QStringLiteral("cannot register %1 in %2").arg(absolute, result.project.destinationPath());
        return result;
    }
    result.status = AddStatus::Added;
    return result;
}

qint64 QFProjectActions::nextVersionNumber(const QString &versionsFolder)
{
    return QFVersionsFolder::nextVersionNumber(versionsFolder);
}

std::optional<QList<QFProjectSequence>> QFProjectActions::sequencesFromXML(const QByteArray &xml, QString *error)
{
    QString reason;
    const auto document = QFXMLParser::documentFromData(xml, &reason);
    if (!document) {
        QFLog::appendLog("Unable to load XML: %@", reason);
        if (error)
            *error = QStringLiteral("Error: Unable to load XML data.");
        return std::nullopt;
    }
    QList<QFProjectSequence> sequences;
    for (const pugi::xpath_node &found : QFXMLParser::nodesForQuery(QStringLiteral("//sequence"), *document)) {
        const QString uuid = QFXMLParser::uuidForNode(found.node());
        if (uuid.isEmpty())
            continue;
        sequences << QFProjectSequence { QFXMLParser::nameForNode(found.node()), uuid };
    }
    if (sequences.isEmpty()) {
        QFLog::appendLog("Unable to load sequences: %@", QStringLiteral("no sequence has a UUID"));
        if (error)
            *error = QStringLiteral("Error: Unable to retrieve sequence objects.");
        return std::nullopt;
    }
    return sequences;
}
