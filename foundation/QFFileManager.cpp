#include "foundation/QFFileManager.h"

#include "foundation/QFAuthorization.h"
#include "foundation/QFClock.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/QFTaskEx.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFFileCopy.h"
#include "foundation/platform/QFShutdown.h"
#include "foundation/platform/QFMountTable.h"
#include "foundation/platform/QFSystemLog.h"
#include "foundation/platform/QFZip.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

QMutex s_mountLock;
std::function<QByteArray()> s_mountReader;

std::atomic<qint64> s_writeQuietMs { 4000 };

QByteArray encode(const QString &path)
{
    return QFile::encodeName(path);
}

// Waits until the state holds or the time-out has passed, looking again every tenth of a second. No
// events run meanwhile on any thread: an action of the window cannot be started again half done.
bool pollUntil(const std::function<bool()> &state, int timeoutSeconds)
{
    if (state())
        return true;
    QElapsedTimer clock;
    clock.start();
    const qint64 limit = qint64(qMax(0, timeoutSeconds)) * 1000;
    while (clock.elapsed() < limit) {
        QThread::msleep(100);
        if (state())
            return true;
    }
    return state();
}

// Whether the last failure was a matter of permissions, which the administrator could overcome.
bool permissionDenied()
{
    return errno == EACCES || errno == EPERM;
}

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool isMountPoint(const QString &folder)
{
    std::function<QByteArray()> reader;
    {
        QMutexLocker lock(&s_mountLock);
        reader = s_mountReader;
    }
    const QByteArray table = reader ? reader() : QFMountTable::read();
    return QFMountTable::mountPoints(table).contains(QDir::cleanPath(folder));
}

bool isFolderEmptyIgnoring(const QString &path)
{
    QDir dir(path);
    const QStringList entries = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        if (entry == QLatin1String(".DS_Store") || entry == QLatin1String("Icon\r"))
            continue;
        const QString child = dir.filePath(entry);
        const QFileInfo info(child);
        if (info.isDir() && !info.isSymLink()) {
            if (!isFolderEmptyIgnoring(child))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

bool removeTree(const QString &path, QString *reason)
{
    const QByteArray native = encode(path);
    struct stat st;
    if (::lstat(native.constData(), &st) != 0)
        return true;
    if (!S_ISDIR(st.st_mode)) {
        if (::unlink(native.constData()) != 0) {
            *reason = errnoText();
            return false;
        }
        return true;
    }
    QDir dir(path);
    const QStringList entries = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        if (!removeTree(dir.filePath(entry), reason))
            return false;
    }
    if (::rmdir(native.constData()) != 0) {
        *reason = errnoText();
        return false;
    }
    return true;
}

} // namespace

void QFFileManager::setMountTableReader(std::function<QByteArray()> reader)
{
    QMutexLocker lock(&s_mountLock);
    s_mountReader = std::move(reader);
}

bool QFFileManager::existsNoFollow(const QString &path)
{
    struct stat st;
    return !path.isEmpty() && ::lstat(encode(path).constData(), &st) == 0;
}

bool QFFileManager::fileExistsAtPath(const QString &path)
{
    return !path.isEmpty() && QFileInfo::exists(path);
}

bool QFFileManager::isDirectoryAtPath(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

bool QFFileManager::isDriveMountedForPath(const QString &path)
{
    const QString volume = QFLocalPaths::volumeRootForPath(path);
    if (volume.isEmpty())
        return true;
    qfSystemLog(qfFormat("mountpoint: %@", volume));
    return isMountPoint(volume);
}

bool QFFileManager::isFolderEmpty(const QString &path)
{
    return isFolderEmptyIgnoring(path);
}

quint64 QFFileManager::fileSize(const QString &path)
{
    struct stat st;
    if (path.isEmpty() || ::lstat(encode(path).constData(), &st) != 0)
        return 0;
    if (!S_ISDIR(st.st_mode))
        return quint64(st.st_size);
    quint64 total = 0;
    QDirIterator it(
        path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (!info.isDir() || info.isSymLink())
            total += quint64(info.isSymLink() ? 0 : info.size());
    }
    return total;
}

QString QFFileManager::formatFileSize(double bytes)
{
    if (bytes < 1024)
        return qfFormat("%0.0f B", bytes);
    if (bytes < 1048576)
        return qfFormat("%0.2f KB", bytes / 1024);
    if (bytes < 1073741824)
        return qfFormat("%0.2f MB", bytes / 1048576);
    return qfFormat("%0.2f GB", bytes / 1073741824);
}

QString QFFileManager::uniqueFilename(const QString &path)
{
    if (!QFFileManager::existsNoFollow(path))
        return path;
    const QFileInfo info(path);
    const QString name = info.fileName();
    const QString extension = info.suffix();
    // A leading dot alone does not make an extension (".hidden").
    const bool hasExtension = !extension.isEmpty() && name.size() > extension.size() + 1;
    const QString folder = path.left(path.size() - name.size());
    const QString base = hasExtension ? name.left(name.size() - extension.size() - 1) : name;
    for (long counter = 2;; ++counter) {
        QString candidate = folder + base + qfFormat(" %li", counter);
        if (hasExtension)
            candidate += u'.' + extension;
        if (!QFFileManager::existsNoFollow(candidate))
            return candidate;
    }
}

bool QFFileManager::unlockFile(const QString &path)
{
    const int fd = ::open(encode(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return !QFFileManager::existsNoFollow(path) || errno == ELOOP;
    int flags = 0;
    bool ok = true;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_IMMUTABLE_FL)) {
        flags &= ~FS_IMMUTABLE_FL;
        if (::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) {
            QFLog::fastAppendLog("Unable to unlock file %@: %@", path, errnoText());
            ok = false;
        }
    }
    ::close(fd);
    return ok;
}

void QFFileManager::unlockFolder(const QString &path)
{
    QDir dir(path);
    const QFileInfoList entries
        = dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (entry.isSymLink())
            continue;
        if (entry.isDir())
            unlockFolder(entry.filePath());
        unlockFile(entry.filePath());
    }
}

bool QFFileManager::trashFile(const QString &path, bool shouldAuth)
{
    if (path.isEmpty())
        return false;
    unlockFile(path);
    if (!QFFileManager::existsNoFollow(path))
        return true;
    // Qt puts the item into a Trash of the current folder when the data folder does not exist yet.
    const QString data = QFLocalPaths::libraryDirectory(true);
    if (!data.isEmpty())
        QDir().mkpath(data + QStringLiteral("/Trash/files"));
    QFile file(path);
    if (file.moveToTrash())
        return true;
    return shouldAuth && QFAuthorization::sharedController()->authTrashFile(path);
}

bool QFFileManager::trashFile(const QString &path, int timeout)
{
    if (!trashFile(path, true))
        return false;
    return pollUntil([&] { return !QFFileManager::existsNoFollow(path); }, timeout);
}

bool QFFileManager::removeFile(const QString &path, bool shouldAuth)
{
    if (path.isEmpty())
        return false;
    unlockFile(path);
    if (!QFFileManager::existsNoFollow(path))
        return true;
    QString reason;
    if (removeTree(path, &reason))
        return true;
    QFLog::appendLog("Error removing file: %@. Authorizing...", reason);
    return shouldAuth && QFAuthorization::sharedController()->authRemoveFile(path);
}

bool QFFileManager::removeFile(const QString &path, int timeout)
{
    if (!removeFile(path, true))
        return false;
    return pollUntil([&] { return !QFFileManager::existsNoFollow(path); }, timeout);
}

bool QFFileManager::createDirectory(const QString &path, bool shouldAuth)
{
    if (path.isEmpty())
        return false;
    if (!isDriveMountedForPath(path)) {
        qfSystemLog(QStringLiteral("Unable to create directory. Drive is not mounted."));
        return false;
    }
    if (QFileInfo(path).isDir())
        return true;
    if (QDir().mkpath(path))
        return true;
    QFLog::appendLog("Error creating folder: %@. Authorizing...", qfFormat("cannot create %@", path));
    return shouldAuth && QFAuthorization::sharedController()->authCreateDir(path);
}

bool QFFileManager::createDirectory(const QString &path, int timeout)
{
    if (!createDirectory(path, true))
        return false;
    return pollUntil([&] { return QFileInfo(path).isDir(); }, timeout);
}

bool QFFileManager::copyFile(const QString &source, const QString &destination, bool shouldAuth)
{
    if (source.isEmpty()) {
        QFLog::appendLogAndPrint("Error copying file: source path is nil");
        return false;
    }
    if (destination.isEmpty()) {
        QFLog::appendLogAndPrint("Error copying file %@: destination path is nil", source);
        return false;
    }
    unlockFile(QFileInfo(destination).absolutePath());
    QString reason;
    if (qfCopyItem(source, destination, &reason))
        return true;
    const bool denied = permissionDenied();
    QFLog::appendLog("Error copying file: %@. Authorizing...", reason);
    // The administrator's copy replaces what it finds; it is only for a copy the user may not make.
    return shouldAuth && denied && QFAuthorization::sharedController()->authCopyFile(source, destination);
}

bool QFFileManager::copyFile(const QString &source, const QString &destination, int timeout)
{
    if (!copyFile(source, destination, true))
        return false;
    return pollUntil([&] { return QFFileManager::existsNoFollow(destination); }, timeout);
}

bool QFFileManager::moveFile(const QString &source, const QString &destination, bool shouldAuth)
{
    if (source.isEmpty() || destination.isEmpty())
        return false;
    if (QFFileManager::existsNoFollow(destination))
        unlockFile(destination);
    unlockFolder(destination + u'/' + QFileInfo(source).fileName());

    QString reason;
    if (source.compare(destination, Qt::CaseInsensitive) == 0 && source != destination) {
        // A change of letter case only: go through a free name, as a case-blind volume would need.
        const QString step = uniqueFilename(destination);
        if (step == destination) {
            if (qfMoveItem(source, destination, &reason))
                return true;
        } else if (qfMoveItem(source, step, &reason) && qfMoveItem(step, destination, &reason)) {
            return true;
        }
    }
    if (qfMoveItem(source, destination, &reason))
        return true;
    const bool denied = permissionDenied();
    QFLog::appendLog("Error moving file: %@.", reason);
    // The administrator's move replaces what it finds; it is only for a move the user may not make.
    if (!shouldAuth || !denied)
        return false;
    QFLog::appendLog("Authorizing...");
    return QFAuthorization::sharedController()->authMoveFile(source, destination);
}

bool QFFileManager::moveFile(const QString &source, const QString &destination, int timeout)
{
    if (!moveFile(source, destination, true))
        return false;
    if (source.compare(destination, Qt::CaseInsensitive) == 0) {
        QThread::usleep(500);
        return true;
    }
    return pollUntil([&] { return !QFFileManager::existsNoFollow(source); }, timeout);
}

bool QFFileManager::copyContentsOfDirectory(const QString &source, const QString &destination, int timeout)
{
    QDir dir(source);
    if (!dir.exists())
        return false;
    const QStringList entries
        = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &entry : entries) {
        QFLog::fastAppendLog("File: %@", entry);
        if (!copyFile(dir.filePath(entry), destination + u'/' + entry, timeout))
            return false;
    }
    return true;
}

bool QFFileManager::removeFolderIfEmpty(const QString &path)
{
    return isFolderEmpty(path) && removeFile(path);
}

bool QFFileManager::setPosixPermissions(mode_t permissions, const QString &path)
{
    if (::chmod(encode(path).constData(), permissions & 07777) == 0)
        return true;
    QFLog::appendLog("Error setting permissions for file %@: %@", path, errnoText());
    return false;
}

bool QFFileManager::compressFile(const QString &source, const QString &destinationFile, bool includeParent)
{
    if (QFFileManager::existsNoFollow(destinationFile))
        trashFile(destinationFile);
    QString reason;
    if (!qfZipItem(source, destinationFile, includeParent, &reason)) {
        QFLog::appendLog("Unable to compress %@: %@", source, reason);
        return false;
    }
    return QFFileManager::existsNoFollow(destinationFile);
}

bool QFFileManager::decompressFile(const QString &source, const QString &destinationFolder)
{
    // What the archive replaces goes to the Trash; when it cannot, the archive is not unpacked over it.
    if (QFFileManager::existsNoFollow(destinationFolder) && !trashFile(destinationFolder, false)) {
        QFLog::appendLog("Unable to decompress %@: %@ cannot be moved to the Trash.", source, destinationFolder);
        return false;
    }
    QString reason;
    if (!qfUnzipArchive(source, destinationFolder, &reason)) {
        QFLog::appendLog("Unable to decompress %@: %@", source, reason);
        return false;
    }
    return QFFileManager::existsNoFollow(destinationFolder);
}

bool QFFileManager::touchFile(const QString &path, bool setCreationDate)
{
    Q_UNUSED(setCreationDate) // Linux file systems keep no settable creation date.
    if (path.isEmpty())
        return false;
    const QString touch = QStringLiteral("/usr/bin/touch");
    if (QFileInfo(path).isWritable())
        return QFTaskEx::runTask(touch, { QStringLiteral("-c"), QStringLiteral("--"), path }, 5.0);
    return QFAuthorization::sharedController()->authExecTask(
               touch, { QStringLiteral("-c"), QStringLiteral("--"), path }, false)
        == 0;
}

bool QFFileManager::registerApplicationWithLaunchServices(const QString &applicationPath)
{
    // The desktop finds applications through the .desktop entries of the applications folders; make
    // sure the bundle is one, then refresh the user's entry database so a new or moved entry is seen.
    if (QFBundle::bundleIdentifierOfBundle(applicationPath).isEmpty()) {
        QFLog::appendLog("Unable to register application %@: not an application bundle", applicationPath);
        return false;
    }
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("update-desktop-database"));
    if (tool.isEmpty())
        return true;
    const QString entries = QFLocalPaths::appSupportDirectory(true) + QStringLiteral("/applications");
    if (!QFileInfo(entries).isDir())
        return true;
    int status = -1;
    return QFTaskEx::runTask(tool, { QStringLiteral("-q"), entries }, 30.0, &status) && status == 0;
}

void QFFileManager::setWriteQuietPeriod(int milliseconds)
{
    s_writeQuietMs = qMax(0, milliseconds);
}

bool QFFileManager::waitForFileWrites(const QString &path, int longestWaitSeconds)
{
    struct Look {
        QDateTime modified;
        qint64 size = 0;
        bool operator==(const Look &) const = default;
    };
    const auto look = [&]() -> std::optional<Look> {
        const QFileInfo info(path);
        if (!info.exists())
            return std::nullopt;
        return Look { info.lastModified(), info.size() };
    };
    const qint64 quietMs = s_writeQuietMs.load();
    const auto datedQuiet
        = [&](const std::optional<Look> &file) { return !file || file->modified.msecsTo(QFClock::now()) > quietMs; };
    std::optional<Look> last = look();
    if (datedQuiet(last))
        return true;
    QFLog::appendLog("File %@ is currently being written to. Waiting...", path);
    QElapsedTimer clock;
    clock.start();
    // A file also counts as written once its size and date have held still for the quiet period, whatever
    // its date says: one dated in the future (another machine's clock, a camera card) would never seem done.
    qint64 stillSince = QFClock::msecsSinceEpoch();
    for (;;) {
        if (QFShutdown::isRequested()) {
            QFLog::appendLog(
                "File %@ is still being written to; no longer waiting because the program is ending.", path);
            return false;
        }
        if (clock.elapsed() >= qint64(longestWaitSeconds) * 1000) {
            QFLog::appendLog("File %@ is still being written to after %li seconds. Skipping it for now.", path,
                long(longestWaitSeconds));
            return false;
        }
        QThread::msleep(unsigned(std::clamp<qint64>(quietMs / 4, 10, 500)));
        const std::optional<Look> now = look();
        if (datedQuiet(now))
            break;
        if (now != last) {
            last = now;
            stillSince = QFClock::msecsSinceEpoch();
        } else if (QFClock::msecsSinceEpoch() - stillSince >= quietMs) {
            break;
        }
    }
    QFLog::appendLog("File %@ finished writing.", path);
    return true;
}
