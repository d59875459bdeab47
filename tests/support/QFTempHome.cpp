#include "tests/support/QFTempHome.h"

#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace {

const char *const kVariables[] = { "HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME",
    "XDG_RUNTIME_DIR", "TMPDIR", "PATH" };

} // namespace

QFTempHome::QFTempHome()
{
    for (const char *name : kVariables) {
        const char *value = std::getenv(name);
        m_saved[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    const QString root = m_dir.path();
    const auto set = [&](const char *name, const QString &relative) {
        const QString path = relative.isEmpty() ? root : root + u'/' + relative;
        QDir().mkpath(path);
        setenv(name, QFile::encodeName(path).constData(), 1);
    };
    set("HOME", QString());
    set("XDG_DATA_HOME", QStringLiteral(".local/share"));
    set("XDG_CONFIG_HOME", QStringLiteral(".config"));
    set("XDG_CACHE_HOME", QStringLiteral(".cache"));
    set("XDG_STATE_HOME", QStringLiteral(".local/state"));
    set("XDG_RUNTIME_DIR", QStringLiteral("run"));
    set("TMPDIR", QStringLiteral("tmp"));
    QFile::setPermissions(root + QStringLiteral("/run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    // No test reaches the user's own service manager: systemctl is a stand-in that records its arguments
    // in systemctl.log and answers as a manager that has no systemd user instance when the file
    // "no-manager" exists in the home.
    const QString bin = root + QStringLiteral("/.test-bin");
    QDir().mkpath(bin);
    QFile tool(bin + QStringLiteral("/systemctl"));
    if (tool.open(QIODevice::WriteOnly)) {
        tool.write(
            QStringLiteral("#!/bin/sh\necho \"$*\" >> '%1/systemctl.log'\n[ -e '%1/no-manager' ] && exit 1\nexit 0\n")
                .arg(root)
                .toUtf8());
        tool.close();
        tool.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const std::optional<std::string> &path = m_saved["PATH"];
    const std::string searchPath = QFile::encodeName(bin + u':').toStdString() + path.value_or("/usr/bin:/bin");
    setenv("PATH", searchPath.c_str(), 1);

    struct passwd *pw = getpwuid(geteuid());
    const QString name = pw ? QString::fromUtf8(pw->pw_name) : QStringLiteral("tester");
    QFLocalPaths::setConsoleUserResolver([name, root]() {
        return std::optional<QFConsoleUser>(QFConsoleUser { name, root });
    });
    QFLocalPaths::setRootOverride(std::nullopt);
}

QFTempHome::~QFTempHome()
{
    QFLocalPaths::setConsoleUserResolver({});
    QFLocalPaths::setRootOverride(std::nullopt);
    for (const auto &[name, value] : m_saved) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
}

QString QFTempHome::write(const QString &relative, const QByteArray &contents) const
{
    const QString path = file(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(contents);
    return path;
}

QStringList QFTempHome::logMessages(const QString &programName) const
{
    QFLog::finishWriting();
    QFile log(file(QStringLiteral(".local/state/Quenfield/%1.1.log").arg(programName)));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    static const QRegularExpression date(QStringLiteral("^.*? - "));
    QStringList messages;
    for (const QString &line : QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts))
        messages << QString(line).remove(date);
    return messages;
}

QString fixturePath(const QString &name)
{
    return qEnvironmentVariable("QF_TEST_FIXTURES") + u'/' + name;
}

QString supportProgram(const QString &name)
{
    // Support programs are built into the support folder of the build tree, beside the test folders.
    const QString here = QCoreApplication::applicationDirPath();
    for (const QString &candidate : { here + QStringLiteral("/../support/") + name, here + u'/' + name }) {
        if (QFileInfo(candidate).isExecutable())
            return QDir::cleanPath(candidate);
    }
    return {};
}
