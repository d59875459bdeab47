#pragma once

// rclone's own servers for tests: "rclone serve webdav" or "rclone serve sftp" over a folder, on a port of
// their choosing on 127.0.0.1, with the user "alice"; the sections of an rclone configuration that reach
// them, with the passwords obscured as rclone config writes them; and the small file and waiting helpers
// those tests share.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpSocket>

#include <csignal>
#include <functional>
#include <unistd.h>

namespace qfrclone {

inline const QString kPassword = QStringLiteral("correct-horse-battery");
inline const QString kWrongPassword = QStringLiteral("wrong-staple");

inline bool waitFor(const std::function<bool()> &condition, int milliseconds = 30000)
{
    QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

inline QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

inline bool writeFile(const QString &path, const QByteArray &contents)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QString obscured(const QString &password)
{
    QProcess process;
    process.start(QStringLiteral("rclone"), { QStringLiteral("obscure"), password });
    process.waitForFinished(30000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// One rclone server over a folder, on a port of its own choosing, with the user "alice".
class RcloneServer {
public:
    ~RcloneServer() { stop(); }

    bool start(const QString &kind, const QString &folder, const QString &cacheFolder)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // The SFTP server keeps the host keys it makes there.
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), cacheFolder);
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral("rclone"),
            { QStringLiteral("serve"), kind, folder, QStringLiteral("--addr"), QStringLiteral("127.0.0.1:0"),
                QStringLiteral("--user"), QStringLiteral("alice"), QStringLiteral("--pass"), kPassword });
        if (!m_process.waitForStarted(30000))
            return false;
        static const QRegularExpression address(QStringLiteral("127\\.0\\.0\\.1:(\\d+)"));
        QByteArray output;
        const bool announced = waitFor([&] {
            output += m_process.readAll();
            const QRegularExpressionMatch match = address.match(QString::fromUtf8(output));
            if (match.hasMatch())
                port = match.captured(1).toInt();
            return port > 0 || m_process.state() == QProcess::NotRunning;
        });
        if (!announced || port <= 0)
            return false;
        return waitFor([&] {
            QTcpSocket socket;
            socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
            return socket.waitForConnected(200);
        });
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(m_process.processId()), SIGCONT);
        m_process.kill();
        m_process.waitForFinished(30000);
    }

    qint64 pid() const { return m_process.processId(); }

    int port = 0;

private:
    QProcess m_process;
};

inline QString davSection(const QString &name, int port, const QString &password)
{
    return QStringLiteral(
        "[%1]\ntype = webdav\nurl = http://127.0.0.1:%2/\nvendor = other\nuser = alice\npass = %3\n\n")
        .arg(name)
        .arg(port)
        .arg(obscured(password));
}

inline QString sftpSection(const QString &name, int port, const QString &password)
{
    return QStringLiteral(
        "[%1]\ntype = sftp\nhost = 127.0.0.1\nport = %2\nuser = alice\npass = %3\nshell_type = none\n\n")
        .arg(name)
        .arg(port)
        .arg(obscured(password));
}

} // namespace qfrclone
