#pragma once

// Cloud work that only the main application performs, requested by starting its executable: "-upload"
// PATH and "-removeRemote" LIST. The executable is "Pro Tombrel" in the folder that holds the running
// program's bundle (the helper's bundle lies in the application's Contents/MacOS), or in the running
// program's own bundle when that is the application's (the command-line tool). The process is not
// waited for. A start that fails (a missing executable logs "Error: %@ is not executable") is logged and
// tried again a few times, with a growing pause on the calling thread, before the request gives up.
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
    // False when the application could not be started after every attempt.
    static bool requestUpload(const QString &path);
    static bool requestRemoveRemote(const QStringList &paths);

    static constexpr int kStartAttempts = 3;
    // The pause after the first failed start (doubled after the second); 2 seconds unless set.
    static void setRetryPause(int milliseconds);
};
