#pragma once

// The update installer's work: replaces the installed application bundle with the new one from a mounted
// image, registers and relaunches it, unmounts the image and reports to the updater. One run a process; it
// always ends (the caller quits after beginUpdate returns), whether the update succeeded or not.

#include <QString>

#include <functional>

class QFUserDefaults;
class QLabel;
class QWidget;

struct QFUpdateArguments {
    QString source;
    QString destination;
    QString mountPath;
    bool silent = false;

    // "-source", "-destination", "-mountpath", "-silent" of the argument domain.
    static QFUpdateArguments fromDefaults(const QFUserDefaults &defaults);
};

class QFUpdateInstaller final {
public:
    // What the run shows and does around the files; the program gives windows, tests give recorders.
    struct Hooks {
        std::function<void(const QString &title, const QString &text)> alert;
        std::function<void(const QString &text)> status;
        std::function<void()> hideWindow;
        std::function<void(const QString &bundle)> relaunch;
        // Waits that many seconds (the updater closing, the administrator's copy settling).
        std::function<void(double seconds)> sleep;
        // Unmounts the image at that mount point within the time-out.
        std::function<void(const QString &mountPath)> unmount;
    };
    // The program's own: real waits, alerts through QFAlert, relaunch through the bundle's executable.
    static Hooks defaultHooks();

    static void beginUpdate(const QFUpdateArguments &arguments, const Hooks &hooks);
    // The window shown while a run that is not silent works: a status line over a moving bar.
    static QWidget *createStatusWindow(QLabel **status);

    // Signals every process whose executable is named name.
    static void killAll(const QString &name);
    // umount for the administrator, udisksctl for a user, 5 seconds at most.
    static void unmountImage(const QString &mountPath);
};
