#include "app/QFActionController.h"

#include "app/AppController.h"
#include "app/QFActionControllerPrivate.h"
#include "app/QFAppImages.h"
#include "app/QFImportSheet.h"
#include "app/QFProjectListModel.h"
#include "app/QFSequenceSheet.h"
#include "engine/QFDropboxSync.h"
#include "engine/QFFolderWalk.h"
#include "engine/QFPreferenceKeys.h"
#include "engine/QFPreferenceSnapshot.h"
#include "engine/QFProjectActions.h"
#include "engine/QFTombrelBackup.h"
#include "foundation/QFAppleEvents.h"
#include "foundation/QFException.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFFormat.h"

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>

using namespace QFActionControllerPrivate;

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
    connect(
        m_app, &AppController::projectListShown, this,
        [this, lastPath] {
            selectProjectPath(lastPath);
            Q_EMIT commandFinished(QStringLiteral("addProjects"));
        },
        Qt::SingleShotConnection);
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
        if (info.isDir() && !QFFolderWalk::isPackage(info)) {
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
    auto *sheet = new QFImportSheet(m_importFolders, integerPreference("importFolderAction") == 1,
        preference("importFileTypes").toString(), integerPreference("importSubdirs") == 1, m_window);
    connect(sheet, &QDialog::finished, this, [this, sheet](int result) {
        const QStringList folders = std::exchange(m_importFolders, {});
        if (result != QDialog::Accepted)
            return;
        // The choices are the preferences' from now on.
        QFPreferenceKeys::update({ { QStringLiteral("importFolderAction"), qint64(sheet->onlyTypes() ? 1 : 0) },
            { QStringLiteral("importFileTypes"), sheet->typesText() },
            { QStringLiteral("importSubdirs"), qint64(sheet->subfolders() ? 1 : 0) } });
        importFolders(folders, sheet->onlyTypes(), sheet->types(), sheet->subfolders());
    });
    sheet->open();
}

void QFActionController::importFolders(
    const QStringList &folders, bool onlyTypes, const QStringList &types, bool subfolders)
{
    if (isRunning(QStringLiteral("importFolders")))
        return;
    // The folders are walked and their projects added away from the window.
    auto last = std::make_shared<QString>();
    runCommand(
        QStringLiteral("importFolders"), QStringLiteral("Adding projects..."),
        [this, folders, onlyTypes, types, subfolders, last] {
            for (const QString &path : QFFolderWalk::filesToImport(folders, onlyTypes, types, subfolders)) {
                if (addPath(path))
                    *last = path;
            }
        },
        [this, last] {
            if (!last->isEmpty())
                projectsAdded(*last);
        });
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
    confirm(qfFormat("Are you sure you wish to remove %@ project%@?",
                several ? QStringLiteral("these") : QStringLiteral("this"),
                several ? QStringLiteral("s") : QStringLiteral("")),
        QStringLiteral("Remove"), QStringLiteral("This will remove all versions, screenshots and synced backups."),
        [this, projects, firstRow] {
            if (isRunning(QStringLiteral("removeFile")))
                return;
            // The project folders go to the Trash away from the window.
            // Their synced copies are asked for here, where the sync object lives, by the engine's rule.
            auto report = std::make_shared<QFProjectActions::RemovalReport>();
            runCommand(
                QStringLiteral("removeFile"), QStringLiteral("Removing projects..."),
                [projects, report] {
                    QStringList folders;
                    for (const QFProject &project : projects)
                        folders << project.destinationPath();
                    *report = QFProjectActions::removeProjects(folders, QFProjectActions::SyncedCopies::Keep);
                    for (qsizetype i = 0; i < report->remaining.size(); ++i)
                        QFLog::appendLog(
                            "Unable to remove project %@: %@", report->remaining.at(i), report->failures.value(i));
                },
                [this, report, firstRow] {
                    if (QFTombrelBackup::syncRemovalsOn() && !report->removed.isEmpty())
                        m_app->engine()->removeSyncedProjects(report->removed);
                    m_app->xpcConfigUpdate();
                    connect(
                        m_app, &AppController::projectListShown, this,
                        [this, firstRow] {
                            const int count = m_app->projectModel()->rowCount();
                            if (count > 0)
                                m_window->projectTable()->setCurrentIndex(
                                    m_app->projectModel()->index(std::min(firstRow, count - 1)));
                            if (m_app->projectList().size() < 2)
                                m_app->generateLaunchdPlist(false);
                            Q_EMIT commandFinished(QStringLiteral("removeFile"));
                        },
                        Qt::SingleShotConnection);
                    m_app->populateProjects();
                });
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
        QStringLiteral("This will remove the projects and all their backups.") + QStringLiteral("\n\n")
            + named.join(u'\n'),
        [this, offline] {
            if (isRunning(QStringLiteral("deleteOfflineProjects")))
                return;
            QFLog::appendLog("Deleting offline projects...");
            auto report = std::make_shared<QFProjectActions::RemovalReport>();
            runCommand(
                QStringLiteral("deleteOfflineProjects"), QStringLiteral("Removing offline projects..."),
                [offline, report] {
                    QStringList folders;
                    for (const QFProject &project : offline) {
                        // Only what the question named, and only if it is still offline now.
                        if (!QFProjectActions::isOffline(project))
                            continue;
                        QFLog::appendLog("Offline project found: %@. Removing backups from %@...",
                            project.expandedProjectPath(), project.destinationPath());
                        folders << project.destinationPath();
                    }
                    *report = QFProjectActions::removeProjects(folders, QFProjectActions::SyncedCopies::Keep);
                },
                [this, report] {
                    // Offline projects lose their synced copies whenever sync is on.
                    if (QFDropboxSync::isSyncOn() && !report->removed.isEmpty())
                        m_app->engine()->removeSyncedProjects(report->removed);
                    m_app->populateProjects();
                    Q_EMIT commandFinished(QStringLiteral("deleteOfflineProjects"));
                });
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
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop
        && type != QEvent::MouseButtonRelease)
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
    m_app->projectModel()->setBusy(project.projectID(), true);
    detach([this, project] {
        QFException::guard("backupNow", [&] {
            QFTombrelBackup().backUpNow(project.expandedProjectPath(),
                project.destinationPath() + QStringLiteral("/Versions"), project.selectedUUID());
        });
        QMetaObject::invokeMethod(
            this,
            [this, project] {
                m_app->projectModel()->setBusy(project.projectID(), false);
                m_app->populateChangelistForProject(project.destinationPath());
                Q_EMIT commandFinished(QStringLiteral("backupNow"));
            },
            Qt::QueuedConnection);
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
        QAction *entire
            = backup->addAction(QFAppImages::named(QStringLiteral("fcp")), QStringLiteral("Entire Project"));
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
    auto *sheet = new QFSequenceSheet(m_window);
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    connect(sheet, &QDialog::rejected, this, [cancelled] { *cancelled = true; });
    connect(sheet, &QDialog::accepted, this, [this, sheet] {
        if (const auto chosen = sheet->chosenSequence())
            chooseSequence(chosen->uuid, sheet->sequences());
    });
    sheet->open();

    QPointer<QFSequenceSheet> guard(sheet);
    const auto say = [this, guard](const QString &text) {
        QMetaObject::invokeMethod(
            this,
            [guard, text] {
                if (guard)
                    guard->setStatus(text);
            },
            Qt::QueuedConnection);
    };
    const QString path = project->expandedProjectPath();
    detach([this, guard, say, cancelled, path] {
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
        QMetaObject::invokeMethod(
            this,
            [guard, sequences, error, cancelled] {
                if (!guard || *cancelled)
                    return;
                if (!error.isEmpty())
                    guard->showError(error);
                else
                    guard->showSequences(sequences);
            },
            Qt::QueuedConnection);
    });
}
