// The window's commands whose work takes time run away from the window: while a removal waits for the
// administrator the window takes keys, the command is disabled and refuses a second start, and its end
// arrives by signal; logs are gathered one gathering at a time.

#include "app/AppController.h"
#include "app/MainWindow.h"
#include "app/QFActionController.h"
#include "app/QFOutlineView.h"
#include "engine/QFPreferenceKeys.h"
#include "foundation/QFAuthorization.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/ui/QFAlertPresenter.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/QFFrozenFolder.h"
#include "tests/support/QFTempHome.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QMutex>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

namespace {

class ActionQueueTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        qfInstallWidgetAlerts();
        // The administrator's command is started from whichever thread asks, and returns when let.
        QFLocalPaths::setRootOverride(true);
        QFAuthorization::sharedController()->setCommandRunner(
            [this](const QString &program, const QStringList &arguments, bool) {
                {
                    QMutexLocker locked(&m_lock);
                    m_asked << (QStringList { program } + arguments).join(u' ');
                    m_askedOnMainThread = m_askedOnMainThread || QThread::currentThread() == qApp->thread();
                }
                // Bounded, so that a command run on the window's thread fails the test instead of hanging it.
                return m_answers.tryAcquire(1, 20000) ? 0 : 1;
            });
    }
    void TearDown() override
    {
        m_answers.release(100);
        controller.reset();
        QFAuthorization::sharedController()->setCommandRunner({});
        QFLocalPaths::setRootOverride(std::nullopt);
    }

    void launch()
    {
        QFPreferenceKeys::update({ { QStringLiteral("firstRun"), false } });
        controller = std::make_unique<AppController>(true);
        QSignalSpy shown(controller.get(), &AppController::projectListShown);
        controller->applicationDidFinishLaunching({ QStringLiteral("Pro Tombrel") });
        window = controller->mainWindow();
        ASSERT_TRUE(window);
        window->resize(1180, 760);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty() && !controller->isBusy(); }, 20000));
        actions = controller->actions();
        ASSERT_TRUE(actions);
    }
    void chooseProject(const QString &name)
    {
        QListView *table = window->projectTable();
        for (int row = 0; row < table->model()->rowCount(); ++row) {
            const QModelIndex index = table->model()->index(row, 0);
            if (index.data().toString() == name) {
                QTest::mouseClick(
                    table->viewport(), Qt::LeftButton, {}, table->visualRect(index).topLeft() + QPoint(20, 10));
                ASSERT_TRUE(QTest::qWaitFor(
                    [&] { return !controller->isBusy() && controller->versionList().size() > 0; }, 20000));
                return;
            }
        }
        ADD_FAILURE() << "no project " << name.toStdString();
    }
    QString projectWithVersions(const QString &name, int n)
    {
        const QString folder = QFVersionStoreBuilder::addProject(
            home.file(QStringLiteral("Videos/%1.kdenlive").arg(name)), name.toUpper());
        QList<VersionSpec> list;
        for (int i = 1; i <= n; ++i)
            list << VersionSpec { QStringLiteral("%1.%2.kdenlive").arg(name).arg(i, 5, 10, QLatin1Char('0')),
                QDateTime::currentDateTime().addSecs(-3600 * (n + 1 - i)), QByteArray::number(i) };
        QFVersionStoreBuilder::addVersions(folder, list);
        return folder;
    }
    QAction *menuAction(const QString &name) const { return window->findChild<QAction *>(name); }
    QStringList asked()
    {
        QMutexLocker locked(&m_lock);
        return m_asked;
    }
    bool askedOnMainThread()
    {
        QMutexLocker locked(&m_lock);
        return m_askedOnMainThread;
    }

    std::unique_ptr<AppController> controller;
    MainWindow *window = nullptr;
    QFActionController *actions = nullptr;
    QSemaphore m_answers;

private:
    QMutex m_lock;
    QStringList m_asked;
    bool m_askedOnMainThread = false;
};

} // namespace

TEST_F(ActionQueueTest, ARemovalWaitingForTheAdministratorLeavesTheWindowAnsweringAndCannotStartTwice)
{
    const QString reel = projectWithVersions(QStringLiteral("Reel"), 3);
    projectWithVersions(QStringLiteral("Other"), 1);
    // Versions the user may not move to the Trash: the administrator has to.
    FrozenFolder versions(reel + QStringLiteral("/Versions"));
    if (!versions.frozen())
        GTEST_SKIP() << "this file system lets the folder be written whatever its mode";
    launch();
    chooseProject(QStringLiteral("Reel"));
    QFOutlineView *outline = window->versionOutline();
    outline->setCurrentIndex(outline->model()->index(0, 0));
    const QString newest = reel + QStringLiteral("/Versions/Reel.00003.kdenlive");

    QSignalSpy finished(actions, &QFActionController::commandFinished);
    menuAction(QStringLiteral("deleteBackup"))->trigger();
    EXPECT_EQ(apptest::answerSheet(QStringLiteral("Remove")).value(0),
        QStringLiteral("Are you sure you wish to remove this backup?"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return asked().size() == 1; }, 10000));
    EXPECT_FALSE(askedOnMainThread());

    // The window takes keys while the administrator is asked.
    QTest::keyClicks(window->projectSearchField(), QStringLiteral("Re"));
    EXPECT_EQ(window->projectSearchField()->text(), QStringLiteral("Re"));
    EXPECT_TRUE(window->isEnabled());
    // The command is off until its work has ended, and asking for it again asks nothing.
    EXPECT_FALSE(menuAction(QStringLiteral("deleteBackup"))->isEnabled());
    actions->deleteBackup();
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(finished.isEmpty());

    // The administrator moves the version away; the command reports by signal and is on again.
    versions.whileThawed([&] { return QFile::remove(newest); });
    m_answers.release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !finished.isEmpty(); }, 10000));
    EXPECT_EQ(finished.first().first().toString(), QStringLiteral("deleteBackup"));
    EXPECT_TRUE(menuAction(QStringLiteral("deleteBackup"))->isEnabled());
    EXPECT_EQ(asked().size(), 1);
    EXPECT_FALSE(QFileInfo::exists(newest));
}

TEST_F(ActionQueueTest, RemovingAProjectRunsAwayFromTheWindowAndEndsBySignal)
{
    projectWithVersions(QStringLiteral("Alpha"), 2);
    const QString beta = projectWithVersions(QStringLiteral("Beta"), 1);
    launch();
    chooseProject(QStringLiteral("Beta"));
    // The store's folder the user may not change (from now on: a store that is not writable at start-up
    // is made so): the project folder goes to the Trash as the administrator.
    FrozenFolder projects(QFileInfo(beta).absolutePath());
    if (!projects.frozen())
        GTEST_SKIP() << "this file system lets the folder be written whatever its mode";

    QSignalSpy finished(actions, &QFActionController::commandFinished);
    menuAction(QStringLiteral("removeFile"))->trigger();
    EXPECT_EQ(apptest::answerSheet(QStringLiteral("Remove")).value(0),
        QStringLiteral("Are you sure you wish to remove this project?"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !asked().isEmpty(); }, 10000));
    EXPECT_FALSE(askedOnMainThread());
    QTest::keyClicks(window->versionSearchField(), QStringLiteral("x"));
    EXPECT_EQ(window->versionSearchField()->text(), QStringLiteral("x"));
    EXPECT_FALSE(menuAction(QStringLiteral("removeFile"))->isEnabled());
    EXPECT_TRUE(finished.isEmpty());

    projects.whileThawed([&] { return QDir(beta).removeRecursively(); });
    m_answers.release(10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !finished.isEmpty(); }, 10000));
    EXPECT_EQ(finished.first().first().toString(), QStringLiteral("removeFile"));
    EXPECT_TRUE(menuAction(QStringLiteral("removeFile"))->isEnabled());
    EXPECT_EQ(controller->projectList().size(), 1);
}

TEST_F(ActionQueueTest, GatheringLogsIsOneAtATimeAndTrashingTheCachesEndsBySignal)
{
    launch();
    home.write(QStringLiteral(".local/state/Quenfield/Pro Tombrel.1.log"), "started\n");
    QSignalSpy finished(actions, &QFActionController::commandFinished);
    QAction *gather = menuAction(QStringLiteral("gatherLogs"));
    gather->trigger();
    // Under way: the command is off, and giving it again starts nothing more.
    EXPECT_FALSE(gather->isEnabled());
    actions->gatherLogs();
    EXPECT_EQ(apptest::answerSheet(),
        QStringList({ "Logs gathered successfully", "The gathered logs were placed on your desktop." }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !finished.isEmpty(); }, 10000));
    EXPECT_EQ(finished.first().first().toString(), QStringLiteral("gatherLogs"));
    EXPECT_TRUE(gather->isEnabled());
    EXPECT_EQ(
        QDir(home.file(QStringLiteral("Desktop"))).entryList(QDir::Files), QStringList({ "Pro Tombrel Logs.zip" }));
    QCoreApplication::processEvents();
    EXPECT_EQ(finished.size(), 1);

    finished.clear();
    const QString caches = QFLocalPaths::appSupportDirectory(true) + QStringLiteral("/Quenfield/Pro Tombrel/Caches");
    ASSERT_TRUE(QDir().mkpath(caches));
    QFile cache(caches + QStringLiteral("/EDIT.plist"));
    ASSERT_TRUE(cache.open(QIODevice::WriteOnly));
    cache.close();
    menuAction(QStringLiteral("trashCaches"))->trigger();
    apptest::answerSheet(QStringLiteral("Trash"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !finished.isEmpty(); }, 10000));
    EXPECT_EQ(finished.first().first().toString(), QStringLiteral("trashCaches"));
    EXPECT_FALSE(QFileInfo::exists(caches));
}
