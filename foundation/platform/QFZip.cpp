#include "foundation/platform/QFZip.h"

#include "foundation/platform/QFFileCopy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>
#include <zip.h>

namespace {

QByteArray encode(const QString &path)
{
    return QFile::encodeName(path);
}

bool failWith(QString *reason, const QString &text)
{
    if (reason)
        *reason = text;
    return false;
}

QString zipError(zip_t *archive)
{
    return QString::fromUtf8(zip_strerror(archive));
}

// The "UT" extra field holds the modification time to the second; the entry's own time is in steps of two.
constexpr zip_uint16_t kExtendedTimestamp = 0x5455;

void setAttributes(zip_t *archive, zip_int64_t index, const struct stat &st)
{
    zip_file_set_external_attributes(archive, zip_uint64_t(index), 0, ZIP_OPSYS_UNIX, zip_uint32_t(st.st_mode) << 16);
    zip_file_set_mtime(archive, zip_uint64_t(index), st.st_mtim.tv_sec, 0);
    const quint32 seconds = quint32(st.st_mtim.tv_sec);
    const zip_uint8_t field[5] = { 1, zip_uint8_t(seconds), zip_uint8_t(seconds >> 8), zip_uint8_t(seconds >> 16),
        zip_uint8_t(seconds >> 24) };
    zip_file_extra_field_set(archive, zip_uint64_t(index), kExtendedTimestamp, ZIP_EXTRA_FIELD_NEW, field, sizeof field,
        ZIP_FL_LOCAL | ZIP_FL_CENTRAL);
}

time_t entryTime(zip_t *archive, zip_uint64_t index, time_t fallback)
{
    zip_uint16_t length = 0;
    const zip_uint8_t *field
        = zip_file_extra_field_get_by_id(archive, index, kExtendedTimestamp, 0, &length, ZIP_FL_CENTRAL);
    if (!field)
        field = zip_file_extra_field_get_by_id(archive, index, kExtendedTimestamp, 0, &length, ZIP_FL_LOCAL);
    if (field && length >= 5 && (field[0] & 1))
        return time_t(quint32(field[1]) | quint32(field[2]) << 8 | quint32(field[3]) << 16 | quint32(field[4]) << 24);
    return fallback;
}

bool addTree(zip_t *archive, const QByteArray &path, const QByteArray &name, QString *reason)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return failWith(reason, QStringLiteral("cannot read %1").arg(QFile::decodeName(path)));
    if (S_ISDIR(st.st_mode)) {
        if (!name.isEmpty()) {
            const zip_int64_t index = zip_dir_add(archive, name.constData(), ZIP_FL_ENC_UTF_8);
            if (index < 0)
                return failWith(reason, zipError(archive));
            setAttributes(archive, index, st);
        }
        DIR *dir = ::opendir(path.constData());
        if (!dir)
            return failWith(reason, QStringLiteral("cannot read %1").arg(QFile::decodeName(path)));
        std::vector<QByteArray> entries;
        while (struct dirent *entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") && std::strcmp(entry->d_name, ".."))
                entries.emplace_back(entry->d_name);
        }
        ::closedir(dir);
        std::sort(entries.begin(), entries.end());
        for (const QByteArray &entry : entries) {
            const QByteArray child = name.isEmpty() ? entry : name + '/' + entry;
            if (!addTree(archive, path + '/' + entry, child, reason))
                return false;
        }
        return true;
    }
    zip_source_t *source = nullptr;
    if (S_ISLNK(st.st_mode)) {
        QByteArray target(4096, '\0');
        const ssize_t n = ::readlink(path.constData(), target.data(), size_t(target.size()));
        if (n < 0)
            return failWith(reason, QStringLiteral("cannot read %1").arg(QFile::decodeName(path)));
        target.truncate(n);
        void *copy = std::malloc(size_t(qMax<qsizetype>(n, 1)));
        std::memcpy(copy, target.constData(), size_t(n));
        source = zip_source_buffer(archive, copy, zip_uint64_t(n), 1);
    } else if (S_ISREG(st.st_mode)) {
        source = zip_source_file(archive, path.constData(), 0, -1);
    } else {
        return true; // sockets, fifos and devices have no place in an archive
    }
    if (!source)
        return failWith(reason, zipError(archive));
    const zip_int64_t index = zip_file_add(archive, name.constData(), source, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
    if (index < 0) {
        zip_source_free(source);
        return failWith(reason, zipError(archive));
    }
    setAttributes(archive, index, st);
    return true;
}

struct Entry {
    zip_uint64_t index;
    QByteArray name; // relative, validated
    mode_t mode;
    time_t mtime;
    bool isDir;
    bool isLink;
};

// A safe relative path: no leading "/", no "..", no empty result.
bool safeRelative(const QByteArray &name, QByteArray *clean)
{
    if (name.isEmpty() || name.startsWith('/') || name.contains('\0') || name.contains('\\'))
        return false;
    QList<QByteArray> parts;
    for (const QByteArray &part : name.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..")
            return false;
        parts << part;
    }
    if (parts.isEmpty())
        return false;
    *clean = parts.join('/');
    return true;
}

// Whether a link placed at `linkPath` (relative) with `target` stays inside the folder.
bool linkStaysInside(const QByteArray &linkPath, const QByteArray &target)
{
    if (target.isEmpty() || target.startsWith('/'))
        return false;
    QList<QByteArray> stack = linkPath.split('/');
    stack.removeLast();
    for (const QByteArray &part : target.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (stack.isEmpty())
                return false;
            stack.removeLast();
        } else {
            stack << part;
        }
    }
    return true;
}

// Creates the folders of a relative path below root, refusing to pass through anything but folders.
bool makeParents(const QByteArray &root, const QByteArray &relative, QString *reason)
{
    QByteArray path = root;
    const QList<QByteArray> parts = relative.split('/');
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        path += '/' + parts[i];
        struct stat st;
        if (::lstat(path.constData(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                return failWith(reason,
                    QStringLiteral("archive entry %1 passes through a non-folder").arg(QString::fromUtf8(relative)));
            continue;
        }
        if (::mkdir(path.constData(), 0755) != 0)
            return failWith(reason, QStringLiteral("cannot create %1").arg(QFile::decodeName(path)));
    }
    return true;
}

// What of an archive's mode bits is applied: never set-user-ID, set-group-ID, sticky or writable by all.
constexpr mode_t kExtractedModeMask = 0775;

bool extractFile(zip_t *archive, const Entry &entry, const QByteArray &path, QString *reason)
{
    zip_file_t *file = zip_fopen_index(archive, entry.index, 0);
    if (!file)
        return failWith(reason, zipError(archive));
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        zip_fclose(file);
        return failWith(reason,
            QStringLiteral("cannot create %1: %2")
                .arg(QFile::decodeName(path), QString::fromLocal8Bit(std::strerror(errno))));
    }
    static thread_local char buffer[1 << 16];
    bool ok = true;
    for (;;) {
        const zip_int64_t n = zip_fread(file, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            ok = failWith(reason, QStringLiteral("damaged archive entry %1").arg(QString::fromUtf8(entry.name)));
            break;
        }
        zip_int64_t done = 0;
        while (done < n) {
            const ssize_t w = ::write(fd, buffer + done, size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                ok = failWith(reason, QStringLiteral("cannot write %1").arg(QFile::decodeName(path)));
                break;
            }
            done += w;
        }
        if (!ok)
            break;
    }
    zip_fclose(file);
    ::fchmod(fd, entry.mode ? entry.mode & kExtractedModeMask : 0644);
    ::close(fd);
    return ok;
}

void setTime(const QByteArray &path, time_t mtime, bool isLink)
{
    const struct timespec times[2] = { { mtime, 0 }, { mtime, 0 } };
    ::utimensat(AT_FDCWD, path.constData(), times, isLink ? AT_SYMLINK_NOFOLLOW : 0);
}

void removeAll(const QString &path)
{
    QDir(path).removeRecursively();
    QFile::remove(path);
}

// Room left free on the disk an entry is unpacked to, and how often that is looked at while writing.
constexpr qint64 kFreeSpaceReserve = 16LL * 1024 * 1024;
constexpr qint64 kFreeSpaceCheckEvery = 8LL * 1024 * 1024;

std::optional<qint64> freeSpace(const QByteArray &folder)
{
    struct statvfs st;
    if (::statvfs(folder.constData(), &st) != 0)
        return std::nullopt;
    return qint64(st.f_bavail) * qint64(st.f_frsize);
}

enum class EntryKind { File, Folder, Link, Other };

EntryKind entryKind(zip_t *archive, zip_uint64_t index, const QByteArray &rawName)
{
    if (rawName.endsWith('/'))
        return EntryKind::Folder;
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive, index, 0, &opsys, &attributes) != 0)
        return EntryKind::File;
    if (opsys == ZIP_OPSYS_UNIX) {
        switch (mode_t(attributes >> 16) & S_IFMT) {
        case 0:
        case S_IFREG:
            return EntryKind::File;
        case S_IFDIR:
            return EntryKind::Folder;
        case S_IFLNK:
            return EntryKind::Link;
        default:
            return EntryKind::Other;
        }
    }
    // The MS-DOS attributes in the low byte mark folders.
    if (opsys == ZIP_OPSYS_DOS && (attributes & 0x10))
        return EntryKind::Folder;
    return EntryKind::File;
}

} // namespace

bool qfZipItem(const QString &source, const QString &archivePath, bool includeParent, QString *reason)
{
    const QFileInfo info(source);
    if (!info.exists() && !info.isSymLink())
        return failWith(reason, QStringLiteral("%1 does not exist").arg(source));
    int error = 0;
    zip_t *archive = zip_open(encode(archivePath).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive) {
        zip_error_t e;
        zip_error_init_with_code(&e, error);
        const QString text = QString::fromUtf8(zip_error_strerror(&e));
        zip_error_fini(&e);
        return failWith(reason, text);
    }
    const QByteArray name = (includeParent || !info.isDir()) ? info.fileName().toUtf8() : QByteArray();
    if (!addTree(archive, encode(info.absoluteFilePath()), name, reason)) {
        zip_discard(archive);
        return false;
    }
    // The archive is written to a temporary file and renamed into place by zip_close.
    if (zip_close(archive) != 0) {
        const QString text = zipError(archive);
        zip_discard(archive);
        return failWith(reason, text);
    }
    return true;
}

bool qfUnzipArchive(const QString &archivePath, const QString &folder, QString *reason)
{
    int error = 0;
    zip_t *archive = zip_open(encode(archivePath).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!archive)
        return failWith(reason, QStringLiteral("%1 is not a readable zip archive").arg(archivePath));

    // Check every entry before anything is written.
    std::vector<Entry> entries;
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        if (zip_stat_index(archive, zip_uint64_t(i), ZIP_FL_ENC_GUESS, &st) != 0 || !(st.valid & ZIP_STAT_NAME)) {
            zip_discard(archive);
            return failWith(reason, QStringLiteral("damaged archive"));
        }
        const QByteArray raw(st.name);
        Entry entry { zip_uint64_t(i), {}, 0,
            entryTime(archive, zip_uint64_t(i), (st.valid & ZIP_STAT_MTIME) ? st.mtime : 0), raw.endsWith('/'), false };
        if (!safeRelative(raw, &entry.name)) {
            zip_discard(archive);
            return failWith(reason, QStringLiteral("refused archive entry %1").arg(QString::fromUtf8(raw)));
        }
        zip_uint8_t opsys = 0;
        zip_uint32_t attributes = 0;
        if (zip_file_get_external_attributes(archive, zip_uint64_t(i), 0, &opsys, &attributes) == 0
            && opsys == ZIP_OPSYS_UNIX) {
            entry.mode = mode_t(attributes >> 16);
            entry.isLink = S_ISLNK(entry.mode);
            entry.isDir = entry.isDir || S_ISDIR(entry.mode);
        }
        entries.push_back(entry);
    }

    const QFileInfo target(folder);
    const QString staging = target.absolutePath() + QStringLiteral("/.") + target.fileName() + QStringLiteral(".unzip-")
        + QString::number(QRandomGenerator::system()->generate64(), 36);
    const QByteArray root = encode(staging);
    if (::mkdir(root.constData(), 0755) != 0) {
        zip_discard(archive);
        return failWith(reason, QStringLiteral("cannot create %1").arg(staging));
    }
    bool ok = true;
    std::vector<std::pair<Entry, QByteArray>> links;
    for (const Entry &entry : entries) {
        const QByteArray path = root + '/' + entry.name;
        if (!makeParents(root, entry.name, reason)) {
            ok = false;
            break;
        }
        if (entry.isLink) {
            zip_file_t *file = zip_fopen_index(archive, entry.index, 0);
            QByteArray linkTarget(4096, '\0');
            const zip_int64_t n = file ? zip_fread(file, linkTarget.data(), zip_uint64_t(linkTarget.size())) : -1;
            if (file)
                zip_fclose(file);
            linkTarget.truncate(qMax<zip_int64_t>(n, 0));
            if (n <= 0 || !linkStaysInside(entry.name, linkTarget)) {
                ok = failWith(reason,
                    QStringLiteral("refused link %1 -> %2")
                        .arg(QString::fromUtf8(entry.name), QString::fromUtf8(linkTarget)));
                break;
            }
            links.emplace_back(entry, linkTarget);
            continue;
        }
        if (entry.isDir) {
            struct stat st;
            if (::lstat(path.constData(), &st) != 0 && ::mkdir(path.constData(), 0755) != 0) {
                ok = failWith(reason, QStringLiteral("cannot create %1").arg(QFile::decodeName(path)));
                break;
            }
            continue;
        }
        if (!extractFile(archive, entry, path, reason)) {
            ok = false;
            break;
        }
        if (entry.mtime)
            setTime(path, entry.mtime, false);
    }
    // Links last, so that no file is ever written through one.
    for (const auto &[entry, linkTarget] : links) {
        if (!ok)
            break;
        const QByteArray path = root + '/' + entry.name;
        if (::symlink(linkTarget.constData(), path.constData()) != 0) {
            ok = failWith(reason, QStringLiteral("cannot create link %1").arg(QString::fromUtf8(entry.name)));
            break;
        }
        if (entry.mtime)
            setTime(path, entry.mtime, true);
    }
    // Folders' modes and times once their contents are in place, deepest first.
    for (auto it = entries.rbegin(); ok && it != entries.rend(); ++it) {
        if (!it->isDir)
            continue;
        const QByteArray path = root + '/' + it->name;
        if (it->mode)
            ::chmod(path.constData(), (it->mode & kExtractedModeMask) | S_IRWXU);
        if (it->mtime)
            setTime(path, it->mtime, false);
    }
    zip_discard(archive);
    if (ok)
        ok = qfRenameNoReplace(staging, folder, reason);
    if (!ok)
        removeAll(staging);
    return ok;
}

bool qfUnzipFile(const QString &archivePath, const QString &name, const QString &destination, qint64 maxBytes,
    unsigned mode, QString *reason)
{
    int error = 0;
    zip_t *archive = zip_open(encode(archivePath).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!archive)
        return failWith(reason, QStringLiteral("%1 is not a readable zip archive").arg(archivePath));
    const auto refuse = [&](const QString &text) {
        zip_discard(archive);
        return failWith(reason, text);
    };

    const QByteArray wanted = name.toUtf8();
    std::optional<zip_uint64_t> found;
    zip_stat_t foundStat;
    zip_stat_init(&foundStat);
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        if (zip_stat_index(archive, zip_uint64_t(i), ZIP_FL_ENC_GUESS, &st) != 0 || !(st.valid & ZIP_STAT_NAME))
            return refuse(QStringLiteral("damaged archive"));
        const QByteArray raw(st.name);
        QByteArray clean;
        if (!safeRelative(raw, &clean))
            continue;
        // Entries below the name make it a folder, whatever its own entry says.
        if (clean.startsWith(wanted + '/'))
            return refuse(QStringLiteral("%1 in the archive is a folder, not a file").arg(name));
        if (clean != wanted)
            continue;
        if (found)
            return refuse(QStringLiteral("%1 is in the archive more than once").arg(name));
        switch (entryKind(archive, zip_uint64_t(i), raw)) {
        case EntryKind::File:
            break;
        case EntryKind::Folder:
            return refuse(QStringLiteral("%1 in the archive is a folder, not a file").arg(name));
        case EntryKind::Link:
            return refuse(QStringLiteral("%1 in the archive is a symbolic link, not a file").arg(name));
        case EntryKind::Other:
            return refuse(QStringLiteral("%1 in the archive is not a regular file").arg(name));
        }
        found = zip_uint64_t(i);
        foundStat = st;
    }
    if (!found)
        return refuse(QStringLiteral("the archive holds no %1").arg(name));

    const QByteArray path = encode(destination);
    const QByteArray folder = encode(QFileInfo(destination).absolutePath());
    const bool declared = foundStat.valid & ZIP_STAT_SIZE;
    const qint64 size
        = declared ? qint64(qMin<zip_uint64_t>(foundStat.size, zip_uint64_t(std::numeric_limits<qint64>::max()))) : -1;
    if (declared && maxBytes >= 0 && size > maxBytes)
        return refuse(QStringLiteral("%1 would unpack to %2 bytes, more than the %3 its archive allows")
                          .arg(name)
                          .arg(size)
                          .arg(maxBytes));
    const std::optional<qint64> available = freeSpace(folder);
    if (declared && available && size > *available - kFreeSpaceReserve)
        return refuse(
            QStringLiteral("%1 needs %2 bytes; the disk has %3 bytes free").arg(name).arg(size).arg(*available));

    zip_file_t *file = zip_fopen_index(archive, *found, 0);
    if (!file)
        return refuse(zipError(archive));
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        const QString text
            = QStringLiteral("cannot create %1: %2").arg(destination, QString::fromLocal8Bit(std::strerror(errno)));
        zip_fclose(file);
        return refuse(text);
    }
    static thread_local char buffer[1 << 16];
    qint64 written = 0;
    qint64 nextCheck = kFreeSpaceCheckEvery;
    bool ok = true;
    QString text;
    while (ok) {
        const zip_int64_t n = zip_fread(file, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            ok = false;
            text = QStringLiteral("damaged archive entry %1").arg(name);
            break;
        }
        if ((maxBytes >= 0 && written + n > maxBytes) || (declared && written + n > size)) {
            ok = false;
            text = maxBytes >= 0 && written + n > maxBytes
                ? QStringLiteral("%1 unpacks to more than %2 bytes, more than its archive allows")
                      .arg(name)
                      .arg(maxBytes)
                : QStringLiteral("%1 unpacks to more than the %2 bytes the archive declares").arg(name).arg(size);
            break;
        }
        for (zip_int64_t done = 0; done < n;) {
            const ssize_t w = ::write(fd, buffer + done, size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                ok = false;
                text = QStringLiteral("cannot write %1: %2")
                           .arg(destination, QString::fromLocal8Bit(std::strerror(w < 0 ? errno : ENOSPC)));
                break;
            }
            done += w;
        }
        written += n;
        if (ok && written >= nextCheck) {
            nextCheck += kFreeSpaceCheckEvery;
            if (const std::optional<qint64> left = freeSpace(folder); left && *left < kFreeSpaceReserve) {
                ok = false;
                text = QStringLiteral("%1 stopped after %2 bytes: the disk is nearly full").arg(name).arg(written);
            }
        }
    }
    zip_fclose(file);
    if (ok) {
        ::fchmod(fd, mode_t(mode) & 0777);
        const time_t mtime = entryTime(archive, *found, (foundStat.valid & ZIP_STAT_MTIME) ? foundStat.mtime : 0);
        if (mtime) {
            const struct timespec times[2] = { { mtime, 0 }, { mtime, 0 } };
            ::futimens(fd, times);
        }
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        text = QStringLiteral("cannot write %1: %2").arg(destination, QString::fromLocal8Bit(std::strerror(errno)));
    }
    zip_discard(archive);
    if (!ok) {
        ::unlink(path.constData());
        return failWith(reason, text);
    }
    return true;
}
