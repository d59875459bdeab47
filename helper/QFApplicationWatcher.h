#pragma once

// Notices programs of bundles ending: the processes of this user that run from a bundle are looked up at
// an interval, and each one that has gone since the last look is reported with its bundle identifier.
// A look costs one listing of /proc and one link read per process outside a bundle.

#include <QHash>
#include <QObject>
#include <QString>

class QTimer;

class QFApplicationWatcher final : public QObject {
    Q_OBJECT

public:
    explicit QFApplicationWatcher(int intervalMs, QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(QFApplicationWatcher)

    // Looks now; the timer does the same.
    void refresh();

Q_SIGNALS:
    void applicationTerminated(const QString &bundleIdentifier, qint64 pid);

private:
    QTimer *m_timer = nullptr;
    // Every process seen, with its bundle identifier (empty when it runs from no bundle).
    QHash<qint64, QString> m_seen;
};
