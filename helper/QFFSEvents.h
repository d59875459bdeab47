#pragma once

// The file-system event stream of the helper, on inotify: every watch path is watched with all the
// folders below it (folders created or moved in later join at once). Events are gathered per folder:
// the first change after a quiet period is delivered at once, later ones are gathered for the latency
// and delivered together. One instance per process; it lives on the thread that first asks for it
// (the main thread in the helper), and the delegate is called there.
//
// Folders whose names begin with "." and the excluded folders (the version store, the logs) are not
// watched below a watch path, so that the system's own writes never feed its stream. When the kernel's
// queue overflows, every watch path is reported with the flags MustScanSubDirs and KernelDropped, so
// that nothing is missed silently. Reaching the user's inotify watch limit is logged once; the folders
// left out are still covered by the full scans. A watch path that is deleted (or does not exist yet) is
// watched for from the nearest folder above it and watched again, with a report, once it is back.

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>

class QSocketNotifier;
class QTimer;

// One changed folder of a batch. path ends with "/"; flag is flags as "%04x"; date is the moment the
// batch was delivered, the same for every record of it.
struct QFFSEventRecord {
    // The event-stream flags the records use.
    enum Flags : quint32 {
        None = 0x0000,
        MustScanSubDirs = 0x0001,
        KernelDropped = 0x0004,
        RootChanged = 0x0020,
        Unmount = 0x0080,
    };

    quint64 id = 0;
    QString path;
    quint32 flags = None;
    QString flag;
    QDateTime date;

    // The dictionary with the keys id, path, flag and date.
    QVariantMap toDictionary() const;
    // "{date = …; flag = 0000; id = 12; path = "/a/b/";}"
    QString description() const;
};

class QFFSEventsDelegate {
public:
    virtual ~QFFSEventsDelegate() = default;
    virtual void fileSystemEventsReceived(const QList<QFFSEventRecord> &events) = 0;
};

class QFFSEvents final : public QObject {
    Q_OBJECT

public:
    static QFFSEvents *sharedController();
    ~QFFSEvents() override;

    // Not owned; cleared with setDelegate(nullptr) before it goes away.
    QFFSEventsDelegate *delegate() const { return m_delegate; }
    void setDelegate(QFFSEventsDelegate *delegate) { m_delegate = delegate; }

    // The paths of the running stream; empty when stopped.
    QStringList watchPaths() const { return m_watchPaths; }
    void setWatchPaths(const QStringList &paths);

    // Folders never watched below a watch path (the version store, the logs). Used at the next start.
    QStringList excludedPaths() const { return m_excludedPaths; }
    void setExcludedPaths(const QStringList &paths) { m_excludedPaths = paths; }

    // latency in seconds. Paths that do not exist are kept in watchPaths and watched once they appear.
    void startWatchingPaths(const QStringList &paths, double latency = 1.0);
    void addWatchPaths(const QStringList &paths, double latency = 1.0);
    void removeWatchPaths(const QStringList &paths, double latency = 1.0);
    // Safe when nothing runs.
    void stopWatching();

    bool isWatching() const { return m_fd >= 0; }
    // The number of folders watched now.
    qsizetype watchedFolderCount() const { return m_pathOfWatch.size(); }

    // Seam: how a watch is added (default inotify_add_watch); returns the watch descriptor or -1 with errno.
    using WatchAdder = std::function<int(int fd, const QByteArray &path, quint32 mask)>;
    static void setWatchAdder(WatchAdder adder);

Q_SIGNALS:
    // Emitted after the delegate has been called with the same batch.
    void eventsDelivered(const QList<QFFSEventRecord> &events);

private:
    QFFSEvents();
    Q_DISABLE_COPY_MOVE(QFFSEvents)

    void onNotifierActivated();
    void onLatencyTimeout();
    enum class AddResult { Added, Failed, LimitReached };
    void addTree(const QString &path, bool reportNew);
    AddResult addWatch(const QString &path);
    void removeTree(const QString &path);
    // Watches again each watch path that is back; for each one missing, watches the nearest folder above
    // it for its return.
    void watchForMissingRoots();
    bool isExcluded(const QString &path) const;
    void noteChange(const QString &folder, quint32 flags);
    void deliver();
    void noteOverflow();

    QFFSEventsDelegate *m_delegate = nullptr;
    QStringList m_watchPaths;
    QStringList m_excludedPaths;
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer *m_latencyTimer = nullptr;
    QHash<int, QString> m_pathOfWatch;
    QHash<QString, int> m_watchOfPath;
    // The batch being gathered: folders in the order of their first change, with their flags.
    QStringList m_pendingOrder;
    QHash<QString, quint32> m_pendingFlags;
    QSet<QString> m_roots;
    // Folders above missing watch paths, by watch descriptor; their events only re-arm the watch paths
    // (a descriptor may also be in m_pathOfWatch when the folder lies inside another watched tree).
    QHash<int, QString> m_anchorOfWatch;
    QSet<QString> m_missingRoots;
    // Once per process: the limit stays the same until someone raises it.
    bool m_limitLogged = false;
};
