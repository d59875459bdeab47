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
