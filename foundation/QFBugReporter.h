#pragma once

// Crash detection across runs: the launch and exit dates of each run are recorded; a run that started
// and never recorded its exit left a crash report behind, which the next start finds and opens.

#include <QString>

#include <functional>

class QFBugReporter final {
public:
    class Delegate {
    public:
        virtual ~Delegate() = default;
        virtual void applicationDidCrashWithLog(const QString &reportPath) = 0;
    };

    // Checks for a crash of the previous run, records this launch, and installs the crash handler that
    // writes this run's report. Called on the main thread, the delegate hears of a crash before this
    // returns; from another thread, on the main thread later. appName: the name of crash reports (default: the bundle's
    // CFBundleName, else the executable's name). plistPath: where the dates are kept (default: the program's settings).
    static void startBugReporter(
        const QString &appName = QString(), const QString &plistPath = QString(), Delegate *delegate = nullptr);
    static void stopBugReporter(const QString &plistPath = QString());

    // The path of a crash report left by the previous run, or a null string.
    static QString checkForCrashes(const QString &appName = QString(), const QString &plistPath = QString());

    // Gives a settings file under /home/USER back to that user (for programs running as root).
    static void chownPlist(const QString &path);

    // Folder where this user's crash reports are written.
    static QString reportFolder();

    // Seam: how a found report is opened (default: "Bug Reporter" in the bundle, else the desktop's
    // default application for the file).
    static void setReportOpener(std::function<void(const QString &)> opener);
};
