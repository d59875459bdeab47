#pragma once

// Repeats a file operation as the administrator (through pkexec) when the user's own attempt failed.
// System folders are refused before anything runs, whatever the spelling of the path, and the commands
// are given the path as checked (its folders' links resolved). Commands are started without waiting for
// them, so true means "started"; callers that need the outcome poll for it, or pass wait, which runs the
// command to its end and answers whether it ended with status 0. Without a graphical session (or pkexec)
// nothing can be authorised and every fallback returns false. One instance per process.

#include <QMutex>
#include <QString>
#include <QStringList>

#include <functional>

class QFAuthorization final {
public:
    static QFAuthorization *sharedController();

    bool authRemoveFile(const QString &path, bool wait = false);
    // mv and cp take the destination as the item itself (-T), never as a folder to land in.
    bool authMoveFile(const QString &source, const QString &destination, bool wait = false);
    bool authCopyFile(const QString &source, const QString &destination, bool wait = false);
    bool authCreateDir(const QString &path, bool wait = false);
    bool authTrashFile(const QString &path, bool deleteOnRootAccount = false);

    // 0 when started (or, not asynchronous, when the tool ended with 0); −1 when no administrator right
    // can be had; −2 when the tool does not exist; otherwise the tool's exit status (also for root).
    int authExecTask(const QString &toolPath, const QStringList &parameters, bool async = true);

    bool authStart();
    void authEnd();
    bool isAuthorized() const;

    bool hasGUI() const { return m_hasGUI; }
    void setHasGUI(bool hasGUI) { m_hasGUI = hasGUI; }

    // Seam: runs the final command line (program and arguments) instead of starting it; returns the
    // status authExecTask reports.
    using CommandRunner = std::function<int(const QString &program, const QStringList &arguments, bool async)>;
    void setCommandRunner(CommandRunner runner);

    Q_DISABLE_COPY_MOVE(QFAuthorization)

private:
    QFAuthorization();
    // The path to act on (QFLocalPaths::resolvedPath), or empty when it is a system folder (logged).
    QString checkedPath(const QString &path, const char *message) const;
    int run(const QString &program, const QStringList &arguments, bool async);

    bool m_hasGUI = true;
    bool m_authorized = false;
    QString m_userDirectory;
    mutable QMutex m_lock;
    CommandRunner m_runner;
};
