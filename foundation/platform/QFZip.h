#pragma once

// Zip archives made and opened in-process. Archives keep each item's mode, modification time and
// symbolic links. Extraction is all or nothing and never writes outside its folder: an archive with an
// absolute path, a ".." step or a link that leads outside is refused whole.

#include <QString>

// Archives a file or folder; with includeParent the entries begin with the item's own name, without it
// a folder's entries are its contents.
bool qfZipItem(const QString &source, const QString &archive, bool includeParent, QString *reason);
// Extracts every entry into the folder, which must not exist yet.
bool qfUnzipArchive(const QString &archive, const QString &folder, QString *reason);
// Extracts the one entry `name` (at the top of the archive) into the file `destination`, which must not
// exist yet, with the permission bits `mode`, whatever the archive says. Refused: an entry that is a
// symbolic link, a folder or anything but a regular file; one that unpacks to more than maxBytes (no limit
// when negative) or to more than the destination's disk has free. Nothing is left at destination unless
// the whole file arrived.
bool qfUnzipFile(const QString &archive, const QString &name, const QString &destination, qint64 maxBytes,
    unsigned mode, QString *reason);
