// tombrel restore, annotate and delete: the application's actions on one project's versions.

#include "cli/CommandSupport.h"
#include "cli/ProjectLookup.h"
#include "cli/Progress.h"
#include "cli/TombrelCommand.h"

#include "engine/QFProjectActions.h"

#include <QFileInfo>

namespace {

QFProject recordOf(const QFProjectListEntry &entry)
{
    QFProject project = QFProject::recordWithPath(entry.path, entry.sequences, entry.projectID);
    project.setSelectedUUID(entry.selectedUUID);
    return project;
}

} // namespace

int commandRestore(CommandContext &context, const QStringList &arguments)
{
    const auto args = parseArguments(context, QStringLiteral("restore"), arguments, {});
    if (!args)
        return 2;
    if (args->positional.size() != 2)
        return context.usageError(QStringLiteral("restore: give a project and a version; see tombrel restore --help"));
    QString error;
    const auto entry = findProject(args->positional.at(0), &error);
    if (!entry)
        return context.fail(QStringLiteral("restore: %1").arg(error));
    const auto version = QFProjectActions::findVersion(versionsFolderOf(*entry), args->positional.at(1), &error);
    if (!version)
        return context.fail(QStringLiteral("restore: %1").arg(error));

    const QFProject project = recordOf(*entry);
    const bool replacing
        = QFileInfo::exists(project.expandedProjectPath()) || QFileInfo(project.expandedProjectPath()).isSymLink();
    QFProjectActions::RestoreResult result;
    Progress::run(context.err, QStringLiteral("Restoring"),
        [&] { result = QFProjectActions::restoreVersion(project, *version); });

    if (!result.succeeded()) {
        QString line = QStringLiteral("restore: %1. %2").arg(result.title, result.message);
        if (!result.keptOldFile.isEmpty())
            line += QStringLiteral(" The old project file is kept at %1").arg(result.keptOldFile);
        return context.fail(line);
    }
    context.out << result.message << "\n"
                << "  " << result.source << "\n  -> " << project.expandedProjectPath() << "\n";
    if (!result.keptOldFile.isEmpty())
        context.out << "The Trash refused the replaced file; it is kept at " << result.keptOldFile << "\n";
    else if (replacing)
        context.out << "The replaced file is in the Trash.\n";
    context.out.flush();
    return 0;
}

int commandAnnotate(CommandContext &context, const QStringList &arguments)
{
    const auto args = parseArguments(context, QStringLiteral("annotate"), arguments, {});
    if (!args)
        return 2;
    if (args->positional.size() != 3)
        return context.usageError(QStringLiteral(
            "annotate: give a project, a version and a note (\"\" removes it); see tombrel annotate --help"));
    QString error;
    const auto entry = findProject(args->positional.at(0), &error);
    if (!entry)
        return context.fail(QStringLiteral("annotate: %1").arg(error));
    const auto version = QFProjectActions::findVersion(versionsFolderOf(*entry), args->positional.at(1), &error);
    if (!version)
        return context.fail(QStringLiteral("annotate: %1").arg(error));
    const QString text = args->positional.at(2);
    if (!QFProjectActions::annotateVersion(*version, text, &error))
        return context.fail(QStringLiteral("annotate: %1").arg(error));
    const QString name = QFileInfo(*version).fileName();
    if (text.isEmpty())
        context.out << "note removed from " << name << "\n";
    else
        context.out << "note set on " << name << "\n";
    context.out.flush();
    return 0;
}

int commandDelete(CommandContext &context, const QStringList &arguments)
{
    const auto args = parseArguments(context, QStringLiteral("delete"), arguments, {});
    if (!args)
        return 2;
    if (args->positional.size() < 2)
        return context.usageError(
            QStringLiteral("delete: give a project and one or more versions; see tombrel delete --help"));
    QString error;
    const auto entry = findProject(args->positional.at(0), &error);
    if (!entry)
        return context.fail(QStringLiteral("delete: %1").arg(error));
    // Every version is found first, so that a typo deletes nothing.
    const QString folder = versionsFolderOf(*entry);
    QStringList files;
    for (const QString &wanted : args->positional.mid(1)) {
        const auto version = QFProjectActions::findVersion(folder, wanted, &error);
        if (!version)
            return context.fail(QStringLiteral("delete: %1; nothing was deleted").arg(error));
        if (!files.contains(*version))
            files << *version;
    }

    QStringList remaining;
    {
        Progress bar(context.err, QStringLiteral("Deleting"), files.size());
        remaining = QFProjectActions::deleteVersions(files, [&](int done) { bar.setDone(done); });
    }
    for (const QString &file : std::as_const(files)) {
        if (!remaining.contains(file))
            context.out << "moved to the Trash: " << QFileInfo(file).fileName() << "\n";
    }
    context.out.flush();
    if (!remaining.isEmpty())
        return context.fail(QStringLiteral("delete: could not remove %1; the log says why (tombrel paths)")
                                .arg(remaining.join(QStringLiteral(", "))));
    return 0;
}
