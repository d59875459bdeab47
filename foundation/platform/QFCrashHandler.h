#pragma once

// A handler for the fatal signals (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT) that writes
// "NAME_YYYY-MM-DD-HHMMSS.crash" with the signal and a backtrace into a folder, using only
// async-signal-safe calls, and then lets the signal take its course.

#include <QString>

// Installs the handler; the folder is created now. Returns false when it cannot be used.
bool qfInstallCrashHandler(const QString &folder, const QString &appName);
