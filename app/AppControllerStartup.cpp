#include "app/AppController.h"

#include "app/AppControllerPrivate.h"
#include "app/QFProgressSheet.h"
#include "app/QFSoftwareUpdate.h"
#include "engine/QFDropboxSync.h"
#include "engine/QFPreferenceKeys.h"
#include "engine/QFPreferenceSnapshot.h"
#include "engine/QFProjectActions.h"
#include "engine/QFProjectStore.h"
#include "engine/QFWatchFolderSettings.h"
#include "foundation/QFAlert.h"
#include "foundation/QFAppRequest.h"
#include "foundation/QFAppleEvents.h"
#include "foundation/QFAuthorization.h"
#include "foundation/QFException.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/QFMainThread.h"
#include "foundation/QFNotificationCenter.h"
#include "foundation/QFTaskEx.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFPropertyList.h"
#include "foundation/platform/QFRunningApplications.h"
#include "foundation/platform/QFSystemLog.h"

#include <QDBusConnection>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QTimer>

using namespace AppControllerPrivate;

namespace {

constexpr int kMaximumCopiesInBackgroundModes = 4;

} // namespace

// --- Start-up and the modes of the command line ------------------------------------------------------

AppController::Mode AppController::modeForArguments(const QStringList &arguments)
{
    if (arguments.size() < 2)
        return Mode::Normal;
    if (arguments.contains(QStringLiteral("-upload")))
        return Mode::Upload;
    if (arguments.contains(QStringLiteral("-removeRemote")))
        return Mode::RemoteRemoval;
    return Mode::Normal;
}

QString AppController::currentBundlePath()
{
    const QString bundle = QFBundle::mainBundlePath();
    if (!bundle.isEmpty() && QFBundle::bundleIdentifierOfBundle(bundle) == QLatin1String("com.quenfield.ProTombrel"))
        return bundle;
    return QFTombrelBackup::currentBundlePath();
}

QString AppController::currentExePath()
{
    return currentBundlePath() + QStringLiteral("/Contents/MacOS/Pro Tombrel");
}

std::optional<int> AppController::runCommandLineMode(const QStringList &arguments)
{
    if (arguments.size() < 2)
        return std::nullopt;
    const QString mode = arguments.at(1);
    static const QStringList background = { "-process", "-autosave", "-reload", "-repopulate" };
    if (!background.contains(mode))
        return std::nullopt;
    std::unique_ptr<AppController> controller;
    const bool made
        = QFException::guard("runCommandLineMode", [&] { controller = std::make_unique<AppController>(false); });
    if (!made || !controller) {
        qfSystemLog(QStringLiteral("Fatal error: Unable to initialize application"));
        return 1;
    }
    if (mode == QLatin1String("-process")) {
        controller->engine()->processProjects();
        QFTaskEx::runTaskAndReturn(currentExePath(), { QStringLiteral("-reload") });
    } else if (mode == QLatin1String("-autosave")) {
        controller->autosave();
    }
    return 0;
}

void AppController::applicationDidFinishLaunching(const QStringList &arguments)
{
    if (m_launched)
        return;
    m_launched = true;
    QFException::guard("applicationDidFinishLaunching", [&] {
        // Made here on the main thread, so that work on other threads never waits for it.
        QFDropboxSync::shared();
        m_mode = modeForArguments(arguments);
        if (m_mode != Mode::Normal) {
            QString identifier = QFBundle::bundleIdentifier();
            if (identifier.isEmpty())
                identifier = QStringLiteral("com.quenfield.ProTombrel");
            const QList<qint64> copies = QFRunningApplications::processesWithBundleIdentifier(identifier);
            if (copies.size() >= kMaximumCopiesInBackgroundModes) {
                QFLog::appendLog("%i copies are running already - quitting.", int(copies.size()) - 1);
                // The version is not lost: the next upload compares its project with Dropbox.
                const QString project = QFProjectActions::projectFolderOfVersion(arguments.last());
                if (m_mode == Mode::Upload && !project.isEmpty() && QFDropboxSync::isSyncOn())
                    QFProjectActions::notePendingUploads({ project });
                quit();
                return;
            }
        }
        if (m_mode == Mode::Upload) {
            const QString path = arguments.last();
            if (!QFileInfo::exists(path) || !QFDropboxSync::isSyncOn()) {
                quit();
                return;
            }
            startUploadMode(path);
            return;
        }
        if (m_mode == Mode::RemoteRemoval) {
            startRemoteRemoval(QFAppRequest::decodeRemotePathList(arguments.last()));
            return;
        }

        setUpWindow();
        m_window->show();
        m_window->activateWindow();
        ensureHelperRunning();
        const QString storage = QFProject::storageRoot();
        const QFileInfo storageInfo(storage);
        // The administrator's password is asked for, and the store walked, away from the window.
        if (storageInfo.exists() && !storageInfo.isWritable()) {
            detach([storage] {
                QFAuthorization::sharedController()->authExecTask(
                    QStringLiteral("/bin/chmod"), { QStringLiteral("-R"), QStringLiteral("+rw"), storage }, false);
            });
        }
        xpcSetup();

        QDBusConnection::sessionBus().connect(QString(), QStringLiteral("/com/quenfield/ProTombrel"),
            QStringLiteral("com.quenfield.ProTombrel"), QStringLiteral("QFProTombrelFilesBackedUp"), this,
            SLOT(onFilesBackedUp()));

        if (QFProjectStore::isFirstRun())
            firstRun();

        detach([] {
            const int major = QFAppleEvents::finalCutProMajorVersion();
            if (major < 7)
                QFMainThread::run([] { setPreferences({ { QStringLiteral("autosaveEnabled"), 0 } }); }, false);
        });

        populateProjects();
        m_softwareUpdate->startup([this](std::function<void()> work) { detach(std::move(work)); });
        // Offered once the window is on screen, as its sheet.
        QTimer::singleShot(
            0, this, [this] { QFException::guard("offerToInstall", [this] { offerToInstall(currentBundlePath()); }); });
    });
}

void AppController::offerToInstall(const QString &bundlePath)
{
    if (bundlePath.isEmpty()
        || !QFileInfo::exists(QFileInfo(bundlePath).absolutePath() + QStringLiteral("/.DMGPackagerBG")))
        return;
    QFAlert::alertSheetWithMessageText(QStringLiteral("Pro Tombrel works best when installed on your system hard disk. "
                                                      "Would you like to install it to your Applications folder now?"),
        QStringLiteral("Install"), QStringLiteral("Ignore"), QString(),
        QStringLiteral("In order to function correctly, Pro Tombrel needs to run on demand and if you unmount or "
                       "remove the disk image it will be unable to do so."),
        m_window, false, [this, bundlePath](int answer) {
            if (answer == QFAlert::kDefaultReturn)
                QFException::guard("installBundle", [&] { installBundle(bundlePath); });
        });
}

void AppController::installBundle(const QString &bundlePath)
{
    const QString applications = QFLocalPaths::applicationDirectory(true);
    const QString installed = applications + QStringLiteral("/Pro Tombrel.app");
    // The bundle is copied away from the window, under the progress sheet (there is nothing to cancel).
    if (m_window) {
        m_window->progressSheet()->start(QStringLiteral("Installing Pro Tombrel..."));
        m_window->progressSheet()->cancelButton()->setEnabled(false);
    }
    detach([this, bundlePath, applications, installed] {
        bool copied = false;
        QFException::guard("installBundle", [&] {
            QDir().mkpath(applications);
            // Each step falls back to the administrator when the user's own attempt is refused. An older copy
            // that stays where it is must not pass for the new one.
            if (QFFileManager::existsNoFollow(installed))
                QFFileManager::trashFile(installed, true);
            copied = !QFFileManager::existsNoFollow(installed) && QFFileManager::copyFile(bundlePath, installed, true);
        });
        onMainThread([this, installed, copied] {
            if (m_window)
                m_window->progressSheet()->finish();
            const QString executable = installed + QStringLiteral("/Contents/MacOS/Pro Tombrel");
            if (!copied || !QFileInfo(installed).isDir()) {
                QFAlert::alertSheetWithMessageText(QStringLiteral("Unable to copy file"), QString(), QString(),
                    QString(), QStringLiteral("Please copy the application manually to your Applications folder."),
                    m_window, false);
                return;
            }
            QFLog::appendLog("Installed to %@.", installed);
            if (QFTaskEx::isExecutable(executable))
                QFTaskEx::startDetached(executable, {});
            quit();
        });
    });
}

void AppController::applicationWillTerminate()
{
    QFBugReporter::stopBugReporter();
}

// --- First run ----------------------------------------------------------------------------------------

void AppController::firstRun()
{
    detach([this] {
        QFException::guard("convertPredecessorProjects", [this] {
            if (QFProjectStore::convertPredecessorProjects() > 0)
                onMainThread([this] { populateProjects(); });
        });
    });
    // Settings made before the first window (tombrel watch add, tombrel prefs set) stay; the defaults
    // only fill in what is not there.
    QString error;
    if (!QFProjectStore::applyFirstRunSettings(&error))
        QFLog::appendLog("Unable to save preferences: %@", error);
    xpcConfigUpdate();
}

// --- Background modes ---------------------------------------------------------------------------------

void AppController::startRemoteRemoval(const QStringList &paths)
{
    if (paths.isEmpty()) {
        quit();
        return;
    }
    m_remoteDeletions = 0;
    m_remoteDeletionsExpected = int(paths.size());
    QFNotificationCenter *center = QFNotificationCenter::defaultCenter();
    center->addObserver(this, QStringLiteral("QFProTombrelRemoveRemoteFile"),
        [this](const QVariant &, const QVariantMap &) { countRemoteDeletion(); });
    center->addObserver(this, QStringLiteral("QFProTombrelRemoveRemoteFileFailed"),
        [this](const QVariant &, const QVariantMap &) { countRemoteDeletion(); });
    if (!QFDropboxSync::isSyncOn()) {
        // Nothing is on the sync service while it is off: no deletion would ever be reported.
        QFLog::appendLog("Sync is off - no remote files to remove.");
        quit();
        return;
    }
    m_engine->removeSyncedFiles(paths);
}

void AppController::startUploadMode(const QString &path)
{
    QFDropboxSync *sync = QFDropboxSync::shared();
    QFSyncClient *client = sync->syncClient();
    // Without an account nothing can be uploaded, nor compared: the upload's own end quits.
    m_uploadFailed = !client;
    if (client)
        connect(client, &QFSyncClient::uploadFileFailed, this, [this](const QFDropboxError &error) {
            if (QFDropboxSync::isVersionUpload(error))
                m_uploadFailed = true;
        });
    connect(sync, &QFDropboxSync::syncedFiles, this, [this](const QVariantMap &info) {
        remoteListingArrived(info.value(QStringLiteral("filenames")).toStringList(), QString());
    });
    connect(sync, &QFDropboxSync::metadataError, this,
        [this](const QVariantMap &info) { remoteListingArrived({}, info.value(QStringLiteral("error")).toString()); });
    // Each upload's end (success or failure) is handled once its failure, if any, has been seen.
    sync->setUploadMode(true, [this] { onMainThread([this] { continueUploadMode(); }); });
    m_uploading = path;
    m_engine->uploadFileToCloud(path);
}

void AppController::continueUploadMode()
{
    if (m_uploadFailed || !QFDropboxSync::isSyncOn()) {
        leaveUploadsForLater();
        quit();
        return;
    }
    if (!m_namedUploadDone) {
        // The named version is up: its project, and those earlier runs left, are compared with Dropbox.
        m_namedUploadDone = true;
        const QString own = QFProjectActions::projectFolderOfVersion(m_uploading);
        if (!own.isEmpty())
            m_catchUpProjects << own;
        for (const QString &folder : QFProjectActions::takePendingUploads()) {
            if (!m_catchUpProjects.contains(folder))
                m_catchUpProjects << folder;
        }
    }
    m_uploading.clear();
    while (!m_uploadQueue.isEmpty()) {
        const QString next = m_uploadQueue.takeFirst();
        if (!QFileInfo::exists(next))
            continue;
        QFLog::appendLog("Uploading %@, which Dropbox lacks...", next);
        m_uploading = next;
        m_engine->uploadFileToCloud(next);
        return;
    }
    if (m_catchUpProjects.isEmpty()) {
        quit();
        return;
    }
    m_listedProject = m_catchUpProjects.takeFirst();
    m_engine->loadSyncedFileListForProjectUUID(QFDropboxSync::remotePathForProject(m_listedProject).mid(1));
}

void AppController::remoteListingArrived(const QStringList &names, const QString &error)
{
    if (m_listedProject.isEmpty())
        return;
    const QString project = m_listedProject;
    m_listedProject.clear();
    // A project that has no folder in Dropbox yet lacks every version.
    if (!error.isEmpty() && !error.contains(QStringLiteral("not_found"))) {
        QFLog::appendLog("Unable to list the Dropbox copies of %@: %@", project, error);
        m_catchUpProjects.prepend(project);
        leaveUploadsForLater();
        quit();
        return;
    }
    m_uploadQueue = QFProjectActions::versionsMissingRemotely(project + QStringLiteral("/Versions"), names);
    continueUploadMode();
}

void AppController::leaveUploadsForLater()
{
    QStringList folders = m_catchUpProjects;
    for (const QString &path : m_uploadQueue + QStringList { m_uploading }) {
        const QString folder = QFProjectActions::projectFolderOfVersion(path);
        if (!folder.isEmpty() && !folders.contains(folder))
            folders << folder;
    }
    m_catchUpProjects.clear();
    m_uploadQueue.clear();
    if (folders.isEmpty())
        return;
    QFLog::appendLog("Uploads left for later: %@", folders.join(QStringLiteral(", ")));
    QFProjectActions::notePendingUploads(folders);
}

void AppController::countRemoteDeletion()
{
    if (++m_remoteDeletions == m_remoteDeletionsExpected)
        quit();
}

// --- Autosave -----------------------------------------------------------------------------------------

void AppController::autosave()
{
    if (!QFileInfo::exists(QFProject::preferenceFilePath()))
        return;
    const std::optional<QStringList> open = QFAppleEvents::listOfOpenFCPProjects();
    if (!open)
        return;
    for (const QFProjectListEntry &project : m_engine->projects()) {
        if (!open->contains(project.path))
            continue;
        QFLog::appendLog("Autosaving %@...", project.path);
        QFAppleEvents::saveProject(project.path);
    }
}
