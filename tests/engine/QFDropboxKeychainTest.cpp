#include "engine/QFDropboxKeychain.h"

#include "engine/QFDropboxAccount.h"
#include "tests/support/QFSyncTestSupport.h"
#include "tests/support/QFTempHome.h"

#include <QMutex>
#include <QSemaphore>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace {

using Operation = QFDropboxKeychain::Operation;
using Result = QFDropboxKeychain::Result;

// A Secret Service that answers when the test lets it, recording what it was asked.
struct SlowKeychain {
    QSemaphore answers;
    QMutex lock;
    QList<Operation> asked;
    QString token = QStringLiteral("refresh-from-the-secret-service");
    bool failing = false;

    QList<Operation> operations()
    {
        QMutexLocker locked(&lock);
        return asked;
    }
    void install()
    {
        QFDropboxKeychain::setBackend([this](Operation operation, const QString &written) {
            {
                QMutexLocker locked(&lock);
                asked << operation;
            }
            answers.acquire();
            if (failing)
                return Result { false, {}, QStringLiteral("the collection is locked") };
            if (operation == Operation::Write)
                token = written;
            return Result { true, operation == Operation::Read ? token : QString(), {} };
        });
    }
};

class QFDropboxKeychainTest : public TempHomeTest {
protected:
    void SetUp() override { keychain.install(); }
    void TearDown() override
    {
        // Whatever is still waiting answers, so no job is left behind.
        keychain.answers.release(100);
        QFDropboxKeychain::setBackend({});
    }
    SlowKeychain keychain;
};

} // namespace

TEST_F(QFDropboxKeychainTest, TheWindowsLookUpReturnsAtOnceAndTheTokenFollowsOnItsThread)
{
    QObject window;
    std::optional<Result> read;
    QThread *answeredOn = nullptr;
    QFDropboxKeychain::read(&window, [&](const Result &result) {
        read = result;
        answeredOn = QThread::currentThread();
    });
    EXPECT_FALSE(read);
    ASSERT_TRUE(QTest::qWaitFor([&] { return keychain.operations().size() == 1; }, 5000));
    // The caller's events go on while the Secret Service has not answered.
    bool timerFired = false;
    QTimer::singleShot(0, &window, [&] { timerFired = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return timerFired; }, 5000));
    EXPECT_FALSE(read);

    keychain.answers.release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return read.has_value(); }, 5000));
    EXPECT_TRUE(read->ok);
    EXPECT_EQ(read->token, QStringLiteral("refresh-from-the-secret-service"));
    EXPECT_EQ(answeredOn, QThread::currentThread());
}

TEST_F(QFDropboxKeychainTest, OperationsRunInTheOrderAskedAndAGoneContextGetsNothing)
{
    QObject window;
    std::optional<Result> late;
    QStringList answered;
    {
        QObject closed;
        QFDropboxKeychain::read(&closed, [&](const Result &result) { late = result; });
    }
    QFDropboxKeychain::remove(&window, [&](const Result &) { answered << QStringLiteral("remove"); });
    QFDropboxKeychain::write(
        QStringLiteral("new"), &window, [&](const Result &) { answered << QStringLiteral("write"); });
    QFDropboxKeychain::read(&window, [&](const Result &result) { answered << QStringLiteral("read ") + result.token; });
    keychain.answers.release(4);
    ASSERT_TRUE(QTest::qWaitFor([&] { return answered.size() == 3; }, 5000));
    EXPECT_EQ(
        answered, (QStringList { QStringLiteral("remove"), QStringLiteral("write"), QStringLiteral("read new") }));
    EXPECT_EQ(keychain.operations(),
        (QList<Operation> { Operation::Read, Operation::Remove, Operation::Write, Operation::Read }));
    EXPECT_FALSE(late);
}

TEST_F(QFDropboxKeychainTest, TheBlockingFormRunsNoEventsOfItsCaller)
{
    QObject caller;
    bool timerFired = false;
    QTimer::singleShot(0, &caller, [&] { timerFired = true; });
    keychain.answers.release();
    const Result result = QFDropboxKeychain::readBlocking();
    EXPECT_FALSE(timerFired);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.token, QStringLiteral("refresh-from-the-secret-service"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return timerFired; }, 5000));
}

TEST_F(QFDropboxKeychainTest, WithoutASecretServiceTheKeychainFailsWithinItsTime)
{
    QFDropboxKeychain::setBackend({});
    const Result result = QFDropboxKeychain::readBlocking(3000);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.isEmpty());
}

TEST_F(QFDropboxKeychainTest, TheAccountRefreshesItsAccessWithATokenTheSecretServiceGivesLate)
{
    QFFakeDropbox fake;
    ASSERT_TRUE(fake.listen());
    synctest::pointAtFake(fake);
    keychain.token = fake.addRefreshToken();
    const QString record = synctest::linkRecordPath();
    QDir().mkpath(QFileInfo(record).absolutePath());
    QFile file(record);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({ "account_id": "dbid:test", "store": "Secret Service" })");
    file.close();
    ASSERT_EQ(QFDropboxAccount::tokenStorage(), QStringLiteral("Secret Service"));

    QFDropboxAccount account;
    std::optional<bool> refreshed;
    account.refreshAccessToken([&](bool ok, int, const QString &) { refreshed = ok; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return keychain.operations().size() == 1; }, 5000));
    EXPECT_FALSE(refreshed);
    keychain.answers.release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return refreshed.has_value(); }, 10000));
    EXPECT_TRUE(*refreshed);
    EXPECT_FALSE(account.accessToken().isEmpty());

    // A Secret Service that refuses leaves the account unlinked in effect: an authentication failure.
    keychain.failing = true;
    std::optional<int> status;
    account.refreshAccessToken([&](bool, int code, const QString &) { status = code; });
    keychain.answers.release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return status.has_value(); }, 10000));
    EXPECT_EQ(*status, 401);
}

TEST_F(QFDropboxKeychainTest, UnlinkingForgetsAtOnceAndRemovesTheTokenAfterReadingIt)
{
    QFFakeDropbox fake;
    ASSERT_TRUE(fake.listen());
    synctest::pointAtFake(fake);
    keychain.token = fake.addRefreshToken();
    const QString record = synctest::linkRecordPath();
    QDir().mkpath(QFileInfo(record).absolutePath());
    QFile file(record);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({ "account_id": "dbid:test", "store": "Secret Service" })");
    file.close();

    QFDropboxAccount account;
    bool revoked = false;
    account.unlink([&] { revoked = true; });
    EXPECT_FALSE(QFDropboxAccount::isLinked());
    keychain.answers.release(2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return revoked; }, 10000));
    EXPECT_EQ(keychain.operations(), (QList<Operation> { Operation::Read, Operation::Remove }));
}
