#pragma once

// The engine's side of sync: one object a process, living on the main thread. The preference syncService
// chooses the store: 1 Dropbox (the account link, the session, and its client), 2 the rclone remote the
// preference syncRemote names (a QFRcloneClient; each project folder there also holds Project.plist with the
// project's name and path, see QFRemoteProjects). It turns versions into remote paths ("/ID/NAME.zip"),
// answers the client's results, and announces each of them twice: as its own signal and as the notification
// of the same name ("QFProTombrelSyncedFiles" …) on the program's notification centre. A listing names only
// files that can be versions of the project, under the version each holds ("filenames"), with the remote
// file holding it ("remoteNames": the archive, or the version itself when it went up uncompressed). The
// operations may be called from any thread. Only programs that hold the account call them; others hand
// their work to the application ("-upload", "-removeRemote").

#include "engine/QFDropboxClient.h"
#include "engine/QFSyncClient.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

class QFPreferenceSnapshot;
class QFRcloneClient;
class QFTransferFolder;

class QFDropboxSync final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFDropboxSync)
public:
    static QFDropboxSync *shared();

    enum class Service { None, Dropbox, Rclone };
    // The store the preference file chooses: syncService 1 Dropbox, 2 the rclone remote syncRemote; none
    // otherwise. Every question of whether sync is on, and to where, is answered from here.
    static Service service();
    // The same from preferences already read.
    static Service serviceOf(const QFPreferenceSnapshot &preferences);
    // Whether sync is on (to either store).
    static bool isSyncOn();
    // Whether sync is on and its store can be used without asking the user anything: a Dropbox account is
    // linked, or syncRemote names a remote (NAME:path). why: what is missing, as a line for the user.
    static bool isReady(QString *why = nullptr);
    // The preference syncRemote as it stands.
    static QString syncRemote();
    // The store as the user's texts name it: "Dropbox", or the remote "NAME:path".
    static QString storeName();
    // The project identifier of a version file: its project folder's name without extension.
    static QString projectIDForVersion(const QString &versionPath);
    // The version file whose copy goes to Dropbox for a file of a "Versions" folder: the ".fcp" for the XML
    // copy beside it (which the window lists in its place), else the file itself.
    static QString syncedVersionFile(const QString &versionPath);
    // "/ID/NAME.zip" of a version file.
    static QString remotePathForVersion(const QString &versionPath);
    // Every remote path that may hold the copy of a version: the archive "/ID/NAME.zip" and the file itself
    // "/ID/NAME" (uploaded so when compressing failed), of syncedVersionFile. An XML copy whose ".fcp" is
    // gone already (removed with it) may stand for either, so both versions' paths are given.
    static QStringList remotePathsForVersion(const QString &versionPath);
    // "/ID" of a project folder.
    static QString remotePathForProject(const QString &projectFolder);

    // Whether a name from Dropbox can be one file of a project's folder there: a single path component
    // (no slash or backslash, not "." or ".."), no control characters, at most 255 bytes. Checked before a request
    // or a local path is made from it.
    static bool isRemoteName(const QString &name, QString *error = nullptr);
    // Whether a name can be a version file of a project ("Cut.00005.fcp", "Edit.00007").
    static bool isVersionFileName(const QString &name);
    // "/ID/NAME" of a file of a project's folder, or nothing (with the reason) when either is no remote name.
    static std::optional<QString> remotePathInProject(
        const QString &projectID, const QString &remoteName, QString *error = nullptr);
    // A name as it may be shown on a terminal, in a log or an alert: characters that are not printable as
    // "<U+XXXX>", and at most 300 of them.
    static QString printableName(const QString &name);

    // The account link, made on first use; reading its state never touches the network.
    QFDropboxAccount *account();
    // The client, or none while no account is linked. Main thread only.
    QFDropboxClient *restClient();
    // Forgets the clients (and the session's cached tokens); the next restClient() makes both anew.
    void removeRestClient();
    // The client of the store syncService chooses, or none while sync is off, no Dropbox account is linked or
    // syncRemote names no remote. The rclone client follows a changed syncRemote once it is idle. Main thread.
    QFSyncClient *syncClient();
    // A client of its own of the chosen store for work whose answers must not pass through this object
    // (listing the store's projects), owned by parent; none (with the reason) as for syncClient. Main thread.
    QFSyncClient *newClient(QObject *parent, QString *why = nullptr);

    // Compresses the version file into a transfer folder of its own and uploads the archive into the
    // project's folder (the file itself when compressing fails); the folder goes when the upload ends.
    // Nothing while sync is off or no account is linked.
    void uploadVersion(const QString &versionPath);
    void loadSyncedFileList(const QString &projectID);
    void downloadFile(const QString &remotePath, const QString &localPath);
    void cancelDownload(const QString &remotePath);
    // Deletes remote files or folders; every path is answered by removeRemoteFile or removeRemoteFileFailed.
    void deleteRemotePaths(const QStringList &remotePaths);
    // Deletes the remote copies of local version files (every path of remotePathsForVersion) and the remote
    // folders of project folders; each local path is answered once: removeRemoteFile when a copy went (or
    // the folder), removeRemoteFileFailed when none was there or a deletion failed.
    void deleteRemoteCopies(const QStringList &localPaths);

    // Upload mode: the process exists for one upload. Progress goes to the launcher badge, a failure to the
    // log and (at most every 30 minutes) to the user, and the end of the upload calls quit.
    void setUploadMode(bool uploadMode, std::function<void()> quit);
    bool isUploadMode() const { return m_uploadMode; }

    // The text a failed upload gives the user: the lead text, two line breaks, the description.
    static QString messageForError(const QFDropboxError &error);
    // The lead text of a failure of the chosen store's client, or an empty string.
    static QString leadTextForError(const QFDropboxError &error);
    // Whether a failed upload of the client was that of a version (or its archive), not of the project's
    // description that goes up beside it (whose failure is only logged).
    static bool isVersionUpload(const QFDropboxError &error);

Q_SIGNALS:
    void syncedFiles(const QVariantMap &userInfo);
    void metadataError(const QVariantMap &userInfo);
    void syncComplete(const QVariantMap &userInfo);
    void uploadProgress(const QVariantMap &userInfo);
    void syncFailed(const QVariantMap &userInfo);
    void removeRemoteFile(const QVariantMap &userInfo);
    void removeRemoteFileFailed(const QVariantMap &userInfo);
    void fileDownloaded(const QVariantMap &userInfo);
    void fileDownloadProgress(const QVariantMap &userInfo);
    // A download that failed or was refused (no notification goes with it).
    void fileDownloadFailed(const QString &remotePath, const QString &reason);

private:
    explicit QFDropboxSync(QObject *parent);

    void connectClient(QFSyncClient *client);
    // Puts the project's description (QFRemoteProjects) into its remote folder, ahead of the version.
    void writeProjectInfo(QFSyncClient *client, const QString &remoteFolder, const QByteArray &info);
    // Whether an upload's answer is that of a description (then taken here, a failure logged).
    bool takeInfoUpload(const QString &srcPath, const QFDropboxError &error);
    void post(const QString &name, const QVariantMap &userInfo, void (QFDropboxSync::*signal)(const QVariantMap &));
    void onLoadedMetadata(const QFDropboxMetadata &metadata);
    void onUploadedFile(const QString &destPath, const QString &srcPath);
    void onUploadProgress(double progress, const QString &srcPath);
    void onUploadFailed(const QFDropboxError &error);
    void failUploadInUploadMode(const QFDropboxError &error);
    void endUploadMode();
    void deleteGroups(const QList<QStringList> &groups);
    void onDeleteAnswered(const QString &remotePath, const QFDropboxError &error);

    // The deletions asked for together, answered together.
    struct Removal {
        QStringList paths;
        QStringList deleted;
        QList<QFDropboxError> failures;
        int answers = 0;
    };

    QFDropboxAccount *m_account = nullptr;
    QFDropboxClient *m_client = nullptr;
    QFSyncClient *m_dropbox = nullptr;
    QFRcloneClient *m_rclone = nullptr;
    bool m_uploadMode = false;
    std::function<void()> m_quit;
    // The folders of the uploads under way, by the archive they hold.
    QHash<QString, std::shared_ptr<QFTransferFolder>> m_uploadFolders;
    // The project descriptions going up, by their local file, with the remote folder and contents of each;
    // and the contents each remote folder was last given by this process.
    struct InfoUpload {
        std::shared_ptr<QFTransferFolder> folder;
        QString remoteFolder;
        QByteArray contents;
    };
    QHash<QString, InfoUpload> m_infoUploads;
    QHash<QString, QByteArray> m_infoWritten;
    // The removals waiting for an answer, by the remote path asked for.
    QHash<QString, QList<std::shared_ptr<Removal>>> m_removals;
};
