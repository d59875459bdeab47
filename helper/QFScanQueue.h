#pragma once

// The helper's serial operation queue: one background thread runs the queued operations one at a
// time, in the order they were queued. Each operation has a name and an argument (its folder), so that
// the log and observers can tell what is queued. Operations still waiting when the queue goes away are
// abandoned; the running one is waited for. Queue from the thread that owns the queue.

#include <QObject>
#include <QString>
#include <QThreadPool>

#include <functional>

class QFScanQueue final : public QObject {
    Q_OBJECT

public:
    explicit QFScanQueue(QObject *parent = nullptr);
    ~QFScanQueue() override;
    Q_DISABLE_COPY_MOVE(QFScanQueue)

    // At most 1 operation at a time.
    int maxConcurrentOperationCount() const { return m_pool.maxThreadCount(); }

    void addOperation(const QString &name, const QString &argument, std::function<void()> work);
    // Operations queued and not yet finished (the running one included).
    int operationCount() const;
    // Drops the operations not yet started; the running one goes on to its end.
    void cancelPendingOperations();
    // Waits until every queued operation has finished; false when the deadline passed first.
    bool waitUntilAllOperationsAreFinished(int timeoutMs = -1);

Q_SIGNALS:
    void operationQueued(const QString &name, const QString &argument);
    // Delivered on the owner's thread.
    void operationFinished(const QString &name, const QString &argument);

private:
    QThreadPool m_pool;
    std::atomic<int> m_count { 0 };
};
