#pragma once

// Copying and moving that never leave a partial destination: the copy is made under a hidden name in
// the destination's folder and renamed into place only when complete, and never over an existing item.
// Files are cloned (reflink) where the file system allows, else copied in the kernel; modes and
// modification times are kept; folders (bundles) are copied whole, symbolic links as links.

#include <QString>

bool qfCopyItem(const QString &source, const QString &destination, QString *reason);
// Renames without replacing an existing destination; across file systems, copies then removes.
bool qfMoveItem(const QString &source, const QString &destination, QString *reason);
// Claims a name: renames source to destination only if nothing is there yet.
bool qfRenameNoReplace(const QString &source, const QString &destination, QString *reason);

// Copies source to a hidden name (".NAME.part-PID-…") in folder and returns that path, or a null string.
// The caller renames it into place (qfRenameNoReplace) or discards it (qfDiscardItem).
QString qfCopyToTemporary(const QString &source, const QString &folder, const QString &name, QString *reason);
// Removes a file or folder tree without following links.
void qfDiscardItem(const QString &path);
// Removes hidden copies left in a folder by programs that died while copying (their process is gone).
int qfRemoveStaleCopies(const QString &folder);
// Writes data under a hidden name and renames it over path, so path is always whole.
bool qfWriteFileAtomically(const QString &path, const QByteArray &data, QString *reason);
