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
        { "diff", "the change lines of NEW against OLD, or between two versions",
            "usage: tombrel diff OLD NEW\n"
            "       tombrel diff PROJECT VERSION VERSION\n"
            "Prints the change lines of NEW against OLD, one a line: two Final Cut Pro XML exports, or two projects "
            "of\n"
            "Kdenlive, Shotcut or melt (MLT XML), told apart by their documents; or from the older of two versions of\n"
            "a project to the newer (versions of the binary format through their XML copies).\n",
            commandDiff },
        { "report", "a project's versions as a printable report",
            "usage: tombrel report PROJECT [--html FILE | --pdf FILE]\n"
            "Writes the report the application prints: every version, newest first, with its date, note and change\n"
            "lines. Without an option the HTML goes to the standard output.\n",
            commandReport },
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
        { "agent", "the helper's start at log-in (systemd user service)",
            "usage: tombrel agent status|install|remove\n"
            "status   the helper's and the autosave's jobs (systemd user units) and whether the helper runs\n"
            "install  writes the helper's job, as the application does, and (re)starts the helper; without a\n"
            "         systemd user instance the helper is started directly\n"
            "remove   stops both jobs and deletes their units\n",
            commandAgent },
        { "helper", "asks the helper whether it runs, to reload, to scan now",
            "usage: tombrel helper status|reload|scan\n"
            "status  tells whether the helper runs (exit status 1 when it does not)\n"
            "reload  has the helper re-read its configuration (watch folders, interval) and scan\n"
            "scan    has the helper back up every changed project and search the watch folders now\n",
            commandHelper },
        { "restore", "restores a version over the project file",
            "usage: tombrel restore PROJECT VERSION\n"
            "Copies the version over the project file. The file it replaces is renamed aside first and moved to\n"
            "the Trash once the copy is complete; when the copy fails it is renamed back, so it is never lost.\n"
            "The XML copy of a Final Cut Pro version restores its .fcp file. Refused, with nothing changed, when\n"
            "the project lies on a drive that is not mounted, or is a Final Cut Pro X project while that runs.\n"
            "VERSION is a number, with or without leading zeros (7 or 00007), or a file name of the version list.\n",
            commandRestore },
        { "annotate", "sets or removes the note of a version",
            "usage: tombrel annotate PROJECT VERSION TEXT\n"
            "Sets the note of a version; line breaks become blanks. An empty TEXT (\"\") removes the note.\n"
            "Put -- before a TEXT that begins with two dashes.\n",
            commandAnnotate },
        { "delete", "moves versions to the Trash",
            "usage: tombrel delete PROJECT VERSION...\n"
            "Moves each version to the Trash with its XML copy and screenshot, and keeps the change list of the\n"
            "version after it telling what changed since the one before. Nothing is deleted when a VERSION is\n"
            "not found.\n",
            commandDelete },
        { "remove", "moves projects with all their versions to the Trash",
            "usage: tombrel remove PROJECT...\n"
            "Moves each project's folder (its versions, screenshots and notes) to the Trash, deletes its\n"
            "change-list cache and tells the helper. The project files themselves are not touched.\n",
            commandRemove },
        { "relink", "points a project at its moved or renamed file",
            "usage: tombrel relink PROJECT PATH\n"
            "Makes PATH the project's file, keeping its versions, and tells the helper.\n",
            commandRelink },
        { "watch", "lists and edits the watch folders",
            "usage: tombrel watch list [--drive] [--json]\n"
            "       tombrel watch add FOLDER --extensions LIST [--drive]\n"
            "       tombrel watch remove FOLDER [--drive]\n"
            "The helper backs up the files with the extensions LIST (comma-separated, as fcp,prproj) found in\n"
            "the watch folders. A folder already watched, or inside a watched folder, is refused.\n"
            "--drive  the folders watched on every drive, relative to a drive's root (as /Final Cut Events)\n"
            "--json   JSON with the keys folder and extensions\n",
            commandWatch },
        { "prefs", "reads and writes the preferences",
            "usage: tombrel prefs list [--json]\n"
            "       tombrel prefs get KEY\n"
            "       tombrel prefs set KEY VALUE\n"
            "list  every key with its type, value (or default) and meaning\n"
            "get   the value of one key, or its default\n"
            "set   checks VALUE against the key's type (integer, switch 0/1, boolean, string, path, date in\n"
            "      ISO 8601) and range, writes it and tells the helper. Lists are changed with tombrel watch.\n",
            commandPrefs },
        { "sync", "sends, lists and restores versions synced to Dropbox or an rclone remote",
            "usage: tombrel sync link [--code CODE]\n"
            "       tombrel sync unlink\n"
            "       tombrel sync status\n"
            "       tombrel sync projects [--json]\n"
            "       tombrel sync list PROJECT [--json]\n"
            "       tombrel sync push PROJECT [VERSION]\n"
            "       tombrel sync restore PROJECT FILE [--to PATH]\n"
            "The store is syncService: 1 Dropbox, 2 the rclone remote syncRemote (NAME:path of rclone config).\n"
            "link     prints the address of Dropbox's page; open it anywhere, allow access and paste the code it\n"
            "         shows (or give it with --code). The link is kept in the Secret Service, or where none\n"
            "         answers in a file only you can read.\n"
            "unlink   forgets the link and revokes it at Dropbox\n"
            "status   whether sync is on (syncService) and an account is linked\n"
            "projects the projects the store holds (name, identifier, path where they were saved); works on a\n"
            "         machine that never had them\n"
            "list     the project's copies in the store, by the version each holds (names that cannot be versions\n"
            "         of the project are left out); PROJECT may be one of sync projects\n"
            "push     uploads the version, or without one every version the store does not hold yet\n"
            "restore  downloads FILE (as list shows it) and puts it in place of the project file, or with --to\n"
            "         at PATH (PROJECT may then be a project of sync projects); the replaced file goes to the Trash\n",
            commandSync },
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
    for (const CommandSpec &command : commands())
        out << "  " << QString::fromUtf8(command.name).leftJustified(18) << command.summary << "\n";
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
    for (const CommandSpec &entry : commands()) {
        if (command == QLatin1String(entry.name)) {
            if (m_context.helpRequested(rest, entry.usage))
                return 0;
            return entry.run(m_context, rest);
        }
    }
    return m_context.usageError(QStringLiteral("unknown command '%1'; see tombrel --help").arg(command));
}
