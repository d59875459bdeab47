#include "helper/QFMountWatcher.h"

#include "foundation/QFLocalPaths.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Decodes the octal escapes (\040 for a blank …) of a mountinfo field.
QString unescapeField(const QByteArray &field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int value = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out += char(value);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return QFile::decodeName(out);
}

} // namespace

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
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList QFMountWatcher::mountPoints(const QByteArray &table)
{
    QStringList points;
    for (const QByteArray &line : table.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() > 4)
            points << unescapeField(fields[4]);
    }
    return points;
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
