#include "helper/QFMountWatcher.h"

#include "foundation/QFLocalPaths.h"
#include "foundation/platform/QFMountTable.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

QFMountWatcher::QFMountWatcher(Reader reader, int pollMs, QObject *parent)
    : QObject(parent)
    , m_reader(std::move(reader))
{
    if (!m_reader) {
        m_fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
        if (m_fd >= 0) {
            // The kernel marks the table's file exceptional (POLLPRI) whenever a mount comes or goes.
            m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Exception);
            connect(m_notifier.get(), &QSocketNotifier::activated, this, &QFMountWatcher::refresh);
        }
    }
    if (pollMs > 0) {
        m_poll = new QTimer(this);
        m_poll->setInterval(pollMs);
        connect(m_poll, &QTimer::timeout, this, &QFMountWatcher::refresh);
        m_poll->start();
    }
    const QStringList now = volumes(readTable());
    m_known = QSet<QString>(now.cbegin(), now.cend());
}

QFMountWatcher::~QFMountWatcher()
{
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}

QByteArray QFMountWatcher::readTable() const
{
    if (m_reader)
        return m_reader();
    if (m_fd >= 0) {
        QByteArray table;
        char buffer[16384];
        ::lseek(m_fd, 0, SEEK_SET);
        for (;;) {
            const ssize_t length = ::read(m_fd, buffer, sizeof buffer);
            if (length <= 0)
                break;
            table.append(buffer, length);
        }
        return table;
    }
    return QFMountTable::read();
}

QStringList QFMountWatcher::mountPoints(const QByteArray &table)
{
    return QFMountTable::mountPoints(table);
}

QStringList QFMountWatcher::volumes(const QByteArray &table)
{
    QStringList found;
    for (const QString &point : mountPoints(table)) {
        if (QFLocalPaths::volumeRootForPath(point) == point && !found.contains(point))
            found << point;
    }
    return found;
}

QStringList QFMountWatcher::mountedVolumes() const
{
    return volumes(readTable());
}

void QFMountWatcher::refresh()
{
    const QStringList now = volumes(readTable());
    QSet<QString> current;
    for (const QString &volume : now) {
        current.insert(volume);
        if (!m_known.contains(volume))
            Q_EMIT volumeMounted(volume);
    }
    m_known = current;
}
