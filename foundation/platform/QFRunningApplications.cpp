#include "foundation/platform/QFRunningApplications.h"

#include "foundation/platform/QFBundle.h"

#include <QDir>
#include <QFile>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kDeletedSuffix[] = " (deleted)";

} // namespace

QList<qint64> QFRunningApplications::processIds()
{
    QList<qint64> pids;
    const uid_t me = geteuid();
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok)
            continue;
        struct stat st;
        if (::stat(QFile::encodeName(QStringLiteral("/proc/") + entry).constData(), &st) != 0 || st.st_uid != me)
            continue;
        pids << pid;
    }
    return pids;
}

QString QFRunningApplications::executableOfProcess(qint64 pid)
{
    char buffer[4096];
    const QByteArray link = "/proc/" + QByteArray::number(pid) + "/exe";
    const ssize_t length = ::readlink(link.constData(), buffer, sizeof buffer - 1);
    if (length <= 0)
        return {};
    QByteArray target(buffer, length);
    // The kernel marks an executable replaced on disk; its bundle is still the one it came from.
    if (target.endsWith(kDeletedSuffix))
        target.chop(int(sizeof kDeletedSuffix) - 1);
    return QFile::decodeName(target);
}

QString QFRunningApplications::bundleIdentifierOfProcess(qint64 pid)
{
    const QString executable = executableOfProcess(pid);
    if (executable.isEmpty() || !executable.contains(QLatin1String("/Contents/")))
        return {};
    const QString bundle = QFBundle::bundlePathForExecutable(executable);
    return bundle.isEmpty() ? QString() : QFBundle::bundleIdentifierOfBundle(bundle);
}

QList<qint64> QFRunningApplications::processesWithBundleIdentifier(const QString &identifier)
{
    QList<qint64> found;
    if (identifier.isEmpty())
        return found;
    for (qint64 pid : processIds()) {
        if (bundleIdentifierOfProcess(pid) == identifier)
            found << pid;
    }
    return found;
}

bool QFRunningApplications::forceTerminate(qint64 pid)
{
    return pid > 0 && ::kill(pid_t(pid), SIGKILL) == 0;
}

bool QFRunningApplications::terminate(qint64 pid)
{
    return pid > 0 && ::kill(pid_t(pid), SIGTERM) == 0;
}

bool QFRunningApplications::isRunning(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    // The state follows the command name in parentheses, which may itself hold blanks.
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0 || close + 2 >= line.size())
        return false;
    const char state = line.at(close + 2);
    return state != 'Z' && state != 'X';
}
