// AppController: file-system events and the search of watch folders for new projects.

#include "helper/AppController.h"

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
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <sys/stat.h>

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
    const QDateTime now = QFClock::now();
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
            QFException::guard("addNewProjectsInFolder", [&] { found = addNewProjectsInFolder(entry.folder, entry.types(), known, showAlerts); });
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

int AppController::addNewProjectsInFolder(const QString &folder, const QStringList &types, const QStringList &existingProjects,
    bool showAlerts)
{
    std::set<std::pair<dev_t, ino_t>> visited;
    return searchFolder(folder, types, existingProjects, showAlerts, visited);
}

int AppController::searchFolder(const QString &folder, const QStringList &types, const QStringList &existingProjects,
    bool showAlerts, std::set<std::pair<dev_t, ino_t>> &visited)
{
    if (folder.isEmpty() || QFWatchFolders::isSkippedFolder(folder) || QFShutdown::isRequested())
        return 0;
    {
        // The version store holds copies of projects with the projects' own extensions.
        QMutexLocker lock(&m_claimLock);
        if (isInsideStorage(folder))
            return 0;
    }
    // Each folder is searched once, however many links lead to it: a link back up the tree ends here.
    struct stat st;
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0 || !visited.insert({ st.st_dev, st.st_ino }).second)
        return 0;
    QStringList found = existingProjects;
    int counter = 0;
    int below = 0;
    const QString folderName = QFileInfo(folder).fileName();
    const QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString &name : entries) {
        if (QFShutdown::isRequested())
            break;
        const QString fullPath = QDir::cleanPath(folder + u'/' + name);
        const QFileInfo info(fullPath);
        const QString ext = info.suffix().toLower();
        if (info.isDir()) {
            if (info.isSymLink() && !QFWatchFolders::isPackage(fullPath)) {
                // A linked folder is searched where it lies, so its projects are known by their real paths.
                const QString target = info.canonicalFilePath();
                if (!target.isEmpty() && !QFWatchFolders::isSkippedFolder(target))
                    below += searchFolder(target, types, found, showAlerts, visited);
                continue;
            }
            if (!QFWatchFolders::isPackage(fullPath) || ext == QLatin1String("fcpbundle")) {
                below += searchFolder(fullPath, types, found, showAlerts, visited);
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
        // Known or claimed by the file itself, so that a file reached through a link is never a second project.
        const QString file = info.canonicalFilePath().isEmpty() ? fullPath : info.canonicalFilePath();
        if (!claimNewProject(file))
            continue;
        const QFProject project = QFProject::projectWithPath(fullPath, std::nullopt);
        {
            QMutexLocker lock(&m_claimLock);
            m_newProjects.append({ fullPath, project.destinationPath() });
        }
        found << fullPath;
        ++counter;
        if (showAlerts)
            QFGrowl::sharedController()->postGrowlNotification(QStringLiteral("Found new project"), QFProject::displayNameForPath(fullPath),
                QString(), QStringLiteral("Backup successful"));
    }
    // Each level announces its own finds.
    if (counter > 0)
        QFHelperConnection::postFilesBackedUp();
    return counter + below;
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
