#include "engine/QFDropboxClient.h"
#include "engine/QFDropboxClientPrivate.h"

#include "foundation/QFLog.h"

#include <QElapsedTimer>
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
#include <limits>

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
        return m_file.open(QIODevice::ReadOnly) && m_file.seek(m_offset)
            && open(QIODevice::ReadOnly | QIODevice::Unbuffered);
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
    case -3003:
        return QStringLiteral("The downloaded file could not be written.");
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

} // namespace

QFDropboxError QFDropboxError::url(int code, const QString &path)
{
    return { Domain::URL, code, urlErrorDescription(code), path };
}

QFDropboxError QFDropboxError::http(int status, const QString &description, const QString &path)
{
    return { Domain::HTTP, status, description, path };
}

// --- Sending support ---------------------------------------------------------------------------------

namespace {

// Seconds the service asked to wait (the Retry-After header, else the error's retry_after), or -1.
int askedWait(QNetworkReply *reply, const QJsonObject &answer)
{
    bool ok = false;
    const int header = reply->rawHeader("Retry-After").trimmed().toInt(&ok);
    if (ok)
        return std::max(0, header);
    const QJsonValue inBody = answer.value(QStringLiteral("error")).toObject().value(QStringLiteral("retry_after"));
    if (inBody.isDouble())
        return std::max(0, inBody.toInt());
    return -1;
}

// Failures of the connection itself (as opposed to an answer's status).
bool isNetworkFailure(QNetworkReply::NetworkError error)
{
    return error != QNetworkReply::NoError && int(error) < int(QNetworkReply::ProxyConnectionRefusedError);
}

} // namespace

QFDropboxClient::QFDropboxClient(QFDropboxAccount *account, QObject *parent)
    : QFDropboxClient(account, nullptr, parent)
{
}

QFDropboxClient::QFDropboxClient(QFDropboxAccount *account, QNetworkAccessManager *network, QObject *parent)
    : QObject(parent)
    , m_account(account)
    , m_network(network ? network : account->network())
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
    return int(m_calls.size() + m_writes.size()) + (m_writing ? 1 : 0);
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
    // The service limits an app's requests with 429 as much as with 503.
    if (code == 503 || code == 429)
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
                complete(call,
                    QFDropboxError::url(
                        urlCodeForNetworkError(QNetworkReply::NetworkError(error.toInt())), call->errorPath),
                    {});
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
    call->sinkFailed = false;
    call->sslCode = 0;
    call->received = 0;
    call->hasher = std::make_unique<QFDropboxContentHasher>();
    QNetworkRequest request(m_account->endpoint(call->content, call->endpoint));
    request.setRawHeader("Authorization", "Bearer " + m_account->accessToken().toUtf8());
    if (call->content) {
        request.setRawHeader("Dropbox-API-Arg", call->arg);
        request.setHeader(QNetworkRequest::ContentTypeHeader,
            call->downloadTo.isEmpty() ? QStringLiteral("application/octet-stream")
                                       : QStringLiteral("text/plain; charset=dropbox-cors-hack"));
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
        reply = m_network->post(request, region);
        region->setParent(reply);
    } else {
        reply = m_network->post(request, call->content ? QByteArray() : call->jsonBody);
    }
    call->reply = reply;

    if (!call->downloadTo.isEmpty()) {
        connect(reply, &QNetworkReply::readyRead, this, [call, reply] {
            // Only a successful answer is the file; an error's text is read at the end.
            if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200 || !call->sink
                || call->sinkFailed)
                return;
            const QByteArray data = reply->readAll();
            call->received += data.size();
            call->hasher->addData(data);
            if (call->sink->write(data) != data.size()) {
                call->sinkFailed = true;
                reply->abort();
            }
        });
        // The size the answer announces sets the download's deadline.
        connect(reply, &QNetworkReply::metaDataChanged, this, [this, call, reply] {
            bool ok = false;
            const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&ok);
            if (ok && length > 0)
                armDeadline(call, length);
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
    call->sent.start();
    call->deadlineBytes = -1;
    armDeadline(call, call->bodyLength);

    auto progress = [call](qint64 done, qint64 total) {
        if (call->timer)
            call->timer->start();
        if (call->progress && total > 0)
            call->progress(done, total);
    };
    // An upload's progress is its body going out; what comes back is only the answer's metadata.
    if (call->downloadTo.isEmpty())
        connect(reply, &QNetworkReply::uploadProgress, this, progress);
    else
        connect(reply, &QNetworkReply::downloadProgress, this, progress);
    // Either way, bytes moving keep the request from timing out for inactivity.
    connect(reply, call->downloadTo.isEmpty() ? &QNetworkReply::downloadProgress : &QNetworkReply::uploadProgress, this,
        [call] {
            if (call->timer)
                call->timer->start();
        });
    connect(reply, &QNetworkReply::sslErrors, this,
        [call](const QList<QSslError> &errors) { call->sslCode = urlCodeForSslErrors(errors); });
    connect(reply, &QNetworkReply::finished, this, [this, call, reply] { finish(call, reply); });
}

// A request of N bytes ends within the inactivity time-out plus N at the slowest rate allowed: a server
// that trickles a byte at a time does not hold it for ever.
void QFDropboxClient::armDeadline(const std::shared_ptr<Call> &call, qint64 bytes)
{
    if (bytes <= call->deadlineBytes)
        return;
    call->deadlineBytes = std::max<qint64>(0, bytes);
    const qint64 seconds = m_account->config().timeoutSeconds + call->deadlineBytes / kSlowestBytesPerSecond;
    const qint64 left = seconds * 1000 - call->sent.elapsed();
    if (!call->deadline) {
        call->deadline = new QTimer(this);
        call->deadline->setSingleShot(true);
        connect(call->deadline, &QTimer::timeout, this, [this, call] {
            QFLog::appendLog("The Dropbox request about %@ did not end within %lli seconds; it is given up.",
                call->errorPath, m_account->config().timeoutSeconds + call->deadlineBytes / kSlowestBytesPerSecond);
            call->timedOut = true;
            if (call->reply)
                call->reply->abort();
        });
    }
    call->deadline->start(int(std::clamp<qint64>(left, 0, std::numeric_limits<int>::max())));
}

void QFDropboxClient::finish(const std::shared_ptr<Call> &call, QNetworkReply *reply)
{
    reply->deleteLater();
    if (call->reply == reply)
        call->reply = nullptr;
    for (QTimer **timer : { &call->timer, &call->deadline }) {
        if (*timer) {
            (*timer)->stop();
            (*timer)->deleteLater();
            *timer = nullptr;
        }
    }
    if (call->cancelled) {
        m_calls.removeAll(call);
        return;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    QByteArray body = reply->isOpen() ? reply->readAll() : QByteArray();
    if (call->sink) {
        if (status == 200 && !call->sinkFailed && !body.isEmpty()) {
            call->received += body.size();
            call->hasher->addData(body);
            if (call->sink->write(body) != body.size())
                call->sinkFailed = true;
            body.clear();
        }
        if (!call->sink->flush())
            call->sinkFailed = true;
        call->sink->close();
        call->sink.reset();
    }

    if (call->timedOut) {
        complete(call, QFDropboxError::url(-1001, call->errorPath), {});
        return;
    }
    if (call->sinkFailed) {
        QFLog::appendLog("Unable to write the download of %@ to %@.", call->errorPath, call->downloadTo);
        complete(call, QFDropboxError::url(-3003, call->downloadTo), {});
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
    if (status >= 200 && status < 300) {
        // A status line says nothing about whether the rest of the answer arrived.
        QFDropboxError error;
        if (!call->downloadTo.isEmpty())
            error = checkDownload(call, reply);
        else if (isNetworkFailure(reply->error()))
            error = QFDropboxError::url(-1005, call->errorPath);
        complete(call, error, error.isNull() ? body : QByteArray());
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
    // Writes that overlap others in the account are refused (409 or 429) until the others are done.
    const bool contended = summary.contains(QStringLiteral("too_many_write_operations"));
    const int asked = askedWait(reply, answer);
    // A wait longer than the transfer may still wait is not waited: the request fails at once, saying so.
    int refusedWait = -1;
    if (contended && call->writeRetries < kWriteContentionRetries) {
        const int pause = std::max(asked, 1 << call->writeRetries);
        ++call->writeRetries;
        if (retryLater(call, pause, asked >= 0))
            return;
        refusedWait = pause;
    } else if (!contended && (status == 429 || status == 503) && !call->retriedBusy) {
        call->retriedBusy = true;
        const int wait = asked >= 0 ? asked : 1;
        if (retryLater(call, wait, true))
            return;
        refusedWait = wait;
    }
    if (refusedWait >= 0)
        summary += QStringLiteral(" (Dropbox asked to wait %1 seconds.)").arg(refusedWait);
    // A full Dropbox is reported on the path of the upload, not with the quota status.
    int code = status;
    if (summary.contains(QStringLiteral("insufficient_space")))
        code = 507;
    else if (contended)
        code = 429;
    complete(call, QFDropboxError::http(code, summary, call->errorPath), body);
}

// Sends the call again in that many seconds, unless that would take its transfer past the longest wait
// allowed (false: the caller fails it now).
bool QFDropboxClient::retryLater(const std::shared_ptr<Call> &call, int seconds, bool askedByService)
{
    Budget &budget = *call->budget;
    if (budget.waitedSeconds + qint64(seconds) > kMaximumWaitSeconds) {
        QFLog::appendLog(
            "Dropbox asks to wait %i seconds, more than the %i seconds left to wait for %@; it is given up.", seconds,
            kMaximumWaitSeconds - budget.waitedSeconds, call->errorPath);
        return false;
    }
    budget.waitedSeconds += seconds;
    if (askedByService)
        QFLog::appendLog("Dropbox asks to wait %i seconds before trying again.", seconds);
    else
        QFLog::appendLog("Dropbox refused a write while others were under way; trying again in %i seconds.", seconds);
    Q_EMIT waitingToRetry(seconds, call->errorPath);
    QTimer::singleShot(seconds * 1000, this, [this, call] {
        if (!call->cancelled)
            dispatch(call);
    });
    return true;
}

// Whether a download that ended with success holds the whole file the service meant to send.
QFDropboxError QFDropboxClient::checkDownload(const std::shared_ptr<Call> &call, QNetworkReply *reply)
{
    const QFDropboxError lost = QFDropboxError::url(-1005, call->errorPath);
    if (isNetworkFailure(reply->error())) {
        QFLog::appendLog(
            "The download of %@ broke off after %lli bytes: %@", call->errorPath, call->received, reply->errorString());
        return lost;
    }
    // A compressed answer announces the length of what was sent, not of what it unpacks to.
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    bool announced = false;
    const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&announced);
    if (announced && (encoding.isEmpty() || encoding == "identity") && call->received != length) {
        QFLog::appendLog("The download of %@ ended after %lli of %lli bytes.", call->errorPath, call->received, length);
        return lost;
    }
    const QJsonObject result = QJsonDocument::fromJson(reply->rawHeader("Dropbox-API-Result")).object();
    const QJsonValue size = result.value(QStringLiteral("size"));
    if (size.isDouble() && qint64(size.toDouble()) != call->received) {
        QFLog::appendLog("The download of %@ holds %lli bytes, not the %lli of the file.", call->errorPath,
            call->received, qint64(size.toDouble()));
        return lost;
    }
    QString expected = result.value(QStringLiteral("content_hash")).toString();
    if (expected.isEmpty())
        expected = m_listedHashes.value(call->loadKey.toLower());
    if (!expected.isEmpty() && expected.compare(call->hasher->result(), Qt::CaseInsensitive) != 0) {
        QFLog::appendLog("The download of %@ does not match its content hash.", call->errorPath);
        return lost;
    }
    return {};
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
