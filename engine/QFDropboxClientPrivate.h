#pragma once

// What the Dropbox client's source files share: the records of requests and transfers under way. Private to
// the client.

#include "engine/QFDropboxClient.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

class QNetworkReply;

// What one transfer (an upload with all its parts, a listing with all its pages, a download, a deletion
// batch) has waited for the service so far.
struct QFDropboxClient::Budget {
    int waitedSeconds = 0;
};

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
    std::shared_ptr<Budget> budget = std::make_shared<Budget>();
    bool retriedAuth = false;
    bool retriedBusy = false;
    int writeRetries = 0;

    QPointer<QNetworkReply> reply;
    std::unique_ptr<QFile> sink;
    QTimer *timer = nullptr;
    QTimer *deadline = nullptr;
    qint64 deadlineBytes = -1;
    QElapsedTimer sent;
    bool timedOut = false;
    bool cancelled = false;
    bool sinkFailed = false;
    int sslCode = 0;
    // What arrived of a download, and its content hash so far.
    qint64 received = 0;
    std::unique_ptr<QFDropboxContentHasher> hasher;
};

struct QFDropboxClient::Upload {
    QString source;
    QString dest;
    qint64 size = 0;
    qint64 offset = 0;
    QString session;
    double shown = 0;
    std::shared_ptr<Budget> budget = std::make_shared<Budget>();
};

struct QFDropboxClient::Listing {
    QFDropboxMetadata metadata;
    std::shared_ptr<Budget> budget = std::make_shared<Budget>();
};

// Paths deleted together: sent in batches of at most kDeleteBatchLimit, those refused for overlapping writes
// sent again after a pause. Every path asked for is answered once for each time it was asked.
struct QFDropboxClient::Deletion {
    QStringList asked;
    QStringList todo;
    QStringList contended;
    int rounds = 0;
    std::shared_ptr<Budget> budget = std::make_shared<Budget>();
};
