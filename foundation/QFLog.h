#pragma once

// The program's own rotating log: "<Logs>/Quenfield/<name>.1.log" with older generations .2 … .5.
// Any thread may log; lines are written one at a time by a writer thread of their own, so they never
// interleave and the caller does not wait for the disk (short messages from worker threads do wait,
// so that they are on disk when the call returns).

#include "foundation/platform/QFFormat.h"

#include <QString>
#include <QStringList>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class QFLog final {
public:
    static QFLog *sharedController();

    template <typename... Args> static void appendLog(const char *format, const Args &...args)
    {
        sharedController()->append(qfFormat(format, args...), true);
    }
    template <typename... Args> static void fastAppendLog(const char *format, const Args &...args)
    {
        sharedController()->append(qfFormat(format, args...), false);
    }
    // Logs the text as it stands and prints it to standard output with "%@" removed and "%" doubled.
    template <typename... Args> static void appendLogAndPrint(const char *format, const Args &...args)
    {
        sharedController()->logAndPrint(qfFormat(format, args...));
    }
    // The same for texts that must not be read as formats (messages from outside).
    static void appendText(const QString &text) { sharedController()->append(text, true); }

    static void createNewLog(const QString &appName = QString());
    static void finishWriting();
    static QStringList availableLogs();

    QString appName() const;
    void setAppName(const QString &name);
    QString logFolder() const;
    QString currentLogPath() const;
    bool loggingDisabled() const;
    quint64 bytesWritten() const;
    quint64 bytesInQueue() const;
    int pendingWrites() const;

    void appendTextToLog(const QString &text);
    // Flushes when few writes are pending and closes the file; logging afterwards opens it again.
    void willTerminate();

    // Where lines that cannot reach the log are printed (standard output by default).
    static void setPrinter(std::function<void(const QString &)> printer);

    // Whether a maker-wide switch of com.quenfield.global.plist is set (the string "1" or a true number).
    static bool globalSwitch(const QString &key);

    // The standard description of a date, as log lines begin with it.
    static QString dateDescription(const class QDateTime &date);

    Q_DISABLE_COPY_MOVE(QFLog)

private:
    QFLog();
    void append(const QString &message, bool mayWait);
    void logAndPrint(const QString &message);
    void enqueue(std::function<void()> job, qsizetype characters);
    void run();
    void createNewLogLocked(const QString &appName);
    void writeLine(const QString &text, qsizetype queuedCharacters);
    bool openCurrentLog();
    void closeFile();
    static void print(const QString &text);

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_queue;
    bool m_busy = false;
    std::thread m_thread;

    // Owned by the writer thread, except where guarded by m_fileMutex.
    mutable std::mutex m_fileMutex;
    QString m_appName;
    int m_fd = -1;
    quint64 m_bytesWritten = 0;
    bool m_loggingDisabled = false;
    std::atomic<quint64> m_bytesInQueue { 0 };
};
