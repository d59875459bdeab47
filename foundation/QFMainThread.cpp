#include "foundation/QFMainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <sys/syscall.h>
#include <unistd.h>

bool QFMainThread::isCurrent()
{
    if (const QCoreApplication *app = QCoreApplication::instance())
        return QThread::currentThread() == app->thread();
    return static_cast<pid_t>(::syscall(SYS_gettid)) == ::getpid();
}

void QFMainThread::run(const std::function<void()> &work, bool wait)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(app, work, wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}
