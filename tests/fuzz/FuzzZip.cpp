// Extraction of any archive (as downloaded from the sync service) into a fresh folder: whatever it
// holds, nothing may appear outside that folder, and a refused archive leaves nothing behind. The one
// file a restore takes out of it is a regular file within its limit, without special mode bits, or
// nothing at all.

#include "foundation/platform/QFZip.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sys/stat.h>

namespace {

QStringList everything(const QString &root)
{
    QStringList out;
    QDirIterator it(
        root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << it.next();
    out.sort();
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir sandbox;
    const QString archive = sandbox.filePath(QStringLiteral("in.zip"));
    const QString outside = sandbox.filePath(QStringLiteral("outside"));
    const QString target = outside + QStringLiteral("/target");
    QDir(outside).removeRecursively();
    QDir().mkpath(outside);
    QFile file(archive);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();

    QString reason;
    const bool extracted = qfUnzipArchive(archive, target, &reason);
    for (const QString &path : everything(outside)) {
        // Only the target folder and what lies inside it.
        if (path != target && !path.startsWith(target + u'/'))
            std::abort();
        if (!extracted)
            std::abort();
        // A link may stay only when it leads to a place inside.
        const QFileInfo info(path);
        if (info.isSymLink()) {
            const QString to = QDir::cleanPath(info.symLinkTarget());
            if (to != target && !to.startsWith(target + u'/'))
                std::abort();
        }
    }
    for (const QString &path : everything(sandbox.path())) {
        if (path != archive && path != outside && !path.startsWith(outside + u'/'))
            std::abort();
    }

    QDir(outside).removeRecursively();
    QDir().mkpath(outside);
    const QString restored = outside + QStringLiteral("/Cut.00001.fcp");
    constexpr qint64 kLimit = 1024 * 1024;
    const bool unpacked = qfUnzipFile(archive, QStringLiteral("Cut.00001.fcp"), restored, kLimit, 06777, &reason);
    const QStringList left = everything(outside);
    if (!unpacked && !left.isEmpty())
        std::abort();
    if (unpacked) {
        struct stat st;
        if (left != QStringList { restored } || ::lstat(QFile::encodeName(restored).constData(), &st) != 0
            || !S_ISREG(st.st_mode) || (st.st_mode & 07000) || st.st_size > kLimit)
            std::abort();
    }
    return 0;
}
