#pragma once

// The two jobs of the service manager that keep the product running without anyone opening it: the
// helper (started at every log-in, restarted when it fails) and the periodic "-autosave" run of the
// application. The application and `tombrel agent` both go through here. Blocking; any thread.

#include "foundation/QFLaunchd.h"

#include <QString>

class QFTombrelBackup;

class QFHelperAgent final {
public:
    static constexpr const char *kHelperJob = "com.quenfield.ProTombrel";
    static constexpr const char *kAutosaveJob = "com.quenfield.ProTombrel.autosave";

    static QString helperExecutable(const QString &bundlePath);
    static QFLaunchdJob helperJob(const QString &bundlePath);
    // Every autosaveInterval minutes (60 seconds below 1 minute).
    static QFLaunchdJob autosaveJob(const QString &bundlePath, qint64 autosaveIntervalMinutes);

    // Writes the autosave job, then writes (or, for a window with nothing to watch, removes) the helper's
    // job and restarts the helper: the old one is waited for until it has ended. mayAuth: privileges may
    // be asked for. Where no service manager answers, the helper is started directly. False when the
    // helper's job is not in place. Sheets go to QFLaunchd::alertWindow().
    static bool generateLaunchdPlist(bool mayAuth, bool hasUserInterface, const QFTombrelBackup &engine);
    // Writes the autosave job while autosave is on, the editor is version 7 or later and there are projects;
    // removes it otherwise (and switches autosave off for an older editor).
    static void generateAutosavePlist(const QFTombrelBackup &engine);
    enum class Relaunch { Relaunched, NothingToWatch, Failed };
    // Ends the helper and writes its job again as generateLaunchdPlist does (with privileges allowed);
    // starts it directly when it still does not run. Relaunched only when a helper runs afterwards (waiting
    // up to 5 seconds for it to appear); for a window with nothing to watch no helper is started.
    static Relaunch relaunchHelper(const QFTombrelBackup &engine, bool hasUserInterface);
    static bool startHelperDirectly(const QString &bundlePath);
};
