#include "cli/ProjectLookup.h"

#include "foundation/QFLocalPaths.h"

#include <QDir>
#include <QFileInfo>

std::optional<QFProjectListEntry> findProject(const QString &projectName, QString *error)
{
    const QList<QFProjectListEntry> projects = QFProject::projectsInStorageRoot();
    for (const QFProjectListEntry &project : projects) {
        if (project.projectID.compare(projectName, Qt::CaseInsensitive) == 0)
            return project;
    }
    const QString path = QFLocalPaths::absolutePath(projectName);
    const QString canonical = QFileInfo(path).canonicalFilePath();
    for (const QFProjectListEntry &project : projects) {
        const QString own = QFLocalPaths::absolutePath(project.path);
        if (own == path || (!canonical.isEmpty() && QFileInfo(own).canonicalFilePath() == canonical))
            return project;
    }
    QList<QFProjectListEntry> named;
    for (const QFProjectListEntry &project : projects) {
        const QFProject record = QFProject::recordWithPath(project.path, project.sequences, project.projectID);
        if (record.friendlyName() == projectName)
            named << project;
    }
    if (named.size() == 1)
        return named.first();
    if (error)
        *error = named.isEmpty()
            ? QStringLiteral("no project '%1'; see tombrel projects").arg(projectName)
            : QStringLiteral("'%1' names %2 projects; give its identifier or path").arg(projectName).arg(named.size());
    return std::nullopt;
}

QString versionsFolderOf(const QFProjectListEntry &project)
{
    return QFProject::storageRoot() + u'/' + project.projectID + QStringLiteral(".localized/Versions");
}
