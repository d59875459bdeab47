#pragma once

// The sheet that lists a project's copies in Dropbox and puts the chosen one back in place of the project
// file: the list from the engine's listing, the download under a progress sheet that can be cancelled, and
// the swap that never loses the old file. Main thread only.

#include "engine/QFProject.h"

#include <QObject>
#include <QPointer>
#include <QVariantMap>

#include <memory>

class QDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QWidget;
class QFTombrelBackup;
class QFTransferFolder;

class QFDropboxRestoreController final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFDropboxRestoreController)
public:
    explicit QFDropboxRestoreController(QWidget *mainWindow, QObject *parent = nullptr);
    ~QFDropboxRestoreController() override;

    void showBackupsForProject(const QFProject &project, QFTombrelBackup *backupController);
    QDialog *window() const { return m_window; }

    void syncedFilesReceived(const QVariantMap &userInfo);
    void metadataError();
    void restore();
    void downloadProgress(const QVariantMap &userInfo);
    void downloadComplete(const QVariantMap &userInfo);
    void cancelProgress();
    void stopProgress();
    void cancel();

Q_SIGNALS:
    // The sheet closed, after a restore or without one.
    void finished();

private:
    void buildWindow();
    QVariantMap selectedRow() const;
    void alert(const QString &title, const QString &text);

    QWidget *m_mainWindow;
    QPointer<QDialog> m_window;
    QTreeWidget *m_tableView = nullptr;
    QProgressBar *m_spinner = nullptr;
    QPushButton *m_restoreBtn = nullptr;
    QPointer<QDialog> m_windowProgress;
    QProgressBar *m_progressBar = nullptr;
    std::unique_ptr<QFProject> m_project;
    QFTombrelBackup *m_backupController = nullptr;
    QList<QVariantMap> m_backupArray;
    QString m_downloadPath;
    QString m_downloadRemote;
    QString m_downloadFile;
    QVariantMap m_downloadRow;
    // The download's own folder, gone when the restore ends or is cancelled.
    std::unique_ptr<QFTransferFolder> m_transfer;
    // Observers live as long as these contexts.
    std::unique_ptr<QObject> m_listObservers;
    std::unique_ptr<QObject> m_downloadObservers;
};
