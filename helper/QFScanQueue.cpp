#include "helper/QFScanQueue.h"

#include "foundation/QFException.h"

QFScanQueue::QFScanQueue(QObject *parent)
    : QObject(parent)
{
    m_pool.setMaxThreadCount(1);
    // A long-lived thread: the queue is busy every few minutes for the life of the helper.
    m_pool.setExpiryTimeout(-1);
}

QFScanQueue::~QFScanQueue()
{
    m_pool.clear();
    m_pool.waitForDone();
}

void QFScanQueue::addOperation(const QString &name, const QString &argument, std::function<void()> work)
{
    ++m_count;
    Q_EMIT operationQueued(name, argument);
    m_pool.start([this, name, argument, work = std::move(work)] {
        QFException::guard(name.toUtf8().constData(), work);
        --m_count;
        QMetaObject::invokeMethod(
            this, [this, name, argument] { Q_EMIT operationFinished(name, argument); }, Qt::QueuedConnection);
    });
}

int QFScanQueue::operationCount() const
{
    return m_count.load();
}

bool QFScanQueue::waitUntilAllOperationsAreFinished(int timeoutMs)
{
    return m_pool.waitForDone(timeoutMs);
}

void QFScanQueue::cancelPendingOperations()
{
    m_pool.clear();
    // The dropped operations never finish; only the running one still counts.
    m_count = qMin(m_count.load(), m_pool.activeThreadCount());
}
