#pragma once

// Zip archives as a hostile copy in Dropbox may hold them, made with libzip for the tests of restore:
// entries that are symbolic links, folders or devices, mode bits of any kind, sizes the archive lies about.

#include <QByteArray>
#include <QList>
#include <QString>

namespace hostilezip {

struct Entry {
    QByteArray name;
    QByteArray data; // a link's target for S_IFLNK
    quint32 unixMode = 0100644; // file type and permission bits, as the external attributes carry them
    bool directory = false; // a folder entry ("NAME/")
};

// Writes an archive of the entries, compressed, each with its Unix mode.
bool write(const QString &archive, const QList<Entry> &entries, QString *reason = nullptr);
// Rewrites the uncompressed size declared for the archive's first entry, in its local and central headers.
bool declareSize(const QString &archive, quint32 size);

} // namespace hostilezip
