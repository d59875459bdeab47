#pragma once

// What the sync object asks of a remote store, whichever service holds it: uploads, folder listings,
// downloads with progress and deletions, on the layout "/ID/NAME.zip" below the store's root. Each request
// ends in exactly one of the signals, success or failure, with progress signals between; the signals and
// their types are those of the Dropbox client. Lives on the main thread.
//
// QFRcloneClient is one; QFDropboxSyncClient puts the Dropbox client behind the same face.

#include "engine/QFDropboxClient.h"

#include <QObject>
#include <QString>

class QFSyncClient : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFSyncClient)
public:
    using QObject::QObject;
    ~QFSyncClient() override = default;

    // Uploads the local file fromPath as filename into the remote folder toPath, replacing a file there.
    virtual void uploadFile(const QString &filename, const QString &toPath, const QString &fromPath) = 0;
    // Lists a remote folder ("" or "/" for the root); sub-folders are entries with isDirectory set.
    virtual void loadMetadata(const QString &path) = 0;
    // Loads the remote file into the local path; a failed or cancelled load leaves nothing there.
    virtual void loadFile(const QString &path, const QString &intoPath) = 0;
    // Stops loading that remote path; no signal follows.
    virtual void cancelFileLoad(const QString &path) = 0;
    // Deletes a remote file, or a project folder with all it holds.
    virtual void deletePath(const QString &path) = 0;
    // Work still under way or waiting its turn; 0 when the client is idle.
    virtual int pendingRequests() const = 0;
    // The lead text of a failure of this client's for the user, or an empty string.
    virtual QString leadText(const QFDropboxError &error) const = 0;

Q_SIGNALS:
    void uploadedFile(const QString &destPath, const QString &srcPath);
    void uploadProgress(double progress, const QString &destPath, const QString &srcPath);
    void uploadFileFailed(const QFDropboxError &error);
    void loadedMetadata(const QFDropboxMetadata &metadata);
    void loadMetadataFailed(const QFDropboxError &error);
    void deletedPath(const QString &path);
    void deletePathFailed(const QFDropboxError &error);
    void loadedFile(const QString &destPath);
    void loadProgress(double progress, const QString &destPath);
    void loadFileFailed(const QFDropboxError &error);
    // A request about path (a remote path, or the local file of an upload) is sent again in that many
    // seconds.
    void waitingToRetry(int seconds, const QString &path);
};

// The Dropbox client as a sync client: requests pass to it, its signals come back as these. Does not own
// the client.
class QFDropboxSyncClient final : public QFSyncClient {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFDropboxSyncClient)
public:
    explicit QFDropboxSyncClient(QFDropboxClient *client, QObject *parent = nullptr);

    QFDropboxClient *dropboxClient() const { return m_client; }

    void uploadFile(const QString &filename, const QString &toPath, const QString &fromPath) override;
    void loadMetadata(const QString &path) override;
    void loadFile(const QString &path, const QString &intoPath) override;
    void cancelFileLoad(const QString &path) override;
    void deletePath(const QString &path) override;
    int pendingRequests() const override;
    QString leadText(const QFDropboxError &error) const override;

private:
    QFDropboxClient *m_client;
};
