#pragma once

// A client of one rclone remote ("NAME:path"), speaking to it through the rclone program as a child
// process: uploads, folder listings, downloads with progress, and deletions of files and of whole project
// folders. Remote paths are those of the Dropbox layout ("/ID/NAME.zip", "/ID"), taken below the remote's
// path, and each request ends in exactly one of the signals QFDropboxClient gives, with the same types, so
// the sync object can take either. Lives on the main thread.
//
// rclone reads the user's own configuration (rclone config, or the file RCLONE_CONFIG names); no credential
// passes through this class or its log lines. Writes (uploads, deletions) go one at a time in the order they
// were asked for; a write that fails for a reason that may pass (a lost connection, a stall) is tried once
// more after a pause. A transfer that makes no progress for the stall time is ended. An upload goes to a
// hidden name beside its file and is moved into place only once whole, so a cut upload never looks done.

#include "engine/QFSyncClient.h"

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class QFRcloneClient final : public QFSyncClient {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFRcloneClient)
public:
    // Failures only rclone gives, in the URL domain beside the URL-loading codes it shares: -1001 a stall or
    // time-out, -1005 a connection lost or never made, -1100 a local file to upload that is not there, -3003
    // a download that cannot be written. A refused login is HTTP 401, a full remote 507, a path that is not
    // there 409 ("not_found" in its description, as Dropbox says it).
    static constexpr int kRcloneMissing = -2000;
    static constexpr int kRemoteMissing = -2001;
    static constexpr int kRcloneFailed = -2002;
    static constexpr int kDefaultRetryPauseSeconds = 5;

    // The stall time is the preference dropboxTimeout (60 seconds when absent).
    explicit QFRcloneClient(const QString &remote, QObject *parent = nullptr);
    // Ends rclone processes still running; no signal follows.
    ~QFRcloneClient() override;

    QString remote() const { return m_remote; }
    void setStallSeconds(int seconds);
    int stallSeconds() const { return m_stallSeconds; }
    void setRetryPause(int seconds);

    // Whether a text names a configured-style remote "NAME:path": a name of letters, digits, "_", "-", ".",
    // "+", "@" and spaces (not starting with "-" or a space), a colon, then a path (empty for the remote's
    // root). Inline connection strings (":backend,option=…:") are refused, since they carry credentials.
    static bool isRemoteSpec(const QString &text, QString *error = nullptr);
    // The rclone location of a remote path: "NAME:path" + "/ID/NAME.zip".
    QString location(const QString &remotePath) const;

    // Uploads the local file fromPath as filename into the remote folder toPath, replacing a file there.
    void uploadFile(const QString &filename, const QString &toPath, const QString &fromPath) override;
    // Lists a remote folder; sub-folders are entries with isDirectory set.
    void loadMetadata(const QString &path) override;
    // Loads the remote file into the local path; a failed or cancelled load leaves nothing there.
    void loadFile(const QString &path, const QString &intoPath) override;
    // Stops loading that remote path; no signal follows.
    void cancelFileLoad(const QString &path) override;
    // Deletes a remote file ("/ID/NAME.zip"), or a project folder ("/ID", one component) with all it holds.
    // The remote's root is never deleted.
    void deletePath(const QString &path) override;
    // Work still under way or waiting its turn; 0 when the client is idle.
    int pendingRequests() const override;

    // The lead text of a failure for the user, or an empty string.
    static QString leadTextForError(const QFDropboxError &error);
    QString leadText(const QFDropboxError &error) const override { return leadTextForError(error); }

private:
    struct Run;
    struct Write;

    void start(const std::shared_ptr<Run> &run);
    void onOutput(const std::shared_ptr<Run> &run);
    void onFinished(const std::shared_ptr<Run> &run, int exitCode, bool crashed);
    QFDropboxError failureOf(const Run &run, int exitCode) const;

    void enqueueWrite(const std::shared_ptr<Write> &write);
    void startNextWrite();
    void runWriteStep(const std::shared_ptr<Write> &write);
    void endWrite(const std::shared_ptr<Write> &write, const QFDropboxError &error);

    QString m_remote;
    int m_stallSeconds = 60;
    int m_retryPauseSeconds = kDefaultRetryPauseSeconds;
    QList<std::shared_ptr<Run>> m_runs;
    QList<std::shared_ptr<Write>> m_writes;
    std::shared_ptr<Write> m_currentWrite;
};
