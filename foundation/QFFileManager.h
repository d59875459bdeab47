#pragma once

// The file toolbox: copy, move, trash and remove with an administrator fallback, folder creation that
// refuses unmounted volumes, the wait for a file still being written, zip archives, unique names and
// readable sizes. Every operation is safe from any thread; failures are false plus a log line.
// The forms with a time-out (whole seconds) wait until the result is visible on disk: they block the
// calling thread without running its events, so the window's thread uses the asynchronous forms instead.

#include <QString>

#include <functional>
#include <sys/types.h>

class QObject;

class QFFileManager final {
public:
    // Queries
    static bool fileExistsAtPath(const QString &path);
    // Whether anything is at the path, a dangling link included (links are not followed).
    static bool existsNoFollow(const QString &path);
    static bool isDirectoryAtPath(const QString &path);
    static bool isDriveMountedForPath(const QString &path);
    static bool isFolderEmpty(const QString &path);
    static quint64 fileSize(const QString &path);
    static QString formatFileSize(double bytes);
    static QString uniqueFilename(const QString &path);

    // Immutable (locked) flag
    static bool unlockFile(const QString &path);
    static void unlockFolder(const QString &path);

    static bool trashFile(const QString &path, bool shouldAuth = true);
    static bool trashFile(const QString &path, int timeout);
    static bool removeFile(const QString &path, bool shouldAuth = true);
    static bool removeFile(const QString &path, int timeout);
    static bool createDirectory(const QString &path, bool shouldAuth = true);
    static bool createDirectory(const QString &path, int timeout);
    static bool copyFile(const QString &source, const QString &destination, bool shouldAuth = true);
    static bool copyFile(const QString &source, const QString &destination, int timeout);
    static bool moveFile(const QString &source, const QString &destination, bool shouldAuth = true);
    static bool moveFile(const QString &source, const QString &destination, int timeout);

    // Asynchronous forms: the work runs on the toolbox's own threads and done gets the result afterwards
    // (never within the call) on the context's thread; when the context is gone by then, done is not called.
    using Completion = std::function<void(bool ok)>;
    static void trashFileAsync(const QString &path, int timeout, QObject *context, Completion done);
    static void removeFileAsync(const QString &path, int timeout, QObject *context, Completion done);
    // Any other file work (several removals, a copy) run the same way.
    static void runAsync(std::function<bool()> work, QObject *context, Completion done);

    static bool copyContentsOfDirectory(const QString &source, const QString &destination, int timeout);
    static bool removeFolderIfEmpty(const QString &path);
    static bool setPosixPermissions(mode_t permissions, const QString &path);

    static bool compressFile(const QString &source, const QString &destinationFile, bool includeParent = true);
    static bool decompressFile(const QString &source, const QString &destinationFolder);

    static bool touchFile(const QString &path, bool setCreationDate = false);
    static bool registerApplicationWithLaunchServices(const QString &applicationPath);

    // How long a file must have gone unmodified to count as written (4 seconds unless set).
    static void setWriteQuietPeriod(int milliseconds);
    // Waits until the file has not been modified for the quiet period. False when it is still being written
    // after the longest wait (10 minutes by default): the caller should skip it for now.
    static bool waitForFileWrites(const QString &path, int longestWaitSeconds = 600);

    // Seam: the mount table read by isDriveMountedForPath (default: /proc/self/mountinfo).
    static void setMountTableReader(std::function<QByteArray()> reader);
};
