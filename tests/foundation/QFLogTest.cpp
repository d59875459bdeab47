#include "foundation/QFLog.h"

#include "foundation/QFException.h"
#include "foundation/platform/QFPropertyList.h"
#include "tests/support/QFTempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

namespace {

const QString kName = QStringLiteral("LogTest");

QStringList linesOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

// The message part of a log line ("DATE - message").
QString messageOf(const QString &line)
{
    static const QRegularExpression prefix(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d [+-]\\d{4} - "));
    const auto match = prefix.match(line);
    return match.hasMatch() ? line.mid(match.capturedLength()) : QString();
}

class QFLogTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        QFLog::setPrinter([this](const QString &text) {
            std::lock_guard lock(m_printedMutex);
            m_printed << text;
        });
    }
    void TearDown() override
    {
        QFLog::finishWriting();
        QFLog::setPrinter({});
    }
    QString logFile(int generation) const
    {
        return home.file(QStringLiteral(".local/state/Quenfield/%1.%2.log").arg(kName).arg(generation));
    }
    QStringList printed()
    {
        std::lock_guard lock(m_printedMutex);
        return m_printed;
    }
    void setGlobal(const QString &key, const QVariant &value)
    {
        ASSERT_TRUE(QFPropertyList::write(
            home.file(QStringLiteral(".config/com.quenfield.global.plist")), QVariantMap { { key, value } }));
    }

    std::mutex m_printedMutex;
    QStringList m_printed;
};

} // namespace

TEST_F(QFLogTest, NewLogStartsWithHeaderLines)
{
    QFLog::createNewLog(kName);
    QFLog::appendLog("File %@ finished writing.", QStringLiteral("/p/Edit.fcp"));
    QFLog::finishWriting();
    const QStringList lines = linesOf(logFile(1));
    ASSERT_GE(lines.size(), 5);
    EXPECT_TRUE(messageOf(lines[0]).startsWith(QStringLiteral("Log started: ")));
    EXPECT_TRUE(messageOf(lines[1]).startsWith(QStringLiteral("Path: ")));
    EXPECT_TRUE(messageOf(lines[2]).contains(
        QRegularExpression(QStringLiteral("^System: Linux .*, \\d+ CPU\\(s\\), \\d+\\.\\d\\d GB RAM$"))));
    EXPECT_EQ(messageOf(lines[3]), QStringLiteral("Running in 64-bit mode"));
    EXPECT_EQ(messageOf(lines.last()), QStringLiteral("File /p/Edit.fcp finished writing."));
    EXPECT_EQ(QFLog::availableLogs(), QStringList { logFile(1) });
}

TEST_F(QFLogTest, RotatesAt500000BytesIntoAtMostFiveGenerations)
{
    QFLog::createNewLog(kName);
    const QString filler(90, u'x');
    for (int i = 0; i < 6000; ++i)
        QFLog::fastAppendLog("%i %@", i, filler);
    QFLog::finishWriting();

    ASSERT_TRUE(QFileInfo::exists(logFile(2)));
    EXPECT_GE(QFileInfo(logFile(2)).size(), 500000);
    EXPECT_LT(QFileInfo(logFile(2)).size(), 500000 + 200);
    const QStringList fresh = linesOf(logFile(1));
    ASSERT_GE(fresh.size(), 5);
    EXPECT_TRUE(messageOf(fresh[0]).startsWith(QStringLiteral("Log started: ")));
    EXPECT_EQ(messageOf(fresh[4]), QStringLiteral("Log truncated at 500KB"));
    // No line is lost across the cut: the old file ends where the new one goes on.
    const int lastOld = messageOf(linesOf(logFile(2)).last()).section(u' ', 0, 0).toInt();
    EXPECT_EQ(messageOf(fresh[5]).section(u' ', 0, 0).toInt(), lastOld + 1);

    for (int i = 0; i < 7; ++i)
        QFLog::createNewLog(kName);
    EXPECT_EQ(QFLog::availableLogs().size(), 5);
    EXPECT_FALSE(QFileInfo::exists(logFile(6)));
}

TEST_F(QFLogTest, DisableLoggingSwitch)
{
    const QVariant values[] = { QVariant(QStringLiteral("1")), QVariant(true), QVariant(qint64(1)) };
    for (const QVariant &value : values) {
        SCOPED_TRACE(qPrintable(value.toString()));
        QDir(home.file(QStringLiteral(".local/state"))).removeRecursively();
        setGlobal(QStringLiteral("disable-logging"), value);
        m_printed.clear();
        QFLog::createNewLog(kName);
        QFLog::appendLog("should not be written");
        QFLog::finishWriting();
        EXPECT_FALSE(QFileInfo::exists(logFile(1)));
        EXPECT_EQ(printed().count(QStringLiteral("Logging is disabled\n")), 1);
        EXPECT_TRUE(QFLog::sharedController()->loggingDisabled());
        QFile::remove(home.file(QStringLiteral(".config/com.quenfield.global.plist")));
        QFLog::createNewLog(kName);
        EXPECT_FALSE(QFLog::sharedController()->loggingDisabled());
    }
    // Anything else does not disable logging.
    setGlobal(QStringLiteral("disable-logging"), QStringLiteral("yes"));
    QFLog::createNewLog(kName);
    QFLog::appendLog("written");
    QFLog::finishWriting();
    EXPECT_FALSE(QFLog::sharedController()->loggingDisabled());
    EXPECT_EQ(messageOf(linesOf(logFile(1)).last()), QStringLiteral("written"));
}

TEST_F(QFLogTest, EightThreadsNeverInterleaveOrLoseLines)
{
    QFLog::createNewLog(kName);
    constexpr int kThreads = 8;
    constexpr int kLines = 1500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                if (i % 2)
                    QFLog::appendLog("thread %i line %i", t, i);
                else
                    QFLog::fastAppendLog("thread %i line %i with some more words to make it longer", t, i);
            }
        });
    }
    for (auto &thread : threads)
        thread.join();
    QFLog::finishWriting();

    QSet<QString> seen;
    static const QRegularExpression shape(
        QStringLiteral("^thread \\d line \\d+( with some more words to make it longer)?$"));
    for (const QString &path : QFLog::availableLogs()) {
        for (const QString &line : linesOf(path)) {
            const QString message = messageOf(line);
            ASSERT_FALSE(message.isEmpty()) << qPrintable(line);
            if (message.startsWith(QStringLiteral("thread "))) {
                ASSERT_TRUE(shape.match(message).hasMatch()) << qPrintable(line);
                seen.insert(message.section(u' ', 0, 3));
            }
        }
    }
    EXPECT_EQ(seen.size(), kThreads * kLines);
}

TEST_F(QFLogTest, ShortMessagesFromWorkerThreadsAreOnDiskWhenTheCallReturns)
{
    QFLog::createNewLog(kName);
    std::thread worker([this] {
        QFLog::appendLog("from the worker");
        const QStringList lines = linesOf(logFile(1));
        EXPECT_EQ(messageOf(lines.last()), QStringLiteral("from the worker"));
    });
    worker.join();
}

TEST_F(QFLogTest, LogAndPrintKeepsPercentSigns)
{
    QFLog::createNewLog(kName);
    m_printed.clear();
    QFLog::appendLogAndPrint("  %@ done  ", QStringLiteral("100% %@"));
    QFLog::finishWriting();
    EXPECT_EQ(messageOf(linesOf(logFile(1)).last()), QStringLiteral("100% %@ done"));
    EXPECT_EQ(printed(), QStringList { QStringLiteral("100%  done\n") });
}

TEST_F(QFLogTest, ExceptionsAreLoggedWithTheirMethod)
{
    QFLog::createNewLog(kName);
    const bool ok = QFException::guard("restoreVersion:", [] { throw std::runtime_error("disk full"); });
    EXPECT_FALSE(ok);
    QFLog::finishWriting();
    EXPECT_EQ(messageOf(linesOf(logFile(1)).last()),
        QStringLiteral("Exception in restoreVersion:. std::runtime_error - disk full."));
    EXPECT_TRUE(QFException::didTimeout(QFPortTimeoutException("no answer")));
    EXPECT_FALSE(QFException::didTimeout(std::runtime_error("x")));
}

TEST_F(QFLogTest, AnUnwritableFolderIsReportedNotFatal)
{
    // A file where the log folder should be: the log stays closed and says so.
    QDir(home.file(QStringLiteral(".local/state"))).removeRecursively();
    home.write(QStringLiteral(".local/state/Quenfield"), "not a folder");
    m_printed.clear();
    QFLog::createNewLog(kName);
    QFLog::appendLog("lost line");
    QFLog::finishWriting();
    const QString all = printed().join(QString());
    EXPECT_TRUE(all.contains(QStringLiteral("Unable to create folder"))) << qPrintable(all);
    EXPECT_TRUE(all.contains(QStringLiteral("Unable to log the following information: lost line"))) << qPrintable(all);
}

TEST_F(QFLogTest, AProgramEndingWithQueuedLinesExitsCleanly)
{
    // The writer must be idle before the program's own objects are torn down: a writer still busy then
    // crashed the ending program now and then. A short queue is written out; a long one is dropped after
    // the line being written, which is never cut.
    const QString child = supportProgram(QStringLiteral("qf_crash_child"));
    ASSERT_FALSE(child.isEmpty());
    const QString log = home.file(QStringLiteral(".local/state/Quenfield/LogChild.1.log"));
    for (const int count : { 10, 2000 }) {
        for (int run = 0; run < 15; ++run) {
            SCOPED_TRACE(qPrintable(QStringLiteral("%1 lines, run %2").arg(count).arg(run)));
            QProcess process;
            process.start(child, { QStringLiteral("LogChild"), QStringLiteral("log"), QString::number(count) });
            ASSERT_TRUE(process.waitForFinished(60000));
            ASSERT_EQ(process.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(process.exitCode(), 0);
            QFile file(log);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            const QByteArray text = file.readAll();
            EXPECT_TRUE(text.endsWith('\n'));
            const QStringList lines = QString::fromUtf8(text).split(u'\n', Qt::SkipEmptyParts);
            int expected = 1;
            for (const QString &line : lines) {
                const QString message = messageOf(line);
                if (message.startsWith(QStringLiteral("line "))) {
                    EXPECT_EQ(message, QStringLiteral("line %1").arg(expected++));
                }
            }
            if (count == 10) {
                EXPECT_EQ(expected, 11);
            }
        }
    }
}
