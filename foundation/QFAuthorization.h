#pragma once

// Repeats a file operation as the administrator (through pkexec) when the user's own attempt failed.
// System folders are refused before anything runs. Commands are started without waiting for them, so
// true means "started"; callers that need the outcome poll for it. Without a graphical session (or
// pkexec) nothing can be authorised and every fallback returns false. One instance per process.

#include <QMutex>
#include <QString>
#include <QStringList>

#include <functional>

class QFAuthorization final {
public:
    static QFAuthorization *sharedController();

    bool authRemoveFile(const QString &path);
    bool authMoveFile(const QString &source, const QString &destination);
    bool authCopyFile(const QString &source, const QString &destination);
    bool authCreateDir(const QString &path);
    bool authTrashFile(const QString &path, bool deleteOnRootAccount = false);

    // 0 when started (or, not asynchronous, when the tool ended with 0); −1 when no administrator right
    // can be had; −2 when the tool does not exist; otherwise the tool's exit status.
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
    bool refuseSystemDirectory(const QString &path, const char *message) const;
    int run(const QString &program, const QStringList &arguments, bool async);

    bool m_hasGUI = true;
    bool m_authorized = false;
    QString m_userDirectory;
    mutable QMutex m_lock;
    CommandRunner m_runner;
};
