// A folder dropped on the project list is searched with the walk and the package rule the helper searches
// its watch folders with, so the window and the helper find the same projects in it.

#include "app/AppController.h"
#include "app/MainWindow.h"
#include "engine/QFProject.h"
#include "foundation/platform/QFPropertyList.h"
#include "foundation/ui/QFAlertPresenter.h"
#include "tests/support/QFTempHome.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDropEvent>
#include <QListView>
#include <QMimeData>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QUuid>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

class FolderDropTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        qfInstallWidgetAlerts();
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());
        const QString built = qEnvironmentVariable("QF_BUNDLE_DIR")
            + QStringLiteral("/Contents/MacOS/ProTombrelHelper.app/Contents/MacOS/ProTombrelHelper");
        ASSERT_TRUE(QFile::exists(built)) << qPrintable(built);
        // A copy with an identifier of its own, so that it never meets a helper running outside this test.
        const QString bundle = home.file(QStringLiteral("Pro Tombrel.app/Contents/MacOS/ProTombrelHelper.app"));
        QDir().mkpath(bundle + QStringLiteral("/Contents/MacOS"));
        helperExecutable = bundle + QStringLiteral("/Contents/MacOS/ProTombrelHelper");
        ASSERT_TRUE(QFile::copy(built, helperExecutable));
        ASSERT_TRUE(QFPropertyList::write(bundle + QStringLiteral("/Contents/Info.plist"),
            QVariantMap { { "CFBundleIdentifier",
                              QStringLiteral("com.quenfield.ProTombrelHelper.test-")
                                  + QUuid::createUuid().toString(QUuid::WithoutBraces) },
                { "CFBundleName", "ProTombrelHelper" }, { "CFBundleExecutable", "ProTombrelHelper" } }));
    }
    void TearDown() override
    {
        controller.reset();
        stopHelper();
    }

    void stopHelper()
    {
        if (helper.state() == QProcess::NotRunning)
            return;
        helper.terminate();
        if (!helper.waitForFinished(15000)) {
            helper.kill();
            helper.waitForFinished(5000);
        }
    }
    QStringList helperLog() const { return home.logMessages(QStringLiteral("ProTombrelHelper")); }

    // The project files of the store, sorted.
    static QStringList storedProjects()
    {
        QStringList paths;
        for (const QFProjectListEntry &entry : QFProject::projectsInStorageRoot())
            paths << entry.path;
        paths.sort();
        return paths;
    }
    static bool hasFirstVersion(const QString &projectPath)
    {
        for (const QFProjectListEntry &entry : QFProject::projectsInStorageRoot()) {
            if (entry.path == projectPath)
                return !QFVersionStoreBuilder::versionNames(
                    QFProject::storageRoot() + u'/' + entry.projectID + QStringLiteral(".localized"))
                            .isEmpty();
        }
        return false;
    }

    void dropOnProjectList(const QString &path)
    {
        QListView *table = controller->mainWindow()->projectTable();
        QMimeData data;
        data.setUrls({ QUrl::fromLocalFile(path) });
        const QPoint at = table->viewport()->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(table->viewport(), &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(table->viewport(), &dropped);
    }
    QDialog *importSheet() const
    {
        for (QDialog *dialog : controller->mainWindow()->findChildren<QDialog *>(QStringLiteral("importSheet"))) {
            if (dialog->isVisible())
                return dialog;
        }
        return nullptr;
    }

    QString helperExecutable;
    QProcess helper;
    std::unique_ptr<AppController> controller;
};

} // namespace

TEST_F(FolderDropTest, ADroppedEventFolderYieldsTheProjectsTheHelperFindsInIt)
{
    // An event folder as the editor leaves it: its CurrentVersion file, its media, a project folder and a
    // library inside it, and the editor's backups.
    const QString event = home.file(QStringLiteral("Movies/Wedding.fcpevent"));
    const QStringList projects = {
        home.write(QStringLiteral("Movies/Wedding.fcpevent/CurrentVersion.fcpevent"), "event"),
        home.write(
            QStringLiteral("Movies/Wedding.fcpevent/Library.fcpbundle/Day 1/CurrentVersion.fcpevent"), "library"),
        home.write(QStringLiteral("Movies/Wedding.fcpevent/Trailer.fcpproject/CurrentVersion.fcpproject"), "project"),
    };
    home.write(QStringLiteral("Movies/Wedding.fcpevent/Original Media/clip.mov"), "media");
    home.write(QStringLiteral("Movies/Wedding.fcpevent/Backups/CurrentVersion.fcpevent"), "old");
    home.write(
        QStringLiteral("Movies/Wedding.fcpevent/Plugin.app/Contents/CurrentVersion.fcpevent"), "inside a package");
    const QString types = QStringLiteral("fcpevent,fcpproject");

    // The helper's search of the folder as a watch folder; its first versions come once the search is over.
    QVariantMap watched { { "folder", event }, { "extensions", types } };
    QFVersionStoreBuilder::setPreferences(
        { { "firstRun", false }, { "takeScreenshots", 0 }, { "watchFolders", QVariantList { watched } } });
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        environment.remove(QString::fromLatin1(name));
    helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    helper.setProcessEnvironment(environment);
    helper.start(helperExecutable, {});
    ASSERT_TRUE(helper.waitForStarted(10000));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return std::all_of(projects.cbegin(), projects.cend(), hasFirstVersion); }, 60000))
        << qPrintable(helperLog().join(u'\n'));
    const QStringList found = storedProjects();
    EXPECT_EQ(found, projects);
    stopHelper();
    ASSERT_TRUE(QDir(QFProject::storageRoot()).removeRecursively());

    // The window: the folder dropped on the project list and imported with the same types.
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false }, { "watchFolders", QVariantList() },
        { "importFolderAction", 1 }, { "importFileTypes", types }, { "importSubdirs", 1 } });
    controller = std::make_unique<AppController>(true);
    QSignalSpy shown(controller.get(), &AppController::projectListShown);
    controller->applicationDidFinishLaunching({ QStringLiteral("Pro Tombrel") });
    ASSERT_TRUE(controller->mainWindow());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller->mainWindow()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty() && !controller->isBusy(); }, 20000));
    dropOnProjectList(event);
    QDialog *sheet = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (sheet = importSheet()) != nullptr; }, 5000))
        << "a dropped event folder is a folder to import";
    QPushButton *import = nullptr;
    for (QAbstractButton *button : sheet->findChild<QDialogButtonBox *>()->buttons()) {
        if (button->text() == QStringLiteral("Import"))
            import = qobject_cast<QPushButton *>(button);
    }
    ASSERT_TRUE(import);
    QTest::mouseClick(import, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return controller->projectList().size() >= found.size() && !controller->isBusy(); }, 20000));
    QStringList added;
    for (const QFProject &project : controller->projectList())
        added << project.expandedProjectPath();
    added.sort();
    EXPECT_EQ(added, found);
    EXPECT_EQ(storedProjects(), found);
}
