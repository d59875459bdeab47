#pragma once

// A client of the Dropbox HTTP API v2 for one linked account: uploads (one request up to 150 MB, upload
// sessions above, streamed from disk), folder listings over every page, downloads streamed to disk and
// checked against what the service announced, and deletions (many at once through one batch). Each request
// ends in exactly one of its signals, success or failure, with progress signals between. Lives on the main
// thread.
//
// Writes (uploads, deletions) go one at a time, in the order they were asked for: the service refuses
// writes that overlap in one account ("too_many_write_operations"), and such a refusal is tried again after
// a growing pause. Expired access tokens are refreshed and the request sent once more; another 429 or 503
// answer waits its Retry-After seconds before one more try. The waits of one transfer are capped in total,
// and every request has a deadline from its size besides its inactivity time-out.

#include "engine/QFDropboxAccount.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QJsonArray;
class QNetworkAccessManager;
class QNetworkReply;

// Why a request failed. Network failures carry the URL-loading codes (-1001 timed out, -1009 offline …);
// answers of the server carry their HTTP status (an exhausted quota as 507 whatever status carried it, a write
// still refused for overlapping writes after its retries as 429).
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
    // The service's hash of the content (see QFDropboxContentHasher); empty when it gave none.
    QString contentHash;
};

struct QFDropboxMetadata {
    QString path;
    bool isDirectory = true;
    QList<QFDropboxEntry> contents;
};

// The service's content hash: SHA-256 of each 4 MiB block, then SHA-256 of those digests one after another,
// in lower-case hex.
class QFDropboxContentHasher final {
public:
    static constexpr qint64 kBlockSize = 4LL * 1024 * 1024;

    void addData(QByteArrayView data);
    QString result();
    static QString hashOfFile(const QString &path);

private:
    QCryptographicHash m_block { QCryptographicHash::Sha256 };
    QCryptographicHash m_overall { QCryptographicHash::Sha256 };
    qint64 m_inBlock = 0;
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
    // The most one transfer waits in all when the service asks it to wait.
    static constexpr int kMaximumWaitSeconds = 90;
    // The slowest rate a transfer is allowed on average, above its inactivity time-out: a request of N bytes
    // must end within that time-out plus N at this rate.
    static constexpr qint64 kSlowestBytesPerSecond = 32LL * 1024;
    // How often a write refused for overlapping writes is tried again, the pause doubling from one second.
    static constexpr int kWriteContentionRetries = 5;
    // The most paths one deletion batch holds.
    static constexpr int kDeleteBatchLimit = 1000;

    explicit QFDropboxClient(QFDropboxAccount *account, QObject *parent = nullptr);
    // Sends the requests through network rather than the account's own manager; the caller owns it and keeps
    // it for the client's life.
    QFDropboxClient(QFDropboxAccount *account, QNetworkAccessManager *network, QObject *parent = nullptr);
    ~QFDropboxClient() override;

    // Uploads the local file fromPath as filename into the remote folder toPath, replacing a file there.
    void uploadFile(const QString &filename, const QString &toPath, const QString &fromPath);
    void loadMetadata(const QString &path);
    // Loads the remote file into the local path; a failed or cancelled load leaves nothing there. A load
    // counts only when every byte the answer announced arrived and, where the answer or an earlier listing
    // gave the content's hash, that hash matches; otherwise it fails as a lost connection (-1005).
    void loadFile(const QString &path, const QString &intoPath);
    // Stops loading that remote path; no signal follows.
    void cancelFileLoad(const QString &path);
    // Deletes a remote file or folder. Deletions asked for while the client is busy writing, or in one
    // turn of the event loop, go together through one batch; each path is answered on its own.
    void deletePath(const QString &path);
    // Work still under way or waiting its turn; 0 when the client is idle.
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
    // The service asked a request about path (a remote path, or the local file of an upload) to wait, or
    // refused an overlapping write: it is sent again in that many seconds.
    void waitingToRetry(int seconds, const QString &path);

private:
    struct Call;
    struct Budget;
    struct Upload;
    struct Listing;
    struct Deletion;

    void refreshThenDispatch();
    void dispatch(const std::shared_ptr<Call> &call);
    void armDeadline(const std::shared_ptr<Call> &call, qint64 bytes);
    void finish(const std::shared_ptr<Call> &call, QNetworkReply *reply);
    bool retryLater(const std::shared_ptr<Call> &call, int seconds, bool askedByService);
    QFDropboxError checkDownload(const std::shared_ptr<Call> &call, QNetworkReply *reply);
    void complete(const std::shared_ptr<Call> &call, const QFDropboxError &error, const QByteArray &body);

    void enqueueWrite(std::function<void()> start);
    void endWrite();
    void startNextWrite();

    void uploadNextPart(const std::shared_ptr<Upload> &upload);
    void listPage(const std::shared_ptr<Listing> &listing, const QString &cursor);
    void deleteNext(const std::shared_ptr<Deletion> &deletion);
    void deleteOne(const std::shared_ptr<Deletion> &deletion, const QString &path);
    void deleteBatch(const std::shared_ptr<Deletion> &deletion, const QStringList &paths);
    void checkBatch(
        const std::shared_ptr<Deletion> &deletion, const QStringList &paths, const QString &jobID, int polls);
    void batchAnswered(const std::shared_ptr<Deletion> &deletion, const QStringList &paths, const QJsonArray &entries);
    void failBatch(const std::shared_ptr<Deletion> &deletion, const QStringList &paths, const QFDropboxError &error);
    void answerOne(const std::shared_ptr<Deletion> &deletion, const QString &path, const QFDropboxError &error);

    QFDropboxAccount *m_account;
    QNetworkAccessManager *m_network;
    QList<std::shared_ptr<Call>> m_calls;
    // Requests waiting for a fresh access token.
    QList<std::shared_ptr<Call>> m_waitingForToken;
    bool m_refreshing = false;

    // Writes waiting their turn, and whether one is under way.
    QList<std::function<void()>> m_writes;
    bool m_writing = false;
    bool m_writeStartQueued = false;
    // The deletion batch still taking paths: queued last among the writes and not started yet.
    std::shared_ptr<Deletion> m_openDeletion;
    // The content hashes listings gave, by lower-cased remote path.
    QHash<QString, QString> m_listedHashes;
};
