#pragma once

// The projects a remote store holds, as a machine that knows none of them can tell: every project folder
// ("/ID") of an rclone remote holds Project.plist, a dictionary with the project's "projectID", "name" (as
// the window shows it) and "path" (of the project file on the machine that saved it). QFDropboxSync writes
// it with the versions; QFRemoteProjectList reads the folders back. A folder without a readable description
// is still a project, known by its identifier alone.

#include "engine/QFSyncClient.h"

#include <QList>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class QFTransferFolder;

struct QFRemoteProject {
    QString projectID;
    QString name;
    QString path;
    bool operator==(const QFRemoteProject &) const = default;
};

class QFRemoteProjects final {
public:
    // "Project.plist", never a version's name.
    static QString infoFileName();
    // The description of a project folder of the version store (its Settings.plist names the project file);
    // empty when there is none.
    static QByteArray infoForProjectFolder(const QString &projectFolder);
    // The description read back; nothing when it is not a dictionary naming the same identifier.
    static std::optional<QFRemoteProject> parseInfo(const QByteArray &data, const QString &projectID);
};

// Lists the project folders of a store's root, then reads their descriptions one at a time. Give it a
// client of its own (QFDropboxSync::newClient), so that its answers reach nobody else. Main thread.
class QFRemoteProjectList final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFRemoteProjectList)
public:
    explicit QFRemoteProjectList(QFSyncClient *client, QObject *parent = nullptr);
    ~QFRemoteProjectList() override;

    // Ends in loaded or failed.
    void load();

Q_SIGNALS:
    // In the order of the root's listing; an empty root lists none.
    void loaded(const QList<QFRemoteProject> &projects);
    void failed(const QFDropboxError &error);

private:
    void onListing(const QFDropboxMetadata &metadata);
    void readNext();
    void onInfo(const QString &destPath, bool ok);

    QFSyncClient *m_client;
    QList<QFRemoteProject> m_projects;
    qsizetype m_next = 0;
    QString m_pending;
    std::unique_ptr<QFTransferFolder> m_folder;
};
