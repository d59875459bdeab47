#include "tests/support/QFFakeDropbox.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>

namespace {

constexpr qint64 kHeadLimit = 64 * 1024;
constexpr qint64 kSmallBodyLimit = 1024 * 1024;
constexpr qint64 kLoggedBodyLimit = 64 * 1024;
constexpr qint64 kReadPiece = 256 * 1024;
constexpr int kExpiresIn = 14400;
constexpr int kListingsKept = 1000;
const QString kAccountId = QStringLiteral("dbid:AAA");
const QString kScope = QStringLiteral(
    "account_info.read files.content.read files.content.write files.metadata.read files.metadata.write");

QString randomToken(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    for (char &c : raw)
        c = char(QRandomGenerator::global()->bounded(256));
    return QString::fromLatin1(raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString timestamp(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODate);
}

// Seconds are the finest unit the service shows.
QDateTime wholeSeconds(const QDateTime &time)
{
    return QDateTime::fromSecsSinceEpoch(time.toSecsSinceEpoch(), Qt::UTC);
}

QByteArray compactJson(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// HTTP headers carry ASCII only: the service escapes every other character of a JSON header as \uXXXX.
QByteArray asciiJson(const QJsonObject &object)
{
    const QString text = QString::fromUtf8(compactJson(object));
    QByteArray out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() < 0x7f)
            out += char(c.unicode());
        else
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toLatin1();
    }
    return out;
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    case 507:
        return "Insufficient Storage";
    default:
        return "Status";
    }
}

// "" for the root, else "/…" without a trailing or doubled slash.
bool isWellFormed(const QString &path)
{
    return path.isEmpty() || (path.startsWith(u'/') && !path.endsWith(u'/') && !path.contains(QStringLiteral("//")));
}

QString parentOf(const QString &path)
{
    return path.left(qMax<qsizetype>(0, path.lastIndexOf(u'/')));
}

QString nameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

// "/a/cut.zip" → "/a/cut (2).zip", as the service renames on conflicts.
QString renamed(const QString &path, int attempt)
{
    const QString name = nameOf(path);
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    return parentOf(path) + u'/' + stem + QStringLiteral(" (%1)").arg(attempt) + extension;
}

QJsonObject tagged(const QString &tag)
{
    return QJsonObject { { QStringLiteral(".tag"), tag } };
}

// The service's content hash: SHA-256 of each 4 MiB block, then of those digests one after another.
QString contentHashOf(const QString &blob)
{
    constexpr qint64 kBlock = 4 * 1024 * 1024;
    QFile file(blob);
    QCryptographicHash overall(QCryptographicHash::Sha256);
    if (file.open(QIODevice::ReadOnly)) {
        while (!file.atEnd()) {
            const QByteArray block = file.read(kBlock);
            if (block.isEmpty())
                break;
            overall.addData(QCryptographicHash::hash(block, QCryptographicHash::Sha256));
        }
    }
    return QString::fromLatin1(overall.result().toHex());
}

} // namespace

// An answer: a body in memory, or the file whose content is streamed as the body.
struct QFFakeDropbox::Response {
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    QString file;
    qint64 fileSize = 0;
    // A fault of the file body: cut after `cutAfter` bytes (-1: never), sent `trickleBytes` at a time every
    // `trickleMs`, its first byte flipped.
    qint64 cutAfter = -1;
    qint64 trickleBytes = 0;
    int trickleMs = 0;
    bool corrupt = false;

    static Response json(const QJsonObject &object, int status = 200)
    {
        return { status, "application/json", compactJson(object), {}, {}, 0, -1, 0, 0, false };
    }
    static Response null() { return { 200, "application/json", "null", {}, {}, 0, -1, 0, 0, false }; }
    // The service's error answer: a summary to show and the structured error to decide on.
    static Response apiError(const QString &summary, const QJsonObject &error, int status = 409)
    {
        return json({ { QStringLiteral("error_summary"), summary }, { QStringLiteral("error"), error } }, status);
    }
    static Response text(int status, const QString &text)
    {
        return { status, "text/plain; charset=utf-8", text.toUtf8(), {}, {}, 0, -1, 0, 0, false };
    }
    static Response html(int status, const QString &html)
    {
        return { status, "text/html; charset=utf-8", html.toUtf8(), {}, {}, 0, -1, 0, 0, false };
    }
    static Response oauthError(const QString &error, const QString &description)
    {
        return json({ { QStringLiteral("error"), error }, { QStringLiteral("error_description"), description } }, 400);
    }
};

// One request on its way through the fake, and where its body goes.
struct QFFakeDropbox::Exchange {
    enum class Sink { Discard, Memory, File };

    Request request;
    QUrlQuery query;
    const Endpoint *endpoint = nullptr;
    QString token;
    QJsonObject arg;
    std::optional<Response> early; // decided before the body arrived, sent once it has
    bool stall = false;
    bool drop = false;
    std::optional<Fault> shape; // a fault of the answer's body
    bool countedWrite = false; // counted among the writes under way

    Sink sink = Sink::Discard;
    QByteArray memory;
    std::unique_ptr<QFile> file;
    qint64 startSize = 0; // the size of `file` before this body
    qint64 limit = -1;
    bool overflow = false;
    bool writeFailed = false;
    QString sessionId;

    void write(const QByteArray &data)
    {
        request.bodySize += data.size();
        if (sink == Sink::Discard || overflow || writeFailed)
            return;
        if (limit >= 0 && request.bodySize > limit) {
            // The rest is read and dropped; the endpoint refuses the request once it has all arrived.
            overflow = true;
            memory.clear();
            return;
        }
        if (sink == Sink::Memory)
            memory += data;
        else if (file->write(data) != data.size())
            writeFailed = true;
    }
};

// One client connection: reads requests (head, then a sized or chunked body) and writes the answers, one
// at a time, keeping the connection for the next request unless either side asked to close it.
class QFFakeDropbox::Connection final : public QObject {
public:
    Connection(QFFakeDropbox *fake, QTcpSocket *socket)
        : QObject(fake)
        , m_fake(fake)
        , m_socket(socket)
    {
        m_socket->setParent(this);
        // A bounded buffer lets TCP slow down a sender while an answer is being written.
        m_socket->setReadBufferSize(1024 * 1024);
        connect(m_socket, &QTcpSocket::readyRead, this, &Connection::process);
        connect(m_socket, &QTcpSocket::bytesWritten, this, &Connection::onSocketBytesWritten);
        connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
        m_fake->m_connections.insert(this);
    }

    ~Connection() override
    {
        if (m_exchange)
            m_fake->abandonExchange(*m_exchange);
        m_fake->m_connections.remove(this);
    }

    // Writes an answer; a file body follows as the socket drains.
    void send(Response response)
    {
        std::unique_ptr<QFile> download;
        if (!response.file.isEmpty()) {
            download = std::make_unique<QFile>(response.file);
            if (!download->open(QIODevice::ReadOnly))
                response = Response::text(500, QStringLiteral("The stored content cannot be read."));
        }
        m_status = response.status;
        const qint64 length = download ? response.fileSize : response.body.size();
        QByteArray head
            = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
        bool typed = false;
        for (const auto &[name, value] : std::as_const(response.headers)) {
            typed = typed || name.compare("content-type", Qt::CaseInsensitive) == 0;
            head += name + ": " + value + "\r\n";
        }
        if (!typed && !response.contentType.isEmpty())
            head += "Content-Type: " + response.contentType + "\r\n";
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
        if (!m_keepAlive)
            head += "Connection: close\r\n";
        m_socket->write(head + "\r\n");
        if (download) {
            m_download = std::move(download);
            m_downloadLeft = length;
            m_cutLeft = response.cutAfter;
            m_trickleBytes = response.trickleBytes;
            m_trickleMs = response.trickleMs;
            m_corrupt = response.corrupt;
            pumpDownload();
        } else {
            m_socket->write(response.body);
            finishAnswer();
        }
    }

    void stall()
    {
        m_state = State::Stalled;
        m_fake->logExchange(*m_exchange, 0);
    }

private:
    enum class State { Head, Body, ChunkSize, ChunkData, ChunkEnd, Trailer, Answering, Stalled, Closed };

    // Consumes whatever has arrived, one step of the request at a time.
    void process()
    {
        for (;;) {
            bool progressed = false;
            switch (m_state) {
            case State::Head:
                progressed = readHead();
                break;
            case State::Body:
            case State::ChunkSize:
            case State::ChunkData:
            case State::ChunkEnd:
            case State::Trailer:
                progressed = readBody();
                break;
            case State::Answering:
            case State::Stalled:
            case State::Closed:
                break;
            }
            if (!progressed)
                return;
        }
    }

    bool readHead()
    {
        while (m_socket->canReadLine()) {
            QByteArray line = m_socket->readLine();
            m_headSize += line.size();
            if (m_headSize > kHeadLimit) {
                refuse(431, "Request header fields too large");
                return false;
            }
            while (line.endsWith('\n') || line.endsWith('\r'))
                line.chop(1);
            if (m_head.isEmpty()) {
                // Blank lines before a request line are allowed.
                if (!line.isEmpty())
                    m_head << line;
                continue;
            }
            if (!line.isEmpty()) {
                m_head << line;
                continue;
            }
            return startExchange();
        }
        if (m_socket->bytesAvailable() + m_headSize > kHeadLimit)
            refuse(431, "Request header fields too large");
        return false;
    }

    // The head is complete: parse it, let the fake decide where the body goes, then read the body.
    bool startExchange()
    {
        const QList<QByteArray> requestLine = m_head.takeFirst().split(' ');
        if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/1.")) {
            refuse(400, "Malformed request line");
            return false;
        }
        auto exchange = std::make_unique<Exchange>();
        exchange->request.method = requestLine.at(0);
        const QUrl url = QUrl::fromEncoded(requestLine.at(1));
        exchange->request.path = url.path();
        exchange->query = QUrlQuery(url);
        for (const QByteArray &line : std::as_const(m_head)) {
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0) {
                refuse(400, "Malformed header line");
                return false;
            }
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            QByteArray &stored = exchange->request.headers[name];
            stored = stored.isEmpty() ? value : stored + ", " + value;
        }
        m_head.clear();
        m_headSize = 0;

        const QMap<QByteArray, QByteArray> &headers = exchange->request.headers;
        const QByteArray connection = headers.value("connection").toLower();
        m_keepAlive
            = requestLine.at(2) == "HTTP/1.1" ? !connection.contains("close") : connection.contains("keep-alive");
        if (headers.value("transfer-encoding").toLower().contains("chunked")) {
            m_state = State::ChunkSize;
        } else if (headers.contains("content-length")) {
            bool ok = false;
            m_remaining = headers.value("content-length").toLongLong(&ok);
            if (!ok || m_remaining < 0) {
                refuse(400, "Malformed Content-Length");
                return false;
            }
            m_state = State::Body;
        } else {
            m_remaining = 0;
            m_state = State::Body;
        }

        m_exchange = std::move(exchange);
        m_fake->beginExchange(*m_exchange);
        if (m_exchange->drop) {
            m_state = State::Closed;
            m_fake->logExchange(*m_exchange, 0);
            m_exchange.reset();
            m_socket->disconnectFromHost();
            return false;
        }
        if (headers.value("expect").toLower() == "100-continue")
            m_socket->write("HTTP/1.1 100 Continue\r\n\r\n");
        return true;
    }

    bool readBody()
    {
        switch (m_state) {
        case State::Body:
            if (m_remaining > 0 && !readData())
                return false;
            if (m_remaining > 0)
                return false;
            break;
        case State::ChunkSize: {
            if (!m_socket->canReadLine())
                return false;
            QByteArray line = m_socket->readLine();
            if (const qsizetype extension = line.indexOf(';'); extension >= 0)
                line.truncate(extension);
            bool ok = false;
            m_remaining = line.trimmed().toLongLong(&ok, 16);
            if (!ok || m_remaining < 0) {
                refuse(400, "Malformed chunk size");
                return false;
            }
            m_state = m_remaining > 0 ? State::ChunkData : State::Trailer;
            return true;
        }
        case State::ChunkData:
            if (!readData())
                return false;
            if (m_remaining == 0)
                m_state = State::ChunkEnd;
            return true;
        case State::ChunkEnd:
            if (!m_socket->canReadLine())
                return false;
            if (!m_socket->readLine().trimmed().isEmpty()) {
                refuse(400, "Malformed chunk end");
                return false;
            }
            m_state = State::ChunkSize;
            return true;
        case State::Trailer:
            if (!m_socket->canReadLine())
                return false;
            if (!m_socket->readLine().trimmed().isEmpty())
                return true;
            break;
        default:
            return false;
        }
        // The body is complete.
        m_state = State::Answering;
        m_fake->endExchange(*this, *m_exchange);
        return m_state == State::Head;
    }

    // Moves what has arrived of the current body (or chunk) to its destination.
    bool readData()
    {
        bool any = false;
        while (m_remaining > 0 && m_socket->bytesAvailable() > 0) {
            const QByteArray data = m_socket->read(qMin(m_remaining, kReadPiece));
            if (data.isEmpty())
                break;
            m_remaining -= data.size();
            m_exchange->write(data);
            any = true;
        }
        return any;
    }

    void onSocketBytesWritten()
    {
        if (!m_download)
            return;
        pumpDownload();
        if (m_state == State::Head)
            process();
    }

    // Keeps about one piece of the file in the socket's buffer until all of it has gone.
    void pumpDownload()
    {
        // A trickled body moves on its timer alone.
        if (m_trickleBytes > 0 && m_trickleWaiting)
            return;
        const qint64 piece = m_trickleBytes > 0 ? m_trickleBytes : qMax<qint64>(1, m_fake->m_downloadChunkSize);
        while (m_download && m_socket->bytesToWrite() < piece) {
            if (m_downloadLeft == 0) {
                m_download.reset();
                finishAnswer();
                return;
            }
            if (m_cutLeft == 0) {
                // The connection breaks before the announced length.
                m_download.reset();
                const std::unique_ptr<Exchange> exchange = std::move(m_exchange);
                m_state = State::Closed;
                m_socket->disconnectFromHost();
                m_fake->logExchange(*exchange, m_status);
                return;
            }
            qint64 want = qMin(piece, m_downloadLeft);
            if (m_cutLeft > 0)
                want = qMin(want, m_cutLeft);
            QByteArray data = m_download->read(want);
            if (data.isEmpty()) {
                // The content shrank under the answer: it cannot be completed.
                m_download.reset();
                m_state = State::Closed;
                m_socket->abort();
                return;
            }
            m_downloadLeft -= data.size();
            if (m_cutLeft > 0)
                m_cutLeft -= data.size();
            if (m_corrupt) {
                data[0] = char(data.at(0) ^ 0xff);
                m_corrupt = false;
            }
            m_socket->write(data);
            if (m_trickleBytes > 0 && m_downloadLeft > 0 && m_cutLeft != 0) {
                m_trickleWaiting = true;
                QTimer::singleShot(m_trickleMs, this, [this] {
                    m_trickleWaiting = false;
                    pumpDownload();
                });
                return;
            }
        }
    }

    void finishAnswer()
    {
        const std::unique_ptr<Exchange> exchange = std::move(m_exchange);
        if (m_keepAlive) {
            m_state = State::Head;
        } else {
            m_state = State::Closed;
            m_socket->disconnectFromHost();
        }
        m_fake->logExchange(*exchange, m_status);
    }

    // A request that cannot be read on: a last answer, then the connection closes.
    void refuse(int status, const QByteArray &text)
    {
        m_state = State::Closed;
        m_socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status)
            + "\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(text.size())
            + "\r\nConnection: close\r\n\r\n" + text);
        m_socket->disconnectFromHost();
    }

    QFFakeDropbox *m_fake;
    QTcpSocket *m_socket;
    State m_state = State::Head;
    QList<QByteArray> m_head;
    qint64 m_headSize = 0;
    qint64 m_remaining = 0;
    bool m_keepAlive = true;
    std::unique_ptr<Exchange> m_exchange;
    int m_status = 0;
    std::unique_ptr<QFile> m_download;
    qint64 m_downloadLeft = 0;
    qint64 m_cutLeft = -1;
    qint64 m_trickleBytes = 0;
    int m_trickleMs = 0;
    bool m_trickleWaiting = false;
    bool m_corrupt = false;
};

QFFakeDropbox::QFFakeDropbox(QObject *parent)
    : QObject(parent)
{
    m_temporaryStorage = std::make_unique<QTemporaryDir>();
    init(m_temporaryStorage->path());
}

QFFakeDropbox::QFFakeDropbox(const QString &storageDir, QObject *parent)
    : QObject(parent)
{
    QDir().mkpath(storageDir);
    init(QDir(storageDir).absolutePath());
}

QFFakeDropbox::~QFFakeDropbox()
{
    // Connections clean up after unfinished requests, which needs the state still here.
    const QSet<Connection *> connections = m_connections;
    qDeleteAll(connections);
}

void QFFakeDropbox::init(const QString &storageDir)
{
    m_storage = storageDir;
    m_cursorSalt = randomToken(6);
    m_server = new QTcpServer(this);
    connect(m_server, &QTcpServer::newConnection, this, &QFFakeDropbox::onNewConnection);

    using F = QFFakeDropbox;
    m_endpoints = {
        { QStringLiteral("/oauth2/authorize"), { &F::discardBody, &F::authorize, false, true, false } },
        { QStringLiteral("/oauth2/token"), { nullptr, &F::token, false } },
        { QStringLiteral("/2/auth/token/revoke"), { nullptr, &F::revoke } },
        { QStringLiteral("/2/files/list_folder"), { nullptr, &F::listFolder } },
        { QStringLiteral("/2/files/list_folder/continue"), { nullptr, &F::listFolderContinue } },
        { QStringLiteral("/2/files/delete_v2"), { nullptr, &F::deleteEntry } },
        { QStringLiteral("/2/files/delete_batch"), { nullptr, &F::deleteBatch } },
        { QStringLiteral("/2/files/delete_batch/check"), { nullptr, &F::deleteBatchCheck } },
        { QStringLiteral("/2/files/upload"), { &F::prepareUpload, &F::upload } },
        { QStringLiteral("/2/files/upload_session/start"), { &F::prepareSessionStart, &F::sessionStart } },
        { QStringLiteral("/2/files/upload_session/append_v2"), { &F::prepareSessionAppend, &F::sessionAppend } },
        { QStringLiteral("/2/files/upload_session/finish"), { &F::prepareSessionFinish, &F::sessionFinish } },
        { QStringLiteral("/2/files/download"), { &F::prepareDownload, &F::download, true, true, true } },
    };
}

bool QFFakeDropbox::listen(quint16 port)
{
    return m_server->listen(QHostAddress::LocalHost, port);
}

QString QFFakeDropbox::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

quint16 QFFakeDropbox::port() const
{
    return m_server->serverPort();
}

void QFFakeDropbox::setPageSize(int entries)
{
    m_pageSize = qMax(1, entries);
}

void QFFakeDropbox::setDownloadChunkSize(qint64 bytes)
{
    m_downloadChunkSize = qMax<qint64>(1, bytes);
}

void QFFakeDropbox::setUploadRequestLimit(qint64 bytes)
{
    m_uploadRequestLimit = bytes;
}

QString QFFakeDropbox::addAccessToken(QString token)
{
    if (token.isEmpty())
        token = QStringLiteral("sl.") + randomToken(48);
    m_accessTokens.insert(token, AccessToken {});
    return token;
}

QString QFFakeDropbox::addRefreshToken(QString token)
{
    if (token.isEmpty())
        token = randomToken(48);
    m_refreshTokens.insert(token);
    return token;
}

void QFFakeDropbox::expireAccessTokens()
{
    for (AccessToken &token : m_accessTokens)
        token.expired = true;
}

void QFFakeDropbox::putFile(const QString &path, const QByteArray &content, const QDateTime &modified)
{
    const QString blob = newBlobPath();
    QFile file(blob);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qWarning("QFFakeDropbox: cannot write %s", qPrintable(blob));
    file.close();
    storeFile(path, blob, content.size(), modified.isValid() ? modified : QDateTime::currentDateTimeUtc(), modified);
}

void QFFakeDropbox::putLargeFile(const QString &path, qint64 size)
{
    const QString blob = newBlobPath();
    QFile file(blob);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(size))
        qWarning("QFFakeDropbox: cannot write %s", qPrintable(blob));
    file.close();
    storeFile(path, blob, size, QDateTime::currentDateTimeUtc());
}

void QFFakeDropbox::listFileAs(const QString &path, const QString &name)
{
    const auto it = m_files.find(path.toLower());
    if (it != m_files.end())
        it->listedName = name;
}

bool QFFakeDropbox::hasFile(const QString &path) const
{
    return m_files.contains(path.toLower());
}

QByteArray QFFakeDropbox::fileContent(const QString &path) const
{
    const auto it = m_files.constFind(path.toLower());
    if (it == m_files.constEnd())
        return {};
    QFile file(it->blob);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

qint64 QFFakeDropbox::fileSize(const QString &path) const
{
    const auto it = m_files.constFind(path.toLower());
    return it == m_files.constEnd() ? -1 : it->size;
}

QStringList QFFakeDropbox::filePaths() const
{
    QStringList paths;
    for (const File &file : m_files)
        paths << file.displayPath;
    paths.sort();
    return paths;
}

void QFFakeDropbox::failNext(
    const QString &endpoint, int status, const QByteArray &body, const QList<QPair<QByteArray, QByteArray>> &headers)
{
    m_faults[endpoint].append(Fault { Fault::Kind::Fail, status, body, headers, 0, 0 });
}

void QFFakeDropbox::stallNext(const QString &endpoint)
{
    m_faults[endpoint].append(Fault { Fault::Kind::Stall, 0, {}, {}, 0, 0 });
}

void QFFakeDropbox::dropNext(const QString &endpoint)
{
    m_faults[endpoint].append(Fault { Fault::Kind::Drop, 0, {}, {}, 0, 0 });
}

void QFFakeDropbox::cutNext(const QString &endpoint, qint64 bytes)
{
    m_faults[endpoint].append(Fault { Fault::Kind::Cut, 0, {}, {}, qMax<qint64>(0, bytes), 0 });
}

void QFFakeDropbox::trickleNext(const QString &endpoint, qint64 bytes, int intervalMs)
{
    m_faults[endpoint].append(Fault { Fault::Kind::Trickle, 0, {}, {}, qMax<qint64>(1, bytes), qMax(0, intervalMs) });
}

void QFFakeDropbox::corruptNext(const QString &endpoint)
{
    m_faults[endpoint].append(Fault { Fault::Kind::Corrupt, 0, {}, {}, 0, 0 });
}

void QFFakeDropbox::failNextDeletionOf(const QString &path, const QString &tag)
{
    m_deletionFaults.insert(path.toLower(), tag);
}

int QFFakeDropbox::requestCount(const QString &endpoint) const
{
    return int(std::count_if(
        m_requests.cbegin(), m_requests.cend(), [&](const Request &request) { return request.path == endpoint; }));
}

void QFFakeDropbox::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection())
        new Connection(this, socket);
}

void QFFakeDropbox::beginExchange(Exchange &exchange)
{
    const QString &path = exchange.request.path;
    const auto faults = m_faults.find(path);
    if (faults != m_faults.end()) {
        const Fault fault = faults->takeFirst();
        if (faults->isEmpty())
            m_faults.erase(faults);
        switch (fault.kind) {
        case Fault::Kind::Drop:
            exchange.drop = true;
            return;
        case Fault::Kind::Stall:
            exchange.stall = true;
            return;
        case Fault::Kind::Fail: {
            Response response { fault.status, {}, fault.body, fault.headers, {}, 0, -1, 0, 0, false };
            if (!fault.body.isEmpty())
                response.contentType = fault.body.startsWith('{') ? "application/json" : "text/plain; charset=utf-8";
            exchange.early = response;
            return;
        }
        case Fault::Kind::Cut:
        case Fault::Kind::Trickle:
        case Fault::Kind::Corrupt:
            // The request is answered as ever; only its body goes wrong.
            exchange.shape = fault;
            break;
        }
    }

    const auto endpoint = m_endpoints.constFind(path);
    if (endpoint == m_endpoints.constEnd()) {
        exchange.early = Response::text(404, QStringLiteral("Unknown API function: \"%1\"").arg(path));
        return;
    }
    exchange.endpoint = &endpoint.value();
    const QByteArray &method = exchange.request.method;
    if (!((method == "GET" && endpoint->get) || (method == "POST" && endpoint->post))) {
        exchange.early = Response::text(405, QStringLiteral("Method not allowed: %1").arg(QString::fromLatin1(method)));
        return;
    }
    if (endpoint->authorized) {
        if ((exchange.early = checkAuthorization(exchange)))
            return;
    }
    static const QStringList writes { QStringLiteral("/2/files/upload"),
        QStringLiteral("/2/files/upload_session/start"), QStringLiteral("/2/files/upload_session/append_v2"),
        QStringLiteral("/2/files/upload_session/finish"), QStringLiteral("/2/files/delete_v2"),
        QStringLiteral("/2/files/delete_batch") };
    if (writes.contains(path)) {
        if (m_refuseOverlappingWrites && m_writesAtOnce > 0) {
            exchange.early = Response::apiError(QStringLiteral("too_many_write_operations/.."),
                { { QStringLiteral("reason"), tagged(QStringLiteral("too_many_write_operations")) } }, 429);
            return;
        }
        exchange.countedWrite = true;
        m_mostWritesAtOnce = qMax(m_mostWritesAtOnce, ++m_writesAtOnce);
    }
    if (endpoint->prepare)
        (this->*endpoint->prepare)(exchange);
    else
        readSmallBody(exchange);
}

void QFFakeDropbox::endExchange(Connection &connection, Exchange &exchange)
{
    if (exchange.sink == Exchange::Sink::Memory && exchange.request.arg.isEmpty()
        && exchange.request.bodySize < kLoggedBodyLimit)
        exchange.request.arg = exchange.memory;
    if (exchange.stall) {
        connection.stall();
        return;
    }
    if (exchange.early) {
        connection.send(*exchange.early);
        return;
    }
    if (exchange.sink == Exchange::Sink::Memory && exchange.overflow) {
        connection.send(Response::text(400,
            QStringLiteral("Error in call to API function \"%1\": request body is too large.").arg(apiName(exchange))));
        return;
    }
    Response response = (this->*exchange.endpoint->answer)(exchange);
    if (exchange.shape) {
        switch (exchange.shape->kind) {
        case Fault::Kind::Cut:
            response.cutAfter = exchange.shape->bytes;
            break;
        case Fault::Kind::Trickle:
            response.trickleBytes = exchange.shape->bytes;
            response.trickleMs = exchange.shape->intervalMs;
            break;
        case Fault::Kind::Corrupt:
            response.corrupt = response.fileSize > 0;
            break;
        default:
            break;
        }
    }
    connection.send(response);
}

void QFFakeDropbox::logExchange(Exchange &exchange, int status)
{
    if (std::exchange(exchange.countedWrite, false))
        --m_writesAtOnce;
    exchange.request.status = status;
    m_requests.append(exchange.request);
    Q_EMIT requestHandled(exchange.request.path, status);
}

// The client went away in the middle of a request: nothing of its body stays.
void QFFakeDropbox::abandonExchange(Exchange &exchange)
{
    if (std::exchange(exchange.countedWrite, false))
        --m_writesAtOnce;
    if (exchange.sink != Exchange::Sink::File)
        return;
    const QString blob = exchange.file->fileName();
    exchange.file->close();
    const auto session = m_sessions.find(exchange.sessionId);
    if (exchange.sessionId.isEmpty() || session == m_sessions.end()) {
        QFile::remove(blob);
    } else if (exchange.request.path == QLatin1String("/2/files/upload_session/start")) {
        QFile::remove(blob);
        m_sessions.erase(session);
    } else {
        QFile::resize(blob, exchange.startSize);
        session->busy = false;
    }
}

void QFFakeDropbox::readSmallBody(Exchange &exchange)
{
    exchange.sink = Exchange::Sink::Memory;
    exchange.limit = kSmallBodyLimit;
}

void QFFakeDropbox::readBodyInto(Exchange &exchange, const QString &file, qint64 limit)
{
    auto out = std::make_unique<QFile>(file);
    if (!out->open(QIODevice::WriteOnly | QIODevice::Append)) {
        exchange.early = Response::text(500, QStringLiteral("The content cannot be stored."));
        return;
    }
    exchange.startSize = out->size();
    exchange.file = std::move(out);
    exchange.sink = Exchange::Sink::File;
    exchange.limit = limit;
}

void QFFakeDropbox::discardBody(Exchange &exchange)
{
    exchange.sink = Exchange::Sink::Discard;
}

// Ends a body written to a file; false when it was too large or could not be written, in which case the
// file is as it was before.
bool QFFakeDropbox::closeBody(Exchange &exchange)
{
    exchange.file->close();
    if (!exchange.overflow && !exchange.writeFailed)
        return true;
    exchange.file->resize(exchange.startSize);
    return false;
}

std::optional<QFFakeDropbox::Response> QFFakeDropbox::checkAuthorization(Exchange &exchange) const
{
    const QByteArray header = exchange.request.headers.value("authorization");
    if (header.left(7).compare("Bearer ", Qt::CaseInsensitive) == 0)
        exchange.token = QString::fromLatin1(header.mid(7).trimmed());
    const auto token = m_accessTokens.constFind(exchange.token);
    if (token == m_accessTokens.constEnd() || exchange.token.isEmpty()) {
        return Response::apiError(
            QStringLiteral("invalid_access_token/.."), tagged(QStringLiteral("invalid_access_token")), 401);
    }
    if (token->expired) {
        return Response::apiError(
            QStringLiteral("expired_access_token/.."), tagged(QStringLiteral("expired_access_token")), 401);
    }
    return std::nullopt;
}

// The argument of an RPC endpoint: the JSON body ("null" or nothing when it takes none).
std::optional<QFFakeDropbox::Response> QFFakeDropbox::readJsonArgument(Exchange &exchange)
{
    exchange.arg = {};
    const QByteArray body = exchange.memory.trimmed();
    if (body.isEmpty() || body == "null")
        return std::nullopt;
    const QByteArray type = exchange.request.headers.value("content-type").toLower();
    if (!type.startsWith("application/json") && type != "text/plain; charset=dropbox-cors-hack") {
        return Response::text(400,
            QStringLiteral("Error in call to API function \"%1\": Bad HTTP \"Content-Type\" header: \"%2\".  Expecting "
                           "one of \"application/json\", \"application/json; charset=utf-8\", \"text/plain; "
                           "charset=dropbox-cors-hack\".")
                .arg(apiName(exchange), QString::fromLatin1(type)));
    }
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject()) {
        return Response::text(400,
            QStringLiteral("Error in call to API function \"%1\": request body: could not decode input as JSON")
                .arg(apiName(exchange)));
    }
    exchange.arg = document.object();
    return std::nullopt;
}

// The argument of a content endpoint: the Dropbox-API-Arg header, or the "arg" query item.
std::optional<QFFakeDropbox::Response> QFFakeDropbox::readHeaderArgument(Exchange &exchange)
{
    QByteArray arg = exchange.request.headers.value("dropbox-api-arg");
    if (arg.isEmpty() && exchange.query.hasQueryItem(QStringLiteral("arg")))
        arg = exchange.query.queryItemValue(QStringLiteral("arg"), QUrl::FullyDecoded).toUtf8();
    exchange.request.arg = arg;
    if (arg.isEmpty()) {
        return Response::text(400,
            QStringLiteral("Error in call to API function \"%1\": Must provide HTTP header \"Dropbox-API-Arg\" or URL "
                           "parameter \"arg\".")
                .arg(apiName(exchange)));
    }
    const QJsonDocument document = QJsonDocument::fromJson(arg);
    if (!document.isObject()) {
        return Response::text(400,
            QStringLiteral("Error in call to API function \"%1\": HTTP header \"Dropbox-API-Arg\": could not decode "
                           "input as JSON")
                .arg(apiName(exchange)));
    }
    exchange.arg = document.object();
    return std::nullopt;
}

std::optional<QFFakeDropbox::Response> QFFakeDropbox::checkUploadContentType(const Exchange &exchange) const
{
    const QByteArray type = exchange.request.headers.value("content-type").toLower();
    if (type == "application/octet-stream" || type == "text/plain; charset=dropbox-cors-hack")
        return std::nullopt;
    return Response::text(400,
        QStringLiteral("Error in call to API function \"%1\": Bad HTTP \"Content-Type\" header: \"%2\".  Expecting one "
                       "of \"application/octet-stream\", \"text/plain; charset=dropbox-cors-hack\".")
            .arg(apiName(exchange), QString::fromLatin1(type)));
}

QString QFFakeDropbox::apiName(const Exchange &exchange) const
{
    return exchange.request.path.mid(3);
}

namespace {

QString badPath(const QString &api, const QString &path)
{
    return QStringLiteral("Error in call to API function \"%1\": request body: path: '%2' did not match pattern "
                          "'(/(.|[\\r\\n])*)|(ns:[0-9]+(/.*)?)|(id:.*)'")
        .arg(api, path);
}

} // namespace

// Authorization page ----------------------------------------------------------------------------------

QFFakeDropbox::Response QFFakeDropbox::authorize(Exchange &exchange)
{
    const auto item = [&](const char *name) {
        return exchange.query.queryItemValue(QString::fromLatin1(name), QUrl::FullyDecoded);
    };
    QString problem;
    const QString accessType = item("token_access_type");
    if (item("client_id").isEmpty())
        problem = QStringLiteral("Missing client_id.");
    else if (item("response_type") != QLatin1String("code"))
        problem = QStringLiteral("response_type must be \"code\".");
    else if (item("code_challenge").size() < 43 || item("code_challenge").size() > 128)
        problem = QStringLiteral("code_challenge must be 43 to 128 characters.");
    else if (item("code_challenge_method") != QLatin1String("S256"))
        problem = QStringLiteral("code_challenge_method must be \"S256\".");
    else if (!QStringList { QString(), QStringLiteral("offline"), QStringLiteral("online"), QStringLiteral("legacy") }
                  .contains(accessType))
        problem = QStringLiteral("Unknown token_access_type.");
    if (!problem.isEmpty()) {
        return Response::html(400,
            QStringLiteral("<!DOCTYPE html><html><head><title>Bad request</title></head><body><h1>Bad request</h1>"
                           "<p>%1</p></body></html>")
                .arg(problem.toHtmlEscaped()));
    }

    const QString code = randomToken(32);
    const QString redirectUri = item("redirect_uri");
    m_grants.insert(code, Grant { item("client_id"), item("code_challenge"), redirectUri, accessType == u"offline" });
    m_lastCode = code;
    if (!redirectUri.isEmpty()) {
        QUrl target(redirectUri);
        QUrlQuery query(target);
        query.addQueryItem(QStringLiteral("code"), code);
        if (exchange.query.hasQueryItem(QStringLiteral("state")))
            query.addQueryItem(QStringLiteral("state"), item("state"));
        target.setQuery(query);
        Response response = Response::html(302, QString());
        response.headers.append({ "Location", target.toEncoded() });
        return response;
    }
    return Response::html(200,
        QStringLiteral("<!DOCTYPE html><html><head><title>API Request Authorization - Dropbox</title></head><body>"
                       "<h1>Access granted</h1><p>Enter this code into the app to finish connecting it:</p>"
                       "<code>%1</code></body></html>")
            .arg(code));
}

// Tokens ----------------------------------------------------------------------------------------------

QFFakeDropbox::Response QFFakeDropbox::token(Exchange &exchange)
{
    // Forms encode spaces as '+', which QUrlQuery leaves alone.
    QByteArray form = exchange.memory;
    form.replace('+', "%20");
    const QUrlQuery query { QString::fromLatin1(form) };
    const auto item
        = [&](const char *name) { return query.queryItemValue(QString::fromLatin1(name), QUrl::FullyDecoded); };
    QString clientId = item("client_id");
    const QByteArray authorization = exchange.request.headers.value("authorization");
    if (clientId.isEmpty() && authorization.left(6).compare("Basic ", Qt::CaseInsensitive) == 0)
        clientId = QString::fromUtf8(QByteArray::fromBase64(authorization.mid(6).trimmed())).section(u':', 0, 0);
    if (clientId.isEmpty())
        return Response::oauthError(QStringLiteral("invalid_request"), QStringLiteral("No client_id given."));

    const QString grantType = item("grant_type");
    if (grantType == u"authorization_code") {
        const auto grant = m_grants.constFind(item("code"));
        if (grant == m_grants.constEnd())
            return Response::oauthError(
                QStringLiteral("invalid_grant"), QStringLiteral("code doesn't exist or has expired"));
        if (grant->clientId != clientId)
            return Response::oauthError(
                QStringLiteral("invalid_grant"), QStringLiteral("code was issued to another client"));
        const QByteArray digest = QCryptographicHash::hash(item("code_verifier").toUtf8(), QCryptographicHash::Sha256)
                                      .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
        if (item("code_verifier").isEmpty() || QString::fromLatin1(digest) != grant->challenge)
            return Response::oauthError(QStringLiteral("invalid_grant"), QStringLiteral("invalid code verifier"));
        if (grant->redirectUri != item("redirect_uri"))
            return Response::oauthError(QStringLiteral("invalid_grant"), QStringLiteral("redirect_uri mismatch"));
        const bool offline = grant->offline;
        m_grants.erase(grant);
        const QString refreshToken = offline ? addRefreshToken() : QString();
        QJsonObject answer { { QStringLiteral("access_token"), issueAccessToken(refreshToken) },
            { QStringLiteral("token_type"), QStringLiteral("bearer") }, { QStringLiteral("expires_in"), kExpiresIn },
            { QStringLiteral("scope"), kScope }, { QStringLiteral("uid"), QStringLiteral("12345") },
            { QStringLiteral("account_id"), kAccountId } };
        if (offline)
            answer.insert(QStringLiteral("refresh_token"), refreshToken);
        return Response::json(answer);
    }
    if (grantType == u"refresh_token") {
        const QString refreshToken = item("refresh_token");
        if (refreshToken.isEmpty() || !m_refreshTokens.contains(refreshToken))
            return Response::oauthError(
                QStringLiteral("invalid_grant"), QStringLiteral("refresh token is invalid or revoked"));
        return Response::json({ { QStringLiteral("access_token"), issueAccessToken(refreshToken) },
            { QStringLiteral("token_type"), QStringLiteral("bearer") }, { QStringLiteral("expires_in"), kExpiresIn } });
    }
    return Response::oauthError(
        QStringLiteral("unsupported_grant_type"), QStringLiteral("grant_type is not supported"));
}

QString QFFakeDropbox::issueAccessToken(const QString &refreshToken)
{
    const QString token = addAccessToken();
    m_accessTokens[token].refreshToken = refreshToken;
    return token;
}

QFFakeDropbox::Response QFFakeDropbox::revoke(Exchange &exchange)
{
    // It takes no argument, as JSON: nothing or null, sent as application/json.
    const QByteArray type = exchange.request.headers.value("content-type").toLower();
    if (!type.startsWith("application/json") && type != "text/plain; charset=dropbox-cors-hack") {
        return Response::text(400,
            QStringLiteral(
                "Error in call to API function \"auth/token/revoke\": Bad HTTP \"Content-Type\" header: \"%1\".  "
                "Expecting one of \"application/json\", \"application/json; charset=utf-8\", \"text/plain; "
                "charset=dropbox-cors-hack\".")
                .arg(QString::fromLatin1(type)));
    }
    const QByteArray body = exchange.memory.trimmed();
    if (!body.isEmpty() && body != "null") {
        return Response::text(400,
            QStringLiteral(
                "Error in call to API function \"auth/token/revoke\": request body: expected null, got value"));
    }
    // The whole authorization ends: this token, the refresh token it came from and its other tokens.
    const QString refreshToken = m_accessTokens.take(exchange.token).refreshToken;
    if (!refreshToken.isEmpty()) {
        m_refreshTokens.remove(refreshToken);
        m_accessTokens.removeIf(
            [&](const QHash<QString, AccessToken>::iterator &it) { return it->refreshToken == refreshToken; });
    }
    return Response::null();
}

// Listing and deleting ------------------------------------------------------------------------------------

QFFakeDropbox::Response QFFakeDropbox::listFolder(Exchange &exchange)
{
    if (auto error = readJsonArgument(exchange))
        return *error;
    const QJsonValue pathValue = exchange.arg.value(QStringLiteral("path"));
    if (!pathValue.isString()) {
        return Response::text(400,
            QStringLiteral("Error in call to API function \"files/list_folder\": request body: missing required field "
                           "'path'"));
    }
    const QString path = pathValue.toString();
    if (path == u"/") {
        return Response::text(400,
            QStringLiteral("Error in call to API function \"files/list_folder\": request body: path: Specify the root "
                           "folder as an empty string rather than as \"/\"."));
    }
    if (!path.isEmpty() && !path.startsWith(u'/'))
        return Response::text(400, badPath(QStringLiteral("files/list_folder"), path));
    const QString lower = path.toLower();
    if (!isWellFormed(path)) {
        return Response::apiError(QStringLiteral("path/malformed_path/.."),
            { { QStringLiteral(".tag"), QStringLiteral("path") },
                { QStringLiteral("path"), tagged(QStringLiteral("malformed_path")) } });
    }
    if (m_files.contains(lower)) {
        return Response::apiError(QStringLiteral("path/not_folder/.."),
            { { QStringLiteral(".tag"), QStringLiteral("path") },
                { QStringLiteral("path"), tagged(QStringLiteral("not_folder")) } });
    }
    if (!folderExists(lower)) {
        return Response::apiError(QStringLiteral("path/not_found/.."),
            { { QStringLiteral(".tag"), QStringLiteral("path") },
                { QStringLiteral("path"), tagged(QStringLiteral("not_found")) } });
    }

    const int id = ++m_lastListing;
    Listing &listing = m_listings[id];
    listing.paths = folderEntries(lower, exchange.arg.value(QStringLiteral("recursive")).toBool());
    listing.limit = exchange.arg.value(QStringLiteral("limit")).toInt(0);
    // Old listings go; their cursors are answered with "reset", as the service does with stale ones.
    while (m_listings.size() > kListingsKept)
        m_listings.erase(m_listings.begin());
    return listingPage(id, 0);
}

QFFakeDropbox::Response QFFakeDropbox::listFolderContinue(Exchange &exchange)
{
    if (auto error = readJsonArgument(exchange))
        return *error;
    // A cursor is "listing:next entry:salt", made opaque.
    const QString cursor = exchange.arg.value(QStringLiteral("cursor")).toString();
    const QStringList parts
        = QString::fromUtf8(QByteArray::fromBase64(cursor.toLatin1(), QByteArray::Base64UrlEncoding)).split(u':');
    bool listingOk = false;
    bool nextOk = false;
    const int id = parts.value(0).toInt(&listingOk);
    const qsizetype next = parts.value(1).toLongLong(&nextOk);
    if (parts.size() != 3 || !listingOk || !nextOk || parts.at(2) != m_cursorSalt || !m_listings.contains(id))
        return Response::apiError(QStringLiteral("reset/.."), tagged(QStringLiteral("reset")));
    return listingPage(id, next);
}

QFFakeDropbox::Response QFFakeDropbox::listingPage(int id, qsizetype from)
{
    const Listing &listing = m_listings[id];
    const int pageSize = listing.limit > 0 ? qMin(listing.limit, m_pageSize) : m_pageSize;
    const qsizetype end = qMin(listing.paths.size(), from + pageSize);
    QJsonArray entries;
    for (qsizetype i = qMax<qsizetype>(0, from); i < end; ++i) {
        // Entries deleted since the listing began are left out.
        const QString &lower = listing.paths.at(i);
        const auto file = m_files.constFind(lower);
        if (file != m_files.constEnd())
            entries.append(fileMetadata(*file));
        else if (folderExists(lower))
            entries.append(folderMetadata(lower));
    }
    const QString cursor
        = QString::fromLatin1(QStringLiteral("%1:%2:%3")
                                  .arg(id)
                                  .arg(qMax(end, from))
                                  .arg(m_cursorSalt)
                                  .toUtf8()
                                  .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    return Response::json({ { QStringLiteral("entries"), entries }, { QStringLiteral("cursor"), cursor },
        { QStringLiteral("has_more"), end < listing.paths.size() } });
}

QFFakeDropbox::Response QFFakeDropbox::deleteEntry(Exchange &exchange)
{
    if (auto error = readJsonArgument(exchange))
        return *error;
    const QString path = exchange.arg.value(QStringLiteral("path")).toString();
    if (!path.startsWith(u'/'))
        return Response::text(400, badPath(QStringLiteral("files/delete_v2"), path));
    const std::optional<QJsonObject> metadata = removeEntry(path);
    if (!metadata) {
        return Response::apiError(QStringLiteral("path_lookup/not_found/.."),
            { { QStringLiteral(".tag"), QStringLiteral("path_lookup") },
                { QStringLiteral("path_lookup"), tagged(QStringLiteral("not_found")) } });
    }
    return Response::json({ { QStringLiteral("metadata"), *metadata } });
}

std::optional<QJsonObject> QFFakeDropbox::removeEntry(const QString &path)
{
    const QString lower = path.toLower();
    const auto file = m_files.find(lower);
    QJsonObject metadata;
    if (file != m_files.end()) {
        metadata = fileMetadata(*file);
        QFile::remove(file->blob);
        m_files.erase(file);
    } else if (isWellFormed(path) && folderExists(lower)) {
        metadata = folderMetadata(lower);
        const QString prefix = lower + u'/';
        for (auto it = m_files.lowerBound(prefix); it != m_files.end() && it.key().startsWith(prefix);) {
            QFile::remove(it->blob);
            it = m_files.erase(it);
        }
        for (auto it = m_folders.lowerBound(prefix); it != m_folders.end() && it.key().startsWith(prefix);)
            it = m_folders.erase(it);
        m_folders.remove(lower);
        m_folderIds.removeIf([&](const QHash<QString, QString>::iterator &it) {
            return it.key() == lower || it.key().startsWith(prefix);
        });
    } else {
        return std::nullopt;
    }
    return metadata;
}

// A batch is deleted at once but answered as the service does: a job to ask after, "in_progress" for the
// first checks, then every entry's result in the order asked.
QFFakeDropbox::Response QFFakeDropbox::deleteBatch(Exchange &exchange)
{
    if (auto error = readJsonArgument(exchange))
        return *error;
    const QJsonValue entries = exchange.arg.value(QStringLiteral("entries"));
    if (!entries.isArray()) {
        return Response::text(400,
            QStringLiteral("Error in call to API function \"files/delete_batch\": request body: missing required field "
                           "'entries'"));
    }
    if (entries.toArray().size() > 1000) {
        return Response::text(400,
            QStringLiteral("Error in call to API function \"files/delete_batch\": request body: entries: list has more "
                           "than 1000 items"));
    }
    BatchJob job;
    job.inProgressAnswers = m_deleteBatchPolls;
    for (const QJsonValue &value : entries.toArray()) {
        const QString path = value.toObject().value(QStringLiteral("path")).toString();
        if (!path.startsWith(u'/'))
            return Response::text(400, badPath(QStringLiteral("files/delete_batch"), path));
        const auto failure = [](const QJsonObject &error) {
            return QJsonObject { { QStringLiteral(".tag"), QStringLiteral("failure") },
                { QStringLiteral("failure"), error } };
        };
        if (const auto fault = m_deletionFaults.constFind(path.toLower()); fault != m_deletionFaults.constEnd()) {
            job.entries.append(failure(tagged(*fault)));
            m_deletionFaults.erase(fault);
            continue;
        }
        if (const std::optional<QJsonObject> metadata = removeEntry(path)) {
            job.entries.append(
                { { QStringLiteral(".tag"), QStringLiteral("success") }, { QStringLiteral("metadata"), *metadata } });
        } else {
            job.entries.append(failure({ { QStringLiteral(".tag"), QStringLiteral("path_lookup") },
                { QStringLiteral("path_lookup"), tagged(QStringLiteral("not_found")) } }));
        }
    }
    const QString id = QStringLiteral("dbjid:") + randomToken(24);
    m_batchJobs.insert(id, job);
    return Response::json(
        { { QStringLiteral(".tag"), QStringLiteral("async_job_id") }, { QStringLiteral("async_job_id"), id } });
}

QFFakeDropbox::Response QFFakeDropbox::deleteBatchCheck(Exchange &exchange)
{
    if (auto error = readJsonArgument(exchange))
        return *error;
    const auto job = m_batchJobs.find(exchange.arg.value(QStringLiteral("async_job_id")).toString());
    if (job == m_batchJobs.end())
        return Response::apiError(
            QStringLiteral("invalid_async_job_id/.."), tagged(QStringLiteral("invalid_async_job_id")));
    if (job->inProgressAnswers > 0) {
        --job->inProgressAnswers;
        return Response::json(tagged(QStringLiteral("in_progress")));
    }
    QJsonArray entries;
    for (const QJsonObject &entry : std::as_const(job->entries))
        entries.append(entry);
    return Response::json(
        { { QStringLiteral(".tag"), QStringLiteral("complete") }, { QStringLiteral("entries"), entries } });
}

// Uploads ---------------------------------------------------------------------------------------------

void QFFakeDropbox::prepareUpload(Exchange &exchange)
{
    if ((exchange.early = readHeaderArgument(exchange)) || (exchange.early = checkUploadContentType(exchange)))
        return;
    const QString path = exchange.arg.value(QStringLiteral("path")).toString();
    if (!path.startsWith(u'/')) {
        exchange.early = Response::text(400, badPath(QStringLiteral("files/upload"), path));
        return;
    }
    readBodyInto(exchange, newBlobPath(), m_uploadRequestLimit);
}

QFFakeDropbox::Response QFFakeDropbox::upload(Exchange &exchange)
{
    const QString blob = exchange.file->fileName();
    if (!closeBody(exchange)) {
        QFile::remove(blob);
        if (exchange.writeFailed)
            return Response::text(500, QStringLiteral("The content cannot be stored."));
        return Response::text(400,
            QStringLiteral("Error in call to API function \"files/upload\": The request body is larger than the %1 "
                           "bytes this endpoint takes; upload larger files with an upload session.")
                .arg(m_uploadRequestLimit));
    }
    QJsonObject result;
    QString summary;
    if (!commitFile(exchange.arg.value(QStringLiteral("path")).toString(), exchange.arg, blob,
            exchange.request.bodySize, &result, &summary)) {
        QFile::remove(blob);
        return Response::apiError(QStringLiteral("path/%1/..").arg(summary),
            { { QStringLiteral(".tag"), QStringLiteral("path") }, { QStringLiteral("reason"), result } });
    }
    return Response::json(result);
}

void QFFakeDropbox::prepareSessionStart(Exchange &exchange)
{
    if ((exchange.early = readHeaderArgument(exchange)) || (exchange.early = checkUploadContentType(exchange)))
        return;
    const QString id = QStringLiteral("AAAA") + randomToken(18);
    const QString blob = newBlobPath();
    readBodyInto(exchange, blob, m_uploadRequestLimit);
    if (exchange.early)
        return;
    m_sessions.insert(id, Session { blob, 0, exchange.arg.value(QStringLiteral("close")).toBool(), true });
    exchange.sessionId = id;
}

QFFakeDropbox::Response QFFakeDropbox::sessionStart(Exchange &exchange)
{
    Session &session = m_sessions[exchange.sessionId];
    session.busy = false;
    if (!closeBody(exchange)) {
        QFile::remove(session.blob);
        m_sessions.remove(exchange.sessionId);
        if (exchange.writeFailed)
            return Response::text(500, QStringLiteral("The content cannot be stored."));
        return Response::apiError(QStringLiteral("payload_too_large/.."), tagged(QStringLiteral("payload_too_large")));
    }
    session.size = exchange.request.bodySize;
    return Response::json({ { QStringLiteral("session_id"), exchange.sessionId } });
}

namespace {

QJsonObject incorrectOffset(qint64 correct)
{
    return { { QStringLiteral(".tag"), QStringLiteral("incorrect_offset") },
        { QStringLiteral("correct_offset"), double(correct) } };
}

} // namespace

void QFFakeDropbox::prepareSessionAppend(Exchange &exchange)
{
    if ((exchange.early = readHeaderArgument(exchange)) || (exchange.early = checkUploadContentType(exchange)))
        return;
    const QJsonObject cursor = exchange.arg.value(QStringLiteral("cursor")).toObject();
    const QString id = cursor.value(QStringLiteral("session_id")).toString();
    const auto session = m_sessions.find(id);
    if (session == m_sessions.end()) {
        exchange.early = Response::apiError(QStringLiteral("not_found/.."), tagged(QStringLiteral("not_found")));
        return;
    }
    if (session->closed) {
        exchange.early = Response::apiError(QStringLiteral("closed/.."), tagged(QStringLiteral("closed")));
        return;
    }
    // A session takes one body at a time, at its end.
    const qint64 offset = cursor.value(QStringLiteral("offset")).toInteger(-1);
    if (session->busy || offset != session->size) {
        exchange.early = Response::apiError(QStringLiteral("incorrect_offset/.."), incorrectOffset(session->size));
        return;
    }
    readBodyInto(exchange, session->blob, m_uploadRequestLimit);
    if (exchange.early)
        return;
    session->busy = true;
    exchange.sessionId = id;
}

QFFakeDropbox::Response QFFakeDropbox::sessionAppend(Exchange &exchange)
{
    Session &session = m_sessions[exchange.sessionId];
    session.busy = false;
    if (!closeBody(exchange)) {
        if (exchange.writeFailed)
            return Response::text(500, QStringLiteral("The content cannot be stored."));
        return Response::apiError(QStringLiteral("payload_too_large/.."), tagged(QStringLiteral("payload_too_large")));
    }
    session.size += exchange.request.bodySize;
    session.closed = exchange.arg.value(QStringLiteral("close")).toBool();
    return Response::null();
}

void QFFakeDropbox::prepareSessionFinish(Exchange &exchange)
{
    if ((exchange.early = readHeaderArgument(exchange)) || (exchange.early = checkUploadContentType(exchange)))
        return;
    const QString path
        = exchange.arg.value(QStringLiteral("commit")).toObject().value(QStringLiteral("path")).toString();
    if (!path.startsWith(u'/')) {
        exchange.early = Response::text(400, badPath(QStringLiteral("files/upload_session/finish"), path));
        return;
    }
    const QJsonObject cursor = exchange.arg.value(QStringLiteral("cursor")).toObject();
    const QString id = cursor.value(QStringLiteral("session_id")).toString();
    const auto lookupFailed = [](const QString &summary, const QJsonObject &reason) {
        return Response::apiError(QStringLiteral("lookup_failed/%1/..").arg(summary),
            { { QStringLiteral(".tag"), QStringLiteral("lookup_failed") },
                { QStringLiteral("lookup_failed"), reason } });
    };
    const auto session = m_sessions.find(id);
    if (session == m_sessions.end()) {
        exchange.early = lookupFailed(QStringLiteral("not_found"), tagged(QStringLiteral("not_found")));
        return;
    }
    const qint64 offset = cursor.value(QStringLiteral("offset")).toInteger(-1);
    if (session->busy || offset != session->size) {
        exchange.early = lookupFailed(QStringLiteral("incorrect_offset"), incorrectOffset(session->size));
        return;
    }
    readBodyInto(exchange, session->blob, m_uploadRequestLimit);
    if (exchange.early)
        return;
    session->busy = true;
    exchange.sessionId = id;
}

QFFakeDropbox::Response QFFakeDropbox::sessionFinish(Exchange &exchange)
{
    const auto lookupFailed = [](const QString &tag) {
        return Response::apiError(QStringLiteral("lookup_failed/%1/..").arg(tag),
            { { QStringLiteral(".tag"), QStringLiteral("lookup_failed") },
                { QStringLiteral("lookup_failed"), tagged(tag) } });
    };
    Session &session = m_sessions[exchange.sessionId];
    session.busy = false;
    if (!closeBody(exchange)) {
        if (exchange.writeFailed)
            return Response::text(500, QStringLiteral("The content cannot be stored."));
        return lookupFailed(QStringLiteral("payload_too_large"));
    }
    if (session.closed && exchange.request.bodySize > 0) {
        QFile::resize(session.blob, exchange.startSize);
        return lookupFailed(QStringLiteral("closed"));
    }
    session.size += exchange.request.bodySize;
    const QJsonObject commit = exchange.arg.value(QStringLiteral("commit")).toObject();
    QJsonObject result;
    QString summary;
    if (!commitFile(
            commit.value(QStringLiteral("path")).toString(), commit, session.blob, session.size, &result, &summary)) {
        return Response::apiError(QStringLiteral("path/%1/..").arg(summary),
            { { QStringLiteral(".tag"), QStringLiteral("path") }, { QStringLiteral("path"), result } });
    }
    m_sessions.remove(exchange.sessionId);
    return Response::json(result);
}

// Downloads -------------------------------------------------------------------------------------------

void QFFakeDropbox::prepareDownload(Exchange &exchange)
{
    discardBody(exchange);
    if ((exchange.early = readHeaderArgument(exchange)))
        return;
    // Without a type of its own, a POST from many HTTP clients says it sends a form, which the service refuses.
    const QByteArray type = exchange.request.headers.value("content-type").toLower();
    const QList<QByteArray> accepted { "", "text/plain", "text/plain; charset=utf-8", "application/octet-stream",
        "application/octet-stream; charset=utf-8", "text/plain; charset=dropbox-cors-hack" };
    if (!accepted.contains(type)) {
        exchange.early = Response::text(400,
            QStringLiteral("Error in call to API function \"files/download\": Bad HTTP \"Content-Type\" header: "
                           "\"%1\".  Expecting one of \"text/plain\", \"text/plain; charset=utf-8\", "
                           "\"application/octet-stream\", \"application/octet-stream; charset=utf-8\", "
                           "\"text/plain; charset=dropbox-cors-hack\".")
                .arg(QString::fromLatin1(type)));
    }
}

QFFakeDropbox::Response QFFakeDropbox::download(Exchange &exchange)
{
    const QString path = exchange.arg.value(QStringLiteral("path")).toString();
    if (!path.startsWith(u'/'))
        return Response::text(400, badPath(QStringLiteral("files/download"), path));
    const QString lower = path.toLower();
    const auto lookupError = [](const QString &tag) {
        return Response::apiError(QStringLiteral("path/%1/..").arg(tag),
            { { QStringLiteral(".tag"), QStringLiteral("path") }, { QStringLiteral("path"), tagged(tag) } });
    };
    const auto file = m_files.constFind(lower);
    if (file == m_files.constEnd())
        return lookupError(
            isWellFormed(path) && folderExists(lower) ? QStringLiteral("not_file") : QStringLiteral("not_found"));
    Response response;
    response.contentType = "application/octet-stream";
    response.headers.append({ "Dropbox-API-Result", asciiJson(fileMetadata(*file)) });
    response.file = file->blob;
    response.fileSize = file->size;
    return response;
}

// The remote tree -------------------------------------------------------------------------------------

bool QFFakeDropbox::folderExists(const QString &lowerPath) const
{
    if (lowerPath.isEmpty() || m_folders.contains(lowerPath))
        return true;
    const QString prefix = lowerPath + u'/';
    const auto file = m_files.lowerBound(prefix);
    if (file != m_files.constEnd() && file.key().startsWith(prefix))
        return true;
    const auto folder = m_folders.lowerBound(prefix);
    return folder != m_folders.constEnd() && folder.key().startsWith(prefix);
}

QString QFFakeDropbox::folderId(const QString &lowerPath)
{
    QString &id = m_folderIds[lowerPath];
    if (id.isEmpty())
        id = QStringLiteral("id:%1").arg(++m_counter);
    return id;
}

QString QFFakeDropbox::folderDisplayPath(const QString &lowerPath) const
{
    if (const auto folder = m_folders.constFind(lowerPath); folder != m_folders.constEnd())
        return *folder;
    // A folder that only holds files is spelled as the first of them spells it.
    const QString prefix = lowerPath + u'/';
    const qsizetype depth = lowerPath.count(u'/');
    const auto file = m_files.lowerBound(prefix);
    if (file != m_files.constEnd() && file.key().startsWith(prefix))
        return file->displayPath.section(u'/', 0, depth);
    const auto folder = m_folders.lowerBound(prefix);
    if (folder != m_folders.constEnd() && folder.key().startsWith(prefix))
        return folder->section(u'/', 0, depth);
    return lowerPath;
}

QJsonObject QFFakeDropbox::fileMetadata(const File &file) const
{
    if (file.contentHash.isEmpty())
        file.contentHash = contentHashOf(file.blob);
    return { { QStringLiteral(".tag"), QStringLiteral("file") },
        { QStringLiteral("name"), file.listedName.isEmpty() ? nameOf(file.displayPath) : file.listedName },
        { QStringLiteral("path_lower"), file.displayPath.toLower() },
        { QStringLiteral("path_display"), file.displayPath }, { QStringLiteral("id"), file.id },
        { QStringLiteral("client_modified"), timestamp(file.clientModified) },
        { QStringLiteral("server_modified"), timestamp(file.serverModified) }, { QStringLiteral("rev"), file.rev },
        { QStringLiteral("size"), double(file.size) }, { QStringLiteral("is_downloadable"), true },
        { QStringLiteral("content_hash"), file.contentHash } };
}

QJsonObject QFFakeDropbox::folderMetadata(const QString &lowerPath)
{
    const QString display = folderDisplayPath(lowerPath);
    return { { QStringLiteral(".tag"), QStringLiteral("folder") }, { QStringLiteral("name"), nameOf(display) },
        { QStringLiteral("path_lower"), lowerPath }, { QStringLiteral("path_display"), display },
        { QStringLiteral("id"), folderId(lowerPath) } };
}

// The lower-cased paths under a folder, sorted (so a folder comes before what it holds).
QStringList QFFakeDropbox::folderEntries(const QString &lowerPath, bool recursive) const
{
    const QString prefix = lowerPath + u'/';
    QSet<QString> entries;
    const auto add = [&](const QString &path) {
        const QString rest = path.mid(prefix.size());
        qsizetype slash = rest.indexOf(u'/');
        if (!recursive) {
            entries.insert(slash < 0 ? path : prefix + rest.left(slash));
            return;
        }
        for (; slash >= 0; slash = rest.indexOf(u'/', slash + 1))
            entries.insert(prefix + rest.left(slash));
        entries.insert(path);
    };
    for (auto it = m_files.lowerBound(prefix); it != m_files.constEnd() && it.key().startsWith(prefix); ++it)
        add(it.key());
    for (auto it = m_folders.lowerBound(prefix); it != m_folders.constEnd() && it.key().startsWith(prefix); ++it)
        add(it.key());
    QStringList sorted(entries.cbegin(), entries.cend());
    sorted.sort();
    return sorted;
}

bool QFFakeDropbox::commitFile(const QString &path, const QJsonObject &commit, const QString &blob, qint64 size,
    QJsonObject *result, QString *errorSummary)
{
    const auto fail = [&](const QJsonObject &reason, const QString &summary) {
        *result = reason;
        *errorSummary = summary;
        return false;
    };
    if (!isWellFormed(path) || path.isEmpty())
        return fail(tagged(QStringLiteral("malformed_path")), QStringLiteral("malformed_path"));
    const QString lower = path.toLower();
    for (QString folder = parentOf(lower); !folder.isEmpty(); folder = parentOf(folder)) {
        if (m_files.contains(folder)) {
            return fail({ { QStringLiteral(".tag"), QStringLiteral("conflict") },
                            { QStringLiteral("conflict"), tagged(QStringLiteral("file")) } },
                QStringLiteral("conflict/file"));
        }
    }

    // The mode is a string ("add", "overwrite") or an object ({".tag": "update", "update": rev}).
    const QJsonValue modeValue = commit.value(QStringLiteral("mode"));
    const QString mode = modeValue.isObject() ? modeValue.toObject().value(QStringLiteral(".tag")).toString()
                                              : modeValue.toString(QStringLiteral("add"));
    const QString updateRev = modeValue.toObject().value(QStringLiteral("update")).toString();
    const auto taken = [&](const QString &candidate) {
        const QString key = candidate.toLower();
        const auto existing = m_files.constFind(key);
        if (existing == m_files.constEnd())
            return folderExists(key) ? QStringLiteral("folder") : QString();
        if (mode == u"overwrite" || (mode == u"update" && existing->rev == updateRev))
            return QString();
        return QStringLiteral("file");
    };
    QString target = path;
    QString conflict = taken(target);
    if (!conflict.isEmpty() && commit.value(QStringLiteral("autorename")).toBool()) {
        for (int attempt = 1; !conflict.isEmpty(); ++attempt) {
            target = renamed(path, attempt);
            conflict = taken(target);
        }
    }
    if (!conflict.isEmpty()) {
        return fail({ { QStringLiteral(".tag"), QStringLiteral("conflict") },
                        { QStringLiteral("conflict"), tagged(conflict) } },
            QStringLiteral("conflict/") + conflict);
    }

    QDateTime clientModified
        = QDateTime::fromString(commit.value(QStringLiteral("client_modified")).toString(), Qt::ISODate);
    if (!clientModified.isValid())
        clientModified = QDateTime::currentDateTimeUtc();
    const File &file = storeFile(target, blob, size, clientModified);
    createFolders(target);
    *result = fileMetadata(file);
    return true;
}

QFFakeDropbox::File &QFFakeDropbox::storeFile(const QString &path, const QString &blob, qint64 size,
    const QDateTime &clientModified, const QDateTime &serverModified)
{
    File &file = m_files[path.toLower()];
    // An overwritten file keeps its id and gets a new revision.
    if (!file.blob.isEmpty() && file.blob != blob)
        QFile::remove(file.blob);
    if (file.id.isEmpty())
        file.id = QStringLiteral("id:%1").arg(++m_counter);
    file.rev = QStringLiteral("%1").arg(++m_counter, 9, 16, QLatin1Char('0'));
    file.displayPath = path;
    file.blob = blob;
    file.contentHash.clear();
    file.size = size;
    file.clientModified = wholeSeconds(clientModified);
    file.serverModified = wholeSeconds(serverModified.isValid() ? serverModified : QDateTime::currentDateTimeUtc());
    return file;
}

// An upload makes the folders on its way, which stay when their files go.
void QFFakeDropbox::createFolders(const QString &displayPath)
{
    for (QString folder = parentOf(displayPath); !folder.isEmpty(); folder = parentOf(folder)) {
        const QString lower = folder.toLower();
        if (!m_folders.contains(lower))
            m_folders.insert(lower, folderDisplayPath(lower));
    }
}

QString QFFakeDropbox::newBlobPath()
{
    QString path;
    do
        path = QStringLiteral("%1/blob-%2").arg(m_storage).arg(++m_counter);
    while (QFile::exists(path));
    return path;
}
