#include "engine/QFDropboxSync.h"

#include "engine/QFPreferenceKeys.h"
#include "engine/QFPreferenceSnapshot.h"
#include "engine/QFProjectActions.h"
#include "engine/QFRcloneClient.h"
#include "engine/QFRemoteProjects.h"
#include "engine/QFTransferFolder.h"
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
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QRegularExpression>
#include <QVariantList>

#include <vector>

namespace {

// A user notification about a failed upload at most this often.
constexpr qint64 kSyncErrorQuietSeconds = 1800;

QVariantMap errorInfo(const QFDropboxError &error)
{
    return { { QStringLiteral("filename"), QString() }, { QStringLiteral("error"), error.description },
        { QStringLiteral("errorCode"), error.code } };
}

// A deletion of a path that is not there.
bool isNotFound(const QFDropboxError &error)
{
    return error.domain == QFDropboxError::Domain::HTTP && error.description.contains(QStringLiteral("not_found"));
}

// Dropbox compares paths without case.
QString removalKey(const QString &remotePath)
{
    return QFDropboxClient::normalizedPath(remotePath).toLower();
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
    m_dropbox = new QFDropboxSyncClient(m_client, m_client);
    connectClient(m_dropbox);
    return m_client;
}

QFSyncClient *QFDropboxSync::syncClient()
{
    switch (service()) {
    case Service::None:
        return nullptr;
    case Service::Dropbox:
        return restClient() ? m_dropbox : nullptr;
    case Service::Rclone:
        break;
    }
    const QString remote = syncRemote();
    if (!QFRcloneClient::isRemoteSpec(remote))
        return nullptr;
    // Work under way finishes where it began; the next request goes to the new remote.
    if (m_rclone && m_rclone->remote() != remote && m_rclone->pendingRequests() == 0) {
        delete m_rclone;
        m_rclone = nullptr;
    }
    if (!m_rclone) {
        m_rclone = new QFRcloneClient(remote, this);
        connectClient(m_rclone);
    }
    return m_rclone;
}

QFSyncClient *QFDropboxSync::newClient(QObject *parent, QString *why)
{
    if (!isReady(why))
        return nullptr;
    if (service() == Service::Rclone)
        return new QFRcloneClient(syncRemote(), parent);
    auto *client = new QFDropboxClient(account(), parent);
    return new QFDropboxSyncClient(client, client);
}

void QFDropboxSync::connectClient(QFSyncClient *client)
{
    connect(client, &QFSyncClient::loadedMetadata, this, &QFDropboxSync::onLoadedMetadata);
    connect(client, &QFSyncClient::loadMetadataFailed, this, [this](const QFDropboxError &error) {
        post(QStringLiteral("QFProTombrelMetadataError"), { { QStringLiteral("error"), error.description } },
            &QFDropboxSync::metadataError);
    });
    connect(client, &QFSyncClient::uploadedFile, this, &QFDropboxSync::onUploadedFile);
    connect(client, &QFSyncClient::uploadProgress, this,
        [this](double progress, const QString &, const QString &srcPath) { onUploadProgress(progress, srcPath); });
    connect(client, &QFSyncClient::uploadFileFailed, this, &QFDropboxSync::onUploadFailed);
    connect(client, &QFSyncClient::deletedPath, this, [this](const QString &path) { onDeleteAnswered(path, {}); });
    connect(client, &QFSyncClient::deletePathFailed, this,
        [this](const QFDropboxError &error) { onDeleteAnswered(error.path, error); });
    connect(client, &QFSyncClient::loadedFile, this, [this](const QString &destPath) {
        post(QStringLiteral("QFProTombrelFileDownloaded"), { { QStringLiteral("filename"), destPath } },
            &QFDropboxSync::fileDownloaded);
    });
    connect(client, &QFSyncClient::loadProgress, this, [this](double progress, const QString &destPath) {
        post(QStringLiteral("QFProTombrelFileDownloadProgress"),
            { { QStringLiteral("filename"), destPath }, { QStringLiteral("progress"), progress } },
            &QFDropboxSync::fileDownloadProgress);
    });
    connect(client, &QFSyncClient::loadFileFailed, this, [this](const QFDropboxError &error) {
        qfSystemLog(qfFormat("error downloading file: %@", error.description));
        Q_EMIT fileDownloadFailed(error.path, error.description);
    });
}

void QFDropboxSync::removeRestClient()
{
    delete m_client;
    m_client = nullptr;
    m_dropbox = nullptr;
    delete m_rclone;
    m_rclone = nullptr;
    m_infoUploads.clear();
    m_infoWritten.clear();
    // Their requests went with the client: nothing will answer them.
    m_uploadFolders.clear();
    m_removals.clear();
    if (m_account) {
        m_account->clearAccessToken();
        m_account->reloadConfiguration();
    }
}

void QFDropboxSync::post(
    const QString &name, const QVariantMap &userInfo, void (QFDropboxSync::*signal)(const QVariantMap &))
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
    // A folder of its own: two uploads of versions with one name (of two projects, or from two processes)
    // never share an archive, and nobody else can read or replace it.
    auto transfer = std::make_shared<QFTransferFolder>();
    const QString archive = transfer->isValid() ? transfer->filePath(name + QStringLiteral(".zip")) : QString();
    const bool compressed = transfer->isValid() && QFFileManager::compressFile(versionPath, archive, false);
    if (!compressed)
        transfer.reset();
    // An rclone remote is read by other machines that know nothing of the project: its folder says what it holds.
    const QByteArray info = service() == Service::Rclone
        ? QFRemoteProjects::infoForProjectFolder(QFProjectActions::projectFolderOfVersion(versionPath))
        : QByteArray();
    QFMainThread::run(
        [this, name, folder, archive, compressed, versionPath, transfer, info] {
            QFSyncClient *client = syncClient();
            if (!client) {
                QString why;
                if (service() == Service::Rclone && !isReady(&why))
                    QFLog::appendLog("%@ is not uploaded: %@", versionPath, why);
                else
                    QFLog::appendLog("No Dropbox account is linked; %@ is not uploaded.", versionPath);
                // A process started for this one upload would otherwise wait for ever.
                if (m_uploadMode)
                    endUploadMode();
                return;
            }
            if (!info.isEmpty() && m_infoWritten.value(folder) != info)
                writeProjectInfo(client, folder, info);
            if (compressed) {
                m_uploadFolders.insert(archive, transfer);
                client->uploadFile(name + QStringLiteral(".zip"), folder, archive);
            } else {
                client->uploadFile(name, folder, versionPath);
            }
        },
        false);
}

void QFDropboxSync::loadSyncedFileList(const QString &projectID)
{
    if (!isSyncOn())
        return;
    QFMainThread::run(
        [this, projectID] {
            if (QFSyncClient *client = syncClient())
                client->loadMetadata(qfFormat("/%@", projectID));
        },
        false);
}

void QFDropboxSync::downloadFile(const QString &remotePath, const QString &localPath)
{
    if (!isSyncOn())
        return;
    // Only a file of a project's folder: "/ID/NAME", each a single component.
    const QStringList parts = remotePath.split(u'/');
    QString why;
    if (parts.size() != 3 || !parts.at(0).isEmpty() || !remotePathInProject(parts.at(1), parts.at(2), &why)) {
        if (why.isEmpty())
            why = qfFormat("“%@” is not a file of a project's folder in Dropbox", printableName(remotePath));
        qfSystemLog(qfFormat("error downloading file: %@", why));
        QFMainThread::run([this, remotePath, why] { Q_EMIT fileDownloadFailed(remotePath, why); }, false);
        return;
    }
    QFMainThread::run(
        [this, remotePath, localPath] {
            if (QFSyncClient *client = syncClient())
                client->loadFile(remotePath, localPath);
        },
        false);
}

void QFDropboxSync::cancelDownload(const QString &remotePath)
{
    QFMainThread::run(
        [this, remotePath] {
            if (m_dropbox)
                m_dropbox->cancelFileLoad(remotePath);
            if (m_rclone)
                m_rclone->cancelFileLoad(remotePath);
        },
        false);
}

void QFDropboxSync::deleteRemotePaths(const QStringList &remotePaths)
{
    QList<QStringList> groups;
    for (const QString &path : remotePaths)
        groups.append({ path });
    deleteGroups(groups);
}

void QFDropboxSync::deleteRemoteCopies(const QStringList &localPaths)
{
    QList<QStringList> groups;
    for (const QString &path : localPaths) {
        if (QFileInfo(path).dir().dirName() == QLatin1String("Versions"))
            groups.append(remotePathsForVersion(path));
        else
            groups.append({ remotePathForProject(path) });
    }
    deleteGroups(groups);
}

void QFDropboxSync::deleteGroups(const QList<QStringList> &groups)
{
    if (!isSyncOn())
        return;
    QFMainThread::run(
        [this, groups] {
            QFSyncClient *client = syncClient();
            if (!client)
                return;
            for (const QStringList &paths : groups) {
                auto removal = std::make_shared<Removal>();
                for (const QString &path : paths)
                    removal->paths << QFDropboxClient::normalizedPath(path);
                for (const QString &path : std::as_const(removal->paths))
                    m_removals[removalKey(path)].append(removal);
                for (const QString &path : std::as_const(removal->paths))
                    client->deletePath(path);
            }
        },
        false);
}

void QFDropboxSync::onDeleteAnswered(const QString &remotePath, const QFDropboxError &error)
{
    const auto waiting = m_removals.find(removalKey(remotePath));
    if (waiting == m_removals.end() || waiting->isEmpty()) {
        // Asked for by nobody here (a client used directly): answered as it comes.
        if (error.isNull()) {
            post(QStringLiteral("QFProTombrelRemoveRemoteFile"), { { QStringLiteral("filename"), remotePath } },
                &QFDropboxSync::removeRemoteFile);
        } else {
            QFLog::appendLog("Failed to delete %@ file: %@",
                service() == Service::Rclone ? QStringLiteral("remote") : QStringLiteral("Dropbox"), error.description);
            post(QStringLiteral("QFProTombrelRemoveRemoteFileFailed"), errorInfo(error),
                &QFDropboxSync::removeRemoteFileFailed);
        }
        return;
    }
    const std::shared_ptr<Removal> removal = waiting->takeFirst();
    if (waiting->isEmpty())
        m_removals.erase(waiting);
    ++removal->answers;
    if (error.isNull())
        removal->deleted << removalKey(remotePath);
    else
        removal->failures << error;
    if (removal->answers < removal->paths.size())
        return;

    // One answer for the whole: the copy went, unless a deletion failed for another reason than that
    // nothing was at one of the paths (a version has its copy at one of them, not at all of them).
    const auto failed = std::find_if(
        removal->failures.cbegin(), removal->failures.cend(), [](const QFDropboxError &e) { return !isNotFound(e); });
    if (!removal->deleted.isEmpty() && failed == removal->failures.cend()) {
        QString first;
        for (const QString &path : std::as_const(removal->paths)) {
            if (removal->deleted.contains(removalKey(path))) {
                first = path;
                break;
            }
        }
        post(QStringLiteral("QFProTombrelRemoveRemoteFile"), { { QStringLiteral("filename"), first } },
            &QFDropboxSync::removeRemoteFile);
        return;
    }
    const QFDropboxError reported = failed != removal->failures.cend() ? *failed : removal->failures.first();
    QFLog::appendLog("Failed to delete %@ file: %@",
        service() == Service::Rclone ? QStringLiteral("remote") : QStringLiteral("Dropbox"), reported.description);
    post(QStringLiteral("QFProTombrelRemoveRemoteFileFailed"), errorInfo(reported),
        &QFDropboxSync::removeRemoteFileFailed);
}

// --- Answers ------------------------------------------------------------------------------------------

void QFDropboxSync::onLoadedMetadata(const QFDropboxMetadata &metadata)
{
    if (!metadata.isDirectory)
        return;
    // Versions in the order they were listed; one listed again as an archive moves to the archive's place.
    struct Listed {
        QString version;
        QString remoteName;
        qint64 size = 0;
        QDateTime date;
        bool replaced = false;
    };
    std::vector<Listed> listed;
    listed.reserve(size_t(metadata.contents.size()));
    QHash<QString, size_t> place;
    for (const QFDropboxEntry &entry : metadata.contents) {
        if (entry.isDirectory || entry.name == QFRemoteProjects::infoFileName())
            continue;
        // An archive "Cut.00005.fcp.zip" is listed under the version it holds; a version that went up
        // uncompressed is listed as itself.
        const bool archive = entry.name.endsWith(QLatin1String(".zip"), Qt::CaseInsensitive);
        const QString version = archive ? entry.name.chopped(4) : entry.name;
        if (!isRemoteName(entry.name) || !isVersionFileName(version)) {
            QFLog::appendLog("Dropbox lists “%@” in %@, which cannot be a version; it is left out.",
                printableName(entry.name), printableName(metadata.path));
            continue;
        }
        const auto seen = place.constFind(version);
        if (seen != place.constEnd()) {
            // A version both as an archive and as itself: the archive is what a restore takes.
            if (!archive)
                continue;
            listed[*seen].replaced = true;
        }
        place.insert(version, listed.size());
        listed.push_back({ version, entry.name, entry.totalBytes, entry.lastModifiedDate });
    }
    QStringList filenames;
    QStringList remoteNames;
    QVariantList sizes;
    QVariantList dates;
    for (const Listed &item : listed) {
        if (item.replaced)
            continue;
        filenames.append(item.version);
        remoteNames.append(item.remoteName);
        sizes.append(item.size);
        dates.append(item.date);
    }
    QVariantMap info;
    if (!filenames.isEmpty()) {
        info = { { QStringLiteral("filenames"), filenames }, { QStringLiteral("sizes"), sizes },
            { QStringLiteral("dates"), dates }, { QStringLiteral("remoteNames"), remoteNames } };
    }
    post(QStringLiteral("QFProTombrelSyncedFiles"), info, &QFDropboxSync::syncedFiles);
}

void QFDropboxSync::writeProjectInfo(QFSyncClient *client, const QString &remoteFolder, const QByteArray &info)
{
    auto transfer = std::make_shared<QFTransferFolder>();
    const QString local = transfer->isValid() ? transfer->filePath(QFRemoteProjects::infoFileName()) : QString();
    QFile file(local);
    if (local.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(info) != info.size() || !file.flush()) {
        QFLog::appendLog(
            "The description of %@ cannot be written for the remote: %@", remoteFolder, file.errorString());
        return;
    }
    file.close();
    m_infoUploads.insert(local, { transfer, remoteFolder, info });
    // Written once a process unless it changes; a failed write is tried with the next version.
    m_infoWritten.insert(remoteFolder, info);
    client->uploadFile(QFRemoteProjects::infoFileName(), remoteFolder, local);
}

bool QFDropboxSync::takeInfoUpload(const QString &srcPath, const QFDropboxError &error)
{
    const auto found = m_infoUploads.constFind(srcPath);
    if (found == m_infoUploads.cend())
        return false;
    if (!error.isNull()) {
        QFLog::appendLog("The description of %@ did not reach the remote: %@", found->remoteFolder, error.description);
        m_infoWritten.remove(found->remoteFolder);
    }
    m_infoUploads.erase(found);
    return true;
}

void QFDropboxSync::onUploadedFile(const QString &, const QString &srcPath)
{
    if (takeInfoUpload(srcPath, {}))
        return;
    qfSystemLog(QStringLiteral("upload complete"));
    // The archive's folder goes with it.
    m_uploadFolders.remove(srcPath);
    if (m_uploadMode) {
        endUploadMode();
        return;
    }
    post(QStringLiteral("QFProTombrelSyncComplete"), { { QStringLiteral("filename"), srcPath } },
        &QFDropboxSync::syncComplete);
}

void QFDropboxSync::onUploadProgress(double progress, const QString &srcPath)
{
    if (m_infoUploads.contains(srcPath))
        return;
    if (m_uploadMode) {
        QFLauncherEntry::setProgress(progress);
        return;
    }
    post(QStringLiteral("QFProTombrelUploadProgress"),
        { { QStringLiteral("filename"), srcPath }, { QStringLiteral("progress"), progress } },
        &QFDropboxSync::uploadProgress);
}

void QFDropboxSync::onUploadFailed(const QFDropboxError &error)
{
    if (takeInfoUpload(error.path, error))
        return;
    // The archive made for the upload is of no use any more.
    m_uploadFolders.remove(error.path);
    if (m_uploadMode) {
        failUploadInUploadMode(error);
        return;
    }
    post(QStringLiteral("QFProTombrelSyncFailed"), errorInfo(error), &QFDropboxSync::syncFailed);
}

QString QFDropboxSync::leadTextForError(const QFDropboxError &error)
{
    return service() == Service::Rclone ? QFRcloneClient::leadTextForError(error)
                                        : QFDropboxClient::leadTextForError(error);
}

bool QFDropboxSync::isVersionUpload(const QFDropboxError &error)
{
    return QFileInfo(error.path).fileName() != QFRemoteProjects::infoFileName();
}

QString QFDropboxSync::messageForError(const QFDropboxError &error)
{
    const QString lead = leadTextForError(error);
    return lead.isEmpty() ? error.description : lead + QStringLiteral("\n\n") + error.description;
}

void QFDropboxSync::failUploadInUploadMode(const QFDropboxError &error)
{
    const QString message = messageForError(error);
    if (service() == Service::Rclone)
        QFLog::appendLog("Upload to %@ failed: %@", syncRemote(), message);
    else
        QFLog::appendLog("Dropbox upload failed: %@", message);
    const QVariant last = QFPreferenceSnapshot::read().value(QStringLiteral("lastSyncError"));
    const QDateTime now = QFClock::now();
    if (!last.toDateTime().isValid() || last.toDateTime().secsTo(now) > kSyncErrorQuietSeconds) {
        QFPreferenceKeys::update({ { QStringLiteral("lastSyncError"), now } });
        const QString title = service() == Service::Rclone ? QStringLiteral("Upload to the remote failed")
                                                           : QStringLiteral("Dropbox upload failed");
        QFGrowl::sharedController()->postGrowlNotification(title, message, QString(), QStringLiteral("Backup failed"));
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
