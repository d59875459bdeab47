#include "tests/support/QFHostileArchive.h"

#include <QFile>

#include <cstdlib>
#include <cstring>
#include <zip.h>

namespace hostilezip {

bool write(const QString &archivePath, const QList<Entry> &entries, QString *reason)
{
    int error = 0;
    zip_t *archive = zip_open(QFile::encodeName(archivePath).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive) {
        if (reason)
            *reason = QStringLiteral("cannot create %1").arg(archivePath);
        return false;
    }
    const auto fail = [&] {
        if (reason)
            *reason = QString::fromUtf8(zip_strerror(archive));
        zip_discard(archive);
        return false;
    };
    for (const Entry &entry : entries) {
        zip_int64_t index = -1;
        if (entry.directory) {
            index = zip_dir_add(archive, entry.name.constData(), ZIP_FL_ENC_UTF_8);
        } else {
            // An empty buffer is never handed to libzip: it would not free one of length 0.
            void *copy = nullptr;
            if (!entry.data.isEmpty()) {
                copy = std::malloc(size_t(entry.data.size()));
                std::memcpy(copy, entry.data.constData(), size_t(entry.data.size()));
            }
            zip_source_t *source = zip_source_buffer(archive, copy, zip_uint64_t(entry.data.size()), copy ? 1 : 0);
            if (!source)
                return fail();
            index = zip_file_add(archive, entry.name.constData(), source, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
            if (index < 0)
                zip_source_free(source);
        }
        if (index < 0)
            return fail();
        zip_file_set_external_attributes(archive, zip_uint64_t(index), 0, ZIP_OPSYS_UNIX, entry.unixMode << 16);
    }
    if (zip_close(archive) != 0)
        return fail();
    return true;
}

bool declareSize(const QString &archivePath, quint32 size)
{
    QFile file(archivePath);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    QByteArray data = file.readAll();
    const auto put = [&](qsizetype at) {
        for (int i = 0; i < 4; ++i)
            data[at + i] = char((size >> (8 * i)) & 0xff);
    };
    // Local file header: signature, then the uncompressed size at offset 22.
    if (!data.startsWith(QByteArray("PK\x03\x04", 4)))
        return false;
    put(22);
    // Central directory header: the uncompressed size at offset 24.
    const qsizetype central = data.indexOf(QByteArray("PK\x01\x02", 4));
    if (central < 0)
        return false;
    put(central + 24);
    file.seek(0);
    return file.write(data) == data.size();
}

} // namespace hostilezip
