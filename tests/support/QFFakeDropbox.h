#pragma once

// A stand-in for the Dropbox HTTP API v2 on 127.0.0.1, for tests and benchmarks. One port answers the API
// host, the content host and the authorization page. It runs in the event loop of the thread that created
// it (usually the one of the client under test) and never blocks it: request bodies go to files in the
// storage folder as they arrive and downloads are read from there as the socket drains, so transfers of
// any size take little memory.

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QJsonObject;
class QTcpServer;
class QTemporaryDir;

class QFFakeDropbox final : public QObject {
    Q_OBJECT

public:
    // One request as it was received, logged once it has been answered (status 0: dropped or never
    // answered).
    struct Request {
        QByteArray method;
        QString path; // without the query, e.g. "/2/files/upload"
        QMap<QByteArray, QByteArray> headers; // lower-cased names
        QByteArray arg; // the Dropbox-API-Arg header (or "arg" query item), else the body when under 64 KiB
        qint64 bodySize = 0;
        int status = 0;
    };

    // File contents go to `storageDir` (created when missing), else to a temporary folder removed with
    // the fake.
    explicit QFFakeDropbox(QObject *parent = nullptr);
    explicit QFFakeDropbox(const QString &storageDir, QObject *parent = nullptr);
    ~QFFakeDropbox() override;
    Q_DISABLE_COPY_MOVE(QFFakeDropbox)

    // Listens on 127.0.0.1 (any free port when `port` is 0).
    bool listen(quint16 port = 0);
    QString baseUrl() const; // "http://127.0.0.1:PORT"
    quint16 port() const;

    // The most entries one list_folder page holds (1000 by default).
    void setPageSize(int entries);
    int pageSize() const { return m_pageSize; }
    // The piece of a download written each time the socket has drained (256 KiB by default).
    void setDownloadChunkSize(qint64 bytes);
    // The largest body one upload, upload_session/start, append_v2 or finish call takes (150 MiB, as the
    // real service); larger bodies are read to the end and refused.
    void setUploadRequestLimit(qint64 bytes);

    // Tokens that authorize requests from now on; a random one when `token` is empty.
    QString addAccessToken(QString token = {});
    QString addRefreshToken(QString token = {});
    // Every access token issued so far is answered as expired; refresh tokens keep working.
    void expireAccessTokens();
    // The code shown by the latest authorization page (empty before the first).
    QString lastAuthorizationCode() const { return m_lastCode; }

    // The remote files, by path ("/x/cut.00005.fcp.zip"; compared without case). `modified` (default:
    // now) is both the client and the server modification time.
    void putFile(const QString &path, const QByteArray &content, const QDateTime &modified = {});
    // A file of `size` zero bytes, made without writing them (sparse where the file system allows).
    void putLargeFile(const QString &path, qint64 size);
    bool hasFile(const QString &path) const;
    QByteArray fileContent(const QString &path) const; // read whole: for small files
    qint64 fileSize(const QString &path) const; // -1 when missing
    QStringList filePaths() const; // display paths, sorted
    // Listings show the file at `path` under `name`, one the service itself would never give (a hostile
    // remote: "../x.zip", a newline …); the file stays where it is.
    void listFileAs(const QString &path, const QString &name);

    // Faults for the next request to an endpoint path ("/2/files/upload"), queued per endpoint and used
    // once each. A failure answers with `status`, `body` and `headers` (e.g. 429 with Retry-After) once the
    // request body has been read; a stall reads the request and never answers, keeping the connection
    // open; a drop closes the connection as soon as the request headers have been read.
    void failNext(const QString &endpoint, int status, const QByteArray &body = {},
        const QList<QPair<QByteArray, QByteArray>> &headers = {});
    void stallNext(const QString &endpoint);
    void dropNext(const QString &endpoint);
    // Faults of the next answer's streamed file body (a download), queued with the others and used once:
    // cut closes the connection after `bytes` of the announced body; trickle sends `bytes` every
    // `intervalMs`; corrupt flips the body's first byte, so the content no longer matches its hash.
    void cutNext(const QString &endpoint, qint64 bytes);
    void trickleNext(const QString &endpoint, qint64 bytes, int intervalMs);
    void corruptNext(const QString &endpoint);

    // Writes (uploads, upload sessions, deletions): whether one that arrives while another is being
    // answered is refused with 429 too_many_write_operations, as the service does for one account; and the
    // most that were ever under way at once.
    void setRefuseOverlappingWrites(bool refuse) { m_refuseOverlappingWrites = refuse; }
    int mostWritesAtOnce() const { return m_mostWritesAtOnce; }
    // How often delete_batch/check answers "in_progress" before a batch is complete (1 by default).
    void setDeleteBatchPolls(int inProgressAnswers) { m_deleteBatchPolls = qMax(0, inProgressAnswers); }
    // The next batch deletion of `path` fails with the error tag (e.g. "too_many_write_operations").
    void failNextDeletionOf(const QString &path, const QString &tag);

    QList<Request> requests() const { return m_requests; }
    int requestCount(const QString &endpoint) const;
    void clearRequests() { m_requests.clear(); }

Q_SIGNALS:
    // After each answer has been handed to the socket in full (status 0 for drops and stalls).
    void requestHandled(const QString &path, int status);

private:
    class Connection;
    struct Exchange;
    struct Response;
    struct File {
        QString displayPath;
        qint64 size = 0;
        QString id;
        QString rev;
        QDateTime serverModified;
        QDateTime clientModified;
        QString blob; // the content's file in the storage folder
        QString listedName; // the name listings give, when not its own
        mutable QString contentHash; // worked out when first shown
    };
    struct Session {
        QString blob;
        qint64 size = 0;
        bool closed = false;
        bool busy = false; // a request is writing to it
    };
    struct Listing {
        QStringList paths; // lower-cased, in the order they are shown
        int limit = 0; // the most entries a page holds, as the client asked (0: the fake's page size)
    };
    struct Fault {
        enum class Kind { Fail, Stall, Drop, Cut, Trickle, Corrupt } kind = Kind::Fail;
        int status = 0;
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
        qint64 bytes = 0;
        int intervalMs = 0;
    };
    struct BatchJob {
        QList<QJsonObject> entries;
        int inProgressAnswers = 0;
    };
    struct AccessToken {
        bool expired = false;
        QString refreshToken; // the one it was issued from, if any
    };
    struct Grant {
        QString clientId;
        QString challenge;
        QString redirectUri;
        bool offline = false;
    };
    using PrepareFunction = void (QFFakeDropbox::*)(Exchange &);
    using AnswerFunction = Response (QFFakeDropbox::*)(Exchange &);
    struct Endpoint {
        PrepareFunction prepare = nullptr; // picks where the body goes (memory when none); may answer early
        AnswerFunction answer = nullptr;
        bool authorized = true;
        bool get = false;
        bool post = true;
    };

    void init(const QString &storageDir);
    void onNewConnection();

    // The life of one request: its headers are in, then its body.
    void beginExchange(Exchange &exchange);
    void endExchange(Connection &connection, Exchange &exchange);
    void logExchange(Exchange &exchange, int status);
    void abandonExchange(Exchange &exchange);

    // Where bodies go.
    void readSmallBody(Exchange &exchange);
    void readBodyInto(Exchange &exchange, const QString &file, qint64 limit);
    void discardBody(Exchange &exchange);
    bool closeBody(Exchange &exchange);

    // The endpoints.
    Response authorize(Exchange &exchange);
    Response token(Exchange &exchange);
    Response revoke(Exchange &exchange);
    Response listFolder(Exchange &exchange);
    Response listFolderContinue(Exchange &exchange);
    Response deleteEntry(Exchange &exchange);
    Response deleteBatch(Exchange &exchange);
    Response deleteBatchCheck(Exchange &exchange);
    // Removes a file or folder; its metadata, or nothing when there is none at `path`.
    std::optional<QJsonObject> removeEntry(const QString &path);
    void prepareUpload(Exchange &exchange);
    Response upload(Exchange &exchange);
    void prepareSessionStart(Exchange &exchange);
    Response sessionStart(Exchange &exchange);
    void prepareSessionAppend(Exchange &exchange);
    Response sessionAppend(Exchange &exchange);
    void prepareSessionFinish(Exchange &exchange);
    Response sessionFinish(Exchange &exchange);
    void prepareDownload(Exchange &exchange);
    Response download(Exchange &exchange);

    // Arguments and checks shared by endpoints.
    std::optional<Response> checkAuthorization(Exchange &exchange) const;
    std::optional<Response> readJsonArgument(Exchange &exchange);
    std::optional<Response> readHeaderArgument(Exchange &exchange);
    std::optional<Response> checkUploadContentType(const Exchange &exchange) const;
    QString apiName(const Exchange &exchange) const;

    // The remote tree.
    bool folderExists(const QString &lowerPath) const;
    QString folderId(const QString &lowerPath);
    QString folderDisplayPath(const QString &lowerPath) const;
    QJsonObject fileMetadata(const File &file) const;
    QJsonObject folderMetadata(const QString &lowerPath);
    QStringList folderEntries(const QString &lowerPath, bool recursive) const;
    Response listingPage(int listing, qsizetype from);
    // Moves a finished body (`blob`) to `path` as `mode` asks; the metadata, or the write error's reason.
    bool commitFile(const QString &path, const QJsonObject &commit, const QString &blob, qint64 size,
        QJsonObject *result, QString *errorSummary);
    File &storeFile(const QString &path, const QString &blob, qint64 size, const QDateTime &clientModified,
        const QDateTime &serverModified = {});
    void createFolders(const QString &displayPath);
    QString newBlobPath();

    QString issueAccessToken(const QString &refreshToken);

    std::unique_ptr<QTemporaryDir> m_temporaryStorage;
    QString m_storage;
    QTcpServer *m_server = nullptr;
    QSet<Connection *> m_connections;
    QHash<QString, Endpoint> m_endpoints;

    int m_pageSize = 1000;
    qint64 m_downloadChunkSize = 256 * 1024;
    qint64 m_uploadRequestLimit = 150 * 1024 * 1024;

    QHash<QString, AccessToken> m_accessTokens;
    QSet<QString> m_refreshTokens;
    QHash<QString, Grant> m_grants; // unused authorization codes
    QString m_lastCode;

    QMap<QString, File> m_files; // by lower-cased path
    QMap<QString, QString> m_folders; // explicit folders: lower-cased path → display path
    QHash<QString, QString> m_folderIds; // lower-cased path → id, given when first shown
    QHash<QString, Session> m_sessions;
    QMap<int, Listing> m_listings; // the latest ones, by number
    int m_lastListing = 0;
    QString m_cursorSalt; // tells this fake's cursors from others
    qint64 m_counter = 0;

    QHash<QString, QList<Fault>> m_faults;
    QList<Request> m_requests;

    bool m_refuseOverlappingWrites = false;
    int m_writesAtOnce = 0;
    int m_mostWritesAtOnce = 0;
    int m_deleteBatchPolls = 1;
    QHash<QString, BatchJob> m_batchJobs;
    QHash<QString, QString> m_deletionFaults; // lower-cased path → error tag
};
