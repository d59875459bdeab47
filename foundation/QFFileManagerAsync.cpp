#include "foundation/QFFileManager.h"

#include "foundation/QFException.h"

#include <QObject>
#include <QPointer>
#include <QThread>
#include <QThreadPool>

namespace {

// The toolbox's own threads: a removal that waits for the administrator holds up no other file work.
QThreadPool *workers()
{
    static QThreadPool *pool = [] {
        auto *threads = new QThreadPool;
        threads->setMaxThreadCount(qMax(4, QThread::idealThreadCount()));
        return threads;
    }();
    return pool;
}

} // namespace

void QFFileManager::runAsync(std::function<bool()> work, QObject *context, Completion done)
{
    // The result comes back through an object of the context's thread that only the delivery deletes,
    // so it exists when the worker hands the result over; the context itself is looked at there alone.
    auto *relay = new QObject;
    if (context && context->thread() != relay->thread())
        relay->moveToThread(context->thread());
    QPointer<QObject> receiver(context);
    workers()->start([work = std::move(work), relay, receiver, done = std::move(done)]() mutable {
        bool ok = false;
        QFException::guard("file operation", [&] { ok = work && work(); });
        QMetaObject::invokeMethod(
            relay,
            [relay, receiver, done = std::move(done), ok] {
                relay->deleteLater();
                if (receiver && done)
                    done(ok);
            },
            Qt::QueuedConnection);
    });
}

void QFFileManager::trashFileAsync(const QString &path, int timeout, QObject *context, Completion done)
{
    runAsync([path, timeout] { return trashFile(path, timeout); }, context, std::move(done));
}

void QFFileManager::removeFileAsync(const QString &path, int timeout, QObject *context, Completion done)
{
    runAsync([path, timeout] { return removeFile(path, timeout); }, context, std::move(done));
}
