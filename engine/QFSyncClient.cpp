#include "engine/QFSyncClient.h"

QFDropboxSyncClient::QFDropboxSyncClient(QFDropboxClient *client, QObject *parent)
    : QFSyncClient(parent)
    , m_client(client)
{
    connect(m_client, &QFDropboxClient::uploadedFile, this, &QFSyncClient::uploadedFile);
    connect(m_client, &QFDropboxClient::uploadProgress, this, &QFSyncClient::uploadProgress);
    connect(m_client, &QFDropboxClient::uploadFileFailed, this, &QFSyncClient::uploadFileFailed);
    connect(m_client, &QFDropboxClient::loadedMetadata, this, &QFSyncClient::loadedMetadata);
    connect(m_client, &QFDropboxClient::loadMetadataFailed, this, &QFSyncClient::loadMetadataFailed);
    connect(m_client, &QFDropboxClient::deletedPath, this, &QFSyncClient::deletedPath);
    connect(m_client, &QFDropboxClient::deletePathFailed, this, &QFSyncClient::deletePathFailed);
    connect(m_client, &QFDropboxClient::loadedFile, this, &QFSyncClient::loadedFile);
    connect(m_client, &QFDropboxClient::loadProgress, this, &QFSyncClient::loadProgress);
    connect(m_client, &QFDropboxClient::loadFileFailed, this, &QFSyncClient::loadFileFailed);
    connect(m_client, &QFDropboxClient::waitingToRetry, this, &QFSyncClient::waitingToRetry);
}

void QFDropboxSyncClient::uploadFile(const QString &filename, const QString &toPath, const QString &fromPath)
{
    m_client->uploadFile(filename, toPath, fromPath);
}

void QFDropboxSyncClient::loadMetadata(const QString &path)
{
    m_client->loadMetadata(path);
}

void QFDropboxSyncClient::loadFile(const QString &path, const QString &intoPath)
{
    m_client->loadFile(path, intoPath);
}

void QFDropboxSyncClient::cancelFileLoad(const QString &path)
{
    m_client->cancelFileLoad(path);
}

void QFDropboxSyncClient::deletePath(const QString &path)
{
    m_client->deletePath(path);
}

int QFDropboxSyncClient::pendingRequests() const
{
    return m_client->pendingRequests();
}

QString QFDropboxSyncClient::leadText(const QFDropboxError &error) const
{
    return QFDropboxClient::leadTextForError(error);
}
