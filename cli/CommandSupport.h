#pragma once

// What the commands on projects, versions and settings share: reading their arguments, and telling
// the helper about a change it must see.

#include "cli/TombrelCommand.h"

#include <QSet>
#include <QStringList>

// The arguments of a command: its positional arguments and the flags given (each of them allowed).
// Everything after "--" is positional, so a note may begin with a dash.
struct CommandArguments {
    QStringList positional;
    QSet<QString> flags;
    // Options that take a value ("--extensions avb"), by name.
    QHash<QString, QString> values;

    bool has(const QString &flag) const { return flags.contains(flag); }
};

// Nothing, after a usage error on err, when an option is unknown or lacks its value.
std::optional<CommandArguments> parseArguments(CommandContext &context, const QString &command,
    const QStringList &arguments, const QStringList &allowedFlags, const QStringList &valueOptions = {});

// Tells a running helper to re-read its configuration. Without a helper nothing happens (it reads the
// preference file when it starts); a helper that does not answer only earns a warning.
void notifyHelperOfChange(CommandContext &context);
