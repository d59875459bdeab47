#pragma once

// Where the well-known folders are, for the user ("user" domain, flag true) or the machine ("local"
// domain, flag false). When the process runs as root, user-domain folders are those of the user logged
// in at the console, so privileged tools act on that user's files. A null string means "no such folder".

#include "foundation/platform/QFConsoleUser.h"

#include <QString>

#include <functional>
#include <optional>

class QFLocalPaths final {
public:
    enum class Directory {
        Applications,
        AdminApplications,
        Documents,
        Library,
        Caches,
        ApplicationSupport,
        Desktop,
        Movies,
        Documentation,
        Preferences,
        Logs,
        LaunchAgents,
        // Programs on the PATH: ~/.local/bin, /usr/local/bin.
        Binaries,
    };

    static QString pathForDirectory(Directory kind, bool forUserDomain);

    static QString applicationDirectory(bool userDomain);
    static QString adminApplicationDirectory(bool userDomain);
    static QString documentDirectory(bool userDomain);
    static QString libraryDirectory(bool userDomain);
    static QString cacheDirectory(bool userDomain);
    static QString appSupportDirectory(bool userDomain);
    static QString prefsDirectory(bool userDomain);
    static QString logDirectory(bool userDomain);
    static QString launchAgentsDirectory(bool userDomain);
    static QString systemLibraryDirectory();
    static QString localDocumentationDirectory();
    static QString movieDirectory();
    static QString desktopDirectory();

    static QString userDirectory();
    // The home folder the user-domain folders lie in: userDirectory(), or for a root process with nobody at
    // the console, its own home.
    static QString userDomainHome();
    // "~" and "~/…" in the user's folder (this process's home when no user can be told); other paths as
    // they are.
    static QString expandTilde(const QString &path);
    // A path as typed by a person: "~" expanded (to the console user's home under sudo), made absolute
    // against the current folder, and cleaned.
    static QString absolutePath(const QString &path);
    static QString username();
    static QString currentConsoleUser();
    static QString trashDirectory();
    static QString tempDirectory();
    static QString darwinCacheDirectory();

    static QString uuid();
    static QString randomString(int count);
    static QString tempFile();

    // Whether the path is a protected system folder, however it is spelt: the path is compared as written
    // (made absolute and cleaned), with its folders' links resolved and with itself resolved, so "/usr//",
    // "/./etc", "~/../../usr" and a link to /etc are all what they lead to.
    static bool isPathSystemDirectory(const QString &path, bool exactMatch = false);
    // A path as the file system reads it: "~" expanded, made absolute against the current folder, the links
    // of its existing folders resolved ("." and ".." as the kernel takes them), the rest cleaned. The last
    // component is resolved too when followLast, or when it is "." or ".." or the path ends in "/" (where
    // the tools follow it anyway). Empty for an empty path.
    static QString resolvedPath(const QString &path, bool followLast = false);
    static bool isPathOnTimeMachineVolume(const QString &path);

    // The root of the removable or mounted volume a path lies on (/media/USER/NAME, /run/media/USER/NAME,
    // /mnt/NAME), or a null string when the path is not on one.
    static QString volumeRootForPath(const QString &path);

    static bool isRunningAsRoot();
    // True when root's own folders are being redirected to the console user's.
    static bool isActingForConsoleUser();

    // Seams: who sits at the console (default: logind) and whether we count as root (default: the
    // effective user id). Passing an empty function restores the default.
    using ConsoleUserResolver = std::function<std::optional<QFConsoleUser>()>;
    static void setConsoleUserResolver(ConsoleUserResolver resolver);
    static void setRootOverride(std::optional<bool> isRoot);
};
