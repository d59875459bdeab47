#pragma once

// The engine's side of Dropbox sync: one object a process, living on the main thread. It keeps the account
// link (the session) and the client, turns versions into remote paths ("/ID/NAME.zip" in the app folder),
// answers the client's results, and announces each of them twice: as its own signal and as the notification
// of the same name ("QFProTombrelSyncedFiles" …) on the program's notification centre. The operations may be
// called from any thread. Only programs that hold the account call them; others hand their work to the
// application ("-upload", "-removeRemote").

#include "engine/QFDropboxClient.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>

class QFDropboxSync final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFDropboxSync)
public:
    static QFDropboxSync *shared();

    // Whether the preference file turns Dropbox sync on (syncService 1).
    static bool isSyncOn();
    // The project identifier of a version file: its project folder's name without extension.
    static QString projectIDForVersion(const QString &versionPath);
    // "/ID/NAME.zip" of a version file.
    static QString remotePathForVersion(const QString &versionPath);
    // "/ID" of a project folder.
    static QString remotePathForProject(const QString &projectFolder);
    // Either of the two, by what the path names: a file of a "Versions" folder, or a project folder (the
    // helper hands both kinds to the application in one list).
    static QString remotePathForLocalPath(const QString &path);

    // The account link, made on first use; reading its state never touches the network.
    QFDropboxAccount *account();
    // The client, or none while no account is linked. Main thread only.
    QFDropboxClient *restClient();
    // Forgets the client (and the session's cached tokens); the next restClient() makes both anew.
    void removeRestClient();

    // Compresses the version file into the temporary folder and uploads the archive into the project's
    // folder (the file itself when compressing fails). Nothing while sync is off or no account is linked.
    void uploadVersion(const QString &versionPath);
    void loadSyncedFileList(const QString &projectID);
    void downloadFile(const QString &remotePath, const QString &localPath);
    void cancelDownload(const QString &remotePath);
    // Deletes remote files or folders; every path is answered by removeRemoteFile or removeRemoteFileFailed.
    void deleteRemotePaths(const QStringList &remotePaths);

    // Upload mode: the process exists for one upload. Progress goes to the launcher badge, a failure to the
    // log and (at most every 30 minutes) to the user, and the end of the upload calls quit.
    void setUploadMode(bool uploadMode, std::function<void()> quit);
    bool isUploadMode() const { return m_uploadMode; }

    // The text a failed upload gives the user: the lead text, two line breaks, the description.
    static QString messageForError(const QFDropboxError &error);

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

private:
    explicit QFDropboxSync(QObject *parent);

    void post(const QString &name, const QVariantMap &userInfo, void (QFDropboxSync::*signal)(const QVariantMap &));
    void onLoadedMetadata(const QFDropboxMetadata &metadata);
    void onUploadedFile(const QString &destPath, const QString &srcPath);
    void onUploadProgress(double progress, const QString &srcPath);
    void onUploadFailed(const QFDropboxError &error);
    void failUploadInUploadMode(const QFDropboxError &error);
    void endUploadMode();

    QFDropboxAccount *m_account = nullptr;
    QFDropboxClient *m_client = nullptr;
    bool m_uploadMode = false;
    std::function<void()> m_quit;
};
