#include "engine/QFDropboxClient.h"

#include "foundation/QFLog.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QPointer>
#include <QSslError>
#include <QTimeZone>
#include <QTimer>

#include <algorithm>

namespace {

// A window of a file read as a device of its own, so that a request streams that part of the file from
// disk instead of holding it in memory.
class FileRegion final : public QIODevice {
public:
    FileRegion(const QString &path, qint64 offset, qint64 length, QObject *parent)
        : QIODevice(parent)
        , m_file(path)
        , m_offset(offset)
        , m_length(length)
    {
    }

    bool openRegion()
    {
        return m_file.open(QIODevice::ReadOnly) && m_file.seek(m_offset) && open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_length; }
    bool seek(qint64 pos) override { return pos <= m_length && QIODevice::seek(pos) && m_file.seek(m_offset + pos); }
    bool atEnd() const override { return pos() >= m_length; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 count = std::min(maxSize, m_length - pos());
        return count <= 0 ? 0 : m_file.read(data, count);
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QFile m_file;
    qint64 m_offset;
    qint64 m_length;
};

// HTTP headers carry ASCII only: JSON arguments escape everything else as \uXXXX.
QByteArray headerJson(const QJsonObject &object)
{
    const QString text = QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    QByteArray out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() < 0x80)
            out.append(char(c.unicode()));
        else
            out.append(QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toLatin1());
    }
    return out;
}

QString urlErrorDescription(int code)
{
    switch (code) {
    case -999:
        return QStringLiteral("The request was cancelled.");
    case -1001:
        return QStringLiteral("The request timed out.");
    case -1003:
        return QStringLiteral("A server with the specified hostname could not be found.");
    case -1004:
        return QStringLiteral("Could not connect to the server.");
    case -1005:
        return QStringLiteral("The network connection was lost.");
    case -1009:
        return QStringLiteral("The Internet connection appears to be offline.");
    case -1013:
        return QStringLiteral("User authentication required.");
    case -1100:
        return QStringLiteral("The requested file does not exist.");
    case -1200:
        return QStringLiteral("A TLS error caused the secure connection to fail.");
    case -1201:
    case -1202:
    case -1203:
    case -1204:
        return QStringLiteral("The certificate for this server is invalid.");
    default:
        return QStringLiteral("An unknown network error occurred.");
    }
}

int urlCodeForSslErrors(const QList<QSslError> &errors)
{
    for (const QSslError &error : errors) {
        switch (error.error()) {
        case QSslError::CertificateExpired:
            return -1201;
        case QSslError::CertificateNotYetValid:
            return -1204;
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToGetIssuerCertificate:
            return -1203;
        default:
            break;
        }
    }
    return errors.isEmpty() ? 0 : -1202;
}

int urlCodeForNetworkError(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::TimeoutError:
        return -1001;
    case QNetworkReply::HostNotFoundError:
        return -1003;
    case QNetworkReply::ConnectionRefusedError:
        return -1004;
    case QNetworkReply::RemoteHostClosedError:
        return -1005;
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::BackgroundRequestNotAllowedError:
        return -1009;
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return -1013;
    case QNetworkReply::SslHandshakeFailedError:
        return -1200;
    case QNetworkReply::OperationCanceledError:
        return -999;
    default:
        return -1;
    }
}

QDateTime dateFromAPI(const QJsonValue &value)
{
    QDateTime date = QDateTime::fromString(value.toString(), Qt::ISODate);
    date.setTimeSpec(Qt::UTC);
    return date;
}

} // namespace

QFDropboxError QFDropboxError::url(int code, const QString &path)
{
    return { Domain::URL, code, urlErrorDescription(code), path };
}

QFDropboxError QFDropboxError::http(int status, const QString &description, const QString &path)
{
    return { Domain::HTTP, status, description, path };
}

// One request of the API, re-sent as it stands after a refreshed token or a wait.
struct QFDropboxClient::Call {
    bool content = false;
    QString endpoint;
    QByteArray arg;
    QByteArray jsonBody;
    QString bodyFile;
    qint64 bodyOffset = 0;
    qint64 bodyLength = 0;
    QString downloadTo;
    QString loadKey;
    QString errorPath;
    std::function<void(qint64 done, qint64 total)> progress;
    std::function<void(const QFDropboxError &error, const QByteArray &body)> done;
    bool retriedAuth = false;
    bool retriedBusy = false;

    QPointer<QNetworkReply> reply;
    std::unique_ptr<QFile> sink;
    QTimer *timer = nullptr;
    bool timedOut = false;
    bool cancelled = false;
    int sslCode = 0;
};

struct QFDropboxClient::Upload {
    QString source;
    QString dest;
    qint64 size = 0;
    qint64 offset = 0;
    QString session;
};

struct QFDropboxClient::Listing {
    QFDropboxMetadata metadata;
};

QFDropboxClient::QFDropboxClient(QFDropboxAccount *account, QObject *parent)
    : QObject(parent)
    , m_account(account)
{
}

QFDropboxClient::~QFDropboxClient()
{
    // Answers that arrive after the client is gone reach no one.
    const auto calls = m_calls;
    for (const std::shared_ptr<Call> &call : calls) {
        call->cancelled = true;
        if (call->reply)
            call->reply->abort();
    }
}

int QFDropboxClient::pendingRequests() const
{
    return int(m_calls.size());
}

QString QFDropboxClient::normalizedPath(const QString &path)
{
    QString out = path;
    while (out.contains(QStringLiteral("//")))
        out.replace(QStringLiteral("//"), QStringLiteral("/"));
    while (out.endsWith(u'/'))
        out.chop(1);
    if (!out.isEmpty() && !out.startsWith(u'/'))
        out.prepend(u'/');
    return out;
}

QString QFDropboxClient::leadTextForError(const QFDropboxError &error)
{
    if (error.domain == QFDropboxError::Domain::URL) {
        switch (error.code) {
        case -1001:
            return QStringLiteral("Timed out. Please try again.");
        case -1009:
            return QStringLiteral("You are not connected to the internet.");
        case -1003:
            return QStringLiteral("Cannot find host. Please check your network connection.");
        case -1005:
            return QStringLiteral("The network connection was interrupted.");
        case -1013:
            return QStringLiteral("Authentication required - please reauthorize Dropbox.");
        case -1200:
            return QStringLiteral("Secure connection failed - please reauthorize Dropbox.");
        case -1201:
        case -1202:
        case -1203:
        case -1204:
            return QStringLiteral("There was an error with the server certificate - please reauthorize Dropbox.");
        default:
            break;
        }
    }
    const int code = error.code;
    if (code == 507)
        return QStringLiteral("Dropbox disk quota exceeded.");
    if (code == 503)
        return QStringLiteral("App requests limited - please try again later.");
    if (code == 401 || code == 403)
        return QStringLiteral("Authentication error - please reauthorize Dropbox.");
    if (code >= 500 && code <= 599)
        return QStringLiteral("Server error - please try again later.");
    return {};
}

// --- Sending ------------------------------------------------------------------------------------------

void QFDropboxClient::refreshThenDispatch()
{
    if (m_refreshing)
        return;
    m_refreshing = true;
    m_account->refreshAccessToken([this](bool ok, int status, const QString &error) {
        m_refreshing = false;
        const auto waiting = std::exchange(m_waitingForToken, {});
        for (const std::shared_ptr<Call> &call : waiting) {
            if (call->cancelled)
                continue;
            if (ok)
                dispatch(call);
            else if (status == 0)
                complete(call, QFDropboxError::url(urlCodeForNetworkError(QNetworkReply::NetworkError(error.toInt())), call->errorPath), {});
            else
                complete(call, QFDropboxError::http(status, error, call->errorPath), {});
        }
    });
}

void QFDropboxClient::dispatch(const std::shared_ptr<Call> &call)
{
    if (!m_calls.contains(call))
        m_calls.append(call);
    if (m_account->accessToken().isEmpty()) {
        m_waitingForToken.append(call);
        refreshThenDispatch();
        return;
    }
    call->timedOut = false;
    call->sslCode = 0;
    QNetworkRequest request(m_account->endpoint(call->content, call->endpoint));
    request.setRawHeader("Authorization", "Bearer " + m_account->accessToken().toUtf8());
    if (call->content) {
        request.setRawHeader("Dropbox-API-Arg", call->arg);
        request.setHeader(QNetworkRequest::ContentTypeHeader,
            call->downloadTo.isEmpty() ? QStringLiteral("application/octet-stream") : QStringLiteral("text/plain; charset=dropbox-cors-hack"));
    } else {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    }

    if (!call->downloadTo.isEmpty()) {
        call->sink = std::make_unique<QFile>(call->downloadTo);
        if (!call->sink->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            call->sink.reset();
            complete(call, QFDropboxError::url(-1100, call->downloadTo), {});
            return;
        }
    }

    QNetworkReply *reply = nullptr;
    if (!call->bodyFile.isEmpty() && call->bodyLength > 0) {
        auto *region = new FileRegion(call->bodyFile, call->bodyOffset, call->bodyLength, nullptr);
        if (!region->openRegion()) {
            delete region;
            complete(call, QFDropboxError::url(-1100, call->errorPath), {});
            return;
        }
        request.setHeader(QNetworkRequest::ContentLengthHeader, call->bodyLength);
        request.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
        reply = m_account->network()->post(request, region);
        region->setParent(reply);
    } else {
        reply = m_account->network()->post(request, call->content ? QByteArray() : call->jsonBody);
    }
    call->reply = reply;

    if (!call->downloadTo.isEmpty()) {
        connect(reply, &QNetworkReply::readyRead, this, [this, call, reply] {
            // Only a successful answer is the file; an error's text is read at the end.
            if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200 && call->sink)
                call->sink->write(reply->readAll());
        });
    }

    delete call->timer;
    call->timer = new QTimer(this);
    call->timer->setSingleShot(true);
    call->timer->setInterval(m_account->config().timeoutSeconds * 1000);
    connect(call->timer, &QTimer::timeout, this, [call] {
        call->timedOut = true;
        if (call->reply)
            call->reply->abort();
    });
    call->timer->start();
    auto progress = [call](qint64 done, qint64 total) {
        if (call->timer)
            call->timer->start();
        if (call->progress && total > 0)
            call->progress(done, total);
    };
    connect(reply, &QNetworkReply::uploadProgress, this, progress);
    connect(reply, &QNetworkReply::downloadProgress, this, progress);
    connect(reply, &QNetworkReply::sslErrors, this, [call](const QList<QSslError> &errors) { call->sslCode = urlCodeForSslErrors(errors); });
    connect(reply, &QNetworkReply::finished, this, [this, call, reply] { finish(call, reply); });
}

void QFDropboxClient::finish(const std::shared_ptr<Call> &call, QNetworkReply *reply)
{
    reply->deleteLater();
    if (call->reply == reply)
        call->reply = nullptr;
    if (call->timer) {
        call->timer->deleteLater();
        call->timer = nullptr;
    }
    if (call->cancelled) {
        m_calls.removeAll(call);
        return;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    QByteArray body = reply->isOpen() ? reply->readAll() : QByteArray();
    if (call->sink) {
        if (status == 200) {
            call->sink->write(body);
            body.clear();
        }
        call->sink->close();
        call->sink.reset();
    }

    if (call->timedOut) {
        complete(call, QFDropboxError::url(-1001, call->errorPath), {});
        return;
    }
    if (status == 0) {
        int code = call->sslCode ? call->sslCode : urlCodeForNetworkError(reply->error());
        QFDropboxError error = QFDropboxError::url(code, call->errorPath);
        if (code == -1)
            error.description = reply->errorString();
        complete(call, error, {});
        return;
    }
    if (status == 401 && !call->retriedAuth) {
        // The access token expired (or was revoked): a fresh one, then the same request once more.
        call->retriedAuth = true;
        m_account->clearAccessToken();
        dispatch(call);
        return;
    }
    if ((status == 429 || status == 503) && !call->retriedBusy) {
        call->retriedBusy = true;
        bool ok = false;
        const int seconds = reply->rawHeader("Retry-After").trimmed().toInt(&ok);
        const int wait = std::clamp(ok ? seconds : 1, 0, 600);
        QFLog::appendLog("Dropbox asks to wait %i seconds before trying again.", wait);
        QTimer::singleShot(wait * 1000, this, [this, call] {
            if (!call->cancelled)
                dispatch(call);
        });
        return;
    }
    if (status >= 200 && status < 300) {
        complete(call, {}, body);
        return;
    }
    const QJsonObject answer = QJsonDocument::fromJson(body).object();
    QString summary = answer.value(QStringLiteral("error_summary")).toString();
    if (summary.isEmpty())
        summary = QString::fromUtf8(body.left(300)).trimmed();
    if (summary.isEmpty())
        summary = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    if (summary.isEmpty())
        summary = QStringLiteral("HTTP %1").arg(status);
    // A full Dropbox is reported on the path of the upload, not with the quota status.
    const int code = summary.contains(QStringLiteral("insufficient_space")) ? 507 : status;
    complete(call, QFDropboxError::http(code, summary, call->errorPath), body);
}

void QFDropboxClient::complete(const std::shared_ptr<Call> &call, const QFDropboxError &error, const QByteArray &body)
{
    m_calls.removeAll(call);
    m_waitingForToken.removeAll(call);
    if (!error.isNull() && !call->downloadTo.isEmpty())
        QFile::remove(call->downloadTo);
    if (call->done)
        call->done(error, body);
}

// --- Operations ---------------------------------------------------------------------------------------

void QFDropboxClient::uploadFile(const QString &filename, const QString &toPath, const QString &fromPath)
{
    auto upload = std::make_shared<Upload>();
    upload->source = fromPath;
    upload->dest = normalizedPath(toPath + u'/' + filename);
    const QFileInfo info(fromPath);
    if (!info.isFile()) {
        QTimer::singleShot(0, this, [this, fromPath] { Q_EMIT uploadFileFailed(QFDropboxError::url(-1100, fromPath)); });
        return;
    }
    upload->size = info.size();
    uploadNextPart(upload);
}

void QFDropboxClient::uploadNextPart(const std::shared_ptr<Upload> &upload)
{
    const QJsonObject commit { { QStringLiteral("path"), upload->dest }, { QStringLiteral("mode"), QStringLiteral("overwrite") },
        { QStringLiteral("autorename"), false }, { QStringLiteral("mute"), true } };
    auto call = std::make_shared<Call>();
    call->content = true;
    call->bodyFile = upload->source;
    call->errorPath = upload->source;
    call->bodyOffset = upload->offset;
    call->progress = [this, upload](qint64 done, qint64) {
        if (upload->size > 0)
            Q_EMIT uploadProgress(double(upload->offset + done) / double(upload->size), upload->dest, upload->source);
    };

    const bool single = upload->size <= kSingleUploadLimit;
    const qint64 remaining = upload->size - upload->offset;
    const bool last = single || remaining <= kSessionChunk;
    call->bodyLength = single ? upload->size : std::min(remaining, kSessionChunk);
    const QJsonObject cursor { { QStringLiteral("session_id"), upload->session }, { QStringLiteral("offset"), double(upload->offset) } };
    if (single) {
        call->endpoint = QStringLiteral("/2/files/upload");
        call->arg = headerJson(commit);
    } else if (upload->session.isEmpty()) {
        call->endpoint = QStringLiteral("/2/files/upload_session/start");
        call->arg = headerJson({ { QStringLiteral("close"), false } });
    } else if (!last) {
        call->endpoint = QStringLiteral("/2/files/upload_session/append_v2");
        call->arg = headerJson({ { QStringLiteral("cursor"), cursor }, { QStringLiteral("close"), false } });
    } else {
        call->endpoint = QStringLiteral("/2/files/upload_session/finish");
        call->arg = headerJson({ { QStringLiteral("cursor"), cursor }, { QStringLiteral("commit"), commit } });
    }
    const bool starting = !single && upload->session.isEmpty();
    call->done = [this, upload, last, starting, length = call->bodyLength](const QFDropboxError &error, const QByteArray &body) {
        if (!error.isNull()) {
            Q_EMIT uploadFileFailed(error);
            return;
        }
        if (starting)
            upload->session = QJsonDocument::fromJson(body).object().value(QStringLiteral("session_id")).toString();
        upload->offset += length;
        if (last && !starting) {
            Q_EMIT uploadProgress(1.0, upload->dest, upload->source);
            Q_EMIT uploadedFile(upload->dest, upload->source);
            return;
        }
        if (starting && upload->session.isEmpty()) {
            Q_EMIT uploadFileFailed(QFDropboxError::http(500, QStringLiteral("Dropbox started no upload session."), upload->source));
            return;
        }
        uploadNextPart(upload);
    };
    dispatch(call);
}

void QFDropboxClient::loadMetadata(const QString &path)
{
    auto listing = std::make_shared<Listing>();
    listing->metadata.path = normalizedPath(path);
    listPage(listing, QString());
}

void QFDropboxClient::listPage(const std::shared_ptr<Listing> &listing, const QString &cursor)
{
    auto call = std::make_shared<Call>();
    call->errorPath = listing->metadata.path;
    if (cursor.isEmpty()) {
        call->endpoint = QStringLiteral("/2/files/list_folder");
        call->jsonBody = QJsonDocument(QJsonObject { { QStringLiteral("path"), listing->metadata.path },
                                           { QStringLiteral("recursive"), false }, { QStringLiteral("include_deleted"), false } })
                             .toJson(QJsonDocument::Compact);
    } else {
        call->endpoint = QStringLiteral("/2/files/list_folder/continue");
        call->jsonBody = QJsonDocument(QJsonObject { { QStringLiteral("cursor"), cursor } }).toJson(QJsonDocument::Compact);
    }
    call->done = [this, listing](const QFDropboxError &error, const QByteArray &body) {
        if (!error.isNull()) {
            Q_EMIT loadMetadataFailed(error);
            return;
        }
        const QJsonObject answer = QJsonDocument::fromJson(body).object();
        for (const QJsonValue &value : answer.value(QStringLiteral("entries")).toArray()) {
            const QJsonObject entry = value.toObject();
            QFDropboxEntry item;
            item.name = entry.value(QStringLiteral("name")).toString();
            item.path = entry.value(QStringLiteral("path_display")).toString();
            item.isDirectory = entry.value(QStringLiteral(".tag")).toString() == QLatin1String("folder");
            item.totalBytes = qint64(entry.value(QStringLiteral("size")).toDouble());
            item.lastModifiedDate = dateFromAPI(entry.value(QStringLiteral("server_modified")));
            listing->metadata.contents.append(item);
        }
        const QString next = answer.value(QStringLiteral("cursor")).toString();
        if (answer.value(QStringLiteral("has_more")).toBool() && !next.isEmpty()) {
            listPage(listing, next);
            return;
        }
        Q_EMIT loadedMetadata(listing->metadata);
    };
    dispatch(call);
}

void QFDropboxClient::loadFile(const QString &path, const QString &intoPath)
{
    auto call = std::make_shared<Call>();
    call->content = true;
    call->endpoint = QStringLiteral("/2/files/download");
    call->arg = headerJson({ { QStringLiteral("path"), normalizedPath(path) } });
    call->downloadTo = intoPath;
    call->loadKey = normalizedPath(path);
    call->errorPath = normalizedPath(path);
    call->progress = [this, intoPath](qint64 done, qint64 total) { Q_EMIT loadProgress(double(done) / double(total), intoPath); };
    call->done = [this, intoPath](const QFDropboxError &error, const QByteArray &) {
        if (!error.isNull())
            Q_EMIT loadFileFailed(error);
        else
            Q_EMIT loadedFile(intoPath);
    };
    dispatch(call);
}

void QFDropboxClient::cancelFileLoad(const QString &path)
{
    const QString key = normalizedPath(path);
    const auto calls = m_calls;
    for (const std::shared_ptr<Call> &call : calls) {
        if (call->loadKey != key)
            continue;
        call->cancelled = true;
        m_calls.removeAll(call);
        m_waitingForToken.removeAll(call);
        if (call->reply)
            call->reply->abort();
        if (call->sink)
            call->sink->close();
        QFile::remove(call->downloadTo);
    }
}

void QFDropboxClient::deletePath(const QString &path)
{
    auto call = std::make_shared<Call>();
    const QString remote = normalizedPath(path);
    call->endpoint = QStringLiteral("/2/files/delete_v2");
    call->jsonBody = QJsonDocument(QJsonObject { { QStringLiteral("path"), remote } }).toJson(QJsonDocument::Compact);
    call->errorPath = remote;
    call->done = [this, remote](const QFDropboxError &error, const QByteArray &) {
        if (!error.isNull())
            Q_EMIT deletePathFailed(error);
        else
            Q_EMIT deletedPath(remote);
    };
    dispatch(call);
}
