#include "foundation/platform/QFFileCopy.h"

#include "foundation/platform/QFShutdown.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray encode(const QString &path)
{
    return QFile::encodeName(path);
}

bool fail(QString *reason, const QString &what, const QByteArray &path)
{
    const int saved = errno;
    if (reason)
        *reason = QStringLiteral("%1 %2: %3")
                      .arg(what, QFile::decodeName(path), QString::fromLocal8Bit(std::strerror(saved)));
    errno = saved;
    return false;
}

bool copyTimes(const QByteArray &path, const struct stat &st, bool isLink)
{
    const struct timespec times[2] = { st.st_atim, st.st_mtim };
    return ::utimensat(AT_FDCWD, path.constData(), times, isLink ? AT_SYMLINK_NOFOLLOW : 0) == 0;
}

// A copy is given up between chunks once the program is ending; the caller removes what was written.
constexpr size_t kCopyChunk = 64u << 20;

bool abandoned(QString *reason, const QByteArray &path)
{
    errno = ECANCELED;
    return fail(reason, QStringLiteral("copy abandoned because the program is ending:"), path);
}

bool copyRegularFile(const QByteArray &from, const QByteArray &to, const struct stat &st, QString *reason)
{
    const int in = ::open(from.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return fail(reason, QStringLiteral("cannot read"), from);
    const int out = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        const int saved = errno;
        ::close(in);
        errno = saved;
        return fail(reason, QStringLiteral("cannot create"), to);
    }
    bool ok = true;
    if (::ioctl(out, FICLONE, in) != 0) {
        // No reflink here: copy in the kernel, falling back to plain reads and writes.
        off_t left = st.st_size;
        while (left > 0) {
            if (QFShutdown::isRequested()) {
                ok = abandoned(reason, to);
                break;
            }
            const ssize_t n
                = ::copy_file_range(in, nullptr, out, nullptr, size_t(qMin<off_t>(left, off_t(kCopyChunk))), 0);
            if (n > 0) {
                left -= n;
                continue;
            }
            if (n == 0)
                break;
            if (errno == EINTR)
                continue;
            if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
                ok = fail(reason, QStringLiteral("cannot copy to"), to);
                break;
            }
            static thread_local char buffer[1 << 20];
            ssize_t r;
            while (ok && (r = ::read(in, buffer, sizeof buffer)) != 0) {
                if (QFShutdown::isRequested()) {
                    ok = abandoned(reason, to);
                    break;
                }
                if (r < 0) {
                    if (errno == EINTR)
                        continue;
                    ok = fail(reason, QStringLiteral("cannot read"), from);
                    break;
                }
                ssize_t done = 0;
                while (done < r) {
                    const ssize_t w = ::write(out, buffer + done, size_t(r - done));
                    if (w < 0 && errno == EINTR)
                        continue;
                    if (w <= 0) {
                        ok = fail(reason, QStringLiteral("cannot write"), to);
                        break;
                    }
                    done += w;
                }
            }
            left = 0;
        }
    }
    if (ok && ::fchmod(out, st.st_mode & 07777) != 0)
        ok = fail(reason, QStringLiteral("cannot set the mode of"), to);
    if (::close(out) != 0 && ok)
        ok = fail(reason, QStringLiteral("cannot write"), to);
    ::close(in);
    if (ok)
        copyTimes(to, st, false);
    return ok;
}

bool copyTree(const QByteArray &from, const QByteArray &to, QString *reason)
{
    struct stat st;
    if (::lstat(from.constData(), &st) != 0)
        return fail(reason, QStringLiteral("cannot read"), from);
    if (S_ISLNK(st.st_mode)) {
        QByteArray target(st.st_size > 0 ? st.st_size + 1 : 4096, '\0');
        const ssize_t n = ::readlink(from.constData(), target.data(), size_t(target.size()));
        if (n < 0)
            return fail(reason, QStringLiteral("cannot read"), from);
        target.truncate(n);
        if (::symlink(target.constData(), to.constData()) != 0)
            return fail(reason, QStringLiteral("cannot create"), to);
        copyTimes(to, st, true);
        return true;
    }
    if (S_ISREG(st.st_mode))
        return copyRegularFile(from, to, st, reason);
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTSUP;
        return fail(reason, QStringLiteral("cannot copy special file"), from);
    }
    if (::mkdir(to.constData(), 0700) != 0)
        return fail(reason, QStringLiteral("cannot create"), to);
    DIR *dir = ::opendir(from.constData());
    if (!dir)
        return fail(reason, QStringLiteral("cannot read"), from);
    bool ok = true;
    while (struct dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        if (QFShutdown::isRequested()) {
            ok = abandoned(reason, to);
            break;
        }
        if (!copyTree(from + '/' + name, to + '/' + name, reason)) {
            ok = false;
            break;
        }
    }
    ::closedir(dir);
    if (!ok)
        return false;
    if (::chmod(to.constData(), st.st_mode & 07777) != 0)
        return fail(reason, QStringLiteral("cannot set the mode of"), to);
    copyTimes(to, st, false);
    return true;
}

void removeTree(const QByteArray &path)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return;
    if (S_ISDIR(st.st_mode)) {
        ::chmod(path.constData(), 0700);
        if (DIR *dir = ::opendir(path.constData())) {
            while (struct dirent *entry = ::readdir(dir)) {
                if (std::strcmp(entry->d_name, ".") && std::strcmp(entry->d_name, ".."))
                    removeTree(path + '/' + entry->d_name);
            }
            ::closedir(dir);
        }
        ::rmdir(path.constData());
    } else {
        ::unlink(path.constData());
    }
}

// ".NAME.part-PID-RANDOM": the process id tells a copy under way from one whose writer died.
QString hiddenName(const QString &folder, const QString &name)
{
    return folder + QStringLiteral("/.") + name + QStringLiteral(".part-") + QString::number(getpid()) + u'-'
        + QString::number(QRandomGenerator::system()->generate64(), 36);
}

QString hiddenSibling(const QString &destination)
{
    const QFileInfo info(destination);
    return hiddenName(info.absolutePath(), info.fileName());
}

} // namespace

bool qfRenameNoReplace(const QString &source, const QString &destination, QString *reason)
{
    const QByteArray from = encode(source);
    const QByteArray to = encode(destination);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return fail(reason, QStringLiteral("cannot rename to"), to);
    // File systems without the flag: a hard link claims a file's name atomically.
    struct stat st;
    if (::lstat(from.constData(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        if (::link(from.constData(), to.constData()) != 0)
            return fail(reason, QStringLiteral("cannot rename to"), to);
        ::unlink(from.constData());
        return true;
    }
    if (::lstat(to.constData(), &st) == 0) {
        errno = EEXIST;
        return fail(reason, QStringLiteral("cannot rename to"), to);
    }
    if (::rename(from.constData(), to.constData()) != 0)
        return fail(reason, QStringLiteral("cannot rename to"), to);
    return true;
}

bool qfCopyItem(const QString &source, const QString &destination, QString *reason)
{
    struct stat st;
    if (::lstat(encode(destination).constData(), &st) == 0) {
        errno = EEXIST;
        return fail(reason, QStringLiteral("cannot copy to"), encode(destination));
    }
    const QString temporary = hiddenSibling(destination);
    if (!copyTree(encode(source), encode(temporary), reason) || !qfRenameNoReplace(temporary, destination, reason)) {
        const int saved = errno; // the caller tells failures apart by it
        removeTree(encode(temporary));
        errno = saved;
        return false;
    }
    return true;
}

bool qfMoveItem(const QString &source, const QString &destination, QString *reason)
{
    struct stat st;
    if (::lstat(encode(source).constData(), &st) != 0)
        return fail(reason, QStringLiteral("cannot move"), encode(source));
    if (qfRenameNoReplace(source, destination, reason))
        return true;
    if (errno != EXDEV)
        return false;
    // Another file system: copy whole, then remove the original.
    if (!qfCopyItem(source, destination, reason))
        return false;
    removeTree(encode(source));
    return true;
}

QString qfCopyToTemporary(const QString &source, const QString &folder, const QString &name, QString *reason)
{
    const QString temporary = hiddenName(folder, name);
    if (!copyTree(encode(source), encode(temporary), reason)) {
        removeTree(encode(temporary));
        return {};
    }
    return temporary;
}

void qfDiscardItem(const QString &path)
{
    if (!path.isEmpty())
        removeTree(encode(path));
}

int qfRemoveStaleCopies(const QString &folder)
{
    int removed = 0;
    const QStringList entries
        = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        if (!entry.startsWith(u'.'))
            continue;
        const qsizetype at = entry.lastIndexOf(QLatin1String(".part-"));
        if (at < 0)
            continue;
        bool ok = false;
        const qint64 pid = entry.mid(at + 6).section(u'-', 0, 0).toLongLong(&ok);
        if (!ok || pid <= 0)
            continue;
        if (::kill(pid_t(pid), 0) == 0 || errno == EPERM)
            continue; // its writer still runs
        removeTree(encode(folder + u'/' + entry));
        ++removed;
    }
    return removed;
}

bool qfWriteFileAtomically(const QString &path, const QByteArray &data, QString *reason)
{
    // A link is written through, as editors and dot-file managers expect: the file it names is replaced.
    QString target = path;
    const QFileInfo info(path);
    if (info.isSymLink()) {
        const QString resolved = info.canonicalFilePath();
        target = resolved.isEmpty() ? info.symLinkTarget() : resolved;
    }
    const QString temporary = hiddenSibling(target);
    const QByteArray native = encode(temporary);
    const QByteArray destination = encode(target);
    struct stat old;
    const bool replacing = ::stat(destination.constData(), &old) == 0;
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return fail(reason, QStringLiteral("cannot create"), native);
    // Every step is checked before the rename: a full disk must leave the old file as it was.
    const auto abandon = [&](const QString &what, const QByteArray &name) {
        fail(reason, what, name);
        const int saved = errno;
        ::unlink(native.constData());
        errno = saved;
        return false;
    };
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            const int saved = errno;
            ::close(fd);
            errno = saved;
            return abandon(QStringLiteral("cannot write"), native);
        }
        done += n;
    }
    if (replacing && ::fchmod(fd, old.st_mode & 07777) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return abandon(QStringLiteral("cannot set the mode of"), native);
    }
    if (::fsync(fd) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return abandon(QStringLiteral("cannot write"), native);
    }
    if (::close(fd) != 0)
        return abandon(QStringLiteral("cannot write"), native);
    if (::rename(native.constData(), destination.constData()) != 0)
        return abandon(QStringLiteral("cannot write"), destination);
    // The new name itself reaches the disk with its folder.
    const int folder = ::open(encode(QFileInfo(target).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}
