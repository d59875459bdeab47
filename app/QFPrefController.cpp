#include "app/QFPrefController.h"

#include "app/AppController.h"
#include "app/QFAppImages.h"
#include "app/QFPrefLayout.h"
#include "app/QFSoftwareUpdate.h"
#include "app/QFSyncPane.h"
#include "app/QFWatchFolderTable.h"
#include "engine/QFPreferenceKeys.h"
#include "engine/QFPreferenceSnapshot.h"
#include "engine/QFProject.h"
#include "foundation/QFAlert.h"
#include "foundation/QFAppleEvents.h"
#include "foundation/QFException.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFPropertyList.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStyle>
#include <QToolBar>
#include <QVBoxLayout>

using namespace qfpref;

QFPrefController::QFPrefController(AppController *controller, QWidget *parent)
    : QMainWindow(parent)
    , m_controller(controller)
    , m_panes(new QStackedWidget(this))
{
    setObjectName(QStringLiteral("preferences"));
    setWindowTitle(QStringLiteral("Preferences"));
    auto *toolbar = addToolBar(QStringLiteral("Panes"));
    toolbar->setObjectName(QStringLiteral("paneToolbar"));
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolbar->setIconSize(QSize(24, 24));
    toolbar->toggleViewAction()->setEnabled(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    auto *group = new QActionGroup(this);

    const struct {
        const char *title;
        QStringList icons;
        QWidget *(QFPrefController::*build)();
    } panes[] = {
        { "General", { QStringLiteral("preferences-system"), QStringLiteral("preferences-other") },
            &QFPrefController::buildGeneralPane },
        { "Projects", { QStringLiteral("folder") }, &QFPrefController::buildProjectsPane },
        { "Performance", { QStringLiteral("utilities-system-monitor"), QStringLiteral("system-run") },
            &QFPrefController::buildPerformancePane },
        { "Management", { QStringLiteral("document-open-recent") }, &QFPrefController::buildManagementPane },
        { "Filtering", { QStringLiteral("view-filter"), QStringLiteral("view-conceal") },
            &QFPrefController::buildFilteringPane },
        { "Sync", { QStringLiteral("emblem-synchronizing"), QStringLiteral("view-refresh") },
            &QFPrefController::buildSyncPane },
    };
    for (const auto &pane : panes) {
        QWidget *content = (this->*pane.build)();
        content->setObjectName(QString::fromLatin1(pane.title).toLower() + QStringLiteral("Pane"));
        const int index = m_panes->addWidget(content);
        QAction *action
            = toolbar->addAction(QFAppImages::themeIcon(pane.icons, palette()), QString::fromLatin1(pane.title));
        action->setCheckable(true);
        action->setObjectName(QString::fromLatin1(pane.title).toLower());
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, index] { showPane(Pane(index)); });
        m_paneActions << action;
    }
    setCentralWidget(m_panes);
    for (const QKeySequence &keys : { QKeySequence(QKeySequence::Close), QKeySequence(Qt::Key_Escape) })
        new QShortcut(keys, this, this, &QWidget::close);
    loadValues();
    enableDisableManagementDialogControls();
    refreshSyncStatus();
    m_analytics->setChecked(analyticsLogging());
    showPane(General);
    resize(720, 580);
}

// --- Panes --------------------------------------------------------------------------------------------

QWidget *QFPrefController::buildGeneralPane()
{
    auto *form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setVerticalSpacing(10);

    m_storagePath = new QLabel;
    m_storagePath->setObjectName(QStringLiteral("storagePath"));
    m_storagePath->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_storagePath->setMinimumWidth(200);
    m_loaders << [this] {
        const QString path = AppController::preferenceValue(QStringLiteral("storagePath")).toString();
        // Long paths lose their middle, never the folder's own name.
        m_storagePath->setText(
            m_storagePath->fontMetrics().elidedText(QDir::toNativeSeparators(path), Qt::ElideMiddle, 400));
        m_storagePath->setToolTip(path);
    };
    auto *browse = new QPushButton(QStringLiteral("Choose…"));
    browse->setObjectName(QStringLiteral("storagePathBrowse"));
    connect(browse, &QPushButton::clicked, this, &QFPrefController::prefsDirectoryBrowse);
    form->addRow(QStringLiteral("Keep versions in:"), row({ m_storagePath, browse }));

    form->addRow(QStringLiteral("Versions:"),
        switchBox(QStringLiteral("takeScreenshots"), QStringLiteral("Take a screenshot with every version")));
    form->addRow(QString(),
        switchBox(QStringLiteral("removeDuplicates"),
            QStringLiteral("Drop a new version that is identical to the one before")));
    form->addRow(QStringLiteral("Notifications:"),
        switchBox(QStringLiteral("showGrowlAlerts"), QStringLiteral("Tell me when projects are backed up")));
    // The check at start-up reads the maker's global file, which the updater shares with other programs.
    auto *updates = new QCheckBox(QStringLiteral("Check for updates at start-up"));
    updates->setObjectName(QStringLiteral("SUCheckAtStartup"));
    m_loaders << [updates] { updates->setChecked(QFSoftwareUpdate::checksAtStartup()); };
    connect(updates, &QCheckBox::toggled, this, [this](bool on) {
        if (m_loading)
            return;
        QString error;
        if (!QFSoftwareUpdate::setChecksAtStartup(on, &error)) {
            QFLog::appendLog("Unable to save %@: %@", QFSoftwareUpdate::globalPreferencesPath(), error);
            QFAlert::alertSheetWithMessageText(
                QStringLiteral("Unable to save preferences"), QString(), QString(), QString(), error, this, false);
            loadValues();
        }
    });
    form->addRow(QStringLiteral("Updates:"), updates);

    QCheckBox *autosave = switchBox(QStringLiteral("autosaveEnabled"),
        QStringLiteral("Save open Final Cut Pro projects every"), [this] { prefsAutosaveChanged(); });
    QSpinBox *interval = integerBox(
        QStringLiteral("autosaveInterval"), QStringLiteral(" minutes"), [this] { autosaveIntervalChanged(); });
    form->addRow(QStringLiteral("Autosave:"), row({ autosave, interval }));

    m_analytics = new QCheckBox(QStringLiteral("Send anonymous usage statistics"));
    m_analytics->setObjectName(QStringLiteral("logQC"));
    connect(m_analytics, &QCheckBox::toggled, this, &QFPrefController::prefsToggleQCLogging);
    form->addRow(QStringLiteral("Statistics:"), m_analytics);
    return page(form);
}

QWidget *QFPrefController::buildProjectsPane()
{
    auto *layout = new QVBoxLayout;
    layout->setSpacing(8);
    layout->addWidget(heading(QStringLiteral("Watch folders")));
    layout->addWidget(explanation(QStringLiteral(
        "Projects with these extensions in these folders and their subfolders are found and backed up as they change. "
        "Type the extensions of a new folder, separated by commas.")));
    m_watchFolders = new QFWatchFolderTable(QFWatchFolderSettings::List::Folders);
    m_watchFolders->setMinimumHeight(170);
    layout->addWidget(m_watchFolders, 3);
    layout->addSpacing(8);
    layout->addWidget(heading(QStringLiteral("Folders on every drive")));
    layout->addWidget(explanation(
        QStringLiteral("A folder at the same place on every drive that is connected, for example /Final Cut Events.")));
    m_driveFolders = new QFWatchFolderTable(QFWatchFolderSettings::List::DriveFolders);
    m_driveFolders->setMinimumHeight(110);
    layout->addWidget(m_driveFolders, 2);
    for (QFWatchFolderTable *table : { m_watchFolders, m_driveFolders }) {
        connect(table, &QFWatchFolderTable::changed, this, [this] { m_controller->watchListChanged(); });
        m_loaders << [table] { table->reload(); };
    }

    layout->addSpacing(8);
    layout->addWidget(heading(QStringLiteral("Importing a folder")));
    auto *every = new QRadioButton(QStringLiteral("Add every file"));
    every->setObjectName(QStringLiteral("importEveryFile"));
    auto *some = new QRadioButton(QStringLiteral("Add only files of these types:"));
    some->setObjectName(QStringLiteral("importFolderAction"));
    auto *choice = new QButtonGroup(this);
    choice->addButton(every, 0);
    choice->addButton(some, 1);
    m_loaders <<
        [every, some] { (integerValue(QStringLiteral("importFolderAction")) == 1 ? some : every)->setChecked(true); };
    connect(choice, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (on && !m_loading)
            store(QStringLiteral("importFolderAction"), id);
    });
    QLineEdit *types = textField(QStringLiteral("importFileTypes"));
    types->setMinimumWidth(260);
    layout->addWidget(row({ every }));
    layout->addWidget(row({ some, types }));
    layout->addWidget(switchBox(QStringLiteral("importSubdirs"), QStringLiteral("Look in subfolders")));
    auto *pane = new QWidget;
    auto *outer = new QVBoxLayout(pane);
    outer->setContentsMargins(24, 18, 24, 18);
    outer->addLayout(layout);
    return pane;
}

QWidget *QFPrefController::buildPerformancePane()
{
    auto *form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setVerticalSpacing(10);
    QCheckBox *wait = switchBox(QStringLiteral("backupMinIntervalEnabled"), QStringLiteral("Wait at least"));
    QSpinBox *minutes = integerBox(QStringLiteral("backupMinInterval"), QStringLiteral(" minutes"));
    form->addRow(QStringLiteral("Backups:"),
        row({ wait, minutes, new QLabel(QStringLiteral("between two versions of a project")) }));
    form->addRow(QString(),
        explanation(QStringLiteral(
            "The helper also looks for changed projects at this interval; when it is off, every 10½ minutes.")));

    form->addRow(QStringLiteral("XML copies:"),
        switchBox(QStringLiteral("generateFCPXML"),
            QStringLiteral("Keep XML copies of Final Cut Pro projects with their versions"),
            [this] { m_controller->reloadBackupViews(); }));
    form->addRow(QString(),
        choiceBox(QStringLiteral("xmlLimit"),
            { QStringLiteral("Never"), QStringLiteral("Every third version, projects up to 1 MB"),
                QStringLiteral("Every third version, projects up to 3 MB"),
                QStringLiteral("Every other version, projects up to 5 MB"),
                QStringLiteral("Every other version, projects up to 10 MB"),
                QStringLiteral("Every version, projects up to 15 MB"),
                QStringLiteral("Every version, projects up to 20 MB"),
                QStringLiteral("Every version, projects up to 30 MB") }));
    form->addRow(QString(),
        explanation(QStringLiteral(
            "XML copies let the change list describe binary projects; making them takes the editor's time.")));

    auto *reload = new QPushButton(QStringLiteral("Reload Helper"));
    reload->setObjectName(QStringLiteral("reloadHelper"));
    connect(reload, &QPushButton::clicked, this, &QFPrefController::reloadHelper);
    form->addRow(QStringLiteral("Helper:"), row({ reload }));
    form->addRow(
        QString(), explanation(QStringLiteral("The helper reads these settings again when this window closes.")));
    return page(form);
}

QWidget *QFPrefController::buildManagementPane()
{
    auto *grid = new QGridLayout;
    grid->setVerticalSpacing(10);
    grid->setHorizontalSpacing(8);
    m_manageBackups = switchBox(QStringLiteral("manageBackups"), QStringLiteral("Remove old versions automatically"),
        [this] { enableDisableManagementDialogControls(); });
    grid->addWidget(m_manageBackups, 0, 0, 1, 2);

    const auto managed = [this](QWidget *widget) {
        m_managementControls << widget;
        return widget;
    };
    int line = 1;
    const auto addLine = [&](const QString &title, QWidget *content) {
        QLabel *label = title.isEmpty() ? nullptr : new QLabel(title);
        if (label) {
            label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            grid->addWidget(managed(label), line, 0);
        }
        grid->addWidget(content, line++, 1);
    };
    addLine(QStringLiteral("Small projects:"),
        row({ managed(switchBox(
                  QStringLiteral("backupManagementMinLimitSet"), QStringLiteral("Leave projects with at most"))),
            managed(integerBox(QStringLiteral("backupManagementMinLimit"), QString())),
            managed(new QLabel(QStringLiteral("versions alone"))) }));
    addLine(QStringLiteral("Current versions:"),
        row({ managed(new QLabel(QStringLiteral("Versions made within"))),
            managed(integerBox(QStringLiteral("currentDayCount"), QString())),
            managed(new QLabel(QStringLiteral("days of the newest are current"))) }));
    addLine(QString(),
        row({ managed(switchBox(QStringLiteral("currentBackupLimitSet"), QStringLiteral("Keep at most"))),
            managed(integerBox(QStringLiteral("currentBackupLimit"), QString())),
            managed(new QLabel(QStringLiteral("current versions"))) }));
    addLine(QStringLiteral("Older versions:"),
        row({ managed(new QLabel(QStringLiteral("Keep"))),
            managed(integerBox(QStringLiteral("oldBackupCount"), QString())),
            managed(new QLabel(QStringLiteral("for each"))),
            managed(choiceBox(QStringLiteral("oldBackupType"),
                { QStringLiteral("day"), QStringLiteral("week"), QStringLiteral("month") })) }));
    addLine(QString(),
        row({ managed(switchBox(QStringLiteral("oldBackupLimitSet"), QStringLiteral("Keep at most"))),
            managed(integerBox(QStringLiteral("oldBackupLimit"), QString())),
            managed(new QLabel(QStringLiteral("older versions of a project"))) }));
    addLine(QStringLiteral("Oldest versions:"),
        row({ managed(switchBox(QStringLiteral("deleteBackupSet"), QStringLiteral("Remove versions older than"))),
            managed(integerBox(QStringLiteral("deleteBackupCount"), QString())),
            managed(choiceBox(QStringLiteral("deleteBackupType"), { QStringLiteral("days") })) }));
    addLine(QStringLiteral("Notes:"),
        managed(switchBox(
            QStringLiteral("keepAnnotatedVersions"), QStringLiteral("Never remove a version that has a note"))));

    auto *trash = new QRadioButton(QStringLiteral("Move them to the Trash"));
    trash->setObjectName(QStringLiteral("removalTypeTrash"));
    auto *erase = new QRadioButton(QStringLiteral("Delete them at once"));
    erase->setObjectName(QStringLiteral("removalType"));
    auto *removal = new QButtonGroup(this);
    removal->addButton(trash, 0);
    removal->addButton(erase, 1);
    m_loaders <<
        [trash, erase] { (integerValue(QStringLiteral("removalType")) == 1 ? erase : trash)->setChecked(true); };
    connect(removal, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (on && !m_loading)
            store(QStringLiteral("removalType"), id);
    });
    addLine(QStringLiteral("Removed versions:"), managed(row({ trash, erase })));
    grid->setColumnStretch(1, 1);
    auto *layout = new QVBoxLayout;
    layout->addLayout(grid);
    layout->addSpacing(6);
    layout->addWidget(explanation(
        QStringLiteral("Versions are looked at after every backup. Changes here apply from the next backup on.")));
    return page(layout);
}

QWidget *QFPrefController::buildFilteringPane()
{
    auto *layout = new QVBoxLayout;
    layout->addWidget(heading(QStringLiteral("Hide these changes in change lists")));
    layout->addWidget(
        explanation(QStringLiteral("Hidden changes are still recorded; they show again when their box is cleared.")));
    auto *grid = new QGridLayout;
    grid->setContentsMargins(12, 8, 0, 0);
    grid->setVerticalSpacing(8);
    grid->setHorizontalSpacing(36);
    const struct {
        const char *key;
        const char *title;
    } filters[] = {
        { "filterInPoints", "In points" },
        { "filterOutPoints", "Out points" },
        { "filterMarkers", "Markers" },
        { "filterFilters", "Filters and effects" },
        { "filterSequences", "Sequences" },
        { "filterClips", "Clips" },
        { "filterSubclips", "Subclips" },
        { "filterFreezeFrames", "Freeze frames" },
        { "filterBins", "Bins" },
        { "filterMulticlips", "Multiclips" },
    };
    int index = 0;
    for (const auto &filter : filters) {
        grid->addWidget(switchBox(QString::fromLatin1(filter.key), QString::fromLatin1(filter.title),
                            [this] { prefsFilterChanged(); }),
            index % 5, index / 5);
        ++index;
    }
    grid->setColumnStretch(2, 1);
    layout->addLayout(grid);
    return page(layout);
}

QWidget *QFPrefController::buildSyncPane()
{
    m_syncPane = new QFSyncPane(m_controller);
    m_loaders << [this] { m_syncPane->loadValues(); };
    m_committers << [this] { m_syncPane->commitEditors(); };
    return m_syncPane;
}

// --- Window -------------------------------------------------------------------------------------------

void QFPrefController::showPrefs()
{
    loadValues();
    enableDisableManagementDialogControls();
    refreshSyncStatus();
    m_analytics->setChecked(analyticsLogging());
    showPane(General);
    show();
    raise();
    activateWindow();
}

void QFPrefController::showPane(Pane pane)
{
    m_panes->setCurrentIndex(pane);
    m_paneActions.at(pane)->setChecked(true);
}

QFPrefController::Pane QFPrefController::currentPane() const
{
    return Pane(m_panes->currentIndex());
}

QAction *QFPrefController::paneAction(Pane pane) const
{
    return m_paneActions.at(pane);
}

QWidget *QFPrefController::paneWidget(Pane pane) const
{
    return m_panes->widget(pane);
}

void QFPrefController::commitEditors()
{
    for (const std::function<void()> &commit : std::as_const(m_committers))
        commit();
    for (QFWatchFolderTable *table : { m_watchFolders, m_driveFolders })
        table->commitEdit();
}

void QFPrefController::closeEvent(QCloseEvent *event)
{
    // What is still being typed goes into the file first: the helper reads the file when it is told.
    commitEditors();
    m_controller->xpcConfigUpdate();
    QMainWindow::closeEvent(event);
}

// --- Actions ------------------------------------------------------------------------------------------

void QFPrefController::prefsDirectoryBrowse()
{
    auto *panel = new QFileDialog(this, QStringLiteral("Choose the Folder for Versions"),
        AppController::preferenceValue(QStringLiteral("storagePath")).toString());
    panel->setObjectName(QStringLiteral("storagePanel"));
    panel->setFileMode(QFileDialog::Directory);
    panel->setOption(QFileDialog::ShowDirsOnly);
    panel->setLabelText(QFileDialog::Accept, QStringLiteral("Choose"));
    panel->setWindowModality(Qt::WindowModal);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    connect(panel, &QFileDialog::fileSelected, this, [this](const QString &chosen) {
        QFException::guard("prefsDirectoryBrowse:", [&] {
            if (chosen.isEmpty())
                return;
            const QString path = QDir::cleanPath(QFileInfo(chosen).absoluteFilePath());
            store(QStringLiteral("storagePath"), path);
            QFLog::appendLog("Storage folder set to %@", path);
            loadValues();
        });
    });
    panel->open();
}

void QFPrefController::enableDisableManagementDialogControls()
{
    // Disabled controls and their labels take the desktop's disabled text colour.
    const bool on = m_manageBackups->isChecked();
    for (QWidget *control : std::as_const(m_managementControls))
        control->setEnabled(on);
}

void QFPrefController::prefsAutosaveChanged()
{
    const int major = QFAppleEvents::finalCutProMajorVersion();
    // A version without a number is no version 7 either.
    if (major < 7) {
        QFAlert::alertSheetWithMessageText(QStringLiteral("Final Cut Pro 7 and above is required"), QString(),
            QString(), QString(), QStringLiteral("You need a minimum of Final Cut Pro 7.0 to use this function."), this,
            false);
    }
    // The job is written (or removed) away from the window; it turns autosave off for an older editor.
    m_controller->generateAutosavePlist([this] {
        loadValues();
        Q_EMIT autosaveJobWritten();
    });
}

void QFPrefController::autosaveIntervalChanged()
{
    // Only a job that runs has an interval to change; the switch alone speaks of the editor's version.
    if (integerValue(QStringLiteral("autosaveEnabled")) != 1)
        return;
    m_controller->generateAutosavePlist([this] {
        loadValues();
        Q_EMIT autosaveJobWritten();
    });
}

void QFPrefController::prefsFilterChanged()
{
    m_controller->reloadBackupViews();
}

void QFPrefController::reloadHelper()
{
    m_controller->xpcConfigUpdate();
}

void QFPrefController::prefsToggleQCLogging(bool on)
{
    QString error;
    const bool stored = QFPropertyList::updateDictionary(
        analyticsFilePath(),
        [on](QVariantMap &contents) {
            contents.insert(QStringLiteral("logQC"), on);
            return QFPropertyList::Change::Write;
        },
        &error);
    // An unreadable file holds nothing else worth keeping.
    if (!stored && !QFPropertyList::write(analyticsFilePath(), QVariantMap { { QStringLiteral("logQC"), on } }, &error))
        QFLog::appendLog("Unable to save %@: %@", analyticsFilePath(), error);
}

QString QFPrefController::analyticsFilePath()
{
    return QFLocalPaths::prefsDirectory(true) + QStringLiteral("/com.quenfield.qc.plist");
}

bool QFPrefController::analyticsLogging()
{
    const auto contents = QFPropertyList::readDictionary(analyticsFilePath());
    if (!contents)
        return false;
    const QVariant value = contents->value(QStringLiteral("logQC"));
    return value.metaType().id() == QMetaType::Bool && value.toBool();
}

// --- Sync ---------------------------------------------------------------------------------------------

void QFPrefController::refreshSyncStatus()
{
    m_syncPane->refreshStatus();
}
