#pragma once

// Running programs by bundle identifier: the processes of this user whose executable (/proc/PID/exe)
// lies in a bundle with that identifier. A program rebuilt while it runs still counts as its bundle's.
// Safe from any thread.

#include <QList>
#include <QString>

class QFRunningApplications final {
public:
    // The process ids of this user, in no particular order.
    static QList<qint64> processIds();
    static QList<qint64> processesWithBundleIdentifier(const QString &identifier);
    // The executable of a process, or a null string when it cannot be read (another user's, ended).
    static QString executableOfProcess(qint64 pid);
    // The identifier of the bundle a process's executable lies in; a null string when none.
    static QString bundleIdentifierOfProcess(qint64 pid);

    // Force-terminate (SIGKILL) and terminate (SIGTERM); true when the request was accepted.
    static bool forceTerminate(qint64 pid);
    static bool terminate(qint64 pid);
    // False for ended processes and for zombies waiting for their parent.
    static bool isRunning(qint64 pid);
};
