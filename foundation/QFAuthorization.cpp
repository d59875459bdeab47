#include "foundation/QFAuthorization.h"

#include "foundation/QFFileManager.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/QFTaskEx.h"
#include "foundation/platform/QFSystemLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kRm = QStringLiteral("/bin/rm");
const QString kMv = QStringLiteral("/bin/mv");
const QString kCp = QStringLiteral("/bin/cp");
const QString kMkdir = QStringLiteral("/bin/mkdir");

bool hasGraphicalSession()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

QFAuthorization::QFAuthorization()
{
    m_userDirectory = QFLocalPaths::userDirectory();
}

QFAuthorization *QFAuthorization::sharedController()
{
    static QFAuthorization *instance = new QFAuthorization();
    return instance;
}

void QFAuthorization::setCommandRunner(CommandRunner runner)
{
    QMutexLocker lock(&m_lock);
    m_runner = std::move(runner);
}

bool QFAuthorization::isAuthorized() const
{
    QMutexLocker lock(&m_lock);
    return QFLocalPaths::isRunningAsRoot() || m_authorized;
}

bool QFAuthorization::authStart()
{
    if (isAuthorized())
        return true;
    if (!m_hasGUI) {
        qfSystemLog(QStringLiteral("Unable to authorize"));
        return false;
    }
    // pkexec asks for the password through the session's polkit agent, which needs a graphical session.
    if (!hasGraphicalSession() || QStandardPaths::findExecutable(QStringLiteral("pkexec")).isEmpty()) {
        qfSystemLog(QStringLiteral("Unable to authorize"));
        return false;
    }
    QMutexLocker lock(&m_lock);
    m_authorized = true;
    return true;
}

void QFAuthorization::authEnd()
{
    QMutexLocker lock(&m_lock);
    m_authorized = false;
}

int QFAuthorization::run(const QString &program, const QStringList &arguments, bool async)
{
    CommandRunner runner;
    {
        QMutexLocker lock(&m_lock);
        runner = m_runner;
    }
    if (runner)
        return runner(program, arguments, async);
    if (async)
        return QFTaskEx::runTaskAndReturn(program, arguments) ? 0 : 1;
    int status = -1;
    if (!QFTaskEx::runTask(program, arguments, &status))
        return 1;
    return status;
}

int QFAuthorization::authExecTask(const QString &toolPath, const QStringList &parameters, bool async)
{
    if (!QFileInfo::exists(toolPath)) {
        qfSystemLog(qfFormat("Unable to execute task: path %@ doesn't exist", toolPath));
        return -2;
    }
    if (QFLocalPaths::isRunningAsRoot()) {
        const int status = run(toolPath, parameters, async);
        // Started is all an asynchronous run can tell; a waited one reports how the tool ended.
        return async ? 0 : status;
    }
    if (!authStart())
        return -1;
    const QString pkexec = QStandardPaths::findExecutable(QStringLiteral("pkexec"));
    return run(pkexec, QStringList { toolPath } + parameters, async);
}

QString QFAuthorization::checkedPath(const QString &path, const char *message) const
{
    if (QFLocalPaths::isPathSystemDirectory(path, true)) {
        qfSystemLog(qfFormat(message, path));
        QFLog::appendLog(message, path);
        return {};
    }
    return QFLocalPaths::resolvedPath(path);
}

bool QFAuthorization::authRemoveFile(const QString &path, bool wait)
{
    if (path.isEmpty())
        return false;
    const QString target = checkedPath(path, "Unable to delete path %@ because it is a system directory.");
    if (target.isEmpty())
        return false;
    // "--" keeps a path that begins with a dash from being read as an option.
    return authExecTask(kRm, { QStringLiteral("-Rdf"), QStringLiteral("--"), target }, !wait) == 0;
}

bool QFAuthorization::authMoveFile(const QString &source, const QString &destination, bool wait)
{
    if (source.isEmpty()) {
        qfSystemLog(QStringLiteral("Error in authMoveFile: old path is null"));
        return false;
    }
    if (destination.isEmpty()) {
        qfSystemLog(QStringLiteral("Error in authMoveFile: new path is null"));
        return false;
    }
    const QString from = checkedPath(source, "Unable to move path %@ because it is a system directory.");
    const QString to = from.isEmpty()
        ? QString()
        : checkedPath(destination, "Unable to move path %@ because it is a system directory.");
    if (from.isEmpty() || to.isEmpty())
        return false;
    if (!QFFileManager::existsNoFollow(from))
        return false;
    return authExecTask(kMv, { QStringLiteral("-f"), QStringLiteral("-T"), QStringLiteral("--"), from, to }, !wait)
        == 0;
}

bool QFAuthorization::authCopyFile(const QString &source, const QString &destination, bool wait)
{
    if (source.isEmpty()) {
        qfSystemLog(QStringLiteral("Error in authCopyFile: old path is null"));
        return false;
    }
    if (destination.isEmpty()) {
        qfSystemLog(QStringLiteral("Error in authCopyFile: new path is null"));
        return false;
    }
    if (QFLocalPaths::isPathSystemDirectory(destination, true)) {
        qfSystemLog(qfFormat("Unable to copy to path %@ because it is a system directory.", destination));
        return false;
    }
    const QString from = QFLocalPaths::resolvedPath(source);
    if (!QFFileManager::existsNoFollow(from))
        return false;
    return authExecTask(kCp,
               { QStringLiteral("-f"), QStringLiteral("-p"), QStringLiteral("-R"), QStringLiteral("-T"),
                   QStringLiteral("--"), from, QFLocalPaths::resolvedPath(destination) },
               !wait)
        == 0;
}

bool QFAuthorization::authCreateDir(const QString &path, bool wait)
{
    if (path.isEmpty())
        return false;
    return authExecTask(kMkdir, { QStringLiteral("-p"), QStringLiteral("--"), path }, !wait) == 0;
}

bool QFAuthorization::authTrashFile(const QString &path, bool deleteOnRootAccount)
{
    if (path.isEmpty())
        return false;
    const QString checked = checkedPath(path, "Unable to trash path %@ because it is a system directory.");
    if (checked.isEmpty())
        return false;
    const QFileInfo item(checked);
    const bool root = QFLocalPaths::isRunningAsRoot();
    if (root && m_userDirectory.isEmpty() && deleteOnRootAccount)
        return authRemoveFile(checked);

    const QString trash = QFLocalPaths::trashDirectory();
    if (trash.isEmpty())
        return false;
    QDir().mkpath(trash + QStringLiteral("/files"));
    QDir().mkpath(trash + QStringLiteral("/info"));
    // The name is claimed by creating its ".trashinfo" exclusively: a trashing that races this one takes
    // another name instead of overwriting this entry (and the item it describes).
    const QString extension = item.suffix();
    const QString base
        = extension.isEmpty() ? item.fileName() : item.fileName().left(item.fileName().size() - extension.size() - 1);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    QString name;
    QString target;
    QString infoPath;
    int fd = -1;
    for (int attempt = 0; attempt < 1000 && fd < 0; ++attempt) {
        QString stem = base;
        if (attempt > 0)
            stem += u'_' + stamp;
        if (attempt > 1)
            stem += qfFormat("_%i", attempt - 1);
        name = extension.isEmpty() ? stem : stem + u'.' + extension;
        target = trash + QStringLiteral("/files/") + name;
        if (QFFileManager::existsNoFollow(target))
            continue;
        infoPath = trash + QStringLiteral("/info/") + name + QStringLiteral(".trashinfo");
        fd = ::open(QFile::encodeName(infoPath).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    // The Trash needs to know where the item came from to put it back.
    const QByteArray info = "[Trash Info]\nPath=" + QUrl::toPercentEncoding(item.absoluteFilePath(), "/")
        + "\nDeletionDate=" + QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8() + "\n";
    const bool written = ::write(fd, info.constData(), size_t(info.size())) == info.size();
    if (::close(fd) != 0 || !written) {
        ::unlink(QFile::encodeName(infoPath).constData());
        return false;
    }
    if (!authMoveFile(checked, target)) {
        ::unlink(QFile::encodeName(infoPath).constData());
        return false;
    }
    return true;
}
