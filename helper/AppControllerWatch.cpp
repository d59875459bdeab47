// AppController: file-system events and the search of watch folders for new projects.

#include "helper/AppController.h"

#include "engine/QFPreferenceSnapshot.h"
#include "foundation/QFException.h"
#include "foundation/QFGrowl.h"
#include "foundation/QFHelperConnection.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "helper/QFScanQueue.h"
#include "helper/QFWatchFolders.h"

#include <QDir>
#include <QFileInfo>
#include <QFuture>
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
    const QString restored = prefs.string(QStringLiteral("lastRestoredProject"));
    const QDateTime restoreDate = prefs.value(QStringLiteral("lastRestoreDate")).toDateTime();
    const QDateTime now = QDateTime::currentDateTime();
    QFTombrelBackup *engine = m_backupController.get();
    for (const QFFSEventRecord &event : events) {
        if (QFWatchFolders::isSuppressedByRestore(event.path, restored, restoreDate, now)) {
            QFLog::appendLog("Ignoring event due to recent project restore.");
            continue;
        }
        const QString folder = event.path.endsWith(u'/') ? event.path.chopped(1) : event.path;
        m_scanQueue->addOperation(QStringLiteral("processProjectsInPath"), folder, [engine, folder] { engine->processProjectsInPath(folder); });
    }
    queuePopulate(events.last().path);
}

void AppController::queuePopulate(const QString &path)
{
    m_scanQueue->addOperation(QStringLiteral("populateProjectsFromWatchFolders"), path, [this, path] { populateProjectsFromWatchFolders(path); });
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
    const bool showAlerts = !(prefs.contains(QStringLiteral("showGrowlAlerts")) && prefs.integer(QStringLiteral("showGrowlAlerts"), 1) == 0);

    {
        QMutexLocker lock(&m_claimLock);
        m_claimed.clear();
        m_storageFolders = QStringList { QFProject::storageRoot(), QFProject::storageRootFromPreferences() };
    }
    QThreadPool pool;
    pool.setMaxThreadCount(kConcurrentFolderOperations);
    QList<QFuture<int>> operations;
    for (const QFWatchFolderEntry &entry : chosen) {
        operations << QtConcurrent::run(&pool, [this, entry, known, showAlerts] {
            int found = 0;
            QFException::guard("addNewProjectsInFolder", [&] { found = addNewProjectsInFolder(entry.folder, entry.types(), known, showAlerts); });
            return found;
        });
    }
    for (QFuture<int> &operation : operations)
        operation.waitForFinished();
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

int AppController::addNewProjectsInFolder(const QString &folder, const QStringList &types, const QStringList &existingProjects,
    bool showAlerts)
{
    if (folder.isEmpty() || QFWatchFolders::isSkippedFolder(folder))
        return 0;
    {
        // The version store holds copies of projects with the projects' own extensions.
        QMutexLocker lock(&m_claimLock);
        if (isInsideStorage(folder))
            return 0;
    }
    QStringList found = existingProjects;
    int counter = 0;
    int below = 0;
    const QString folderName = QFileInfo(folder).fileName();
    const QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString &name : entries) {
        const QString fullPath = QDir::cleanPath(folder + u'/' + name);
        const QFileInfo info(fullPath);
        const QString ext = info.suffix().toLower();
        if (info.isDir()) {
            // A linked folder may lead back up the tree; the folder it names is searched where it lies.
            if (info.isSymLink())
                continue;
            if (!QFWatchFolders::isPackage(fullPath) || ext == QLatin1String("fcpbundle")) {
                below += addNewProjectsInFolder(fullPath, types, found, showAlerts);
                continue;
            }
        }
        if (!QFWatchFolders::isProjectCandidate(folderName, name, ext, types))
            continue;
        if (const QString refusal = QFProject::refusalForProjectFile(fullPath); !refusal.isNull()) {
            QFLog::appendLog("Skipping project file: %@", refusal);
            continue;
        }
        if (existingProjects.contains(fullPath) || std::any_of(existingProjects.cbegin(), existingProjects.cend(),
                                                      [&](const QString &known) { return QFLocalPaths::expandTilde(known) == fullPath; }))
            continue;
        if (!claimNewProject(fullPath))
            continue;
        QFProject::projectWithPath(fullPath, std::nullopt);
        found << fullPath;
        ++counter;
        if (showAlerts)
            QFGrowl::sharedController()->postGrowlNotification(QStringLiteral("Found new project"), QFWatchFolders::displayName(fullPath),
                QString(), QStringLiteral("Backup successful"));
    }
    // Each level announces its own finds.
    if (counter > 0)
        QFHelperConnection::postFilesBackedUp();
    return counter + below;
}
