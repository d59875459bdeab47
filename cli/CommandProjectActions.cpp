// tombrel remove and relink: the application's actions on whole projects.

#include "cli/CommandSupport.h"
#include "cli/ProjectLookup.h"
#include "cli/Progress.h"
#include "cli/TombrelCommand.h"

#include "engine/QFProjectActions.h"

#include <QFileInfo>

int commandRemove(CommandContext &context, const QStringList &arguments)
{
    const auto args = parseArguments(context, QStringLiteral("remove"), arguments, {});
    if (!args)
        return 2;
    if (args->positional.isEmpty())
        return context.usageError(QStringLiteral("remove: give one or more projects; see tombrel remove --help"));
    // Every project is found first, so that a typo removes nothing.
    QList<QFProjectListEntry> projects;
    QString error;
    for (const QString &name : args->positional) {
        const auto entry = findProject(name, &error);
        if (!entry)
            return context.fail(QStringLiteral("remove: %1; nothing was removed").arg(error));
        if (!projects.contains(*entry))
            projects << *entry;
    }

    QStringList folders;
    for (const QFProjectListEntry &project : std::as_const(projects))
        folders << QFileInfo(versionsFolderOf(project)).path();
    // Their synced copies go too when the preferences say removals reach the sync service.
    QFProjectActions::RemovalReport report;
    {
        Progress bar(context.err, QStringLiteral("Removing"), projects.size());
        report = QFProjectActions::removeProjects(
            folders, QFProjectActions::SyncedCopies::FollowPreferences, [&](int done) { bar.setDone(done); });
    }
    for (qsizetype i = 0; i < projects.size(); ++i) {
        if (report.removed.contains(folders.at(i)))
            context.out << "removed project " << projects.at(i).projectID << " (" << projects.at(i).path
                        << "); its versions are in the Trash\n";
    }
    context.out.flush();
    if (!report.removed.isEmpty())
        notifyHelperOfChange(context);
    if (!report.succeeded())
        return context.fail(QStringLiteral("remove: Unable to delete project. %1").arg(report.failures.join(u' ')));
    return 0;
}

int commandRelink(CommandContext &context, const QStringList &arguments)
{
    const auto args = parseArguments(context, QStringLiteral("relink"), arguments, {});
    if (!args)
        return 2;
    if (args->positional.size() != 2)
        return context.usageError(
            QStringLiteral("relink: give a project and the path of its file; see tombrel relink --help"));
    QString error;
    const auto entry = findProject(args->positional.at(0), &error);
    if (!entry)
        return context.fail(QStringLiteral("relink: %1").arg(error));
    QFProject project = QFProject::recordWithPath(entry->path, entry->sequences, entry->projectID);
    project.setSelectedUUID(entry->selectedUUID);
    if (!QFProjectActions::relinkProject(project, args->positional.at(1), &error))
        return context.fail(QStringLiteral("relink: %1").arg(error));
    context.out << "relinked: " << project.projectID() << " -> " << project.projectPath() << "\n";
    context.out.flush();
    notifyHelperOfChange(context);
    return 0;
}
