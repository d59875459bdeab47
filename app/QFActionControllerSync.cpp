#include "app/QFActionController.h"

#include "app/AppController.h"
#include "app/MainWindow.h"
#include "app/QFActionControllerPrivate.h"
#include "app/QFDropboxRestoreController.h"
#include "app/QFVersionListModel.h"
#include "engine/QFDropboxSync.h"
#include "engine/QFTombrelBackup.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>

using namespace QFActionControllerPrivate;

// --- Sync ---------------------------------------------------------------------------------------------

void QFActionController::updateSyncAction()
{
    // Restoring is offered while sync is on and its store can be used (a linked account, a chosen remote).
    if (m_restoreFromDropboxAction) {
        m_restoreFromDropboxAction->setEnabled(currentProject() && QFDropboxSync::isReady());
        // Named after the store the copies are kept in.
        m_restoreFromDropboxAction->setText(QFDropboxSync::service() == QFDropboxSync::Service::Rclone
                ? QStringLiteral("Restore from &Remote…")
                : QStringLiteral("Restore from &Dropbox…"));
    }
    // Removing a project's copies on the sync service is offered while there is a service.
    if (QAction *removeSynced = m_window->findChild<QAction *>(QStringLiteral("removeSyncedFilesForProject")))
        removeSynced->setEnabled(QFDropboxSync::isSyncOn());
    if (!m_syncAction)
        return;
    const std::optional<QFVersionEntry> entry = selectedVersionEntry();
    m_syncAction->setEnabled(QFDropboxSync::isSyncOn() && currentProject() && entry
        && !m_app->versionModel()->isSynced(QFileInfo(entry->file).fileName()));
}

void QFActionController::sync()
{
    updateSyncAction();
    const std::optional<QFVersionEntry> entry = selectedVersionEntry();
    if (!m_syncAction->isEnabled() || !entry)
        return;
    m_window->versionCountLabel()->setText(QStringLiteral("Syncing..."));
    // Indeterminate until the first progress report.
    m_window->versionSpinner()->setRange(0, 0);
    m_window->versionSpinner()->show();
    // Compressing a large version takes a while: away from the window.
    QFTombrelBackup *engine = m_app->engine();
    // The list shows a Final Cut Pro version by its XML copy; the version file is what goes up.
    const QString file = QFDropboxSync::syncedVersionFile(entry->file);
    detach([engine, file] { engine->uploadFileToCloud(file); });
}

void QFActionController::restoreFromDropbox()
{
    const std::optional<QFProject> project = currentProject();
    if (!project || !QFDropboxSync::isReady())
        return;
    if (!m_dropboxRestore)
        m_dropboxRestore = new QFDropboxRestoreController(m_window, this);
    m_dropboxRestore->showBackupsForProject(*project, m_app->engine());
}

void QFActionController::removeSyncedFilesForProject()
{
    const std::optional<QFProject> project = currentProject();
    if (!QFDropboxSync::isSyncOn() || !project)
        return;
    confirm(QStringLiteral("Are you sure you wish to remove all synced backups for this project?"),
        QStringLiteral("Remove All"),
        QStringLiteral("This will remove the backups from the sync service but leave the files locally on disk."),
        [this, project] {
            m_app->engine()->removeSyncedProjects({ project->destinationPath() });
            tell(QStringLiteral("Synced backups cleared"),
                QStringLiteral("This project's backups have been removed from the sync service."));
            m_app->clearSynced();
        });
}
