#include "foundation/QFBugReporter.h"

#include "foundation/QFLog.h"
#include "foundation/platform/QFPropertyList.h"
#include "tests/support/QFTempHome.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <memory>

namespace {

class QFBugReporterTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        QFBugReporter::setReportOpener([this](const QString &path) { opened << path; });
        plist = home.file(QStringLiteral(".config/crashbook.plist"));
    }
    void TearDown() override { QFBugReporter::setReportOpener({}); }

    void setDates(const QDateTime &launch, const std::optional<QDateTime> &exit)
    {
        QVariantMap map { { QStringLiteral("launch"), launch } };
        if (exit)
            map.insert(QStringLiteral("exit"), *exit);
        ASSERT_TRUE(QFPropertyList::write(plist, map));
    }
    QString report(const QString &folder, const QString &name, const QDateTime &modified)
    {
        const QString path = home.write(QStringLiteral(".local/state/%1/%2").arg(folder, name), "crash");
        QFile file(path);
        file.open(QIODevice::ReadWrite);
        file.setFileTime(modified, QFileDevice::FileModificationTime);
        return path;
    }

    QString plist;
    QStringList opened;
};

const QDateTime kLaunch(QDate(2026, 12, 1), QTime(10, 0, 0), QTimeZone::utc());

} // namespace

TEST_F(QFBugReporterTest, ReportsOnlyAReportNewerThanAnUnfinishedLaunch)
{
    struct Case {
        const char *name;
        std::optional<QDateTime> exit;
        QDateTime reportTime;
        bool reported;
    };
    const Case cases[] = {
        { "newer report, no exit", std::nullopt, kLaunch.addSecs(5), true },
        { "report at the launch date", std::nullopt, kLaunch, false },
        { "older report", std::nullopt, kLaunch.addSecs(-60), false },
        { "exit after launch", kLaunch.addSecs(30), kLaunch.addSecs(5), false },
        { "exit equal to launch", kLaunch, kLaunch.addSecs(5), false },
        { "exit before launch", kLaunch.addSecs(-30), kLaunch.addSecs(5), true },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QDir(home.file(QStringLiteral(".local/state/DiagnosticReports"))).removeRecursively();
        opened.clear();
        setDates(kLaunch, c.exit);
        const QString path = report(
            QStringLiteral("DiagnosticReports"), QStringLiteral("Pro Tombrel_2026-12-01-100005.crash"), c.reportTime);
        const QString found = QFBugReporter::checkForCrashes(QStringLiteral("Pro Tombrel"), plist);
        EXPECT_EQ(found, c.reported ? path : QString());
        EXPECT_EQ(opened, c.reported ? QStringList { path } : QStringList());
    }
}

TEST_F(QFBugReporterTest, TakesTheLastReportOfTheFirstFolderWithReportsOfThisProgram)
{
    setDates(kLaunch, std::nullopt);
    report(QStringLiteral("DiagnosticReports"), QStringLiteral("other_2026-12-01-100010.crash"), kLaunch.addSecs(10));
    report(QStringLiteral("DiagnosticReports"), QStringLiteral("tombrel_2026-12-01-100001.crash"), kLaunch.addSecs(1));
    const QString last = report(
        QStringLiteral("DiagnosticReports"), QStringLiteral("Tombrel_2026-12-01-100009.crash"), kLaunch.addSecs(9));
    report(
        QStringLiteral("DiagnosticReports"), QStringLiteral("tombrelx_2026-12-01-100020.crash"), kLaunch.addSecs(20));
    EXPECT_EQ(QFBugReporter::checkForCrashes(QStringLiteral("tombrel"), plist), last);
    EXPECT_TRUE(QFBugReporter::checkForCrashes(QStringLiteral("missing"), plist).isNull());
    EXPECT_TRUE(
        QFBugReporter::checkForCrashes(QStringLiteral("tombrel"), home.file(QStringLiteral("nothing.plist"))).isNull())
        << "no launch recorded, no crash";
}

TEST_F(QFBugReporterTest, DisabledCrashReporterStillFindsButDoesNotOpen)
{
    ASSERT_TRUE(QFPropertyList::write(home.file(QStringLiteral(".config/com.quenfield.global.plist")),
        QVariantMap { { QStringLiteral("disable-crash-reporter"), QStringLiteral("1") } }));
    setDates(kLaunch, std::nullopt);
    const QString path = report(QStringLiteral("CrashReporter"), QStringLiteral("tombrel_1.crash"), kLaunch.addSecs(3));
    EXPECT_EQ(QFBugReporter::checkForCrashes(QStringLiteral("tombrel"), plist), path);
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(QFBugReporterTest, ARealCrashLeavesAReportTheNextStartFinds)
{
    const QString child = supportProgram(QStringLiteral("qf_crash_child"));
    ASSERT_FALSE(child.isEmpty());
    for (const char *how : { "segv", "abort" }) {
        SCOPED_TRACE(how);
        QDir(QFBugReporter::reportFolder()).removeRecursively();
        QFile::remove(plist);
        QProcess process;
        // In a sanitized build the crash is the program's own to report, not the sanitizer's.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (environment.contains(QStringLiteral("ASAN_OPTIONS"))) {
            environment.insert(QStringLiteral("ASAN_OPTIONS"),
                environment.value(QStringLiteral("ASAN_OPTIONS"))
                    + QStringLiteral(":allow_user_segv_handler=1:handle_segv=0:handle_abort=0"));
        }
        process.setProcessEnvironment(environment);
        process.start(child, { QStringLiteral("CrashChild"), plist, QString::fromLatin1(how) });
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitStatus(), QProcess::CrashExit);

        opened.clear();
        const QString found = QFBugReporter::checkForCrashes(QStringLiteral("CrashChild"), plist);
        ASSERT_FALSE(found.isEmpty());
        EXPECT_TRUE(QFileInfo(found).fileName().contains(
            QRegularExpression(QStringLiteral("^CrashChild_\\d{4}-\\d\\d-\\d\\d-\\d{6}\\.crash$"))));
        QFile file(found);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        EXPECT_TRUE(text.contains(QLatin1String(std::string(how) == "segv" ? "(SIGSEGV)" : "(SIGABRT)")))
            << qPrintable(text);
        EXPECT_TRUE(text.contains(QLatin1String("Backtrace:"))) << qPrintable(text);
        EXPECT_EQ(opened, QStringList { found });

        // A clean run afterwards records its exit, and the old report is not reported again.
        QFBugReporter::startBugReporter(QStringLiteral("CrashChild"), plist);
        QFBugReporter::stopBugReporter(plist);
        EXPECT_TRUE(QFBugReporter::checkForCrashes(QStringLiteral("CrashChild"), plist).isNull());
    }
}

TEST_F(QFBugReporterTest, TheDelegateHearsOfTheCrashBeforeStartingReturnsOnTheMainThreadAndLaterFromAnother)
{
    struct Listener final : QFBugReporter::Delegate {
        QStringList reports;
        QList<QThread *> threads;
        void applicationDidCrashWithLog(const QString &path) override
        {
            reports << path;
            threads << QThread::currentThread();
        }
    };
    const auto crashAgain = [&] {
        setDates(kLaunch, std::nullopt);
        return report(QStringLiteral("DiagnosticReports"), QStringLiteral("Pro Tombrel_2026-12-01-100005.crash"),
            kLaunch.addSecs(5));
    };

    Listener onMain;
    const QString first = crashAgain();
    QFBugReporter::startBugReporter(QStringLiteral("Pro Tombrel"), plist, &onMain);
    EXPECT_EQ(onMain.reports, QStringList { first }) << "before the program goes on to its caches and the helper";
    EXPECT_EQ(onMain.threads.value(0), QThread::currentThread());

    Listener fromWorker;
    const QString second = crashAgain();
    std::unique_ptr<QThread> worker(
        QThread::create([&] { QFBugReporter::startBugReporter(QStringLiteral("Pro Tombrel"), plist, &fromWorker); }));
    worker->start();
    ASSERT_TRUE(worker->wait(30000));
    EXPECT_TRUE(fromWorker.reports.isEmpty()) << "told on the main thread, not the worker's";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fromWorker.reports.isEmpty(); }, 5000));
    EXPECT_EQ(fromWorker.reports, QStringList { second });
    EXPECT_EQ(fromWorker.threads.value(0), QThread::currentThread());
}
