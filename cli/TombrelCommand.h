#pragma once

// The tombrel command: the engine from a terminal. The command logic writes only to the streams it is
// given, so it runs in-process in tests. Exit status: 0 success, 1 the work failed, 2 a usage error.

#include <QStringList>
#include <QTextStream>

class TombrelCommand final {
public:
    TombrelCommand(QTextStream &out, QTextStream &err);

    // arguments: without the program name.
    int run(const QStringList &arguments);

    static QString version();

private:
    int usageError(const QString &message);
    int fail(const QString &message);
    int commandPaths(const QStringList &arguments);
    void printHelp();

    QTextStream &m_out;
    QTextStream &m_err;
};
