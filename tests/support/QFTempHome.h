#pragma once

// A fresh home for one test: HOME and every XDG folder point into a new temporary folder, the console
// user is the current user with that home, systemctl is a recording stand-in (its calls in
// "systemctl.log" of the home), and everything is restored afterwards.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <ostream>
#include <string>

// Readable values in failure messages.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QDateTime &date, std::ostream *os)
{
    *os << date.toString(Qt::ISODateWithMs).toStdString();
}
inline void PrintTo(const QByteArray &bytes, std::ostream *os)
{
    *os << '"' << bytes.toStdString() << '"';
}

class QFTempHome {
public:
    QFTempHome();
    ~QFTempHome();
    Q_DISABLE_COPY_MOVE(QFTempHome)

    QString path() const { return m_dir.path(); }
    QString file(const QString &relative) const { return m_dir.filePath(relative); }

    // The messages of a program's current log in this home, without their dates (this process's pending
    // lines written first).
    QStringList logMessages(const QString &programName) const;

    // Writes a file (creating its folders) and returns its path.
    QString write(const QString &relative, const QByteArray &contents) const;

private:
    QTemporaryDir m_dir;
    std::map<std::string, std::optional<std::string>> m_saved;
};

// A test fixture that gives every test its own home.
class TempHomeTest : public ::testing::Test {
protected:
    QFTempHome home;
};

// The folder of read-only test inputs.
QString fixturePath(const QString &name);
// A program built next to the tests (support programs); empty when missing.
QString supportProgram(const QString &name);
