#include "foundation/platform/QFFileLock.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

QFFileLock::QFFileLock(const QString &path)
{
    if (path.isEmpty())
        return;
    const QByteArray lockPath = QFile::encodeName(lockFilePath(path));
    m_fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (m_fd < 0)
        return;
    while (::flock(m_fd, LOCK_EX) != 0) {
        if (errno == EINTR)
            continue;
        ::close(m_fd);
        m_fd = -1;
        return;
    }
}

QFFileLock::~QFFileLock()
{
    // Closing the descriptor releases the lock. The lock file stays: removing it would let a waiting
    // writer lock a file that a newcomer no longer sees.
    if (m_fd >= 0)
        ::close(m_fd);
}

QString QFFileLock::lockFilePath(const QString &path)
{
    const QFileInfo info(path);
    return info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".lock");
}
