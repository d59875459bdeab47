// tombrel agent: the helper's and the autosave's jobs of the service manager, as the application writes them.

#include "cli/CommandSupport.h"
#include "cli/TombrelCommand.h"

#include "engine/QFHelperAgent.h"
#include "engine/QFTombrelBackup.h"
#include "foundation/QFLaunchd.h"

int commandAgent(CommandContext &context, const QStringList &arguments)
{
    if (arguments.size() != 1)
        return context.usageError(QStringLiteral("agent: give status, install or remove; see tombrel agent --help"));
    const QString action = arguments.first();
    const QString helper = QString::fromLatin1(QFHelperAgent::kHelperJob);
    const QString autosave = QString::fromLatin1(QFHelperAgent::kAutosaveJob);
    if (action == QLatin1String("status")) {
        context.out << helper << ": " << QFLaunchd::jobState(helper) << "\n"
                    << autosave << ": " << QFLaunchd::jobState(autosave) << "\n"
                    << "helper process: "
                    << (QFLaunchd::isProcessRunning(QStringLiteral("ProTombrelHelper")) ? "running" : "not running")
                    << "\n";
        context.out.flush();
        return 0;
    }
    if (action == QLatin1String("install")) {
        QFTombrelBackup engine;
        if (!QFHelperAgent::generateLaunchdPlist(false, false, engine))
            return context.fail(QStringLiteral(
                "agent install: the helper's job could not be written; the log says why (tombrel paths)"));
        context.out << QFLaunchd::serviceFile(helper) << "\n";
        context.out.flush();
        return 0;
    }
    if (action == QLatin1String("remove")) {
        const bool removed = QFLaunchd::removeJob(autosave, false) && QFLaunchd::removeJob(helper, false);
        if (!removed)
            return context.fail(
                QStringLiteral("agent remove: a job file could not be deleted from %1").arg(QFLaunchd::jobFolder()));
        context.out << "The helper no longer starts at log-in.\n";
        context.out.flush();
        return 0;
    }
    return context.usageError(QStringLiteral("agent: unknown action '%1'").arg(action));
}
