// The scan that backs up every project whose file changed, and the backup the user asks for.

#include "engine/QFTombrelBackup.h"

#include "engine/QFPreferenceSnapshot.h"
#include "engine/QFProject.h"
#include "engine/QFVersionsFolder.h"
#include "foundation/QFClock.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFHelperConnection.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFShutdown.h"

#include <QDateTime>
#include <QFileInfo>

QList<QFProjectListEntry> QFTombrelBackup::projects() const
{
    return QFProject::projectsInStorageRoot();
}

void QFTombrelBackup::processProjects()
{
    processProjectsInPath(QString());
}

QFBackupResult QFTombrelBackup::backUpNow(const QString &path, const QString &versionsFolder, const QString &uuid)
{
    QFLog::appendLog("Taking snapshot for project %@ uuid %@", path, uuid);
    const bool launch = QFPreferenceSnapshot::read().intValue(QStringLiteral("generateFCPXML")) == 1;
    const QFBackupResult result
        = backupProject(path, versionsFolder, QFVersionsFolder::nextVersionNumber(versionsFolder), uuid, launch, true);
    manageBackups();
    return result;
}

QList<QFBackupResult> QFTombrelBackup::processProjectsInPath(const QString &prefix)
{
    QList<QFBackupResult> results;
    if (prefix.isEmpty())
        QFLog::appendLog("Processing projects...");
    else
        QFLog::appendLog("Processing projects in %@...", prefix);
    const QList<QFProjectListEntry> list = projects();
    if (list.isEmpty()) {
        QFLog::appendLog("No projects found");
        return results;
    }
    const QDateTime alert = lastAlertShown();
    const bool recentAlert = alert.isValid() && alert.msecsTo(QFClock::now()) < 1500;
    QStringList handled;
    int counter = 0;
    const QString root = QFProject::storageRoot();

    for (const QFProjectListEntry &entry : list) {
        if (QFShutdown::isRequested()) {
            QFLog::appendLog("Processing projects stopped: the program is ending.");
            return results;
        }
        const QString path = QFLocalPaths::expandTilde(entry.path);
        if (!QFileInfo::exists(path) || (!prefix.isEmpty() && !path.startsWith(prefix)))
            continue;
        if (const QString refusal = QFProject::refusalForProjectFile(path); !refusal.isNull()) {
            QFLog::appendLog("Skipping project: %@", refusal);
            continue;
        }
        const QString projectFolder = qfFormat("%@/%@.localized", root, entry.projectID);
        if (handled.contains(projectFolder))
            continue;
        const QString versions = projectFolder + QStringLiteral("/Versions");
        const QStringList entries = versionEntries(versions);
        if (!QFileInfo(projectFolder).isDir() || entries.isEmpty()) {
            results << backupProject(path, versions, 1, entry.selectedUUID);
            continue;
        }
        const QString last = entries.last();
        QFLog::appendLog("last version: %@", last);
        const auto projectDate = modificationTime(path);
        const auto lastDate = modificationTime(versions + u'/' + last);
        if (!projectDate || !lastDate)
            continue;
        // A last version dated in the future would hide every later save (which is dated now) until that
        // date came: then any other date means a change.
        const bool lastInFuture = *lastDate > QFClock::msecsSinceEpoch();
        if (*projectDate <= *lastDate && !(lastInFuture && *projectDate != *lastDate))
            continue;
        const qint64 number = versionNumberOfFile(last).value_or(0) + 1;
        ++counter;
        const bool batch = counter > 3 || recentAlert;
        results << backupProject(path, versions, number, entry.selectedUUID, false, false, batch);
        handled << projectFolder;
        if (counter % 10 == 0)
            QFHelperConnection::postFilesBackedUp();
    }

    manageBackups();

    const QString caches = cachesFolder();
    if (!QFFileManager::createDirectory(caches, 15)) {
        QFLog::appendLog("Unable to create cache folder %@", caches);
    } else if (QFBundle::infoDictionary().contains(QStringLiteral("QFCacheVersion"))) {
        const QVariant cacheVersion = QFBundle::objectForInfoKey(QStringLiteral("QFCacheVersion"));
        for (const QString &projectFolder : std::as_const(handled)) {
            if (!QFileInfo(projectFolder).isDir())
                continue;
            auto cache = cacheForProject(projectFolder);
            if (!cache)
                continue;
            cache->insert(QStringLiteral("version"), cacheVersion);
            storeInCache(cacheFileForProject(projectFolder), *cache);
        }
    }
    if (counter > 0)
        QFHelperConnection::postFilesBackedUp();
    return results;
}
