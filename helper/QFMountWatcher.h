#pragma once

// Mounted volumes and their arrival. The mount table is read through a reader (default:
// /proc/self/mountinfo); a volume is a mount point that is a volume root (/media/USER/NAME,
// /run/media/USER/NAME, /mnt/NAME). Changes are noticed when the kernel signals a change of the table,
// or, with a poll interval, by reading it again at that interval. Lives on the thread that creates it.

#include <QObject>
#include <QSet>
#include <QStringList>

#include <functional>
#include <memory>

class QSocketNotifier;
class QTimer;

class QFMountWatcher final : public QObject {
    Q_OBJECT

public:
    using Reader = std::function<QByteArray()>;

    // An empty reader reads /proc/self/mountinfo and is told of changes by the kernel; pollMs > 0 reads
    // the table again at that interval as well.
    explicit QFMountWatcher(Reader reader = {}, int pollMs = 0, QObject *parent = nullptr);
    ~QFMountWatcher() override;
    Q_DISABLE_COPY_MOVE(QFMountWatcher)

    // The mount points of a table in mountinfo form, in its order.
    static QStringList mountPoints(const QByteArray &table);
    // Those of them that are volume roots.
    static QStringList volumes(const QByteArray &table);
    // The volumes mounted now.
    QStringList mountedVolumes() const;

    // Reads the table again and reports the volumes that appeared since the last reading.
    void refresh();

Q_SIGNALS:
    void volumeMounted(const QString &mountPoint);

private:
    QByteArray readTable() const;

    Reader m_reader;
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer *m_poll = nullptr;
    QSet<QString> m_known;
};
