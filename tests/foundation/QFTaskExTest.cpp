#include "foundation/QFTaskEx.h"

#include "tests/support/QFTempHome.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <thread>

class QFTaskExTest : public TempHomeTest { };

TEST_F(QFTaskExTest, RunsToolsWithArgumentListsNeverThroughAShell)
{
    int status = -5;
    EXPECT_TRUE(QFTaskEx::runTask(QStringLiteral("/bin/sh"), { QStringLiteral("-c"), QStringLiteral("exit 3") }, &status));
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
    std::thread worker([&] { workerResult = QFTaskEx::runTask(QStringLiteral("/bin/sleep"), { QStringLiteral("300") }, 1.0); });
    worker.join();
    EXPECT_FALSE(workerResult);

    // A tool that ignores the polite request is killed.
    EXPECT_FALSE(QFTaskEx::runTask(QStringLiteral("/bin/sh"), { QStringLiteral("-c"), QStringLiteral("trap '' TERM; sleep 300") }, 1.0));

    EXPECT_TRUE(QFTaskEx::runTask(QStringLiteral("/bin/true"), {}, 30.0, &status));
    EXPECT_EQ(status, 0);
}
