#pragma once

// Puts a copy downloaded from Dropbox in place of a project file: the archive is unpacked into a temporary
// folder, the project file is moved aside under a free name, the restored file moved into place, and only
// then the old file goes to the Trash; when the move fails the old file goes back. The project file is
// never lost. Any thread.

#include <QString>

class QFDropboxRestore final {
public:
    enum class Result {
        Restored,
        // "Unable to rename old project.": the project file could not be set aside; nothing changed.
        RenameFailed,
        // "Unable to copy file.": the restored file did not reach its place; the project file is as it was.
        CopyFailed,
    };

    // archive: the downloaded zip; fileName: the version file it holds; projectPath: the file to replace.
    static Result swapIn(const QString &archive, const QString &fileName, const QString &projectPath);
    // The alert's title and text for a result.
    static QString titleForResult(Result result);
    static QString messageForResult(Result result);
};
