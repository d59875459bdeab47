#include "engine/QFDropboxClient.h"
#include "engine/QFDropboxClientPrivate.h"

#include "foundation/QFLog.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QTimeZone>
#include <QTimer>

#include <algorithm>

namespace {

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

QDateTime dateFromAPI(const QJsonValue &value)
{
    QDateTime date = QDateTime::fromString(value.toString(), Qt::ISODate);
    date.setTimeSpec(Qt::UTC);
    return date;
}

} // namespace

// --- Writes, one at a time ----------------------------------------------------------------------------

void QFDropboxClient::enqueueWrite(std::function<void()> start)
{
    m_writes.append(std::move(start));
    startNextWrite();
}

void QFDropboxClient::endWrite()
{
    m_writing = false;
    startNextWrite();
}

// Starts the next write from the event loop, so that deletions asked for in one turn share their batch and
// no write starts inside the answer of another.
void QFDropboxClient::startNextWrite()
{
    if (m_writing || m_writeStartQueued || m_writes.isEmpty())
        return;
    m_writeStartQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_writeStartQueued = false;
        if (m_writing || m_writes.isEmpty())
            return;
        m_writing = true;
        const std::function<void()> start = m_writes.takeFirst();
        start();
    });
}

// --- Operations ---------------------------------------------------------------------------------------

void QFDropboxClient::uploadFile(const QString &filename, const QString &toPath, const QString &fromPath)
{
    auto upload = std::make_shared<Upload>();
    upload->source = fromPath;
    upload->dest = normalizedPath(toPath + u'/' + filename);
    // A deletion asked for after this upload must not overtake it.
    m_openDeletion.reset();
    enqueueWrite([this, upload] {
        const QFileInfo info(upload->source);
        if (!info.isFile()) {
            endWrite();
            Q_EMIT uploadFileFailed(QFDropboxError::url(-1100, upload->source));
            return;
        }
        upload->size = info.size();
        uploadNextPart(upload);
    });
}

void QFDropboxClient::uploadNextPart(const std::shared_ptr<Upload> &upload)
{
    const QJsonObject commit { { QStringLiteral("path"), upload->dest },
        { QStringLiteral("mode"), QStringLiteral("overwrite") }, { QStringLiteral("autorename"), false },
        { QStringLiteral("mute"), true } };
    auto call = std::make_shared<Call>();
    call->content = true;
    call->bodyFile = upload->source;
    call->errorPath = upload->source;
    call->bodyOffset = upload->offset;
    call->budget = upload->budget;

    const bool single = upload->size <= kSingleUploadLimit;
    const qint64 remaining = upload->size - upload->offset;
    const bool last = single || remaining <= kSessionChunk;
    call->bodyLength = single ? upload->size : std::min(remaining, kSessionChunk);
    // A part sent again starts its count anew; what the user sees never goes back nor past the whole.
    call->progress = [this, upload, length = call->bodyLength](qint64 done, qint64) {
        if (upload->size <= 0)
            return;
        const double fraction = double(upload->offset + std::clamp<qint64>(done, 0, length)) / double(upload->size);
        const double shown = std::clamp(fraction, upload->shown, 1.0);
        if (shown == upload->shown && shown > 0)
            return;
        upload->shown = shown;
        Q_EMIT uploadProgress(shown, upload->dest, upload->source);
    };
    const QJsonObject cursor { { QStringLiteral("session_id"), upload->session },
        { QStringLiteral("offset"), double(upload->offset) } };
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
    call->done = [this, upload, last, starting, length = call->bodyLength](
                     const QFDropboxError &error, const QByteArray &body) {
        if (!error.isNull()) {
            endWrite();
            Q_EMIT uploadFileFailed(error);
            return;
        }
        if (starting)
            upload->session = QJsonDocument::fromJson(body).object().value(QStringLiteral("session_id")).toString();
        upload->offset += length;
        if (last && !starting) {
            endWrite();
            if (upload->shown < 1.0) {
                upload->shown = 1.0;
                Q_EMIT uploadProgress(1.0, upload->dest, upload->source);
            }
            Q_EMIT uploadedFile(upload->dest, upload->source);
            return;
        }
        if (starting && upload->session.isEmpty()) {
            endWrite();
            Q_EMIT uploadFileFailed(
                QFDropboxError::http(500, QStringLiteral("Dropbox started no upload session."), upload->source));
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
    call->budget = listing->budget;
    if (cursor.isEmpty()) {
        call->endpoint = QStringLiteral("/2/files/list_folder");
        call->jsonBody
            = QJsonDocument(QJsonObject { { QStringLiteral("path"), listing->metadata.path },
                                { QStringLiteral("recursive"), false }, { QStringLiteral("include_deleted"), false } })
                  .toJson(QJsonDocument::Compact);
    } else {
        call->endpoint = QStringLiteral("/2/files/list_folder/continue");
        call->jsonBody
            = QJsonDocument(QJsonObject { { QStringLiteral("cursor"), cursor } }).toJson(QJsonDocument::Compact);
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
            item.contentHash = entry.value(QStringLiteral("content_hash")).toString();
            // A later download of this file is checked against the hash listed here when its answer has none.
            const QString lower = entry.value(QStringLiteral("path_lower")).toString();
            if (!item.contentHash.isEmpty() && !lower.isEmpty())
                m_listedHashes.insert(lower, item.contentHash);
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
    auto shown = std::make_shared<double>(0);
    call->progress = [this, intoPath, shown](qint64 done, qint64 total) {
        const double fraction = std::clamp(double(done) / double(total), *shown, 1.0);
        if (fraction == *shown && fraction > 0)
            return;
        *shown = fraction;
        Q_EMIT loadProgress(fraction, intoPath);
    };
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
