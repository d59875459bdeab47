#include "engine/QFRemoteProjects.h"

#include "engine/QFDropboxSync.h"
#include "engine/QFProject.h"
#include "engine/QFTransferFolder.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFPropertyList.h"

#include <QFile>
#include <QVariantMap>

namespace {

// A description is a few hundred bytes; anything far larger is not one.
constexpr qint64 kLargestInfo = 64 * 1024;

} // namespace

QString QFRemoteProjects::infoFileName()
{
    return QStringLiteral("Project.plist");
}

QByteArray QFRemoteProjects::infoForProjectFolder(const QString &projectFolder)
{
    if (projectFolder.isEmpty())
        return {};
    const std::optional<QFProjectListEntry> entry = QFProject::readProjectFolder(projectFolder);
    if (!entry)
        return {};
    const QVariantMap info { { QStringLiteral("projectID"), entry->projectID }, { QStringLiteral("path"), entry->path },
        { QStringLiteral("name"), QFProject::displayNameForPath(entry->path) } };
    return QFPropertyList::toXml(info);
}

std::optional<QFRemoteProject> QFRemoteProjects::parseInfo(const QByteArray &data, const QString &projectID)
{
    if (data.isEmpty() || data.size() > kLargestInfo)
        return std::nullopt;
    const std::optional<QVariant> value = QFPropertyList::parse(data);
    if (!value || value->typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap info = value->toMap();
    const QVariant id = info.value(QStringLiteral("projectID"));
    // A description copied into another folder describes that one no more.
    if (id.typeId() != QMetaType::QString || id.toString() != projectID)
        return std::nullopt;
    const QVariant name = info.value(QStringLiteral("name"));
    const QVariant path = info.value(QStringLiteral("path"));
    return QFRemoteProject { projectID, name.typeId() == QMetaType::QString ? name.toString() : QString(),
        path.typeId() == QMetaType::QString ? path.toString() : QString() };
}

QFRemoteProjectList::QFRemoteProjectList(QFSyncClient *client, QObject *parent)
    : QObject(parent)
    , m_client(client)
{
    connect(m_client, &QFSyncClient::loadedMetadata, this, &QFRemoteProjectList::onListing);
    connect(m_client, &QFSyncClient::loadMetadataFailed, this, [this](const QFDropboxError &error) {
        // An empty store has no root folder yet on some services.
        if (error.description.contains(QStringLiteral("not_found")))
            Q_EMIT loaded({});
        else
            Q_EMIT failed(error);
    });
    connect(m_client, &QFSyncClient::loadedFile, this, [this](const QString &destPath) { onInfo(destPath, true); });
    connect(m_client, &QFSyncClient::loadFileFailed, this,
        [this](const QFDropboxError &error) { onInfo(error.path, false); });
}

QFRemoteProjectList::~QFRemoteProjectList() = default;

void QFRemoteProjectList::load()
{
    m_projects.clear();
    m_next = 0;
    m_pending.clear();
    m_client->loadMetadata(QString());
}

void QFRemoteProjectList::onListing(const QFDropboxMetadata &metadata)
{
    for (const QFDropboxEntry &entry : metadata.contents) {
        if (!entry.isDirectory || !QFDropboxSync::isRemoteName(entry.name) || entry.name.startsWith(u'.'))
            continue;
        m_projects.append({ entry.name, QString(), QString() });
    }
    m_folder = std::make_unique<QFTransferFolder>();
    if (!m_folder->isValid()) {
        Q_EMIT loaded(m_projects);
        return;
    }
    readNext();
}

void QFRemoteProjectList::readNext()
{
    if (m_next >= m_projects.size()) {
        m_folder.reset();
        Q_EMIT loaded(m_projects);
        return;
    }
    const QString id = m_projects.at(m_next).projectID;
    m_pending = m_folder->filePath(QString::number(m_next) + QStringLiteral(".plist"));
    m_client->loadFile(u'/' + id + u'/' + QFRemoteProjects::infoFileName(), m_pending);
}

void QFRemoteProjectList::onInfo(const QString &destPath, bool ok)
{
    if (m_pending.isEmpty() || destPath != m_pending)
        return;
    m_pending.clear();
    QFRemoteProject &project = m_projects[m_next];
    if (ok) {
        QFile file(destPath);
        const QByteArray data = file.open(QIODevice::ReadOnly) ? file.read(kLargestInfo + 1) : QByteArray();
        if (const auto info = QFRemoteProjects::parseInfo(data, project.projectID))
            project = *info;
        else
            QFLog::appendLog("The description of the remote project %@ cannot be read; it is listed by its identifier.",
                QFDropboxSync::printableName(project.projectID));
        file.close();
        QFile::remove(destPath);
    }
    ++m_next;
    readNext();
}
