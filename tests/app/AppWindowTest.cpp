// The main window as a user meets it: projects, versions, the screenshot strip and their keys and clicks.

#include "app/AppController.h"
#include "app/MainWindow.h"
#include "app/QFActionController.h"
#include "app/QFDropboxRestoreController.h"
#include "app/QFPrefController.h"
#include "app/QFCoverFlowView.h"
#include "app/QFOutlineView.h"
#include "app/QFPrint.h"
#include "app/QFProgressSheet.h"
#include "app/QFVersionListModel.h"
#include "engine/QFChangeLines.h"
#include "foundation/QFAppleEvents.h"
#include "foundation/QFHelperConnection.h"
#include "foundation/QFNotificationCenter.h"
#include "foundation/platform/QFPropertyList.h"
#include "foundation/ui/QFAlertPresenter.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/QFTempHome.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QLocale>
#include <QMenu>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTreeWidget>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QDialogButtonBox>
#include <QListView>
#include <QListWidget>
#include <QToolBar>
#include <QProcess>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QStyleFactory>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

class AppWindowTest : public TempHomeTest {
protected:
    void TearDown() override { controller.reset(); }

    // Starts the application as its program does and waits until the selected project's versions show.
    void launch(const QStringList &arguments = { QStringLiteral("Pro Tombrel") })
    {
        controller = std::make_unique<AppController>(true);
        QSignalSpy populated(controller.get(), &AppController::versionListPopulated);
        QSignalSpy shown(controller.get(), &AppController::projectListShown);
        controller->applicationDidFinishLaunching(arguments);
        window = controller->mainWindow();
        ASSERT_TRUE(window);
        window->resize(1180, 760);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty(); }, 10000));
        if (!controller->projectList().isEmpty()) {
            ASSERT_TRUE(waitForVersions(populated));
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return !controller->isBusy(); }, 20000));
    }
    bool waitForVersions(QSignalSpy &populated)
    {
        const QString selected = controller->selectedProjectFolder();
        return QTest::qWaitFor(
            [&] {
                for (const QList<QVariant> &call : populated)
                    if (call.value(0).toString() == selected)
                        return true;
                return false;
            },
            20000);
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
    void clickProject(const QString &name)
    {
        QListView *table = window->projectTable();
        for (int row = 0; row < table->model()->rowCount(); ++row) {
            const QModelIndex index = table->model()->index(row, 0);
            if (index.data().toString() == name) {
                QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(index).center());
                return;
            }
        }
        ADD_FAILURE() << "no project " << name.toStdString();
    }
    // Clicks the button of that title in the message box the application shows next.
    static void answerNextMessage(const QString &button)
    {
        QTimer::singleShot(0, [button] {
            QMessageBox *box = nullptr;
            if (!QTest::qWaitFor(
                    [&] {
                        box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                        return box && box->isVisible();
                    },
                    5000)) {
                ADD_FAILURE() << "no message box";
                return;
            }
            for (QAbstractButton *candidate : box->buttons()) {
                if (candidate->text() == button) {
                    QTest::mouseClick(candidate, Qt::LeftButton);
                    return;
                }
            }
            ADD_FAILURE() << "no button " << button.toStdString();
        });
    }
    // The editor on the bus answers every export with a sample project.
    void startEditor(QProcess &editor)
    {
        home.write(QStringLiteral("editor/open.txt"), "\n");
        home.write(QStringLiteral("editor/eXML.xml"), apptest::xmlFixture(QStringLiteral("fcp_sample.xml")));
        home.write(QStringLiteral("editor/gXML.xml"), apptest::xmlFixture(QStringLiteral("fcp_sample.xml")));
        editor.start(supportProgram(QStringLiteral("qf_fake_editor")),
            { QStringLiteral("--state"), home.file(QStringLiteral("editor")) });
        ASSERT_TRUE(editor.waitForStarted(10000));
        ASSERT_TRUE(QTest::qWaitFor([] { return QFAppleEvents::isFCPRunning(); }, 10000));
        QFAppleEvents::setReplyTimeout(10000);
    }
    static void stopEditor(QProcess &editor)
    {
        QFAppleEvents::setReplyTimeout(0);
        editor.terminate();
        editor.waitForFinished(10000);
    }
    QStringList versionTitles() const
    {
        QStringList titles;
        for (const QFVersionEntry &entry : controller->versionList())
            titles << QFileInfo(entry.file).fileName();
        return titles;
    }

    std::unique_ptr<AppController> controller;
    MainWindow *window = nullptr;
};

} // namespace

TEST_F(AppWindowTest, TheProjectListShowsLinkedProjectsSortedAndSelectsTheLastOrTheFirst)
{
    apptest::buildSampleStore(home.path());
    // A project folder whose settings name no project file is not a project.
    const QString orphan = QFVersionStoreBuilder::addProject(home.file("Videos/Orphan.fcp"), QStringLiteral("ORPHAN"));
    QFPropertyList::write(orphan + QStringLiteral("/Settings.plist"), QVariantMap { { "sequences", QVariantList() } });
    QFVersionStoreBuilder::setPreferences({ { "lastProjectID", "REMOVED-LONG-AGO" }, { "firstRun", false } });

    launch();
    EXPECT_EQ(projectNames(), QStringList({ "Podcast Mix", "Trailer", "Wedding Cut" }));
    EXPECT_EQ(window->projectCountLabel()->text(), QStringLiteral("3 projects"));
    EXPECT_EQ(selectedProjectName(), QStringLiteral("Podcast Mix")) << "a removed last project selects the first row";
    EXPECT_EQ(versionTitles(), QStringList({ "Podcast Mix.00002.sesx", "Podcast Mix.00001.sesx" })) << "newest first";
    EXPECT_EQ(window->versionCountLabel()->text(), QStringLiteral("2 versions"));

    // A click selects another project, which is remembered for the next start.
    QSignalSpy populated(controller.get(), &AppController::versionListPopulated);
    clickProject(QStringLiteral("Wedding Cut"));
    ASSERT_TRUE(waitForVersions(populated));
    EXPECT_EQ(QFPropertyList::readDictionary(QFProject::preferenceFilePath())->value("lastProjectID").toString(),
        QStringLiteral("WEDDING"));
    controller.reset();
    launch();
    EXPECT_EQ(selectedProjectName(), QStringLiteral("Wedding Cut"));
}

TEST_F(AppWindowTest, ABinaryVersionWithItsXMLCopyAppearsOnceAsTheXMLVersionWithItsNoteAndChangeLines)
{
    apptest::buildSampleStore(home.path());
    QFVersionStoreBuilder::setPreferences({ { "lastProjectID", "WEDDING" }, { "firstRun", false } });
    launch();
    ASSERT_EQ(selectedProjectName(), QStringLiteral("Wedding Cut"));
    EXPECT_EQ(
        versionTitles(), QStringList({ "Wedding Cut.00003.xml", "Wedding Cut.00002.xml", "Wedding Cut.00001.xml" }));
    EXPECT_EQ(window->versionCountLabel()->text(), QStringLiteral("3 versions"));

    const QAbstractItemModel *model = window->versionOutline()->model();
    const QModelIndex second = model->index(1, 0);
    EXPECT_EQ(second.data().toString(), QStringLiteral("Version 00002"));
    ASSERT_GE(model->rowCount(second), 2);
    EXPECT_EQ(model->index(0, 0, second).data().toString(), QStringLiteral("Sent to the couple for review"))
        << "the note comes first";
    EXPECT_EQ(model->index(0, 0, second).data(QFVersionListModel::KindRole).toInt(), QFVersionListModel::AnnotationRow);
    EXPECT_EQ(model->index(1, 0, second).data(QFVersionListModel::KindRole).toInt(), QFVersionListModel::ChangeLineRow);
    EXPECT_TRUE(window->versionOutline()->isExpanded(second));
    EXPECT_FALSE(window->noBackupLabel()->isVisible());

    // A project without versions shows the no-backup view over the strip.
    QSignalSpy populated(controller.get(), &AppController::versionListPopulated);
    clickProject(QStringLiteral("Trailer"));
    ASSERT_TRUE(waitForVersions(populated));
    EXPECT_EQ(window->versionCountLabel()->text(), QStringLiteral("0 versions"));
    EXPECT_TRUE(window->noBackupLabel()->isVisible());
    EXPECT_TRUE(window->noBackupButton()->isVisible());
}

TEST_F(AppWindowTest, OutlineAndStripFollowEachOther)
{
    apptest::buildSampleStore(home.path());
    QFVersionStoreBuilder::setPreferences({ { "lastProjectID", "WEDDING" }, { "firstRun", false } });
    launch();
    QFOutlineView *outline = window->versionOutline();
    QFCoverFlowView *strip = window->screenshotStrip();
    ASSERT_EQ(strip->count(), 3);

    // Clicking a change line of the oldest version scrolls the strip to that version.
    const QModelIndex oldest = outline->model()->index(2, 0);
    ASSERT_GT(outline->model()->rowCount(oldest) + outline->model()->rowCount(outline->model()->index(1, 0)), 0);
    const QModelIndex line = outline->model()->rowCount(oldest) > 0
        ? outline->model()->index(0, 0, oldest)
        : outline->model()->index(0, 0, outline->model()->index(1, 0));
    const int expected = QFVersionListModel::entryRow(line);
    outline->scrollTo(line);
    QTest::mouseClick(outline->viewport(), Qt::LeftButton, {}, outline->visualRect(line).center());
    EXPECT_EQ(outline->currentIndex(), line);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !strip->isScrolling() && strip->currentIndex() == expected; }, 5000))
        << strip->currentIndex() << " " << strip->position() << " " << strip->isScrolling() << " expected " << expected;
    EXPECT_EQ(outline->currentIndex(), line) << "the strip's arrival leaves the chosen line selected";

    // Scrolling the strip with the keyboard selects the version row, not one of its lines.
    strip->setFocus();
    QTest::keyClick(strip, Qt::Key_Home);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !strip->isScrolling() && strip->currentIndex() == 0; }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return outline->currentIndex() == outline->model()->index(0, 0); }, 5000));
    QTest::keyClick(strip, Qt::Key_Right);
    ASSERT_TRUE(QTest::qWaitFor([&] { return outline->currentIndex() == outline->model()->index(1, 0); }, 5000));
    EXPECT_FALSE(outline->currentIndex().parent().isValid());
}

TEST_F(AppWindowTest, AVersionWithoutAScreenshotShowsThePagePicture)
{
    const QString folder = QFVersionStoreBuilder::addProject(home.file("Videos/Two.kdenlive"), QStringLiteral("TWO"));
    const QDateTime when = QDateTime::currentDateTimeUtc().addDays(-1);
    QFVersionStoreBuilder::addVersions(folder,
        { { "Two.00001.kdenlive", when, "<mlt/>" }, { "Two.00002.kdenlive", when.addSecs(60), "<mlt a='1'/>" } });
    apptest::writeScreenshot(folder + QStringLiteral("/Screenshots/Two.00001.jpg"), QColor(200, 20, 20), QString());
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false } });
    launch();
    QFCoverFlowView *strip = window->screenshotStrip();
    ASSERT_EQ(strip->count(), 2);

    // The centred item's middle: the pale page for version 2, the red capture for version 1.
    auto centreColour = [&] {
        const QImage shot = strip->grab().toImage();
        return shot.pixelColor(shot.width() / 2, shot.height() / 2 - 20);
    };
    const QColor page = centreColour();
    EXPECT_GT(page.lightness(), 180) << qPrintable(page.name());
    EXPECT_LT(std::abs(page.red() - page.blue()), 30) << "grey, not coloured";
    strip->scrollToIndex(1, 0);
    const QColor capture = centreColour();
    EXPECT_GT(capture.red(), 120) << qPrintable(capture.name());
    EXPECT_LT(capture.green(), 90);
}

TEST_F(AppWindowTest, KeysInTheOutlineAskForPreviewAndDeletion)
{
    apptest::buildSampleStore(home.path());
    QFVersionStoreBuilder::setPreferences({ { "lastProjectID", "PODCAST" }, { "firstRun", false } });
    launch();
    QFOutlineView *outline = window->versionOutline();
    QSignalSpy posted(QFNotificationCenter::defaultCenter(), &QFNotificationCenter::notificationPosted);
    outline->setFocus();
    outline->setCurrentIndex(outline->model()->index(1, 0));
    QTest::keyClick(outline, Qt::Key_Space);
    QTest::keyClick(outline, Qt::Key_Delete);
    QTest::keyClick(outline, Qt::Key_Backspace, Qt::ControlModifier);
    QStringList names;
    for (const QList<QVariant> &call : posted)
        names << call.at(0).toString();
    ASSERT_EQ(posted.size(), 3) << qPrintable(names.join(u' '));
    EXPECT_EQ(posted.at(0).at(0).toString(), QStringLiteral("QFProTombrelQuickLook"));
    EXPECT_EQ(posted.at(1).at(0).toString(), QStringLiteral("QFProTombrelDeleteBackup"));
    EXPECT_EQ(posted.at(1).at(1).toInt(), 1) << "the selected version's entry";
    EXPECT_EQ(posted.at(2).at(0).toString(), QStringLiteral("QFProTombrelDeleteAllBackups"));
}

TEST_F(AppWindowTest, TheScreenshotViewStartsCollapsedWithViewModeOneAndTheToggleRemembersIt)
{
    apptest::buildSampleStore(home.path());
    QFVersionStoreBuilder::setPreferences({ { "viewMode", 1 }, { "firstRun", false } });
    launch();
    EXPECT_EQ(window->detailSplitter()->sizes().value(0), 0);
    EXPECT_FALSE(window->viewModeAction()->isChecked());
    window->viewModeAction()->trigger();
    EXPECT_GT(window->detailSplitter()->sizes().value(0), 100);
    EXPECT_EQ(QFPropertyList::readDictionary(QFProject::preferenceFilePath())->value("viewMode").toInt(), 0);
}

TEST_F(AppWindowTest, ReReadsAreCoalescedAndTheHelpersSignalBringsNewProjects)
{
    apptest::buildSampleStore(home.path());
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false } });
    launch();
    QSignalSpy shown(controller.get(), &AppController::projectListShown);
    for (int i = 0; i < 6; ++i)
        controller->populateProjects();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty(); }, 10000));
    // At most one re-read runs while one more waits: six requests give one or two re-reads, counted once
    // every re-read asked for has ended.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller->isBusy(); }, 10000));
    QCoreApplication::processEvents();
    EXPECT_GE(shown.size(), 1);
    EXPECT_LE(shown.size(), 2);

    QFVersionStoreBuilder::addProject(home.file("Videos/Zebra.kdenlive"), QStringLiteral("ZEBRA"));
    ASSERT_TRUE(QFHelperConnection::postFilesBackedUp());
    ASSERT_TRUE(QTest::qWaitFor([&] { return projectNames().contains(QStringLiteral("Zebra")); }, 10000));
    EXPECT_EQ(window->projectCountLabel()->text(), QStringLiteral("4 projects"));
}

TEST_F(AppWindowTest, AFirstRunSetsTheDefaultWatchFolders)
{
    launch();
    const auto prefs = QFPropertyList::readDictionary(QFProject::preferenceFilePath());
    ASSERT_TRUE(prefs);
    EXPECT_FALSE(prefs->value("firstRun").toBool());
    const QVariantList folders = prefs->value("watchFolders").toList();
    ASSERT_EQ(folders.size(), 5);
    EXPECT_EQ(folders.at(0).toMap().value("extensions").toString(),
        QStringLiteral("fcpevent,fcpproject,kdenlive,mlt,blend,ardour,ove,drp"));
    EXPECT_TRUE(folders.at(4).toMap().value("folder").toString().endsWith(QStringLiteral("/Adobe/Premiere Pro")));
    EXPECT_TRUE(window->noBackupLabel()->isHidden()) << "no projects: nothing to back up";
}

TEST_F(AppWindowTest, AFirstRunTakesOverThePredecessorsProjectsAndTheirVersions)
{
    home.write(QStringLiteral("Videos/Old Cut.fcp"), "project");
    home.write(QStringLiteral(".local/share/Quenfield/FCP Tombrel/Versions/Old Cut.fcp/Old Cut.00001.fcp"), "one");
    home.write(QStringLiteral(".local/share/Quenfield/FCP Tombrel/Versions/Old Cut.fcp/Old Cut.00002.fcp"), "two");
    QDir().mkpath(home.file(".config"));
    ASSERT_TRUE(QFPropertyList::write(home.file(".config/com.quenfield.fcptombrel.plist"),
        QVariantMap { { "filelist",
            QVariantList { QVariantMap { { "path", "~/Videos/Old Cut.fcp" }, { "selectedUUID", "SEQ-1" } } } } }));
    launch();
    ASSERT_TRUE(QTest::qWaitFor([&] { return projectNames() == QStringList("Old Cut"); }, 10000))
        << qPrintable(projectNames().join(u','));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller->isBusy() && controller->versionList().size() == 2; }, 10000));
    const QFProject project = controller->projectList().first();
    EXPECT_EQ(project.selectedUUID(), QStringLiteral("SEQ-1"));
    EXPECT_EQ(QFVersionStoreBuilder::versionNames(project.destinationPath()),
        QStringList({ "Old Cut.00001.fcp", "Old Cut.00002.fcp" }));
}

TEST_F(AppWindowTest, RemoteRemovalEndsAfterTheLastDeletionIsCountedOrAtOnceWithNothingToDo)
{
    QFVersionStoreBuilder::setPreferences({ { "syncService", 1 }, { "firstRun", false } });
    controller = std::make_unique<AppController>(true);
    QSignalSpy quit(controller.get(), &AppController::quitRequested);
    controller->applicationDidFinishLaunching({ "Pro Tombrel", "-removeRemote", "/S/a.fcp,/S/b.fcp,/S/c.fcp" });
    EXPECT_FALSE(controller->mainWindow()) << "no window in this mode";
    QFNotificationCenter *center = QFNotificationCenter::defaultCenter();
    center->postNotificationName(QStringLiteral("QFProTombrelRemoveRemoteFile"));
    center->postNotificationName(QStringLiteral("QFProTombrelRemoveRemoteFileFailed"));
    EXPECT_EQ(quit.size(), 0);
    center->postNotificationName(QStringLiteral("QFProTombrelRemoveRemoteFile"));
    EXPECT_EQ(quit.size(), 1) << "a failed deletion counts too";

    controller = std::make_unique<AppController>(true);
    QSignalSpy quitAtOnce(controller.get(), &AppController::quitRequested);
    controller->applicationDidFinishLaunching({ "Pro Tombrel", "-removeRemote", "" });
    EXPECT_EQ(quitAtOnce.size(), 1);
}

TEST_F(AppWindowTest, FromADistributionImageTheApplicationOffersToInstallItselfOverAnOlderCopy)
{
    qfInstallWidgetAlerts();
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false } });
    const QString image = home.file(QStringLiteral("media/Pro Tombrel"));
    const QString bundle = image + QStringLiteral("/Pro Tombrel.app");
    home.write(QStringLiteral("media/Pro Tombrel/Pro Tombrel.app/Contents/Info.plist"), "<plist/>");
    home.write(QStringLiteral("media/Pro Tombrel/Pro Tombrel.app/Contents/MacOS/readme.txt"), "new");
    const QString installed = home.file(QStringLiteral("Applications/Pro Tombrel.app"));
    home.write(QStringLiteral("Applications/Pro Tombrel.app/Contents/old.txt"), "old");
    launch();

    // Not from an image: no question.
    QSignalSpy quit(controller.get(), &AppController::quitRequested);
    controller->offerToInstall(bundle);
    EXPECT_TRUE(QFile::exists(installed + QStringLiteral("/Contents/old.txt")));

    home.write(QStringLiteral("media/Pro Tombrel/.DMGPackagerBG"), "");
    answerNextMessage(QStringLiteral("Ignore"));
    controller->offerToInstall(bundle);
    // The question is a sheet: the window goes on while it is asked.
    ASSERT_TRUE(QTest::qWaitFor([] { return !qobject_cast<QMessageBox *>(QApplication::activeModalWidget()); }, 10000));
    EXPECT_TRUE(QFile::exists(installed + QStringLiteral("/Contents/old.txt"))) << "ignored";
    EXPECT_EQ(quit.size(), 0);

    answerNextMessage(QStringLiteral("Install"));
    controller->offerToInstall(bundle);
    // The bundle is copied away from the window; the copy's start ends this run.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !quit.isEmpty(); }, 10000));
    EXPECT_TRUE(QFile::exists(installed + QStringLiteral("/Contents/MacOS/readme.txt")));
    EXPECT_FALSE(QFile::exists(installed + QStringLiteral("/Contents/old.txt"))) << "the older copy went to the Trash";
    EXPECT_TRUE(QFile::exists(bundle + QStringLiteral("/Contents/MacOS/readme.txt"))) << "the image is left as it was";
    EXPECT_EQ(quit.size(), 1) << "the installed copy takes over";
}

TEST_F(AppWindowTest, EveryLineFindsItsVersionInALongList)
{
    QList<QFVersionEntry> entries;
    for (int i = 0; i < 3000; ++i) {
        QFVersionEntry entry;
        entry.version = QString::number(i);
        entry.changelist = { QStringLiteral("a"), QStringLiteral("b") };
        if (i % 7 == 0)
            entry.annotation = QStringLiteral("note");
        entries << entry;
    }
    QFVersionListModel model;
    model.setEntries(entries);
    for (const int row : { 0, 1, 2, 6, 7, 999, 1000, 2047, 2048, 2999 }) {
        SCOPED_TRACE(row);
        const QModelIndex version = model.index(row, 0);
        ASSERT_EQ(model.rowCount(version), row % 7 == 0 ? 3 : 2);
        const QModelIndex last = model.index(model.rowCount(version) - 1, 0, version);
        EXPECT_EQ(model.parent(last), version);
        EXPECT_EQ(QFVersionListModel::entryRow(last), row);
        EXPECT_EQ(last.data().toString(), QStringLiteral("b"));
        EXPECT_FALSE(model.parent(version).isValid());
        EXPECT_EQ(model.rowCount(last), 0);
    }
}

TEST_F(AppWindowTest, TheVersionSearchShowsMatchesAndClearingItOrChoosingAnotherProjectShowsEverything)
{
    apptest::buildSampleStore(home.path());
    QFVersionStoreBuilder::setPreferences({ { "lastProjectID", "WEDDING" }, { "firstRun", false } });
    launch();
    QLineEdit *field = window->versionSearchField();
    QFCoverFlowView *strip = window->screenshotStrip();
    const QAbstractItemModel *model = window->versionOutline()->model();
    QSignalSpy shown(controller.get(), &AppController::versionSearchShown);

    // Only the note of version 2 speaks of the couple: that version, with its note and every line.
    QTest::keyClicks(field, QStringLiteral("couple"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount() == 1; }, 5000));
    const QModelIndex only = model->index(0, 0);
    EXPECT_EQ(only.data().toString(), QStringLiteral("Version 00002"));
    EXPECT_EQ(model->index(0, 0, only).data().toString(), QStringLiteral("Sent to the couple for review"));
    EXPECT_EQ(model->rowCount(only), 2);
    EXPECT_EQ(strip->count(), 1);
    EXPECT_EQ(window->versionCountLabel()->text(), QStringLiteral("1 version"));

    // Nothing matches: both views are empty, and there is nothing to print.
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("no such change"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount() == 0; }, 5000));
    EXPECT_EQ(strip->count(), 0);
    EXPECT_FALSE(window->printAction()->isEnabled());

    // Clearing the field brings every version back.
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount() == 3; }, 5000));
    EXPECT_EQ(strip->count(), 3);
    EXPECT_TRUE(window->printAction()->isEnabled());

    // Another project ends the search.
    QTest::keyClicks(field, QStringLiteral("couple"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount() == 1; }, 5000));
    QSignalSpy populated(controller.get(), &AppController::versionListPopulated);
    clickProject(QStringLiteral("Podcast Mix"));
    ASSERT_TRUE(waitForVersions(populated));
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_EQ(model->rowCount(), 2);
}

TEST_F(AppWindowTest, TheProjectSearchLooksAtNamesAndPaths)
{
    apptest::buildSampleStore(home.path());
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false } });
    launch();
    QTest::keyClicks(window->projectSearchField(), QStringLiteral("VIDEOS"));
    EXPECT_EQ(projectNames(), QStringList({ "Trailer", "Wedding Cut" })) << "matched by the folder in their path";
    EXPECT_EQ(window->projectCountLabel()->text(), QStringLiteral("2 projects"));
    window->projectSearchField()->clear();
    QTest::keyClicks(window->projectSearchField(), QStringLiteral("mix"));
    EXPECT_EQ(projectNames(), QStringList({ "Podcast Mix" }));
    EXPECT_EQ(window->projectCountLabel()->text(), QStringLiteral("1 project"));
}

TEST_F(AppWindowTest, FilteringPreferencesHideTheirLinesWhenTheViewsAreReloaded)
{
    apptest::buildSampleStore(home.path());
    QFVersionStoreBuilder::setPreferences({ { "lastProjectID", "WEDDING" }, { "firstRun", false } });
    launch();
    const QAbstractItemModel *model = window->versionOutline()->model();
    const QModelIndex newest = model->index(0, 0);
    ASSERT_EQ(model->rowCount(newest), 1);
    EXPECT_TRUE(model->index(0, 0, newest).data().toString().contains(QStringLiteral("sequence")));
    QFVersionStoreBuilder::setPreferences(
        { { "lastProjectID", "WEDDING" }, { "firstRun", false }, { "filterSequences", 1 } });
    controller->reloadBackupViews();
    EXPECT_EQ(model->rowCount(model->index(0, 0)), 0);
    const QModelIndex second = model->index(1, 0);
    EXPECT_EQ(model->rowCount(second), 1) << "the note stays";
}

TEST_F(AppWindowTest, TheReportPrintsNotesAsTheyWereTyped)
{
    apptest::buildSampleStore(home.path());
    const QString cut = QFProject::storageRoot() + QStringLiteral("/WEDDING.localized");
    QFPropertyList::write(
        cut + QStringLiteral("/Annotations.plist"), QVariantMap { { "Wedding Cut.00002.xml", "<b>x</b> & \"y\"" } });
    QFVersionStoreBuilder::setPreferences({ { "lastProjectID", "WEDDING" }, { "firstRun", false } });
    launch();
    EXPECT_EQ(AppController::printJobTitle(), QStringLiteral("Untitled Changelist"));
    ASSERT_TRUE(window->printAction()->isEnabled());
    QDir().mkpath(QStringLiteral(QF_RENDER_DIR));
    const QString pdf = QStringLiteral(QF_RENDER_DIR "/report.pdf");
    ASSERT_TRUE(QFPrint::writePDF(controller->generateHTMLForPrinting(true), AppController::printJobTitle(), pdf));
    QProcess text;
    text.start(QStringLiteral("pdftotext"), { QStringLiteral("-layout"), pdf, QStringLiteral("-") });
    ASSERT_TRUE(text.waitForFinished(30000));
    const QString printed = QString::fromUtf8(text.readAllStandardOutput());
    EXPECT_TRUE(printed.contains(QStringLiteral("<b>x</b> & \"y\""))) << qPrintable(printed);
    EXPECT_TRUE(printed.contains(QStringLiteral("Wedding Cut")));
    EXPECT_TRUE(printed.contains(QStringLiteral("Generated with Pro Tombrel by Quen")))
        << "(the PDF may join \"fi\" into one glyph)";
    // The first page as a picture, to look at.
    QProcess::execute(QStringLiteral("pdftoppm"),
        { QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("60"), QStringLiteral("-f"), QStringLiteral("1"),
            QStringLiteral("-l"), QStringLiteral("1"), QStringLiteral("-singlefile"), pdf,
            QStringLiteral(QF_RENDER_DIR "/report-page-1") });

    // A project without versions has nothing to print.
    QSignalSpy populated(controller.get(), &AppController::versionListPopulated);
    clickProject(QStringLiteral("Trailer"));
    ASSERT_TRUE(waitForVersions(populated));
    EXPECT_FALSE(window->printAction()->isEnabled());
}

TEST_F(AppWindowTest, TheButtonOfAMissingXMLCopyAsksTheEditorForIt)
{
    QProcess editor;
    startEditor(editor);

    const QString folder = QFVersionStoreBuilder::addProject(home.file("Videos/Edit.fcp"), QStringLiteral("EDIT"));
    const QDateTime when = QDateTime::currentDateTimeUtc().addDays(-1);
    QFVersionStoreBuilder::addVersions(
        folder, { { "Edit.00001.fcp", when, "one" }, { "Edit.00002.fcp", when.addSecs(60), "two" } });
    QFVersionStoreBuilder::setPreferences({ { "generateFCPXML", 1 }, { "firstRun", false } });
    launch();
    EXPECT_TRUE(window->generateXMLAction()->isVisible());
    QFOutlineView *outline = window->versionOutline();
    const QModelIndex newest = outline->model()->index(0, 0);
    const QModelIndex button = outline->model()->index(0, 0, newest);
    ASSERT_TRUE(button.data(QFVersionListModel::PlaceholderRole).toBool()) << qPrintable(button.data().toString());
    EXPECT_EQ(button.data().toString(), QStringLiteral("XML copy 00002 not generated"));

    QSignalSpy finished(controller.get(), &AppController::xmlGenerationFinished);
    outline->scrollTo(button);
    QTest::mouseClick(outline->viewport(), Qt::LeftButton, {}, outline->visualRect(button).topLeft() + QPoint(10, 5));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !finished.isEmpty(); }, 30000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller->isBusy(); }, 20000));
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/Versions/Edit.00002.xml")))
        << qPrintable(QFVersionStoreBuilder::versionNames(folder).join(u','));
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/Versions/Edit.00001.xml"))) << "only the version asked for";
    EXPECT_EQ(versionTitles().value(0), QStringLiteral("Edit.00002.xml")) << "the XML copy stands for its version";
    EXPECT_FALSE(window->progressSheet()->isVisible());
    stopEditor(editor);
}

TEST_F(AppWindowTest, WithoutTheEditorRunningTheXMLCopiesWaitForTheUsersYes)
{
    qfInstallWidgetAlerts();
    const QString folder = QFVersionStoreBuilder::addProject(home.file("Videos/Edit.fcp"), QStringLiteral("EDIT"));
    QFVersionStoreBuilder::addVersions(
        folder, { { "Edit.00001.fcp", QDateTime::currentDateTimeUtc().addDays(-1), "one" } });
    QFVersionStoreBuilder::setPreferences({ { "generateFCPXML", 1 }, { "firstRun", false } });
    launch();
    ASSERT_FALSE(QFAppleEvents::isFCPRunning());
    QSignalSpy finished(controller.get(), &AppController::xmlGenerationFinished);
    answerNextMessage(QStringLiteral("Cancel"));
    window->generateXMLAction()->trigger();
    // The question is a sheet: the window goes on while it is asked.
    ASSERT_TRUE(QTest::qWaitFor([] { return !qobject_cast<QMessageBox *>(QApplication::activeModalWidget()); }, 10000));
    EXPECT_EQ(finished.size(), 0) << "nothing was started";
    EXPECT_FALSE(window->progressSheet()->isVisible());
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/Versions/Edit.00001.xml")));
}

TEST_F(AppWindowTest, CancellingTheXMLCopiesOfEveryVersionStopsBeforeTheNextAndKeepsThoseMade)
{
    QProcess editor;
    startEditor(editor);
    const QString folder = QFVersionStoreBuilder::addProject(home.file("Videos/Long.fcp"), QStringLiteral("LONG"));
    const QDateTime when = QDateTime::currentDateTimeUtc().addDays(-1);
    QList<VersionSpec> versions;
    for (int i = 1; i <= 6; ++i)
        versions.append({ QStringLiteral("Long.0000%1.fcp").arg(i), when.addSecs(60 * i), QByteArray::number(i) });
    QFVersionStoreBuilder::addVersions(folder, versions);
    QFVersionStoreBuilder::setPreferences({ { "generateFCPXML", 1 }, { "firstRun", false } });
    launch();
    ASSERT_TRUE(window->generateXMLAction()->isVisible());

    QSignalSpy finished(controller.get(), &AppController::xmlGenerationFinished);
    window->generateXMLAction()->trigger();
    ASSERT_TRUE(window->progressSheet()->isVisible());
    QDir().mkpath(QStringLiteral(QF_RENDER_DIR));
    window->progressSheet()->grab().save(QStringLiteral(QF_RENDER_DIR "/progress-sheet.png"));
    QTest::mouseClick(window->progressSheet()->cancelButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !finished.isEmpty(); }, 30000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller->isBusy(); }, 20000));
    EXPECT_FALSE(window->progressSheet()->isVisible());
    const QStringList names = QFVersionStoreBuilder::versionNames(folder);
    const qsizetype made = names.filter(QStringLiteral(".xml")).size();
    EXPECT_LT(made, 6) << qPrintable(names.join(u','));
    // What was made stays, and shows as the version it belongs to.
    EXPECT_EQ(names.filter(QStringLiteral(".fcp")).size(), 6) << "no version was added";
    const QStringList titles = versionTitles();
    EXPECT_EQ(titles.filter(QStringLiteral(".xml")).size(), made);
    stopEditor(editor);
}

TEST_F(AppWindowTest, TwoSelectedVersionsCanBeCompared)
{
    apptest::buildSampleStore(home.path());
    QFVersionStoreBuilder::setPreferences({ { "lastProjectID", "WEDDING" }, { "firstRun", false } });
    launch();
    QFOutlineView *outline = window->versionOutline();
    const QAbstractItemModel *model = outline->model();
    const QModelIndex second = model->index(1, 0);
    const QModelIndex first = model->index(2, 0);
    QTest::mouseClick(outline->viewport(), Qt::LeftButton, {}, outline->visualRect(second).center());
    EXPECT_FALSE(window->compareAction()->isEnabled()) << "one version alone";
    outline->scrollTo(first);
    QTest::mouseClick(outline->viewport(), Qt::LeftButton, Qt::ControlModifier, outline->visualRect(first).center());
    ASSERT_TRUE(window->compareAction()->isEnabled());

    QSignalSpy shown(controller.get(), &AppController::comparisonShown);
    QTest::mouseClick(window->toolbar()->widgetForAction(window->compareAction()), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty(); }, 10000));
    auto *sheet = shown.first().first().value<QDialog *>();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->windowTitle(), QStringLiteral("Version 00001 to Version 00002"));
    QDir().mkpath(QStringLiteral(QF_RENDER_DIR));
    sheet->grab().save(QStringLiteral(QF_RENDER_DIR "/comparison-sheet.png"));
    auto *list = sheet->findChild<QListWidget *>(QStringLiteral("comparisonLines"));
    ASSERT_TRUE(list);
    QStringList lines;
    for (int row = 0; row < list->count(); ++row)
        lines << list->item(row)->text();
    // Neighbours compare as the version list tells them.
    EXPECT_EQ(lines, controller->versionList().at(1).changelist);
    auto *close = sheet->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Close);
    QTest::mouseClick(close, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return window->findChild<QDialog *>(QStringLiteral("comparisonSheet")) == nullptr; }, 5000));
}

// Renders the window over the sample store, light and dark, for people to look at.
TEST_F(AppWindowTest, RendersTheMainWindowLightAndDark)
{
    const QString cut = apptest::buildSampleStore(home.path());
    // The newest version has no XML copy yet: its line is the button that makes one.
    QFVersionStoreBuilder::addVersions(
        cut, { { "Wedding Cut.00004.fcp", QDateTime::currentDateTimeUtc().addSecs(-600), "binary 4" } });
    QFVersionStoreBuilder::setPreferences(
        { { "lastProjectID", "WEDDING" }, { "firstRun", false }, { "generateFCPXML", 1 } });
    QDir().mkpath(QStringLiteral(QF_RENDER_DIR));
    const QPalette original = QApplication::palette();
    for (const bool dark : { false, true }) {
        apptest::applyLook(dark);
        launch();
        window->versionOutline()->setCurrentIndex(window->versionOutline()->model()->index(2, 0));
        QFCoverFlowView *strip = window->screenshotStrip();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !strip->isScrolling() && strip->currentIndex() == 2; }, 5000));
        const QString file = QStringLiteral(QF_RENDER_DIR)
            + (dark ? QStringLiteral("/main-window-dark.png") : QStringLiteral("/main-window-light.png"));
        EXPECT_TRUE(window->grab().save(file)) << qPrintable(file);
        controller.reset();
    }
    QApplication::setPalette(original);
}

namespace {

// The preferences window of the running application, opened with the menu's key.
QFPrefController *openPreferences(MainWindow *window, AppController *controller)
{
    window->activateWindow();
    QTest::keyClick(window, Qt::Key_Comma, Qt::ControlModifier);
    QFPrefController *prefs = controller->prefController();
    if (!prefs || !QTest::qWaitForWindowExposed(prefs))
        return nullptr;
    return prefs;
}

QVariantMap storedPreferences()
{
    return QFPropertyList::readDictionary(QFProject::preferenceFilePath()).value_or(QVariantMap());
}

} // namespace

TEST_F(AppWindowTest, AFirstRunWaitsBetweenBackupsOnlyWhereFinalCutIsInstalled)
{
    // No editor at all: the version check answers "7.0" all the same, which must not count.
    launch();
    EXPECT_FALSE(storedPreferences().value("firstRun").toBool());
    EXPECT_NE(storedPreferences().value("backupMinIntervalEnabled").toInt(), 1);
    QFPrefController *prefs = openPreferences(window, controller.get());
    ASSERT_TRUE(prefs);
    prefs->showPane(QFPrefController::Performance);
    EXPECT_FALSE(prefs->findChild<QCheckBox *>(QStringLiteral("backupMinIntervalEnabled"))->isChecked());
    controller.reset();

    // Final Cut Pro X (or its trial) installed: 15 minutes between two backups of a project.
    for (const char *identifier : { "com.apple.FinalCut", "com.apple.FinalCutTrial" }) {
        SCOPED_TRACE(identifier);
        QDir(home.file(QStringLiteral("Applications"))).removeRecursively();
        home.write(QStringLiteral("Applications/Final Cut Pro.app/Contents/Info.plist"),
            QByteArray("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>")
                + identifier + "</string><key>CFBundleShortVersionString</key><string>10.6</string></dict></plist>");
        QFVersionStoreBuilder::setPreferences({ { "firstRun", true } });
        launch();
        EXPECT_EQ(storedPreferences().value("backupMinIntervalEnabled").toInt(), 1);
        EXPECT_EQ(storedPreferences().value("backupMinInterval").toInt(), 15);
        prefs = openPreferences(window, controller.get());
        ASSERT_TRUE(prefs);
        prefs->showPane(QFPrefController::Performance);
        EXPECT_TRUE(prefs->findChild<QCheckBox *>(QStringLiteral("backupMinIntervalEnabled"))->isChecked());
        EXPECT_EQ(prefs->findChild<QSpinBox *>(QStringLiteral("backupMinInterval"))->value(), 15);
        controller.reset();
    }
}

TEST_F(AppWindowTest, TheChosenVersionStaysWhenTheWindowComesBackFromASheetOrWithASearchOn)
{
    qfInstallWidgetAlerts();
    apptest::buildSampleStore(home.path());
    QFVersionStoreBuilder::setPreferences({ { "lastProjectID", "WEDDING" }, { "firstRun", false } });
    launch();
    QFOutlineView *outline = window->versionOutline();
    const QAbstractItemModel *model = outline->model();
    ASSERT_EQ(model->rowCount(), 3) << "six files, three versions: each binary version has its XML copy";
    const auto becomeMainAgain = [&] {
        QSignalSpy became(window, &MainWindow::becameMain);
        window->activateWindow();
        if (!QTest::qWaitFor([&] { return !became.isEmpty(); }, 2000)) {
            // Offscreen, a window that is active already is told again as the desktop would tell it.
            QEvent activate(QEvent::WindowActivate);
            QApplication::sendEvent(window, &activate);
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return !controller->isBusy(); }, 20000));
    };

    {
        SCOPED_TRACE("after a sheet");
        QTest::mouseClick(outline->viewport(), Qt::LeftButton, {}, outline->visualRect(model->index(1, 0)).center());
        ASSERT_EQ(outline->currentIndex(), model->index(1, 0));
        QSignalSpy populated(controller.get(), &AppController::versionListPopulated);
        // The note sheet opens and is cancelled.
        outline->setFocus();
        QTest::keyClick(window, Qt::Key_E, Qt::ControlModifier);
        QDialog *sheet = nullptr;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return (sheet = window->findChild<QDialog *>(QStringLiteral("annotateSheet"))) && sheet->isVisible();
            },
            5000));
        QTest::mouseClick(sheet->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel), Qt::LeftButton);
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return !window->findChild<QDialog *>(QStringLiteral("annotateSheet")); }, 5000));
        becomeMainAgain();
        EXPECT_TRUE(populated.isEmpty()) << "nothing changed on disk: the list is not filled again";
        EXPECT_EQ(outline->currentIndex(), model->index(1, 0)) << "the chosen version stays chosen";
    }
    {
        SCOPED_TRACE("with a search on");
        QTest::keyClicks(window->versionSearchField(), QStringLiteral("couple"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount() == 1; }, 5000));
        QSignalSpy populated(controller.get(), &AppController::versionListPopulated);
        becomeMainAgain();
        EXPECT_TRUE(populated.isEmpty());
        EXPECT_EQ(model->rowCount(), 1) << "the search's result stays";
    }
    {
        SCOPED_TRACE("a new version on disk");
        window->versionSearchField()->clear();
        ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount() == 3; }, 5000));
        const QString cut = QFProject::storageRoot() + QStringLiteral("/WEDDING.localized");
        QFVersionStoreBuilder::addVersions(
            cut, { { "Wedding Cut.00004.fcp", QDateTime::currentDateTimeUtc(), "binary 4" } });
        QSignalSpy populated(controller.get(), &AppController::versionListPopulated);
        becomeMainAgain();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !populated.isEmpty() && !controller->isBusy(); }, 20000));
        EXPECT_EQ(model->rowCount(), 4);
    }
}

TEST_F(AppWindowTest, ASearchThatMatchesNothingDoesNotOfferTheFirstBackup)
{
    apptest::buildSampleStore(home.path());
    QFVersionStoreBuilder::setPreferences({ { "lastProjectID", "WEDDING" }, { "firstRun", false } });
    launch();
    const QAbstractItemModel *model = window->versionOutline()->model();
    QTest::keyClicks(window->versionSearchField(), QStringLiteral("no such change"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount() == 0; }, 5000));
    EXPECT_FALSE(window->noBackupLabel()->isVisible()) << "the project has versions";
    EXPECT_FALSE(window->noBackupButton()->isVisible());

    // A project that has none does offer it.
    QSignalSpy populated(controller.get(), &AppController::versionListPopulated);
    clickProject(QStringLiteral("Trailer"));
    ASSERT_TRUE(waitForVersions(populated));
    EXPECT_TRUE(window->noBackupLabel()->isVisible());
    EXPECT_TRUE(window->noBackupButton()->isVisible());
}

TEST_F(AppWindowTest, PrintingLogsHowTheJobEndedAlsoWhenCancelledOrLeftInThePreview)
{
    apptest::buildSampleStore(home.path());
    QFVersionStoreBuilder::setPreferences({ { "lastProjectID", "WEDDING" }, { "firstRun", false } });
    launch();
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const auto failures = [&] { return home.logMessages(program).count(QStringLiteral("Print job failed")); };
    const qsizetype before = failures();
    // Closes the modal dialog of that name once it is up.
    const auto closeNext = [](const QString &name) {
        QTimer::singleShot(0, [name] {
            QDialog *dialog = nullptr;
            if (!QTest::qWaitFor(
                    [&] {
                        dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
                        return dialog && dialog->isVisible() && dialog->objectName() == name;
                    },
                    10000)) {
                ADD_FAILURE() << "no dialog " << name.toStdString();
                return;
            }
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
    };
    closeNext(QStringLiteral("printDialog"));
    window->printAction()->trigger();
    EXPECT_TRUE(QTest::qWaitFor([&] { return failures() == before + 1; }, 5000)) << "cancelled in the print dialog";
    closeNext(QStringLiteral("printPreview"));
    window->printPreviewAction()->trigger();
    EXPECT_TRUE(QTest::qWaitFor([&] { return failures() == before + 2; }, 5000))
        << "closed in the preview without printing";
    EXPECT_FALSE(home.logMessages(program).contains(QStringLiteral("Print job completed successfully")));
}

TEST_F(AppWindowTest, TheRemoveSyncedBackupsItemFollowsTheSyncService)
{
    apptest::buildSampleStore(home.path());
    QFVersionStoreBuilder::setPreferences(
        { { "lastProjectID", "WEDDING" }, { "firstRun", false }, { "syncService", 0 } });
    launch();
    auto *item = window->findChild<QAction *>(QStringLiteral("removeSyncedFilesForProject"));
    ASSERT_TRUE(item);
    EXPECT_FALSE(item->isEnabled()) << "no sync service";
    QSignalSpy populated(controller.get(), &AppController::versionListPopulated);
    QFVersionStoreBuilder::setPreferences(
        { { "lastProjectID", "WEDDING" }, { "firstRun", false }, { "syncService", 1 } });
    clickProject(QStringLiteral("Podcast Mix"));
    ASSERT_TRUE(waitForVersions(populated));
    EXPECT_TRUE(item->isEnabled()) << "Dropbox";
    QFVersionStoreBuilder::setPreferences(
        { { "lastProjectID", "PODCAST" }, { "firstRun", false }, { "syncService", 0 } });
    // The Project menu looks again when it opens.
    QMenu *menu = qobject_cast<QMenu *>(item->parent());
    ASSERT_TRUE(menu);
    QTimer::singleShot(0, menu, [menu] { menu->close(); });
    menu->exec(window->mapToGlobal(QPoint(20, 20)));
    EXPECT_FALSE(item->isEnabled());
}

TEST_F(AppWindowTest, TheReportsNoteSpansItsRowAndTheChangeLinesKeepTheirColumn)
{
    const QString cut = apptest::buildSampleStore(home.path());
    QFPropertyList::write(cut + QStringLiteral("/Annotations.plist"),
        QVariantMap { { "Wedding Cut.00002.xml",
            "Sent to the couple for review: they asked for a shorter first dance, warmer colours in the "
            "speeches and the title music from the rehearsal dinner." } });
    QFVersionStoreBuilder::setPreferences({ { "lastProjectID", "WEDDING" }, { "firstRun", false } });
    launch();
    const QList<QFVersionEntry> entries = controller->versionList();
    ASSERT_EQ(entries.size(), 3)
        << qPrintable(versionTitles().join(u','))
        << qPrintable(home.logMessages(QFileInfo(QCoreApplication::applicationFilePath()).fileName()).join(u'\n'));
    ASSERT_FALSE(entries.at(0).changelist.isEmpty());
    ASSERT_FALSE(entries.at(1).changelist.isEmpty());
    ASSERT_FALSE(entries.at(1).annotation.isEmpty());
    const QString resources = qEnvironmentVariable("QF_BUNDLE_DIR") + QStringLiteral("/Contents/Resources");
    const QString html = QFChangeLines::reportHTML(QStringLiteral("Wedding Cut"), entries, true, resources);

    // Laid out on a page's width: a line of the version with the note starts where one of the version
    // without a note does.
    QTextDocument document;
    document.setHtml(html);
    document.setTextWidth(680);
    const auto leftOf = [&](const QString &text, const QTextCursor &from) {
        const QTextCursor found = document.find(text, from);
        return found.isNull() ? std::pair(-1.0, found)
                              : std::pair(document.documentLayout()->blockBoundingRect(found.block()).left(), found);
    };
    const auto [newestLine, afterNewest] = leftOf(entries.at(0).changelist.first(), QTextCursor(&document));
    const auto [notedLine, afterNoted]
        = leftOf(entries.at(1).changelist.first(), document.find(QStringLiteral("Version 00002")));
    const auto [note, atNote] = leftOf(QStringLiteral("Sent to the couple"), QTextCursor(&document));
    ASSERT_GE(newestLine, 0);
    ASSERT_GE(notedLine, 0);
    EXPECT_NEAR(notedLine, newestLine, 1.0) << "the note widened the first column";
    EXPECT_LT(note, newestLine) << "the note starts in the first column";

    // The report as printed, and as its preview shows it, light and dark.
    QDir().mkpath(QStringLiteral(QF_RENDER_DIR));
    const QString pdf = QStringLiteral(QF_RENDER_DIR "/report-with-note.pdf");
    ASSERT_TRUE(QFPrint::writePDF(html, QStringLiteral("Wedding Cut Changelist"), pdf));
    QProcess::execute(QStringLiteral("pdftoppm"),
        { QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("80"), QStringLiteral("-f"), QStringLiteral("1"),
            QStringLiteral("-l"), QStringLiteral("1"), QStringLiteral("-singlefile"), pdf,
            QStringLiteral(QF_RENDER_DIR "/report-with-note") });
    const QPalette original = QApplication::palette();
    for (const bool dark : { false, true }) {
        apptest::applyLook(dark);
        QPrinter printer(QPrinter::ScreenResolution);
        QPrintPreviewWidget preview(&printer);
        QObject::connect(&preview, &QPrintPreviewWidget::paintRequested, &preview, [&](QPrinter *target) {
            QFPrint::printHTMLString(html, QStringLiteral("Wedding Cut Changelist"), target);
        });
        preview.resize(820, 900);
        preview.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&preview));
        preview.fitToWidth();
        preview.updatePreview();
        QCoreApplication::processEvents();
        const QString file = QStringLiteral(QF_RENDER_DIR)
            + (dark ? QStringLiteral("/report-preview-dark.png") : QStringLiteral("/report-preview-light.png"));
        EXPECT_TRUE(preview.grab().save(file)) << qPrintable(file);
    }
    QApplication::setPalette(original);
}

TEST_F(AppWindowTest, AnEmptyProjectListSaysWhatToDoAndItsButtonsDoIt)
{
    qfInstallWidgetAlerts();
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false }, { "watchFolders", QVariantList() } });
    launch();
    QWidget *empty = window->emptyProjectsView();
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->isVisible());
    EXPECT_EQ(window->emptyProjectsTitle()->text(), QStringLiteral("No projects yet"));
    ASSERT_TRUE(window->addProjectButton()->isVisible());
    ASSERT_TRUE(window->watchFoldersButton()->isVisible());
    EXPECT_TRUE(empty->geometry().contains(window->projectTable()->viewport()->rect())) << "it fills the list";

    // How it looks, light and dark.
    QDir().mkpath(QStringLiteral(QF_RENDER_DIR));
    const QPalette original = QApplication::palette();
    for (const bool dark : { false, true }) {
        apptest::applyLook(dark);
        window->setPalette(QApplication::palette());
        QCoreApplication::processEvents();
        const QString file = QStringLiteral(QF_RENDER_DIR)
            + (dark ? QStringLiteral("/main-window-empty-dark.png") : QStringLiteral("/main-window-empty-light.png"));
        EXPECT_TRUE(window->grab().save(file)) << qPrintable(file);
    }
    QApplication::setPalette(original);
    window->setPalette(original);

    // Add Project File… opens the panel for project files.
    QTest::mouseClick(window->addProjectButton(), Qt::LeftButton);
    QFileDialog *panel = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (panel = window->findChild<QFileDialog *>(QStringLiteral("importPanel"))) && panel->isVisible(); },
        5000));
    panel->reject();
    // Watch Folders… opens the preferences at the watch folders.
    QTest::mouseClick(window->watchFoldersButton(), Qt::LeftButton);
    QFPrefController *prefs = controller->prefController();
    ASSERT_TRUE(prefs && QTest::qWaitForWindowExposed(prefs));
    EXPECT_EQ(prefs->currentPane(), QFPrefController::Projects);
    prefs->close();

    // A first project: the list shows it instead.
    QFVersionStoreBuilder::addProject(home.file("Videos/First.kdenlive"), QStringLiteral("FIRST"));
    QSignalSpy shown(controller.get(), &AppController::projectListShown);
    controller->populateProjects();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty(); }, 10000));
    EXPECT_FALSE(empty->isVisible());
    // A search that finds none says so, without the buttons.
    QTest::keyClicks(window->projectSearchField(), QStringLiteral("zebra"));
    EXPECT_TRUE(empty->isVisible());
    EXPECT_EQ(window->emptyProjectsTitle()->text(), QStringLiteral("No matching projects"));
    EXPECT_FALSE(window->addProjectButton()->isVisible());
    window->projectSearchField()->clear();
    EXPECT_FALSE(empty->isVisible());
}

TEST_F(AppWindowTest, TheBackupMenuListsTheSequencesLastFirstWithTheirPicture)
{
    const QString folder
        = QFVersionStoreBuilder::addProject(home.file("Videos/Feature.fcp"), QStringLiteral("FEATURE"));
    QVariantMap settings
        = QFPropertyList::readDictionary(folder + QStringLiteral("/Settings.plist")).value_or(QVariantMap());
    settings.insert(QStringLiteral("sequences"),
        QVariantList { QVariantMap { { "uuid", "U-1" }, { "name", "Opening" } },
            QVariantMap { { "uuid", "U-2" }, { "name", "Middle" } },
            QVariantMap { { "uuid", "U-3" }, { "name", "Credits" } } });
    settings.insert(QStringLiteral("selectedUUID"), QStringLiteral("U-2"));
    ASSERT_TRUE(QFPropertyList::write(folder + QStringLiteral("/Settings.plist"), settings));
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false } });
    launch();
    QListView *table = window->projectTable();
    const QRect row = table->visualRect(table->model()->index(0, 0));
    QStringList titles;
    QList<bool> pictured;
    QString checked;
    QTimer::singleShot(0, [&] {
        QMenu *menu = nullptr;
        if (!QTest::qWaitFor(
                [&] { return (menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) && menu->isVisible(); },
                5000)) {
            ADD_FAILURE() << "no context menu";
            return;
        }
        for (QAction *action : menu->actions()) {
            if (action->text() == QStringLiteral("Backup") && action->menu()) {
                for (QAction *item : action->menu()->actions()) {
                    titles << (item->isSeparator() ? QStringLiteral("-") : item->text());
                    pictured << !item->icon().isNull();
                    if (item->isChecked())
                        checked = item->text();
                }
            }
        }
        menu->close();
    });
    // A right click on the row, as the desktop delivers it.
    QContextMenuEvent click(QContextMenuEvent::Mouse, row.center(), table->viewport()->mapToGlobal(row.center()));
    QApplication::sendEvent(table->viewport(), &click);
    EXPECT_EQ(titles, QStringList({ "Entire Project", "Credits", "Middle", "Opening", "-", "Choose Sequence..." }));
    EXPECT_EQ(pictured.mid(0, 4), QList<bool>({ true, true, true, true })) << "each sequence with the sequence picture";
    EXPECT_EQ(checked, QStringLiteral("Middle"));
}

TEST_F(AppWindowTest, DeletingAProjectWithAllItsVersionsLogsItsWatchFileOnce)
{
    qfInstallWidgetAlerts();
    apptest::buildSampleStore(home.path());
    QFVersionStoreBuilder::setPreferences({ { "lastProjectID", "PODCAST" }, { "firstRun", false } });
    launch();
    QFOutlineView *outline = window->versionOutline();
    outline->setFocus();
    outline->setCurrentIndex(outline->model()->index(0, 0));
    QSignalSpy finished(controller->actions(), &QFActionController::commandFinished);
    QTimer::singleShot(0, [] { apptest::answerSheet(QStringLiteral("Remove All")); });
    QTest::keyClick(outline, Qt::Key_Backspace, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !finished.isEmpty(); }, 10000));
    EXPECT_FALSE(projectNames().contains(QStringLiteral("Podcast Mix")));
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    EXPECT_EQ(
        home.logMessages(program).count(QStringLiteral("Removing watch file for project PODCAST.localized...")), 1)
        << qPrintable(home.logMessages(program).join(u'\n'));
}

TEST_F(AppWindowTest, TheDropboxRestoreListDatesItsCopiesInTheMediumStyles)
{
    // A locale whose short styles differ from its medium ones.
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const auto restore = qScopeGuard([&] { QLocale::setDefault(before); });
    apptest::buildSampleStore(home.path());
    QFVersionStoreBuilder::setPreferences({ { "lastProjectID", "WEDDING" }, { "firstRun", false } });
    launch();
    QFDropboxRestoreController restorer(window);
    restorer.showBackupsForProject(controller->projectList().last(), controller->engine());
    ASSERT_TRUE(restorer.window());
    const QDateTime when(QDate(2024, 1, 5), QTime(15, 4, 7));
    QFNotificationCenter::defaultCenter()->postNotificationName(QStringLiteral("QFProTombrelSyncedFiles"), QVariant(),
        { { QStringLiteral("filenames"), QStringList { QStringLiteral("Wedding Cut.00002.fcp") } },
            { QStringLiteral("sizes"), QVariantList { 2048 } },
            { QStringLiteral("dates"), QVariantList { when.toUTC() } } });
    auto *table = restorer.window()->findChild<QTreeWidget *>(QStringLiteral("dropboxRestoreTable"));
    ASSERT_TRUE(table);
    ASSERT_TRUE(QTest::qWaitFor([&] { return table->topLevelItemCount() == 1; }, 5000));
    const QString shown = table->topLevelItem(0)->text(2);
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Jan 5, 2024, 3:04:07")) && shown.endsWith(QStringLiteral("PM")))
        << qPrintable(shown);
    EXPECT_EQ(shown, QFVersionListModel::mediumDateTimeText(when));
    EXPECT_TRUE(shown.contains(QStringLiteral(":04:07"))) << qPrintable(shown) << " (the time with its seconds)";
    EXPECT_TRUE(shown.contains(QLocale().monthName(1, QLocale::ShortFormat)))
        << qPrintable(shown) << " (the month by its short name)";
    EXPECT_TRUE(shown.contains(QStringLiteral("2024"))) << qPrintable(shown);
    EXPECT_FALSE(shown.contains(QLocale().dayName(5, QLocale::LongFormat))) << qPrintable(shown) << " (no weekday)";
    restorer.cancel();
}

TEST_F(AppWindowTest, ALongVersionListHasTheNewestVersionOnTopFromTheStartWhileItsChangesAreRead)
{
    // A project whose change lists were never read: every version is computed, oldest first.
    const QString folder
        = QFVersionStoreBuilder::addProject(home.file("Documents/Long Mix.sesx"), QStringLiteral("LONG"));
    const QDateTime base = QDateTime::currentDateTimeUtc().addDays(-20);
    QList<VersionSpec> versions;
    for (int i = 1; i <= 300; ++i)
        versions.append({ QStringLiteral("Long Mix.%1.sesx").arg(i, 5, 10, QLatin1Char('0')), base.addSecs(60 * i),
            QByteArray("<session n='") + QByteArray::number(i) + "'/>" });
    QFVersionStoreBuilder::addVersions(folder, versions);
    QFVersionStoreBuilder::setPreferences({ { "lastProjectID", "LONG" }, { "firstRun", false } });

    controller = std::make_unique<AppController>(true);
    QSignalSpy populated(controller.get(), &AppController::versionListPopulated);
    controller->applicationDidFinishLaunching({ QStringLiteral("Pro Tombrel") });
    window = controller->mainWindow();
    ASSERT_TRUE(window);
    // What the top row showed at every change of the list, and what the count said then.
    QFVersionListModel *model = controller->versionModel();
    QStringList tops;
    QStringList counts;
    const auto look = [&] {
        if (model->rowCount() == 0)
            return;
        const QString top
            = QFileInfo(model->index(0, 0).data(QFVersionListModel::VersionFileRole).toString()).fileName();
        if (tops.isEmpty() || tops.last() != top)
            tops << top;
        counts << window->versionCountLabel()->text();
    };
    QObject::connect(model, &QAbstractItemModel::modelReset, model, look);
    QObject::connect(model, &QAbstractItemModel::rowsInserted, model, [&](const QModelIndex &parent) {
        if (!parent.isValid())
            look();
    });
    QObject::connect(model, &QAbstractItemModel::dataChanged, model, look);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (const QList<QVariant> &call : populated)
                if (call.value(0).toString() == folder)
                    return true;
            return false;
        },
        60000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller->isBusy(); }, 20000));
    EXPECT_EQ(tops, QStringList { QStringLiteral("Long Mix.00300.sesx") })
        << "the top row was another version while the list filled";
    ASSERT_FALSE(counts.isEmpty());
    EXPECT_EQ(counts.constLast(), QStringLiteral("300 versions"));
    EXPECT_EQ(model->rowCount(), 300);
    EXPECT_EQ(model->index(299, 0).data().toString(), QStringLiteral("Version 00001"));
}
