#include "foundation/QFTaskEx.h"

#include "foundation/QFLog.h"
#include "foundation/platform/QFSystemLog.h"

#include <QFileInfo>
#include <QProcess>

namespace {

constexpr int kTerminateGraceMs = 5000;

bool startProcess(QProcess &process, const QString &path, const QStringList &arguments)
{
    process.setProgram(path);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
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
    QProcess process;
    process.setProgram(path);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    if (!process.startDetached()) {
        QFLog::appendLog("Exception running task %@: %@", path, process.errorString());
        return false;
    }
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
