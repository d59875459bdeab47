#include "cli/CommandSupport.h"

#include "foundation/QFHelperConnection.h"

std::optional<CommandArguments> parseArguments(CommandContext &context, const QString &command,
    const QStringList &arguments, const QStringList &allowedFlags, const QStringList &valueOptions)
{
    CommandArguments parsed;
    bool onlyPositional = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        if (onlyPositional || !arg.startsWith(QLatin1String("--"))) {
            parsed.positional << arg;
        } else if (arg == QLatin1String("--")) {
            onlyPositional = true;
        } else if (allowedFlags.contains(arg)) {
            parsed.flags.insert(arg);
        } else if (valueOptions.contains(arg)) {
            if (i + 1 >= arguments.size()) {
                context.usageError(QStringLiteral("%1: %2 needs a value").arg(command, arg));
                return std::nullopt;
            }
            parsed.values.insert(arg, arguments.at(++i));
        } else {
            context.usageError(QStringLiteral("%1: unknown option '%2'; see tombrel %1 --help").arg(command, arg));
            return std::nullopt;
        }
    }
    return parsed;
}

void notifyHelperOfChange(CommandContext &context)
{
    if (!QFHelperConnection::runningHelper())
        return;
    QString error;
    if (!QFHelperConnection::updateConfiguration(&error)) {
        context.err << "tombrel: the change is saved, but the helper did not take it (" << error
                    << "); it reads it when it next starts\n";
        context.err.flush();
    }
}
