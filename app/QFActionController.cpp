#include "app/QFActionController.h"

#include "app/AppController.h"
#include "app/MainWindow.h"
#include "app/QFActionControllerPrivate.h"
#include "app/QFAppImages.h"
#include "app/QFOutlineView.h"
#include "app/QFProgressSheet.h"
#include "app/QFProjectListModel.h"
#include "app/QFSoftwareUpdate.h"
#include "app/QFVersionListModel.h"
#include "foundation/QFAlert.h"
#include "foundation/QFException.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/QFNotificationCenter.h"
#include "foundation/platform/QFFormat.h"
#include "engine/QFPreferenceSnapshot.h"
#include "foundation/platform/QFPropertyList.h"
#include "foundation/platform/QFZip.h"

#include <QAction>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

using namespace QFActionControllerPrivate;

namespace QFActionControllerPrivate {

QVariant preference(const char *key)
{
    return AppController::preferenceValue(QString::fromLatin1(key));
}

qint64 integerPreference(const char *key)
{
    return QFPreferenceSnapshot::read().intValue(QString::fromLatin1(key));
}

} // namespace QFActionControllerPrivate

namespace {

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
    connect(outline, &QFOutlineView::contextMenuRequestedForVersion, this,
        [this](const QModelIndex &, const QPoint &position) {
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
    connect(
        outline->selectionModel(), &QItemSelectionModel::selectionChanged, this, &QFActionController::updateSyncAction);
    connect(
        outline->selectionModel(), &QItemSelectionModel::currentChanged, this, &QFActionController::updateSyncAction);
    connect(outline->model(), &QAbstractItemModel::modelReset, this, &QFActionController::updateSyncAction);
    connect(outline->model(), &QAbstractItemModel::dataChanged, this, &QFActionController::updateSyncAction);
    connect(
        table->selectionModel(), &QItemSelectionModel::selectionChanged, this, &QFActionController::updateSyncAction);

    QFNotificationCenter *center = QFNotificationCenter::defaultCenter();
    center->addObserver(this, QStringLiteral("QFProTombrelQuickLook"),
        [this](const QVariant &, const QVariantMap &) { QFException::guard("quickLook", [this] { quickLook(); }); });
    center->addObserver(
        this, QStringLiteral("QFProTombrelDeleteBackup"), [this](const QVariant &, const QVariantMap &) {
            QFException::guard("deleteBackup", [this] { deleteBackup(); });
        });
    center->addObserver(
        this, QStringLiteral("QFProTombrelDeleteAllBackups"), [this](const QVariant &, const QVariantMap &) {
            QFException::guard("deleteAllBackups", [this] { deleteAllBackups(); });
        });
    center->addObserver(
        this, QStringLiteral("QFProTombrelSyncComplete"), [this](const QVariant &, const QVariantMap &info) {
            // The archive "Cut.00005.fcp.zip", or the version itself when it went up uncompressed.
            QString name = QFileInfo(info.value(QStringLiteral("filename")).toString()).fileName();
            if (name.endsWith(QStringLiteral(".zip")))
                name.chop(4);
            m_app->markSynced({ name });
        });
    center->addObserver(
        this, QStringLiteral("QFProTombrelSyncedFiles"), [this](const QVariant &, const QVariantMap &info) {
            m_app->markSynced(info.value(QStringLiteral("filenames")).toStringList());
        });
    center->addObserver(
        this, QStringLiteral("QFProTombrelUploadProgress"), [this](const QVariant &, const QVariantMap &info) {
            QProgressBar *bar = m_window->versionSpinner();
            if (bar->maximum() == 0)
                bar->setRange(0, 1000);
            bar->setValue(int(info.value(QStringLiteral("progress")).toDouble() * 1000));
            bar->show();
        });
    center->addObserver(
        this, QStringLiteral("QFProTombrelSyncFailed"), [this](const QVariant &, const QVariantMap &info) {
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
    const auto add
        = [this](QMenu *menu, const QString &title, auto slot, const QString &name, const QKeySequence &keys = {}) {
              QAction *action = menu->addAction(
                  title, this, [this, slot, name] { QFException::guard(qPrintable(name), [&] { slot(); }); });
              action->setObjectName(name);
              if (!keys.isEmpty())
                  action->setShortcut(keys);
              return action;
          };

    QMenu *project = bar->addMenu(QStringLiteral("&Project"));
    add(
        project, QStringLiteral("&Add Project File…"), [this] { importFile(); }, QStringLiteral("importFile"),
        QKeySequence(QStringLiteral("Ctrl+O")));
    add(
        project, QStringLiteral("&Remove Project…"), [this] { removeFile(); }, QStringLiteral("removeFile"));
    add(
        project, QStringLiteral("Re&link Project…"), [this] { relinkProject(); }, QStringLiteral("relinkProject"));
    add(
        project, QStringLiteral("Delete &Offline Projects…"), [this] { deleteOfflineProjects(); },
        QStringLiteral("deleteOfflineProjects"));
    project->addSeparator();
    add(
        project, QStringLiteral("Open &Project"), [this] { launchSelectedProject(); },
        QStringLiteral("launchSelectedProject"));
    add(
        project, QStringLiteral("Show Project in File &Manager"), [this] { revealMasterProjectInFinder(); },
        QStringLiteral("revealMasterProjectInFinder"));
    add(
        project, QStringLiteral("Choose &Sequence…"), [this] { showSequenceDialog(); },
        QStringLiteral("showSequenceDialog"));
    project->addSeparator();
    add(
        project, QStringLiteral("Remove S&ynced Backups…"), [this] { removeSyncedFilesForProject(); },
        QStringLiteral("removeSyncedFilesForProject"));
    m_restoreFromDropboxAction = add(
        project, QStringLiteral("Restore from &Dropbox…"), [this] { restoreFromDropbox(); },
        QStringLiteral("restoreFromDropbox"));
    connect(project, &QMenu::aboutToShow, this, &QFActionController::updateSyncAction);

    QMenu *version = bar->addMenu(QStringLiteral("&Version"));
    QAction *restoreAction = add(
        version, QStringLiteral("&Restore…"), [this] { restore(); }, QStringLiteral("restore"),
        QKeySequence(QStringLiteral("Ctrl+R")));
    add(
        version, QStringLiteral("&Annotate…"), [this] { showAnnotateDialog(); }, QStringLiteral("showAnnotateDialog"),
        QKeySequence(QStringLiteral("Ctrl+E")));
    add(
        version, QStringLiteral("&Quick Look"), [this] { quickLook(); }, QStringLiteral("quickLook"));
    version->addSeparator();
    add(
        version, QStringLiteral("&Open"), [this] { openVersion(); }, QStringLiteral("openVersion"));
    add(
        version, QStringLiteral("Show in &File Manager"), [this] { revealInFinder(); },
        QStringLiteral("revealInFinder"));
    add(
        version, QStringLiteral("Open in &Text Editor"), [this] { sendToTextEdit(); },
        QStringLiteral("sendToTextEdit"));
    version->addSeparator();
    m_removeMenu = version->addMenu(QStringLiteral("Remove &Versions"));
    m_removeMenu->setObjectName(QStringLiteral("removeVersionsMenu"));
    const struct {
        int tag;
        const char *title;
    } rules[] = {
        { 1, "All Versions…" },
        { 2, "All but the Newest…" },
        { 3, "All but the Newest 5…" },
        { 4, "All but the Newest 10…" },
        { 5, "All but the Newest 25…" },
        { 6, "All but the Newest 50…" },
        { 7, "All but the Newest 100…" },
        { 8, "Older than 1 Day…" },
        { 9, "Older than 3 Days…" },
        { 10, "Older than 7 Days…" },
        { 11, "Older than 14 Days…" },
        { 12, "Older than 30 Days…" },
        { 13, "Older than 90 Days…" },
    };
    for (const auto &rule : rules) {
        if (rule.tag == 8)
            m_removeMenu->addSeparator();
        QAction *action = m_removeMenu->addAction(QString::fromLatin1(rule.title));
        action->setData(rule.tag);
        const int tag = rule.tag;
        connect(action, &QAction::triggered, this,
            [this, tag] { QFException::guard("massRemove:", [&] { massRemove(tag); }); });
    }
    add(
        version, QStringLiteral("Move Version to &Trash…"), [this] { deleteBackup(); }, QStringLiteral("deleteBackup"));
    add(
        version, QStringLiteral("Delete Project and All &Versions…"), [this] { deleteAllBackups(); },
        QStringLiteral("deleteAllBackups"));

    QMenu *help = bar->addMenu(QStringLiteral("&Help"));
    add(
        help, QStringLiteral("View &Log"), [this] { viewLog(QStringLiteral("Pro Tombrel")); },
        QStringLiteral("viewLog"));
    add(
        help, QStringLiteral("View &Helper Log"), [this] { viewLog(QStringLiteral("ProTombrelHelper")); },
        QStringLiteral("viewHelperLog"));
    add(
        help, QStringLiteral("&Gather Logs"), [this] { gatherLogs(); }, QStringLiteral("gatherLogs"));
    add(
        help, QStringLiteral("&Trash Caches…"), [this] { trashCaches(); }, QStringLiteral("trashCaches"));
    add(
        help, QStringLiteral("Check for &Updates…"), [this] { m_app->softwareUpdate()->manualUpdateCheck(); },
        QStringLiteral("manualUpdateCheck"));
    help->addSeparator();
    QAction *manual = add(
        help, QStringLiteral("Pro Tombrel &Manual"), [this] { openManual(); }, QStringLiteral("openManual"),
        QKeySequence::HelpContents);
    connect(help, &QMenu::aboutToShow, manual, [manual] {
        manual->setVisible(QFileInfo::exists(QFLocalPaths::libraryDirectory(false)
            + QStringLiteral("/Documentation/Quenfield/Pro Tombrel User Manual.pdf")));
    });
    add(
        help, QStringLiteral("Pro Tombrel &Home Page"),
        [this] { openHelpPage(QStringLiteral("/protombrel/"), QString()); }, QStringLiteral("homePage"));
    add(
        help, QStringLiteral("&Report a Bug…"),
        [this] {
            openHelpPage(QStringLiteral("/protombrel/bugreport/"),
                QStringLiteral("app=pro_tombrel&version=")
                    + QString::fromLatin1(QUrl::toPercentEncoding(QCoreApplication::applicationVersion())));
        },
        QStringLiteral("reportBug"));
    add(
        help, QStringLiteral("&Suggest a Feature…"),
        [this] { openHelpPage(QStringLiteral("/protombrel/featurerequest/"), QStringLiteral("app=pro_tombrel")); },
        QStringLiteral("suggestFeature"));
    add(
        help, QStringLiteral("&Quenfield Home Page"), [this] { openHelpPage(QStringLiteral("/"), QString()); },
        QStringLiteral("makerHomePage"));

    // Restore and sync on the toolbar, after Back Up Now.
    QToolBar *toolbar = m_window->toolbar();
    QAction *after = toolbar->actions().value(1);
    restoreAction->setIcon(QFAppImages::themeIcon(
        { QStringLiteral("document-revert"), QStringLiteral("edit-undo") }, m_window->palette()));
    restoreAction->setText(QStringLiteral("Restore"));
    restoreAction->setToolTip(QStringLiteral("Put the selected version in place of the project file"));
    toolbar->insertAction(after, restoreAction);
    m_syncAction
        = new QAction(QFAppImages::themeIcon({ QStringLiteral("emblem-synchronizing"), QStringLiteral("view-refresh") },
                          m_window->palette()),
            QStringLiteral("Sync"), this);
    m_syncAction->setObjectName(QStringLiteral("sync"));
    m_syncAction->setToolTip(QStringLiteral("Copy the selected version to the sync service"));
    connect(m_syncAction, &QAction::triggered, this, [this] { QFException::guard("sync:", [this] { sync(); }); });
    toolbar->insertAction(after, m_syncAction);
}

// --- Helpers ------------------------------------------------------------------------------------------

void QFActionController::confirm(
    const QString &title, const QString &defaultButton, const QString &informative, std::function<void()> then)
{
    QFAlert::alertSheetWithMessageText(title, defaultButton, QStringLiteral("Cancel"), QString(), informative, m_window,
        false, [then = std::move(then)](int code) {
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

void QFActionController::setCommandEnabled(const QString &command, bool enabled)
{
    if (QAction *action = m_window ? m_window->findChild<QAction *>(command) : nullptr)
        action->setEnabled(enabled);
}

void QFActionController::runCommand(
    const QString &command, const QString &status, std::function<void()> work, std::function<void()> then)
{
    m_running.insert(command);
    setCommandEnabled(command, false);
    auto finished = std::make_shared<bool>(false);
    auto sheetShown = std::make_shared<bool>(false);
    QTimer::singleShot(1000, this, [this, finished, sheetShown, status] {
        if (*finished || !m_window || m_window->progressSheet()->isVisible())
            return;
        m_window->progressSheet()->start(status);
        m_window->progressSheet()->cancelButton()->setEnabled(false);
        *sheetShown = true;
    });
    detach([this, command, work = std::move(work), then = std::move(then), finished, sheetShown] {
        QFException::guard(qPrintable(command), work);
        QMetaObject::invokeMethod(
            this,
            [this, command, then, finished, sheetShown] {
                *finished = true;
                if (*sheetShown && m_window)
                    m_window->progressSheet()->finish();
                m_running.remove(command);
                setCommandEnabled(command, true);
                QFException::guard(qPrintable(command), then);
            },
            Qt::QueuedConnection);
    });
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

void QFActionController::openWith(const QString &path, const QString &mimeType)
{
    if (mimeType.isEmpty()) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
        return;
    }
    // The desktop's application for the type is asked of xdg-mime, which the window does not wait for;
    // one that has not answered within five seconds is given up, and the file opens with its own type.
    const auto ownType = [path, mimeType] {
        QFLog::appendLog("No application for %@ - opening %@ with its own type", mimeType, path);
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    };
    auto *query = new QProcess(QCoreApplication::instance());
    QObject::connect(
        query, &QProcess::finished, query, [query, path, ownType](int exitCode, QProcess::ExitStatus status) {
            query->deleteLater();
            if (status == QProcess::NormalExit && exitCode == 0) {
                const QString desktopId = QString::fromUtf8(query->readAllStandardOutput()).trimmed();
                const QStringList command = desktopEntryCommand(desktopId, path);
                if (!command.isEmpty() && QProcess::startDetached(command.first(), command.mid(1)))
                    return;
            }
            ownType();
        });
    QObject::connect(query, &QProcess::errorOccurred, query, [query, ownType](QProcess::ProcessError error) {
        // Other errors are followed by finished.
        if (error != QProcess::FailedToStart)
            return;
        query->deleteLater();
        ownType();
    });
    QTimer::singleShot(5000, query, [query] { query->kill(); });
    query->start(QStringLiteral("xdg-mime"), { QStringLiteral("query"), QStringLiteral("default"), mimeType });
}

void QFActionController::reveal(const QString &path)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"), QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("ShowItems"));
    call.setArguments({ QStringList { QUrl::fromLocalFile(path).toString() }, QString() });
    // The file manager answers in its own time; where none does, the folder opens as the desktop opens folders.
    auto *answer = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(call, 5000), QCoreApplication::instance());
    connect(answer, &QDBusPendingCallWatcher::finished, answer, [answer, path] {
        answer->deleteLater();
        if (answer->isError())
            QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
    });
}
