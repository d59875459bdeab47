// The main window answers its keys while a removal waits for the administrator and the Secret Service
// takes its time over the Dropbox token: neither runs on the window's thread, and both report afterwards.

#include "app/AppController.h"
#include "app/MainWindow.h"
#include "app/QFActionController.h"
#include "app/QFOutlineView.h"
#include "engine/QFDropboxAccount.h"
#include "engine/QFDropboxKeychain.h"
#include "engine/QFDropboxSync.h"
#include "foundation/QFAuthorization.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/ui/QFAlertPresenter.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/QFFrozenFolder.h"
#include "tests/support/QFSyncTestSupport.h"
#include "tests/support/QFTempHome.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QLineEdit>
#include <QListView>
#include <QMutex>
#include <QProcess>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace {

class WindowResponsivenessTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        qfInstallWidgetAlerts();
        ASSERT_TRUE(fake.listen());
        // The Secret Service answers each question only when let.
        QFDropboxKeychain::setBackend([this](QFDropboxKeychain::Operation, const QString &) {
            {
                QMutexLocker locked(&m_lock);
                ++m_keychainAsked;
            }
            m_keychainAnswers.acquire();
            return QFDropboxKeychain::Result { true, m_refreshToken, {} };
        });
        // The administrator's removal is started and does its work when let.
        QFLocalPaths::setRootOverride(true);
        QFAuthorization::sharedController()->setCommandRunner(
            [this](const QString &program, const QStringList &arguments, bool) {
                QMutexLocker locked(&m_lock);
                m_administratorAsked << (QStringList { program } + arguments).join(u' ');
                m_administratorCommands << (QStringList { program } + arguments);
                return 0;
            });
    }
    void TearDown() override
    {
        m_keychainAnswers.release(100);
        controller.reset();
        QFDropboxKeychain::setBackend({});
        QFAuthorization::sharedController()->setCommandRunner({});
        QFLocalPaths::setRootOverride(std::nullopt);
    }

    void launch()
    {
        controller = std::make_unique<AppController>(true);
        QSignalSpy shown(controller.get(), &AppController::projectListShown);
        QSignalSpy populated(controller.get(), &AppController::versionListPopulated);
        controller->applicationDidFinishLaunching({ QStringLiteral("Pro Tombrel") });
        window = controller->mainWindow();
        ASSERT_TRUE(window);
        window->resize(1180, 760);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty(); }, 10000));
        // The selected project's versions are listed.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                for (const QList<QVariant> &call : populated)
                    if (call.value(0).toString() == controller->selectedProjectFolder())
                        return true;
                return false;
            },
            20000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !controller->isBusy(); }, 20000));
    }
    void linkThroughTheSecretService()
    {
        // Sync stays off, so nothing but this test asks for the token.
        synctest::pointAtFake(fake, 0);
        m_refreshToken = fake.addRefreshToken();
        const QString record = synctest::linkRecordPath();
        QDir().mkpath(QFileInfo(record).absolutePath());
        QFile file(record);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(R"({ "account_id": "dbid:test", "store": "Secret Service" })");
        file.close();
        ASSERT_EQ(QFDropboxAccount::tokenStorage(), QStringLiteral("Secret Service"));
    }
    QStringList projectNames() const
    {
        QStringList names;
        QAbstractItemModel *model = window->projectTable()->model();
        for (int row = 0; row < model->rowCount(); ++row)
            names << model->index(row, 0).data().toString();
        return names;
    }
    QString selectedProjectName() const { return window->projectTable()->currentIndex().data().toString(); }
    int keychainAsked()
    {
        QMutexLocker locked(&m_lock);
        return m_keychainAsked;
    }
    QStringList administratorAsked()
    {
        QMutexLocker locked(&m_lock);
        return m_administratorAsked;
    }
    // Does what the administrator was asked, the folder let through for it.
    void actAsAdministrator(FrozenFolder &folder)
    {
        QList<QStringList> commands;
        {
            QMutexLocker locked(&m_lock);
            commands = m_administratorCommands;
        }
        for (const QStringList &command : commands)
            EXPECT_EQ(folder.whileThawed([&] { return QProcess::execute(command.first(), command.mid(1)); }), 0)
                << qPrintable(command.join(u' '));
    }

    QFFakeDropbox fake;
    std::unique_ptr<AppController> controller;
    MainWindow *window = nullptr;
    QSemaphore m_keychainAnswers;

private:
    QMutex m_lock;
    int m_keychainAsked = 0;
    QStringList m_administratorAsked;
    QList<QStringList> m_administratorCommands;
    QString m_refreshToken;
};

} // namespace

TEST_F(WindowResponsivenessTest, KeysAreHandledWhileARemovalAndAKeychainLookUpTakeTheirTime)
{
    const QString wedding = apptest::buildSampleStore(home.path());
    QFVersionStoreBuilder::setPreferences({ { "lastProjectID", "WEDDING" }, { "firstRun", false } });
    linkThroughTheSecretService();
    // A Versions folder the user may not change: removing its oldest version needs the administrator.
    const QString oldest = wedding + QStringLiteral("/Versions/Wedding Cut.00001.fcp");
    ASSERT_TRUE(QFileInfo::exists(oldest));
    FrozenFolder versions(QFileInfo(oldest).absolutePath());
    if (!versions.frozen())
        GTEST_SKIP() << "this file system lets the folder be written whatever its mode";
    launch();
    ASSERT_EQ(selectedProjectName(), QStringLiteral("Wedding Cut"));

    std::optional<bool> removed;
    QFFileManager::removeFileAsync(oldest, 60, window, [&](bool ok) { removed = ok; });
    std::optional<bool> refreshed;
    QString refusal;
    QFDropboxSync::shared()->account()->refreshAccessToken([&](bool ok, int status, const QString &error) {
        refreshed = ok;
        refusal = QStringLiteral("%1 %2").arg(status).arg(error);
    });
    // Both are under way and waiting: the administrator's removal started, the Secret Service asked.
    ASSERT_TRUE(QTest::qWaitFor([&] { return administratorAsked().size() == 1 && keychainAsked() == 1; }, 10000));

    // The window takes keys meanwhile: the selection moves up the project list, the search takes what
    // is typed and the list follows it.
    QListView *projects = window->projectTable();
    projects->setFocus();
    QTest::keyClick(projects, Qt::Key_Up);
    ASSERT_TRUE(QTest::qWaitFor([&] { return selectedProjectName() == QStringLiteral("Trailer"); }, 5000))
        << qPrintable(selectedProjectName());
    QTest::keyClicks(window->projectSearchField(), QStringLiteral("mix"));
    EXPECT_EQ(window->projectSearchField()->text(), QStringLiteral("mix"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return projectNames() == QStringList { QStringLiteral("Podcast Mix") }; }, 5000))
        << qPrintable(projectNames().join(u", "));
    EXPECT_FALSE(removed.has_value());
    EXPECT_FALSE(refreshed.has_value());

    // The Secret Service answers: the token is exchanged for access at the service.
    m_keychainAnswers.release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return refreshed.has_value(); }, 10000));
    EXPECT_TRUE(*refreshed) << qPrintable(refusal);
    EXPECT_FALSE(QFDropboxSync::shared()->account()->accessToken().isEmpty());
    EXPECT_FALSE(removed.has_value());

    // The administrator removes the version: the removal sees it gone and reports.
    versions.whileThawed([&] { return QFile::remove(oldest); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return removed.has_value(); }, 10000));
    EXPECT_TRUE(*removed);
    EXPECT_TRUE(administratorAsked().first().startsWith(QStringLiteral("/bin/rm -Rdf -- ")))
        << qPrintable(administratorAsked().first());
}

TEST_F(WindowResponsivenessTest, MovingAVersionTheUserMayNotChangeToTheTrashLeavesTheWindowAnswering)
{
    apptest::buildSampleStore(home.path());
    QFVersionStoreBuilder::setPreferences({ { "lastProjectID", "PODCAST" }, { "firstRun", false } });
    launch();
    ASSERT_EQ(selectedProjectName(), QStringLiteral("Podcast Mix"));
    const QString versionsFolder = controller->selectedProjectFolder() + QStringLiteral("/Versions");
    auto versions = std::make_optional<FrozenFolder>(versionsFolder);
    if (!versions->frozen())
        GTEST_SKIP() << "this file system lets the folder be written whatever its mode";

    // Delete on the newest version, and Remove on the question: the move waits for the administrator.
    QFOutlineView *outline = window->versionOutline();
    const QModelIndex newest = outline->model()->index(0, 0);
    ASSERT_TRUE(newest.isValid());
    QTest::mouseClick(outline->viewport(), Qt::LeftButton, {}, outline->visualRect(newest).center());
    ASSERT_EQ(outline->currentIndex().row(), 0);
    QSignalSpy finished(controller->actions(), &QFActionController::commandFinished);
    QTest::keyClick(outline, Qt::Key_Delete);
    EXPECT_EQ(apptest::answerSheet(QStringLiteral("Remove")).value(0),
        QStringLiteral("Are you sure you wish to remove this backup?"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return administratorAsked().size() == 1; }, 10000));
    EXPECT_TRUE(administratorAsked().first().startsWith(QStringLiteral("/bin/mv ")))
        << qPrintable(administratorAsked().first());

    // Meanwhile the window takes keys: the selection moves down the project list, the search takes text.
    QListView *projects = window->projectTable();
    projects->setFocus();
    QTest::keyClick(projects, Qt::Key_Down);
    ASSERT_TRUE(QTest::qWaitFor([&] { return selectedProjectName() == QStringLiteral("Trailer"); }, 5000))
        << qPrintable(selectedProjectName());
    QTest::keyClicks(window->projectSearchField(), QStringLiteral("wedding"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return projectNames() == QStringList { QStringLiteral("Wedding Cut") }; }, 5000))
        << qPrintable(projectNames().join(u", "));
    EXPECT_TRUE(finished.isEmpty());

    // The administrator moves it: the command ends, and the version is gone from its folder. The folder
    // may be changed again before the window hears of it, so the version list is read as usual.
    actAsAdministrator(*versions);
    versions.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !finished.isEmpty(); }, 15000));
    EXPECT_EQ(finished.first().value(0).toString(), QStringLiteral("deleteBackup"));
    EXPECT_EQ(QDir(versionsFolder).entryList(QDir::Files), QStringList { QStringLiteral("Podcast Mix.00001.sesx") });
}
