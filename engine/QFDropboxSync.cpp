#include "engine/QFDropboxSync.h"

#include "engine/QFPreferenceKeys.h"
#include "engine/QFPreferenceSnapshot.h"
#include "foundation/QFClock.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFGrowl.h"
#include "foundation/QFLauncherEntry.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/QFMainThread.h"
#include "foundation/QFNotificationCenter.h"
#include "foundation/platform/QFSystemLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QVariantList>

namespace {

// A user notification about a failed upload at most this often.
constexpr qint64 kSyncErrorQuietSeconds = 1800;

QVariantMap errorInfo(const QFDropboxError &error)
{
    return { { QStringLiteral("filename"), QString() }, { QStringLiteral("error"), error.description },
        { QStringLiteral("errorCode"), error.code } };
}

bool liesInTemporaryFolder(const QString &path)
{
    const QString temp = QDir(QFLocalPaths::tempDirectory()).canonicalPath();
    const QString folder = QFileInfo(path).dir().canonicalPath();
    return !temp.isEmpty() && (folder == temp || folder.startsWith(temp + u'/'));
}

} // namespace

QFDropboxSync::QFDropboxSync(QObject *parent)
    : QObject(parent)
{
}

QFDropboxSync *QFDropboxSync::shared()
{
    static QMutex lock;
    static QFDropboxSync *instance = nullptr;
    QMutexLocker locker(&lock);
    if (!instance) {
        // Made on the main thread, which its network work and its signals belong to.
        QFMainThread::run([] { instance = new QFDropboxSync(QCoreApplication::instance()); }, true);
    }
    return instance;
}

bool QFDropboxSync::isSyncOn()
{
    return QFPreferenceSnapshot::read().integer(QStringLiteral("syncService"), 0) == 1;
}

QString QFDropboxSync::projectIDForVersion(const QString &versionPath)
{
    // The version lies in <ID>.localized/Versions; the identifier is that folder's name without extension.
    QDir folder = QFileInfo(versionPath).dir();
    folder.cdUp();
    const QString name = QFileInfo(folder.path()).fileName();
    const int dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.left(dot) : name;
}

QString QFDropboxSync::remotePathForVersion(const QString &versionPath)
{
    return qfFormat("/%@/%@.zip", projectIDForVersion(versionPath), QFileInfo(versionPath).fileName());
}

QString QFDropboxSync::remotePathForProject(const QString &projectFolder)
{
    const QString name = QFileInfo(QDir::cleanPath(projectFolder)).fileName();
    const int dot = name.lastIndexOf(u'.');
    return u'/' + (dot > 0 ? name.left(dot) : name);
}

QString QFDropboxSync::remotePathForLocalPath(const QString &path)
{
    if (QFileInfo(path).dir().dirName() == QLatin1String("Versions"))
        return remotePathForVersion(path);
    return remotePathForProject(path);
}

QFDropboxAccount *QFDropboxSync::account()
{
    if (!m_account)
        m_account = new QFDropboxAccount(this);
    return m_account;
}

QFDropboxClient *QFDropboxSync::restClient()
{
    QFDropboxAccount *session = account();
    if (m_client || !QFDropboxAccount::isLinked())
        return m_client;
    m_client = new QFDropboxClient(session, this);
    connect(m_client, &QFDropboxClient::loadedMetadata, this, &QFDropboxSync::onLoadedMetadata);
    connect(m_client, &QFDropboxClient::loadMetadataFailed, this, [this](const QFDropboxError &error) {
        post(QStringLiteral("QFProTombrelMetadataError"), { { QStringLiteral("error"), error.description } }, &QFDropboxSync::metadataError);
    });
    connect(m_client, &QFDropboxClient::uploadedFile, this, &QFDropboxSync::onUploadedFile);
    connect(m_client, &QFDropboxClient::uploadProgress, this,
        [this](double progress, const QString &, const QString &srcPath) { onUploadProgress(progress, srcPath); });
    connect(m_client, &QFDropboxClient::uploadFileFailed, this, &QFDropboxSync::onUploadFailed);
    connect(m_client, &QFDropboxClient::deletedPath, this, [this](const QString &path) {
        post(QStringLiteral("QFProTombrelRemoveRemoteFile"), { { QStringLiteral("filename"), path } }, &QFDropboxSync::removeRemoteFile);
    });
    connect(m_client, &QFDropboxClient::deletePathFailed, this, [this](const QFDropboxError &error) {
        QFLog::appendLog("Failed to delete Dropbox file: %@", error.description);
        post(QStringLiteral("QFProTombrelRemoveRemoteFileFailed"), errorInfo(error), &QFDropboxSync::removeRemoteFileFailed);
    });
    connect(m_client, &QFDropboxClient::loadedFile, this, [this](const QString &destPath) {
        post(QStringLiteral("QFProTombrelFileDownloaded"), { { QStringLiteral("filename"), destPath } }, &QFDropboxSync::fileDownloaded);
    });
    connect(m_client, &QFDropboxClient::loadProgress, this, [this](double progress, const QString &destPath) {
        post(QStringLiteral("QFProTombrelFileDownloadProgress"),
            { { QStringLiteral("filename"), destPath }, { QStringLiteral("progress"), progress } }, &QFDropboxSync::fileDownloadProgress);
    });
    connect(m_client, &QFDropboxClient::loadFileFailed, this,
        [](const QFDropboxError &error) { qfSystemLog(qfFormat("error downloading file: %@", error.description)); });
    return m_client;
}

void QFDropboxSync::removeRestClient()
{
    delete m_client;
    m_client = nullptr;
    if (m_account) {
        m_account->clearAccessToken();
        m_account->reloadConfiguration();
    }
}

void QFDropboxSync::post(const QString &name, const QVariantMap &userInfo, void (QFDropboxSync::*signal)(const QVariantMap &))
{
    Q_EMIT(this->*signal)(userInfo);
    QFNotificationCenter::defaultCenter()->postNotificationName(name, QVariant(), userInfo);
}

// --- Operations ---------------------------------------------------------------------------------------

void QFDropboxSync::uploadVersion(const QString &versionPath)
{
    if (!isSyncOn())
        return;
    const QString name = QFileInfo(versionPath).fileName();
    const QString folder = u'/' + projectIDForVersion(versionPath);
    const QString archive = qfFormat("%@/%@.zip", QFLocalPaths::tempDirectory(), name);
    if (QFileInfo::exists(archive))
        QFFileManager::removeFile(archive, false);
    const bool compressed = QFFileManager::compressFile(versionPath, archive, false);
    QFMainThread::run(
        [this, name, folder, archive, compressed, versionPath] {
            QFDropboxClient *client = restClient();
            if (!client) {
                QFLog::appendLog("No Dropbox account is linked; %@ is not uploaded.", versionPath);
                if (compressed)
                    QFFileManager::removeFile(archive, false);
                // A process started for this one upload would otherwise wait for ever.
                if (m_uploadMode)
                    endUploadMode();
                return;
            }
            if (compressed)
                client->uploadFile(name + QStringLiteral(".zip"), folder, archive);
            else
                client->uploadFile(name, folder, versionPath);
        },
        false);
}

void QFDropboxSync::loadSyncedFileList(const QString &projectID)
{
    if (!isSyncOn())
        return;
    QFMainThread::run(
        [this, projectID] {
            if (QFDropboxClient *client = restClient())
                client->loadMetadata(qfFormat("/%@", projectID));
        },
        false);
}

void QFDropboxSync::downloadFile(const QString &remotePath, const QString &localPath)
{
    if (!isSyncOn())
        return;
    QFMainThread::run(
        [this, remotePath, localPath] {
            if (QFDropboxClient *client = restClient())
                client->loadFile(remotePath, localPath);
        },
        false);
}

void QFDropboxSync::cancelDownload(const QString &remotePath)
{
    QFMainThread::run(
        [this, remotePath] {
            if (m_client)
                m_client->cancelFileLoad(remotePath);
        },
        false);
}

void QFDropboxSync::deleteRemotePaths(const QStringList &remotePaths)
{
    if (!isSyncOn())
        return;
    QFMainThread::run(
        [this, remotePaths] {
            if (QFDropboxClient *client = restClient()) {
                for (const QString &path : remotePaths)
                    client->deletePath(path);
            }
        },
        false);
}

// --- Answers ------------------------------------------------------------------------------------------

void QFDropboxSync::onLoadedMetadata(const QFDropboxMetadata &metadata)
{
    if (!metadata.isDirectory)
        return;
    QStringList filenames;
    QVariantList sizes;
    QVariantList dates;
    for (const QFDropboxEntry &entry : metadata.contents) {
        if (entry.isDirectory)
            continue;
        // An archive "Cut.00005.fcp.zip" is listed under the version it holds.
        const int dot = entry.name.lastIndexOf(u'.');
        filenames.append(dot > 0 ? entry.name.left(dot) : entry.name);
        sizes.append(entry.totalBytes);
        dates.append(entry.lastModifiedDate);
    }
    QVariantMap info;
    if (!filenames.isEmpty()) {
        info = { { QStringLiteral("filenames"), filenames }, { QStringLiteral("sizes"), sizes },
            { QStringLiteral("dates"), dates } };
    }
    post(QStringLiteral("QFProTombrelSyncedFiles"), info, &QFDropboxSync::syncedFiles);
}

void QFDropboxSync::onUploadedFile(const QString &, const QString &srcPath)
{
    qfSystemLog(QStringLiteral("upload complete"));
    if (liesInTemporaryFolder(srcPath))
        QFFileManager::removeFile(srcPath, false);
    if (m_uploadMode) {
        endUploadMode();
        return;
    }
    post(QStringLiteral("QFProTombrelSyncComplete"), { { QStringLiteral("filename"), srcPath } }, &QFDropboxSync::syncComplete);
}

void QFDropboxSync::onUploadProgress(double progress, const QString &srcPath)
{
    if (m_uploadMode) {
        QFLauncherEntry::setProgress(progress);
        return;
    }
    post(QStringLiteral("QFProTombrelUploadProgress"), { { QStringLiteral("filename"), srcPath }, { QStringLiteral("progress"), progress } },
        &QFDropboxSync::uploadProgress);
}

void QFDropboxSync::onUploadFailed(const QFDropboxError &error)
{
    // The archive made for the upload is of no use any more.
    if (liesInTemporaryFolder(error.path) && error.path.endsWith(QStringLiteral(".zip")))
        QFFileManager::removeFile(error.path, false);
    if (m_uploadMode) {
        failUploadInUploadMode(error);
        return;
    }
    post(QStringLiteral("QFProTombrelSyncFailed"), errorInfo(error), &QFDropboxSync::syncFailed);
}

QString QFDropboxSync::messageForError(const QFDropboxError &error)
{
    const QString lead = QFDropboxClient::leadTextForError(error);
    return lead.isEmpty() ? error.description : lead + QStringLiteral("\n\n") + error.description;
}

void QFDropboxSync::failUploadInUploadMode(const QFDropboxError &error)
{
    const QString message = messageForError(error);
    QFLog::appendLog("Dropbox upload failed: %@", message);
    const QVariant last = QFPreferenceSnapshot::read().value(QStringLiteral("lastSyncError"));
    const QDateTime now = QFClock::now();
    if (!last.toDateTime().isValid() || last.toDateTime().secsTo(now) > kSyncErrorQuietSeconds) {
        QFPreferenceKeys::update({ { QStringLiteral("lastSyncError"), now } });
        QFGrowl::sharedController()->postGrowlNotification(QStringLiteral("Dropbox upload failed"), message, QString(),
            QStringLiteral("Backup failed"));
    }
    endUploadMode();
}

void QFDropboxSync::setUploadMode(bool uploadMode, std::function<void()> quit)
{
    m_uploadMode = uploadMode;
    m_quit = std::move(quit);
}

void QFDropboxSync::endUploadMode()
{
    QFLauncherEntry::clear();
    if (m_quit)
        m_quit();
}
