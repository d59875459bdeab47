#pragma once

// Puts a copy downloaded from Dropbox in place of a project file: the version is unpacked into a transfer
// folder of its own (only a regular file, no larger than its archive can honestly hold), given the mode
// of the file it replaces, the project file is moved aside under a free name, the restored file moved into
// place, and only then the old file goes to the Trash; when the move fails the old file goes back. The
// project file is never lost. Any thread.

#include <QString>

class QFDropboxRestore final {
public:
    enum class Result {
        Restored,
        // "Unable to rename old project.": the project file could not be set aside; nothing changed.
        RenameFailed,
        // "Unable to copy file.": the restored file did not reach its place (or the copy was refused);
        // the project file is as it was.
        CopyFailed,
    };

    // download: the file downloaded from Dropbox; remoteName: its name there, an archive "NAME.zip" holding
    // the version file NAME, or the version file itself; listedSize: its size as listed (negative when
    // unknown); projectPath: the file to replace. reason: what went wrong, for the log and the user.
    static Result restoreCopy(const QString &download, const QString &remoteName, qint64 listedSize,
        const QString &projectPath, QString *reason = nullptr);
    // The same for an archive holding fileName.
    static Result swapIn(const QString &archive, const QString &fileName, const QString &projectPath,
        qint64 listedSize = -1, QString *reason = nullptr);
    // The largest version an archive of listedSize bytes may unpack to; negative (no limit but the
    // archive's own word and the free space) when the size is unknown.
    static qint64 unpackLimit(qint64 listedSize);
    // The permission bits a restored file gets: those of the file it replaces, or 0666 less the umask.
    static unsigned restoredMode(const QString &projectPath);

    // The alert's title and text for a result.
    static QString titleForResult(Result result);
    static QString messageForResult(Result result);
};
