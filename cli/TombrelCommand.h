#pragma once

// The tombrel command: the engine from a terminal. The command logic writes only to the streams it is
// given, so it runs in-process in tests. Exit status: 0 success, 1 the work failed, 2 a usage error.

#include <QStringList>
#include <QTextStream>

#include <functional>

// What one command's handler works with.
class CommandContext final {
public:
    CommandContext(QTextStream &out, QTextStream &err)
        : out(out)
        , err(err)
    {
    }
    QTextStream &out;
    QTextStream &err;

    // "tombrel: MESSAGE" on standard error; return values are the exit statuses.
    int usageError(const QString &message);
    int fail(const QString &message);
    // Whether --help was asked for; prints the usage text when it was.
    bool helpRequested(const QStringList &arguments, const char *usage);
};

// One command of the table: its name, a one-line summary for --help, its usage text, its handler.
struct CommandSpec {
    const char *name;
    const char *summary;
    const char *usage;
    std::function<int(CommandContext &, const QStringList &)> run;
};

class TombrelCommand final {
public:
    TombrelCommand(QTextStream &out, QTextStream &err);

    // arguments: without the program name.
    int run(const QStringList &arguments);

    static QString version();
    static const QList<CommandSpec> &commands();

private:
    void printHelp();

    CommandContext m_context;
};

// The commands, each in a file of its own (cli/Command*.cpp).
int commandPaths(CommandContext &context, const QStringList &arguments);
int commandAdd(CommandContext &context, const QStringList &arguments);
int commandProjects(CommandContext &context, const QStringList &arguments);
int commandDiff(CommandContext &context, const QStringList &arguments);
int commandBackup(CommandContext &context, const QStringList &arguments);
int commandScan(CommandContext &context, const QStringList &arguments);
int commandReport(CommandContext &context, const QStringList &arguments);
int commandAgent(CommandContext &context, const QStringList &arguments);
int commandPrune(CommandContext &context, const QStringList &arguments);
int commandVersions(CommandContext &context, const QStringList &arguments);
int commandChanges(CommandContext &context, const QStringList &arguments);
int commandCache(CommandContext &context, const QStringList &arguments);
int commandHelper(CommandContext &context, const QStringList &arguments);
int commandRestore(CommandContext &context, const QStringList &arguments);
int commandAnnotate(CommandContext &context, const QStringList &arguments);
int commandDelete(CommandContext &context, const QStringList &arguments);
int commandRemove(CommandContext &context, const QStringList &arguments);
int commandRelink(CommandContext &context, const QStringList &arguments);
int commandWatch(CommandContext &context, const QStringList &arguments);
int commandPrefs(CommandContext &context, const QStringList &arguments);
int commandSync(CommandContext &context, const QStringList &arguments);
