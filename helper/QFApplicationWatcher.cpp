#include "helper/QFApplicationWatcher.h"

#include "foundation/platform/QFRunningApplications.h"

#include <QSet>
#include <QTimer>

QFApplicationWatcher::QFApplicationWatcher(int intervalMs, QObject *parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
{
    m_timer->setInterval(intervalMs);
    connect(m_timer, &QTimer::timeout, this, &QFApplicationWatcher::refresh);
    refresh();
    m_timer->start();
}

void QFApplicationWatcher::refresh()
{
    const QList<qint64> pids = QFRunningApplications::processIds();
    const QSet<qint64> alive(pids.cbegin(), pids.cend());
    QList<std::pair<QString, qint64>> ended;
    for (auto it = m_seen.begin(); it != m_seen.end();) {
        if (alive.contains(it.key())) {
            ++it;
            continue;
        }
        if (!it.value().isEmpty())
            ended.append({ it.value(), it.key() });
        it = m_seen.erase(it);
    }
    for (qint64 pid : pids) {
        // A process caught between its fork and its exec shows its parent's program; look again later.
        auto it = m_seen.find(pid);
        if (it == m_seen.end())
            m_seen.insert(pid, QFRunningApplications::bundleIdentifierOfProcess(pid));
        else if (it->isEmpty())
            *it = QFRunningApplications::bundleIdentifierOfProcess(pid);
    }
    for (const auto &[identifier, pid] : ended)
        Q_EMIT applicationTerminated(identifier, pid);
}
