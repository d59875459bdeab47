// tombrel helper status|reload|scan: the helper over the session bus.

#include "cli/TombrelCommand.h"

#include "foundation/QFHelperConnection.h"

int commandHelper(CommandContext &context, const QStringList &arguments)
{
    if (arguments.size() != 1)
        return context.usageError(QStringLiteral("helper: one of status, reload or scan; see tombrel helper --help"));
    const QString action = arguments.first();
    if (action == QLatin1String("status")) {
        const auto pid = QFHelperConnection::runningHelper();
        if (!pid) {
            context.out << "the helper is not running\n";
            context.out.flush();
            return 1;
        }
        context.out << "the helper is running (process " << *pid << ")\n";
        context.out.flush();
        return 0;
    }
    QString error;
    if (action == QLatin1String("reload")) {
        if (!QFHelperConnection::updateConfiguration(&error))
            return context.fail(QStringLiteral("helper reload: %1").arg(error));
        context.out << "the helper has re-read its configuration and queued a full scan\n";
        context.out.flush();
        return 0;
    }
    if (action == QLatin1String("scan")) {
        if (!QFHelperConnection::startBackupScan(&error))
            return context.fail(QStringLiteral("helper scan: %1").arg(error));
        context.out << "the helper has queued a full scan\n";
        context.out.flush();
        return 0;
    }
    return context.usageError(QStringLiteral("helper: unknown action '%1'; see tombrel helper --help").arg(action));
}
