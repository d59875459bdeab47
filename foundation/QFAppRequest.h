#pragma once

// Cloud work that only the main application performs, requested by starting its executable: "-upload"
// PATH and "-removeRemote" LIST. The executable is "Pro Tombrel" in the folder that holds the running
// program's bundle (the helper's bundle lies in the application's Contents/MacOS), or in the running
// program's own bundle when that is the application's (the command-line tool). The process is not
// waited for; a missing executable only logs "Error: %@ is not executable".
//
// LIST joins the paths with ","; in each path "%" becomes "%25" and "," becomes "%2C", so that a path
// holding a comma survives the trip. Paths without either character read exactly as before.

#include <QString>
#include <QStringList>

class QFAppRequest final {
public:
    static QString encodeRemotePathList(const QStringList &paths);
    // Empty items are dropped; nothing when the list names no path.
    static QStringList decodeRemotePathList(const QString &list);

    static QString mainExecutablePath();
    static bool requestUpload(const QString &path);
    static bool requestRemoveRemote(const QStringList &paths);
};
