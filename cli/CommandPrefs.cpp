// tombrel prefs list|get|set: the preference file, typed and checked against its key table.

#include "cli/CommandSupport.h"
#include "cli/TombrelCommand.h"

#include "engine/QFPreferenceKeys.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>

namespace {

int list(CommandContext &context, const CommandArguments &args)
{
    if (!args.positional.isEmpty())
        return context.usageError(QStringLiteral("prefs list: unexpected argument '%1'").arg(args.positional.first()));
    QString error;
    const auto file = QFPreferenceKeys::readFile(&error);
    if (!file)
        return context.fail(QStringLiteral("prefs list: %1").arg(error));

    struct Row {
        QString key, type, value, meaning;
        QVariant stored, registered;
    };
    QList<Row> rows;
    const QList<QFPreferenceKey> table = QFPreferenceKeys::table();
    for (const QFPreferenceKey &key : table) {
        Row row { key.name, QFPreferenceKeys::typeName(key.type), {}, key.meaning, file->value(key.name),
            key.registeredDefault };
        if (file->contains(key.name)) {
            row.value = QFPreferenceKeys::format(row.stored);
            if (!QFPreferenceKeys::hasType(key, row.stored))
                row.value += QStringLiteral("  (not a %1: readers use their default)").arg(row.type);
        } else if (key.registeredDefault.isValid()) {
            row.value = QFPreferenceKeys::format(key.registeredDefault) + QStringLiteral("  (default)");
        } else {
            row.value = QStringLiteral("(not set)");
        }
        rows << row;
    }
    // Keys of the file the table does not know (other versions of the application write some).
    for (auto it = file->cbegin(); it != file->cend(); ++it) {
        if (!QFPreferenceKeys::find(it.key()))
            rows << Row { it.key(), QStringLiteral("other"), QFPreferenceKeys::format(it.value()), {}, it.value(), {} };
    }

    if (args.has(QStringLiteral("--json"))) {
        QJsonArray array;
        for (const Row &row : std::as_const(rows)) {
            QJsonObject object { { QStringLiteral("key"), row.key }, { QStringLiteral("type"), row.type } };
            if (row.stored.isValid())
                object.insert(QStringLiteral("value"), QFPreferenceKeys::toJson(row.stored));
            if (row.registered.isValid())
                object.insert(QStringLiteral("default"), QFPreferenceKeys::toJson(row.registered));
            if (!row.meaning.isEmpty())
                object.insert(QStringLiteral("meaning"), row.meaning);
            array.append(object);
        }
        context.out << QJsonDocument(array).toJson(QJsonDocument::Indented);
        context.out.flush();
        return 0;
    }
    qsizetype keyWidth = 3, valueWidth = 5;
    for (const Row &row : std::as_const(rows)) {
        keyWidth = std::max(keyWidth, row.key.size());
        valueWidth = std::max(valueWidth, std::min<qsizetype>(row.value.size(), 48));
    }
    context.out << QStringLiteral("KEY").leftJustified(keyWidth) << "  " << QStringLiteral("TYPE").leftJustified(7)
                << "  " << QStringLiteral("VALUE").leftJustified(valueWidth) << "  MEANING\n";
    for (const Row &row : std::as_const(rows)) {
        context.out << row.key.leftJustified(keyWidth) << "  " << row.type.leftJustified(7) << "  "
                    << row.value.leftJustified(valueWidth) << "  " << row.meaning << "\n";
    }
    context.out.flush();
    return 0;
}

int get(CommandContext &context, const CommandArguments &args)
{
    if (args.positional.size() != 1)
        return context.usageError(QStringLiteral("prefs get: give one key; see tombrel prefs list"));
    const QString name = args.positional.first();
    const auto key = QFPreferenceKeys::find(name);
    if (!key)
        return context.usageError(QStringLiteral("prefs get: unknown key '%1'; see tombrel prefs list").arg(name));
    QString error;
    const auto file = QFPreferenceKeys::readFile(&error);
    if (!file)
        return context.fail(QStringLiteral("prefs get: %1").arg(error));
    if (file->contains(name))
        context.out << QFPreferenceKeys::format(file->value(name)) << "\n";
    else if (key->registeredDefault.isValid())
        context.out << QFPreferenceKeys::format(key->registeredDefault) << "\n";
    else
        return context.fail(QStringLiteral("prefs get: %1 is not set").arg(name));
    context.out.flush();
    return 0;
}

int set(CommandContext &context, const CommandArguments &args)
{
    if (args.positional.size() != 2)
        return context.usageError(QStringLiteral("prefs set: give a key and a value; see tombrel prefs --help"));
    const QString name = args.positional.first();
    const auto key = QFPreferenceKeys::find(name);
    if (!key)
        return context.usageError(QStringLiteral("prefs set: unknown key '%1'; see tombrel prefs list").arg(name));
    QString error;
    const auto value = QFPreferenceKeys::parse(*key, args.positional.at(1), &error);
    if (!value)
        return context.usageError(QStringLiteral("prefs set: %1").arg(error));
    if (!QFPreferenceKeys::update({ { name, *value } }, {}, &error))
        return context.fail(QStringLiteral("prefs set: %1").arg(error));
    context.out << name << " = " << QFPreferenceKeys::format(*value) << "\n";
    context.out.flush();
    notifyHelperOfChange(context);
    return 0;
}

} // namespace

int commandPrefs(CommandContext &context, const QStringList &arguments)
{
    if (arguments.isEmpty())
        return context.usageError(QStringLiteral("prefs: one of list, get or set; see tombrel prefs --help"));
    const QString action = arguments.first();
    QStringList flags;
    if (action == QLatin1String("list"))
        flags << QStringLiteral("--json");
    else if (action != QLatin1String("get") && action != QLatin1String("set"))
        return context.usageError(QStringLiteral("prefs: unknown action '%1'; see tombrel prefs --help").arg(action));
    const auto args = parseArguments(context, QStringLiteral("prefs ") + action, arguments.mid(1), flags);
    if (!args)
        return 2;
    if (action == QLatin1String("list"))
        return list(context, *args);
    if (action == QLatin1String("get"))
        return get(context, *args);
    return set(context, *args);
}
