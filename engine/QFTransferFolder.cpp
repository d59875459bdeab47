#include "engine/QFTransferFolder.h"

#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFFileCopy.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// "ProTombrel-transfer-PID-XXXXXX": the process id tells a transfer under way from one whose process died.
const QString kPrefix = QStringLiteral("ProTombrel-transfer-");

} // namespace

QFTransferFolder::QFTransferFolder()
{
    removeStale();
    const QString pattern
        = QFLocalPaths::tempDirectory() + u'/' + kPrefix + QString::number(::getpid()) + QStringLiteral("-XXXXXX");
    QByteArray path = QFile::encodeName(pattern);
    // mkdtemp makes the folder with mode 0700 under a name nobody else can have taken.
    if (::mkdtemp(path.data()))
        m_path = QFile::decodeName(path);
    else
        QFLog::appendLog("Unable to create a folder for the transfer in %@: %@", QFLocalPaths::tempDirectory(),
            QString::fromLocal8Bit(std::strerror(errno)));
}

QFTransferFolder::~QFTransferFolder()
{
    if (!m_path.isEmpty())
        qfDiscardItem(m_path);
}

QString QFTransferFolder::filePath(const QString &name) const
{
    return m_path + u'/' + name;
}

int QFTransferFolder::removeStale()
{
    const QString temp = QFLocalPaths::tempDirectory();
    const QStringList entries
        = QDir(temp).entryList({ kPrefix + u'*' }, QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    int removed = 0;
    for (const QString &entry : entries) {
        bool ok = false;
        const qint64 pid = entry.mid(kPrefix.size()).section(u'-', 0, 0).toLongLong(&ok);
        if (!ok || pid <= 0 || pid == ::getpid())
            continue;
        if (::kill(pid_t(pid), 0) == 0 || errno == EPERM)
            continue; // its transfer may still run
        const QString path = temp + u'/' + entry;
        struct stat st;
        // Only the user's own folders: a name alone proves nothing in a folder everybody writes to.
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
            continue;
        qfDiscardItem(path);
        ++removed;
    }
    return removed;
}
