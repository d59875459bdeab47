#pragma once

// Finds and starts the maker's updater, "Quenfield Software Update", which lies outside this program: the
// check at start-up (unless "SUCheckAtStartup" is NO in com.quenfield.global.plist) and Help → Check for
// Updates. The updater used is the installed one, or the copy carried in the application's Resources when
// that one is newer (by CFBundleVersion), run from a copy in a fresh folder of the temporary folder that
// only this user can enter.

#include <QObject>
#include <QString>

#include <functional>

class QFSoftwareUpdate final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFSoftwareUpdate)
public:
    explicit QFSoftwareUpdate(QObject *parent = nullptr);

    // Starts the automatic check through detach (away from the main thread) unless the global file turns
    // it off.
    void startup(const std::function<void(std::function<void()>)> &detach);
    // Only an explicit NO (false, or the integer 0) switches the check off; a missing key or file leaves it on.
    static bool checksAtStartup();
    // Stores the switch in the global file, which every program of the maker reads.
    static bool setChecksAtStartup(bool on, QString *error = nullptr);
    static QString globalPreferencesPath();
    // Bundle versions as "1.0.10" and "1.0.9": compared number by number (a missing number counts as 0).
    static int compareBundleVersions(const QString &a, const QString &b);

    static QString installedUpdaterPath();
    static QString carriedUpdaterPath();
    static QString updaterPath();
    // The updater to use between those two copies (the carried one copied into a private temporary folder
    // when newer); empty, logged, when that copy cannot be made whole.
    static QString updaterPath(const QString &installed, const QString &carried);

    // Runs the updater with "-checkpath" and the application's bundle; false, logged, when it cannot.
    static bool automaticallyCheckForUpdates(const QString &updater);
    void manualUpdateCheck();
    static bool launchSoftwareUpdate(const QString &updater);
};
