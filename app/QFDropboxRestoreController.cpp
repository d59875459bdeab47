#include "app/QFDropboxRestoreController.h"

#include "app/QFVersionListModel.h"
#include "engine/QFDropboxClient.h"
#include "engine/QFDropboxRestore.h"
#include "engine/QFDropboxSync.h"
#include "engine/QFTransferFolder.h"
#include "engine/QFTombrelBackup.h"
#include "foundation/QFAlert.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFNotificationCenter.h"
#include "foundation/platform/QFFormat.h"

#include <QDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// Table columns by identifier: each shows the row's value of that key.
const QStringList kColumns = { QStringLiteral("file"), QStringLiteral("size"), QStringLiteral("date") };

} // namespace

QFDropboxRestoreController::QFDropboxRestoreController(QWidget *mainWindow, QObject *parent)
    : QObject(parent)
    , m_mainWindow(mainWindow)
{
}

QFDropboxRestoreController::~QFDropboxRestoreController()
{
    delete m_windowProgress;
    delete m_window;
}

void QFDropboxRestoreController::buildWindow()
{
    m_window = new QDialog(m_mainWindow, Qt::Sheet);
    m_window->setObjectName(QStringLiteral("dropboxRestoreSheet"));
    m_window->setWindowTitle(QStringLiteral("Restore from Dropbox"));
    m_window->setWindowModality(Qt::WindowModal);
    m_window->resize(560, 380);
    auto *layout = new QVBoxLayout(m_window);
    layout->setContentsMargins(20, 18, 20, 16);
    layout->setSpacing(10);
    auto *title = new QLabel(QStringLiteral("Restore from Dropbox"), m_window);
    title->setObjectName(QStringLiteral("dropboxRestoreTitle"));
    QFont bold = title->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    title->setFont(bold);
    layout->addWidget(title);
    auto *note = new QLabel(m_window);
    note->setObjectName(QStringLiteral("dropboxRestoreNote"));
    note->setWordWrap(true);
    layout->addWidget(note);

    m_tableView = new QTreeWidget(m_window);
    m_tableView->setObjectName(QStringLiteral("dropboxRestoreTable"));
    m_tableView->setRootIsDecorated(false);
    m_tableView->setAlternatingRowColors(true);
    m_tableView->setUniformRowHeights(true);
    m_tableView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tableView->setHeaderLabels({ QStringLiteral("Version"), QStringLiteral("Size"), QStringLiteral("Date") });
    m_tableView->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_tableView->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_tableView->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    m_tableView->header()->setStretchLastSection(false);
    layout->addWidget(m_tableView, 1);

    auto *buttons = new QHBoxLayout;
    m_spinner = new QProgressBar(m_window);
    m_spinner->setObjectName(QStringLiteral("dropboxRestoreSpinner"));
    m_spinner->setRange(0, 0);
    m_spinner->setTextVisible(false);
    m_spinner->setMaximumWidth(120);
    m_spinner->setMaximumHeight(8);
    buttons->addWidget(m_spinner);
    buttons->addStretch(1);
    auto *cancelButton = new QPushButton(QStringLiteral("Cancel"), m_window);
    cancelButton->setObjectName(QStringLiteral("dropboxRestoreCancel"));
    m_restoreBtn = new QPushButton(QStringLiteral("Restore"), m_window);
    m_restoreBtn->setObjectName(QStringLiteral("dropboxRestoreButton"));
    m_restoreBtn->setDefault(true);
    buttons->addWidget(cancelButton);
    buttons->addWidget(m_restoreBtn);
    layout->addLayout(buttons);

    connect(cancelButton, &QPushButton::clicked, this, &QFDropboxRestoreController::cancel);
    connect(m_restoreBtn, &QPushButton::clicked, this, &QFDropboxRestoreController::restore);
    connect(m_tableView, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (m_restoreBtn->isEnabled())
            restore();
    });
    connect(m_window, &QDialog::rejected, this, &QFDropboxRestoreController::cancel);
}

void QFDropboxRestoreController::showBackupsForProject(const QFProject &project, QFTombrelBackup *backupController)
{
    if (!m_window)
        buildWindow();
    m_project = std::make_unique<QFProject>(project);
    m_backupController = backupController;
    m_backupArray.clear();
    m_tableView->clear();
    m_restoreBtn->setEnabled(false);
    // The store is that of the preferences now: Dropbox, or an rclone remote named as the user wrote it.
    const QString store = QFDropboxSync::storeName();
    m_window->setWindowTitle(qfFormat("Restore from %@", store));
    m_window->findChild<QLabel *>(QStringLiteral("dropboxRestoreTitle"))->setText(qfFormat("Restore from %@", store));
    m_window->findChild<QLabel *>(QStringLiteral("dropboxRestoreNote"))
        ->setText(qfFormat("Copies of “%@” kept in %@. The one you restore replaces the project file on disk.",
            QFileInfo(project.expandedProjectPath()).fileName(), store));

    m_listObservers = std::make_unique<QObject>();
    QFNotificationCenter *center = QFNotificationCenter::defaultCenter();
    center->addObserver(m_listObservers.get(), QStringLiteral("QFProTombrelSyncedFiles"),
        [this](const QVariant &, const QVariantMap &info) { syncedFilesReceived(info); });
    center->addObserver(m_listObservers.get(), QStringLiteral("QFProTombrelMetadataError"),
        [this](const QVariant &, const QVariantMap &) { metadataError(); });
    m_spinner->show();
    m_window->open();
    m_backupController->loadSyncedFileListForProjectUUID(project.projectID());
}

void QFDropboxRestoreController::syncedFilesReceived(const QVariantMap &userInfo)
{
    const QStringList names = userInfo.value(QStringLiteral("filenames")).toStringList();
    const QVariantList sizes = userInfo.value(QStringLiteral("sizes")).toList();
    const QVariantList dates = userInfo.value(QStringLiteral("dates")).toList();
    const QStringList remoteNames = userInfo.value(QStringLiteral("remoteNames")).toStringList();
    m_backupArray.clear();
    for (int i = 0; i < names.size(); ++i) {
        const QVariant size = sizes.value(i);
        m_backupArray.append({ { QStringLiteral("file"), names.at(i) },
            { QStringLiteral("remoteName"), remoteNames.value(i, names.at(i) + QStringLiteral(".zip")) },
            { QStringLiteral("rawSize"), size },
            { QStringLiteral("size"), QFFileManager::formatFileSize(size.toDouble()) },
            { QStringLiteral("date"),
                QFVersionListModel::mediumDateTimeText(dates.value(i).toDateTime().toLocalTime()) } });
    }
    m_spinner->hide();
    m_tableView->clear();
    for (const QVariantMap &row : std::as_const(m_backupArray)) {
        QStringList cells;
        for (const QString &column : kColumns)
            cells << QFDropboxSync::printableName(row.value(column).toString());
        auto *item = new QTreeWidgetItem(m_tableView, cells);
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    }
    if (!m_backupArray.isEmpty())
        m_tableView->setCurrentItem(m_tableView->topLevelItem(0));
    m_restoreBtn->setEnabled(!m_backupArray.isEmpty());
}

void QFDropboxRestoreController::metadataError()
{
    m_spinner->hide();
}

QVariantMap QFDropboxRestoreController::selectedRow() const
{
    const QTreeWidgetItem *item = m_tableView->currentItem();
    const int row = item ? m_tableView->indexOfTopLevelItem(const_cast<QTreeWidgetItem *>(item)) : -1;
    return row >= 0 && row < m_backupArray.size() ? m_backupArray.at(row) : QVariantMap();
}

void QFDropboxRestoreController::restore()
{
    if (!m_project || selectedRow().isEmpty())
        return;
    QFAlert::alertSheetWithMessageText(QStringLiteral("Are you sure you wish to restore this backup?"),
        QStringLiteral("Restore"), QStringLiteral("Cancel"), QString(),
        QStringLiteral("This will overwrite the current project on disk."), m_window, false,
        [this, window = m_window](int code) {
            if (code != QFAlert::kDefaultReturn || !window || !m_project)
                return;
            m_downloadRow = selectedRow();
            m_downloadFile = m_downloadRow.value(QStringLiteral("file")).toString();
            if (m_downloadFile.isEmpty())
                return;
            // The name came from Dropbox: it must be one file of the project's folder there.
            QString refusal;
            const std::optional<QString> remote = QFDropboxSync::remotePathInProject(
                m_project->projectID(), m_downloadRow.value(QStringLiteral("remoteName")).toString(), &refusal);
            if (!remote) {
                alert(QFDropboxRestore::titleForResult(QFDropboxRestore::Result::CopyFailed), refusal + u'.');
                cancel();
                return;
            }
            m_transfer = std::make_unique<QFTransferFolder>();
            if (!m_transfer->isValid()) {
                m_transfer.reset();
                alert(QFDropboxRestore::titleForResult(QFDropboxRestore::Result::CopyFailed),
                    QFDropboxRestore::messageForResult(QFDropboxRestore::Result::CopyFailed));
                cancel();
                return;
            }
            m_windowProgress = new QDialog(m_window, Qt::Sheet);
            m_windowProgress->setObjectName(QStringLiteral("dropboxDownloadSheet"));
            m_windowProgress->setWindowModality(Qt::WindowModal);
            auto *layout = new QVBoxLayout(m_windowProgress);
            layout->setContentsMargins(20, 18, 20, 16);
            layout->addWidget(new QLabel(
                qfFormat("Downloading %@…", QFDropboxSync::printableName(m_downloadFile)), m_windowProgress));
            m_progressBar = new QProgressBar(m_windowProgress);
            m_progressBar->setObjectName(QStringLiteral("dropboxDownloadProgress"));
            m_progressBar->setRange(0, 0);
            m_progressBar->setValue(0);
            m_progressBar->setMinimumWidth(320);
            layout->addWidget(m_progressBar);
            auto *row = new QHBoxLayout;
            row->addStretch(1);
            auto *cancelButton = new QPushButton(QStringLiteral("Cancel"), m_windowProgress);
            cancelButton->setObjectName(QStringLiteral("dropboxDownloadCancel"));
            row->addWidget(cancelButton);
            layout->addLayout(row);
            connect(cancelButton, &QPushButton::clicked, this, &QFDropboxRestoreController::cancelProgress);
            m_windowProgress->open();

            m_downloadObservers = std::make_unique<QObject>();
            QFNotificationCenter *center = QFNotificationCenter::defaultCenter();
            center->addObserver(m_downloadObservers.get(), QStringLiteral("QFProTombrelFileDownloaded"),
                [this](const QVariant &, const QVariantMap &info) { downloadComplete(info); });
            center->addObserver(m_downloadObservers.get(), QStringLiteral("QFProTombrelFileDownloadProgress"),
                [this](const QVariant &, const QVariantMap &info) { downloadProgress(info); });
            m_downloadPath = m_transfer->filePath(QStringLiteral("download"));
            m_downloadRemote = *remote;
            m_backupController->downloadFile(m_downloadRemote, m_downloadPath);
        });
}

void QFDropboxRestoreController::downloadProgress(const QVariantMap &userInfo)
{
    if (!m_progressBar || userInfo.value(QStringLiteral("filename")).toString() != m_downloadPath)
        return;
    if (m_progressBar->maximum() == 0)
        m_progressBar->setRange(0, 1000);
    m_progressBar->setValue(int(userInfo.value(QStringLiteral("progress")).toDouble() * 1000));
}

void QFDropboxRestoreController::downloadComplete(const QVariantMap &userInfo)
{
    const QString downloaded = userInfo.value(QStringLiteral("filename")).toString();
    if (!m_project || downloaded != m_downloadPath)
        return;
    m_downloadObservers.reset();
    if (m_progressBar)
        m_progressBar->setRange(0, 0);
    QString reason;
    const QFDropboxRestore::Result result
        = QFDropboxRestore::restoreCopy(downloaded, m_downloadRow.value(QStringLiteral("remoteName")).toString(),
            m_downloadRow.value(QStringLiteral("rawSize")).isValid()
                ? m_downloadRow.value(QStringLiteral("rawSize")).toLongLong()
                : -1,
            m_project->expandedProjectPath(), &reason);
    m_transfer.reset();
    stopProgress();
    const QString message = QFDropboxRestore::messageForResult(result);
    alert(QFDropboxRestore::titleForResult(result),
        reason.isEmpty() ? message : message + QStringLiteral("\n\n") + reason + u'.');
    cancel();
}

void QFDropboxRestoreController::alert(const QString &title, const QString &text)
{
    QFAlert::alertSheetWithMessageText(title, QString(), QString(), QString(), text, m_mainWindow, false);
}

void QFDropboxRestoreController::cancelProgress()
{
    if (m_backupController)
        QFDropboxSync::shared()->cancelDownload(m_downloadRemote);
    m_transfer.reset();
    stopProgress();
}

void QFDropboxRestoreController::stopProgress()
{
    m_downloadObservers.reset();
    if (m_windowProgress) {
        m_windowProgress->close();
        m_windowProgress->deleteLater();
    }
    m_progressBar = nullptr;
}

void QFDropboxRestoreController::cancel()
{
    m_listObservers.reset();
    m_downloadObservers.reset();
    m_project.reset();
    m_backupController = nullptr;
    m_backupArray.clear();
    m_downloadRow.clear();
    m_transfer.reset();
    if (m_window && m_window->isVisible())
        m_window->close();
    Q_EMIT finished();
}
