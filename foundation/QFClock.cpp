#include "foundation/QFClock.h"

#include <QMutex>

#include <atomic>

namespace {

QMutex s_lock;
std::function<qint64()> s_source;
// Read without the lock on every call: set only while a test replaces the clock.
std::atomic<bool> s_replaced { false };

} // namespace

QDateTime QFClock::now()
{
    return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch());
}

qint64 QFClock::msecsSinceEpoch()
{
    if (s_replaced.load(std::memory_order_acquire)) {
        QMutexLocker lock(&s_lock);
        if (s_source)
            return s_source();
    }
    return QDateTime::currentMSecsSinceEpoch();
}

void QFClock::setSource(std::function<qint64()> source)
{
    QMutexLocker lock(&s_lock);
    s_source = std::move(source);
    s_replaced.store(bool(s_source), std::memory_order_release);
}
