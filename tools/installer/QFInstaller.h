#pragma once

// What "Install Pro Tombrel" lays out: the application bundle it carries (Resources/Pro Tombrel.app, or the
// "-payload" argument) copied into the chosen folder, the desktop entry, the icon, the "tombrel" link on the
// PATH and the receipt the uninstaller reads. For the user: ~/Applications, ~/.local/share, ~/.local/bin;
// for everyone: /opt, /usr/local/share, /usr/local/bin through the administrator. Any thread.

#include <QString>

class QFInstaller final {
public:
    // The bundle to install, and the predecessor's uninstaller archive, carried in the installer's Resources.
    static QString payloadPath();
    static QString uninstallerArchivePath();
    // Whether the predecessor product (com.quenfield.fcptombrel) is installed.
    static bool predecessorInstalled();

    // The folder a user installation goes to, and the machine's.
    static QString userDestination();
    static QString machineDestination();

    // Installs into folder (a user installation when it lies in the home folder). False with the reason.
    static bool install(const QString &folder, QString *error = nullptr);
    // Unpacks the predecessor's uninstaller into a fresh temporary folder and starts it; the started bundle.
    static QString launchPredecessorUninstaller(QString *error = nullptr);
};
