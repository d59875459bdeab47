#pragma once

// The helper's service on the session bus as the other programs reach it: whether a helper runs, and
// its three requests. Each call waits until the helper's main thread has answered (updateConfiguration
// until its whole set-up has run) or the time-out has passed; without a helper it fails at once, changes
// nothing and logs nothing, since the helper reads the preference file itself when it next starts.
// Also the announcement of new versions that any program posts. Safe from any thread.

#include <QString>

#include <optional>

class QFHelperConnection final {
public:
    // com.quenfield.ProTombrelHelper, object "/", interface com.quenfield.ProTombrelHelper.
    static QString serviceName();
    static QString objectPath();
    static QString interfaceName();

    // The process id of the helper that owns the service, or nothing when none does.
    static std::optional<qint64> runningHelper();

    // Set-up can walk large folders, so its default wait is long.
    static bool updateConfiguration(QString *error = nullptr, int timeoutMs = 120000);
    static bool startBackupScan(QString *error = nullptr, int timeoutMs = 25000);
    static bool filesBackedUp(QString *error = nullptr, int timeoutMs = 25000);

    // Posts the signal QFProTombrelFilesBackedUp (interface com.quenfield.ProTombrel, object
    // /com/quenfield/ProTombrel) on which the application reloads its lists. False without a bus.
    static bool postFilesBackedUp();
};
