#include "foundation/QFTaskEx.h"

#include "foundation/QFLog.h"
#include "foundation/platform/QFSystemLog.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr int kTerminateGraceMs = 5000;

bool startProcess(QProcess &process, const QString &path, const QStringList &arguments)
{
    process.setProgram(path);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QFTaskEx::prepareChildProcess(process);
    process.start();
    if (!process.waitForStarted(-1)) {
        QFLog::appendLog("Exception running task %@: %@", path, process.errorString());
        return false;
    }
    return true;
}

bool refuseNotExecutable(const QString &path)
{
    if (QFTaskEx::isExecutable(path))
        return false;
    QFLog::appendLogAndPrint("Error: %@ is not executable", path);
    return true;
}

} // namespace

bool QFTaskEx::isExecutable(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

bool QFTaskEx::runTask(const QString &path, const QStringList &arguments, int *exitCode)
{
    if (refuseNotExecutable(path))
        return false;
    QProcess process;
    if (!startProcess(process, path, arguments))
        return false;
    process.waitForFinished(-1);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return true;
}

bool QFTaskEx::runTaskAndReturn(const QString &path, const QStringList &arguments)
{
    if (!isExecutable(path)) {
        const QString text = qfFormat("Error: %@ is not executable", path);
        qfSystemLog(text);
        QFLog::appendText(text);
        return false;
    }
    QString reason;
    if (!startDetached(path, arguments, &reason)) {
        QFLog::appendLog("Exception running task %@: %@", path, reason);
        return false;
    }
    return true;
}

void QFTaskEx::prepareChildProcess(QProcess &process)
{
    process.setChildProcessModifier([] {
        // Runs in the child between fork and exec: only async-signal-safe calls.
        sigset_t none;
        sigemptyset(&none);
        pthread_sigmask(SIG_SETMASK, &none, nullptr);
    });
}

bool QFTaskEx::startDetached(const QString &path, const QStringList &arguments, QString *reason, qint64 *pid)
{
    // QProcess's own detached start ignores the child modifier, so the child would keep the stop signals
    // that a program blocks for its orderly exit, and outlive every attempt to stop it.
    const QByteArray program = QFile::encodeName(path);
    std::vector<QByteArray> storage { program };
    for (const QString &argument : arguments)
        storage.push_back(QFile::encodeName(argument));
    std::vector<char *> argv;
    for (QByteArray &item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (int signal : { SIGTERM, SIGINT, SIGHUP, SIGPIPE })
        sigaddset(&stopSignals, signal);
    posix_spawnattr_setsigdefault(&attributes, &stopSignals);
    // Its own session: the tool outlives this program and is not stopped with its terminal.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = -1;
    const int error = posix_spawn(&child, program.constData(), &files, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        if (reason)
            *reason = QString::fromLocal8Bit(strerror(error));
        return false;
    }
    if (pid)
        *pid = child;
    // Reaped when it ends, so that no finished tool lingers as a zombie of this program.
    std::thread([child] {
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) { }
    }).detach();
    return true;
}

bool QFTaskEx::runTask(const QString &path, const QStringList &arguments, double timeout, int *exitCode)
{
    if (refuseNotExecutable(path))
        return false;
    QProcess process;
    if (!startProcess(process, path, arguments))
        return false;
    const int limitMs = int(qMax(0.0, timeout)) * 1000;
    if (process.waitForFinished(limitMs)) {
        if (exitCode)
            *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        return true;
    }
    qfSystemLog(QStringLiteral("Task timed out. Terminating..."));
    QFLog::appendLog("Task %@ timed out. Terminating...", path);
    process.terminate();
    if (!process.waitForFinished(kTerminateGraceMs)) {
        process.kill();
        process.waitForFinished(-1);
    }
    if (exitCode)
        *exitCode = -1;
    return false;
}
