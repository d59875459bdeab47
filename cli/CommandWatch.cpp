// tombrel watch list|add|remove: the watch folders of the preferences, as the preference window edits them.

#include "cli/CommandSupport.h"
#include "cli/TombrelCommand.h"

#include "engine/QFPreferenceKeys.h"
#include "engine/QFWatchFolderSettings.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

using List = QFWatchFolderSettings::List;

int list(CommandContext &context, const CommandArguments &args, List which)
{
    if (!args.positional.isEmpty())
        return context.usageError(QStringLiteral("watch list: unexpected argument '%1'").arg(args.positional.first()));
    QString error;
    if (!QFPreferenceKeys::readFile(&error))
        return context.fail(QStringLiteral("watch list: %1").arg(error));
    const QList<QFWatchFolderSettings::Entry> entries = QFWatchFolderSettings::entries(which);
    if (args.has(QStringLiteral("--json"))) {
        QJsonArray array;
        for (const auto &entry : entries) {
            QJsonObject object { { QStringLiteral("folder"), entry.folder } };
            if (entry.extensions)
                object.insert(QStringLiteral("extensions"), *entry.extensions);
            array.append(object);
        }
        context.out << QJsonDocument(array).toJson(QJsonDocument::Indented);
        context.out.flush();
        return 0;
    }
    if (entries.isEmpty()) {
        context.out << (which == List::Folders ? "no watch folders\n" : "no drive folders\n");
        context.out.flush();
        return 0;
    }
    qsizetype width = 6;
    for (const auto &entry : entries)
        width = std::max(width, entry.folder.size());
    context.out << QStringLiteral("FOLDER").leftJustified(width) << "  EXTENSIONS\n";
    for (const auto &entry : entries) {
        // An entry without extensions finds no project; say so rather than show a blank.
        const QString extensions = entry.extensions && !entry.extensions->isEmpty()
            ? *entry.extensions
            : QStringLiteral("(none: finds no project)");
        context.out << entry.folder.leftJustified(width) << "  " << extensions << "\n";
    }
    context.out.flush();
    return 0;
}

int add(CommandContext &context, const CommandArguments &args, List which)
{
    if (args.positional.size() != 1)
        return context.usageError(QStringLiteral("watch add: give one folder; see tombrel watch --help"));
    if (!args.values.contains(QStringLiteral("--extensions")))
        return context.usageError(
            QStringLiteral("watch add: --extensions LIST is needed (for example --extensions fcp,prproj)"));
    const QString extensions
        = QFWatchFolderSettings::normalizedExtensions(args.values.value(QStringLiteral("--extensions")));
    if (extensions.isEmpty())
        return context.usageError(QStringLiteral("watch add: --extensions needs at least one extension"));
    const QString folder = QFWatchFolderSettings::normalizedFolder(which, args.positional.first());
    if (folder.isEmpty())
        return context.usageError(QStringLiteral("watch add: the folder is empty"));
    if (which == List::Folders && !QFileInfo(folder).isDir())
        return context.fail(QStringLiteral("watch add: no such folder: %1").arg(folder));

    std::optional<QFWatchFolderSettings::Refusal> refusal;
    QString error;
    if (!QFWatchFolderSettings::addFolder(which, folder, extensions, &refusal, &error)) {
        if (refusal)
            return context.fail(QStringLiteral("watch add: %1. %2").arg(refusal->title, refusal->text));
        return context.fail(QStringLiteral("watch add: %1").arg(error));
    }
    context.out << (which == List::Folders ? "watching " : "watching on every drive ") << folder << " for "
                << extensions << "\n";
    context.out.flush();
    notifyHelperOfChange(context);
    return 0;
}

int remove(CommandContext &context, const CommandArguments &args, List which)
{
    if (args.positional.size() != 1)
        return context.usageError(QStringLiteral("watch remove: give one folder; see tombrel watch --help"));
    const QString folder = QFWatchFolderSettings::normalizedFolder(which, args.positional.first());
    QString error;
    if (!QFWatchFolderSettings::removeFolder(which, folder, &error))
        return context.fail(QStringLiteral("watch remove: %1").arg(error));
    context.out << "no longer watching " << folder << "\n";
    context.out.flush();
    notifyHelperOfChange(context);
    return 0;
}

} // namespace

int commandWatch(CommandContext &context, const QStringList &arguments)
{
    if (arguments.isEmpty())
        return context.usageError(QStringLiteral("watch: one of list, add or remove; see tombrel watch --help"));
    const QString action = arguments.first();
    QStringList flags { QStringLiteral("--drive") };
    QStringList valueOptions;
    if (action == QLatin1String("list"))
        flags << QStringLiteral("--json");
    else if (action == QLatin1String("add"))
        valueOptions << QStringLiteral("--extensions");
    else if (action != QLatin1String("remove"))
        return context.usageError(QStringLiteral("watch: unknown action '%1'; see tombrel watch --help").arg(action));
    const auto args = parseArguments(context, QStringLiteral("watch ") + action, arguments.mid(1), flags, valueOptions);
    if (!args)
        return 2;
    const List which = args->has(QStringLiteral("--drive")) ? List::DriveFolders : List::Folders;
    if (action == QLatin1String("list"))
        return list(context, *args, which);
    if (action == QLatin1String("add"))
        return add(context, *args, which);
    return remove(context, *args, which);
}
