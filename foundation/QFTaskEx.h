#pragma once

// Runs command-line tools with argument lists (never through a shell), their output sent to the null
// device. The blocking forms may be called from any thread.

#include <QString>
#include <QStringList>

class QProcess;

class QFTaskEx final {
public:
    // Runs the tool and waits for it to end. True when it could be started and ran to its end.
    static bool runTask(const QString &path, const QStringList &arguments = {}, int *exitCode = nullptr);
    // Starts the tool and returns at once.
    static bool runTaskAndReturn(const QString &path, const QStringList &arguments = {});
    // Runs the tool and waits at most `timeout` seconds (whole seconds count); a tool still running then
    // is terminated, and the result is false.
    static bool runTask(const QString &path, const QStringList &arguments, double timeout, int *exitCode = nullptr);

    // Every process the system starts begins with no blocked signals, whatever the starting thread blocks
    // (the helper blocks its stop signals for its orderly exit): otherwise time-outs could not stop it.
    static void prepareChildProcess(QProcess &process);
    // Starts a tool that outlives this program (own session, output to the null device).
    static bool startDetached(
        const QString &path, const QStringList &arguments, QString *reason = nullptr, qint64 *pid = nullptr);

    // Whether a path is something runTask can start: an executable file that is not a bundle folder.
    static bool isExecutable(const QString &path);
};
