#include "foundation/QFTaskEx.h"

#include "tests/support/QFTempHome.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

class QFTaskExTest : public TempHomeTest { };

TEST_F(QFTaskExTest, RunsToolsWithArgumentListsNeverThroughAShell)
{
    int status = -5;
    EXPECT_TRUE(
        QFTaskEx::runTask(QStringLiteral("/bin/sh"), { QStringLiteral("-c"), QStringLiteral("exit 3") }, &status));
    EXPECT_EQ(status, 3);
    const QString marker = home.file(QStringLiteral("a; touch pwned $(touch pwned) `touch pwned`"));
    EXPECT_TRUE(QFTaskEx::runTask(QStringLiteral("/usr/bin/touch"), { QStringLiteral("--"), marker }));
    EXPECT_TRUE(QFileInfo::exists(marker));
    EXPECT_FALSE(QFileInfo::exists(home.file(QStringLiteral("pwned"))));
}

TEST_F(QFTaskExTest, NonExecutablePathsStartNothing)
{
    const QString text = home.write(QStringLiteral("notes.txt"), "#!/bin/sh\ntouch ran\n");
    EXPECT_FALSE(QFTaskEx::runTask(text));
    EXPECT_FALSE(QFTaskEx::runTask(home.file(QStringLiteral("missing"))));
    EXPECT_FALSE(QFTaskEx::runTaskAndReturn(home.file(QStringLiteral("missing"))));
    EXPECT_FALSE(QFTaskEx::runTaskAndReturn(QString()));
    EXPECT_FALSE(QFTaskEx::runTask(home.path())) << "a folder is not a tool";
}

TEST_F(QFTaskExTest, TimeOutTerminatesTheToolFromAnyThread)
{
    // 1.7 seconds count as 1; a tool that would run for minutes is ended and reported as failed.
    int status = 0;
    EXPECT_FALSE(QFTaskEx::runTask(QStringLiteral("/bin/sleep"), { QStringLiteral("300") }, 1.7, &status));
    EXPECT_EQ(status, -1);

    bool workerResult = true;
    std::thread worker(
        [&] { workerResult = QFTaskEx::runTask(QStringLiteral("/bin/sleep"), { QStringLiteral("300") }, 1.0); });
    worker.join();
    EXPECT_FALSE(workerResult);

    // A tool that ignores the polite request is killed.
    EXPECT_FALSE(QFTaskEx::runTask(
        QStringLiteral("/bin/sh"), { QStringLiteral("-c"), QStringLiteral("trap '' TERM; sleep 300") }, 1.0));

    EXPECT_TRUE(QFTaskEx::runTask(QStringLiteral("/bin/true"), {}, 30.0, &status));
    EXPECT_EQ(status, 0);
}

TEST_F(QFTaskExTest, ToolsStartWithNoBlockedSignals)
{
    // The helper blocks its stop signals in every thread; the tools it starts must still stop on them.
    sigset_t stopSignals, saved;
    sigemptyset(&stopSignals);
    for (int signal : { SIGTERM, SIGINT, SIGHUP })
        sigaddset(&stopSignals, signal);
    pthread_sigmask(SIG_BLOCK, &stopSignals, &saved);
    const auto blockedIn = [](const QString &status) {
        QFile file(status);
        if (!file.open(QIODevice::ReadOnly))
            return QByteArray("<missing>");
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (line.startsWith("SigBlk:"))
                return line.mid(7).trimmed();
        }
        return QByteArray("<no line>");
    };
    // cp copies the status of its own process.
    const QString waited = home.file(QStringLiteral("waited.txt"));
    EXPECT_TRUE(QFTaskEx::runTask(QStringLiteral("/bin/cp"), { QStringLiteral("/proc/self/status"), waited }, 30.0));
    const QString detached = home.file(QStringLiteral("detached.txt"));
    EXPECT_TRUE(
        QFTaskEx::runTaskAndReturn(QStringLiteral("/bin/cp"), { QStringLiteral("/proc/self/status"), detached }));
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);

    EXPECT_EQ(blockedIn(waited), QByteArray("0000000000000000"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return blockedIn(detached).size() == 16; }, 10000));
    EXPECT_EQ(blockedIn(detached), QByteArray("0000000000000000"));
}
