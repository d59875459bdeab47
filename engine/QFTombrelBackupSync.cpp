// The engine's side of sync: a new version goes to the cloud from the application, or is handed to it.

#include "engine/QFTombrelBackup.h"

#include "engine/QFDropboxSync.h"
#include "engine/QFProjectActions.h"
#include "foundation/QFAppRequest.h"
#include "foundation/platform/QFProgramRole.h"

void QFTombrelBackup::uploadFileToCloud(const QString &path)
{
    if (!QFDropboxSync::isSyncOn())
        return;
    // Only the application holds the cloud account; other programs hand the file to it. A hand-off that
    // cannot be made leaves the version to the application's next upload.
    if (QFProgram::isApplication()) {
        QFDropboxSync::shared()->uploadVersion(path);
    } else if (!QFAppRequest::requestUpload(path)) {
        const QString projectFolder = QFProjectActions::projectFolderOfVersion(path);
        if (!projectFolder.isEmpty())
            QFProjectActions::notePendingUploads({ projectFolder });
    }
}

QFDropboxClient *QFTombrelBackup::restClient()
{
    return QFDropboxSync::shared()->restClient();
}

void QFTombrelBackup::removeRestClient()
{
    QFDropboxSync::shared()->removeRestClient();
}

void QFTombrelBackup::downloadFile(const QString &remotePath, const QString &localPath)
{
    QFDropboxSync::shared()->downloadFile(remotePath, localPath);
}

void QFTombrelBackup::loadSyncedFileListForProjectUUID(const QString &projectID)
{
    QFDropboxSync::shared()->loadSyncedFileList(projectID);
}
