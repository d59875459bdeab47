#include "cli/TombrelCommand.h"

#include "cli/CommandSupport.h"

#include "engine/QFProject.h"
#include "engine/QFProjectActions.h"
#include "engine/QFVersionsFolder.h"
#include "foundation/QFLocalPaths.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>

namespace {

// Versions in the project's Versions folder; the XML copy of a version file is not one.
int versionCount(const QString &projectFolder)
{
    return int(QFVersionsFolder::versions(projectFolder + QStringLiteral("/Versions")).size());
}

QString typeName(qint64 type)
{
    return type == QFProject::FinalCutProProject ? QStringLiteral("fcp") : QStringLiteral("file");
}

} // namespace

int commandAdd(CommandContext &context, const QStringList &arguments)
{
    QStringList paths;
    for (const QString &arg : arguments) {
        if (arg.startsWith(QLatin1String("--")))
            return context.usageError(QStringLiteral("add: unknown option '%1'").arg(arg));
        paths << arg;
    }
    if (paths.isEmpty())
        return context.usageError(QStringLiteral("add: no project file given; see tombrel add --help"));
    // Check them all first, so that a typo adds nothing.
    for (const QString &path : paths) {
        if (!QFileInfo::exists(QFLocalPaths::absolutePath(path)))
            return context.fail(QStringLiteral("add: no such file: %1").arg(path));
    }

    bool changed = false;
    int status = 0;
    for (const QString &path : paths) {
        const QFProjectActions::AddResult added = QFProjectActions::addProject(path);
        const QString absolute = QFLocalPaths::absolutePath(path);
        switch (added.status) {
        case QFProjectActions::AddStatus::AlreadyListed:
            context.out << "already registered: " << absolute << " (" << added.project.projectID() << ")\n";
            break;
        case QFProjectActions::AddStatus::Refused:
            status = context.fail(QStringLiteral("add: %1").arg(added.reason));
            break;
        case QFProjectActions::AddStatus::Failed:
            status = context.fail(QStringLiteral("add: %1").arg(added.reason));
            break;
        case QFProjectActions::AddStatus::Added:
            context.out << "added: " << absolute << " (" << added.project.projectID() << ")\n";
            changed = true;
            break;
        }
    }
    context.out.flush();
    if (changed)
        notifyHelperOfChange(context);
    return status;
}

int commandProjects(CommandContext &context, const QStringList &arguments)
{
    bool json = false;
    for (const QString &arg : arguments) {
        if (arg == QLatin1String("--json"))
            json = true;
        else
            return context.usageError(QStringLiteral("projects: unexpected argument '%1'").arg(arg));
    }

    // Records are made without touching the store, so listing works on a read-only one.
    QList<QFProject> projects;
    for (const QFProjectListEntry &entry : QFProject::projectsInStorageRoot()) {
        QFProject project = QFProject::recordWithPath(entry.path, entry.sequences, entry.projectID);
        project.setSelectedUUID(entry.selectedUUID);
        projects << project;
    }
    std::stable_sort(projects.begin(), projects.end(), QFProject::nameLessThan);

    if (json) {
        QJsonArray list;
        for (const QFProject &project : projects) {
            QJsonObject object { { QStringLiteral("friendlyName"), project.friendlyName() },
                { QStringLiteral("projectPath"), project.projectPath() },
                { QStringLiteral("projectID"), project.projectID() }, { QStringLiteral("type"), project.type() },
                { QStringLiteral("versionCount"), versionCount(project.destinationPath()) } };
            if (!project.selectedUUID().isEmpty())
                object.insert(QStringLiteral("selectedUUID"), project.selectedUUID());
            if (const auto sequences = project.sequences()) {
                QJsonArray array;
                for (const QFProjectSequence &sequence : *sequences)
                    array.append(QJsonObject {
                        { QStringLiteral("name"), sequence.name }, { QStringLiteral("uuid"), sequence.uuid } });
                object.insert(QStringLiteral("sequences"), array);
            }
            list.append(object);
        }
        context.out << QJsonDocument(list).toJson(QJsonDocument::Indented);
        context.out.flush();
        return 0;
    }

    if (projects.isEmpty()) {
        context.out << "no projects\n";
        context.out.flush();
        return 0;
    }
    qsizetype nameWidth = 4;
    for (const QFProject &project : projects)
        nameWidth = std::max(nameWidth, project.friendlyName().size());
    // Padded by hand: names are the user's text and may hold anything, "%1" included.
    const auto row
        = [&](const QString &name, const QString &type, const QString &count, const QString &id, const QString &path) {
              context.out << name.leftJustified(nameWidth) << "  " << type.leftJustified(4) << "  "
                          << count.rightJustified(8) << "  " << id.leftJustified(36) << "  " << path << "\n";
          };
    row(QStringLiteral("NAME"), QStringLiteral("TYPE"), QStringLiteral("VERSIONS"), QStringLiteral("ID"),
        QStringLiteral("PATH"));
    for (const QFProject &project : projects) {
        row(project.friendlyName(), typeName(project.type()), QString::number(versionCount(project.destinationPath())),
            project.projectID(), project.projectPath());
    }
    context.out.flush();
    return 0;
}
