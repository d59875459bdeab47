#pragma once

// Jobs of the service manager: the systemd user instance, with unit files in the user's LaunchAgents
// folder ($XDG_CONFIG_HOME/systemd/user). A job N is the unit N.service, and with an interval also the
// timer N.timer that starts it. A job is always written whole (never merged): an existing one is stopped
// and deleted first, and after writing it is enabled and (re)started, which restarts a running helper.
// Every call blocks its thread for the tool's time-outs (10 seconds each); sheets go to the main window.

#include <QString>
#include <QStringList>

struct QFLaunchdJob {
    QString label;          // the job's name as people read it (the unit's description)
    QString program;        // the executable
    QStringList arguments;  // given after the executable
    bool runAtLoad = false; // enabled for the session (started at every log-in)
    bool keepAlive = false; // restarted after an unsuccessful exit
    int startInterval = 0;  // seconds between starts; 0 for none
};

class QFLaunchd final {
public:
    // The files of job N: N.service, and N.timer for a job with an interval.
    static QString jobFolder();
    static QString serviceFile(const QString &name);
    static QString timerFile(const QString &name);
    static QString serviceText(const QFLaunchdJob &job);
    static QString timerText(const QString &name, const QFLaunchdJob &job);

    static bool startLaunchAgent(const QString &name, const QFLaunchdJob &job);
    // Writes and (re)starts a job; killProcessName, when given, is ended first. False when the job's
    // files could not be written (reported) — or when no service manager answers (only logged, once).
    static bool startJob(const QString &name, const QFLaunchdJob &job, bool shouldAuth, const QString &killProcessName = QString());
    static bool removeLaunchAgent(const QString &name);
    // Stops the job and deletes its files.
    static bool removeJob(const QString &name, bool shouldAuth);
    static void stopJob(const QString &name);
    // Whether a systemd user instance answers here (a container or an ssh session may have none).
    static bool serviceManagerAvailable();
    // "enabled", "disabled", "active" … as the service manager tells them, or "not installed".
    static QString jobState(const QString &name);
    // Ends the processes whose executable is named name ("/usr/bin/killall name").
    static void killProcessesNamed(const QString &name);
    static bool isProcessRunning(const QString &name);
};
