#include "foundation/QFHelperConnection.h"

#include "tests/support/QFTempHome.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QObject>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

namespace {

// The helper's service on a connection of its own, served by this thread's events: the window's calls
// cross the private test bus as they would to a helper process. An answer can be held back.
class FakeHelper : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.quenfield.ProTombrelHelper")

public:
    int calls = 0;
    bool holdAnswers = false;
    bool failing = false;
    QList<QDBusMessage> held;

    void answerHeld()
    {
        for (const QDBusMessage &call : std::as_const(held))
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, kConnection).send(call.createReply());
        held.clear();
    }
    static inline const QString kConnection = QStringLiteral("fake-helper");

public Q_SLOTS:
    void updateConfiguration() { answer(); }
    void startBackupScan() { answer(); }

private:
    void answer()
    {
        ++calls;
        if (failing) {
            sendErrorReply(QDBusError::Failed, QStringLiteral("set-up failed"));
        } else if (holdAnswers) {
            setDelayedReply(true);
            held << message();
        }
    }
};

class QFHelperConnectionTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        TempHomeTest::SetUp();
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
    }
    void TearDown() override
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, FakeHelper::kConnection);
        bus.unregisterService(QFHelperConnection::serviceName());
        bus.unregisterObject(QStringLiteral("/"));
        TempHomeTest::TearDown();
    }
    void startHelper()
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, FakeHelper::kConnection);
        ASSERT_TRUE(bus.registerObject(QStringLiteral("/"), &helper, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(bus.registerService(QFHelperConnection::serviceName()));
        ASSERT_TRUE(QFHelperConnection::runningHelper());
    }

    struct Answer {
        bool arrived = false;
        bool handled = false;
        QString error;
    };
    static QFHelperConnection::Answer into(const std::shared_ptr<Answer> &answer)
    {
        return [answer](bool handled, const QString &error) {
            answer->arrived = true;
            answer->handled = handled;
            answer->error = error;
        };
    }

    FakeHelper helper;
};

} // namespace

TEST_F(QFHelperConnectionTest, WithoutAHelperTheAnswerComesLaterAndSaysSo)
{
    QObject window;
    auto answer = std::make_shared<Answer>();
    QFHelperConnection::updateConfiguration(&window, into(answer));
    EXPECT_FALSE(answer->arrived);
    ASSERT_TRUE(QTest::qWaitFor([&] { return answer->arrived; }, 10000));
    EXPECT_FALSE(answer->handled);
    EXPECT_EQ(answer->error, QStringLiteral("the helper is not running"));

    QString error;
    EXPECT_FALSE(QFHelperConnection::updateConfiguration(&error, 1000));
    EXPECT_EQ(error, QStringLiteral("the helper is not running"));
}

TEST_F(QFHelperConnectionTest, TheWindowsCallReturnsAtOnceAndTheAnswerFollowsTheHelpersReply)
{
    startHelper();
    helper.holdAnswers = true;
    QObject window;
    auto configured = std::make_shared<Answer>();
    auto scanned = std::make_shared<Answer>();
    QFHelperConnection::updateConfiguration(&window, into(configured));
    QFHelperConnection::startBackupScan(&window, into(scanned));
    // The helper has the requests while its set-up is still running; the caller's events go on meanwhile.
    ASSERT_TRUE(QTest::qWaitFor([&] { return helper.held.size() == 2; }, 10000));
    EXPECT_FALSE(configured->arrived);
    EXPECT_FALSE(scanned->arrived);
    helper.answerHeld();
    ASSERT_TRUE(QTest::qWaitFor([&] { return configured->arrived && scanned->arrived; }, 10000));
    EXPECT_TRUE(configured->handled) << qPrintable(configured->error);
    EXPECT_TRUE(scanned->handled) << qPrintable(scanned->error);
    EXPECT_EQ(helper.calls, 2);
}

TEST_F(QFHelperConnectionTest, AFailureReachesTheCallbackAndAGoneContextGetsNothing)
{
    startHelper();
    helper.failing = true;
    QObject window;
    auto answer = std::make_shared<Answer>();
    QFHelperConnection::updateConfiguration(&window, into(answer));
    ASSERT_TRUE(QTest::qWaitFor([&] { return answer->arrived; }, 10000));
    EXPECT_FALSE(answer->handled);
    EXPECT_EQ(answer->error, QStringLiteral("set-up failed"));

    helper.failing = false;
    helper.holdAnswers = true;
    auto late = std::make_shared<Answer>();
    auto kept = std::make_shared<Answer>();
    {
        QObject closed;
        QFHelperConnection::updateConfiguration(&closed, into(late));
        ASSERT_TRUE(QTest::qWaitFor([&] { return helper.held.size() == 1; }, 10000));
    }
    QFHelperConnection::startBackupScan(&window, into(kept));
    ASSERT_TRUE(QTest::qWaitFor([&] { return helper.held.size() == 2; }, 10000));
    helper.answerHeld();
    // Both replies travel the same connection in order: once the second is in, the first was handled.
    ASSERT_TRUE(QTest::qWaitFor([&] { return kept->arrived; }, 10000));
    EXPECT_FALSE(late->arrived);
}

TEST_F(QFHelperConnectionTest, TheBlockingFormWaitsBoundedOffTheWindowsThread)
{
    startHelper();
    helper.holdAnswers = true;
    // tombrel's wait for a helper whose set-up does not end: the time-out, then the reason.
    bool handled = true;
    QString error;
    std::unique_ptr<QThread> caller(
        QThread::create([&] { handled = QFHelperConnection::updateConfiguration(&error, 300); }));
    caller->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return caller->isFinished(); }, 10000));
    EXPECT_FALSE(handled);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(helper.calls, 1);

    helper.holdAnswers = false;
    handled = false;
    caller.reset(QThread::create([&] { handled = QFHelperConnection::startBackupScan(&error, 10000); }));
    caller->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return caller->isFinished(); }, 15000));
    EXPECT_TRUE(handled) << qPrintable(error);
    EXPECT_EQ(helper.calls, 2);
}

#include "QFHelperConnectionTest.moc"
