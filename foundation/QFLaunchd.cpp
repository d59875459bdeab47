#include "foundation/QFLaunchd.h"

#include "foundation/QFAlert.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/QFTaskEx.h"
#include "foundation/platform/QFFileCopy.h"
#include "foundation/platform/QFFormat.h"
#include "foundation/platform/QFRunningApplications.h"
#include "foundation/platform/QFSystemLog.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <atomic>

namespace {

constexpr double kToolTimeout = 10.0;

QString systemctl()
{
    return QStandardPaths::findExecutable(QStringLiteral("systemctl"));
}

// Runs systemctl --user with the arguments; true when it answered with success.
bool runSystemctl(const QStringList &arguments, QString *output = nullptr)
{
    const QString tool = systemctl();
    if (tool.isEmpty())
        return false;
    QProcess process;
    QFTaskEx::prepareChildProcess(process);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(tool, QStringList { QStringLiteral("--user") } + arguments);
    if (!process.waitForFinished(int(kToolTimeout * 1000))) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (output)
        *output = QString::fromUtf8(process.readAll()).trimmed();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// A word of a unit's command line: quoted for the blank in the bundle's name, with the characters the
// service manager would otherwise read as its own (%, $, \, ") escaped.
QString unitWord(const QString &word)
{
    QString escaped = word;
    escaped.replace(u'\\', QStringLiteral("\\\\"));
    escaped.replace(u'"', QStringLiteral("\\\""));
    escaped.replace(u'%', QStringLiteral("%%"));
    escaped.replace(u'$', QStringLiteral("$$"));
    return u'"' + escaped + u'"';
}

// Writes a job file; a folder the user may not write goes through the temporary folder and a privileged
// move. False, reported, when neither works.
bool writeJobFile(const QString &path, const QString &text, bool *neededPrivileges)
{
    QString reason;
    if (qfWriteFileAtomically(path, text.toUtf8(), &reason))
        return true;
    const QString folder = QFileInfo(path).absolutePath();
    const QString temporary = QFLocalPaths::tempDirectory() + u'/' + QFileInfo(path).fileName();
    if (!qfWriteFileAtomically(temporary, text.toUtf8(), &reason)) {
        QFLog::appendLog(
            "Error: Unable to create LaunchAgent. Please check you have correct permissions for the directory %@",
            folder);
        qfSystemLog(qfFormat(
            "Error: Unable to write LaunchAgent data. Please check you have correct permissions for the directory %@",
            folder));
        QFAlert::alertSheetWithMessageText(QStringLiteral("Error: Unable to write LaunchAgent data"),
            qfFormat("Please check you have correct permissions for the directory %@.", folder),
            QFLaunchd::alertWindow());
        return false;
    }
    if (QFileInfo::exists(path))
        QFFileManager::removeFile(path, 5);
    QFLog::appendLog("Unable to write launchd plist - trying to authorize...");
    if (!QFFileManager::moveFile(temporary, path, 10)) {
        QFLog::appendLog(
            "Error: Unable to create LaunchAgent. Please check you have correct permissions for the directory %@",
            folder);
        qfSystemLog(qfFormat(
            "Error: Unable to create LaunchAgent. Please check you have correct permissions for the directory %@",
            folder));
        QFAlert::alertSheetWithMessageText(QStringLiteral("Error: Unable to create LaunchAgent"),
            qfFormat("Please check you have correct permissions for the directory %@.", folder),
            QFLaunchd::alertWindow());
        QFile::remove(temporary);
        return false;
    }
    QFile::remove(temporary);
    *neededPrivileges = true;
    return true;
}

std::atomic<bool> s_unavailableLogged { false };

QMutex s_alertLock;
QPointer<QObject> s_alertWindow;

QList<qint64> processesNamed(const QString &name)
{
    QList<qint64> found;
    for (qint64 pid : QFRunningApplications::processIds()) {
        if (QFileInfo(QFRunningApplications::executableOfProcess(pid)).fileName() == name)
            found << pid;
    }
    return found;
}

} // namespace

void QFLaunchd::setAlertWindow(QObject *window)
{
    QMutexLocker lock(&s_alertLock);
    s_alertWindow = window;
}

QObject *QFLaunchd::alertWindow()
{
    QMutexLocker lock(&s_alertLock);
    return s_alertWindow.data();
}

QString QFLaunchd::jobFolder()
{
    return QFLocalPaths::launchAgentsDirectory(true);
}

QString QFLaunchd::serviceFile(const QString &name)
{
    return jobFolder() + u'/' + name + QStringLiteral(".service");
}

QString QFLaunchd::timerFile(const QString &name)
{
    return jobFolder() + u'/' + name + QStringLiteral(".timer");
}

QString QFLaunchd::serviceText(const QFLaunchdJob &job)
{
    QStringList command { unitWord(job.program) };
    for (const QString &argument : job.arguments)
        command << unitWord(argument);
    QString text = QStringLiteral("[Unit]\nDescription=%1\n\n[Service]\n").arg(job.label);
    text += job.startInterval > 0 ? QStringLiteral("Type=oneshot\n") : QStringLiteral("Type=simple\n");
    text += QStringLiteral("ExecStart=%1\n").arg(command.join(u' '));
    if (job.keepAlive)
        text += QStringLiteral("Restart=on-failure\nRestartSec=5\n");
    if (job.runAtLoad)
        text += QStringLiteral("\n[Install]\nWantedBy=default.target\n");
    return text;
}

QString QFLaunchd::timerText(const QString &name, const QFLaunchdJob &job)
{
    return QStringLiteral("[Unit]\nDescription=%1\n\n[Timer]\nOnActiveSec=%2s\nOnUnitActiveSec=%2s\nUnit=%3.service\n\n"
                          "[Install]\nWantedBy=timers.target\n")
        .arg(job.label)
        .arg(job.startInterval)
        .arg(name);
}

bool QFLaunchd::startLaunchAgent(const QString &name, const QFLaunchdJob &job)
{
    return startJob(name, job, false);
}

bool QFLaunchd::startJob(const QString &name, const QFLaunchdJob &job, bool shouldAuth, const QString &killProcessName)
{
    const QString folder = jobFolder();
    if (!QFileInfo(folder).isDir())
        QFFileManager::createDirectory(folder, shouldAuth);
    // A job is replaced whole, never merged.
    if (QFileInfo::exists(serviceFile(name)) || QFileInfo::exists(timerFile(name)))
        removeJob(name, shouldAuth);

    bool privileged = shouldAuth;
    if (!writeJobFile(serviceFile(name), serviceText(job), &privileged))
        return false;
    if (job.startInterval > 0 && !writeJobFile(timerFile(name), timerText(name, job), &privileged))
        return false;
    for (const QString &file : { serviceFile(name), timerFile(name) }) {
        if (QFileInfo::exists(file))
            QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    }
    // A process that is still ending would pass for the new one: what comes next waits until it is gone.
    if (!killProcessName.isEmpty())
        endProcessesNamed(killProcessName);

    if (!runSystemctl({ QStringLiteral("daemon-reload") })) {
        if (!s_unavailableLogged.exchange(true))
            QFLog::appendLog("No systemd user instance answers - the job %@ is written but not started.", name);
        return false;
    }
    const QString unit = name + (job.startInterval > 0 ? QStringLiteral(".timer") : QStringLiteral(".service"));
    if (job.runAtLoad || job.startInterval > 0)
        runSystemctl({ QStringLiteral("enable"), unit });
    // A job the service manager cannot start is one the caller may have to start itself.
    if (!runSystemctl({ QStringLiteral("restart"), unit })) {
        QFLog::appendLog("The service manager could not start %@.", unit);
        return false;
    }
    return true;
}

bool QFLaunchd::removeLaunchAgent(const QString &name)
{
    return removeJob(name, true);
}

void QFLaunchd::stopJob(const QString &name)
{
    if (name.isEmpty())
        return;
    QStringList units { name + QStringLiteral(".service") };
    if (QFileInfo::exists(timerFile(name)))
        units.prepend(name + QStringLiteral(".timer"));
    runSystemctl(QStringList { QStringLiteral("disable"), QStringLiteral("--now") } + units);
}

bool QFLaunchd::removeJob(const QString &name, bool shouldAuth)
{
    stopJob(name);
    bool removed = true;
    for (const QString &file : { timerFile(name), serviceFile(name) }) {
        if (!QFileInfo::exists(file))
            continue;
        if (QFFileManager::removeFile(file, shouldAuth)) {
            QThread::usleep(500);
        } else {
            removed = false;
            if (shouldAuth)
                QFAlert::alertSheetWithMessageText(QStringLiteral("Error: Unable to remove LaunchAgent"),
                    qfFormat("Please check you have correct permissions for the directory %@.", jobFolder()),
                    alertWindow());
        }
    }
    if (removed)
        runSystemctl({ QStringLiteral("daemon-reload") });
    return removed;
}

bool QFLaunchd::serviceManagerAvailable()
{
    return runSystemctl({ QStringLiteral("show-environment") });
}

QString QFLaunchd::jobState(const QString &name)
{
    if (!QFileInfo::exists(serviceFile(name)))
        return QStringLiteral("not installed");
    QString enabled, active;
    const QString unit
        = name + (QFileInfo::exists(timerFile(name)) ? QStringLiteral(".timer") : QStringLiteral(".service"));
    runSystemctl({ QStringLiteral("is-enabled"), unit }, &enabled);
    runSystemctl({ QStringLiteral("is-active"), unit }, &active);
    if (enabled.isEmpty() && active.isEmpty())
        return QStringLiteral("installed (no systemd user instance answers)");
    return QStringLiteral("installed, %1, %2")
        .arg(enabled.isEmpty() ? QStringLiteral("unknown") : enabled,
            active.isEmpty() ? QStringLiteral("unknown") : active);
}

void QFLaunchd::killProcessesNamed(const QString &name)
{
    for (qint64 pid : processesNamed(name))
        QFRunningApplications::terminate(pid);
}

bool QFLaunchd::endProcessesNamed(const QString &name, int timeoutMs)
{
    const QList<qint64> ending = processesNamed(name);
    for (qint64 pid : ending)
        QFRunningApplications::terminate(pid);
    const auto remaining = [&ending] {
        QList<qint64> left;
        for (qint64 pid : ending) {
            if (QFRunningApplications::isRunning(pid))
                left << pid;
        }
        return left;
    };
    QDeadlineTimer deadline(timeoutMs);
    while (!remaining().isEmpty() && !deadline.hasExpired())
        QThread::msleep(20);
    const QList<qint64> stubborn = remaining();
    if (stubborn.isEmpty())
        return true;
    QFLog::appendLog("%@ did not end within %i seconds - forcing it to quit.", name, timeoutMs / 1000);
    for (qint64 pid : stubborn)
        QFRunningApplications::forceTerminate(pid);
    QDeadlineTimer killed(2000);
    while (!remaining().isEmpty() && !killed.hasExpired())
        QThread::msleep(20);
    return remaining().isEmpty();
}

bool QFLaunchd::isProcessRunning(const QString &name)
{
    return !processesNamed(name).isEmpty();
}
