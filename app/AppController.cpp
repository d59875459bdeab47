#include "app/AppController.h"

#include "app/QFDropboxLinkSheet.h"
#include "app/QFSoftwareUpdate.h"
#include "engine/QFDropboxSync.h"

#include "app/MainWindow.h"
#include "app/QFCoverFlowView.h"
#include "app/QFActionController.h"
#include "app/QFOutlineView.h"
#include "app/QFPrefController.h"
#include "app/QFAppImages.h"
#include "app/QFPrint.h"
#include "app/QFProgressSheet.h"
#include "app/QFProjectListModel.h"
#include "app/QFVersionListModel.h"
#include "engine/QFChangeLines.h"
#include "engine/QFHelperAgent.h"
#include "engine/QFPreferenceKeys.h"
#include "engine/QFPreferenceSnapshot.h"
#include "engine/QFProjectActions.h"
#include "engine/QFWatchFolderSettings.h"
#include "foundation/QFAlert.h"
#include "foundation/QFAppRequest.h"
#include "foundation/QFAppleEvents.h"
#include "foundation/QFAuthorization.h"
#include "foundation/QFException.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFHelperConnection.h"
#include "foundation/QFLaunchd.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/QFMainThread.h"
#include "foundation/QFNotificationCenter.h"
#include "foundation/QFTaskEx.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFFormat.h"
#include "foundation/platform/QFPropertyList.h"
#include "foundation/platform/QFRunningApplications.h"
#include "foundation/platform/QFSystemLog.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QThread>
#include <QTimer>
#include <QAction>


namespace {

constexpr int kMaximumCopiesInBackgroundModes = 4;
constexpr int kExpandedStripHeight = 600;

// The application's preference file, else the key's registered default.
QVariant preference(const QString &key)
{
    const QVariant stored = QFPreferenceSnapshot::read().value(key);
    if (stored.isValid())
        return stored;
    const std::optional<QFPreferenceKey> known = QFPreferenceKeys::find(key);
    return known ? known->registeredDefault : QVariant();
}

qint64 integerPreference(const QString &key, qint64 fallback)
{
    bool ok = false;
    const qint64 value = preference(key).toLongLong(&ok);
    return ok ? value : fallback;
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


QString plural(qsizetype count)
{
    return count == 1 ? QStringLiteral("") : QStringLiteral("s");
}

// The version files a population lists, oldest first: names beginning with "." are left out, and so is a
// binary version whose XML copy lies beside it (the copy stands for it).
struct ListedVersions {
    QStringList names;
    bool fcpRemains = false;
};

ListedVersions listVersions(const QString &versionsFolder)
{
    QStringList names = QDir(versionsFolder).entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.removeIf([](const QString &name) { return name.startsWith(u'.'); });
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    const QSet<QString> present(names.cbegin(), names.cend());
    ListedVersions listed;
    for (const QString &name : std::as_const(names)) {
        if (name.toLower().endsWith(QLatin1String(".fcp"))) {
            if (present.contains(name.left(name.size() - 4) + QStringLiteral(".xml")))
                continue;
            listed.fcpRemains = true;
        }
        listed.names << name;
    }
    return listed;
}

// What the list shows of each version, newest first, until its change lines are known: number, date,
// size and note, as its entry will have them.
QList<QFVersionEntry> versionsWithoutLines(const QString &projectFolder, const QStringList &names)
{
    const QString versions = projectFolder + QStringLiteral("/Versions");
    const QVariantMap notes = QFPropertyList::readDictionary(projectFolder + QStringLiteral("/Annotations.plist")).value_or(QVariantMap());
    QList<QFVersionEntry> entries;
    entries.reserve(names.size());
    for (auto name = names.crbegin(); name != names.crend(); ++name) {
        QFVersionEntry entry;
        entry.file = versions + u'/' + *name;
        const QFileInfo info(entry.file);
        const QString stem = info.suffix().isEmpty() ? *name : name->left(name->size() - info.suffix().size() - 1);
        const qsizetype dot = stem.lastIndexOf(u'.');
        entry.version = dot >= 0 ? stem.mid(dot + 1) : QString();
        const bool xml = info.suffix().compare(QLatin1String("xml"), Qt::CaseInsensitive) == 0;
        // An XML copy is dated and sized as the binary version it stands for.
        const QString binary = info.absolutePath() + u'/' + info.completeBaseName() + QStringLiteral(".fcp");
        const QFileInfo stat(xml && QFileInfo::exists(binary) ? binary : entry.file);
        entry.date = stat.lastModified();
        if (!stat.isDir())
            entry.size = QFFileManager::formatFileSize(double(stat.size()));
        entry.type = xml ? QStringLiteral("xml") : QStringLiteral("doc");
        if (xml)
            entry.host = QStringLiteral("fcp");
        entry.annotation = notes.value(*name).toString();
        entries << entry;
    }
    return entries;
}

} // namespace

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

AppController::Mode AppController::modeForArguments(const QStringList &arguments)
{
    if (arguments.size() < 2)
        return Mode::Normal;
    if (arguments.contains(QStringLiteral("-upload")))
        return Mode::Upload;
    if (arguments.contains(QStringLiteral("-removeRemote")))
        return Mode::RemoteRemoval;
    return Mode::Normal;
}

QString AppController::currentBundlePath()
{
    const QString bundle = QFBundle::mainBundlePath();
    if (!bundle.isEmpty() && QFBundle::bundleIdentifierOfBundle(bundle) == QLatin1String("com.quenfield.ProTombrel"))
        return bundle;
    return QFTombrelBackup::currentBundlePath();
}

QString AppController::currentExePath()
{
    return currentBundlePath() + QStringLiteral("/Contents/MacOS/Pro Tombrel");
}

std::optional<int> AppController::runCommandLineMode(const QStringList &arguments)
{
    if (arguments.size() < 2)
        return std::nullopt;
    const QString mode = arguments.at(1);
    static const QStringList background = { "-process", "-autosave", "-reload", "-repopulate" };
    if (!background.contains(mode))
        return std::nullopt;
    std::unique_ptr<AppController> controller;
    const bool made = QFException::guard("runCommandLineMode", [&] { controller = std::make_unique<AppController>(false); });
    if (!made || !controller) {
        qfSystemLog(QStringLiteral("Fatal error: Unable to initialize application"));
        return 1;
    }
    if (mode == QLatin1String("-process")) {
        controller->engine()->processProjects();
        QFTaskEx::runTaskAndReturn(currentExePath(), { QStringLiteral("-reload") });
    } else if (mode == QLatin1String("-autosave")) {
        controller->autosave();
    }
    return 0;
}

QVariant AppController::preferenceValue(const QString &key)
{
    return preference(key);
}

QVariantList AppController::defaultWatchFolders()
{
    const QString documents = QFLocalPaths::documentDirectory(true);
    auto folder = [](const QString &path, const char *extensions) {
        return QVariantMap { { QStringLiteral("folder"), path }, { QStringLiteral("extensions"), QString::fromLatin1(extensions) } };
    };
    return {
        folder(QFLocalPaths::movieDirectory(), "fcpevent,fcpproject,kdenlive,mlt,blend,ardour,ove,drp"),
        folder(documents + QStringLiteral("/Avid Projects"), "avb,avp"),
        folder(documents + QStringLiteral("/Adobe/Audition"), "sesx"),
        folder(documents + QStringLiteral("/Adobe/Prelude/1.0/Projects"), "plproj"),
        folder(documents + QStringLiteral("/Adobe/Premiere Pro"), "prproj"),
    };
}

void AppController::applicationDidFinishLaunching(const QStringList &arguments)
{
    if (m_launched)
        return;
    m_launched = true;
    QFException::guard("applicationDidFinishLaunching", [&] {
        // Made here on the main thread, so that work on other threads never waits for it.
        QFDropboxSync::shared();
        m_mode = modeForArguments(arguments);
        if (m_mode != Mode::Normal) {
            QString identifier = QFBundle::bundleIdentifier();
            if (identifier.isEmpty())
                identifier = QStringLiteral("com.quenfield.ProTombrel");
            const QList<qint64> copies = QFRunningApplications::processesWithBundleIdentifier(identifier);
            if (copies.size() >= kMaximumCopiesInBackgroundModes) {
                QFLog::appendLog("%i copies are running already - quitting.", int(copies.size()) - 1);
                // The version is not lost: the next upload compares its project with Dropbox.
                const QString project = QFProjectActions::projectFolderOfVersion(arguments.last());
                if (m_mode == Mode::Upload && !project.isEmpty() && QFDropboxSync::isSyncOn())
                    QFProjectActions::notePendingUploads({ project });
                quit();
                return;
            }
        }
        if (m_mode == Mode::Upload) {
            const QString path = arguments.last();
            if (!QFileInfo::exists(path) || QFPreferenceSnapshot::read().integer(QStringLiteral("syncService"), 0) != 1) {
                quit();
                return;
            }
            startUploadMode(path);
            return;
        }
        if (m_mode == Mode::RemoteRemoval) {
            startRemoteRemoval(QFAppRequest::decodeRemotePathList(arguments.last()));
            return;
        }

        setUpWindow();
        m_window->show();
        m_window->activateWindow();
        ensureHelperRunning();
        const QString storage = QFProject::storageRoot();
        const QFileInfo storageInfo(storage);
        if (storageInfo.exists() && !storageInfo.isWritable())
            QFAuthorization::sharedController()->authExecTask(QStringLiteral("/bin/chmod"), { QStringLiteral("-R"), QStringLiteral("+rw"), storage }, false);
        xpcSetup();

        QDBusConnection::sessionBus().connect(QString(), QStringLiteral("/com/quenfield/ProTombrel"), QStringLiteral("com.quenfield.ProTombrel"),
            QStringLiteral("QFProTombrelFilesBackedUp"), this, SLOT(onFilesBackedUp()));

        if (preference(QStringLiteral("firstRun")).toBool())
            firstRun();

        detach([] {
            const int major = QFAppleEvents::finalCutProMajorVersion();
            if (major < 7)
                QFMainThread::run([] { setPreferences({ { QStringLiteral("autosaveEnabled"), 0 } }); }, false);
        });

        populateProjects();
        m_softwareUpdate->startup([this](std::function<void()> work) { detach(std::move(work)); });
        // Offered once the window is on screen, as its sheet.
        QTimer::singleShot(0, this, [this] { QFException::guard("offerToInstall", [this] { offerToInstall(currentBundlePath()); }); });
    });
}

void AppController::offerToInstall(const QString &bundlePath)
{
    if (bundlePath.isEmpty() || !QFileInfo::exists(QFileInfo(bundlePath).absolutePath() + QStringLiteral("/.DMGPackagerBG")))
        return;
    const int answer = QFAlert::alertSheetWithMessageText(
        QStringLiteral("Pro Tombrel works best when installed on your system hard disk. Would you like to install it to your Applications folder now?"),
        QStringLiteral("Install"), QStringLiteral("Ignore"), QString(),
        QStringLiteral("In order to function correctly, Pro Tombrel needs to run on demand and if you unmount or remove the disk image it will be unable to do so."),
        m_window, true);
    if (answer != QFAlert::kDefaultReturn)
        return;
    const QString applications = QFLocalPaths::applicationDirectory(true);
    const QString installed = applications + QStringLiteral("/Pro Tombrel.app");
    QDir().mkpath(applications);
    // Each step falls back to the administrator when the user's own attempt is refused. An older copy
    // that stays where it is must not pass for the new one.
    if (QFFileManager::existsNoFollow(installed))
        QFFileManager::trashFile(installed, true);
    const bool copied = !QFFileManager::existsNoFollow(installed) && QFFileManager::copyFile(bundlePath, installed, true);
    const QString executable = installed + QStringLiteral("/Contents/MacOS/Pro Tombrel");
    if (!copied || !QFileInfo(installed).isDir()) {
        QFAlert::alertSheetWithMessageText(QStringLiteral("Unable to copy file"),
            QStringLiteral("Please copy the application manually to your Applications folder."), m_window);
        return;
    }
    QFLog::appendLog("Installed to %@.", installed);
    if (QFTaskEx::isExecutable(executable))
        QFTaskEx::startDetached(executable, {});
    quit();
}

void AppController::applicationWillTerminate()
{
    QFBugReporter::stopBugReporter();
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

    const bool collapsed = integerPreference(QStringLiteral("viewMode"), 0) > 0;
    m_window->viewModeAction()->setChecked(!collapsed);
    if (collapsed)
        m_window->detailSplitter()->setSizes({ 0, 1 });

    connect(m_window->projectTable()->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] {
        QFException::guard("projectSelectionChanged", [this] { projectSelectionChanged(); });
    });
    connect(m_window->versionOutline()->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        QFException::guard("outlineSelectionChanged", [this] { outlineSelectionChanged(); });
    });
    connect(m_window->screenshotStrip(), &QFCoverFlowView::scrollingStopped, this, [this](int index) {
        QFException::guard("stripStoppedScrolling", [&] { stripStoppedScrolling(index); });
    });
    connect(m_window->viewModeAction(), &QAction::toggled, this, [this](bool shown) {
        setPreferences({ { QStringLiteral("viewMode"), shown ? 0 : 1 } });
        toggleScreenshotView();
    });
    connect(m_window->backupNowAction(), &QAction::triggered, this, &AppController::backupNow);
    connect(m_window->noBackupButton(), &QPushButton::clicked, this, &AppController::backupNow);
    connect(m_window, &MainWindow::becameMain, this, [this] { QFException::guard("windowDidBecomeMain", [this] { mainWindowBecameMain(); }); });
    connect(m_window, &MainWindow::stripPaneResized, this, &AppController::updateNoBackupView);
    connect(m_window->projectSearchField(), &QLineEdit::textChanged, this, [this] {
        QFException::guard("projectSearch", [this] { projectSearch(); });
    });
    connect(m_window->versionSearchField(), &QLineEdit::textChanged, this, [this](const QString &text) {
        QFException::guard("search", [&] { search(text); });
    });
    connect(m_window->printAction(), &QAction::triggered, this, [this] { QFException::guard("print", [this] { print(); }); });
    connect(m_window->versionOutline()->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        m_window->compareAction()->setEnabled(selectedVersionFiles().size() == 2);
    });
    connect(m_window->compareAction(), &QAction::triggered, this, [this] {
        QFException::guard("compareVersions", [this] { compareSelectedVersions(); });
    });
    connect(m_window->generateXMLAction(), &QAction::triggered, this, [this] {
        QFException::guard("toolbarGenerateXML", [this] { toolbarGenerateXML(); });
    });
    connect(m_window->versionOutline(), &QFOutlineView::placeholderClicked, this, [this](const QModelIndex &index) {
        QFException::guard("generateFCPProjectXML", [&] { generateFCPProjectXML(index.data(QFVersionListModel::VersionFileRole).toString()); });
    });
    connect(m_window->printPreviewAction(), &QAction::triggered, this, [this] {
        QFException::guard("printPreview", [this] {
            QFPrint::previewHTMLString(generateHTMLForPrinting(true), printJobTitle(), m_window);
        });
    });
    connect(m_window->preferencesAction(), &QAction::triggered, this, [this] {
        QFException::guard("showPrefs:", [this] { showPreferences(); });
    });
    connect(m_window->relaunchHelperAction(), &QAction::triggered, this, &AppController::relaunchHelper);
    m_prefController = new QFPrefController(this);
    m_actions = new QFActionController(this, m_window);
    // The empty project list's ways to the first project.
    connect(m_window->addProjectButton(), &QPushButton::clicked, m_actions, [this] { QFException::guard("importFile:", [this] { m_actions->importFile(); }); });
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

// --- The project list ---------------------------------------------------------------------------------

void AppController::populateProjects()
{
    // A re-read that has not started yet covers this request; one under way may have listed too early.
    if (m_projectReadWaiting.exchange(true))
        return;
    m_projectQueue.start([this] {
        m_projectReadWaiting = false;
        QFException::guard("populateProjects", [this] { readProjects(); });
    });
}

void AppController::readProjects()
{
    QFMainThread::run([this] {
        m_startingUp = m_projects.isEmpty();
        if (m_startingUp && m_window)
            m_window->projectSpinner()->show();
    }, true);

    const QString root = QFProject::storageRoot();
    QList<QFProject> projects;
    const QStringList names = QDir(root).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names) {
        const QString folder = root + u'/' + name;
        if (!QFileInfo::exists(folder + QStringLiteral("/Settings.plist")))
            continue;
        QFLog::appendLog("Found %@...", name);
        const std::optional<QFProjectListEntry> entry = QFProject::readProjectFolder(folder);
        if (!entry)
            continue;
        QFLog::appendLog("Linked project: %@.", entry->path);
        QFProject project = QFProject::recordWithPath(entry->path, entry->sequences, entry->projectID);
        project.setSelectedUUID(entry->selectedUUID);
        projects << project;
    }
    std::sort(projects.begin(), projects.end(), QFProject::nameLessThan);
    QFMainThread::run([this, projects] { showProjects(projects); }, true);
}

QList<QFProject> AppController::projectsMatching(const QList<QFProject> &projects, const QString &text)
{
    if (text.isEmpty())
        return projects;
    const QString lower = text.toLower();
    QList<QFProject> matching;
    for (const QFProject &project : projects) {
        if (project.friendlyName().toLower().contains(lower) || project.projectPath().toLower().contains(lower))
            matching << project;
    }
    return matching;
}

void AppController::projectSearch()
{
    const QString text = m_window->projectSearchField()->text();
    const QList<QFProject> shown = projectsMatching(m_projects, text);
    m_projectModel->setProjects(shown);
    m_window->projectCountLabel()->setText(qfFormat("%i project%@", int(shown.size()), plural(shown.size())));
    m_window->updateEmptyProjectsView(m_projects.size(), shown.size());
    selectLastProject();
    updateNoBackupView();
}

void AppController::showProjects(const QList<QFProject> &projects)
{
    m_projects = projects;
    if (m_window) {
        const QList<QFProject> shown = projectsMatching(projects, m_window->projectSearchField()->text());
        // The selection survives a re-read when its project is still there.
        const QString selected = m_window->projectTable()->currentIndex().data(QFProjectListModel::ProjectIDRole).toString();
        const QSignalBlocker blocker(m_window->projectTable()->selectionModel());
        m_projectModel->setProjects(shown);
        for (int row = 0; row < shown.size(); ++row) {
            if (!selected.isEmpty() && shown.at(row).projectID() == selected)
                m_window->projectTable()->setCurrentIndex(m_projectModel->index(row));
        }
        m_window->projectCountLabel()->setText(qfFormat("%i project%@", int(shown.size()), plural(shown.size())));
        m_window->updateEmptyProjectsView(projects.size(), shown.size());
    }
    if (m_startingUp) {
        if (m_window) {
            m_window->projectSpinner()->hide();
            selectLastProject();
        }
        xpcConfigUpdate();
    }
    // The first project came, or the last one went.
    updateHelperJob();
    m_startingUp = projects.isEmpty();
    updateNoBackupView();
    Q_EMIT projectListShown();
}

void AppController::selectLastProject()
{
    if (!m_window)
        return;
    QListView *table = m_window->projectTable();
    const QModelIndex before = table->currentIndex();
    const QString last = preference(QStringLiteral("lastProjectID")).toString();
    const QList<QFProject> &rows = m_projectModel->projects();
    for (int row = 0; row < rows.size(); ++row) {
        if (!last.isEmpty() && rows.at(row).projectID() == last) {
            table->setCurrentIndex(m_projectModel->index(row));
            table->scrollTo(m_projectModel->index(row));
            break;
        }
    }
    if (!table->currentIndex().isValid() && !rows.isEmpty())
        table->setCurrentIndex(m_projectModel->index(0));
    // A new selection has filled the version list already.
    else if (table->currentIndex().isValid() && table->currentIndex() == before)
        populateChangelistForProject(selectedProjectFolder());
}

void AppController::projectSelectionChanged()
{
    const QModelIndex current = m_window->projectTable()->currentIndex();
    if (!current.isValid())
        return;
    const QString projectID = current.data(QFProjectListModel::ProjectIDRole).toString();
    if (projectID != preference(QStringLiteral("lastProjectID")).toString())
        setPreferences({ { QStringLiteral("lastProjectID"), projectID } });
    resetSearch();
    replaceVersionList({});
    m_window->backupNowAction()->setEnabled(true);
    populateChangelistForProject(selectedProjectFolder());
}

// --- The version list ---------------------------------------------------------------------------------

void AppController::populateChangelistForProject(const QString &projectFolder)
{
    if (projectFolder.isEmpty())
        return;
    // Requests still waiting are dropped: the latest wins.
    m_parserQueue.clear();
    m_parserQueue.start([this, projectFolder] {
        QFException::guard("populateChangelistForProject", [&] { populateOperation(projectFolder); });
    });
}

void AppController::populateOperation(const QString &projectFolder)
{
    QFLog::appendLog("Populating changelist for project: %@", projectFolder);
    const bool interactive = m_hasUserInterface;
    // Every version is listed at once, newest first; change lines fill in as they are computed, so the
    // newest version is at the top from the start, however many versions are still to be read.
    const QList<QFVersionEntry> listed = interactive ? versionsWithoutLines(projectFolder, listVersions(projectFolder + QStringLiteral("/Versions")).names)
                                                     : QList<QFVersionEntry>();
    QFMainThread::run([this, projectFolder, interactive, listed] {
        if (interactive && m_window && projectFolder == selectedProjectFolder()) {
            // Versions shown already keep their lines until the new ones come.
            QHash<QString, QFVersionEntry> shown;
            for (const QFVersionEntry &entry : m_versionModel->allEntries())
                shown.insert(entry.file, entry);
            QList<QFVersionEntry> rows;
            rows.reserve(listed.size());
            for (const QFVersionEntry &entry : listed)
                rows << shown.value(entry.file, entry);
            replaceVersionList(rows);
            m_window->versionSpinner()->show();
        }
    }, true);

    std::optional<QVariantMap> cache;
    {
        QMutexLocker lock(&m_cacheLock);
        cache = m_engine->cacheForProject(projectFolder, this);
    }
    if (!cache) {
        if (interactive && !m_engine->processingCancelled()) {
            onMainThread([this] {
                QFAlert::alertSheetWithMessageText(QStringLiteral("Unable to load cache"),
                    QStringLiteral("Pro Tombrel was unable to determine version information."), m_window);
            });
        } else if (!interactive) {
            QFLog::appendLog("Unable to load cache. Pro Tombrel was unable to determine version information.");
        }
    }

    const ListedVersions versions = listVersions(projectFolder + QStringLiteral("/Versions"));
    QList<QFVersionEntry> result;
    for (const QString &name : versions.names) {
        if (!cache)
            break;
        if (const auto entry = QFVersionEntry::fromDictionary(cache->value(name)))
            result.prepend(*entry);
    }
    const bool showXMLItem = versions.fcpRemains && QFPreferenceSnapshot::read().integer(QStringLiteral("generateFCPXML"), 0) == 1;

    QFMainThread::run([this, projectFolder, result, showXMLItem] {
        if (m_window)
            m_window->generateXMLAction()->setVisible(showXMLItem);
        if (m_window && projectFolder == selectedProjectFolder()) {
            replaceVersionList(result);
            if (m_window->isVisible() && !result.isEmpty())
                m_window->versionOutline()->setCurrentIndex(m_versionModel->index(0, 0));
            // Which of them Dropbox holds: the answer marks them " (synced)".
            m_engine->loadSyncedFileListForProjectUUID(QFDropboxSync::remotePathForProject(projectFolder).mid(1));
        }
        if (m_window)
            m_window->versionSpinner()->hide();
        QFLog::appendLog("Finished populating changelist for project %@.", projectFolder);
        Q_EMIT versionListPopulated(projectFolder);
    }, true);
}

void AppController::replaceVersionList(const QList<QFVersionEntry> &entries)
{
    if (!m_window)
        return;
    m_versionModel->setFilters(filterPreferences());
    m_versionModel->setEntries(entries);
    m_readyEntries.clear();
    showVersionListInViews();
    // A search under way applies to the new list too.
    const QString search = m_window->versionSearchField()->text();
    if (!search.isEmpty() && !entries.isEmpty())
        beginSearch(search);
}

void AppController::showVersionListInViews()
{
    const QList<QFVersionEntry> &shown = m_versionModel->entries();
    QList<QFCoverFlowView::Item> items;
    items.reserve(shown.size());
    for (const QFVersionEntry &entry : shown)
        items << stripItemFor(entry);
    m_window->screenshotStrip()->setItems(items);
    if (m_window->isVisible() && !shown.isEmpty())
        m_window->versionOutline()->expandAll();
    m_window->printAction()->setEnabled(!shown.isEmpty());
    m_window->printPreviewAction()->setEnabled(!shown.isEmpty());
    updateVersionCount();
    updateNoBackupView();
}

QVariantMap AppController::filterPreferences()
{
    const QFPreferenceSnapshot prefs = QFPreferenceSnapshot::read();
    QVariantMap filters;
    for (const QString &key : QFChangeLines::filterKeys()) {
        const QVariant value = prefs.value(key);
        if (value.isValid())
            filters.insert(key, value);
    }
    return filters;
}

void AppController::reloadBackupViews()
{
    if (!m_window)
        return;
    m_versionModel->setFilters(filterPreferences());
    showVersionListInViews();
}

// --- Searches -----------------------------------------------------------------------------------------

void AppController::search(const QString &text)
{
    if (text.isEmpty()) {
        updateVersionSearchArray(std::nullopt);
        return;
    }
    beginSearch(text);
}

void AppController::beginSearch(const QString &text)
{
    const QList<QFVersionEntry> entries = m_versionModel->allEntries();
    const QString folder = selectedProjectFolder();
    detach([this, text, entries, folder] {
        QFLog::appendLog("Beginning search for '%@'", text);
        const QList<QFVersionEntry> result = QFChangeLines::searchVersions(entries, text);
        onMainThread([this, text, result, folder] {
            // A result for an older text or another project is not shown.
            if (m_window && m_window->versionSearchField()->text() == text && selectedProjectFolder() == folder)
                updateVersionSearchArray(result);
        });
    });
}

void AppController::updateVersionSearchArray(const std::optional<QList<QFVersionEntry>> &result)
{
    if (!m_window)
        return;
    m_versionModel->setSearchResult(result);
    showVersionListInViews();
    Q_EMIT versionSearchShown();
}

void AppController::resetSearch()
{
    if (!m_window)
        return;
    const QSignalBlocker blocker(m_window->versionSearchField());
    m_window->versionSearchField()->clear();
    if (m_versionModel->isShowingSearchResult())
        updateVersionSearchArray(std::nullopt);
}

// --- Comparing two versions ---------------------------------------------------------------------------

QStringList AppController::selectedVersionFiles() const
{
    QStringList files;
    for (const QModelIndex &index : m_window->versionOutline()->selectionModel()->selectedIndexes()) {
        if (index.data(QFVersionListModel::KindRole).toInt() == QFVersionListModel::VersionRow)
            files << index.data(QFVersionListModel::VersionFileRole).toString();
    }
    return files;
}

void AppController::compareSelectedVersions()
{
    const QStringList files = selectedVersionFiles();
    if (files.size() != 2)
        return;
    detach([this, files] {
        QString error;
        const std::optional<QStringList> lines = QFChangeLines::compareVersions(files.at(0), files.at(1), &error);
        onMainThread([this, files, lines, error] { showComparison(files, lines, error); });
    });
}

void AppController::showComparison(const QStringList &files, const std::optional<QStringList> &lines, const QString &error)
{
    if (!m_window)
        return;
    if (!lines) {
        QFAlert::alertSheetWithMessageText(QStringLiteral("Unable to compare the versions"), error, m_window);
        return;
    }
    auto number = [](const QString &file) { return QFTombrelBackup::versionNumberOfFile(QFileInfo(file).fileName()).value_or(0); };
    const qint64 older = std::min(number(files.at(0)), number(files.at(1)));
    const qint64 newer = std::max(number(files.at(0)), number(files.at(1)));
    auto *sheet = new QDialog(m_window);
    sheet->setObjectName(QStringLiteral("comparisonSheet"));
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setWindowTitle(qfFormat("Version %@ to Version %@", QFTombrelBackup::padNumber(older), QFTombrelBackup::padNumber(newer)));
    sheet->resize(560, 380);
    auto *layout = new QVBoxLayout(sheet);
    auto *heading = new QLabel(qfFormat("What changed from Version %@ to Version %@:", QFTombrelBackup::padNumber(older), QFTombrelBackup::padNumber(newer)));
    auto *list = new QListWidget;
    list->setObjectName(QStringLiteral("comparisonLines"));
    for (const QString &line : *lines)
        list->addItem(new QListWidgetItem(QFAppImages::iconForChangeLine(line), line));
    if (lines->isEmpty())
        list->addItem(QStringLiteral("No change"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    QObject::connect(buttons, &QDialogButtonBox::rejected, sheet, &QDialog::reject);
    layout->addWidget(heading);
    layout->addWidget(list, 1);
    layout->addWidget(buttons);
    sheet->open();
    Q_EMIT comparisonShown(sheet);
}

// --- XML copies of binary versions ------------------------------------------------------------------

QString AppController::sequenceUUIDForVersion(const QString &versionFile) const
{
    // The version lies in the Versions folder of its project's folder.
    const QString projectFolder = QFileInfo(QFileInfo(versionFile).absolutePath()).absolutePath();
    for (const QFProject &project : m_projects) {
        if (project.destinationPath() == projectFolder)
            return project.selectedUUID();
    }
    return {};
}

void AppController::generateFCPProjectXML(const QString &versionFile)
{
    if (versionFile.isEmpty() || !m_window)
        return;
    const std::optional<qint64> number = QFTombrelBackup::versionNumberOfFile(QFileInfo(versionFile).fileName());
    QFLog::appendLog("Generating XML on demand for project %@ revision %i...", versionFile, long(number.value_or(0)));
    populateProjects();
    QFProgressSheet *sheet = m_window->progressSheet();
    m_progressCancelled = false;
    sheet->start(QStringLiteral("Waiting for XML data..."));
    const QString uuid = sequenceUUIDForVersion(versionFile);
    const QString folder = QFileInfo(versionFile).absolutePath();
    detach([this, versionFile, folder, number, uuid] {
        QFException::guard("generateFCPProjectXML", [&] {
            m_engine->backupProject(versionFile, folder, number.value_or(0), uuid, true, true);
            onMainThread([this] {
                if (m_window)
                    m_window->progressSheet()->setStatus(QStringLiteral("Updating changelist..."));
            });
            QMutexLocker lock(&m_cacheLock);
            m_engine->updateChangelistForItem(xmlPathFor(versionFile));
        });
        onMainThread([this, folder] { endProgress(QFileInfo(folder).absolutePath()); });
    });
}

void AppController::toolbarGenerateXML()
{
    if (!m_window || m_versionModel->allEntries().isEmpty())
        return;
    if (!QFAppleEvents::isFCPRunning()) {
        const int answer = QFAlert::alertSheetWithMessageText(QStringLiteral("Final Cut Pro needs to be launched. Do you wish to continue?"),
            QStringLiteral("Launch FCP"), QStringLiteral("Cancel"), QString(),
            QStringLiteral("You must close any Final Cut Pro dialog boxes that pop up in order to generate XML information."), m_window, true);
        if (answer != QFAlert::kDefaultReturn)
            return;
    }
    QFLog::appendLog("Generating XML for all revisions...");
    const QList<QFVersionEntry> entries = m_versionModel->allEntries();
    const QString projectFolder = selectedProjectFolder();
    QFProgressSheet *sheet = m_window->progressSheet();
    m_progressCancelled = false;
    sheet->start(qfFormat("Detecting changes for %@...", m_window->projectTable()->currentIndex().data().toString()));
    sheet->setDeterminate(int(entries.size()));
    sheet->setStatus(QStringLiteral("Generating XML data. This may take a while..."));
    populateProjects();
    QList<std::pair<QString, QString>> work; // version file, sequence
    for (const QFVersionEntry &entry : entries)
        work.append({ entry.file, sequenceUUIDForVersion(entry.file) });
    detach([this, work, projectFolder, sheet] {
        for (const auto &[file, uuid] : work) {
            // Cancel stops before the next version; the copies made so far stay.
            if (sheet->isCancelled())
                break;
            QFException::guard("generateXMLForAll", [&] {
                if (file.endsWith(QLatin1String(".fcp"), Qt::CaseInsensitive)) {
                    const auto number = QFTombrelBackup::versionNumberOfFile(QFileInfo(file).fileName());
                    m_engine->backupProject(file, QFileInfo(file).absolutePath(), number.value_or(0), uuid, true, true);
                    QMutexLocker lock(&m_cacheLock);
                    m_engine->updateChangelistForItem(xmlPathFor(file));
                }
            });
            onMainThread([sheet] { sheet->increment(); });
        }
        onMainThread([this, projectFolder] { endProgress(projectFolder); });
    });
}

QString AppController::xmlPathFor(const QString &versionFile)
{
    const QFileInfo file(versionFile);
    return file.absolutePath() + u'/' + file.completeBaseName() + QStringLiteral(".xml");
}

void AppController::endProgress(const QString &projectFolder)
{
    m_progressCancelled = true;
    if (m_window)
        m_window->progressSheet()->finish();
    populateChangelistForProject(projectFolder);
    Q_EMIT xmlGenerationFinished();
}

// --- Printing -----------------------------------------------------------------------------------------

QString AppController::generateHTMLForPrinting(bool complete) const
{
    const QModelIndex current = m_window ? m_window->projectTable()->currentIndex() : QModelIndex();
    const QString name = current.isValid() ? current.data().toString() : QString();
    return QFChangeLines::reportHTML(name, m_versionModel ? m_versionModel->allEntries() : QList<QFVersionEntry>(), complete,
        QFChangeLines::imageFolder());
}

QString AppController::printJobTitle()
{
    return QFChangeLines::reportJobTitle(preference(QStringLiteral("lastProject")).toString());
}

void AppController::print()
{
    if (!m_window || m_versionModel->entries().isEmpty())
        return;
    QFPrint::printHTMLStringWithDialog(generateHTMLForPrinting(true), printJobTitle(), m_window);
}

void AppController::versionsToBeLoaded(int count)
{
    // The bar runs until the first version is ready, then counts.
    m_progressMaximum = count;
    m_progressValue = 0;
    if (m_window && count > 0) {
        m_window->versionSpinner()->setRange(0, 0);
        m_window->versionSpinner()->show();
    }
}

void AppController::changeLogReady(const QFVersionEntry &entry)
{
    if (!m_window)
        return;
    const QString selected = selectedProjectFolder();
    if (selected.isEmpty() || !entry.file.startsWith(selected + u'/'))
        return;
    // Entries arrive one by one, faster than rows can be laid out; they are shown together at the next
    // turn of the event loop.
    m_readyEntries << entry;
    if (!m_readyFlushQueued) {
        m_readyFlushQueued = true;
        QTimer::singleShot(0, this, &AppController::showReadyEntries);
    }
}

void AppController::showReadyEntries()
{
    m_readyFlushQueued = false;
    if (!m_window || m_readyEntries.isEmpty())
        return;
    const QString selected = selectedProjectFolder();
    QList<QFVersionEntry> newestFirst;
    for (auto it = m_readyEntries.crbegin(); it != m_readyEntries.crend(); ++it) {
        if (selected.isEmpty() || !it->file.startsWith(selected + u'/'))
            continue;
        newestFirst << *it;
    }
    const int progressed = int(m_readyEntries.size());
    m_readyEntries.clear();
    if (newestFirst.isEmpty())
        return;
    // A version listed already gets its lines in its own row; one that was not goes to the top.
    const QList<QFVersionEntry> added = m_versionModel->updateEntries(newestFirst);
    if (!m_versionModel->isShowingSearchResult()) {
        QList<QFCoverFlowView::Item> items;
        for (const QFVersionEntry &entry : added)
            items << stripItemFor(entry);
        for (const QFVersionEntry &entry : newestFirst) {
            const int row = m_versionModel->rowOfFile(entry.file);
            if (row >= 0)
                m_window->versionOutline()->expand(m_versionModel->index(row, 0));
        }
        if (!items.isEmpty())
            m_window->screenshotStrip()->insertItemsAtFront(items);
        m_window->printAction()->setEnabled(true);
        m_window->printPreviewAction()->setEnabled(true);
    }
    m_lastChangeListTime = QDateTime::currentMSecsSinceEpoch();
    updateVersionCount();
    updateNoBackupView();
    m_progressValue += progressed;
    if (m_progressMaximum > 0) {
        m_window->versionSpinner()->setRange(0, m_progressMaximum);
        m_window->versionSpinner()->setValue(std::min(m_progressValue, m_progressMaximum));
    }
}

QFCoverFlowView::Item AppController::stripItemFor(const QFVersionEntry &entry)
{
    const QFileInfo file(entry.file);
    return { QDir::cleanPath(file.absolutePath() + QStringLiteral("/../Screenshots/") + file.completeBaseName() + QStringLiteral(".jpg")),
        entry.version };
}

void AppController::loadingFinished()
{
    m_startingUp = false;
    if (m_window)
        m_window->versionSpinner()->setRange(0, 0);
}

void AppController::updateVersionCount()
{
    if (!m_window)
        return;
    const qsizetype count = m_versionModel->entries().size();
    m_window->versionCountLabel()->setText(qfFormat("%i version%@", int(count), plural(count)));
}

void AppController::updateNoBackupView()
{
    if (!m_window)
        return;
    // A search that matches nothing leaves a project with versions: nothing to back up for the first time.
    const bool shown = m_projectModel->rowCount() > 0 && m_versionModel->allEntries().isEmpty();
    m_window->placeNoBackupView(shown);
}

// --- Outline and strip in step ------------------------------------------------------------------------

void AppController::outlineSelectionChanged()
{
    const int row = QFVersionListModel::entryRow(m_window->versionOutline()->currentIndex());
    if (row < 0)
        return;
    QFCoverFlowView *strip = m_window->screenshotStrip();
    if (strip->currentIndex() == row && !strip->isScrolling())
        return;
    m_stripMovedByOutline = true;
    strip->scrollToIndex(row, 500);
}

void AppController::stripStoppedScrolling(int index)
{
    if (m_stripMovedByOutline) {
        m_stripMovedByOutline = false;
        return;
    }
    if (index < 0 || index >= m_versionModel->rowCount())
        return;
    QFOutlineView *outline = m_window->versionOutline();
    if (QFVersionListModel::entryRow(outline->currentIndex()) == index)
        return;
    const QModelIndex row = m_versionModel->index(index, 0);
    outline->setCurrentIndex(row);
    outline->scrollTo(row);
}

void AppController::toggleScreenshotView()
{
    QSplitter *splitter = m_window->detailSplitter();
    if (integerPreference(QStringLiteral("viewMode"), 0) != 0) {
        splitter->setSizes({ 0, splitter->height() });
    } else {
        splitter->setSizes({ std::min(kExpandedStripHeight, splitter->height() / 2), splitter->height() / 2 });
        m_window->screenshotStrip()->update();
    }
    updateNoBackupView();
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
            QFTombrelBackup engine;
            const QString versions = folder + QStringLiteral("/Versions");
            const bool launch = QFPreferenceSnapshot::read().integer(QStringLiteral("generateFCPXML"), 0) == 1;
            engine.backupProject(project.expandedProjectPath(), versions, QFProjectActions::nextVersionNumber(versions), project.selectedUUID(), launch, true);
            engine.manageBackups();
        });
        onMainThread([this, folder] {
            if (m_window)
                m_window->backupNowAction()->setEnabled(true);
            populateChangelistForProject(folder);
        });
    });
}

// --- Helper -------------------------------------------------------------------------------------------

void AppController::ensureHelperRunning()
{
    // Only the application in its bundle has a helper to install; run from elsewhere (a test, a build
    // folder without the bundle) it leaves the service manager alone.
    if (!runsFromBundle()) {
        QFLog::appendLog("Not running from the application bundle - the helper's job is left as it is.");
        return;
    }
    if (m_recoveredFromCrash)
        generateLaunchdPlist(true);
    else if (!QFLaunchd::isProcessRunning(QStringLiteral("ProTombrelHelper")) || !hasSomethingToWatch())
        generateLaunchdPlist(false);
    else
        m_helperJobWanted = true; // running, with its job as it was written
}

bool AppController::runsFromBundle()
{
    return QFBundle::bundleIdentifier() == QLatin1String("com.quenfield.ProTombrel");
}

void AppController::updateHelperJob()
{
    if (!m_helperJobWanted || *m_helperJobWanted != hasSomethingToWatch())
        generateLaunchdPlist(false);
}

bool AppController::hasSomethingToWatch() const
{
    return !m_engine->projects().isEmpty() || !QFPreferenceSnapshot::read().value(QStringLiteral("watchFolders")).toList().isEmpty();
}

void AppController::generateLaunchdPlist(bool mayAuth)
{
    // Run from elsewhere than its bundle (a test, a build folder) there is no helper to install.
    if (!runsFromBundle())
        return;
    m_helperJobWanted = hasSomethingToWatch();
    const bool hasUserInterface = m_hasUserInterface;
    // One rewrite at a time (each ends the running helper and starts a new one); a request made while
    // another has not begun yet is covered by that one, which reads everything when it begins.
    if (mayAuth)
        m_helperJobMayAuth = true;
    if (m_helperJobWaiting.exchange(true))
        return;
    detach([this, hasUserInterface] {
        QMutexLocker lock(&m_helperJobLock);
        m_helperJobWaiting = false;
        const bool mayAuth = m_helperJobMayAuth.exchange(false);
        QFException::guard("generateLaunchdPlist:", [&] { QFHelperAgent::generateLaunchdPlist(mayAuth, hasUserInterface, *m_engine); });
        onMainThread([this] { Q_EMIT helperJobsWritten(); });
    });
}

void AppController::generateAutosavePlist(std::function<void()> done)
{
    detach([this, done = std::move(done)] {
        QFException::guard("generateAutosavePlist", [&] { QFHelperAgent::generateAutosavePlist(*m_engine); });
        onMainThread([done] {
            if (done)
                done();
        });
    });
}

void AppController::relaunchHelper()
{
    const bool hasUserInterface = m_hasUserInterface;
    detach([this, hasUserInterface] {
        QFHelperAgent::Relaunch relaunched = QFHelperAgent::Relaunch::Failed;
        QFException::guard("relaunchHelper:", [&] { relaunched = QFHelperAgent::relaunchHelper(*m_engine, hasUserInterface); });
        onMainThread([this, relaunched] {
            Q_EMIT helperJobsWritten();
            if (relaunched == QFHelperAgent::Relaunch::Relaunched) {
                QFAlert::alertSheetWithMessageText(QStringLiteral("Helper relaunched"), QString(), QString(), QString(),
                    QStringLiteral("The helper application successfully relaunched."), m_window, false);
            } else if (relaunched == QFHelperAgent::Relaunch::NothingToWatch) {
                QFAlert::alertSheetWithMessageText(QStringLiteral("Nothing to watch"), QString(), QString(), QString(),
                    QStringLiteral("The helper runs once a project is added or a folder is watched in Preferences."), m_window, false);
            } else {
                QFAlert::alertSheetWithMessageText(QStringLiteral("Unable to relaunch the helper"), QString(), QString(), QString(),
                    QStringLiteral("The helper application could not be started. The log has the details."), m_window, false);
            }
        });
    });
}

void AppController::watchListChanged()
{
    xpcConfigUpdate();
    updateHelperJob();
}

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
        if (!synced.contains(name) && (listed.contains(name) || listed.contains(file.completeBaseName() + QStringLiteral(".fcp")))) {
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
        QFAlert::alertSheetWithMessageText(QStringLiteral("Unable to link Dropbox"), QString(), QString(), QString(), error, window, false,
            [done = std::move(done)](int) {
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

void AppController::xpcSetup()
{
    // The bus connection is made on first use and kept; a helper that is not running is not reported.
    QDBusConnection::sessionBus();
}

namespace {

void sendToHelper(const QString &method)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(QFHelperConnection::serviceName(), QFHelperConnection::objectPath(),
        QFHelperConnection::interfaceName(), method);
    // The helper answers once its set-up is done; nothing here waits for that.
    call.setAutoStartService(false);
    bus.asyncCall(call, 120000);
}

} // namespace

void AppController::xpcConfigUpdate()
{
    sendToHelper(QStringLiteral("updateConfiguration"));
}

void AppController::xpcStartBackupScan()
{
    sendToHelper(QStringLiteral("startBackupScan"));
}

// --- First run ----------------------------------------------------------------------------------------

void AppController::firstRun()
{
    const bool editorInstalled = QFAppleEvents::isFinalCutInstalled();
    detach([this] { QFException::guard("convertPredecessorProjects", [this] { convertPredecessorProjects(); }); });
    // Settings made before the first window (tombrel watch add, tombrel prefs set) stay; the defaults
    // only fill in what is not there. One change of the file, so nothing written meanwhile is lost.
    QString error;
    const bool saved = QFPreferenceKeys::modify(
        [&](QVariantMap &contents, QString *) {
            if (editorInstalled) {
                if (!contents.contains(QStringLiteral("backupMinIntervalEnabled")))
                    contents.insert(QStringLiteral("backupMinIntervalEnabled"), 1);
                if (!contents.contains(QStringLiteral("backupMinInterval")))
                    contents.insert(QStringLiteral("backupMinInterval"), 15);
            }
            contents.insert(QStringLiteral("firstRun"), false);
            contents.insert(QStringLiteral("watchFolders"), mergedWatchFolders(contents.value(QStringLiteral("watchFolders")).toList()));
            return true;
        },
        &error);
    if (!saved)
        QFLog::appendLog("Unable to save preferences: %@", error);
    xpcConfigUpdate();
}

QVariantList AppController::mergedWatchFolders(const QVariantList &existing)
{
    QVariantList merged = existing;
    QList<QFWatchFolderSettings::Entry> entries;
    for (const QVariant &element : existing) {
        const QVariantMap folder = element.toMap();
        if (folder.value(QStringLiteral("folder")).metaType().id() == QMetaType::QString)
            entries << QFWatchFolderSettings::Entry { folder.value(QStringLiteral("folder")).toString(), std::nullopt };
    }
    for (const QVariant &element : defaultWatchFolders()) {
        const QString folder = element.toMap().value(QStringLiteral("folder")).toString();
        // Neither a folder that is watched already nor one inside a watched folder.
        if (QFWatchFolderSettings::checkNewFolder(entries, folder))
            continue;
        merged << element;
        entries << QFWatchFolderSettings::Entry { folder, std::nullopt };
    }
    return merged;
}

void AppController::convertPredecessorProjects()
{
    const auto old = QFPropertyList::readDictionary(QFLocalPaths::prefsDirectory(true) + QStringLiteral("/com.quenfield.fcptombrel.plist"));
    if (!old)
        return;
    QString store = old->value(QStringLiteral("storagePath")).toString();
    if (store.isEmpty())
        store = QFLocalPaths::appSupportDirectory(true) + QStringLiteral("/Quenfield/FCP Tombrel/Versions");
    store = QFLocalPaths::expandTilde(store);
    QSet<QString> known;
    for (const QFProjectListEntry &project : m_engine->projects())
        known.insert(QFLocalPaths::expandTilde(project.path));
    bool converted = false;
    for (const QVariant &item : old->value(QStringLiteral("filelist")).toList()) {
        const QVariantMap file = item.toMap();
        const QString path = QFLocalPaths::expandTilde(file.value(QStringLiteral("path")).toString());
        if (path.isEmpty() || known.contains(path))
            continue;
        std::optional<QFProjectSequences> sequences;
        if (file.contains(QStringLiteral("sequences"))) {
            QFProjectSequences list;
            for (const QVariant &sequence : file.value(QStringLiteral("sequences")).toList()) {
                if (auto parsed = QFProjectSequence::fromDictionary(sequence))
                    list << *parsed;
            }
            sequences = list;
        }
        QFProject project = QFProject::projectWithPath(path, sequences);
        project.setSelectedUUID(file.value(QStringLiteral("selectedUUID")).toString());
        project.saveSettings();
        known.insert(path);
        converted = true;
        const QString oldVersions = store + u'/' + QFileInfo(path).fileName();
        if (QFileInfo(oldVersions).isDir()) {
            const QString versions = project.destinationPath() + QStringLiteral("/Versions");
            QDir().mkpath(versions);
            QFFileManager::copyContentsOfDirectory(oldVersions, versions, 300);
        }
    }
    if (converted)
        onMainThread([this] { populateProjects(); });
}

// --- Background modes ---------------------------------------------------------------------------------

void AppController::startRemoteRemoval(const QStringList &paths)
{
    if (paths.isEmpty()) {
        quit();
        return;
    }
    m_remoteDeletions = 0;
    m_remoteDeletionsExpected = int(paths.size());
    QFNotificationCenter *center = QFNotificationCenter::defaultCenter();
    center->addObserver(this, QStringLiteral("QFProTombrelRemoveRemoteFile"), [this](const QVariant &, const QVariantMap &) { countRemoteDeletion(); });
    center->addObserver(this, QStringLiteral("QFProTombrelRemoveRemoteFileFailed"), [this](const QVariant &, const QVariantMap &) { countRemoteDeletion(); });
    if (QFPreferenceSnapshot::read().integer(QStringLiteral("syncService"), 0) != 1) {
        // Nothing is on the sync service while it is off: no deletion would ever be reported.
        QFLog::appendLog("Sync is off - no remote files to remove.");
        quit();
        return;
    }
    m_engine->removeSyncedFiles(paths);
}

void AppController::startUploadMode(const QString &path)
{
    QFDropboxSync *sync = QFDropboxSync::shared();
    QFDropboxClient *client = sync->restClient();
    // Without an account nothing can be uploaded, nor compared: the upload's own end quits.
    m_uploadFailed = !client;
    if (client)
        connect(client, &QFDropboxClient::uploadFileFailed, this, [this] { m_uploadFailed = true; });
    connect(sync, &QFDropboxSync::syncedFiles, this, [this](const QVariantMap &info) {
        remoteListingArrived(info.value(QStringLiteral("filenames")).toStringList(), QString());
    });
    connect(sync, &QFDropboxSync::metadataError, this,
        [this](const QVariantMap &info) { remoteListingArrived({}, info.value(QStringLiteral("error")).toString()); });
    // Each upload's end (success or failure) is handled once its failure, if any, has been seen.
    sync->setUploadMode(true, [this] { onMainThread([this] { continueUploadMode(); }); });
    m_uploading = path;
    m_engine->uploadFileToCloud(path);
}

void AppController::continueUploadMode()
{
    if (m_uploadFailed || !QFDropboxSync::isSyncOn()) {
        leaveUploadsForLater();
        quit();
        return;
    }
    if (!m_namedUploadDone) {
        // The named version is up: its project, and those earlier runs left, are compared with Dropbox.
        m_namedUploadDone = true;
        const QString own = QFProjectActions::projectFolderOfVersion(m_uploading);
        if (!own.isEmpty())
            m_catchUpProjects << own;
        for (const QString &folder : QFProjectActions::takePendingUploads()) {
            if (!m_catchUpProjects.contains(folder))
                m_catchUpProjects << folder;
        }
    }
    m_uploading.clear();
    while (!m_uploadQueue.isEmpty()) {
        const QString next = m_uploadQueue.takeFirst();
        if (!QFileInfo::exists(next))
            continue;
        QFLog::appendLog("Uploading %@, which Dropbox lacks...", next);
        m_uploading = next;
        m_engine->uploadFileToCloud(next);
        return;
    }
    if (m_catchUpProjects.isEmpty()) {
        quit();
        return;
    }
    m_listedProject = m_catchUpProjects.takeFirst();
    m_engine->loadSyncedFileListForProjectUUID(QFDropboxSync::remotePathForProject(m_listedProject).mid(1));
}

void AppController::remoteListingArrived(const QStringList &names, const QString &error)
{
    if (m_listedProject.isEmpty())
        return;
    const QString project = m_listedProject;
    m_listedProject.clear();
    // A project that has no folder in Dropbox yet lacks every version.
    if (!error.isEmpty() && !error.contains(QStringLiteral("not_found"))) {
        QFLog::appendLog("Unable to list the Dropbox copies of %@: %@", project, error);
        m_catchUpProjects.prepend(project);
        leaveUploadsForLater();
        quit();
        return;
    }
    m_uploadQueue = QFProjectActions::versionsMissingRemotely(project + QStringLiteral("/Versions"), names);
    continueUploadMode();
}

void AppController::leaveUploadsForLater()
{
    QStringList folders = m_catchUpProjects;
    for (const QString &path : m_uploadQueue + QStringList { m_uploading }) {
        const QString folder = QFProjectActions::projectFolderOfVersion(path);
        if (!folder.isEmpty() && !folders.contains(folder))
            folders << folder;
    }
    m_catchUpProjects.clear();
    m_uploadQueue.clear();
    if (folders.isEmpty())
        return;
    QFLog::appendLog("Uploads left for later: %@", folders.join(QStringLiteral(", ")));
    QFProjectActions::notePendingUploads(folders);
}

void AppController::countRemoteDeletion()
{
    if (++m_remoteDeletions == m_remoteDeletionsExpected)
        quit();
}

// --- Autosave -----------------------------------------------------------------------------------------

void AppController::autosave()
{
    if (!QFileInfo::exists(QFProject::preferenceFilePath()))
        return;
    const std::optional<QStringList> open = QFAppleEvents::listOfOpenFCPProjects();
    if (!open)
        return;
    for (const QFProjectListEntry &project : m_engine->projects()) {
        if (!open->contains(project.path))
            continue;
        QFLog::appendLog("Autosaving %@...", project.path);
        QFAppleEvents::saveProject(project.path);
    }
}
