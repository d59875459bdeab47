#include "foundation/QFLocalPaths.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringList>
#include <QUuid>

#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace {

QMutex s_seamLock;
QFLocalPaths::ConsoleUserResolver s_consoleResolver;
std::optional<bool> s_rootOverride;

std::optional<QFConsoleUser> consoleUser()
{
    QFLocalPaths::ConsoleUserResolver resolver;
    {
        QMutexLocker lock(&s_seamLock);
        resolver = s_consoleResolver;
    }
    return resolver ? resolver() : qfLogindConsoleUser();
}

QString rootHome()
{
    struct passwd *pw = getpwuid(0);
    return pw && pw->pw_dir ? QString::fromUtf8(pw->pw_dir) : QStringLiteral("/root");
}

QString processHome()
{
    // Without HOME (a service, a bare sudo) the account's own home, never the root of the file system.
    const QString home = qEnvironmentVariable("HOME");
    if (!home.isEmpty() && QDir::isAbsolutePath(home))
        return QDir::cleanPath(home);
    struct passwd *pw = getpwuid(geteuid());
    return pw && pw->pw_dir && pw->pw_dir[0] == '/' ? QDir::cleanPath(QString::fromUtf8(pw->pw_dir))
                                                    : QStringLiteral("/");
}

QString cleanPath(const QString &path)
{
    return path.isEmpty() ? QString() : QDir::cleanPath(path);
}

// An XDG base folder: the variable when it holds an absolute path, else HOME + the default.
QString xdgBase(const char *variable, const QString &fallback)
{
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return cleanPath(value);
    return cleanPath(processHome() + u'/' + fallback);
}

// A folder of user-dirs.dirs (XDG_DOCUMENTS_DIR …), falling back to HOME + the usual name.
QString xdgUserDir(const QString &key, const QString &fallback)
{
    QFile file(xdgBase("XDG_CONFIG_HOME", QStringLiteral(".config")) + QStringLiteral("/user-dirs.dirs"));
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        const QString prefix = QStringLiteral("XDG_%1_DIR=").arg(key);
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            if (!line.startsWith(prefix))
                continue;
            QString value = line.mid(prefix.size());
            if (value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"'))
                value = value.mid(1, value.size() - 2);
            value.replace(QStringLiteral("$HOME"), processHome());
            if (QDir::isAbsolutePath(value))
                return cleanPath(value);
        }
    }
    return cleanPath(processHome() + u'/' + fallback);
}

QString userDomainPath(QFLocalPaths::Directory kind)
{
    using D = QFLocalPaths::Directory;
    switch (kind) {
    case D::Applications:
        return cleanPath(processHome() + QStringLiteral("/Applications"));
    case D::AdminApplications:
        return cleanPath(processHome() + QStringLiteral("/Applications/Utilities"));
    case D::Documents:
        return xdgUserDir(QStringLiteral("DOCUMENTS"), QStringLiteral("Documents"));
    case D::Movies:
        return xdgUserDir(QStringLiteral("VIDEOS"), QStringLiteral("Videos"));
    case D::Desktop:
        return xdgUserDir(QStringLiteral("DESKTOP"), QStringLiteral("Desktop"));
    case D::Library:
    case D::ApplicationSupport:
        return xdgBase("XDG_DATA_HOME", QStringLiteral(".local/share"));
    case D::Documentation:
        return xdgBase("XDG_DATA_HOME", QStringLiteral(".local/share")) + QStringLiteral("/doc");
    case D::Caches:
        return xdgBase("XDG_CACHE_HOME", QStringLiteral(".cache"));
    case D::Preferences:
        return xdgBase("XDG_CONFIG_HOME", QStringLiteral(".config"));
    case D::Logs:
        return xdgBase("XDG_STATE_HOME", QStringLiteral(".local/state"));
    case D::LaunchAgents:
        return xdgBase("XDG_CONFIG_HOME", QStringLiteral(".config")) + QStringLiteral("/systemd/user");
    case D::Binaries:
        return cleanPath(processHome() + QStringLiteral("/.local/bin"));
    }
    return {};
}

QString localDomainPath(QFLocalPaths::Directory kind)
{
    using D = QFLocalPaths::Directory;
    switch (kind) {
    case D::Applications:
    case D::AdminApplications:
        return QStringLiteral("/opt");
    case D::Library:
    case D::ApplicationSupport:
        return QStringLiteral("/usr/local/share");
    case D::Documentation:
        return QStringLiteral("/usr/local/share/doc");
    case D::Caches:
        return QStringLiteral("/var/cache");
    case D::Preferences:
        return QStringLiteral("/etc/xdg");
    case D::Logs:
        return QStringLiteral("/var/log");
    case D::LaunchAgents:
        return QStringLiteral("/etc/systemd/user");
    case D::Binaries:
        return QStringLiteral("/usr/local/bin");
    case D::Documents:
    case D::Movies:
    case D::Desktop:
        return {};
    }
    return {};
}

bool isUnder(const QString &path, const QString &folder)
{
    return path == folder || path.startsWith(folder + u'/');
}

// An absolute path with the links of its longest existing beginning resolved by the kernel; what follows
// does not exist, so it holds no link and is cleaned as written.
QString resolveExisting(const QString &absolute)
{
    const QStringList parts = absolute.split(u'/', Qt::SkipEmptyParts);
    for (qsizetype count = parts.size(); count >= 0; --count) {
        const QString prefix = u'/' + parts.mid(0, count).join(u'/');
        char buffer[PATH_MAX];
        if (!::realpath(QFile::encodeName(prefix).constData(), buffer))
            continue;
        const QStringList rest = parts.mid(count);
        const QString resolved = QFile::decodeName(buffer);
        return QDir::cleanPath(rest.isEmpty() ? resolved : resolved + u'/' + rest.join(u'/'));
    }
    return QDir::cleanPath(absolute);
}

// The old, string-wise test on one spelling of a path (absolute and cleaned).
bool matchesSystemFolder(const QString &p, const QStringList &folders, bool exactMatch)
{
    if (p == QLatin1String("/"))
        return true;
    if (p.size() < 3)
        return false;
    if (folders.contains(p))
        return true;
    if (exactMatch)
        return false;
    static const char *kPrefixes[]
        = { "/usr", "/var", "/etc", "/boot", "/proc", "/sys", "/dev", "/bin", "/sbin", "/lib" };
    for (const char *prefix : kPrefixes) {
        if (p.startsWith(QLatin1String(prefix)))
            return true;
    }
    return false;
}

} // namespace

bool QFLocalPaths::isRunningAsRoot()
{
    {
        QMutexLocker lock(&s_seamLock);
        if (s_rootOverride)
            return *s_rootOverride;
    }
    return geteuid() == 0;
}

void QFLocalPaths::setConsoleUserResolver(ConsoleUserResolver resolver)
{
    QMutexLocker lock(&s_seamLock);
    s_consoleResolver = std::move(resolver);
}

void QFLocalPaths::setRootOverride(std::optional<bool> isRoot)
{
    QMutexLocker lock(&s_seamLock);
    s_rootOverride = isRoot;
}

QString QFLocalPaths::pathForDirectory(Directory kind, bool forUserDomain)
{
    if (!forUserDomain)
        return localDomainPath(kind);
    const QString path = userDomainPath(kind);
    if (path.isEmpty() || !isRunningAsRoot())
        return path;
    // Root's own folders stand for the console user's. With nobody at the console, a root process
    // (a server, a script) keeps its own folders.
    const QString home = rootHome();
    if (!isUnder(path, home))
        return path;
    const auto user = consoleUser();
    if (!user)
        return path;
    return cleanPath(user->home + path.mid(home.size()));
}

bool QFLocalPaths::isActingForConsoleUser()
{
    return isRunningAsRoot() && isUnder(cleanPath(processHome()), rootHome()) && consoleUser().has_value();
}

QString QFLocalPaths::userDomainHome()
{
    const QString home = cleanPath(processHome());
    if (!isRunningAsRoot() || !isUnder(home, rootHome()))
        return home;
    const auto user = consoleUser();
    return user ? cleanPath(user->home + home.mid(rootHome().size())) : home;
}

QString QFLocalPaths::applicationDirectory(bool userDomain)
{
    return pathForDirectory(Directory::Applications, userDomain);
}

QString QFLocalPaths::adminApplicationDirectory(bool userDomain)
{
    return pathForDirectory(Directory::AdminApplications, userDomain);
}

QString QFLocalPaths::documentDirectory(bool userDomain)
{
    return pathForDirectory(Directory::Documents, userDomain);
}

QString QFLocalPaths::libraryDirectory(bool userDomain)
{
    return pathForDirectory(Directory::Library, userDomain);
}

QString QFLocalPaths::cacheDirectory(bool userDomain)
{
    return pathForDirectory(Directory::Caches, userDomain);
}

QString QFLocalPaths::appSupportDirectory(bool userDomain)
{
    return pathForDirectory(Directory::ApplicationSupport, userDomain);
}

QString QFLocalPaths::prefsDirectory(bool userDomain)
{
    return pathForDirectory(Directory::Preferences, userDomain);
}

QString QFLocalPaths::logDirectory(bool userDomain)
{
    return pathForDirectory(Directory::Logs, userDomain);
}

QString QFLocalPaths::launchAgentsDirectory(bool userDomain)
{
    return pathForDirectory(Directory::LaunchAgents, userDomain);
}

QString QFLocalPaths::systemLibraryDirectory()
{
    return QStringLiteral("/usr/lib");
}

QString QFLocalPaths::localDocumentationDirectory()
{
    return pathForDirectory(Directory::Documentation, false);
}

QString QFLocalPaths::movieDirectory()
{
    return pathForDirectory(Directory::Movies, true);
}

QString QFLocalPaths::desktopDirectory()
{
    return pathForDirectory(Directory::Desktop, true);
}

QString QFLocalPaths::userDirectory()
{
    if (!isRunningAsRoot())
        return cleanPath(processHome());
    const auto user = consoleUser();
    return user ? cleanPath(user->home) : QString();
}

QString QFLocalPaths::expandTilde(const QString &path)
{
    if (path != QLatin1String("~") && !path.startsWith(QLatin1String("~/")))
        return path;
    QString home = userDirectory();
    if (home.isEmpty())
        home = cleanPath(processHome());
    return home + path.mid(1);
}

QString QFLocalPaths::absolutePath(const QString &path)
{
    return QDir::cleanPath(QFileInfo(expandTilde(path)).absoluteFilePath());
}

QString QFLocalPaths::username()
{
    if (isRunningAsRoot()) {
        const auto user = consoleUser();
        return user ? user->name : QString();
    }
    struct passwd *pw = getpwuid(geteuid());
    if (pw && pw->pw_name)
        return QString::fromUtf8(pw->pw_name);
    return qEnvironmentVariable("USER");
}

QString QFLocalPaths::currentConsoleUser()
{
    const auto user = consoleUser();
    return user ? user->name : QString();
}

QString QFLocalPaths::trashDirectory()
{
    // The freedesktop Trash of the home folder's file system.
    const QString data = libraryDirectory(true);
    return data.isEmpty() ? QString() : data + QStringLiteral("/Trash");
}

QString QFLocalPaths::tempDirectory()
{
    return cleanPath(QDir::tempPath());
}

QString QFLocalPaths::darwinCacheDirectory()
{
    return cacheDirectory(true);
}

QString QFLocalPaths::uuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QString QFLocalPaths::randomString(int count)
{
    static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString out;
    out.reserve(qMax(count, 0));
    for (int i = 0; i < count; ++i)
        out += QLatin1Char(kAlphabet[QRandomGenerator::system()->bounded(36)]);
    return out;
}

QString QFLocalPaths::tempFile()
{
    return tempDirectory() + u'/' + uuid() + randomString(8);
}

QString QFLocalPaths::resolvedPath(const QString &path, bool followLast)
{
    if (path.isEmpty())
        return {};
    QString absolute = expandTilde(path);
    if (!absolute.startsWith(u'/'))
        absolute = QDir::currentPath() + u'/' + absolute;
    const qsizetype slash = absolute.lastIndexOf(u'/');
    const QString name = absolute.mid(slash + 1);
    if (followLast || name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return resolveExisting(absolute);
    const QString folder = resolveExisting(slash == 0 ? QStringLiteral("/") : absolute.left(slash));
    return folder == QLatin1String("/") ? u'/' + name : folder + u'/' + name;
}

bool QFLocalPaths::isPathSystemDirectory(const QString &path, bool exactMatch)
{
    if (path.isEmpty())
        return false;
    static const Directory kProtected[] = { Directory::Applications, Directory::AdminApplications, Directory::Documents,
        Directory::Library, Directory::Preferences, Directory::Caches, Directory::ApplicationSupport, Directory::Logs,
        Directory::LaunchAgents, Directory::Documentation };
    QStringList folders;
    for (Directory kind : kProtected) {
        folders << pathForDirectory(kind, true) << pathForDirectory(kind, false);
    }
    folders << desktopDirectory() << movieDirectory() << userDirectory() << userDomainHome() << systemLibraryDirectory()
            << localDocumentationDirectory() << QStringLiteral("/home") << QStringLiteral("/media")
            << QStringLiteral("/run/media") << QStringLiteral("/mnt") << QStringLiteral("/run")
            << QStringLiteral("/usr") << QStringLiteral("/var") << QStringLiteral("/etc") << QStringLiteral("/boot")
            << QStringLiteral("/proc") << QStringLiteral("/sys") << QStringLiteral("/dev") << QStringLiteral("/bin")
            << QStringLiteral("/sbin") << QStringLiteral("/lib") << QStringLiteral("/lib64") << QStringLiteral("/root")
            << QStringLiteral("/tmp") << QStringLiteral("/srv");
    folders.removeAll(QString());
    // Each folder as written and as the file system reaches it (/home may itself be a link).
    for (qsizetype i = 0, count = folders.size(); i < count; ++i)
        folders << resolvedPath(folders.at(i), true);
    folders.removeDuplicates();

    QString written = expandTilde(path);
    if (!written.startsWith(u'/'))
        written = QDir::currentPath() + u'/' + written;
    for (const QString &spelling : { QDir::cleanPath(written), resolvedPath(path, false), resolvedPath(path, true) }) {
        if (matchesSystemFolder(spelling, folders, exactMatch))
            return true;
    }
    return false;
}

QString QFLocalPaths::volumeRootForPath(const QString &path)
{
    const QStringList parts = QDir::cleanPath(path).split(u'/', Qt::SkipEmptyParts);
    int depth = 0;
    if (parts.size() >= 3 && parts[0] == QLatin1String("media"))
        depth = 3;
    else if (parts.size() >= 4 && parts[0] == QLatin1String("run") && parts[1] == QLatin1String("media"))
        depth = 4;
    else if (parts.size() >= 2 && parts[0] == QLatin1String("mnt"))
        depth = 2;
    if (depth == 0)
        return {};
    return u'/' + parts.mid(0, depth).join(u'/');
}

bool QFLocalPaths::isPathOnTimeMachineVolume(const QString &path)
{
    if (volumeRootForPath(path).isEmpty())
        return false;
    return path.split(u'/', Qt::SkipEmptyParts).contains(QLatin1String("Backups.backupdb"));
}
