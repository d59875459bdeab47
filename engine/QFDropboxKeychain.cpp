#include "engine/QFDropboxKeychain.h"

#include "foundation/QFException.h"

#include <qt6keychain/keychain.h>

#include <QEventLoop>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QSemaphore>
#include <QThreadPool>
#include <QTimer>

#include <memory>

namespace {

const char *const kService = "com.quenfield.ProTombrel.Dropbox";
const char *const kKey = "refresh-token";

QMutex s_backendLock;
QFDropboxKeychain::Backend s_backend;

QKeychain::Job *makeJob(QFDropboxKeychain::Operation operation, const QString &token)
{
    const QString service = QString::fromLatin1(kService);
    QKeychain::Job *job = nullptr;
    switch (operation) {
    case QFDropboxKeychain::Operation::Read:
        job = new QKeychain::ReadPasswordJob(service);
        break;
    case QFDropboxKeychain::Operation::Write: {
        auto *write = new QKeychain::WritePasswordJob(service);
        write->setTextData(token);
        job = write;
        break;
    }
    case QFDropboxKeychain::Operation::Remove:
        job = new QKeychain::DeletePasswordJob(service);
        break;
    }
    job->setAutoDelete(false);
    job->setKey(QString::fromLatin1(kKey));
    return job;
}

// Runs one job to its end on the calling thread, which is the operation's own: the loop here is that
// thread's only one.
QFDropboxKeychain::Result runJob(QFDropboxKeychain::Operation operation, const QString &token, int timeoutMs)
{
    QFDropboxKeychain::Backend backend;
    {
        QMutexLocker lock(&s_backendLock);
        backend = s_backend;
    }
    if (backend)
        return backend(operation, token);
    QKeychain::Job *job = makeJob(operation, token);
    bool finished = false;
    QEventLoop loop;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    job->start();
    loop.exec();
    QFDropboxKeychain::Result result;
    if (!finished) {
        // The job may still be called back by the keychain library; it is left to its thread, which ends.
        result.error = QStringLiteral("the Secret Service did not answer within %1 seconds").arg(timeoutMs / 1000);
        return result;
    }
    result.ok = job->error() == QKeychain::NoError;
    if (!result.ok)
        result.error = job->errorString();
    else if (operation == QFDropboxKeychain::Operation::Read)
        result.token = static_cast<QKeychain::ReadPasswordJob *>(job)->textData();
    delete job;
    return result;
}

QFDropboxKeychain::Result guardedJob(QFDropboxKeychain::Operation operation, const QString &token, int timeoutMs)
{
    QFDropboxKeychain::Result result;
    if (!QFException::guard("keychain", [&] { result = runJob(operation, token, timeoutMs); })
        && result.error.isEmpty())
        result.error = QStringLiteral("the keychain failed");
    return result;
}

// One job at a time, in the order asked: a removal asked before a new link's token is written never
// removes that token, and a read asked before a removal still finds it.
QThreadPool *queue()
{
    static QThreadPool *pool = [] {
        auto *threads = new QThreadPool;
        threads->setMaxThreadCount(1);
        return threads;
    }();
    return pool;
}

void start(QFDropboxKeychain::Operation operation, const QString &token, QObject *context, QFDropboxKeychain::Done done)
{
    // The result comes back through an object of the context's thread that only the delivery deletes.
    auto *relay = new QObject;
    if (context && context->thread() != relay->thread())
        relay->moveToThread(context->thread());
    QPointer<QObject> receiver(context);
    queue()->start([operation, token, relay, receiver, done = std::move(done)] {
        const QFDropboxKeychain::Result result = guardedJob(operation, token, QFDropboxKeychain::kTimeoutMs);
        QMetaObject::invokeMethod(
            relay,
            [relay, receiver, done, result] {
                relay->deleteLater();
                if (receiver && done)
                    done(result);
            },
            Qt::QueuedConnection);
    });
}

} // namespace

void QFDropboxKeychain::setBackend(Backend backend)
{
    QMutexLocker lock(&s_backendLock);
    s_backend = std::move(backend);
}

void QFDropboxKeychain::read(QObject *context, Done done)
{
    start(Operation::Read, QString(), context, std::move(done));
}

void QFDropboxKeychain::write(const QString &token, QObject *context, Done done)
{
    start(Operation::Write, token, context, std::move(done));
}

void QFDropboxKeychain::remove(QObject *context, Done done)
{
    start(Operation::Remove, QString(), context, std::move(done));
}

QFDropboxKeychain::Result QFDropboxKeychain::readBlocking(int timeoutMs)
{
    // The caller waits for its turn and the answer without running any of its own events meanwhile.
    auto result = std::make_shared<Result>();
    auto answered = std::make_shared<QSemaphore>();
    queue()->start([result, answered, timeoutMs] {
        *result = guardedJob(Operation::Read, QString(), timeoutMs);
        answered->release();
    });
    answered->acquire();
    return *result;
}
