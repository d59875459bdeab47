// What a user does with projects and versions in the main window, driven by keys, clicks and drops on
// the real widgets: restore, removal by rule, deletion, notes, back up now, drops, preview and sync.

#include "app/AppController.h"
#include "app/MainWindow.h"
#include "app/QFActionController.h"
#include "app/QFDropboxRestoreController.h"
#include "engine/QFTombrelBackup.h"
#include "app/QFOutlineView.h"
#include "app/QFProjectListModel.h"
#include "app/QFVersionListModel.h"
#include "engine/QFPreferenceKeys.h"
#include "foundation/QFAppleEvents.h"
#include "foundation/QFClock.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/platform/QFProgramRole.h"
#include "foundation/platform/QFPropertyList.h"
#include "foundation/platform/QFZip.h"
#include "foundation/ui/QFAlertPresenter.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/QFHostileArchive.h"
#include "tests/support/QFSyncTestSupport.h"
#include "tests/support/QFTempHome.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <QProgressBar>
#include <QToolBar>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

class ActionTest : public TempHomeTest {
protected:
    void SetUp() override { qfInstallWidgetAlerts(); }
    void TearDown() override
    {
        controller.reset();
        QFClock::setSource({});
        QFFileManager::setMountTableReader({});
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
    // Clicks the project's row and waits for its versions.
    void chooseProject(const QString &name)
    {
        QListView *table = window->projectTable();
        for (int row = 0; row < table->model()->rowCount(); ++row) {
            const QModelIndex index = table->model()->index(row, 0);
            if (index.data().toString() == name) {
                QSignalSpy populated(controller.get(), &AppController::versionListPopulated);
                QTest::mouseClick(
                    table->viewport(), Qt::LeftButton, {}, table->visualRect(index).topLeft() + QPoint(20, 10));
                ASSERT_TRUE(QTest::qWaitFor([&] { return !controller->isBusy(); }, 20000));
                return;
            }
        }
        ADD_FAILURE() << "no project " << name.toStdString();
    }
    // Clicks the version row (the newest is row 0) in the outline.
    void chooseVersion(int row)
    {
        QFOutlineView *outline = window->versionOutline();
        const QModelIndex index = outline->model()->index(row, 0);
        ASSERT_TRUE(index.isValid());
        outline->scrollTo(index);
        QTest::mouseClick(outline->viewport(), Qt::LeftButton, {}, outline->visualRect(index).center());
        ASSERT_EQ(outline->currentIndex().row(), row);
    }
    QAction *menuAction(const QString &name) const
    {
        auto *action = window->findChild<QAction *>(name);
        EXPECT_TRUE(action) << name.toStdString();
        return action;
    }
    void waitForCommand(QSignalSpy &finished)
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !finished.isEmpty(); }, 20000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !controller->isBusy(); }, 20000));
    }
    // The sheet of that name on screen now (closed ones may linger until deleted).
    QDialog *visibleSheet(const QString &name) const
    {
        for (QDialog *dialog : window->findChildren<QDialog *>(name)) {
            if (dialog->isVisible())
                return dialog;
        }
        return nullptr;
    }
    QStringList versionNames(const QString &folder) const
    {
        return QDir(folder + QStringLiteral("/Versions")).entryList(QDir::Files, QDir::Name);
    }
    QStringList trashed() const
    {
        return QDir(home.file(QStringLiteral(".local/share/Trash/files")))
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    }
    // A project with n versions, one an hour, the newest an hour ago.
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
    void removeByRule(int tag)
    {
        for (QAction *action : actions->removeVersionsMenu()->actions()) {
            if (action->data().toInt() == tag) {
                action->trigger();
                return;
            }
        }
        ADD_FAILURE() << "no rule " << tag;
    }

    std::unique_ptr<AppController> controller;
    MainWindow *window = nullptr;
    QFActionController *actions = nullptr;
};

TEST_F(ActionTest, RestoringTheXMLCopyOfABinaryVersionPutsTheBinaryInPlaceAndTrashesTheOldFile)
{
    const QString cut = apptest::buildSampleStore(home.path());
    home.write(QStringLiteral("Videos/Wedding Cut.fcp"), "current edit");
    launch();
    chooseProject(QStringLiteral("Wedding Cut"));
    chooseVersion(1); // version 2, shown as its XML copy
    QSignalSpy finished(actions, &QFActionController::commandFinished);
    QTest::keyClick(window, Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(apptest::answerSheet(QStringLiteral("Restore")).value(0),
        QStringLiteral("Are you sure you wish to restore this backup?"));
    EXPECT_EQ(apptest::answerSheet(), QStringList({ "Backup restored", "The backup was restored successfully." }));
    waitForCommand(finished);
    EXPECT_EQ(contents(home.file(QStringLiteral("Videos/Wedding Cut.fcp"))), QByteArray("binary 2"));
    // The replaced file, renamed aside before the copy, is in the Trash.
    ASSERT_EQ(trashed().size(), 1);
    EXPECT_EQ(contents(home.file(QStringLiteral(".local/share/Trash/files/")) + trashed().first()),
        QByteArray("current edit"));
    EXPECT_EQ(QFPreferenceKeys::readFile()->value(QStringLiteral("lastRestoredProject")).toString(),
        home.file(QStringLiteral("Videos/Wedding Cut.fcp")));
}

TEST_F(ActionTest, RestoringToADriveThatIsNotMountedChangesNothing)
{
    QFFileManager::setMountTableReader([] { return QByteArray("22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"); });
    // Listed without touching the drive's folder, which is not there.
    const QString folder = QFProject::projectWithPath(
        QStringLiteral("/mnt/QFNotMountedMedia/Edit.kdenlive"), std::nullopt, QStringLiteral("EDIT"))
                               .destinationPath();
    QFVersionStoreBuilder::addVersions(folder, { { QStringLiteral("Edit.00001.kdenlive"), {}, "one" } });
    ASSERT_FALSE(QFileInfo::exists(QStringLiteral("/mnt/QFNotMountedMedia")));
    launch();
    chooseProject(QStringLiteral("Edit"));
    chooseVersion(0);
    menuAction(QStringLiteral("restore"))->trigger();
    EXPECT_EQ(apptest::answerSheet(),
        QStringList({ "Unable to restore project", "The destination is on a volume that is not mounted." }));
    EXPECT_FALSE(QFPreferenceKeys::readFile()->contains(QStringLiteral("lastRestoredProject")));
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/mnt/QFNotMountedMedia")));
}

TEST_F(ActionTest, KeepingTheNewestTenRemovesOnlyWhatIsBeyondThem)
{
    const QString ten = projectWithVersions(QStringLiteral("Ten"), 10);
    const QString eleven = projectWithVersions(QStringLiteral("Eleven"), 11);
    launch();
    chooseProject(QStringLiteral("Ten"));
    removeByRule(4);
    EXPECT_EQ(apptest::answerSheet(),
        QStringList({ "No backups to remove", "The number of backups does not exceed the cutoff." }));
    EXPECT_EQ(versionNames(ten).size(), 10);

    chooseProject(QStringLiteral("Eleven"));
    QSignalSpy finished(actions, &QFActionController::commandFinished);
    removeByRule(4);
    EXPECT_EQ(apptest::answerSheet(QStringLiteral("Remove")).value(0),
        QStringLiteral("Are you sure you wish to remove 1 version?"));
    waitForCommand(finished);
    EXPECT_EQ(versionNames(eleven).size(), 10);
    EXPECT_FALSE(versionNames(eleven).contains(QStringLiteral("Eleven.00001.kdenlive")));
    EXPECT_TRUE(trashed().contains(QStringLiteral("Eleven.00001.kdenlive")));
}

TEST_F(ActionTest, RemovingVersionsOlderThanSevenDaysKeepsTheOneAtTheCutOff)
{
    const QDateTime now = QDateTime::currentDateTime().addSecs(-5);
    const QString folder
        = QFVersionStoreBuilder::addProject(home.file(QStringLiteral("Videos/Old.kdenlive")), QStringLiteral("OLD"));
    QFVersionStoreBuilder::addVersions(folder,
        { { QStringLiteral("Old.00001.kdenlive"), now.addDays(-7).addSecs(-1), "1" },
            { QStringLiteral("Old.00002.kdenlive"), now.addDays(-7), "2" },
            { QStringLiteral("Old.00003.kdenlive"), now, "3" } });
    QFClock::setSource([now] { return now.toMSecsSinceEpoch(); });
    launch();
    chooseProject(QStringLiteral("Old"));
    QSignalSpy finished(actions, &QFActionController::commandFinished);
    removeByRule(10);
    EXPECT_EQ(apptest::answerSheet(QStringLiteral("Remove")).value(0),
        QStringLiteral("Are you sure you wish to remove 1 version?"));
    waitForCommand(finished);
    EXPECT_EQ(versionNames(folder), QStringList({ "Old.00002.kdenlive", "Old.00003.kdenlive" }));
}

TEST_F(ActionTest, DeleteRemovesTheSelectedVersionAndControlDeleteTheWholeProject)
{
    const QString folder = projectWithVersions(QStringLiteral("Reel"), 3);
    projectWithVersions(QStringLiteral("Other"), 1);
    launch();
    chooseProject(QStringLiteral("Reel"));
    chooseVersion(0);
    QSignalSpy finished(actions, &QFActionController::commandFinished);
    QTest::keyClick(window->versionOutline(), Qt::Key_Delete);
    EXPECT_EQ(apptest::answerSheet(QStringLiteral("Remove")),
        QStringList({ "Are you sure you wish to remove this backup?", "The file will be moved to the Trash." }));
    waitForCommand(finished);
    EXPECT_EQ(versionNames(folder), QStringList({ "Reel.00001.kdenlive", "Reel.00002.kdenlive" }));

    finished.clear();
    chooseVersion(0);
    QTest::keyClick(window->versionOutline(), Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(apptest::answerSheet(QStringLiteral("Remove All")).value(0),
        QStringLiteral("Are you sure you wish to remove this project and ALL of its backups?"));
    waitForCommand(finished);
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_EQ(controller->projectList().size(), 1);
}

TEST_F(ActionTest, RemovingProjectsAsksAboutThisOneOrTheseAndTrashesTheirFolders)
{
    const QString a = projectWithVersions(QStringLiteral("Alpha"), 1);
    const QString b = projectWithVersions(QStringLiteral("Beta"), 1);
    projectWithVersions(QStringLiteral("Gamma"), 1);
    launch();
    chooseProject(QStringLiteral("Alpha"));
    menuAction(QStringLiteral("removeFile"))->trigger();
    EXPECT_EQ(apptest::answerSheet(QStringLiteral("Cancel")),
        QStringList({ "Are you sure you wish to remove this project?",
            "This will remove all versions, screenshots and synced backups." }));
    // Shift-click adds Beta to the selection.
    QListView *table = window->projectTable();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::ShiftModifier,
        table->visualRect(table->model()->index(1, 0)).topLeft() + QPoint(20, 10));
    QSignalSpy finished(actions, &QFActionController::commandFinished);
    menuAction(QStringLiteral("removeFile"))->trigger();
    EXPECT_EQ(apptest::answerSheet(QStringLiteral("Remove")).value(0),
        QStringLiteral("Are you sure you wish to remove these projects?"));
    waitForCommand(finished);
    EXPECT_FALSE(QFileInfo::exists(a));
    EXPECT_FALSE(QFileInfo::exists(b));
    EXPECT_EQ(controller->projectList().size(), 1);
    EXPECT_EQ(table->currentIndex().data().toString(), QStringLiteral("Gamma"));
}

TEST_F(ActionTest, BackUpNowFromTheSnapshotCellNumbersTheNewVersion)
{
    const QString empty = QFVersionStoreBuilder::addProject(
        home.write(QStringLiteral("Videos/Fresh.kdenlive"), "<mlt/>"), QStringLiteral("FRESH"));
    const QString seven = QFVersionStoreBuilder::addProject(
        home.write(QStringLiteral("Videos/Project.fcp"), "binary now"), QStringLiteral("SEVEN"));
    QFVersionStoreBuilder::addVersions(
        seven, { { QStringLiteral("Project.00007.fcp"), QDateTime::currentDateTime().addDays(-1), "binary 7" } });
    launch();
    QListView *table = window->projectTable();
    for (const auto &[name, folder, expected] :
        { std::tuple { QStringLiteral("Fresh"), empty, QStringLiteral("Fresh.00001.kdenlive") },
            std::tuple { QStringLiteral("Project"), seven, QStringLiteral("Project.00008.fcp") } }) {
        int row = 0;
        while (row < table->model()->rowCount() && table->model()->index(row, 0).data().toString() != name)
            ++row;
        QSignalSpy finished(actions, &QFActionController::commandFinished);
        const QRect cell = QFProjectItemDelegate::snapshotRect(table->visualRect(table->model()->index(row, 0)));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        waitForCommand(finished);
        EXPECT_TRUE(versionNames(folder).contains(expected)) << qPrintable(versionNames(folder).join(u' '));
    }
}

TEST_F(ActionTest, ANoteTypedOnSeveralLinesIsKeptOnOneAndTheLastNoteClearedTakesItsFile)
{
    const QString folder = projectWithVersions(QStringLiteral("Notes"), 2);
    launch();
    chooseProject(QStringLiteral("Notes"));
    chooseVersion(0);
    const auto annotate = [&](const QString &text) {
        QSignalSpy finished(actions, &QFActionController::commandFinished);
        // Back in the main window once the last sheet has gone.
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window, Qt::Key_E, Qt::ControlModifier);
        QDialog *sheet = nullptr;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                sheet = visibleSheet(QStringLiteral("annotateSheet"));
                return sheet && sheet->isVisible();
            },
            5000));
        auto *field = sheet->findChild<QPlainTextEdit *>(QStringLiteral("annotation"));
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Delete);
        for (const QString &line : text.split(u'\n')) {
            if (line != text.split(u'\n').constFirst())
                QTest::keyClick(field, Qt::Key_Return);
            QTest::keyClicks(field, line);
        }
        QTest::mouseClick(sheet->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Save), Qt::LeftButton);
        waitForCommand(finished);
        chooseVersion(0);
    };
    annotate(QStringLiteral("Client notes\nround two"));
    const auto notes = QFPropertyList::readDictionary(folder + QStringLiteral("/Annotations.plist"));
    ASSERT_TRUE(notes);
    EXPECT_EQ(
        notes->value(QStringLiteral("Notes.00002.kdenlive")).toString(), QStringLiteral("Client notes round two"));
    annotate(QString());
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/Annotations.plist")));
}

TEST_F(ActionTest, DroppingAFolderOpensTheImportSheetAndDroppingAListedFileChangesNothing)
{
    const QString listed = home.write(QStringLiteral("Videos/Listed.kdenlive"), "<mlt/>");
    QFVersionStoreBuilder::addProject(listed, QStringLiteral("LISTED"));
    home.write(QStringLiteral("Edits/Trailer.prproj"), "x");
    home.write(QStringLiteral("Edits/notes.txt"), "x");
    home.write(QStringLiteral("Edits/Backups/Trailer old.prproj"), "x");
    home.write(QStringLiteral("Edits/Sub/Teaser.prproj"), "x");
    // A link back up the tree, which the walk must not follow.
    ASSERT_TRUE(QFile::link(home.file(QStringLiteral("Edits")), home.file(QStringLiteral("Edits/Sub/Loop"))));
    launch();
    QListView *table = window->projectTable();
    const auto drop = [&](const QString &path) {
        QMimeData data;
        data.setUrls({ QUrl::fromLocalFile(path) });
        const QPoint at = table->viewport()->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(table->viewport(), &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(table->viewport(), &dropped);
    };
    drop(listed);
    EXPECT_EQ(controller->projectList().size(), 1);
    EXPECT_EQ(QDir(QFProject::storageRoot()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);

    QFVersionStoreBuilder::setPreferences({ { "firstRun", false }, { "importFolderAction", 1 },
        { "importFileTypes", "prproj" }, { "importSubdirs", 1 } });
    QSignalSpy shown(controller.get(), &AppController::projectListShown);
    drop(home.file(QStringLiteral("Edits")));
    QDialog *sheet = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            sheet = visibleSheet(QStringLiteral("importSheet"));
            return sheet && sheet->isVisible();
        },
        5000));
    QPushButton *import = nullptr;
    for (QAbstractButton *button : sheet->findChild<QDialogButtonBox *>()->buttons()) {
        if (button->text() == QStringLiteral("Import"))
            import = qobject_cast<QPushButton *>(button);
    }
    ASSERT_TRUE(import);
    QTest::mouseClick(import, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller->projectList().size() == 3; }, 10000));
    QStringList names;
    for (const QFProject &project : controller->projectList())
        names << project.friendlyName();
    names.sort();
    EXPECT_EQ(names, QStringList({ "Listed", "Teaser", "Trailer" }))
        << "the Backups folder and other types are skipped";
}

TEST_F(ActionTest, QuickLookShowsTheScreenshotAndNothingWithoutOne)
{
    apptest::buildSampleStore(home.path());
    QFVersionStoreBuilder::addVersions(
        home.file(QStringLiteral(".local/share/Quenfield/Pro Tombrel/Projects/WEDDING.localized")),
        { { "Wedding Cut.00004.fcp", QDateTime::currentDateTime(), "binary 4" } });
    launch();
    chooseProject(QStringLiteral("Wedding Cut"));
    chooseVersion(0); // version 4 has no screenshot
    QTest::keyClick(window->versionOutline(), Qt::Key_Space);
    QCoreApplication::processEvents();
    EXPECT_FALSE(actions->previewWindow());
    chooseVersion(1);
    QTest::keyClick(window->versionOutline(), Qt::Key_Space);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return actions->previewWindow() && actions->previewWindow()->isVisible(); }, 5000));
    EXPECT_EQ(actions->previewWindow()->windowTitle(), QStringLiteral("Version 00003 of Wedding Cut"));
    const QSize shot = QImage(
        home.file(QStringLiteral(
            ".local/share/Quenfield/Pro Tombrel/Projects/WEDDING.localized/Screenshots/Wedding Cut.00003.jpg")))
                           .size();
    EXPECT_EQ(actions->previewWindow()->size(), shot + QSize(40, 40)) << "the picture with 20 points each way";
    actions->previewWindow()->close();
}

TEST_F(ActionTest, TheSyncButtonIsForAVersionNotSyncedYet)
{
    projectWithVersions(QStringLiteral("Synced"), 2);
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false }, { "syncService", 1 } });
    launch();
    chooseProject(QStringLiteral("Synced"));
    chooseVersion(0);
    EXPECT_TRUE(actions->syncAction()->isEnabled());
    controller->markSynced({ QStringLiteral("Synced.00002.kdenlive") });
    chooseVersion(1);
    chooseVersion(0);
    EXPECT_FALSE(actions->syncAction()->isEnabled()) << "the newest is synced";
    chooseVersion(1);
    EXPECT_TRUE(actions->syncAction()->isEnabled());
}

TEST_F(ActionTest, TheSequenceChooserListsTheEditorsSequencesAndStoresTheChoice)
{
    const QString cut = apptest::buildSampleStore(home.path());
    home.write(QStringLiteral("Videos/Wedding Cut.fcp"), "binary");
    home.write(QStringLiteral("editor/open.txt"), "\n");
    home.write(QStringLiteral("editor/eTCX.xml"), apptest::xmlFixture(QStringLiteral("fcp_sample.xml")));
    QProcess editor;
    editor.start(supportProgram(QStringLiteral("qf_fake_editor")),
        { QStringLiteral("--state"), home.file(QStringLiteral("editor")) });
    ASSERT_TRUE(editor.waitForStarted(10000));
    ASSERT_TRUE(QTest::qWaitFor([] { return QFAppleEvents::isFCPRunning(); }, 10000));
    QFAppleEvents::setReplyTimeout(10000);
    launch();
    chooseProject(QStringLiteral("Wedding Cut"));
    menuAction(QStringLiteral("showSequenceDialog"))->trigger();
    QDialog *sheet = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (sheet = visibleSheet(QStringLiteral("sequenceSheet"))); }, 5000));
    auto *list = sheet->findChild<QListWidget *>(QStringLiteral("sequenceList"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->count() == 1; }, 15000));
    EXPECT_EQ(sheet->findChild<QLabel *>(QStringLiteral("sequenceStatus"))->text(),
        QStringLiteral("Select a sequence from the list below and click Choose."));
    EXPECT_EQ(list->item(0)->text(), QStringLiteral("Tords Garasje - flue"));
    QDir().mkpath(QStringLiteral(QF_RENDER_DIR));
    EXPECT_TRUE(sheet->grab().save(QStringLiteral(QF_RENDER_DIR "/sequence-sheet.png")));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
    QPushButton *choose = nullptr;
    for (QAbstractButton *button : sheet->findChild<QDialogButtonBox *>()->buttons()) {
        if (button->text() == QStringLiteral("Choose"))
            choose = qobject_cast<QPushButton *>(button);
    }
    ASSERT_TRUE(choose && choose->isEnabled());
    QTest::mouseClick(choose, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto settings = QFPropertyList::readDictionary(cut + QStringLiteral("/Settings.plist"));
            return settings
                && settings->value(QStringLiteral("selectedUUID")).toString()
                == QStringLiteral("1ABCDABA-7203-42F6-97F6-394F8612CAA1");
        },
        5000));
    QFAppleEvents::setReplyTimeout(0);
    editor.terminate();
    editor.waitForFinished(10000);
}

TEST_F(ActionTest, RendersTheSheetsLightAndDark)
{
    apptest::buildSampleStore(home.path());
    home.write(QStringLiteral("Drops/Edit.prproj"), "x");
    QDir().mkpath(QStringLiteral(QF_RENDER_DIR));
    const QPalette original = QApplication::palette();
    for (const bool dark : { false, true }) {
        apptest::applyLook(dark);
        launch();
        const QString suffix = dark ? QStringLiteral("-dark.png") : QStringLiteral("-light.png");
        chooseProject(QStringLiteral("Wedding Cut"));
        chooseVersion(1);
        actions->showAnnotateDialog();
        QDialog *sheet = visibleSheet(QStringLiteral("annotateSheet"));
        ASSERT_TRUE(sheet);
        EXPECT_TRUE(sheet->grab().save(QStringLiteral(QF_RENDER_DIR "/annotate-sheet") + suffix));
        sheet->reject();
        actions->dropPaths({ home.file(QStringLiteral("Drops")) });
        sheet = visibleSheet(QStringLiteral("importSheet"));
        ASSERT_TRUE(sheet);
        EXPECT_TRUE(sheet->grab().save(QStringLiteral(QF_RENDER_DIR "/import-sheet") + suffix));
        sheet->reject();
        EXPECT_TRUE(window->grab().save(QStringLiteral(QF_RENDER_DIR "/main-window-actions") + suffix));
        controller.reset();
    }
    QApplication::setPalette(original);
}

TEST_F(ActionTest, GatheringLogsZipsThemOntoTheDesktopUnderAFreeName)
{
    launch();
    // Nothing of this product's yet: its preference file is gathered too, so it goes first.
    ASSERT_TRUE(QFile::remove(QFProject::preferenceFilePath()));
    menuAction(QStringLiteral("gatherLogs"))->trigger();
    EXPECT_EQ(apptest::answerSheet(), QStringList({ "No logs found", "There were no logs available to gather." }));
    QFPreferenceKeys::update({ { QStringLiteral("firstRun"), false } });

    home.write(QStringLiteral(".local/state/Quenfield/Pro Tombrel.1.log"), "started\n");
    home.write(QStringLiteral(".local/state/Quenfield/ProTombrelHelper.2.log"), "scanned\n");
    home.write(QStringLiteral(".local/state/DiagnosticReports/ProTombrelHelper_2026-12-01-101010.crash"), "crash\n");
    for (int round = 0; round < 2; ++round) {
        menuAction(QStringLiteral("gatherLogs"))->trigger();
        EXPECT_EQ(apptest::answerSheet(),
            QStringList({ "Logs gathered successfully", "The gathered logs were placed on your desktop." }));
    }
    const QStringList archives = QDir(home.file(QStringLiteral("Desktop"))).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(archives.size(), 2) << qPrintable(archives.join(u' '));
    EXPECT_EQ(archives.first(), QStringLiteral("Pro Tombrel Logs.zip"));
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^Pro Tombrel Logs_\\d{14}\\.zip$")).match(archives.last()).hasMatch())
        << qPrintable(archives.last());
    const QString unpacked = home.file(QStringLiteral("unpacked"));
    QString reason;
    ASSERT_TRUE(qfUnzipArchive(home.file(QStringLiteral("Desktop/Pro Tombrel Logs.zip")), unpacked, &reason))
        << qPrintable(reason);
    EXPECT_EQ(QDir(unpacked + QStringLiteral("/QF_App_Logs")).entryList(QDir::Files, QDir::Name),
        QStringList({ "Pro Tombrel.1.log", "ProTombrelHelper.2.log", "ProTombrelHelper_2026-12-01-101010.crash",
            "com.quenfield.ProTombrel.plist" }));
    EXPECT_FALSE(QFileInfo::exists(QFLocalPaths::tempDirectory() + QStringLiteral("/QF_App_Logs")));
    // A name another user took first in the shared temporary folder is neither used nor removed.
    const QString planted = QFLocalPaths::tempDirectory() + QStringLiteral("/QF_App_Logs");
    ASSERT_TRUE(QDir().mkpath(planted));
    home.write(QStringLiteral("planted-note.txt"), "theirs\n");
    ASSERT_TRUE(QFile::copy(home.file(QStringLiteral("planted-note.txt")), planted + QStringLiteral("/theirs.txt")));
    menuAction(QStringLiteral("gatherLogs"))->trigger();
    EXPECT_EQ(apptest::answerSheet(),
        QStringList({ "Logs gathered successfully", "The gathered logs were placed on your desktop." }));
    EXPECT_EQ(QDir(planted).entryList(QDir::Files), QStringList { QStringLiteral("theirs.txt") });
    QDir(planted).removeRecursively();
    const QStringList left = QDir(QFLocalPaths::tempDirectory())
                                 .entryList({ QStringLiteral("Pro Tombrel Logs-*") }, QDir::AllEntries | QDir::Hidden);
    EXPECT_TRUE(left.isEmpty()) << qPrintable(left.join(u' '));
}

TEST_F(ActionTest, OfflineProjectsAreDeletedWithTheirVersionsAndOnlineOnesStay)
{
    const QString online = QFVersionStoreBuilder::addProject(
        home.write(QStringLiteral("Videos/Here.kdenlive"), "<mlt/>"), QStringLiteral("HERE"));
    const QString offline
        = QFVersionStoreBuilder::addProject(home.file(QStringLiteral("Videos/Gone.kdenlive")), QStringLiteral("GONE"));
    QFVersionStoreBuilder::addVersions(offline, { { QStringLiteral("Gone.00001.kdenlive"), {}, "1" } });
    QFile::remove(home.file(QStringLiteral("Videos/Gone.kdenlive")));
    // A project of a drive that is unplugged: its file is out of reach, not gone.
    QFFileManager::setMountTableReader([] { return QByteArray("22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"); });
    const QString unplugged = QFVersionStoreBuilder::addProject(
        QStringLiteral("/mnt/QFUnplugged-%1/Film.kdenlive").arg(QCoreApplication::applicationPid()),
        QStringLiteral("FILM"));
    QFVersionStoreBuilder::addVersions(unplugged, { { QStringLiteral("Film.00001.kdenlive"), {}, "1" } });
    launch();
    QSignalSpy shown(controller.get(), &AppController::projectListShown);
    menuAction(QStringLiteral("deleteOfflineProjects"))->trigger();
    EXPECT_EQ(apptest::answerSheet(QStringLiteral("Delete")),
        QStringList({ "Are you sure you want to delete all offline projects?",
            QStringLiteral("This will remove the projects and all their backups.\n\nGone (%1)")
                .arg(home.file(QStringLiteral("Videos/Gone.kdenlive"))) }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty() && !controller->isBusy(); }, 10000));
    EXPECT_FALSE(QFileInfo::exists(offline));
    EXPECT_TRUE(QFileInfo::exists(online));
    EXPECT_TRUE(QFileInfo::exists(unplugged + QStringLiteral("/Versions/Film.00001.kdenlive")))
        << "the unplugged drive's history stays";
    ASSERT_EQ(controller->projectList().size(), 2);
    EXPECT_EQ(controller->projectList().at(0).friendlyName(), QStringLiteral("Film"));
    EXPECT_EQ(controller->projectList().at(1).friendlyName(), QStringLiteral("Here"));

    // With nothing offline there is nothing to ask.
    menuAction(QStringLiteral("deleteOfflineProjects"))->trigger();
    EXPECT_EQ(apptest::answerSheet(),
        QStringList(
            { "No offline projects", "Every project file is in its place, or on a drive that is not mounted now." }));
    EXPECT_TRUE(QFileInfo::exists(unplugged));
}

TEST_F(ActionTest, AFirstRunKeepsTheWatchFoldersAndIntervalSetBeforeAndAddsTheDefaults)
{
    // Set from a terminal before the window was ever opened (tombrel watch add, tombrel prefs set).
    const QString edits = home.file(QStringLiteral("Edits"));
    const QString movies = QFLocalPaths::movieDirectory();
    QFVersionStoreBuilder::setPreferences(
        { { "watchFolders",
              QVariantList { QVariantMap { { "folder", edits }, { "extensions", "avb" } },
                  QVariantMap { { "folder", movies }, { "extensions", "kdenlive" } } } },
            { "backupMinIntervalEnabled", 0 }, { "backupMinInterval", 5 } });
    controller = std::make_unique<AppController>(true);
    QSignalSpy shown(controller.get(), &AppController::projectListShown);
    controller->applicationDidFinishLaunching({ QStringLiteral("Pro Tombrel") });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty() && !controller->isBusy(); }, 20000));

    const auto prefs = QFPropertyList::readDictionary(QFProject::preferenceFilePath());
    ASSERT_TRUE(prefs);
    EXPECT_FALSE(prefs->value("firstRun").toBool());
    EXPECT_EQ(prefs->value("backupMinIntervalEnabled").toInt(), 0);
    EXPECT_EQ(prefs->value("backupMinInterval").toInt(), 5);
    QStringList folders;
    for (const QVariant &element : prefs->value("watchFolders").toList())
        folders << element.toMap().value("folder").toString() + u' ' + element.toMap().value("extensions").toString();
    const QString documents = QFLocalPaths::documentDirectory(true);
    EXPECT_EQ(folders,
        QStringList({ edits + QStringLiteral(" avb"), movies + QStringLiteral(" kdenlive"),
            documents + QStringLiteral("/Avid Projects avb,avp"), documents + QStringLiteral("/Adobe/Audition sesx"),
            documents + QStringLiteral("/Adobe/Prelude/1.0/Projects plproj"),
            documents + QStringLiteral("/Adobe/Premiere Pro prproj") }))
        << "the user's folders as they were, then the defaults not watched yet";
}

// --- Dropbox ------------------------------------------------------------------------------------------

class SyncActionTest : public ActionTest {
protected:
    void SetUp() override
    {
        ActionTest::SetUp();
        // The application holds the account and talks to Dropbox itself.
        QFProgram::declareRole(QFProgramRole::Application);
        ASSERT_TRUE(dropbox.listen());
        cut = apptest::buildSampleStore(home.path());
    }
    void launchLinked()
    {
        launch();
        synctest::pointAtFake(dropbox);
        synctest::linkAccount(dropbox);
        controller->engine()->removeRestClient();
    }
    // A zip holding a version file of that name and contents, as an upload leaves it in Dropbox.
    QByteArray archiveOf(const QString &name, const QByteArray &data)
    {
        const QString file = home.write(QStringLiteral("made/") + name, data);
        const QString archive = home.file(QStringLiteral("made/") + name + QStringLiteral(".zip"));
        QString reason;
        EXPECT_TRUE(qfZipItem(file, archive, false, &reason)) << reason.toStdString();
        return contents(archive);
    }
    QDialog *openRestoreSheet()
    {
        QAction *action = menuAction(QStringLiteral("restoreFromDropbox"));
        EXPECT_TRUE(action->isEnabled());
        action->trigger();
        QDialog *sheet = nullptr;
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return (sheet = visibleSheet(QStringLiteral("dropboxRestoreSheet"))); }, 5000));
        return sheet;
    }
    QString projectFile() const { return home.file(QStringLiteral("Videos/Wedding Cut.fcp")); }

    void TearDown() override
    {
        ActionTest::TearDown();
        QFProgram::declareRole(QFProgramRole::Unknown);
    }

    QFFakeDropbox dropbox;
    QString cut;
};

TEST_F(SyncActionTest, RestoreFromDropboxListsTheCopiesAndSwapsTheChosenOneIn)
{
    launchLinked();
    dropbox.putFile(QStringLiteral("/WEDDING/Wedding Cut.00002.fcp.zip"),
        archiveOf(QStringLiteral("Wedding Cut.00002.fcp"), "second, from Dropbox"));
    dropbox.putFile(QStringLiteral("/WEDDING/Wedding Cut.00003.fcp.zip"),
        archiveOf(QStringLiteral("Wedding Cut.00003.fcp"), "third, from Dropbox"));
    const QByteArray before = contents(projectFile());
    chooseProject(QStringLiteral("Wedding Cut"));
    QDialog *sheet = openRestoreSheet();
    ASSERT_TRUE(sheet);
    auto *table = sheet->findChild<QTreeWidget *>(QStringLiteral("dropboxRestoreTable"));
    auto *restore = sheet->findChild<QPushButton *>(QStringLiteral("dropboxRestoreButton"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return table->topLevelItemCount() == 2; }, 5000));
    EXPECT_TRUE(restore->isEnabled());
    EXPECT_EQ(table->topLevelItem(0)->text(0), QStringLiteral("Wedding Cut.00002.fcp"));
    EXPECT_FALSE(table->topLevelItem(0)->text(1).isEmpty());
    EXPECT_FALSE(table->topLevelItem(0)->text(2).isEmpty());
    // The versions listed are marked as synced in the window too (the list shows their XML copies).
    EXPECT_TRUE(controller->versionModel()->isSynced(QStringLiteral("Wedding Cut.00003.xml")));
    EXPECT_FALSE(controller->versionModel()->isSynced(QStringLiteral("Wedding Cut.00001.xml")));

    // Cancelling the question changes nothing and downloads nothing.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->topLevelItem(0)).center());
    QTest::mouseClick(restore, Qt::LeftButton);
    EXPECT_EQ(apptest::answerSheet(QStringLiteral("Cancel")).value(0),
        QStringLiteral("Are you sure you wish to restore this backup?"));
    EXPECT_EQ(dropbox.requestCount(QStringLiteral("/2/files/download")), 0);
    EXPECT_EQ(contents(projectFile()), before);

    QTest::mouseClick(restore, Qt::LeftButton);
    EXPECT_EQ(apptest::answerSheet(QStringLiteral("Restore")).value(0),
        QStringLiteral("Are you sure you wish to restore this backup?"));
    const QStringList done = apptest::answerSheet();
    EXPECT_EQ(done.value(0), QStringLiteral("Backup restored"));
    EXPECT_EQ(done.value(1), QStringLiteral("The backup was restored successfully."));
    EXPECT_EQ(contents(projectFile()), QByteArray("second, from Dropbox"));
    // The file it replaced went to the Trash under its side name.
    EXPECT_EQ(trashed(), QStringList { QStringLiteral("Wedding Cut 2.fcp") });
    EXPECT_EQ(contents(home.file(QStringLiteral(".local/share/Trash/files/Wedding Cut 2.fcp"))), before);
    EXPECT_FALSE(sheet->isVisible());
}

TEST_F(SyncActionTest, TheRestoreCommandIsNamedAfterTheStoreTheCopiesAreKeptIn)
{
    launchLinked();
    QAction *restore = menuAction(QStringLiteral("restoreFromDropbox"));
    auto *bar = window->findChild<QMenuBar *>();
    ASSERT_TRUE(bar);
    QMenu *project = nullptr;
    for (QAction *item : bar->actions()) {
        if (item->text() == QLatin1String("&Project"))
            project = item->menu();
    }
    ASSERT_TRUE(project);
    // The user opens the Project menu from the menu bar, reads the command, and closes the menu.
    const auto readCommand = [&] {
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(project->menuAction()).center());
        EXPECT_TRUE(QTest::qWaitFor([&] { return project->isVisible(); }, 5000));
        const QString text = restore->text();
        QTest::keyClick(project, Qt::Key_Escape);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !project->isVisible(); }, 5000));
        return text;
    };
    EXPECT_EQ(readCommand(), QStringLiteral("Restore from &Dropbox…"));
    ASSERT_TRUE(QFPreferenceKeys::update(
        { { QStringLiteral("syncService"), 2 }, { QStringLiteral("syncRemote"), QStringLiteral("studio:versions") } }));
    EXPECT_EQ(readCommand(), QStringLiteral("Restore from &Remote…"));
}

TEST_F(SyncActionTest, AnEmptyListKeepsRestoreOffAndAMissingProjectFileIsSimplyPutInPlace)
{
    launchLinked();
    chooseProject(QStringLiteral("Wedding Cut"));
    QDialog *sheet = openRestoreSheet();
    ASSERT_TRUE(sheet);
    auto *spinner = sheet->findChild<QProgressBar *>(QStringLiteral("dropboxRestoreSpinner"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !spinner->isVisible(); }, 5000));
    EXPECT_FALSE(sheet->findChild<QPushButton *>(QStringLiteral("dropboxRestoreButton"))->isEnabled());
    QTest::mouseClick(sheet->findChild<QPushButton *>(QStringLiteral("dropboxRestoreCancel")), Qt::LeftButton);
    EXPECT_FALSE(sheet->isVisible());

    dropbox.putFile(QStringLiteral("/WEDDING/Wedding Cut.00001.fcp.zip"),
        archiveOf(QStringLiteral("Wedding Cut.00001.fcp"), "first, from Dropbox"));
    ASSERT_TRUE(QFile::remove(projectFile()));
    sheet = openRestoreSheet();
    auto *table = sheet->findChild<QTreeWidget *>(QStringLiteral("dropboxRestoreTable"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return table->topLevelItemCount() == 1; }, 5000));
    QTest::mouseClick(sheet->findChild<QPushButton *>(QStringLiteral("dropboxRestoreButton")), Qt::LeftButton);
    EXPECT_EQ(apptest::answerSheet(QStringLiteral("Restore")).value(0),
        QStringLiteral("Are you sure you wish to restore this backup?"));
    EXPECT_EQ(apptest::answerSheet().value(0), QStringLiteral("Backup restored"));
    EXPECT_EQ(contents(projectFile()), QByteArray("first, from Dropbox"));
    EXPECT_TRUE(trashed().isEmpty());
}

TEST_F(SyncActionTest, TheSyncButtonUploadsTheVersionAndMarksItOrTellsWhyNot)
{
    launchLinked();
    chooseProject(QStringLiteral("Wedding Cut"));
    chooseVersion(0);
    QAction *sync = actions->syncAction();
    ASSERT_TRUE(sync->isEnabled());
    QWidget *button = window->toolbar()->widgetForAction(sync);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(window->versionCountLabel()->text(), QStringLiteral("Syncing..."));
    // The version file goes up, not the XML copy the list shows for it.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return controller->versionModel()->isSynced(QStringLiteral("Wedding Cut.00003.xml")); }, 10000));
    EXPECT_TRUE(dropbox.hasFile(QStringLiteral("/WEDDING/Wedding Cut.00003.fcp.zip")));
    // Choosing the project again lists its folder in Dropbox: the mark stays, the others stay unmarked.
    controller->versionModel()->setSyncedFiles({});
    chooseProject(QStringLiteral("Podcast Mix"));
    chooseProject(QStringLiteral("Wedding Cut"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return controller->versionModel()->isSynced(QStringLiteral("Wedding Cut.00003.xml")); }, 10000));
    EXPECT_FALSE(controller->versionModel()->isSynced(QStringLiteral("Wedding Cut.00001.xml")));
    chooseVersion(0);
    EXPECT_FALSE(sync->isEnabled());
    EXPECT_NE(window->versionCountLabel()->text(), QStringLiteral("Syncing..."));

    chooseVersion(1);
    dropbox.failNext(QStringLiteral("/2/files/upload"), 409, "{\"error_summary\": \"path/insufficient_space/..\"}");
    QTest::mouseClick(button, Qt::LeftButton);
    const QStringList told = apptest::answerSheet();
    EXPECT_EQ(told.value(0), QStringLiteral("Error uploading file"));
    EXPECT_EQ(told.value(1), QStringLiteral("path/insufficient_space/.."));
    EXPECT_FALSE(controller->versionModel()->isSynced(QStringLiteral("Wedding Cut.00002.xml")));
    EXPECT_EQ(dropbox.filePaths(), QStringList { QStringLiteral("/WEDDING/Wedding Cut.00003.fcp.zip") });
}

TEST_F(SyncActionTest, RestoreFromDropboxShowsNoNameOutsideTheProjectsFolderAndRestoresNone)
{
    launchLinked();
    dropbox.putFile(QStringLiteral("/WEDDING/x.zip"), archiveOf(QStringLiteral("secret.fcp"), "the attacker's"));
    dropbox.listFileAs(QStringLiteral("/WEDDING/x.zip"), QStringLiteral("../../secret.fcp.zip"));
    dropbox.putFile(QStringLiteral("/WEDDING/y.zip"), archiveOf(QStringLiteral("forged.fcp"), "the attacker's"));
    dropbox.listFileAs(
        QStringLiteral("/WEDDING/y.zip"), QStringLiteral("Wedding Cut.00009.fcp\nWedding Cut.00001.fcp.zip"));
    dropbox.putFile(QStringLiteral("/WEDDING/Wedding Cut.00002.fcp.zip"),
        archiveOf(QStringLiteral("Wedding Cut.00002.fcp"), "second"));
    const QByteArray before = contents(projectFile());
    chooseProject(QStringLiteral("Wedding Cut"));
    QDialog *sheet = openRestoreSheet();
    ASSERT_TRUE(sheet);
    auto *table = sheet->findChild<QTreeWidget *>(QStringLiteral("dropboxRestoreTable"));
    auto *spinner = sheet->findChild<QProgressBar *>(QStringLiteral("dropboxRestoreSpinner"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !spinner->isVisible(); }, 5000));
    ASSERT_EQ(table->topLevelItemCount(), 1);
    EXPECT_EQ(table->topLevelItem(0)->text(0), QStringLiteral("Wedding Cut.00002.fcp"));

    // A list that names one anyway: the restore refuses it, with the name, before any download.
    auto *restorer = actions->findChild<QFDropboxRestoreController *>();
    ASSERT_TRUE(restorer);
    restorer->syncedFilesReceived({ { QStringLiteral("filenames"), QStringList { QStringLiteral("../../secret.fcp") } },
        { QStringLiteral("remoteNames"), QStringList { QStringLiteral("../../secret.fcp.zip") } },
        { QStringLiteral("sizes"), QVariantList { 200 } },
        { QStringLiteral("dates"), QVariantList { QDateTime::currentDateTimeUtc() } } });
    ASSERT_EQ(table->topLevelItemCount(), 1);
    QTest::mouseClick(sheet->findChild<QPushButton *>(QStringLiteral("dropboxRestoreButton")), Qt::LeftButton);
    EXPECT_EQ(apptest::answerSheet(QStringLiteral("Restore")).value(0),
        QStringLiteral("Are you sure you wish to restore this backup?"));
    const QStringList refused = apptest::answerSheet();
    EXPECT_EQ(refused.value(0), QStringLiteral("Failed to restore project"));
    EXPECT_TRUE(refused.value(1).contains(
        QStringLiteral("“../../secret.fcp.zip” is not a file of the project's folder in Dropbox")))
        << refused.value(1).toStdString();
    EXPECT_EQ(dropbox.requestCount(QStringLiteral("/2/files/download")), 0);
    EXPECT_EQ(contents(projectFile()), before);
    EXPECT_TRUE(trashed().isEmpty());
}

TEST_F(SyncActionTest, RestoreFromDropboxTakesAnUncompressedCopyAndRefusesALink)
{
    launchLinked();
    dropbox.putFile(QStringLiteral("/WEDDING/Wedding Cut.00004.fcp"), "fourth, uncompressed");
    const QString link = home.file(QStringLiteral("made/link.zip"));
    QDir().mkpath(home.file(QStringLiteral("made")));
    ASSERT_TRUE(hostilezip::write(link, { { "Wedding Cut.00002.fcp", "Wedding Cut.fcp", 0120777 } }));
    dropbox.putFile(QStringLiteral("/WEDDING/Wedding Cut.00002.fcp.zip"), contents(link));
    chooseProject(QStringLiteral("Wedding Cut"));
    QDialog *sheet = openRestoreSheet();
    ASSERT_TRUE(sheet);
    auto *table = sheet->findChild<QTreeWidget *>(QStringLiteral("dropboxRestoreTable"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return table->topLevelItemCount() == 2; }, 5000));
    EXPECT_EQ(table->topLevelItem(0)->text(0), QStringLiteral("Wedding Cut.00002.fcp"));
    EXPECT_EQ(table->topLevelItem(1)->text(0), QStringLiteral("Wedding Cut.00004.fcp"));

    {
        SCOPED_TRACE("the copy that went up uncompressed is the version itself");
        QTest::mouseClick(
            table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->topLevelItem(1)).center());
        QTest::mouseClick(sheet->findChild<QPushButton *>(QStringLiteral("dropboxRestoreButton")), Qt::LeftButton);
        EXPECT_EQ(apptest::answerSheet(QStringLiteral("Restore")).value(0),
            QStringLiteral("Are you sure you wish to restore this backup?"));
        EXPECT_EQ(apptest::answerSheet().value(0), QStringLiteral("Backup restored"));
        EXPECT_EQ(contents(projectFile()), QByteArray("fourth, uncompressed"));
    }
    {
        SCOPED_TRACE("an archive whose version is a link");
        sheet = openRestoreSheet();
        ASSERT_TRUE(sheet);
        table = sheet->findChild<QTreeWidget *>(QStringLiteral("dropboxRestoreTable"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return table->topLevelItemCount() == 2; }, 5000));
        QTest::mouseClick(
            table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->topLevelItem(0)).center());
        QTest::mouseClick(sheet->findChild<QPushButton *>(QStringLiteral("dropboxRestoreButton")), Qt::LeftButton);
        EXPECT_EQ(apptest::answerSheet(QStringLiteral("Restore")).value(0),
            QStringLiteral("Are you sure you wish to restore this backup?"));
        const QStringList failed = apptest::answerSheet();
        EXPECT_EQ(failed.value(0), QStringLiteral("Failed to restore project"));
        EXPECT_TRUE(failed.value(1).startsWith(QStringLiteral("Unable to copy file.")));
        EXPECT_TRUE(failed.value(1).contains(QStringLiteral("symbolic link"))) << failed.value(1).toStdString();
        EXPECT_FALSE(QFileInfo(projectFile()).isSymLink());
        EXPECT_EQ(contents(projectFile()), QByteArray("fourth, uncompressed"));
    }
    const QStringList left
        = QDir(QFLocalPaths::tempDirectory())
              .entryList({ QStringLiteral("ProTombrel-transfer-*") }, QDir::AllEntries | QDir::Hidden);
    EXPECT_EQ(left, QStringList());
}

TEST_F(SyncActionTest, DeletingAFinalCutProVersionRemovesItsCopyFromDropbox)
{
    launchLinked();
    dropbox.putFile(QStringLiteral("/WEDDING/Wedding Cut.00003.fcp.zip"),
        archiveOf(QStringLiteral("Wedding Cut.00003.fcp"), "third"));
    dropbox.putFile(QStringLiteral("/WEDDING/Wedding Cut.00002.fcp"), "second, uncompressed");
    chooseProject(QStringLiteral("Wedding Cut"));
    // The list shows each version by its XML copy.
    chooseVersion(0);
    QSignalSpy finished(actions, &QFActionController::commandFinished);
    QTest::keyClick(window->versionOutline(), Qt::Key_Delete);
    EXPECT_EQ(apptest::answerSheet(QStringLiteral("Remove")).value(0),
        QStringLiteral("Are you sure you wish to remove this backup?"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !finished.isEmpty(); }, 10000));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return !dropbox.hasFile(QStringLiteral("/WEDDING/Wedding Cut.00003.fcp.zip")); }, 10000));
    finished.clear();
    chooseVersion(0);
    QTest::keyClick(window->versionOutline(), Qt::Key_Delete);
    EXPECT_EQ(apptest::answerSheet(QStringLiteral("Remove")).value(0),
        QStringLiteral("Are you sure you wish to remove this backup?"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !finished.isEmpty(); }, 10000));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return !dropbox.hasFile(QStringLiteral("/WEDDING/Wedding Cut.00002.fcp")); }, 10000));
    EXPECT_EQ(dropbox.filePaths(), QStringList());
}

TEST_F(SyncActionTest, RenderTheRestoreSheet)
{
    QDir().mkpath(QStringLiteral(QF_RENDER_DIR));
    for (int i = 1; i <= 4; ++i)
        dropbox.putFile(QStringLiteral("/WEDDING/Wedding Cut.%1.fcp.zip").arg(i, 5, 10, QLatin1Char('0')),
            QByteArray(40000 * i, 'x'), QDateTime(QDate(2026, 12, 1 + i), QTime(9 + i, 15), Qt::UTC));
    const QPalette original = QApplication::palette();
    for (const bool dark : { false, true }) {
        apptest::applyLook(dark);
        launchLinked();
        chooseProject(QStringLiteral("Wedding Cut"));
        QDialog *sheet = openRestoreSheet();
        ASSERT_TRUE(sheet);
        auto *table = sheet->findChild<QTreeWidget *>(QStringLiteral("dropboxRestoreTable"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return table->topLevelItemCount() == 4; }, 5000));
        const QString suffix = dark ? QStringLiteral("-dark.png") : QStringLiteral("-light.png");
        EXPECT_TRUE(sheet->grab().save(QStringLiteral(QF_RENDER_DIR "/dropbox-restore-sheet") + suffix));
        QTest::mouseClick(sheet->findChild<QPushButton *>(QStringLiteral("dropboxRestoreCancel")), Qt::LeftButton);
        controller.reset();
    }
    QApplication::setPalette(original);
}

} // namespace
