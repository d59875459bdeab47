#pragma once

// Jobs of the service manager: the systemd user instance, with unit files in the user's LaunchAgents
// folder ($XDG_CONFIG_HOME/systemd/user). A job N is the unit N.service, and with an interval also the
// timer N.timer that starts it. A job is always written whole (never merged): an existing one is stopped
// and deleted first, and after writing it is enabled and (re)started, which restarts a running helper.
// Every call blocks its thread for the tool's time-outs (10 seconds each); sheets go to the window given
// with setAlertWindow (the main window), from any thread.

#include <QString>
#include <QStringList>

class QObject;

struct QFLaunchdJob {
    QString label; // the job's name as people read it (the unit's description)
    QString program; // the executable
    QStringList arguments; // given after the executable
    bool runAtLoad = false; // enabled for the session (started at every log-in)
    bool keepAlive = false; // restarted after an unsuccessful exit
    int startInterval = 0; // seconds between starts; 0 for none
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
    // Writes and (re)starts a job; the processes named killProcessName, when given, are ended first and
    // waited for. False when the job's files could not be written (reported), when no service manager
    // answers (logged once), or when it could not start the job (logged).
    static bool startJob(
        const QString &name, const QFLaunchdJob &job, bool shouldAuth, const QString &killProcessName = QString());
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
    // The same, and waits until they have ended: those still there after timeoutMs are killed outright.
    // True when none is left.
    static bool endProcessesNamed(const QString &name, int timeoutMs = 5000);
    static bool isProcessRunning(const QString &name);

    // The window the sheets of job operations belong to; none: a box of its own.
    static void setAlertWindow(QObject *window);
    static QObject *alertWindow();
};
