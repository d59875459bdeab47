#pragma once

// The manual page of tombrel (roff, section 1), made from the command table's own texts, so the page
// and `tombrel COMMAND --help` never disagree.

#include <QString>

QString tombrelManPage();
