// AppController: file-system events and the search of watch folders for new projects.

#include "helper/AppController.h"

#include "engine/QFFolderWalk.h"
#include "engine/QFPreferenceSnapshot.h"
#include "foundation/QFClock.h"
#include "foundation/QFException.h"
#include "foundation/QFGrowl.h"
#include "foundation/QFHelperConnection.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFShutdown.h"
#include "helper/QFScanQueue.h"
#include "helper/QFWatchFolders.h"

#include <QDir>
#include <QFileInfo>
#include <QFuture>
#include <QHash>
#include <QSet>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

namespace {

constexpr int kConcurrentFolderOperations = 4;

} // namespace

void AppController::fileSystemEventsReceived(const QList<QFFSEventRecord> &events)
{
    QStringList descriptions;
    for (const QFFSEventRecord &event : events)
        descriptions << event.description();
    QFLog::appendLog("File system events: %@", u'(' + descriptions.join(QLatin1String(", ")) + u')');
    if (events.isEmpty())
        return;

    const QFPreferenceSnapshot prefs = QFPreferenceSnapshot::read();
    const QString restored = prefs.stringValue(QStringLiteral("lastRestoredProject"));
    const QDateTime restoreDate = prefs.value(QStringLiteral("lastRestoreDate")).toDateTime();
    const QDateTime now = QFClock::now();
    QFTombrelBackup *engine = m_backupController.get();
    for (const QFFSEventRecord &event : events) {
        if (QFWatchFolders::isSuppressedByRestore(event.path, restored, restoreDate, now)) {
            QFLog::appendLog("Ignoring event due to recent project restore.");
            continue;
        }
        const QString folder = event.path.endsWith(u'/') ? event.path.chopped(1) : event.path;
        m_scanQueue->addOperation(QStringLiteral("processProjectsInPath"), folder,
            [engine, folder] { engine->processProjectsInPath(folder); });
    }
    queuePopulate(events.last().path);
}

void AppController::queuePopulate(const QString &path)
{
    m_scanQueue->addOperation(QStringLiteral("populateProjectsFromWatchFolders"), path,
        [this, path] { populateProjectsFromWatchFolders(path); });
}

void AppController::populateProjectsFromWatchFolders(const QString &path)
{
    QStringList known;
    for (const QFProjectListEntry &project : m_backupController->projects())
        known << project.path;

    const QFPreferenceSnapshot prefs = QFPreferenceSnapshot::read();
    const auto watchFolders = QFWatchFolderEntry::listFromPreference(prefs.value(QStringLiteral("watchFolders")));
    const auto driveFolders = QFWatchFolderEntry::listFromPreference(prefs.value(QStringLiteral("watchDriveFolders")));
    const QStringList volumes = driveFolders.isEmpty() ? QStringList() : m_mountWatcher->mountedVolumes();
    const QList<QFWatchFolderEntry> chosen = QFWatchFolders::foldersToSearch(path, watchFolders, driveFolders, volumes);
    QFLog::appendLog("Populating projects from folders: %@", QFWatchFolders::describe(chosen));
    const bool showAlerts = prefs.intValue(QStringLiteral("showGrowlAlerts")) != 0;

    {
        QMutexLocker lock(&m_claimLock);
        m_claimed.clear();
        m_newProjects.clear();
        for (const QString &path : std::as_const(known)) {
            const QString file = QFileInfo(QFLocalPaths::expandTilde(path)).canonicalFilePath();
            if (!file.isEmpty())
                m_claimed.insert(file);
        }
        m_storageFolders = QStringList { QFProject::storageRoot(), QFProject::storageRootFromPreferences() };
    }
    QThreadPool pool;
    pool.setMaxThreadCount(kConcurrentFolderOperations);
    QList<QFuture<int>> operations;
    for (const QFWatchFolderEntry &entry : chosen) {
        operations << QtConcurrent::run(&pool, [this, entry, known, showAlerts] {
            int found = 0;
            QFException::guard("addNewProjectsInFolder",
                [&] { found = addNewProjectsInFolder(entry.folder, entry.types(), known, showAlerts); });
            return found;
        });
    }
    for (QFuture<int> &operation : operations)
        operation.waitForFinished();
    backUpNewProjects();
}

bool AppController::isInsideStorage(const QString &path) const
{
    const QString clean = QDir::cleanPath(path);
    for (const QString &root : m_storageFolders) {
        if (!root.isEmpty() && (clean == root || clean.startsWith(root + u'/')))
            return true;
    }
    return false;
}

bool AppController::claimNewProject(const QString &path)
{
    QMutexLocker lock(&m_claimLock);
    if (m_claimed.contains(path))
        return false;
    m_claimed.insert(path);
    return true;
}

int AppController::addNewProjectsInFolder(
    const QString &folder, const QStringList &types, const QStringList &existingProjects, bool showAlerts)
{
    QSet<QString> known;
    for (const QString &path : existingProjects)
        known << path << QFLocalPaths::expandTilde(path);
    QHash<QString, int> foundIn;
    int total = 0;
    QFFolderWalk::Options options;
    options.skipFolder = [this](const QString &path) {
        if (QFFolderWalk::isSkippedByWatchSearch(path))
            return true;
        // The version store holds copies of projects with the projects' own extensions.
        QMutexLocker lock(&m_claimLock);
        return isInsideStorage(path);
    };
    options.stopped = [] { return QFShutdown::isRequested(); };
    // Each folder announces its own finds.
    options.folderDone = [&foundIn](const QString &path) {
        if (foundIn.take(path) > 0)
            QFHelperConnection::postFilesBackedUp();
    };
    QFFolderWalk::walk(folder, options, [&](const QString &parent, const QFileInfo &info) {
        const QString name = info.fileName();
        const QString fullPath = info.filePath();
        if (!QFWatchFolders::isProjectCandidate(QFileInfo(parent).fileName(), name, info.suffix().toLower(), types))
            return;
        if (const QString refusal = QFProject::refusalForProjectFile(fullPath); !refusal.isNull()) {
            QFLog::appendLog("Skipping project file: %@", refusal);
            return;
        }
        if (known.contains(fullPath))
            return;
        // Known or claimed by the file itself, so that a file reached through a link is never a second project.
        const QString file = info.canonicalFilePath().isEmpty() ? fullPath : info.canonicalFilePath();
        if (!claimNewProject(file))
            return;
        const QFProject project = QFProject::projectWithPath(fullPath, std::nullopt);
        {
            QMutexLocker lock(&m_claimLock);
            m_newProjects.append({ fullPath, project.destinationPath() });
        }
        ++foundIn[parent];
        ++total;
        if (showAlerts)
            QFGrowl::sharedController()->postGrowlNotification(QStringLiteral("Found new project"),
                QFProject::displayNameForPath(fullPath), QString(), QStringLiteral("Backup successful"));
    });
    return total;
}

void AppController::backUpNewProjects()
{
    QList<QPair<QString, QString>> fresh;
    {
        QMutexLocker lock(&m_claimLock);
        fresh.swap(m_newProjects);
    }
    // The first version is made in the same pass: the save that made the file is not seen again.
    int made = 0;
    for (const auto &[path, folder] : std::as_const(fresh)) {
        if (QFShutdown::isRequested())
            break;
        if (folder.isEmpty())
            continue;
        const QString versions = folder + QStringLiteral("/Versions");
        if (!QFTombrelBackup::versionEntries(versions).isEmpty())
            continue;
        ++made;
        m_backupController->backupProject(path, versions, 1, QString(), false, false, made > 3);
    }
    if (made > 0)
        QFHelperConnection::postFilesBackedUp();
}
