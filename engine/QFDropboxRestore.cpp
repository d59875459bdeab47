#include "engine/QFDropboxRestore.h"

#include "engine/QFDropboxSync.h"
#include "engine/QFTransferFolder.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFFormat.h"
#include "foundation/platform/QFZip.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Project files compress well (XML often 10 to 20 times); deflate itself goes up to about a thousand.
constexpr qint64 kUnpackRatio = 100;
constexpr qint64 kUnpackSlack = 1024 * 1024;

QFDropboxRestore::Result failWith(QFDropboxRestore::Result result, QString *reason, const QString &text)
{
    QFLog::appendLog("Unable to restore the copy from Dropbox: %@", text);
    if (reason)
        *reason = text;
    return result;
}

mode_t currentUmask()
{
    // Read, not set: umask() alone would change it for every thread for a moment.
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(mask);
            }
        }
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

// Gives the restored file its mode, after making sure it is a regular file and no link.
bool prepareRestored(const QString &restored, unsigned mode, QString *why)
{
    const QByteArray path = QFile::encodeName(restored);
    struct stat before;
    if (::lstat(path.constData(), &before) != 0) {
        *why = QStringLiteral("%1 is missing").arg(QFDropboxSync::printableName(QFileInfo(restored).fileName()));
        return false;
    }
    if (!S_ISREG(before.st_mode)) {
        *why = QStringLiteral("%1 is not a regular file")
                   .arg(QFDropboxSync::printableName(QFileInfo(restored).fileName()));
        return false;
    }
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat after;
    const bool same = fd >= 0 && ::fstat(fd, &after) == 0 && S_ISREG(after.st_mode) && after.st_ino == before.st_ino
        && after.st_dev == before.st_dev;
    const bool set = same && ::fchmod(fd, mode_t(mode) & 0777) == 0;
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    if (!same) {
        *why = QStringLiteral("%1 is not a regular file")
                   .arg(QFDropboxSync::printableName(QFileInfo(restored).fileName()));
        return false;
    }
    if (!set) {
        *why = QStringLiteral("cannot set the mode of %1: %2")
                   .arg(restored, QString::fromLocal8Bit(std::strerror(error)));
        return false;
    }
    return true;
}

QFDropboxRestore::Result putInPlace(const QString &restored, const QString &projectPath, unsigned mode, QString *reason)
{
    QString why;
    if (!prepareRestored(restored, mode, &why))
        return failWith(QFDropboxRestore::Result::CopyFailed, reason, why);

    const QString aside = QFFileManager::uniqueFilename(projectPath);
    const bool hadProject = QFFileManager::existsNoFollow(projectPath);
    if (hadProject && !QFFileManager::moveFile(projectPath, aside, false))
        return failWith(QFDropboxRestore::Result::RenameFailed, reason,
            QStringLiteral("%1 cannot be moved aside").arg(projectPath));
    if (!QFFileManager::moveFile(restored, projectPath, false)) {
        if (hadProject && !QFFileManager::moveFile(aside, projectPath, false))
            QFLog::appendLog("The project file was left at %@.", aside);
        return failWith(QFDropboxRestore::Result::CopyFailed, reason,
            QStringLiteral("the copy cannot be moved to %1").arg(projectPath));
    }
    if (hadProject)
        QFFileManager::trashFile(aside, false);
    return QFDropboxRestore::Result::Restored;
}

} // namespace

qint64 QFDropboxRestore::unpackLimit(qint64 listedSize)
{
    if (listedSize < 0)
        return -1;
    if (listedSize > (std::numeric_limits<qint64>::max() - kUnpackSlack) / kUnpackRatio)
        return std::numeric_limits<qint64>::max();
    return listedSize * kUnpackRatio + kUnpackSlack;
}

unsigned QFDropboxRestore::restoredMode(const QString &projectPath)
{
    struct stat st;
    if (::stat(QFile::encodeName(projectPath).constData(), &st) == 0 && S_ISREG(st.st_mode))
        return unsigned(st.st_mode & 0777);
    return unsigned(0666 & ~currentUmask());
}

QFDropboxRestore::Result QFDropboxRestore::restoreCopy(
    const QString &download, const QString &remoteName, qint64 listedSize, const QString &projectPath, QString *reason)
{
    QString why;
    if (!QFDropboxSync::isRemoteName(remoteName, &why))
        return failWith(Result::CopyFailed, reason,
            qfFormat("“%@” is not a file of the project's folder in Dropbox (%@)",
                QFDropboxSync::printableName(remoteName), why));
    if (remoteName.endsWith(QLatin1String(".zip"), Qt::CaseInsensitive))
        return swapIn(download, remoteName.chopped(4), projectPath, listedSize, reason);
    // Uploaded uncompressed: the download is the version file itself.
    return putInPlace(download, projectPath, restoredMode(projectPath), reason);
}

QFDropboxRestore::Result QFDropboxRestore::swapIn(
    const QString &archive, const QString &fileName, const QString &projectPath, qint64 listedSize, QString *reason)
{
    QString why;
    if (!QFDropboxSync::isRemoteName(fileName, &why))
        return failWith(Result::CopyFailed, reason,
            qfFormat("“%@” cannot be a version file (%@)", QFDropboxSync::printableName(fileName), why));
    const QFTransferFolder folder;
    if (!folder.isValid())
        return failWith(Result::CopyFailed, reason, QStringLiteral("no folder to unpack the copy into"));
    const QString restored = folder.filePath(fileName);
    if (!qfUnzipFile(archive, fileName, restored, unpackLimit(listedSize), restoredMode(projectPath), &why)) {
        // Nothing to put in place: the project file is not touched at all.
        return failWith(Result::CopyFailed, reason, QFDropboxSync::printableName(why));
    }
    return putInPlace(restored, projectPath, restoredMode(projectPath), reason);
}

QString QFDropboxRestore::titleForResult(Result result)
{
    return result == Result::Restored ? QStringLiteral("Backup restored") : QStringLiteral("Failed to restore project");
}

QString QFDropboxRestore::messageForResult(Result result)
{
    switch (result) {
    case Result::Restored:
        return QStringLiteral("The backup was restored successfully.");
    case Result::RenameFailed:
        return QStringLiteral("Unable to rename old project.");
    case Result::CopyFailed:
        break;
    }
    return QStringLiteral("Unable to copy file.");
}
