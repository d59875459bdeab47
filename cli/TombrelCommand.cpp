#include "cli/TombrelCommand.h"

int CommandContext::usageError(const QString &message)
{
    err << "tombrel: " << message << "\n";
    err.flush();
    return 2;
}

int CommandContext::fail(const QString &message)
{
    err << "tombrel: " << message << "\n";
    err.flush();
    return 1;
}

bool CommandContext::helpRequested(const QStringList &arguments, const char *usage)
{
    if (!arguments.contains(QStringLiteral("--help")))
        return false;
    out << usage;
    out.flush();
    return true;
}

const QList<CommandSpec> &TombrelCommand::commands()
{
    static const QList<CommandSpec> table = {
        { "paths", "the folders in use: storage root, preference file, caches, logs",
            "usage: tombrel paths [--json]\n"
            "Prints the folders in use: storage root, preference file, caches, logs.\n",
            commandPaths },
        { "add", "registers project files",
            "usage: tombrel add PATH...\n"
            "Registers each project file with the version store. A file already registered is left as it is.\n",
            commandAdd },
        { "projects", "lists the projects",
            "usage: tombrel projects [--json]\n"
            "Lists the registered projects with their number of versions.\n",
            commandProjects },
        { "diff", "the change lines of NEW.xml against OLD.xml",
            "usage: tombrel diff OLD.xml NEW.xml\n"
            "Prints the change lines of NEW.xml against OLD.xml, one a line.\n",
            commandDiff },
        { "backup", "backs a project up now",
            "usage: tombrel backup PROJECT [--uuid UUID]\n"
            "Backs the project up now, as the application's back-up-now does, then applies the retention rules.\n"
            "PROJECT is a project identifier, the path of the project file, or a display name.\n"
            "--uuid UUID exports that sequence as the version's XML instead of the selected one.\n",
            commandBackup },
        { "scan", "backs up every changed project, then prunes",
            "usage: tombrel scan [PATH-PREFIX]\n"
            "Backs up every project whose file changed since its last version (only those under the prefix),\n"
            "then applies the retention rules.\n",
            commandScan },
        { "prune", "applies the retention rules",
            "usage: tombrel prune\n"
            "Applies the retention rules of the preferences to every project.\n",
            commandPrune },
        { "versions", "lists a project's versions, newest first",
            "usage: tombrel versions PROJECT [--json]\n"
            "Lists the versions of a project, newest first, with number, date, size, note and change lines.\n",
            commandVersions },
        { "changes", "one version's change lines",
            "usage: tombrel changes PROJECT VERSION\n"
            "Prints the change lines of one version, one a line. VERSION is its number (7 or 00007).\n",
            commandChanges },
        { "cache", "removes every change-list cache",
            "usage: tombrel cache clear\n"
            "Removes every change-list cache; the change lines are computed again when next needed.\n",
            commandCache },
        { "helper", "asks the helper whether it runs, to reload, to scan now",
            "usage: tombrel helper status|reload|scan\n"
            "status  tells whether the helper runs (exit status 1 when it does not)\n"
            "reload  has the helper re-read its configuration (watch folders, interval) and scan\n"
            "scan    has the helper back up every changed project and search the watch folders now\n",
            commandHelper },
    };
    return table;
}

TombrelCommand::TombrelCommand(QTextStream &out, QTextStream &err)
    : m_context(out, err)
{
}

QString TombrelCommand::version()
{
    return QStringLiteral(QF_VERSION);
}

void TombrelCommand::printHelp()
{
    QTextStream &out = m_context.out;
    out << "usage: tombrel COMMAND [options] [arguments]\n\ncommands:\n";
    for (const CommandSpec &spec : commands())
        out << "  " << QString::fromUtf8(spec.name).leftJustified(18) << spec.summary << "\n";
    out << "\noptions:\n"
           "  --help            this text; COMMAND --help for one command\n"
           "  --version         the version of tombrel\n";
    out.flush();
}

int TombrelCommand::run(const QStringList &arguments)
{
    if (arguments.isEmpty())
        return m_context.usageError(QStringLiteral("no command given; see tombrel --help"));
    const QString command = arguments.first();
    const QStringList rest = arguments.mid(1);
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        printHelp();
        return 0;
    }
    if (command == QLatin1String("--version")) {
        m_context.out << "tombrel " << version() << "\n";
        m_context.out.flush();
        return 0;
    }
    for (const CommandSpec &spec : commands()) {
        if (command == QLatin1String(spec.name)) {
            if (m_context.helpRequested(rest, spec.usage))
                return 0;
            return spec.run(m_context, rest);
        }
    }
    return m_context.usageError(QStringLiteral("unknown command '%1'; see tombrel --help").arg(command));
}
