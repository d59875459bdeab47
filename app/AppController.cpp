#include "app/AppController.h"

#include "app/AppControllerPrivate.h"
#include "app/MainWindow.h"
#include "app/QFActionController.h"
#include "app/QFAppImages.h"
#include "app/QFCoverFlowView.h"
#include "app/QFDropboxLinkSheet.h"
#include "app/QFOutlineView.h"
#include "app/QFPrefController.h"
#include "app/QFPrint.h"
#include "app/QFProjectListModel.h"
#include "app/QFSoftwareUpdate.h"
#include "app/QFVersionListModel.h"
#include "engine/QFDropboxSync.h"
#include "engine/QFPreferenceKeys.h"
#include "engine/QFPreferenceSnapshot.h"
#include "engine/QFProjectActions.h"
#include "foundation/QFAlert.h"
#include "foundation/QFException.h"
#include "foundation/QFLaunchd.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFFormat.h"

#include <QAction>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>

using namespace AppControllerPrivate;

namespace AppControllerPrivate {

// The application's preference file, else the key's registered default.
QVariant preference(const QString &key)
{
    return QFPreferenceSnapshot::read().valueOrDefault(key);
}

bool setPreferences(const QVariantMap &values)
{
    QString error;
    if (!QFPreferenceKeys::update(values, {}, &error)) {
        QFLog::appendLog("Unable to save preferences: %@", error);
        return false;
    }
    return true;
}

} // namespace AppControllerPrivate

AppController::AppController(bool hasUserInterface, QObject *parent)
    : QObject(parent)
    , m_hasUserInterface(hasUserInterface)
{
    m_softwareUpdate = new QFSoftwareUpdate(this);
    m_projectQueue.setMaxThreadCount(1);
    m_parserQueue.setMaxThreadCount(4);
    m_backgroundQueue.setMaxThreadCount(4);
    if (hasUserInterface) {
        // Icons need the desktop's platform; the transfer modes run without one.
        if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
            QFAppImages::useIconTheme();
        QFBugReporter::startBugReporter(QString(), QString(), this);
        QFLog::createNewLog();
        m_engine = std::make_unique<QFTombrelBackup>();
        m_engine->setHasGUI(true);
        if (m_recoveredFromCrash)
            recoverFromCrash();
        m_startingUp = true;
        m_progressCancelled = true;
        // Registered defaults are applied where preferences are read (preference() below), so that the
        // engine's own reading of the store's place is never overridden by a default.
    } else {
        QFBugReporter::startBugReporter(QStringLiteral("Pro Tombrel"), QFProject::preferenceFilePath());
        QFLog::createNewLog(QStringLiteral("Pro Tombrel.task"));
        m_engine = std::make_unique<QFTombrelBackup>();
    }
}

AppController::~AppController()
{
    // Work still queued is dropped; work under way may be waiting for the main thread, so events are
    // served until it ends.
    m_engine->setProcessingCancelled(true);
    m_projectQueue.clear();
    m_parserQueue.clear();
    m_backgroundQueue.clear();
    while (!m_projectQueue.waitForDone(10) || !m_parserQueue.waitForDone(10) || !m_backgroundQueue.waitForDone(10))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    delete m_prefController;
    // The commands go before the window they watch.
    delete m_actions;
    m_actions = nullptr;
    delete m_window;
}

void AppController::detach(std::function<void()> work)
{
    // A pool of the controller's own: work here waits for the main thread at times, and the main thread
    // itself uses the global pool (to draw images), which such work must never hold.
    m_backgroundQueue.start(std::move(work));
}

void AppController::onMainThread(std::function<void()> work)
{
    // Dropped when the controller is gone before the main thread gets to it.
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void AppController::applicationDidCrashWithLog(const QString &)
{
    // Heard while the controller is being made (before its log is open): recovered from once it is.
    m_recoveredFromCrash = true;
    if (m_engine)
        recoverFromCrash();
}

void AppController::recoverFromCrash()
{
    QFLog::appendLog("Application crashed last time it ran - trashing caches...");
    const QString caches = QFLocalPaths::appSupportDirectory(true) + QStringLiteral("/Quenfield/Pro Tombrel/Caches");
    if (QFileInfo::exists(caches))
        QDir(caches).removeRecursively();
    // The helper's job is written again with privileges allowed: at start-up, or now when it is past.
    if (m_launched)
        generateLaunchdPlist(true);
}

QVariant AppController::preferenceValue(const QString &key)
{
    return preference(key);
}

void AppController::setUpWindow()
{
    m_window = new MainWindow;
    m_projectModel = new QFProjectListModel(this);
    m_versionModel = new QFVersionListModel(this);
    m_window->projectTable()->setModel(m_projectModel);
    m_window->versionOutline()->setModel(m_versionModel);
    m_window->screenshotStrip()->setScrollSpeed(2.0);
    // Sheets of the helper's jobs, written away from the window, belong to it all the same.
    QFLaunchd::setAlertWindow(m_window);

    const bool collapsed = QFPreferenceSnapshot::read().intValue(QStringLiteral("viewMode")) > 0;
    m_window->viewModeAction()->setChecked(!collapsed);
    if (collapsed)
        m_window->detailSplitter()->setSizes({ 0, 1 });

    connect(m_window->projectTable()->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this] { QFException::guard("projectSelectionChanged", [this] { projectSelectionChanged(); }); });
    connect(m_window->versionOutline()->selectionModel(), &QItemSelectionModel::currentChanged, this,
        [this] { QFException::guard("outlineSelectionChanged", [this] { outlineSelectionChanged(); }); });
    connect(m_window->screenshotStrip(), &QFCoverFlowView::scrollingStopped, this,
        [this](int index) { QFException::guard("stripStoppedScrolling", [&] { stripStoppedScrolling(index); }); });
    connect(m_window->viewModeAction(), &QAction::toggled, this, [this](bool shown) {
        setPreferences({ { QStringLiteral("viewMode"), shown ? 0 : 1 } });
        toggleScreenshotView();
    });
    connect(m_window->backupNowAction(), &QAction::triggered, this, &AppController::backupNow);
    connect(m_window->noBackupButton(), &QPushButton::clicked, this, &AppController::backupNow);
    connect(m_window, &MainWindow::becameMain, this,
        [this] { QFException::guard("windowDidBecomeMain", [this] { mainWindowBecameMain(); }); });
    connect(m_window, &MainWindow::stripPaneResized, this, &AppController::updateNoBackupView);
    connect(m_window->projectSearchField(), &QLineEdit::textChanged, this,
        [this] { QFException::guard("projectSearch", [this] { projectSearch(); }); });
    connect(m_window->versionSearchField(), &QLineEdit::textChanged, this,
        [this](const QString &text) { QFException::guard("search", [&] { search(text); }); });
    connect(m_window->printAction(), &QAction::triggered, this,
        [this] { QFException::guard("print", [this] { print(); }); });
    connect(m_window->versionOutline()->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        [this] { m_window->compareAction()->setEnabled(selectedVersionFiles().size() == 2); });
    connect(m_window->compareAction(), &QAction::triggered, this,
        [this] { QFException::guard("compareVersions", [this] { compareSelectedVersions(); }); });
    connect(m_window->generateXMLAction(), &QAction::triggered, this,
        [this] { QFException::guard("toolbarGenerateXML", [this] { toolbarGenerateXML(); }); });
    connect(m_window->versionOutline(), &QFOutlineView::placeholderClicked, this, [this](const QModelIndex &index) {
        QFException::guard("generateFCPProjectXML",
            [&] { generateFCPProjectXML(index.data(QFVersionListModel::VersionFileRole).toString()); });
    });
    connect(m_window->printPreviewAction(), &QAction::triggered, this, [this] {
        QFException::guard("printPreview",
            [this] { QFPrint::previewHTMLString(generateHTMLForPrinting(true), printJobTitle(), m_window); });
    });
    connect(m_window->preferencesAction(), &QAction::triggered, this,
        [this] { QFException::guard("showPrefs:", [this] { showPreferences(); }); });
    connect(m_window->relaunchHelperAction(), &QAction::triggered, this, &AppController::relaunchHelper);
    m_prefController = new QFPrefController(this);
    m_actions = new QFActionController(this, m_window);
    // The empty project list's ways to the first project.
    connect(m_window->addProjectButton(), &QPushButton::clicked, m_actions,
        [this] { QFException::guard("importFile:", [this] { m_actions->importFile(); }); });
    connect(m_window->watchFoldersButton(), &QPushButton::clicked, this, [this] {
        QFException::guard("showPrefs:", [this] {
            showPreferences();
            m_prefController->showPane(QFPrefController::Projects);
        });
    });
    updateVersionCount();
}

void AppController::quit()
{
    Q_EMIT quitRequested();
}

QList<QFVersionEntry> AppController::versionList() const
{
    return m_versionModel ? m_versionModel->entries() : QList<QFVersionEntry>();
}

bool AppController::isBusy() const
{
    return m_projectQueue.activeThreadCount() > 0 || m_parserQueue.activeThreadCount() > 0 || m_projectReadWaiting;
}

QString AppController::selectedProjectFolder() const
{
    if (!m_window)
        return {};
    const QModelIndex current = m_window->projectTable()->currentIndex();
    if (!current.isValid() || current.row() >= m_projectModel->projects().size())
        return {};
    return m_projectModel->projects().at(current.row()).destinationPath();
}

// --- Events -------------------------------------------------------------------------------------------

void AppController::mainWindowBecameMain()
{
    if (!m_progressCancelled)
        return;
    // Filtering preferences changed elsewhere take effect when the window comes back.
    m_versionModel->setFilters(filterPreferences());
    populateProjects();
    const QString folder = selectedProjectFolder();
    if (folder.isEmpty())
        return;
    // The versions a population would list, against every version of the list (not a search's result):
    // a binary version with its XML copy is one version, not two.
    const QStringList names = listVersions(folder + QStringLiteral("/Versions")).names;
    QSet<QString> listed;
    for (const QFVersionEntry &entry : m_versionModel->allEntries())
        listed.insert(QFileInfo(entry.file).fileName());
    if (QSet<QString>(names.cbegin(), names.cend()) != listed)
        populateChangelistForProject(folder);
}

void AppController::onFilesBackedUp()
{
    QFException::guard("filesBackedUp", [this] { filesBackedUpFromHelper(); });
}

void AppController::filesBackedUpFromHelper()
{
    QMutexLocker lock(&m_monitor);
    populateProjects();
    // A new version of the selected project shows at once.
    populateChangelistForProject(selectedProjectFolder());
}

void AppController::backupNow()
{
    const QModelIndex current = m_window ? m_window->projectTable()->currentIndex() : QModelIndex();
    if (!current.isValid())
        return;
    const QFProject project = m_projectModel->projects().at(current.row());
    const QString folder = project.destinationPath();
    m_window->backupNowAction()->setEnabled(false);
    detach([this, project, folder] {
        QFException::guard("backupNow", [&] {
            QFTombrelBackup().backUpNow(
                project.expandedProjectPath(), folder + QStringLiteral("/Versions"), project.selectedUUID());
        });
        onMainThread([this, folder] {
            if (m_window)
                m_window->backupNowAction()->setEnabled(true);
            populateChangelistForProject(folder);
        });
    });
}

// --- Preferences and the sync service's account ----------------------------------------------------

void AppController::showPreferences()
{
    if (!m_prefController)
        m_prefController = new QFPrefController(this);
    m_prefController->showPrefs();
}

void AppController::markSynced(const QStringList &names)
{
    QSet<QString> synced = m_versionModel->syncedFiles();
    const QSet<QString> listed(names.cbegin(), names.cend());
    bool changed = false;
    for (const QFVersionEntry &entry : m_versionModel->allEntries()) {
        const QFileInfo file(entry.file);
        const QString name = file.fileName();
        if (!synced.contains(name)
            && (listed.contains(name) || listed.contains(file.completeBaseName() + QStringLiteral(".fcp")))) {
            synced.insert(name);
            changed = true;
        }
    }
    if (changed)
        m_versionModel->setSyncedFiles(synced);
    if (m_window) {
        m_window->versionSpinner()->hide();
        updateVersionCount();
    }
}

void AppController::clearSynced()
{
    m_versionModel->setSyncedFiles({});
}

bool AppController::isSyncAccountLinked() const
{
    return QFDropboxAccount::isLinked();
}

void AppController::unlinkSyncAccount()
{
    QFDropboxSync::shared()->account()->unlink({});
    m_engine->removeRestClient();
}

void AppController::linkSyncAccount(QWidget *window, std::function<void()> done)
{
    QFDropboxAccount *account = QFDropboxSync::shared()->account();
    QString error;
    const QString address = account->beginLink(&error);
    if (address.isEmpty()) {
        QFAlert::alertSheetWithMessageText(QStringLiteral("Unable to link Dropbox"), QString(), QString(), QString(),
            error, window, false, [done = std::move(done)](int) {
                if (done)
                    done();
            });
        return;
    }
    auto *sheet = new QFDropboxLinkSheet(address, window);
    connect(sheet, &QFDropboxLinkSheet::codeEntered, this, [sheet, account](const QString &code) {
        sheet->setBusy(true);
        account->finishLink(code, [sheet = QPointer<QFDropboxLinkSheet>(sheet)](bool linked, const QString &reason) {
            if (!sheet)
                return;
            sheet->setBusy(false);
            if (linked)
                sheet->accept();
            else
                sheet->showError(qfFormat("Dropbox did not accept the code: %@", reason));
        });
    });
    connect(sheet, &QDialog::finished, this, [this, done = std::move(done)](int result) {
        if (result == QDialog::Accepted)
            m_engine->removeRestClient();
        if (done)
            done();
    });
    sheet->open();
}
