#include "engine/QFDropboxClient.h"
#include "engine/QFDropboxClientPrivate.h"

#include "foundation/QFLog.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace {

// "path_lookup/not_found/" from {".tag": "path_lookup", "path_lookup": {".tag": "not_found"}}, as the
// service spells its error summaries.
QString summaryOfTagged(const QJsonObject &object)
{
    QString summary;
    QJsonObject level = object;
    for (int depth = 0; depth < 8; ++depth) {
        const QString tag = level.value(QStringLiteral(".tag")).toString();
        if (tag.isEmpty())
            break;
        summary += tag + u'/';
        const QJsonValue inner = level.value(tag);
        if (!inner.isObject())
            break;
        level = inner.toObject();
    }
    return summary;
}

} // namespace

// --- Deletions ----------------------------------------------------------------------------------------

void QFDropboxClient::deletePath(const QString &path)
{
    if (!m_openDeletion) {
        auto deletion = std::make_shared<Deletion>();
        m_openDeletion = deletion;
        enqueueWrite([this, deletion] {
            if (m_openDeletion == deletion)
                m_openDeletion.reset();
            for (const QString &asked : std::as_const(deletion->asked)) {
                const bool known = std::any_of(deletion->todo.cbegin(), deletion->todo.cend(),
                    [&](const QString &path) { return path.compare(asked, Qt::CaseInsensitive) == 0; });
                if (!known)
                    deletion->todo.append(asked);
            }
            deleteNext(deletion);
        });
    }
    m_openDeletion->asked.append(normalizedPath(path));
}

void QFDropboxClient::deleteNext(const std::shared_ptr<Deletion> &deletion)
{
    if (deletion->todo.isEmpty() && !deletion->contended.isEmpty()) {
        const QStringList contended = std::exchange(deletion->contended, {});
        const int pause = 1 << deletion->rounds;
        ++deletion->rounds;
        if (deletion->rounds <= kWriteContentionRetries
            && deletion->budget->waitedSeconds + pause <= kMaximumWaitSeconds) {
            deletion->budget->waitedSeconds += pause;
            QFLog::appendLog("Dropbox refused a write while others were under way; trying again in %i seconds.", pause);
            Q_EMIT waitingToRetry(pause, contended.value(0));
            QTimer::singleShot(pause * 1000, this, [this, deletion, contended] {
                deletion->todo = contended;
                deleteNext(deletion);
            });
            return;
        }
        QPointer<QFDropboxClient> self(this);
        for (const QString &path : contended) {
            answerOne(deletion, path, QFDropboxError::http(429, QStringLiteral("too_many_write_operations/"), path));
            if (!self)
                return;
        }
    }
    if (deletion->todo.isEmpty()) {
        endWrite();
        return;
    }
    if (deletion->todo.size() == 1) {
        deleteOne(deletion, deletion->todo.takeFirst());
        return;
    }
    const QStringList batch = deletion->todo.mid(0, kDeleteBatchLimit);
    deletion->todo.remove(0, batch.size());
    deleteBatch(deletion, batch);
}

void QFDropboxClient::deleteOne(const std::shared_ptr<Deletion> &deletion, const QString &path)
{
    auto call = std::make_shared<Call>();
    call->endpoint = QStringLiteral("/2/files/delete_v2");
    call->jsonBody = QJsonDocument(QJsonObject { { QStringLiteral("path"), path } }).toJson(QJsonDocument::Compact);
    call->errorPath = path;
    call->budget = deletion->budget;
    call->done = [this, deletion, path](const QFDropboxError &error, const QByteArray &) {
        QPointer<QFDropboxClient> self(this);
        answerOne(deletion, path, error);
        if (self)
            deleteNext(deletion);
    };
    dispatch(call);
}

void QFDropboxClient::deleteBatch(const std::shared_ptr<Deletion> &deletion, const QStringList &paths)
{
    QJsonArray entries;
    for (const QString &path : paths)
        entries.append(QJsonObject { { QStringLiteral("path"), path } });
    auto call = std::make_shared<Call>();
    call->endpoint = QStringLiteral("/2/files/delete_batch");
    call->jsonBody
        = QJsonDocument(QJsonObject { { QStringLiteral("entries"), entries } }).toJson(QJsonDocument::Compact);
    call->errorPath = paths.value(0);
    call->budget = deletion->budget;
    call->done = [this, deletion, paths](const QFDropboxError &error, const QByteArray &body) {
        const QJsonObject answer = QJsonDocument::fromJson(body).object();
        const QString tag = answer.value(QStringLiteral(".tag")).toString();
        if (error.isNull() && tag == QLatin1String("complete")) {
            batchAnswered(deletion, paths, answer.value(QStringLiteral("entries")).toArray());
            return;
        }
        if (error.isNull() && tag == QLatin1String("async_job_id")) {
            checkBatch(deletion, paths, answer.value(QStringLiteral("async_job_id")).toString(), 0);
            return;
        }
        failBatch(deletion, paths,
            error.isNull() ? QFDropboxError::http(500, QStringLiteral("Dropbox gave no result for the deletions."))
                           : error);
    };
    dispatch(call);
}

// The service deletes a batch in the background; its job is asked after a pause that grows to 5 seconds,
// for about three minutes.
void QFDropboxClient::checkBatch(
    const std::shared_ptr<Deletion> &deletion, const QStringList &paths, const QString &jobID, int polls)
{
    constexpr int kMaximumPolls = 40;
    if (jobID.isEmpty() || polls >= kMaximumPolls) {
        failBatch(deletion, paths,
            jobID.isEmpty() ? QFDropboxError::http(500, QStringLiteral("Dropbox gave no result for the deletions."))
                            : QFDropboxError::url(-1001));
        return;
    }
    const int pause = std::min(200 << std::min(polls, 5), 5000);
    QTimer::singleShot(pause, this, [this, deletion, paths, jobID, polls] {
        auto call = std::make_shared<Call>();
        call->endpoint = QStringLiteral("/2/files/delete_batch/check");
        call->jsonBody
            = QJsonDocument(QJsonObject { { QStringLiteral("async_job_id"), jobID } }).toJson(QJsonDocument::Compact);
        call->errorPath = paths.value(0);
        call->budget = deletion->budget;
        call->done = [this, deletion, paths, jobID, polls](const QFDropboxError &error, const QByteArray &body) {
            if (!error.isNull()) {
                failBatch(deletion, paths, error);
                return;
            }
            const QJsonObject answer = QJsonDocument::fromJson(body).object();
            const QString tag = answer.value(QStringLiteral(".tag")).toString();
            if (tag == QLatin1String("in_progress")) {
                checkBatch(deletion, paths, jobID, polls + 1);
            } else if (tag == QLatin1String("complete")) {
                batchAnswered(deletion, paths, answer.value(QStringLiteral("entries")).toArray());
            } else if (summaryOfTagged(answer).contains(QStringLiteral("too_many_write_operations"))) {
                deletion->contended += paths;
                deleteNext(deletion);
            } else {
                const QString summary = summaryOfTagged(answer);
                failBatch(deletion, paths,
                    QFDropboxError::http(409,
                        summary.isEmpty() ? QStringLiteral("Dropbox gave no result for the deletions.") : summary));
            }
        };
        dispatch(call);
    });
}

void QFDropboxClient::batchAnswered(
    const std::shared_ptr<Deletion> &deletion, const QStringList &paths, const QJsonArray &entries)
{
    QPointer<QFDropboxClient> self(this);
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QString &path = paths.at(i);
        const QJsonObject entry = entries.at(i).toObject();
        const QString tag = entry.value(QStringLiteral(".tag")).toString();
        if (tag == QLatin1String("success")) {
            answerOne(deletion, path, {});
        } else if (tag == QLatin1String("failure")) {
            const QJsonObject failure = entry.value(QStringLiteral("failure")).toObject();
            if (failure.value(QStringLiteral(".tag")).toString() == QLatin1String("too_many_write_operations")) {
                deletion->contended.append(path);
                continue;
            }
            answerOne(deletion, path, QFDropboxError::http(409, summaryOfTagged(failure), path));
        } else {
            answerOne(deletion, path,
                QFDropboxError::http(500, QStringLiteral("Dropbox gave no result for this deletion."), path));
        }
        if (!self)
            return;
    }
    deleteNext(deletion);
}

void QFDropboxClient::failBatch(
    const std::shared_ptr<Deletion> &deletion, const QStringList &paths, const QFDropboxError &error)
{
    QPointer<QFDropboxClient> self(this);
    for (const QString &path : paths) {
        QFDropboxError failure = error;
        failure.path = path;
        answerOne(deletion, path, failure);
        if (!self)
            return;
    }
    deleteNext(deletion);
}

// Answers a path once for each time it was asked for.
void QFDropboxClient::answerOne(
    const std::shared_ptr<Deletion> &deletion, const QString &path, const QFDropboxError &error)
{
    QPointer<QFDropboxClient> self(this);
    for (const QString &asked : std::as_const(deletion->asked)) {
        if (asked.compare(path, Qt::CaseInsensitive) != 0)
            continue;
        if (error.isNull())
            Q_EMIT deletedPath(asked);
        else
            Q_EMIT deletePathFailed(error);
        if (!self)
            return;
    }
}
