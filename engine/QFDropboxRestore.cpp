#include "engine/QFDropboxRestore.h"

#include "foundation/QFFileManager.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"

#include <QDir>
#include <QFileInfo>

QFDropboxRestore::Result QFDropboxRestore::swapIn(const QString &archive, const QString &fileName, const QString &projectPath)
{
    const QString folder = QFLocalPaths::tempFile();
    const auto finish = [&folder](Result result) {
        QFFileManager::removeFile(folder, false);
        return result;
    };
    QFFileManager::decompressFile(archive, folder);
    const QString restored = folder + u'/' + fileName;
    // Nothing to put in place: the project file is not touched at all.
    if (!QFFileManager::existsNoFollow(restored)) {
        QFLog::appendLog("The downloaded copy holds no %@.", fileName);
        return finish(Result::CopyFailed);
    }

    const QString aside = QFFileManager::uniqueFilename(projectPath);
    const bool hadProject = QFFileManager::existsNoFollow(projectPath);
    if (hadProject && !QFFileManager::moveFile(projectPath, aside, false))
        return finish(Result::RenameFailed);
    if (!QFFileManager::moveFile(restored, projectPath, false)) {
        if (hadProject && !QFFileManager::moveFile(aside, projectPath, false))
            QFLog::appendLog("The project file was left at %@.", aside);
        return finish(Result::CopyFailed);
    }
    if (hadProject)
        QFFileManager::trashFile(aside, false);
    return finish(Result::Restored);
}

QString QFDropboxRestore::titleForResult(Result result)
{
    return result == Result::Restored ? QStringLiteral("Backup restored") : QStringLiteral("Failed to restore project");
}

QString QFDropboxRestore::messageForResult(Result result)
{
    switch (result) {
    case Result::Restored:
        return QStringLiteral("The backup was restored successfully.");
    case Result::RenameFailed:
        return QStringLiteral("Unable to rename old project.");
    case Result::CopyFailed:
        break;
    }
    return QStringLiteral("Unable to copy file.");
}
