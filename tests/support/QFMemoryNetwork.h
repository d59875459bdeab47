#pragma once

// A network that answers from memory: every request is handed to a function that says what comes back, a
// failure of the connection, or a reply that hangs until it is aborted. No sockets and no waits, so the
// network code's tests choose exactly which request fails and how. Main thread only.

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QString>

#include <functional>
#include <utility>

struct QFMemoryRequest {
    QNetworkAccessManager::Operation operation = QNetworkAccessManager::GetOperation;
    QNetworkRequest request;
    QByteArray body;

    QString path() const { return request.url().path(); }
    QByteArray header(const QByteArray &name) const { return request.rawHeader(name); }
};

struct QFMemoryAnswer {
    int status = 200;
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> headers;
    // A failure of the connection after the body went out (QNetworkReply::RemoteHostClosedError …).
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    // The Content-Length announced; -1 announces the body's own size.
    qint64 announcedLength = -1;
    // The reply never ends on its own; only an abort ends it.
    bool hang = false;

    static QFMemoryAnswer json(const QByteArray &body, int status = 200);
    static QFMemoryAnswer failure(QNetworkReply::NetworkError error);
    static QFMemoryAnswer hanging();
};

class QFMemoryNetwork final : public QNetworkAccessManager {
    Q_OBJECT
public:
    using Handler = std::function<QFMemoryAnswer(const QFMemoryRequest &request)>;

    explicit QFMemoryNetwork(QObject *parent = nullptr);
    ~QFMemoryNetwork() override;

    void setHandler(Handler handler) { m_handler = std::move(handler); }
    const QList<QFMemoryRequest> &requests() const { return m_requests; }
    int count(const QString &path) const;
    // Replies that hang and were not aborted yet.
    int hangingReplies() const;

protected:
    QNetworkReply *createRequest(Operation operation, const QNetworkRequest &request, QIODevice *outgoingData) override;

private:
    Handler m_handler;
    QList<QFMemoryRequest> m_requests;
    QList<QPointer<QNetworkReply>> m_hanging;
};
