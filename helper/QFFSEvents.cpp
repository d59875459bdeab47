#include "helper/QFFSEvents.h"

#include "foundation/QFClock.h"
#include "foundation/QFLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

constexpr quint32 kMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO
    | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

QFFSEvents::WatchAdder s_watchAdder;

// Identifiers keep growing across restarts of the stream and of the program.
std::atomic<quint64> s_nextEventId { quint64(QDateTime::currentMSecsSinceEpoch()) * 1000 };

int addWatchDescriptor(int fd, const QByteArray &path, quint32 mask)
{
    if (s_watchAdder)
        return s_watchAdder(fd, path, mask);
    return inotify_add_watch(fd, path.constData(), mask);
}

qint64 userWatchLimit()
{
    QFile file(QStringLiteral("/proc/sys/fs/inotify/max_user_watches"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return file.readAll().trimmed().toLongLong();
}

QString cleanFolder(const QString &path)
{
    return QDir::cleanPath(path);
}

QString joined(const QString &folder, const QString &name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

QString quoted(const QString &text)
{
    QString escaped = text;
    escaped.replace(u'\\', QLatin1String("\\\\")).replace(u'"', QLatin1String("\\\""));
    return u'"' + escaped + u'"';
}

} // namespace

QVariantMap QFFSEventRecord::toDictionary() const
{
    return { { QStringLiteral("id"), QVariant::fromValue(id) }, { QStringLiteral("path"), path },
        { QStringLiteral("flag"), flag }, { QStringLiteral("date"), date } };
}

QString QFFSEventRecord::description() const
{
    return qfFormat("{date = \"%@\"; flag = %@; id = %@; path = %@;}", QFLog::dateDescription(date), flag,
        QString::number(id), quoted(path));
}

QFFSEvents *QFFSEvents::sharedController()
{
    static QFFSEvents *instance = new QFFSEvents();
    return instance;
}

QFFSEvents::QFFSEvents()
    : m_latencyTimer(new QTimer(this))
{
    m_latencyTimer->setSingleShot(true);
    connect(m_latencyTimer, &QTimer::timeout, this, &QFFSEvents::onLatencyTimeout);
}

QFFSEvents::~QFFSEvents()
{
    stopWatching();
}

void QFFSEvents::setWatchAdder(WatchAdder adder)
{
    s_watchAdder = std::move(adder);
}

void QFFSEvents::setWatchPaths(const QStringList &paths)
{
    m_watchPaths = paths;
}

void QFFSEvents::startWatchingPaths(const QStringList &paths, double latency)
{
    stopWatching();
    m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) {
        QFLog::appendLog("Unable to start file system events: %@", QString::fromLocal8Bit(strerror(errno)));
        m_watchPaths = paths;
        return;
    }
    m_latencyTimer->setInterval(qMax(0, int(latency * 1000)));
    m_roots.clear();
    for (const QString &path : paths)
        m_roots.insert(cleanFolder(path));
    for (const QString &path : paths)
        addTree(cleanFolder(path), false);
    watchForMissingRoots();
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &QFFSEvents::onNotifierActivated);
    m_watchPaths = paths;
}

void QFFSEvents::addWatchPaths(const QStringList &paths, double latency)
{
    QStringList all = m_watchPaths;
    for (const QString &path : paths) {
        if (!all.contains(path))
            all << path;
    }
    startWatchingPaths(all, latency);
}

void QFFSEvents::removeWatchPaths(const QStringList &paths, double latency)
{
    QStringList rest = m_watchPaths;
    for (const QString &path : paths)
        rest.removeAll(path);
    startWatchingPaths(rest, latency);
}

void QFFSEvents::stopWatching()
{
    m_notifier.reset();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_latencyTimer->stop();
    m_pathOfWatch.clear();
    m_watchOfPath.clear();
    m_anchorOfWatch.clear();
    m_missingRoots.clear();
    m_pendingOrder.clear();
    m_pendingFlags.clear();
    m_watchPaths.clear();
    m_roots.clear();
}

bool QFFSEvents::isExcluded(const QString &path) const
{
    for (const QString &excluded : m_excludedPaths) {
        if (path == excluded || path.startsWith(excluded + u'/'))
            return true;
    }
    return false;
}

QFFSEvents::AddResult QFFSEvents::addWatch(const QString &path)
{
    const int wd = addWatchDescriptor(m_fd, QFile::encodeName(path), kMask);
    if (wd < 0) {
        if (errno != ENOSPC)
            return AddResult::Failed;
        if (!m_limitLogged) {
            m_limitLogged = true;
            QFLog::appendLog("File system events: the limit of %li inotify watches is reached at %@; the folders left "
                             "out are covered by the scheduled scans.",
                long(userWatchLimit()), path);
        }
        return AddResult::LimitReached;
    }
    // A folder reached twice (overlapping watch paths, a link) keeps the path it was first watched under.
    const QString previous = m_pathOfWatch.value(wd);
    if (!previous.isEmpty() && previous != path && m_watchOfPath.value(previous) == wd && QFileInfo::exists(previous))
        return AddResult::Added;
    if (!previous.isEmpty())
        m_watchOfPath.remove(previous);
    m_pathOfWatch.insert(wd, path);
    m_watchOfPath.insert(path, wd);
    return AddResult::Added;
}

void QFFSEvents::addTree(const QString &root, bool reportNew)
{
    if (m_fd < 0 || isExcluded(root))
        return;
    QStringList stack { root };
    while (!stack.isEmpty()) {
        const QString folder = stack.takeLast();
        const AddResult added = addWatch(folder);
        if (added == AddResult::LimitReached)
            return;
        if (added == AddResult::Failed)
            continue;
        // What appeared before its watch existed must not go unreported.
        if (reportNew)
            noteChange(folder, QFFSEventRecord::None);
        DIR *dir = ::opendir(QFile::encodeName(folder).constData());
        if (!dir)
            continue;
        while (const struct dirent *entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            const QString child = joined(folder, QFile::decodeName(entry->d_name));
            bool isDir = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                const QFileInfo info(child);
                isDir = info.isDir() && !info.isSymLink();
            }
            if (isDir && !isExcluded(child))
                stack << child;
        }
        ::closedir(dir);
    }
}

void QFFSEvents::watchForMissingRoots()
{
    if (m_fd < 0)
        return;
    for (const QString &root : std::as_const(m_roots)) {
        if (m_watchOfPath.contains(root)) {
            m_missingRoots.remove(root);
            continue;
        }
        if (QFileInfo(root).isDir()) {
            // Back (made again, moved back, its drive mounted): watched with everything in it, and reported,
            // since what it holds appeared while nobody watched.
            addTree(root, true);
            if (m_missingRoots.remove(root))
                QFLog::appendLog("File system events: %@ is back; watching it again.", root);
            continue;
        }
        if (!m_missingRoots.contains(root)) {
            m_missingRoots.insert(root);
            QFLog::appendLog("File system events: %@ does not exist; watching for it to appear.", root);
        }
        // The nearest folder above it that exists tells when the next step of its path appears.
        QString ancestor = QFileInfo(root).path();
        while (!QFileInfo(ancestor).isDir() && ancestor != QLatin1String("/"))
            ancestor = QFileInfo(ancestor).path();
        const int wd
            = addWatchDescriptor(m_fd, QFile::encodeName(ancestor), IN_CREATE | IN_MOVED_TO | IN_ONLYDIR | IN_MASK_ADD);
        if (wd >= 0)
            m_anchorOfWatch.insert(wd, ancestor);
    }
}

void QFFSEvents::removeTree(const QString &path)
{
    const QString prefix = path + u'/';
    QList<int> gone;
    for (auto it = m_watchOfPath.cbegin(); it != m_watchOfPath.cend(); ++it) {
        if (it.key() == path || it.key().startsWith(prefix))
            gone << it.value();
    }
    for (int wd : gone) {
        inotify_rm_watch(m_fd, wd);
        m_watchOfPath.remove(m_pathOfWatch.take(wd));
    }
}

void QFFSEvents::noteChange(const QString &folder, quint32 flags)
{
    auto it = m_pendingFlags.find(folder);
    if (it == m_pendingFlags.end()) {
        m_pendingOrder << folder;
        m_pendingFlags.insert(folder, flags);
    } else {
        *it |= flags;
    }
}

void QFFSEvents::noteOverflow()
{
    QFLog::appendLog("File system events: the event queue overflowed; rescanning the watch paths.");
    for (const QString &path : std::as_const(m_watchPaths)) {
        const QString root = cleanFolder(path);
        addTree(root, false);
        noteChange(root, QFFSEventRecord::MustScanSubDirs | QFFSEventRecord::KernelDropped);
    }
}

void QFFSEvents::onNotifierActivated()
{
    alignas(struct inotify_event) char buffer[64 * 1024];
    bool overflow = false;
    bool rootsChanged = false;
    for (;;) {
        const ssize_t length = ::read(m_fd, buffer, sizeof buffer);
        if (length <= 0)
            break;
        for (ssize_t offset = 0; offset < length;) {
            const auto *event = reinterpret_cast<const struct inotify_event *>(buffer + offset);
            offset += ssize_t(sizeof(struct inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                overflow = true;
                continue;
            }
            if (event->mask & IN_IGNORED) {
                const QString path = m_pathOfWatch.take(event->wd);
                if (!path.isEmpty() && m_watchOfPath.value(path) == event->wd)
                    m_watchOfPath.remove(path);
                // A watch path (or the folder above a missing one) went away: watch for its return.
                if (m_anchorOfWatch.remove(event->wd) > 0 || m_roots.contains(path))
                    rootsChanged = true;
                continue;
            }
            if (m_anchorOfWatch.contains(event->wd) && (event->mask & IN_ISDIR)
                && (event->mask & (IN_CREATE | IN_MOVED_TO)))
                rootsChanged = true;
            const QString folder = m_pathOfWatch.value(event->wd);
            if (folder.isEmpty())
                continue;
            const bool isRoot = m_roots.contains(folder);
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
                if (isRoot)
                    noteChange(folder, QFFSEventRecord::RootChanged);
                // A watch path moved away leaves its name free: what is made under it later is watched.
                if (isRoot && (event->mask & IN_MOVE_SELF)) {
                    removeTree(folder);
                    rootsChanged = true;
                }
                continue;
            }
            if (event->mask & IN_UNMOUNT) {
                noteChange(folder, QFFSEventRecord::Unmount);
                continue;
            }
            noteChange(folder, QFFSEventRecord::None);
            if (event->len == 0 || !(event->mask & IN_ISDIR))
                continue;
            const QString name = QFile::decodeName(event->name);
            if (name.startsWith(u'.'))
                continue;
            const QString child = joined(folder, name);
            if (event->mask & IN_MOVED_FROM)
                removeTree(child);
            else if (event->mask & (IN_CREATE | IN_MOVED_TO))
                addTree(child, true);
        }
    }
    if (rootsChanged)
        watchForMissingRoots();
    if (overflow)
        noteOverflow();
    if (!m_pendingOrder.isEmpty() && !m_latencyTimer->isActive()) {
        deliver();
        m_latencyTimer->start();
    }
}

void QFFSEvents::onLatencyTimeout()
{
    if (m_pendingOrder.isEmpty())
        return;
    deliver();
    m_latencyTimer->start();
}

void QFFSEvents::deliver()
{
    const QDateTime now = QFClock::now();
    QList<QFFSEventRecord> records;
    records.reserve(m_pendingOrder.size());
    for (const QString &folder : std::as_const(m_pendingOrder)) {
        QFFSEventRecord record;
        record.id = s_nextEventId++;
        record.path = folder.endsWith(u'/') ? folder : folder + u'/';
        record.flags = m_pendingFlags.value(folder);
        record.flag = qfFormat("%04x", record.flags);
        record.date = now;
        records << record;
    }
    m_pendingOrder.clear();
    m_pendingFlags.clear();
    if (m_delegate)
        m_delegate->fileSystemEventsReceived(records);
    Q_EMIT eventsDelivered(records);
}
