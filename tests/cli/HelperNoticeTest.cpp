#include "tests/cli/CommandTestSupport.h"

#include "foundation/QFHelperConnection.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>

#include <gtest/gtest.h>

namespace {

// The helper's service as the commands see it, in this process on the private test bus.
class FakeHelper : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.quenfield.ProTombrelHelper")

public:
    int calls = 0;
    bool failing = false;

public Q_SLOTS:
    void updateConfiguration()
    {
        ++calls;
        if (failing)
            sendErrorReply(QDBusError::Failed, QStringLiteral("set-up failed"));
    }
};

class HelperNoticeTest : public CommandTest {
protected:
    void SetUp() override
    {
        CommandTest::SetUp();
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
        QDir().mkpath(home.file(QStringLiteral("Movies")));
    }
    void TearDown() override
    {
        stopHelper();
        CommandTest::TearDown();
    }
    void startHelper()
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        ASSERT_TRUE(bus.registerObject(QStringLiteral("/"), &helper, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(bus.registerService(QFHelperConnection::serviceName()));
        ASSERT_TRUE(QFHelperConnection::runningHelper());
    }
    void stopHelper()
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(QFHelperConnection::serviceName());
        bus.unregisterObject(QStringLiteral("/"));
    }

    FakeHelper helper;
};

} // namespace

TEST_F(HelperNoticeTest, ChangesTheHelperMustSeeAreSentToARunningHelper)
{
    startHelper();
    const QString cut = home.file(QStringLiteral("Edits/Cut.prproj"));
    QFVersionStoreBuilder::addVersions(
        QFVersionStoreBuilder::addProject(cut, QStringLiteral("P1")), { { QStringLiteral("Cut.00001.prproj"), {} } });
    const QString moved = home.write(QStringLiteral("Moved/Cut.prproj"), "x");

    struct Step {
        QStringList arguments;
        int callsAfter;
    };
    const QList<Step> steps = {
        { { QStringLiteral("watch"), QStringLiteral("add"), home.file(QStringLiteral("Movies")),
              QStringLiteral("--extensions"), QStringLiteral("prproj") },
            1 },
        { { QStringLiteral("watch"), QStringLiteral("remove"), home.file(QStringLiteral("Movies")) }, 2 },
        { { QStringLiteral("prefs"), QStringLiteral("set"), QStringLiteral("backupMinInterval"), QStringLiteral("20") },
            3 },
        { { QStringLiteral("relink"), QStringLiteral("P1"), moved }, 4 },
        // Notes and versions are nothing the helper keeps.
        { { QStringLiteral("annotate"), QStringLiteral("P1"), QStringLiteral("1"), QStringLiteral("note") }, 4 },
        { { QStringLiteral("prefs"), QStringLiteral("list") }, 4 },
        { { QStringLiteral("remove"), QStringLiteral("P1") }, 5 },
        // A refused change is no change.
        { { QStringLiteral("prefs"), QStringLiteral("set"), QStringLiteral("backupMinInterval"),
              QStringLiteral("soon") },
            5 },
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.arguments.join(u' ').toStdString());
        const CommandResult r = runTombrel(step.arguments);
        EXPECT_TRUE(r.err.isEmpty() || r.status == 2) << r;
        EXPECT_EQ(helper.calls, step.callsAfter);
    }
}

TEST_F(HelperNoticeTest, AHelperThatFailsOnlyEarnsAWarning)
{
    helper.failing = true;
    startHelper();
    const CommandResult r = runTombrel(
        { QStringLiteral("prefs"), QStringLiteral("set"), QStringLiteral("takeScreenshots"), QStringLiteral("0") });
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.err,
        QStringLiteral("tombrel: the change is saved, but the helper did not take it (set-up failed); it reads it when "
                       "it next starts\n"));
    EXPECT_EQ(helper.calls, 1);
    EXPECT_EQ(runTombrel({ QStringLiteral("prefs"), QStringLiteral("get"), QStringLiteral("takeScreenshots") }).out,
        QStringLiteral("0\n"));
}

TEST_F(HelperNoticeTest, WithoutAHelperNothingFails)
{
    const CommandResult r = runTombrel({ QStringLiteral("watch"), QStringLiteral("add"),
        home.file(QStringLiteral("Movies")), QStringLiteral("--extensions"), QStringLiteral("fcp") });
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_TRUE(r.err.isEmpty()) << r;
    EXPECT_EQ(helper.calls, 0);
}

TEST_F(HelperNoticeTest, AddingAProjectTellsTheHelperTheSameWayAsEveryOtherChange)
{
    startHelper();
    const QString cut = home.write(QStringLiteral("Edits/Cut.prproj"), "x");
    CommandResult r = runTombrel({ QStringLiteral("add"), cut });
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_TRUE(r.err.isEmpty()) << r;
    EXPECT_EQ(helper.calls, 1);

    helper.failing = true;
    r = runTombrel({ QStringLiteral("add"), home.write(QStringLiteral("Edits/Trailer.prproj"), "x") });
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.err,
        QStringLiteral("tombrel: the change is saved, but the helper did not take it (set-up failed); it reads it when "
                       "it next starts\n"));
    EXPECT_EQ(helper.calls, 2);
}

#include "HelperNoticeTest.moc"
