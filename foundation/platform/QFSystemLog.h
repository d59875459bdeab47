#pragma once

// The machine's system log (syslog), for the lines the system writes there rather than in its own log.

#include <QString>

void qfSystemLog(const QString &message);
