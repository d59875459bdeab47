#include "cli/ProjectLookup.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString absolute(const QString &path)
{
    QString expanded = path;
    if (expanded == QLatin1String("~") || expanded.startsWith(QLatin1String("~/")))
        expanded = QDir::homePath() + expanded.mid(1);
    return QDir::cleanPath(QFileInfo(expanded).absoluteFilePath());
}

} // namespace

std::optional<QFProjectListEntry> findProject(const QString &spec, QString *error)
{
    const QList<QFProjectListEntry> projects = QFProject::projectsInStorageRoot();
    for (const QFProjectListEntry &project : projects) {
        if (project.projectID.compare(spec, Qt::CaseInsensitive) == 0)
            return project;
    }
    const QString path = absolute(spec);
    const QString canonical = QFileInfo(path).canonicalFilePath();
    for (const QFProjectListEntry &project : projects) {
        const QString own = absolute(project.path);
        if (own == path || (!canonical.isEmpty() && QFileInfo(own).canonicalFilePath() == canonical))
            return project;
    }
    QList<QFProjectListEntry> named;
    for (const QFProjectListEntry &project : projects) {
        const QFProject record = QFProject::recordWithPath(project.path, project.sequences, project.projectID);
        if (record.friendlyName() == spec)
            named << project;
    }
    if (named.size() == 1)
        return named.first();
    if (error)
        *error = named.isEmpty() ? QStringLiteral("no project '%1'; see tombrel projects").arg(spec)
                                 : QStringLiteral("'%1' names %2 projects; give its identifier or path").arg(spec).arg(named.size());
    return std::nullopt;
}

QString versionsFolderOf(const QFProjectListEntry &project)
{
    return QFProject::storageRootFromPreferences() + u'/' + project.projectID + QStringLiteral(".localized/Versions");
}
