// The helper's job as the window writes it: after a crashed run, when projects are added where no
// service manager answers, and the sheets it shows. The application runs from a bundle in the temporary
// home whose helper is a stand-in that takes its time to end.

#include "app/AppController.h"
#include "app/MainWindow.h"
#include "app/QFActionController.h"
#include "engine/QFHelperAgent.h"
#include "foundation/QFBugReporter.h"
#include "foundation/QFLaunchd.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFRunningApplications.h"
#include "foundation/platform/QFUserDefaults.h"
#include "foundation/ui/QFAlertPresenter.h"
#include "tests/support/QFTempHome.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// The helpers started from the test's own bundle (other programs on the machine may run helpers too).
QList<qint64> helperProcesses()
{
    const QString ours = QFileInfo(QFHelperAgent::helperExecutable(QFBundle::mainBundlePath())).canonicalFilePath();
    QList<qint64> found;
    for (qint64 pid : QFRunningApplications::processIds()) {
        if (!ours.isEmpty() && QFileInfo(QFRunningApplications::executableOfProcess(pid)).canonicalFilePath() == ours)
            found << pid;
    }
    return found;
}

class HelperJobTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        qfInstallWidgetAlerts();
        QFBugReporter::setReportOpener([](const QString &) {});
        bundle = home.file(QStringLiteral("Applications/Pro Tombrel.app"));
        home.write(QStringLiteral("Applications/Pro Tombrel.app/Contents/Info.plist"),
            "<?xml version=\"1.0\"?><plist "
            "version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>com.quenfield.ProTombrel</string>"
            "<key>CFBundleName</key><string>Pro Tombrel</string><key>CFBundleExecutable</key><string>Pro "
            "Tombrel</string></dict></plist>");
        const QString program
            = home.write(QStringLiteral("Applications/Pro Tombrel.app/Contents/MacOS/Pro Tombrel"), "#!/bin/sh\n");
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString helper = QFHelperAgent::helperExecutable(bundle);
        QDir().mkpath(QFileInfo(helper).absolutePath());
        ASSERT_TRUE(QFile::copy(supportProgram(QStringLiteral("qf_slow_helper")), helper));
        QFile::setPermissions(helper, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFBundle::setMainBundlePath(bundle);
    }
    void TearDown() override
    {
        controller.reset();
        for (qint64 pid : helperProcesses())
            QFRunningApplications::forceTerminate(pid);
        QFBundle::setMainBundlePath(QString());
        QFBugReporter::setReportOpener({});
    }

    // Starts the application as its program does; spies are made before anything can happen.
    void launch()
    {
        controller = std::make_unique<AppController>(true);
        written = std::make_unique<QSignalSpy>(controller.get(), &AppController::helperJobsWritten);
        QSignalSpy shown(controller.get(), &AppController::projectListShown);
        controller->applicationDidFinishLaunching({ QStringLiteral("Pro Tombrel") });
        window = controller->mainWindow();
        ASSERT_TRUE(window);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty() && !controller->isBusy(); }, 20000));
    }
    QStringList systemctlCalls() const
    {
        QFile file(home.file(QStringLiteral("systemctl.log")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
                                              : QStringList();
    }
    // Drops a project file on the project list, as from the file manager.
    void dropProjectFile(const QString &path)
    {
        QSignalSpy finished(controller->actions(), &QFActionController::commandFinished);
        QWidget *list = window->projectTable()->viewport();
        QMimeData data;
        data.setUrls({ QUrl::fromLocalFile(path) });
        const QPoint at = list->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(list, &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(list, &drop);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                for (const QList<QVariant> &call : finished)
                    if (call.value(0).toString() == QStringLiteral("addProjects"))
                        return true;
                return false;
            },
            10000))
            << "the project was not added: " << qPrintable(home.logMessages(QFBundle::executableName()).join(u'\n'));
    }
    // The message box shown next: whether it is a sheet of the main window; OK is pressed.
    bool nextMessageIsASheetOfTheWindow(QString *title)
    {
        QMessageBox *box = nullptr;
        if (!QTest::qWaitFor(
                [&] {
                    return (box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) && box->isVisible();
                },
                10000))
            return false;
        *title = box->text();
        const bool sheet = box->parentWidget() == window && box->windowModality() == Qt::WindowModal;
        QTest::mouseClick(box->buttons().value(0), Qt::LeftButton);
        return sheet;
    }

    QString bundle;
    std::unique_ptr<AppController> controller;
    std::unique_ptr<QSignalSpy> written;
    MainWindow *window = nullptr;
};

} // namespace

TEST_F(HelperJobTest, AfterACrashedRunTheCachesGoAndTheRunningHelpersJobIsWrittenAgain)
{
    QFVersionStoreBuilder::addProject(home.file(QStringLiteral("Videos/Cut.kdenlive")), QStringLiteral("CUT"));
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false } });
    // The job as the crashed run left it, and its helper still running.
    ASSERT_TRUE(
        QFLaunchd::startJob(QString::fromLatin1(QFHelperAgent::kHelperJob), QFHelperAgent::helperJob(bundle), false));
    ASSERT_TRUE(QFHelperAgent::startHelperDirectly(bundle));
    ASSERT_TRUE(QTest::qWaitFor([] { return !helperProcesses().isEmpty(); }, 10000));
    const QList<qint64> old = helperProcesses();
    // That run recorded its launch, never its exit, and left a crash report.
    QFUserDefaults &defaults = QFUserDefaults::standard();
    ASSERT_TRUE(defaults.setObject(QStringLiteral("launch"), QDateTime::currentDateTimeUtc().addSecs(-600)));
    defaults.removeObject(QStringLiteral("exit"));
    home.write(
        QStringLiteral(".local/state/DiagnosticReports/Pro Tombrel_2026-01-01-120000.crash"), "Signal: 11 (SIGSEGV)\n");
    // A cache no population of this run writes again.
    const QString stale = home.write(
        QStringLiteral(".local/share/Quenfield/Pro Tombrel/Caches/GONE.localized.cache.plist"), "<plist/>");
    ASSERT_TRUE(
        stale.startsWith(QFLocalPaths::appSupportDirectory(true) + QStringLiteral("/Quenfield/Pro Tombrel/Caches/")));
    QFile::remove(home.file(QStringLiteral("systemctl.log")));

    launch();
    EXPECT_FALSE(QFileInfo::exists(stale)) << "the caches were not trashed";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !written->isEmpty(); }, 20000)) << "the job was not written again";
    EXPECT_TRUE(systemctlCalls().contains(QStringLiteral("--user restart com.quenfield.ProTombrel.service")))
        << qPrintable(systemctlCalls().join(u'\n'));
    for (qint64 pid : old)
        EXPECT_FALSE(QFRunningApplications::isRunning(pid)) << "the helper of the crashed run was restarted";
    QStringList log;
    const QRegularExpression populating(QStringLiteral("Populating changelist for project: .*"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return (log = home.logMessages(QFBundle::executableName())).indexOf(populating) >= 0; }, 10000))
        << qPrintable(log.join(u'\n'));
    const qsizetype trashed = log.indexOf(QStringLiteral("Application crashed last time it ran - trashing caches..."));
    EXPECT_GE(trashed, 0) << qPrintable(log.join(u'\n'));
    EXPECT_LT(trashed, log.indexOf(populating)) << "before any cache is read";
}

TEST_F(HelperJobTest, AddingProjectsWhereNoServiceManagerAnswersNeverLeavesTheUserWithoutAHelper)
{
    home.write(QStringLiteral("no-manager"), "");
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false }, { "watchFolders", QVariantList() } });
    ASSERT_TRUE(QFHelperAgent::startHelperDirectly(bundle));
    ASSERT_TRUE(QTest::qWaitFor([] { return !helperProcesses().isEmpty(); }, 10000));
    launch();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !written->isEmpty(); }, 20000));

    // The first project: the job is written, the old helper ends and a new one takes over.
    const QList<qint64> before = helperProcesses();
    ASSERT_FALSE(before.isEmpty());
    written->clear();
    dropProjectFile(home.write(QStringLiteral("Videos/First.kdenlive"), "<mlt/>"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !written->isEmpty(); }, 20000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller->isBusy(); }, 20000));
    const QList<qint64> after = helperProcesses();
    ASSERT_EQ(after.size(), 1) << "the user was left without a helper";
    EXPECT_FALSE(before.contains(after.first()));

    // The second project changes nothing the helper's job holds: the helper goes on as it is.
    const int callsBefore = int(systemctlCalls().size());
    dropProjectFile(home.write(QStringLiteral("Videos/Second.kdenlive"), "<mlt/>"));
    EXPECT_EQ(controller->projectList().size(), 2);
    EXPECT_FALSE(QTest::qWaitFor(
        [&] { return systemctlCalls().size() > callsBefore || !QFRunningApplications::isRunning(after.first()); },
        2000))
        << "the job was written again for the second project";
    EXPECT_EQ(helperProcesses(), after);
}

TEST_F(HelperJobTest, TheHelpersSheetsAreSheetsOfTheMainWindow)
{
    QFVersionStoreBuilder::addProject(home.file(QStringLiteral("Videos/Cut.kdenlive")), QStringLiteral("CUT"));
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false } });
    QFile::remove(QFHelperAgent::helperExecutable(bundle));
    launch();
    // At start-up the helper is not running and its program is missing.
    QString title;
    EXPECT_TRUE(nextMessageIsASheetOfTheWindow(&title));
    EXPECT_EQ(title, QStringLiteral("Error - unable to locate helper application"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !written->isEmpty(); }, 20000));

    // So from the menu.
    window->relaunchHelperAction()->trigger();
    EXPECT_TRUE(nextMessageIsASheetOfTheWindow(&title));
    EXPECT_EQ(title, QStringLiteral("Error - unable to locate helper application"));
    EXPECT_TRUE(nextMessageIsASheetOfTheWindow(&title));
    EXPECT_EQ(title, QStringLiteral("Unable to relaunch the helper"));
}

TEST_F(HelperJobTest, RelaunchingWithNothingToWatchStartsNoHelperAndSaysWhy)
{
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false }, { "watchFolders", QVariantList() } });
    launch();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !written->isEmpty(); }, 20000));
    written->clear();
    window->relaunchHelperAction()->trigger();
    QString title;
    EXPECT_TRUE(nextMessageIsASheetOfTheWindow(&title));
    EXPECT_EQ(title, QStringLiteral("Nothing to watch"));
    EXPECT_FALSE(QFile::exists(QFLaunchd::serviceFile(QString::fromLatin1(QFHelperAgent::kHelperJob))));
    EXPECT_TRUE(helperProcesses().isEmpty());
}
