#pragma once

// An advisory lock that every program of the system takes before it reads a shared file it is about to
// rewrite (property lists of projects, preferences, change-list caches), and holds until the new file is
// in place, so two writers never lose each other's changes. The lock is flock(2) on a hidden file beside
// the locked one (".NAME.lock"), since the locked file itself is replaced by each atomic write. Threads
// of one program exclude each other as processes do. Not reentrant: a thread that holds the lock of a
// file must not take it again.

#include <QString>

class QFFileLock final {
public:
    // Waits until the lock of path is free. A folder where no lock file can be made (read-only, missing)
    // leaves the lock untaken; writing there fails on its own.
    explicit QFFileLock(const QString &path);
    ~QFFileLock();
    QFFileLock(const QFFileLock &) = delete;
    QFFileLock &operator=(const QFFileLock &) = delete;

    bool isLocked() const { return m_fd >= 0; }
    static QString lockFilePath(const QString &path);

private:
    int m_fd = -1;
};
