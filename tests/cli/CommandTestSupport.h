#pragma once

// In-process runs of tombrel for the tests of its commands, and a fixture with a fresh home in which
// a failed copy never turns into an administrator's command (also when the tests run as root).

#include "cli/TombrelCommand.h"

#include "foundation/QFAuthorization.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFLocalPaths.h"
#include "tests/support/QFTempHome.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <memory>
#include <vector>

#include <ostream>

struct CommandResult {
    int status;
    QString out;
    QString err;
};

inline CommandResult runTombrel(const QStringList &arguments)
{
    QString out, err;
    QTextStream o(&out), e(&err);
    const int status = TombrelCommand(o, e).run(arguments);
    return { status, out, err };
}

// Runs the real program once for each argument list, all at the same time, and returns their exit
// statuses (-1 for one that did not finish within a minute).
inline std::vector<int> runTombrelProcessesTogether(const QList<QStringList> &argumentLists)
{
    const QString program = qEnvironmentVariable("QF_BUNDLE_DIR") + QStringLiteral("/Contents/MacOS/tombrel");
    std::vector<std::unique_ptr<QProcess>> processes;
    for (const QStringList &arguments : argumentLists) {
        processes.push_back(std::make_unique<QProcess>());
        processes.back()->start(program, arguments);
    }
    std::vector<int> statuses;
    for (const auto &process : processes) {
        const bool finished = process->waitForFinished(60000) && process->exitStatus() == QProcess::NormalExit;
        statuses.push_back(finished ? process->exitCode() : -1);
    }
    return statuses;
}

inline std::ostream &operator<<(std::ostream &os, const CommandResult &result)
{
    return os << "status " << result.status << ", out \"" << result.out.toStdString() << "\", err \""
              << result.err.toStdString() << '"';
}

class CommandTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        QFLocalPaths::setRootOverride(false);
        QFAuthorization::sharedController()->setHasGUI(false);
    }
    void TearDown() override
    {
        QFAuthorization::sharedController()->setHasGUI(true);
        QFLocalPaths::setRootOverride(std::nullopt);
        QFFileManager::setMountTableReader({});
    }

    QString storageRoot() const { return home.file(QStringLiteral(".local/share/Quenfield/Pro Tombrel/Projects")); }
    QStringList trashed() const
    {
        return QDir(home.file(QStringLiteral(".local/share/Trash/files")))
            .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }
    // Every file of the home but the logs, with a digest of its contents: equal before and after means
    // nothing was changed.
    QStringList homeTree() const
    {
        QStringList entries;
        QDirIterator it(home.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
            QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString relative = QDir(home.path()).relativeFilePath(path);
            if (relative.startsWith(QLatin1String(".local/state")))
                continue;
            QString line = relative;
            QFile file(path);
            if (it.fileInfo().isFile() && file.open(QIODevice::ReadOnly))
                line += u' '
                    + QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1).toHex());
            entries << line;
        }
        entries.sort();
        return entries;
    }
    static QByteArray contents(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
};
