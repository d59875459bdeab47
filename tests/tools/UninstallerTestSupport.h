#pragma once

// An installation of the product laid out in a temporary home, for the uninstaller's tests.

#include "tests/support/QFTempHome.h"
#include "tools/uninstaller/QFUninstaller.h"

#include <QStringList>

#include <mutex>

namespace uninstalltest {

// The standard folders of the temporary home, with the machine's folders (and dpkg's database) moved into
// "machine/" of it.
QFUninstallFolders foldersIn(const QFTempHome &home);

// Writes an application bundle (its Info.plist and executable) and returns its path.
QString makeBundle(const QString &path, const QString &identifier);

// Whether anything is at the path (links not followed).
bool exists(const QString &path);

// Every file and link below a folder, as paths relative to it, sorted.
QStringList treeBelow(const QString &folder);

// Records the program names the uninstaller asks to end, instead of ending any process.
struct StopRecorder {
    std::mutex mutex;
    QStringList names;
    QFUninstaller::ProcessStopper stopper();
    QStringList recorded();
};

} // namespace uninstalltest
