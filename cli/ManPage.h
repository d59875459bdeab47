#pragma once

// The manual page of tombrel (roff, section 1) and its bash completion, both made from the command
// table's own texts, so the page, the completion and `tombrel COMMAND --help` never disagree.

#include <QString>

QString tombrelManPage();

// A bash completion script for tombrel: commands, the subcommands and options each command's usage
// text names, files and folders where the usage asks for them, and project names, which the script
// reads from `tombrel projects` at completion time.
QString tombrelBashCompletion();
