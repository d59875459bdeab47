#include "foundation/QFMainThread.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(QFMainThreadTest, WorkReachesTheApplicationsThreadFromAnyThread)
{
    ASSERT_TRUE(QFMainThread::isCurrent());
    std::atomic<bool> workerIsMain { true };
    std::atomic<bool> ranOnMain { false };
    std::atomic<bool> done { false };
    std::thread worker([&] {
        workerIsMain = QFMainThread::isCurrent();
        QFMainThread::run(
            [&] { ranOnMain = QThread::currentThread() == QCoreApplication::instance()->thread(); }, true);
        done = true;
    });
    // The main thread handles events meanwhile, so the worker's waiting call returns.
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 10000));
    worker.join();
    EXPECT_FALSE(workerIsMain);
    EXPECT_TRUE(ranOnMain);

    // On the main thread itself the work runs at once, also when waited for.
    bool inline_ = false;
    QFMainThread::run([&] { inline_ = true; }, true);
    EXPECT_TRUE(inline_);
}
