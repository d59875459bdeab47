#pragma once

// A client of the Dropbox HTTP API v2 for one linked account: uploads (one request up to 150 MB, upload
// sessions above, streamed from disk), folder listings over every page, downloads streamed to disk, and
// deletions. Each request ends in exactly one of its signals, success or failure, with progress signals
// between. Lives on the main thread; expired access tokens are refreshed and the request sent once more, and
// a 429 or 503 answer waits its Retry-After seconds before one more try.

#include "engine/QFDropboxAccount.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QNetworkReply;

// Why a request failed. Network failures carry the URL-loading codes (-1001 timed out, -1009 offline …);
// answers of the server carry their HTTP status (an exhausted quota as 507 whatever status carried it).
struct QFDropboxError {
    enum class Domain { None, URL, HTTP };
    Domain domain = Domain::None;
    int code = 0;
    QString description;
    // The remote path, or for uploads and downloads the local file, the request was about.
    QString path;

    bool isNull() const { return domain == Domain::None; }
    static QFDropboxError url(int code, const QString &path = QString());
    static QFDropboxError http(int status, const QString &description, const QString &path = QString());
};

struct QFDropboxEntry {
    QString name;
    QString path;
    bool isDirectory = false;
    qint64 totalBytes = 0;
    QDateTime lastModifiedDate;
};

struct QFDropboxMetadata {
    QString path;
    bool isDirectory = true;
    QList<QFDropboxEntry> contents;
};

Q_DECLARE_METATYPE(QFDropboxError)
Q_DECLARE_METATYPE(QFDropboxMetadata)

class QFDropboxClient final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFDropboxClient)
public:
    // Above this size a file goes up through an upload session.
    static constexpr qint64 kSingleUploadLimit = 150LL * 1024 * 1024;
    static constexpr qint64 kSessionChunk = 32LL * 1024 * 1024;

    explicit QFDropboxClient(QFDropboxAccount *account, QObject *parent = nullptr);
    ~QFDropboxClient() override;

    // Uploads the local file fromPath as filename into the remote folder toPath, replacing a file there.
    void uploadFile(const QString &filename, const QString &toPath, const QString &fromPath);
    void loadMetadata(const QString &path);
    // Loads the remote file into the local path; a failed or cancelled load leaves nothing there.
    void loadFile(const QString &path, const QString &intoPath);
    // Stops loading that remote path; no signal follows.
    void cancelFileLoad(const QString &path);
    void deletePath(const QString &path);
    // How many requests are still to be answered.
    int pendingRequests() const;

    // The lead text of an upload failure for the user, or an empty string.
    static QString leadTextForError(const QFDropboxError &error);
    // "remote/path" for API paths: empty for the root, otherwise with one leading "/".
    static QString normalizedPath(const QString &path);

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

private:
    struct Call;
    struct Upload;
    struct Listing;

    void refreshThenDispatch();
    void dispatch(const std::shared_ptr<Call> &call);
    void finish(const std::shared_ptr<Call> &call, QNetworkReply *reply);
    void complete(const std::shared_ptr<Call> &call, const QFDropboxError &error, const QByteArray &body);

    void uploadNextPart(const std::shared_ptr<Upload> &upload);
    void listPage(const std::shared_ptr<Listing> &listing, const QString &cursor);

    QFDropboxAccount *m_account;
    QList<std::shared_ptr<Call>> m_calls;
    // Requests waiting for a fresh access token.
    QList<std::shared_ptr<Call>> m_waitingForToken;
    bool m_refreshing = false;
};
