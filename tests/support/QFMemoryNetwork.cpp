#include "tests/support/QFMemoryNetwork.h"

#include <QIODevice>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <cstring>

namespace {

// One answer played back as a network reply would: the body's upload, the headers, the body, the end. Each
// step is its own turn of the event loop, as on a socket.
class MemoryReply final : public QNetworkReply {
public:
    MemoryReply(QNetworkAccessManager::Operation operation, const QNetworkRequest &request, qint64 sent,
        const QFMemoryAnswer &answer, QObject *parent)
        : QNetworkReply(parent)
        , m_answer(answer)
        , m_sent(sent)
    {
        setOperation(operation);
        setRequest(request);
        setUrl(request.url());
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        QTimer::singleShot(0, this, [this] { step(); });
    }

    void abort() override
    {
        if (isFinished())
            return;
        m_aborted = true;
        end(QNetworkReply::OperationCanceledError);
    }

    qint64 bytesAvailable() const override { return qint64(m_body.size()) - m_read + QIODevice::bytesAvailable(); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 take = std::min<qint64>(maxSize, qint64(m_body.size()) - m_read);
        if (take <= 0)
            return isFinished() ? -1 : 0;
        std::memcpy(data, m_body.constData() + m_read, size_t(take));
        m_read += take;
        return take;
    }

private:
    void step()
    {
        if (m_aborted || isFinished())
            return;
        if (m_sent > 0)
            Q_EMIT uploadProgress(m_sent, m_sent);
        if (m_answer.hang)
            return;
        setAttribute(QNetworkRequest::HttpStatusCodeAttribute, m_answer.status);
        for (const auto &[name, value] : std::as_const(m_answer.headers))
            setRawHeader(name, value);
        setHeader(QNetworkRequest::ContentLengthHeader,
            m_answer.announcedLength >= 0 ? m_answer.announcedLength : qint64(m_answer.body.size()));
        Q_EMIT metaDataChanged();
        QTimer::singleShot(0, this, [this] {
            if (m_aborted || isFinished())
                return;
            m_body = m_answer.body;
            if (!m_body.isEmpty()) {
                Q_EMIT readyRead();
                Q_EMIT downloadProgress(m_body.size(), m_body.size());
            }
            if (m_aborted || isFinished())
                return;
            if (m_answer.error != QNetworkReply::NoError)
                end(m_answer.error);
            else if (m_answer.status >= 400)
                end(QNetworkReply::UnknownContentError, false);
            else
                end(QNetworkReply::NoError);
        });
    }

    // An HTTP error status keeps the body readable, as Qt's own replies do.
    void end(QNetworkReply::NetworkError error, bool connection = true)
    {
        if (error != QNetworkReply::NoError) {
            setError(error,
                connection ? QStringLiteral("memory network: connection failed")
                           : QStringLiteral("memory network: status %1").arg(m_answer.status));
            Q_EMIT errorOccurred(error);
        }
        setFinished(true);
        Q_EMIT finished();
    }

    QFMemoryAnswer m_answer;
    qint64 m_sent = 0;
    QByteArray m_body;
    qint64 m_read = 0;
    bool m_aborted = false;
};

} // namespace

QFMemoryAnswer QFMemoryAnswer::json(const QByteArray &body, int status)
{
    QFMemoryAnswer answer;
    answer.status = status;
    answer.body = body;
    answer.headers = { { "Content-Type", "application/json" } };
    return answer;
}

QFMemoryAnswer QFMemoryAnswer::failure(QNetworkReply::NetworkError error)
{
    QFMemoryAnswer answer;
    answer.status = 0;
    answer.error = error;
    return answer;
}

QFMemoryAnswer QFMemoryAnswer::hanging()
{
    QFMemoryAnswer answer;
    answer.hang = true;
    return answer;
}

QFMemoryNetwork::QFMemoryNetwork(QObject *parent)
    : QNetworkAccessManager(parent)
{
}

QFMemoryNetwork::~QFMemoryNetwork() = default;

int QFMemoryNetwork::count(const QString &path) const
{
    return int(std::count_if(
        m_requests.begin(), m_requests.end(), [&](const QFMemoryRequest &r) { return r.path() == path; }));
}

int QFMemoryNetwork::hangingReplies() const
{
    return int(std::count_if(m_hanging.begin(), m_hanging.end(),
        [](const QPointer<QNetworkReply> &reply) { return reply && !reply->isFinished(); }));
}

QNetworkReply *QFMemoryNetwork::createRequest(
    Operation operation, const QNetworkRequest &request, QIODevice *outgoingData)
{
    QFMemoryRequest seen { operation, request, outgoingData ? outgoingData->readAll() : QByteArray() };
    m_requests.append(seen);
    const QFMemoryAnswer answer = m_handler ? m_handler(seen) : QFMemoryAnswer::json("{}", 404);
    auto *reply = new MemoryReply(operation, request, seen.body.size(), answer, this);
    if (answer.hang)
        m_hanging.append(reply);
    return reply;
}
