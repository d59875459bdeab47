#include "app/QFActionController.h"

#include "app/QFDropboxRestoreController.h"
#include "app/QFSoftwareUpdate.h"
#include "engine/QFDropboxSync.h"

#include "app/AppController.h"
#include "app/MainWindow.h"
#include "app/QFAppImages.h"
#include "app/QFOutlineView.h"
#include "app/QFProjectListModel.h"
#include "app/QFVersionListModel.h"
#include "engine/QFPreferenceKeys.h"
#include "engine/QFPreferenceSnapshot.h"
#include "engine/QFProjectActions.h"
#include "engine/QFTombrelBackup.h"
#include "foundation/QFAlert.h"
#include "foundation/QFAppleEvents.h"
#include "foundation/QFClock.h"
#include "foundation/QFException.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/QFNotificationCenter.h"
#include "foundation/QFTaskEx.h"
#include "foundation/platform/QFFormat.h"
#include "foundation/platform/QFPropertyList.h"
#include "foundation/platform/QFZip.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDirIterator>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QToolBar>
#include <QUrl>
#include <QUrlQuery>
#include <QVBoxLayout>

namespace {

const QString kMakerSite = QStringLiteral("https://www.quenfield.com");

QString plural(qsizetype count)
{
    return count == 1 ? QStringLiteral("") : QStringLiteral("s");
}

QVariant preference(const char *key)
{
    return AppController::preferenceValue(QString::fromLatin1(key));
}

qint64 integerPreference(const char *key)
{
    return QFPropertyList::integerValue(preference(key)).value_or(0);
}

// A folder that is a package (a bundle the desktop shows as one file): it has an extension and holds
// its own "Contents" folder, or is one of the editors' document packages.
bool isPackage(const QFileInfo &info)
{
    if (!info.isDir() || info.suffix().isEmpty())
        return false;
    static const QStringList packages = { QStringLiteral("fcpproject"), QStringLiteral("fcpevent"), QStringLiteral("fcpbundle"),
        QStringLiteral("app"), QStringLiteral("bundle") };
    return packages.contains(info.suffix().toLower()) || QFileInfo::exists(info.absoluteFilePath() + QStringLiteral("/Contents"));
}

// The desktop entry's command line for a file: %f %F %u %U replaced by it, other field codes dropped.
QStringList desktopEntryCommand(const QString &desktopId, const QString &path)
{
    const QString file = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, desktopId);
    if (file.isEmpty())
        return {};
    QSettings entry(file, QSettings::IniFormat);
    entry.beginGroup(QStringLiteral("Desktop Entry"));
    const QStringList words = QProcess::splitCommand(entry.value(QStringLiteral("Exec")).toString());
    QStringList command;
    bool placed = false;
    for (const QString &word : words) {
        if (word == QLatin1String("%f") || word == QLatin1String("%F")) {
            command << path;
            placed = true;
        } else if (word == QLatin1String("%u") || word == QLatin1String("%U")) {
            command << QUrl::fromLocalFile(path).toString();
            placed = true;
        } else if (word.size() == 2 && word.startsWith(u'%')) {
            continue;
        } else {
            command << word;
        }
    }
    if (!command.isEmpty() && !placed)
        command << path;
    return command;
}

} // namespace

QFActionController::QFActionController(AppController *app, MainWindow *window)
    : QObject(app)
    , m_app(app)
    , m_window(window)
{
    buildMenus();
    QListView *table = window->projectTable();
    table->setAcceptDrops(true);
    table->viewport()->setAcceptDrops(true);
    table->viewport()->installEventFilter(this);
    table->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(table, &QWidget::customContextMenuRequested, this, [this, table](const QPoint &position) {
        const QModelIndex index = table->indexAt(position);
        if (index.isValid())
            showProjectMenu(index.row(), table->viewport()->mapToGlobal(position));
    });
    connect(table, &QAbstractItemView::doubleClicked, this, [this] { launchSelectedProject(); });
    QFOutlineView *outline = window->versionOutline();
    connect(outline, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &index) {
        if (index.data(QFVersionListModel::KindRole).toInt() == QFVersionListModel::VersionRow)
            openVersion();
    });
    connect(outline, &QFOutlineView::contextMenuRequestedForVersion, this, [this](const QModelIndex &, const QPoint &position) {
        QMenu menu;
        menu.addAction(QStringLiteral("Restore…"), this, &QFActionController::restore);
        menu.addAction(QStringLiteral("Annotate…"), this, &QFActionController::showAnnotateDialog);
        menu.addSeparator();
        menu.addAction(QStringLiteral("Open"), this, &QFActionController::openVersion);
        menu.addAction(QStringLiteral("Show in File Manager"), this, &QFActionController::revealInFinder);
        menu.addAction(QStringLiteral("Open in Text Editor"), this, &QFActionController::sendToTextEdit);
        menu.addSeparator();
        menu.addAction(QStringLiteral("Move to Trash…"), this, &QFActionController::deleteBackup);
        menu.exec(position);
    });
    connect(outline->selectionModel(), &QItemSelectionModel::selectionChanged, this, &QFActionController::updateSyncAction);
    connect(outline->selectionModel(), &QItemSelectionModel::currentChanged, this, &QFActionController::updateSyncAction);
    connect(outline->model(), &QAbstractItemModel::modelReset, this, &QFActionController::updateSyncAction);
    connect(outline->model(), &QAbstractItemModel::dataChanged, this, &QFActionController::updateSyncAction);
    connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this, &QFActionController::updateSyncAction);

    QFNotificationCenter *center = QFNotificationCenter::defaultCenter();
    center->addObserver(this, QStringLiteral("QFProTombrelQuickLook"), [this](const QVariant &, const QVariantMap &) {
        QFException::guard("quickLook", [this] { quickLook(); });
    });
    center->addObserver(this, QStringLiteral("QFProTombrelDeleteBackup"), [this](const QVariant &, const QVariantMap &) {
        QFException::guard("deleteBackup", [this] { deleteBackup(); });
    });
    center->addObserver(this, QStringLiteral("QFProTombrelDeleteAllBackups"), [this](const QVariant &, const QVariantMap &) {
        QFException::guard("deleteAllBackups", [this] { deleteAllBackups(); });
    });
    center->addObserver(this, QStringLiteral("QFProTombrelSyncComplete"), [this](const QVariant &, const QVariantMap &info) {
        // The archive "Cut.00005.fcp.zip", or the version itself when it went up uncompressed.
        QString name = QFileInfo(info.value(QStringLiteral("filename")).toString()).fileName();
        if (name.endsWith(QStringLiteral(".zip")))
            name.chop(4);
        m_app->markSynced({ name });
    });
    center->addObserver(this, QStringLiteral("QFProTombrelSyncedFiles"), [this](const QVariant &, const QVariantMap &info) {
            m_app->markSynced(info.value(QStringLiteral("filenames")).toStringList());
    });
    center->addObserver(this, QStringLiteral("QFProTombrelUploadProgress"), [this](const QVariant &, const QVariantMap &info) {
        QProgressBar *bar = m_window->versionSpinner();
        if (bar->maximum() == 0)
            bar->setRange(0, 1000);
        bar->setValue(int(info.value(QStringLiteral("progress")).toDouble() * 1000));
        bar->show();
    });
    center->addObserver(this, QStringLiteral("QFProTombrelSyncFailed"), [this](const QVariant &, const QVariantMap &info) {
        m_app->markSynced({});
        const QString error = info.value(QStringLiteral("error")).toString();
        tell(QStringLiteral("Error uploading file"), error.isEmpty() ? QStringLiteral("Unknown error") : error);
    });
    updateSyncAction();
}

// --- Menus --------------------------------------------------------------------------------------------

void QFActionController::buildMenus()
{
    QMenuBar *bar = m_window->menuBar();
    const auto add = [this](QMenu *menu, const QString &title, auto slot, const QString &name, const QKeySequence &keys = {}) {
        QAction *action = menu->addAction(title, this, [this, slot, name] { QFException::guard(qPrintable(name), [&] { slot(); }); });
        action->setObjectName(name);
        if (!keys.isEmpty())
            action->setShortcut(keys);
        return action;
    };

    QMenu *project = bar->addMenu(QStringLiteral("&Project"));
    add(project, QStringLiteral("&Add Project File…"), [this] { importFile(); }, QStringLiteral("importFile"), QKeySequence(QStringLiteral("Ctrl+O")));
    add(project, QStringLiteral("&Remove Project…"), [this] { removeFile(); }, QStringLiteral("removeFile"));
    add(project, QStringLiteral("Re&link Project…"), [this] { relinkProject(); }, QStringLiteral("relinkProject"));
    add(project, QStringLiteral("Delete &Offline Projects…"), [this] { deleteOfflineProjects(); }, QStringLiteral("deleteOfflineProjects"));
    project->addSeparator();
    add(project, QStringLiteral("Open &Project"), [this] { launchSelectedProject(); }, QStringLiteral("launchSelectedProject"));
    add(project, QStringLiteral("Show Project in File &Manager"), [this] { revealMasterProjectInFinder(); }, QStringLiteral("revealMasterProjectInFinder"));
    add(project, QStringLiteral("Choose &Sequence…"), [this] { showSequenceDialog(); }, QStringLiteral("showSequenceDialog"));
    project->addSeparator();
    add(project, QStringLiteral("Remove S&ynced Backups…"), [this] { removeSyncedFilesForProject(); }, QStringLiteral("removeSyncedFilesForProject"));
    m_restoreFromDropboxAction = add(project, QStringLiteral("Restore from &Dropbox…"), [this] { restoreFromDropbox(); }, QStringLiteral("restoreFromDropbox"));
    connect(project, &QMenu::aboutToShow, this, &QFActionController::updateSyncAction);

    QMenu *version = bar->addMenu(QStringLiteral("&Version"));
    QAction *restoreAction = add(version, QStringLiteral("&Restore…"), [this] { restore(); }, QStringLiteral("restore"), QKeySequence(QStringLiteral("Ctrl+R")));
    add(version, QStringLiteral("&Annotate…"), [this] { showAnnotateDialog(); }, QStringLiteral("showAnnotateDialog"), QKeySequence(QStringLiteral("Ctrl+E")));
    add(version, QStringLiteral("&Quick Look"), [this] { quickLook(); }, QStringLiteral("quickLook"));
    version->addSeparator();
    add(version, QStringLiteral("&Open"), [this] { openVersion(); }, QStringLiteral("openVersion"));
    add(version, QStringLiteral("Show in &File Manager"), [this] { revealInFinder(); }, QStringLiteral("revealInFinder"));
    add(version, QStringLiteral("Open in &Text Editor"), [this] { sendToTextEdit(); }, QStringLiteral("sendToTextEdit"));
    version->addSeparator();
    m_removeMenu = version->addMenu(QStringLiteral("Remove &Versions"));
    m_removeMenu->setObjectName(QStringLiteral("removeVersionsMenu"));
    const struct {
        int tag;
        const char *title;
    } rules[] = {
        { 1, "All Versions…" }, { 2, "All but the Newest…" }, { 3, "All but the Newest 5…" }, { 4, "All but the Newest 10…" },
        { 5, "All but the Newest 25…" }, { 6, "All but the Newest 50…" }, { 7, "All but the Newest 100…" },
        { 8, "Older than 1 Day…" }, { 9, "Older than 3 Days…" }, { 10, "Older than 7 Days…" }, { 11, "Older than 14 Days…" },
        { 12, "Older than 30 Days…" }, { 13, "Older than 90 Days…" },
    };
    for (const auto &rule : rules) {
        if (rule.tag == 8)
            m_removeMenu->addSeparator();
        QAction *action = m_removeMenu->addAction(QString::fromLatin1(rule.title));
        action->setData(rule.tag);
        const int tag = rule.tag;
        connect(action, &QAction::triggered, this, [this, tag] { QFException::guard("massRemove:", [&] { massRemove(tag); }); });
    }
    add(version, QStringLiteral("Move Version to &Trash…"), [this] { deleteBackup(); }, QStringLiteral("deleteBackup"));
    add(version, QStringLiteral("Delete Project and All &Versions…"), [this] { deleteAllBackups(); }, QStringLiteral("deleteAllBackups"));

    QMenu *help = bar->addMenu(QStringLiteral("&Help"));
    add(help, QStringLiteral("View &Log"), [this] { viewLog(QStringLiteral("Pro Tombrel")); }, QStringLiteral("viewLog"));
    add(help, QStringLiteral("View &Helper Log"), [this] { viewLog(QStringLiteral("ProTombrelHelper")); }, QStringLiteral("viewHelperLog"));
    add(help, QStringLiteral("&Gather Logs"), [this] { gatherLogs(); }, QStringLiteral("gatherLogs"));
    add(help, QStringLiteral("&Trash Caches…"), [this] { trashCaches(); }, QStringLiteral("trashCaches"));
    add(help, QStringLiteral("Check for &Updates…"), [this] { m_app->softwareUpdate()->manualUpdateCheck(); }, QStringLiteral("manualUpdateCheck"));
    help->addSeparator();
    QAction *manual = add(help, QStringLiteral("Pro Tombrel &Manual"), [this] { openManual(); }, QStringLiteral("openManual"), QKeySequence::HelpContents);
    connect(help, &QMenu::aboutToShow, manual, [manual] {
        manual->setVisible(QFileInfo::exists(QFLocalPaths::libraryDirectory(false) + QStringLiteral("/Documentation/Quenfield/Pro Tombrel User Manual.pdf")));
    });
    add(help, QStringLiteral("Pro Tombrel &Home Page"), [this] { openHelpPage(QStringLiteral("/protombrel/"), QString()); }, QStringLiteral("homePage"));
    add(help, QStringLiteral("&Report a Bug…"), [this] {
        openHelpPage(QStringLiteral("/protombrel/bugreport/"), QStringLiteral("app=pro_tombrel&version=")
                + QString::fromLatin1(QUrl::toPercentEncoding(QCoreApplication::applicationVersion())));
    }, QStringLiteral("reportBug"));
    add(help, QStringLiteral("&Suggest a Feature…"), [this] { openHelpPage(QStringLiteral("/protombrel/featurerequest/"), QStringLiteral("app=pro_tombrel")); },
        QStringLiteral("suggestFeature"));
    add(help, QStringLiteral("&Quenfield Home Page"), [this] { openHelpPage(QStringLiteral("/"), QString()); }, QStringLiteral("makerHomePage"));

    // Restore and sync on the toolbar, after Back Up Now.
    QToolBar *toolbar = m_window->toolbar();
    QAction *after = toolbar->actions().value(1);
    restoreAction->setIcon(QFAppImages::themeIcon({ QStringLiteral("document-revert"), QStringLiteral("edit-undo") }, m_window->palette()));
    restoreAction->setText(QStringLiteral("Restore"));
    restoreAction->setToolTip(QStringLiteral("Put the selected version in place of the project file"));
    toolbar->insertAction(after, restoreAction);
    m_syncAction = new QAction(QFAppImages::themeIcon({ QStringLiteral("emblem-synchronizing"), QStringLiteral("view-refresh") }, m_window->palette()),
        QStringLiteral("Sync"), this);
    m_syncAction->setObjectName(QStringLiteral("sync"));
    m_syncAction->setToolTip(QStringLiteral("Copy the selected version to the sync service"));
    connect(m_syncAction, &QAction::triggered, this, [this] { QFException::guard("sync:", [this] { sync(); }); });
    toolbar->insertAction(after, m_syncAction);
}

// --- Helpers ------------------------------------------------------------------------------------------

void QFActionController::confirm(const QString &title, const QString &defaultButton, const QString &informative, std::function<void()> then)
{
    QFAlert::alertSheetWithMessageText(title, defaultButton, QStringLiteral("Cancel"), QString(), informative, m_window, false,
        [then = std::move(then)](int code) {
            if (code == QFAlert::kDefaultReturn)
                then();
        });
}

void QFActionController::tell(const QString &title, const QString &informative)
{
    QFAlert::alertSheetWithMessageText(title, QString(), QString(), QString(), informative, m_window, false);
}

void QFActionController::detach(std::function<void()> work)
{
    m_app->runInBackground(std::move(work));
}

std::optional<QFProject> QFActionController::currentProject() const
{
    const QModelIndex index = m_window->projectTable()->currentIndex();
    const QList<QFProject> &projects = m_app->projectModel()->projects();
    if (!index.isValid() || index.row() >= projects.size())
        return std::nullopt;
    return projects.at(index.row());
}

QList<QFProject> QFActionController::selectedProjects() const
{
    QList<int> rows;
    for (const QModelIndex &index : m_window->projectTable()->selectionModel()->selectedIndexes())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    QList<QFProject> projects;
    for (const int row : std::as_const(rows)) {
        if (row < m_app->projectModel()->projects().size())
            projects << m_app->projectModel()->projects().at(row);
    }
    return projects;
}

std::optional<QFVersionEntry> QFActionController::selectedVersionEntry() const
{
    const QModelIndex index = m_window->versionOutline()->currentIndex();
    const int row = QFVersionListModel::entryRow(index);
    const QList<QFVersionEntry> &entries = m_app->versionModel()->entries();
    if (!index.isValid() || row < 0 || row >= entries.size())
        return std::nullopt;
    return entries.at(row);
}

bool QFActionController::openWith(const QString &path, const QString &mimeType)
{
    if (!mimeType.isEmpty()) {
        QProcess query;
        query.start(QStringLiteral("xdg-mime"), { QStringLiteral("query"), QStringLiteral("default"), mimeType });
        if (query.waitForFinished(5000) && query.exitCode() == 0) {
            const QString desktopId = QString::fromUtf8(query.readAllStandardOutput()).trimmed();
            const QStringList command = desktopEntryCommand(desktopId, path);
            if (!command.isEmpty() && QProcess::startDetached(command.first(), command.mid(1)))
                return true;
        }
        QFLog::appendLog("No application for %@ - opening %@ with its own type", mimeType, path);
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool QFActionController::reveal(const QString &path)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call.setArguments({ QStringList { QUrl::fromLocalFile(path).toString() }, QString() });
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

// --- Adding projects ----------------------------------------------------------------------------------

bool QFActionController::addPath(const QString &path)
{
    if (QFileInfo(path).fileName().startsWith(u'.'))
        return false;
    const QFProjectActions::AddResult added = QFProjectActions::addProject(path);
    if (added.status == QFProjectActions::AddStatus::Failed)
        QFLog::appendLog("Unable to add project %@: %@", path, added.reason);
    return added.status == QFProjectActions::AddStatus::Added;
}

void QFActionController::projectsAdded(const QString &lastPath)
{
    m_app->xpcConfigUpdate();
    // The helper's job is written by the re-read when the first project gives the helper something to
    // watch; a helper that runs already learns of more projects from the configuration, and is not ended
    // and started again for each.
    connect(m_app, &AppController::projectListShown, this, [this, lastPath] {
        selectProjectPath(lastPath);
        Q_EMIT commandFinished(QStringLiteral("addProjects"));
    }, Qt::SingleShotConnection);
    m_app->populateProjects();
}

void QFActionController::selectProjectPath(const QString &path)
{
    QListView *table = m_window->projectTable();
    const QList<QFProject> &projects = m_app->projectModel()->projects();
    for (int row = 0; row < projects.size(); ++row) {
        if (projects.at(row).expandedProjectPath() == path) {
            table->setCurrentIndex(m_app->projectModel()->index(row));
            table->scrollTo(table->currentIndex());
            return;
        }
    }
}

void QFActionController::importFile()
{
    auto *panel = new QFileDialog(m_window, QStringLiteral("Add Project Files"), QFLocalPaths::movieDirectory());
    panel->setObjectName(QStringLiteral("importPanel"));
    panel->setFileMode(QFileDialog::ExistingFiles);
    panel->setLabelText(QFileDialog::Accept, QStringLiteral("Add"));
    panel->setWindowModality(Qt::WindowModal);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    connect(panel, &QFileDialog::filesSelected, this, [this](const QStringList &files) {
        QString last;
        for (const QString &file : files) {
            if (addPath(file))
                last = QFileInfo(file).absoluteFilePath();
        }
        if (!last.isEmpty())
            projectsAdded(last);
    });
    panel->open();
}

void QFActionController::dropPaths(const QStringList &paths)
{
    QString last;
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (info.isDir() && !isPackage(info)) {
            m_importFolders << info.absoluteFilePath();
            continue;
        }
        if (addPath(info.absoluteFilePath()))
            last = info.absoluteFilePath();
    }
    if (!last.isEmpty())
        projectsAdded(last);
    if (!m_importFolders.isEmpty())
        showImportSheet();
}

void QFActionController::showImportSheet()
{
    auto *sheet = new QDialog(m_window);
    sheet->setObjectName(QStringLiteral("importSheet"));
    sheet->setWindowTitle(QStringLiteral("Import Folder"));
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(sheet);
    auto *title = new QLabel(m_importFolders.size() == 1 ? qfFormat("Add the projects in %@", QFileInfo(m_importFolders.first()).fileName())
                                                         : qfFormat("Add the projects in %i folders", int(m_importFolders.size())));
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);
    auto *every = new QRadioButton(QStringLiteral("Every file"));
    auto *some = new QRadioButton(QStringLiteral("Only files of these types:"));
    some->setObjectName(QStringLiteral("importFolderAction"));
    auto *types = new QLineEdit(preference("importFileTypes").toString());
    types->setObjectName(QStringLiteral("importFileTypes"));
    (integerPreference("importFolderAction") == 1 ? some : every)->setChecked(true);
    auto *subfolders = new QCheckBox(QStringLiteral("Look in subfolders"));
    subfolders->setObjectName(QStringLiteral("importSubdirs"));
    subfolders->setChecked(integerPreference("importSubdirs") == 1);
    layout->setContentsMargins(20, 18, 20, 14);
    layout->setSpacing(8);
    layout->addWidget(new QLabel(QStringLiteral("Which files of the folder are projects?")));
    layout->addWidget(every);
    layout->addWidget(some);
    auto *typesRow = new QHBoxLayout;
    typesRow->setContentsMargins(24, 0, 0, 0);
    typesRow->addWidget(types);
    layout->addLayout(typesRow);
    layout->addSpacing(4);
    layout->addWidget(subfolders);
    layout->addSpacing(6);
    sheet->setMinimumWidth(440);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
    buttons->addButton(QStringLiteral("Import"), QDialogButtonBox::AcceptRole)->setDefault(true);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, sheet, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, sheet, &QDialog::reject);
    connect(sheet, &QDialog::finished, this, [this, some, types, subfolders](int result) {
        const QStringList folders = std::exchange(m_importFolders, {});
        if (result != QDialog::Accepted)
            return;
        // The choices are the preferences' from now on.
        QFPreferenceKeys::update({ { QStringLiteral("importFolderAction"), qint64(some->isChecked() ? 1 : 0) },
            { QStringLiteral("importFileTypes"), types->text().trimmed() }, { QStringLiteral("importSubdirs"), qint64(subfolders->isChecked() ? 1 : 0) } });
        QStringList list;
        for (const QString &type : types->text().split(u',', Qt::SkipEmptyParts))
            list << type.trimmed().toLower();
        importFolders(folders, some->isChecked(), list, subfolders->isChecked());
    });
    sheet->open();
}

void QFActionController::importFolders(const QStringList &folders, bool onlyTypes, const QStringList &types, bool subfolders)
{
    static const QStringList skipped = { QStringLiteral("Backups"), QStringLiteral("Old Versions"), QStringLiteral(".fcpcache") };
    QString last;
    std::function<void(const QString &)> walk = [&](const QString &folder) {
        if (skipped.contains(QFileInfo(folder).fileName()))
            return;
        QFLog::appendLog("Adding projects from directory %@...", folder);
        const QFileInfoList entries = QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo &entry : entries) {
            // A cache folder ends the walk of the folder that holds it.
            if (entry.fileName() == QLatin1String(".fcpcache"))
                return;
            if (entry.isDir() && (!isPackage(entry) || entry.suffix().toLower() == QLatin1String("fcpbundle"))) {
                // Links to folders are not followed: a link back up the tree would never end the walk.
                if (subfolders && !entry.isSymLink())
                    walk(entry.absoluteFilePath());
                continue;
            }
            if (onlyTypes && !types.contains(entry.suffix().toLower()))
                continue;
            if (addPath(entry.absoluteFilePath()))
                last = entry.absoluteFilePath();
        }
    };
    for (const QString &folder : folders)
        walk(folder);
    if (!last.isEmpty())
        projectsAdded(last);
}

// --- Removing, relinking ------------------------------------------------------------------------------

void QFActionController::removeFile()
{
    const QList<QFProject> projects = selectedProjects();
    if (projects.isEmpty())
        return;
    const bool several = projects.size() > 1;
    // Afterwards the row at the first removed one is selected (or the last row).
    int firstRow = m_window->projectTable()->currentIndex().row();
    for (const QModelIndex &index : m_window->projectTable()->selectionModel()->selectedIndexes())
        firstRow = std::min(firstRow, index.row());
    confirm(qfFormat("Are you sure you wish to remove %@ project%@?", several ? QStringLiteral("these") : QStringLiteral("this"),
                several ? QStringLiteral("s") : QStringLiteral("")),
        QStringLiteral("Remove"), QStringLiteral("This will remove all versions, screenshots and synced backups."), [this, projects, firstRow] {
            QStringList folders;
            for (const QFProject &project : projects) {
                QString error;
                if (QFProjectActions::removeProject(project.destinationPath(), &error))
                    folders << project.destinationPath();
                else
                    QFLog::appendLog("Unable to remove project %@: %@", project.destinationPath(), error);
            }
            if (integerPreference("syncService") >= 1 && integerPreference("syncDeleteRemoteFiles") == 1 && !folders.isEmpty())
                m_app->engine()->removeSyncedProjects(folders);
            m_app->xpcConfigUpdate();
            connect(m_app, &AppController::projectListShown, this, [this, firstRow] {
                const int count = m_app->projectModel()->rowCount();
                if (count > 0)
                    m_window->projectTable()->setCurrentIndex(m_app->projectModel()->index(std::min(firstRow, count - 1)));
                if (m_app->projectList().size() < 2)
                    m_app->generateLaunchdPlist(false);
                Q_EMIT commandFinished(QStringLiteral("removeFile"));
            }, Qt::SingleShotConnection);
            m_app->populateProjects();
        });
}

void QFActionController::relinkProject()
{
    const std::optional<QFProject> project = currentProject();
    if (!project)
        return;
    auto *panel = new QFileDialog(m_window, QStringLiteral("Relink Project"), project->expandedProjectPath());
    panel->setObjectName(QStringLiteral("relinkPanel"));
    panel->setFileMode(QFileDialog::ExistingFile);
    panel->selectFile(project->expandedProjectPath());
    panel->setLabelText(QFileDialog::Accept, QStringLiteral("Relink"));
    panel->setWindowModality(Qt::WindowModal);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    connect(panel, &QFileDialog::fileSelected, this, [this, project](const QString &file) {
        QFProject record = *project;
        QString error;
        if (!QFProjectActions::relinkProject(record, file, &error)) {
            tell(QStringLiteral("Unable to relink project"), error);
            return;
        }
        m_app->xpcConfigUpdate();
        m_app->populateProjects();
    });
    panel->open();
}

void QFActionController::deleteOfflineProjects()
{
    // Projects on a drive that is not mounted are not offline; the question names those that are.
    const QList<QFProject> offline = QFProjectActions::offlineProjects(m_app->projectList());
    if (offline.isEmpty()) {
        tell(QStringLiteral("No offline projects"),
            QStringLiteral("Every project file is in its place, or on a drive that is not mounted now."));
        return;
    }
    QStringList named;
    for (const QFProject &project : offline)
        named << qfFormat("%@ (%@)", project.friendlyName(), project.expandedProjectPath());
    confirm(QStringLiteral("Are you sure you want to delete all offline projects?"), QStringLiteral("Delete"),
        QStringLiteral("This will remove the projects and all their backups.") + QStringLiteral("\n\n") + named.join(u'\n'), [this, offline] {
            QFLog::appendLog("Deleting offline projects...");
            QStringList folders;
            for (const QFProject &project : offline) {
                // Only what the question named, and only if it is still offline now.
                if (!QFProjectActions::isOffline(project))
                    continue;
                QFLog::appendLog("Offline project found: %@. Removing backups from %@...", project.expandedProjectPath(), project.destinationPath());
                if (QFProjectActions::removeProject(project.destinationPath()))
                    folders << project.destinationPath();
            }
            if (integerPreference("syncService") != 0 && !folders.isEmpty())
                m_app->engine()->removeSyncedProjects(folders);
            m_app->populateProjects();
        });
}

void QFActionController::launchSelectedProject()
{
    for (const QFProject &project : selectedProjects())
        openWith(project.expandedProjectPath());
}

void QFActionController::revealMasterProjectInFinder()
{
    if (const auto project = currentProject())
        reveal(project->expandedProjectPath());
}

// --- Back up now --------------------------------------------------------------------------------------

bool QFActionController::eventFilter(QObject *watched, QEvent *event)
{
    // Only the events handled here touch the window (others come while it is being taken down too).
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop && type != QEvent::MouseButtonRelease)
        return QObject::eventFilter(watched, event);
    QListView *table = m_window ? m_window->projectTable() : nullptr;
    if (!table || watched != table->viewport())
        return QObject::eventFilter(watched, event);
    switch (type) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDropEvent *>(event);
        if (drag->mimeData()->hasUrls()) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            drag->ignore();
        }
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        QStringList paths;
        for (const QUrl &url : drop->mimeData()->urls()) {
            if (url.isLocalFile())
                paths << url.toLocalFile();
        }
        drop->acceptProposedAction();
        QFException::guard("performDragOperation:", [&] { dropPaths(paths); });
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        const QModelIndex index = table->indexAt(mouse->position().toPoint());
        if (mouse->button() == Qt::LeftButton && index.isValid()
            && QFProjectItemDelegate::snapshotRect(table->visualRect(index)).contains(mouse->position().toPoint())) {
            backUpProjectNow(index.row());
        }
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void QFActionController::backUpProjectNow(int row)
{
    const QList<QFProject> &projects = m_app->projectModel()->projects();
    if (row < 0 || row >= projects.size())
        return;
    const QFProject project = projects.at(row);
    QFLog::appendLog("Taking snapshot for project %@ uuid %@", project.friendlyName(), project.selectedUUID());
    m_app->projectModel()->setBusy(project.projectID(), true);
    detach([this, project] {
        QFException::guard("backupNow", [&] {
            const QFPreferenceSnapshot prefs = QFPreferenceSnapshot::read();
            const bool launch = prefs.integer(QStringLiteral("generateFCPXML"), 0) == 1;
            const QString versions = project.destinationPath() + QStringLiteral("/Versions");
            QFTombrelBackup engine;
            engine.backupProject(project.expandedProjectPath(), versions, QFProjectActions::nextVersionNumber(versions), project.selectedUUID(), launch, true);
            engine.manageBackups();
        });
        QMetaObject::invokeMethod(this, [this, project] {
            m_app->projectModel()->setBusy(project.projectID(), false);
            m_app->populateChangelistForProject(project.destinationPath());
            Q_EMIT commandFinished(QStringLiteral("backupNow"));
        }, Qt::QueuedConnection);
    });
}

// --- Restore ------------------------------------------------------------------------------------------

void QFActionController::restore()
{
    const std::optional<QFProject> project = currentProject();
    if (!project)
        return;
    // The refusals that need no question come first; the engine checks them again before it copies.
    const QFProjectActions::RestoreResult check = QFProjectActions::restorePreconditions(*project);
    if (check.status != QFProjectActions::RestoreStatus::Restored) {
        tell(check.title, check.message);
        return;
    }
    confirm(QStringLiteral("Are you sure you wish to restore this backup?"), QStringLiteral("Restore"),
        QStringLiteral("This will overwrite the current project file."), [this, project] {
            const std::optional<QFVersionEntry> entry = selectedVersionEntry();
            if (!entry) {
                tell(QStringLiteral("Select a backup to restore"), QStringLiteral("You must select a backup before performing this operation."));
                return;
            }
            m_app->projectModel()->setBusy(project->projectID(), true);
            const QString file = entry->file;
            detach([this, project, file] {
                QFProjectActions::RestoreResult result;
                QFException::guard("restore:", [&] { result = QFProjectActions::restoreVersion(*project, file); });
                QMetaObject::invokeMethod(this, [this, project, result] {
                    m_app->projectModel()->setBusy(project->projectID(), false);
                    if (!result.title.isEmpty())
                        tell(result.title, result.message);
                    m_app->populateChangelistForProject(project->destinationPath());
                    Q_EMIT commandFinished(QStringLiteral("restore"));
                }, Qt::QueuedConnection);
            });
        });
}

// --- Removing versions --------------------------------------------------------------------------------

void QFActionController::massRemove(int tag)
{
    const std::optional<QFProject> project = currentProject();
    if (!project || tag < 1 || tag > 13)
        return;
    const QList<QFVersionEntry> entries = m_app->versionModel()->allEntries();
    QStringList files;
    if (tag <= 7) {
        static const int keeps[] = { 0, 1, 5, 10, 25, 50, 100 };
        const int keep = keeps[tag - 1];
        QFLog::appendLog("User chose to remove all but %i backups", keep);
        if (entries.size() <= keep) {
            tell(QStringLiteral("No backups to remove"), QStringLiteral("The number of backups does not exceed the cutoff."));
            return;
        }
        for (qsizetype i = keep; i < entries.size(); ++i)
            files << entries.at(i).file;
    } else {
        static const int days[] = { 1, 3, 7, 14, 30, 90 };
        const int age = days[tag - 8];
        QFLog::appendLog("User chose to remove all backups older than %i day(s)", age);
        const QDateTime cutoff = QFClock::now().addSecs(-qint64(age) * 86400);
        for (const QFVersionEntry &entry : entries) {
            if (entry.date.isValid() && entry.date < cutoff)
                files << entry.file;
        }
    }
    if (files.isEmpty()) {
        tell(QStringLiteral("No files to remove"), QStringLiteral("No versions matched the removal criteria."));
        return;
    }
    confirm(qfFormat("Are you sure you wish to remove %i version%@?", int(files.size()), plural(files.size())), QStringLiteral("Remove"),
        QStringLiteral("These files will be placed in the trash."), [this, files] { removeVersionFiles(files); });
}

void QFActionController::removeVersionFiles(const QStringList &files)
{
    const std::optional<QFProject> project = currentProject();
    for (const QString &file : files)
        m_app->engine()->removeBackup(file, 0, true);
    if (project)
        m_app->populateChangelistForProject(project->destinationPath());
    Q_EMIT commandFinished(QStringLiteral("removeVersions"));
}

void QFActionController::deleteBackup()
{
    const std::optional<QFVersionEntry> entry = selectedVersionEntry();
    if (!entry)
        return;
    const QString file = entry->file;
    confirm(QStringLiteral("Are you sure you wish to remove this backup?"), QStringLiteral("Remove"),
        QStringLiteral("The file will be moved to the Trash."), [this, file] {
            const std::optional<QFProject> project = currentProject();
            m_app->engine()->removeBackup(file, 0);
            if (project)
                m_app->populateChangelistForProject(project->destinationPath());
            Q_EMIT commandFinished(QStringLiteral("deleteBackup"));
        });
}

void QFActionController::deleteAllBackups()
{
    // The project shown is the one the command applies to.
    const std::optional<QFProject> project = currentProject();
    if (!project)
        return;
    const QString folder = project->destinationPath();
    QFAlert::alertSheetWithMessageText(QStringLiteral("Are you sure you wish to remove this project and ALL of its backups?"), QStringLiteral("Remove All"),
        QStringLiteral("Cancel"), QString(), QStringLiteral("The files will be moved to the Trash."), nullptr, false, [this, folder, project](int code) {
            if (code != QFAlert::kDefaultReturn)
                return;
            QString error;
            if (!QFProjectActions::removeProject(folder, &error)) {
                tell(QStringLiteral("Unable to delete project"), qfFormat("Please check permissions for the folder %@.", folder));
                return;
            }
            m_app->xpcConfigUpdate();
            connect(m_app, &AppController::projectListShown, this, [this] {
                if (m_app->projectList().size() < 2)
                    m_app->generateLaunchdPlist(true);
                if (m_app->projectList().isEmpty())
                    tell(QStringLiteral("No backups found"),
                        QStringLiteral("You must add a project to the file list and then save it within Final Cut Pro in order to receive version information."));
                Q_EMIT commandFinished(QStringLiteral("deleteAllBackups"));
            }, Qt::SingleShotConnection);
            m_app->populateProjects();
        });
}

// --- Notes --------------------------------------------------------------------------------------------

void QFActionController::showAnnotateDialog()
{
    const std::optional<QFVersionEntry> entry = selectedVersionEntry();
    if (!entry) {
        if (m_window->versionOutline()->currentIndex().isValid())
            tell(QStringLiteral("Unable to locate backup"), QStringLiteral("Please report this issue to Quenfield."));
        return;
    }
    auto *sheet = new QDialog(m_window);
    sheet->setObjectName(QStringLiteral("annotateSheet"));
    sheet->setWindowTitle(QStringLiteral("Annotate"));
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(sheet);
    layout->addWidget(new QLabel(qfFormat("Note for version %@:", entry->version)));
    auto *text = new QPlainTextEdit(entry->annotation);
    text->setObjectName(QStringLiteral("annotation"));
    text->setTabChangesFocus(true);
    text->setMinimumSize(380, 90);
    layout->addWidget(text);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, sheet, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, sheet, &QDialog::reject);
    const QString file = entry->file;
    connect(sheet, &QDialog::accepted, this, [this, text, file] {
        QString error;
        if (!QFProjectActions::annotateVersion(file, text->toPlainText(), &error)) {
            tell(QStringLiteral("Unable to save the note"), error);
            return;
        }
        if (const auto project = currentProject())
            m_app->populateChangelistForProject(project->destinationPath());
        Q_EMIT commandFinished(QStringLiteral("annotate"));
    });
    sheet->open();
    text->setFocus();
}

// --- Preview, open, reveal ----------------------------------------------------------------------------

void QFActionController::quickLook()
{
    const std::optional<QFProject> project = currentProject();
    const std::optional<QFVersionEntry> entry = selectedVersionEntry();
    if (!project || !entry)
        return;
    const QFileInfo file(entry->file);
    const QString screenshot = QDir::cleanPath(file.absolutePath() + QStringLiteral("/../Screenshots/") + file.completeBaseName() + QStringLiteral(".jpg"));
    const QImage image(screenshot);
    if (image.isNull())
        return;
    if (m_preview)
        m_preview->close();
    auto *preview = new QLabel;
    preview->setObjectName(QStringLiteral("quickLook"));
    preview->setAttribute(Qt::WA_DeleteOnClose);
    preview->setWindowFlag(Qt::Tool);
    preview->setAlignment(Qt::AlignCenter);
    preview->setPixmap(QPixmap::fromImage(image));
    preview->setWindowTitle(qfFormat("Version %@ of %@", entry->version, project->friendlyName()));
    const QSize size = image.size() + QSize(40, 40);
    preview->resize(size);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        preview->move(screen->availableGeometry().center() - QPoint(size.width() / 2, size.height() / 2));
    preview->show();
    m_preview = preview;
}

void QFActionController::openVersion()
{
    if (const auto entry = selectedVersionEntry())
        openWith(entry->file);
}

void QFActionController::revealInFinder()
{
    if (const auto entry = selectedVersionEntry())
        reveal(entry->file);
}

void QFActionController::sendToTextEdit()
{
    if (const auto entry = selectedVersionEntry())
        openWith(entry->file, QStringLiteral("text/plain"));
}

// --- Sync ---------------------------------------------------------------------------------------------

void QFActionController::updateSyncAction()
{
    // Restoring from Dropbox is offered while sync with Dropbox is on and an account is linked.
    if (m_restoreFromDropboxAction)
        m_restoreFromDropboxAction->setEnabled(currentProject() && QFDropboxSync::isSyncOn() && QFDropboxAccount::isLinked());
    // Removing a project's copies on the sync service is offered while there is a service.
    if (QAction *removeSynced = m_window->findChild<QAction *>(QStringLiteral("removeSyncedFilesForProject")))
        removeSynced->setEnabled(integerPreference("syncService") > 0);
    if (!m_syncAction)
        return;
    const std::optional<QFVersionEntry> entry = selectedVersionEntry();
    m_syncAction->setEnabled(integerPreference("syncService") != 0 && currentProject() && entry
        && !m_app->versionModel()->isSynced(QFileInfo(entry->file).fileName()));
}

void QFActionController::sync()
{
    updateSyncAction();
    const std::optional<QFVersionEntry> entry = selectedVersionEntry();
    if (!m_syncAction->isEnabled() || !entry)
        return;
    m_window->versionCountLabel()->setText(QStringLiteral("Syncing..."));
    // Indeterminate until the first progress report.
    m_window->versionSpinner()->setRange(0, 0);
    m_window->versionSpinner()->show();
    // Compressing a large version takes a while: away from the window.
    QFTombrelBackup *engine = m_app->engine();
    // The list shows a Final Cut Pro version by its XML copy; the version file is what goes up.
    const QString file = QFDropboxSync::syncedVersionFile(entry->file);
    detach([engine, file] { engine->uploadFileToCloud(file); });
}

void QFActionController::restoreFromDropbox()
{
    const std::optional<QFProject> project = currentProject();
    if (!project || !QFDropboxSync::isSyncOn() || !QFDropboxAccount::isLinked())
        return;
    if (!m_dropboxRestore)
        m_dropboxRestore = new QFDropboxRestoreController(m_window, this);
    m_dropboxRestore->showBackupsForProject(*project, m_app->engine());
}

void QFActionController::removeSyncedFilesForProject()
{
    const std::optional<QFProject> project = currentProject();
    if (integerPreference("syncService") == 0 || !project)
        return;
    confirm(QStringLiteral("Are you sure you wish to remove all synced backups for this project?"), QStringLiteral("Remove All"),
        QStringLiteral("This will remove the backups from the sync service but leave the files locally on disk."), [this, project] {
            m_app->engine()->removeSyncedProjects({ project->destinationPath() });
            tell(QStringLiteral("Synced backups cleared"), QStringLiteral("This project's backups have been removed from the sync service."));
            m_app->clearSynced();
        });
}

// --- Sequences ----------------------------------------------------------------------------------------

void QFActionController::showProjectMenu(int row, const QPoint &globalPosition)
{
    const QList<QFProject> &projects = m_app->projectModel()->projects();
    if (row < 0 || row >= projects.size())
        return;
    m_window->projectTable()->setCurrentIndex(m_app->projectModel()->index(row));
    const QFProject project = projects.at(row);
    QMenu menu;
    menu.setObjectName(QStringLiteral("projectMenu"));
    if (project.type() == QFProject::FinalCutProProject) {
        QMenu *backup = menu.addMenu(QStringLiteral("Backup"));
        QAction *entire = backup->addAction(QFAppImages::named(QStringLiteral("fcp")), QStringLiteral("Entire Project"));
        entire->setCheckable(true);
        entire->setChecked(project.selectedUUID().isEmpty());
        connect(entire, &QAction::triggered, this, [this] { chooseSequence(QString(), {}); });
        const QList<QFProjectSequence> sequences = project.sequences().value_or(QFProjectSequences());
        for (const QFProjectSequence &sequence : sequences) {
            // Each goes in right after "Entire Project", so the last of the record comes first.
            auto *item = new QAction(QFAppImages::named(QStringLiteral("sequence")), sequence.name, backup);
            backup->insertAction(backup->actions().value(1), item);
            item->setCheckable(true);
            item->setChecked(sequence.uuid == project.selectedUUID());
            const QString uuid = sequence.uuid;
            connect(item, &QAction::triggered, this, [this, uuid] { chooseSequence(uuid, {}); });
        }
        backup->addSeparator();
        backup->addAction(QStringLiteral("Choose Sequence..."), this, &QFActionController::showSequenceDialog);
        menu.addSeparator();
    }
    menu.addAction(QStringLiteral("Open Project"), this, &QFActionController::launchSelectedProject);
    menu.addAction(QStringLiteral("Show in File Manager"), this, &QFActionController::revealMasterProjectInFinder);
    menu.addAction(QStringLiteral("Relink Project…"), this, &QFActionController::relinkProject);
    menu.addSeparator();
    menu.addAction(QStringLiteral("Remove Project…"), this, &QFActionController::removeFile);
    menu.exec(globalPosition);
}

void QFActionController::chooseSequence(const QString &uuid, const QList<QFProjectSequence> &sequences)
{
    const std::optional<QFProject> project = currentProject();
    if (!project)
        return;
    QFProject record = *project;
    if (!sequences.isEmpty())
        record.setSequences(sequences);
    record.setSelectedUUID(uuid);
    record.saveSettings();
    m_app->xpcConfigUpdate();
    m_app->populateProjects();
}

void QFActionController::showSequenceDialog()
{
    const std::optional<QFProject> project = currentProject();
    if (!project || project->type() != QFProject::FinalCutProProject)
        return;
    auto *sheet = new QDialog(m_window);
    sheet->setObjectName(QStringLiteral("sequenceSheet"));
    sheet->setWindowTitle(QStringLiteral("Choose Sequence"));
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(sheet);
    auto *status = new QLabel;
    status->setObjectName(QStringLiteral("sequenceStatus"));
    status->setWordWrap(true);
    auto *list = new QListWidget;
    list->setObjectName(QStringLiteral("sequenceList"));
    list->setMinimumSize(360, 200);
    auto *progress = new QProgressBar;
    progress->setRange(0, 0);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
    QPushButton *choose = buttons->addButton(QStringLiteral("Choose"), QDialogButtonBox::AcceptRole);
    choose->setEnabled(false);
    layout->addWidget(status);
    layout->addWidget(progress);
    layout->addWidget(list);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, sheet, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, sheet, &QDialog::reject);
    connect(list, &QListWidget::currentRowChanged, choose, [choose](int row) { choose->setEnabled(row >= 0); });

    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    auto loaded = std::make_shared<QList<QFProjectSequence>>();
    connect(sheet, &QDialog::rejected, this, [cancelled] { *cancelled = true; });
    connect(sheet, &QDialog::accepted, this, [this, list, loaded] {
        const int row = list->currentRow();
        if (row >= 0 && row < loaded->size())
            chooseSequence(loaded->at(row).uuid, *loaded);
    });
    sheet->open();

    QPointer<QDialog> guard(sheet);
    const auto say = [this, guard, status](const QString &text) {
        QMetaObject::invokeMethod(this, [guard, status, text] {
            if (guard)
                status->setText(text);
        }, Qt::QueuedConnection);
    };
    const QString path = project->expandedProjectPath();
    detach([this, guard, list, progress, say, cancelled, loaded, path] {
        QFLog::appendLog("Loading sequences for project %@...", path);
        if (!QFAppleEvents::isFCPRunning())
            say(QStringLiteral("Launching Final Cut Pro..."));
        if (*cancelled)
            return;
        say(QStringLiteral("Getting data from Final Cut Pro. This may take several minutes..."));
        const int major = QFAppleEvents::finalCutProMajorVersion();
        QFLog::appendLog("FCP major version: %i", major);
        const QString xml = major >= 7 ? QFAppleEvents::getTOC(path, true) : QFAppleEvents::getProjectXML(path, true);
        if (*cancelled)
            return;
        QString error;
        QList<QFProjectSequence> sequences;
        if (xml.isEmpty()) {
            error = QStringLiteral("Error: Unable to retrieve XML representation of project.");
        } else {
            say(QStringLiteral("Getting list of sequences..."));
            if (const auto found = QFProjectActions::sequencesFromXML(xml.toUtf8(), &error))
                sequences = *found;
        }
        QMetaObject::invokeMethod(this, [guard, list, progress, loaded, sequences, error, cancelled] {
            if (!guard || *cancelled)
                return;
            progress->hide();
            auto *status = guard->findChild<QLabel *>(QStringLiteral("sequenceStatus"));
            if (!error.isEmpty()) {
                status->setText(error);
                return;
            }
            *loaded = sequences;
            for (const QFProjectSequence &sequence : sequences)
                list->addItem(sequence.name);
            status->setText(QStringLiteral("Select a sequence from the list below and click Choose."));
        }, Qt::QueuedConnection);
    });
}

// --- Maintenance --------------------------------------------------------------------------------------

void QFActionController::trashCaches()
{
    confirm(QStringLiteral("Are you sure you wish to trash caches?"), QStringLiteral("Trash"),
        QStringLiteral("Changelists will need to be regenerated for each project."), [] {
            const QString caches = QFLocalPaths::appSupportDirectory(true) + QStringLiteral("/Quenfield/Pro Tombrel/Caches");
            if (QFileInfo::exists(caches))
                QFFileManager::trashFile(caches);
        });
}

void QFActionController::viewLog(const QString &programName)
{
    const QString log = QFLocalPaths::logDirectory(true) + qfFormat("/Quenfield/%@.1.log", programName);
    if (!QFileInfo::exists(log)) {
        tell(QStringLiteral("No log found"), QStringLiteral("You must perform a task before viewing the log."));
        return;
    }
    openWith(log, QStringLiteral("text/plain"));
}

void QFActionController::gatherLogs()
{
    const QStringList names = { QStringLiteral("Pro Tombrel"), QStringLiteral("ProTombrelHelper") };
    const QString work = QFLocalPaths::tempDirectory() + QStringLiteral("/QF_App_Logs");
    if (QFileInfo::exists(work))
        QDir(work).removeRecursively();
    if (!QDir().mkpath(work)) {
        tell(QStringLiteral("Logs could not be gathered"), QStringLiteral("Please check your file permissions."));
        return;
    }
    int gathered = 0;
    const auto take = [&](const QString &path) {
        const QFileInfo info(path);
        if (info.exists() && QFile::copy(info.canonicalFilePath(), work + u'/' + info.fileName()))
            ++gathered;
    };
    for (const bool user : { true, false }) {
        const QDir logs(QFLocalPaths::logDirectory(user) + QStringLiteral("/Quenfield"));
        for (const QString &file : logs.entryList(QDir::Files, QDir::Name)) {
            for (const QString &name : names) {
                if (file.startsWith(name) && file.endsWith(QLatin1String(".log")))
                    take(logs.filePath(file));
            }
        }
        for (const QString &folder : { QStringLiteral("DiagnosticReports"), QStringLiteral("CrashReporter") }) {
            const QDir reports(QFLocalPaths::logDirectory(user) + u'/' + folder);
            for (const QString &file : reports.entryList({ QStringLiteral("*.crash") }, QDir::Files, QDir::Name)) {
                for (const QString &name : names) {
                    if (file.startsWith(name + u'_'))
                        take(reports.filePath(file));
                }
            }
        }
    }
    for (const QString &name : names) {
        QString compact = name;
        compact.remove(u' ');
        for (const QString &variant : { compact, compact.toLower() })
            take(QFLocalPaths::prefsDirectory(true) + qfFormat("/com.quenfield.%@.plist", variant));
    }
    if (gathered == 0) {
        QDir(work).removeRecursively();
        tell(QStringLiteral("No logs found"), QStringLiteral("There were no logs available to gather."));
        return;
    }
    QString archive = QFLocalPaths::desktopDirectory() + QStringLiteral("/Pro Tombrel Logs.zip");
    if (QFileInfo::exists(archive))
        archive = QFLocalPaths::desktopDirectory() + QStringLiteral("/Pro Tombrel Logs_")
            + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss")) + QStringLiteral(".zip");
    // Twice within a second: never over an archive made before.
    if (QFileInfo::exists(archive))
        archive = QFFileManager::uniqueFilename(archive);
    QDir().mkpath(QFLocalPaths::desktopDirectory());
    QString reason;
    const bool zipped = qfZipItem(work, archive, true, &reason);
    QDir(work).removeRecursively();
    if (!zipped) {
        QFLog::appendLog("Unable to gather logs: %@", reason);
        tell(QStringLiteral("Logs could not be gathered"), QStringLiteral("Please check your file permissions."));
        return;
    }
    tell(QStringLiteral("Logs gathered successfully"), QStringLiteral("The gathered logs were placed on your desktop."));
}

void QFActionController::openManual()
{
    const QString manual = QFLocalPaths::libraryDirectory(false) + QStringLiteral("/Documentation/Quenfield/Pro Tombrel User Manual.pdf");
    if (QFileInfo::exists(manual))
        openWith(manual);
}

void QFActionController::openHelpPage(const QString &path, const QString &query)
{
    QUrl url(kMakerSite + path);
    if (!query.isEmpty())
        url.setQuery(query);
    QDesktopServices::openUrl(url);
}
