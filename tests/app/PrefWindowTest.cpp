// The preference window as a user meets it: its panes, the watch-folder tables and their sheets, the
// retention group, the sync pane, the autosave switch, and what reaches the helper and the files.

#include "app/AppController.h"
#include "app/MainWindow.h"
#include "app/QFPrefController.h"
#include "app/QFSoftwareUpdate.h"
#include "app/QFWatchFolderTable.h"
#include "engine/QFHelperAgent.h"
#include "engine/QFPreferenceKeys.h"
#include "engine/QFPreferenceSnapshot.h"
#include "foundation/QFAppleEvents.h"
#include "foundation/QFHelperConnection.h"
#include "foundation/QFLaunchd.h"
#include "foundation/platform/QFPropertyList.h"
#include "foundation/ui/QFAlertPresenter.h"
#include "tests/app/AppTestSupport.h"
#include "engine/QFDropboxAccount.h"
#include "tests/support/QFSyncTestSupport.h"
#include "tests/support/QFTempHome.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDBusConnection>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

// The helper's service on the private test bus: counts what the window tells it.
class FakeHelper : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.quenfield.ProTombrelHelper")

public:
    int configurationUpdates = 0;

public Q_SLOTS:
    void updateConfiguration() { ++configurationUpdates; }
    void startBackupScan() { }
};

class PrefWindowTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
        qfInstallWidgetAlerts();
        QDBusConnection bus = QDBusConnection::sessionBus();
        ASSERT_TRUE(bus.registerObject(QFHelperConnection::objectPath(), &helper, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(bus.registerService(QFHelperConnection::serviceName()));
        QDir().mkpath(home.file(QStringLiteral("Videos")));
        QDir().mkpath(home.file(QStringLiteral("Documents")));
    }
    void TearDown() override
    {
        controller.reset();
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(QFHelperConnection::serviceName());
        bus.unregisterObject(QFHelperConnection::objectPath());
    }

    // Starts the application and opens the preferences with the menu's key.
    void open()
    {
        controller = std::make_unique<AppController>(true);
        QSignalSpy shown(controller.get(), &AppController::projectListShown);
        controller->applicationDidFinishLaunching({ QStringLiteral("Pro Tombrel") });
        MainWindow *window = controller->mainWindow();
        ASSERT_TRUE(window);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty() && !controller->isBusy(); }, 20000));
        window->activateWindow();
        QTest::keyClick(window, Qt::Key_Comma, Qt::ControlModifier);
        prefs = controller->prefController();
        ASSERT_TRUE(prefs);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(prefs));
        prefs->resize(720, 560);
    }
    // Opens the preferences again with the menu's key, from the main window.
    void reopen()
    {
        MainWindow *window = controller->mainWindow();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window, Qt::Key_Comma, Qt::ControlModifier);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(prefs));
    }
    template <typename T> T *control(const QString &name) const
    {
        T *found = prefs->findChild<T *>(name);
        EXPECT_TRUE(found) << "no control " << name.toStdString();
        return found;
    }
    void showPane(const QString &name)
    {
        auto *bar = prefs->findChild<QToolBar *>(QStringLiteral("paneToolbar"));
        for (QAction *action : bar->actions()) {
            if (action->objectName() == name) {
                QTest::mouseClick(bar->widgetForAction(action), Qt::LeftButton);
                return;
            }
        }
        ADD_FAILURE() << "no pane " << name.toStdString();
    }
    static QStringList answerSheet(const QString &button = QStringLiteral("OK"))
    {
        return apptest::answerSheet(button);
    }
    // Types a path into the folder panel shown next and presses Return.
    static void chooseInPanel(const QString &path)
    {
        QFileDialog *panel = nullptr;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                panel = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
                return panel && panel->isVisible();
            },
            5000))
            << "no folder panel";
        auto *name = panel->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        ASSERT_TRUE(name);
        // Typed where the panel's keyboard focus is, so that the panel reads it as typed.
        panel->activateWindow();
        name->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([&] { return name->hasFocus(); }, 5000));
        name->selectAll();
        QTest::keyClicks(name, path);
        // The completion list that typing opened is put away first, as a click elsewhere would.
        if (QWidget *popup = QApplication::activePopupWidget())
            popup->close();
        // The panel's own button (Return would open the folder typed).
        auto *buttons = panel->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        ASSERT_TRUE(buttons);
        QPushButton *accept = qobject_cast<QPushButton *>(buttons->button(QDialogButtonBox::Open));
        if (!accept)
            accept = qobject_cast<QPushButton *>(buttons->buttons().value(0));
        ASSERT_TRUE(accept);
        ASSERT_TRUE(QTest::qWaitFor([&] { return accept->isEnabled(); }, 5000));
        QTest::mouseClick(accept, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !panel->isVisible(); }, 5000)) << qPrintable(name->text());
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return !QApplication::activeModalWidget() || QApplication::activeModalWidget() != panel; }, 5000));
    }
    // Clicks a check box or radio button on its box, as a person aims.
    static void click(QAbstractButton *button)
    {
        ASSERT_TRUE(button);
        const bool hasIndicator = qobject_cast<QCheckBox *>(button) || qobject_cast<QRadioButton *>(button);
        QTest::mouseClick(
            button, Qt::LeftButton, {}, hasIndicator ? QPoint(8, button->height() / 2) : button->rect().center());
    }
    // Types into the editor open in a table and commits it with Return.
    static void typeIntoOpenEditor(QTableWidget *table, const QString &text)
    {
        QLineEdit *editor = nullptr;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                editor = table->viewport()->findChild<QLineEdit *>();
                return editor && editor->isVisible();
            },
            5000))
            << "no open editor";
        editor->selectAll();
        QTest::keyClicks(editor, text);
        QTest::keyClick(editor, Qt::Key_Return);
    }
    static QVariantList stored(const char *key)
    {
        return QFPreferenceKeys::readFile().value_or(QVariantMap()).value(QString::fromLatin1(key)).toList();
    }
    static QVariant storedValue(const char *key)
    {
        return QFPreferenceKeys::readFile().value_or(QVariantMap()).value(QString::fromLatin1(key));
    }
    bool helperToldAfter(int before) const
    {
        return QTest::qWaitFor([&] { return helper.configurationUpdates > before; }, 5000);
    }

    FakeHelper helper;
    std::unique_ptr<AppController> controller;
    QFPrefController *prefs = nullptr;
};

} // namespace

TEST_F(PrefWindowTest, TheMenuKeyOpensTheGeneralPaneAndTheToolbarChoosesTheOthers)
{
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false } });
    open();
    EXPECT_EQ(prefs->currentPane(), QFPrefController::General);
    EXPECT_TRUE(prefs->paneWidget(QFPrefController::General)->isVisible());
    const QStringList panes = { "projects", "performance", "management", "filtering", "sync", "general" };
    for (int i = 0; i < panes.size(); ++i) {
        showPane(panes.at(i));
        const auto expected = QFPrefController::Pane((i + 1) % 6);
        EXPECT_EQ(prefs->currentPane(), expected) << qPrintable(panes.at(i));
        EXPECT_TRUE(prefs->paneWidget(expected)->isVisible());
        EXPECT_TRUE(prefs->paneAction(expected)->isChecked());
    }

    // Closing the window tells the helper.
    const int before = helper.configurationUpdates;
    prefs->close();
    EXPECT_TRUE(helperToldAfter(before));
}

TEST_F(PrefWindowTest, AWatchedFolderIsRefusedAgainAndSoIsOneInsideItButNotANeighbourWithALongerName)
{
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false } });
    const QString movies = home.file(QStringLiteral("Movies"));
    for (const char *folder : { "Movies/Old", "Movies2" })
        QDir().mkpath(home.file(QString::fromLatin1(folder)));
    open();
    showPane(QStringLiteral("projects"));
    QFWatchFolderTable *folders = prefs->watchFolderTable();

    // Added by browsing: the folder alone, then the extensions typed into the open cell.
    int before = helper.configurationUpdates;
    QTest::mouseClick(folders->addButton(), Qt::LeftButton);
    chooseInPanel(movies);
    ASSERT_TRUE(QTest::qWaitFor([&] { return stored("watchFolders").size() == 1; }, 5000));
    EXPECT_EQ(stored("watchFolders").first().toMap(), QVariantMap({ { "folder", movies } }))
        << "no extensions until typed";
    EXPECT_TRUE(helperToldAfter(before));
    typeIntoOpenEditor(folders->table(), QStringLiteral(" .Kdenlive, MLT"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return stored("watchFolders").first().toMap().contains("extensions"); }, 5000));
    EXPECT_EQ(stored("watchFolders").first().toMap().value("extensions"), QStringLiteral("kdenlive,mlt"));
    EXPECT_EQ(folders->table()->item(0, 1)->text(), QStringLiteral("kdenlive,mlt"));

    // The same folder again, and one inside it: sheets, and the list as it was.
    QTest::mouseClick(folders->addButton(), Qt::LeftButton);
    chooseInPanel(movies);
    EXPECT_EQ(answerSheet(), QStringList({ "Duplicate watch folder", movies + " is already being watched" }));
    QTest::mouseClick(folders->addButton(), Qt::LeftButton);
    chooseInPanel(movies + QStringLiteral("/Old"));
    EXPECT_EQ(answerSheet(),
        QStringList({ "Parent already watched",
            "The parent folder " + movies
                + " is already being watched. You do not need to add subfolders individually." }));
    EXPECT_EQ(stored("watchFolders").size(), 1);
    EXPECT_EQ(folders->table()->rowCount(), 1);

    // A neighbour whose name only begins like the watched one is a folder of its own.
    QTest::mouseClick(folders->addButton(), Qt::LeftButton);
    chooseInPanel(home.file(QStringLiteral("Movies2")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return stored("watchFolders").size() == 2; }, 5000));
    EXPECT_EQ(stored("watchFolders").at(1).toMap().value("folder"), home.file(QStringLiteral("Movies2")));
    typeIntoOpenEditor(folders->table(), QStringLiteral("blend"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return stored("watchFolders").at(1).toMap().value("extensions") == QStringLiteral("blend"); }, 5000));

    // Removing the selected row.
    before = helper.configurationUpdates;
    QTableWidget *table = folders->table();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(0, 0)).center());
    QTest::mouseClick(folders->removeButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return stored("watchFolders").size() == 1; }, 5000));
    EXPECT_EQ(stored("watchFolders").first().toMap().value("folder"), home.file(QStringLiteral("Movies2")));
    EXPECT_TRUE(helperToldAfter(before));
}

TEST_F(PrefWindowTest, DriveFoldersAreTypedInPlaceAndPresetsAreAppendedAsTheyAre)
{
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false } });
    open();
    showPane(QStringLiteral("projects"));
    QFWatchFolderTable *drives = prefs->driveFolderTable();

    QTest::mouseClick(drives->addButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return stored("watchDriveFolders").size() == 1; }, 5000));
    EXPECT_EQ(stored("watchDriveFolders").first().toMap(), QVariantMap({ { "folder", QString() } }));
    typeIntoOpenEditor(drives->table(), QStringLiteral("Final Cut Events"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return stored("watchDriveFolders").first().toMap().value("folder") == QStringLiteral("/Final Cut Events");
        },
        5000));

    // The preset menu under its button; the same preset twice gives two rows.
    for (int i = 0; i < 2; ++i) {
        QTimer::singleShot(0, [] {
            QMenu *menu = nullptr;
            if (!QTest::qWaitFor(
                    [&] {
                        menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
                        return menu && menu->isVisible();
                    },
                    5000)) {
                ADD_FAILURE() << "no preset menu";
                return;
            }
            for (QAction *action : menu->actions()) {
                if (action->text() == QStringLiteral("Final Cut Projects on Every Drive")) {
                    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
                    return;
                }
            }
            ADD_FAILURE() << "no preset";
            menu->close();
        });
        QTest::mouseClick(drives->presetButton(), Qt::LeftButton);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return stored("watchDriveFolders").size() == 3; }, 5000));
    const QVariantMap preset { { "folder", "/Final Cut Projects" }, { "extensions", "fcpproject" } };
    EXPECT_EQ(stored("watchDriveFolders").at(1).toMap(), preset);
    EXPECT_EQ(stored("watchDriveFolders").at(2).toMap(), preset);
    EXPECT_EQ(drives->table()->rowCount(), 3);
}

TEST_F(PrefWindowTest, RegisteredDefaultsAreShownWithoutBeingWrittenAndTheRetentionSwitchGovernsItsGroup)
{
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false } });
    open();
    showPane(QStringLiteral("management"));
    auto *days = control<QSpinBox>(QStringLiteral("currentDayCount"));
    EXPECT_EQ(days->value(), 3);
    EXPECT_FALSE(storedValue("currentDayCount").isValid()) << "a registered default stays in memory";
    EXPECT_EQ(QFPreferenceSnapshot::read().integer(QStringLiteral("currentDayCount"), 3), 3);

    const QList<QWidget *> group = { control<QCheckBox>(QStringLiteral("backupManagementMinLimitSet")), days,
        control<QSpinBox>(QStringLiteral("currentBackupLimit")), control<QComboBox>(QStringLiteral("oldBackupType")),
        control<QSpinBox>(QStringLiteral("oldBackupLimit")), control<QCheckBox>(QStringLiteral("deleteBackupSet")),
        control<QSpinBox>(QStringLiteral("deleteBackupCount")), control<QRadioButton>(QStringLiteral("removalType")),
        control<QCheckBox>(QStringLiteral("keepAnnotatedVersions")) };
    auto *manage = control<QCheckBox>(QStringLiteral("manageBackups"));
    ASSERT_TRUE(manage->isChecked());
    for (QWidget *widget : group)
        EXPECT_TRUE(widget->isEnabled()) << qPrintable(widget->objectName());
    click(manage);
    EXPECT_EQ(storedValue("manageBackups").toLongLong(), 0);
    EXPECT_FALSE(manage->isChecked());
    for (QWidget *widget : group)
        EXPECT_FALSE(widget->isEnabled()) << qPrintable(widget->objectName());
    click(manage);
    for (QWidget *widget : group)
        EXPECT_TRUE(widget->isEnabled()) << qPrintable(widget->objectName());

    // Typed values and choices are stored at once.
    days->setFocus();
    days->selectAll();
    QTest::keyClicks(days, QStringLiteral("7"));
    QTest::keyClick(days, Qt::Key_Return);
    EXPECT_EQ(storedValue("currentDayCount").toLongLong(), 7);
    click(control<QRadioButton>(QStringLiteral("removalType")));
    EXPECT_EQ(storedValue("removalType").toLongLong(), 1);
    click(control<QCheckBox>(QStringLiteral("keepAnnotatedVersions")));
    EXPECT_EQ(storedValue("keepAnnotatedVersions").toLongLong(), 1);
}

TEST_F(PrefWindowTest, TheSyncPaneLinksOnlyWithAServiceAndChoosingNoneTellsTheHelper)
{
    QFFakeDropbox dropbox;
    ASSERT_TRUE(dropbox.listen());
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false } });
    synctest::pointAtFake(dropbox, 0);
    open();
    showPane(QStringLiteral("sync"));
    auto *status = control<QLabel>(QStringLiteral("syncStatus"));
    auto *link = control<QPushButton>(QStringLiteral("linkUnlink"));
    auto *service = control<QComboBox>(QStringLiteral("syncService"));
    EXPECT_EQ(status->text(), QStringLiteral("No linked account"));
    EXPECT_EQ(link->text(), QStringLiteral("Link"));
    EXPECT_FALSE(link->isEnabled());

    service->setFocus();
    QTest::keyClick(service, Qt::Key_Down);
    EXPECT_EQ(storedValue("syncService").toLongLong(), 1);
    ASSERT_TRUE(link->isEnabled());

    // Link: the sheet shows the page's address; the user opens it, allows access and pastes the code.
    QTest::mouseClick(link, Qt::LeftButton);
    QDialog *sheet = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (sheet = prefs->findChild<QDialog *>(QStringLiteral("dropboxLinkSheet"))) && sheet->isVisible(); },
        5000));
    const QString address = sheet->findChild<QLineEdit *>(QStringLiteral("dropboxLinkAddress"))->text();
    ASSERT_TRUE(address.startsWith(dropbox.baseUrl() + QStringLiteral("/oauth2/authorize?")));
    QNetworkAccessManager browser;
    QNetworkReply *page = browser.get(QNetworkRequest(QUrl(address)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->isFinished(); }, 5000));
    page->deleteLater();
    auto *code = sheet->findChild<QLineEdit *>(QStringLiteral("dropboxLinkCode"));
    auto *confirm = sheet->findChild<QPushButton *>(QStringLiteral("dropboxLinkButton"));
    QDir().mkpath(QStringLiteral(QF_RENDER_DIR));
    const QPalette original = QApplication::palette();
    for (const bool dark : { false, true }) {
        apptest::applyLook(dark);
        sheet->setPalette(QApplication::palette());
        QCoreApplication::processEvents();
        EXPECT_TRUE(sheet->grab().save(QStringLiteral(QF_RENDER_DIR "/dropbox-link-sheet")
            + (dark ? QStringLiteral("-dark.png") : QStringLiteral("-light.png"))));
    }
    QApplication::setPalette(original);
    EXPECT_FALSE(confirm->isEnabled());
    QTest::keyClicks(code, QStringLiteral("wrong-code"));
    QTest::mouseClick(confirm, Qt::LeftButton);
    auto *error = sheet->findChild<QLabel *>(QStringLiteral("dropboxLinkError"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return error->isVisible(); }, 5000));
    EXPECT_TRUE(error->text().startsWith(QStringLiteral("Dropbox did not accept the code")));
    code->clear();
    QTest::keyClicks(code, dropbox.lastAuthorizationCode());
    const int beforeLink = helper.configurationUpdates;
    QTest::keyClick(code, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return status->text() == QStringLiteral("Linked to account"); }, 5000));
    EXPECT_EQ(link->text(), QStringLiteral("Unlink"));
    EXPECT_TRUE(helperToldAfter(beforeLink));
    EXPECT_TRUE(QFDropboxAccount::isLinked());

    // Unlink forgets the account at once and revokes its tokens.
    QTest::mouseClick(link, Qt::LeftButton);
    EXPECT_EQ(status->text(), QStringLiteral("No linked account"));
    EXPECT_EQ(link->text(), QStringLiteral("Link"));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return dropbox.requestCount(QStringLiteral("/2/auth/token/revoke")) == 1; }, 5000));
    EXPECT_FALSE(QFDropboxAccount::isLinked());

    // Without an app key there is nothing to link with: the user is told why.
    QFPreferenceKeys::update({}, { QStringLiteral("dropboxAppKey") });
    QTest::mouseClick(link, Qt::LeftButton);
    EXPECT_EQ(answerSheet().value(0), QStringLiteral("Unable to link Dropbox"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return link->isEnabled(); }, 5000));

    const int before = helper.configurationUpdates;
    QTest::keyClick(service, Qt::Key_Up);
    EXPECT_EQ(storedValue("syncService").toLongLong(), 0);
    EXPECT_FALSE(link->isEnabled());
    EXPECT_TRUE(helperToldAfter(before));
}

TEST_F(PrefWindowTest, AutosaveWithAnEditorOlderThanSevenShowsTheRequirementAndStaysOff)
{
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false } });
    QFVersionStoreBuilder::addProject(home.file(QStringLiteral("Videos/Cut.fcp")), QStringLiteral("CUT"));
    home.write(QStringLiteral("Applications/Final Cut Pro.app/Contents/Info.plist"),
        QByteArray("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>")
            + QFAppleEvents::editorBundleIdentifier().toUtf8()
            + "</string><key>CFBundleShortVersionString</key><string>6.0.6</string></dict></plist>");
    open();
    auto *autosave = control<QCheckBox>(QStringLiteral("autosaveEnabled"));
    ASSERT_FALSE(autosave->isChecked());
    QSignalSpy written(prefs, &QFPrefController::autosaveJobWritten);
    click(autosave);
    EXPECT_EQ(answerSheet(),
        QStringList({ "Final Cut Pro 7 and above is required",
            "You need a minimum of Final Cut Pro 7.0 to use this function." }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !written.isEmpty(); }, 10000));
    EXPECT_EQ(storedValue("autosaveEnabled").toLongLong(), 0);
    EXPECT_FALSE(autosave->isChecked());
    EXPECT_FALSE(QFile::exists(QFLaunchd::timerFile(QString::fromLatin1(QFHelperAgent::kAutosaveJob))));
}

TEST_F(PrefWindowTest, FiltersStorageAndTheAnalyticsSwitchReachTheirFiles)
{
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false } });
    open();
    showPane(QStringLiteral("filtering"));
    click(control<QCheckBox>(QStringLiteral("filterMarkers")));
    EXPECT_EQ(storedValue("filterMarkers").toLongLong(), 1);

    showPane(QStringLiteral("general"));
    auto *analytics = control<QCheckBox>(QStringLiteral("logQC"));
    click(analytics);
    const auto qc = QFPropertyList::readDictionary(QFPrefController::analyticsFilePath());
    ASSERT_TRUE(qc);
    EXPECT_EQ(qc->value(QStringLiteral("logQC")), QVariant(true));
    EXPECT_FALSE(storedValue("logQC").isValid()) << "not in the application's own file";

    const QString store = home.file(QStringLiteral("Elsewhere/Versions"));
    QDir().mkpath(store);
    QTest::mouseClick(control<QPushButton>(QStringLiteral("storagePathBrowse")), Qt::LeftButton);
    chooseInPanel(store);
    ASSERT_TRUE(QTest::qWaitFor([&] { return storedValue("storagePath").toString() == store; }, 5000));
    EXPECT_EQ(control<QLabel>(QStringLiteral("storagePath"))->toolTip(), store);
}

TEST_F(PrefWindowTest, RendersEveryPaneLightAndDark)
{
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false },
        { "watchFolders",
            QVariantList { QVariantMap { { "folder", home.file(QStringLiteral("Videos")) },
                               { "extensions", "kdenlive,mlt,blend" } },
                QVariantMap { { "folder", home.file(QStringLiteral("Documents/Adobe/Premiere Pro")) },
                    { "extensions", "prproj" } },
                QVariantMap { { "folder", home.file(QStringLiteral("Documents/Ardour")) } } } },
        { "watchDriveFolders",
            QVariantList { QVariantMap { { "folder", "/Final Cut Events" }, { "extensions", "fcpevent" } } } } });
    QDir().mkpath(QStringLiteral(QF_RENDER_DIR));
    const QPalette original = QApplication::palette();
    const QStringList panes = { "general", "projects", "performance", "management", "filtering", "sync" };
    for (const bool dark : { false, true }) {
        apptest::applyLook(dark);
        open();
        for (const QString &pane : panes) {
            showPane(pane);
            if (pane == QStringLiteral("management") && !dark)
                click(control<QCheckBox>(QStringLiteral("manageBackups")));
            const QString file = QStringLiteral(QF_RENDER_DIR "/preferences-%1-%2.png")
                                     .arg(pane, dark ? QStringLiteral("dark") : QStringLiteral("light"));
            EXPECT_TRUE(prefs->grab().save(file)) << qPrintable(file);
        }
        controller.reset();
    }
    QApplication::setPalette(original);
}

TEST_F(PrefWindowTest, TheUpdateBoxIsTheSwitchThatTheCheckAtStartUpReads)
{
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false } });
    open();
    auto *updates = control<QCheckBox>(QStringLiteral("SUCheckAtStartup"));
    EXPECT_TRUE(updates->isChecked()) << "no global file: the check runs";
    click(updates);
    EXPECT_FALSE(updates->isChecked());
    EXPECT_FALSE(QFSoftwareUpdate::checksAtStartup()) << "switched off where the check at start-up looks";
    const auto global = QFPropertyList::readDictionary(QFSoftwareUpdate::globalPreferencesPath());
    ASSERT_TRUE(global);
    EXPECT_EQ(global->value(QStringLiteral("SUCheckAtStartup")), QVariant(false));
    EXPECT_FALSE(storedValue("SUCheckAtStartup").isValid())
        << "not in the application's own file, where nothing reads it";
    click(updates);
    EXPECT_TRUE(QFSoftwareUpdate::checksAtStartup());

    // A 0 written by another program is a NO too, and the box shows it.
    prefs->close();
    ASSERT_TRUE(QFPropertyList::write(
        QFSoftwareUpdate::globalPreferencesPath(), QVariantMap { { QStringLiteral("SUCheckAtStartup"), 0 } }));
    EXPECT_FALSE(QFSoftwareUpdate::checksAtStartup());
    reopen();
    EXPECT_FALSE(updates->isChecked());
}

TEST_F(PrefWindowTest, WhatIsBeingTypedIsInTheFileBeforeTheHelperIsToldOnClosing)
{
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false } });
    open();
    showPane(QStringLiteral("performance"));
    auto *minutes = control<QSpinBox>(QStringLiteral("backupMinInterval"));
    prefs->activateWindow();
    minutes->setFocus();
    minutes->selectAll();
    QTest::keyClicks(minutes, QStringLiteral("20"));
    EXPECT_FALSE(storedValue("backupMinInterval").isValid()) << "typing alone stores nothing yet";
    const int before = helper.configurationUpdates;
    prefs->close();
    EXPECT_EQ(storedValue("backupMinInterval").toLongLong(), 20) << "the helper reads the file as soon as it is told";
    EXPECT_TRUE(helperToldAfter(before));

    // So does a watch folder's extensions cell being typed in.
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false },
        { "watchFolders",
            QVariantList {
                QVariantMap { { "folder", home.file(QStringLiteral("Videos")) }, { "extensions", "kdenlive" } } } } });
    reopen();
    showPane(QStringLiteral("projects"));
    QTableWidget *table = prefs->watchFolderTable()->table();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(0, 1)).center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(0, 1)).center());
    QLineEdit *editor = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (editor = table->viewport()->findChild<QLineEdit *>()) && editor->isVisible(); }, 5000));
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("mlt"));
    prefs->close();
    EXPECT_EQ(stored("watchFolders").value(0).toMap().value("extensions"), QStringLiteral("mlt"));
}

TEST_F(PrefWindowTest, AnEditorTooOldForAutosaveIsToldByTheSwitchAloneAndAVersionWithoutANumberIsTooOld)
{
    QFVersionStoreBuilder::addProject(home.file(QStringLiteral("Videos/Cut.fcp")), QStringLiteral("CUT"));
    for (const char *version : { "6.0.6", "X" }) {
        SCOPED_TRACE(version);
        home.write(QStringLiteral("Applications/Final Cut Pro.app/Contents/Info.plist"),
            QByteArray("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>")
                + QFAppleEvents::editorBundleIdentifier().toUtf8()
                + "</string><key>CFBundleShortVersionString</key><string>" + version + "</string></dict></plist>");
        QFVersionStoreBuilder::setPreferences({ { "firstRun", false }, { "autosaveEnabled", 1 } });
        open();
        // The start-up switches autosave off for such an editor.
        ASSERT_TRUE(QTest::qWaitFor([&] { return storedValue("autosaveEnabled").toLongLong() == 0; }, 10000));
        prefs->loadValues();
        auto *autosave = control<QCheckBox>(QStringLiteral("autosaveEnabled"));
        EXPECT_FALSE(autosave->isChecked());

        // A new interval with autosave off asks nothing.
        auto *interval = control<QSpinBox>(QStringLiteral("autosaveInterval"));
        interval->setFocus();
        interval->selectAll();
        QTest::keyClicks(interval, QStringLiteral("9"));
        QTest::keyClick(interval, Qt::Key_Return);
        EXPECT_EQ(storedValue("autosaveInterval").toLongLong(), 9);
        EXPECT_FALSE(qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) << "no sheet for the interval";

        // The switch tells why it stays off.
        QSignalSpy written(prefs, &QFPrefController::autosaveJobWritten);
        click(autosave);
        EXPECT_EQ(answerSheet(),
            QStringList({ "Final Cut Pro 7 and above is required",
                "You need a minimum of Final Cut Pro 7.0 to use this function." }));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !written.isEmpty(); }, 10000));
        EXPECT_EQ(storedValue("autosaveEnabled").toLongLong(), 0);
        EXPECT_FALSE(autosave->isChecked());
        controller.reset();
    }
}

TEST_F(PrefWindowTest, AStrayKeyNeverReplacesAWatchedFolderWhileTypingOverTheExtensionsDoes)
{
    const QString videos = home.file(QStringLiteral("Videos"));
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false },
        { "watchFolders", QVariantList { QVariantMap { { "folder", videos }, { "extensions", "kdenlive" } } } } });
    open();
    showPane(QStringLiteral("projects"));
    QTableWidget *table = prefs->watchFolderTable()->table();
    const auto openEditor = [&]() -> QLineEdit * {
        QLineEdit *editor = table->viewport()->findChild<QLineEdit *>();
        return editor && editor->isVisible() ? editor : nullptr;
    };
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(0, 0)).center());
    ASSERT_EQ(table->currentColumn(), 0);
    table->setFocus();
    QTest::keyClick(table, Qt::Key_X);
    EXPECT_FALSE(openEditor()) << "a key alone opens no path for editing";
    EXPECT_EQ(table->item(0, 0)->text(), videos);
    EXPECT_EQ(stored("watchFolders").value(0).toMap().value("folder"), videos);

    // On purpose: F2, or a double click.
    QTest::keyClick(table, Qt::Key_F2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return openEditor() != nullptr; }, 5000)) << "F2 edits the path";
    QTest::keyClick(openEditor(), Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return openEditor() == nullptr; }, 5000));
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(0, 0)).center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return openEditor() != nullptr; }, 5000)) << "a double click edits the path";
    QTest::keyClick(openEditor(), Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return openEditor() == nullptr; }, 5000));
    EXPECT_EQ(stored("watchFolders").value(0).toMap().value("folder"), videos);

    // The extensions are typed over at once.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(0, 1)).center());
    table->setFocus();
    QTest::keyClick(table, Qt::Key_M, Qt::NoModifier);
    QLineEdit *editor = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (editor = openEditor()) != nullptr; }, 5000));
    QTest::keyClicks(editor, QStringLiteral("lt"));
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return stored("watchFolders").value(0).toMap().value("extensions") == QStringLiteral("mlt"); }, 5000));
    EXPECT_EQ(stored("watchFolders").value(0).toMap().value("folder"), videos);
}

TEST_F(PrefWindowTest, TheMinimumIntervalShowsOffUntilItIsSwitchedOn)
{
    QFVersionStoreBuilder::setPreferences({ { "firstRun", false } });
    open();
    showPane(QStringLiteral("performance"));
    auto *wait = control<QCheckBox>(QStringLiteral("backupMinIntervalEnabled"));
    EXPECT_FALSE(wait->isChecked());
    EXPECT_EQ(control<QSpinBox>(QStringLiteral("backupMinInterval"))->value(), 15);
    EXPECT_EQ(QFPreferenceSnapshot::read().integer(QStringLiteral("backupMinIntervalEnabled"), 0), 0)
        << "what the helper and the engine read when the key is absent";
    click(wait);
    EXPECT_EQ(storedValue("backupMinIntervalEnabled").toLongLong(), 1);
}

#include "PrefWindowTest.moc"
