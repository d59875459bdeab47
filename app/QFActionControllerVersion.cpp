#include "app/QFActionController.h"

#include "app/AppController.h"
#include "app/QFAnnotateSheet.h"
#include "app/QFOutlineView.h"
#include "app/QFProjectListModel.h"
#include "app/QFVersionListModel.h"
#include "engine/QFProjectActions.h"
#include "engine/QFTombrelBackup.h"
#include "foundation/QFAlert.h"
#include "foundation/QFClock.h"
#include "foundation/QFException.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFFormat.h"

#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

namespace {

QString plural(qsizetype count)
{
    return count == 1 ? QStringLiteral("") : QStringLiteral("s");
}

} // namespace

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
                tell(QStringLiteral("Select a backup to restore"),
                    QStringLiteral("You must select a backup before performing this operation."));
                return;
            }
            m_app->projectModel()->setBusy(project->projectID(), true);
            const QString file = entry->file;
            detach([this, project, file] {
                QFProjectActions::RestoreResult result;
                QFException::guard("restore:", [&] { result = QFProjectActions::restoreVersion(*project, file); });
                QMetaObject::invokeMethod(
                    this,
                    [this, project, result] {
                        m_app->projectModel()->setBusy(project->projectID(), false);
                        if (!result.title.isEmpty())
                            tell(result.title, result.message);
                        m_app->populateChangelistForProject(project->destinationPath());
                        Q_EMIT commandFinished(QStringLiteral("restore"));
                    },
                    Qt::QueuedConnection);
            });
        });
}

// --- Removing versions --------------------------------------------------------------------------------

void QFActionController::massRemove(int tag)
{
    const std::optional<QFProject> project = currentProject();
    if (!project || tag < 1 || tag > 13 || isRunning(QStringLiteral("removeVersions")))
        return;
    const QList<QFVersionEntry> entries = m_app->versionModel()->allEntries();
    QStringList files;
    if (tag <= 7) {
        static const int keeps[] = { 0, 1, 5, 10, 25, 50, 100 };
        const int keep = keeps[tag - 1];
        QFLog::appendLog("User chose to remove all but %i backups", keep);
        if (entries.size() <= keep) {
            tell(QStringLiteral("No backups to remove"),
                QStringLiteral("The number of backups does not exceed the cutoff."));
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
    confirm(qfFormat("Are you sure you wish to remove %i version%@?", int(files.size()), plural(files.size())),
        QStringLiteral("Remove"), QStringLiteral("These files will be placed in the trash."),
        [this, files] { removeVersionFiles(files, QStringLiteral("removeVersions")); });
}

void QFActionController::removeVersionFiles(const QStringList &files, const QString &command)
{
    const std::optional<QFProject> project = currentProject();
    // Moving versions to the Trash is file work: away from the window. Their synced copies are asked for
    // on the main thread, where the sync service lives.
    auto report = std::make_shared<QFProjectActions::RemovalReport>();
    runCommand(
        command, QStringLiteral("Removing versions..."),
        [files, report] { *report = QFProjectActions::removeVersions(files, QFProjectActions::SyncedCopies::Keep); },
        [this, project, report, command] {
            if (!report->removed.isEmpty() && QFTombrelBackup::syncRemovalsOn())
                m_app->engine()->removeSyncedFiles(report->removed);
            if (project)
                m_app->populateChangelistForProject(project->destinationPath());
            if (!report->succeeded())
                tell(QStringLiteral("Unable to remove every version"), report->failures.join(u'\n'));
            Q_EMIT commandFinished(command);
        });
}

void QFActionController::deleteBackup()
{
    const std::optional<QFVersionEntry> entry = selectedVersionEntry();
    if (!entry || isRunning(QStringLiteral("deleteBackup")))
        return;
    const QString file = entry->file;
    confirm(QStringLiteral("Are you sure you wish to remove this backup?"), QStringLiteral("Remove"),
        QStringLiteral("The file will be moved to the Trash."), [this, file] {
            if (!isRunning(QStringLiteral("deleteBackup")))
                removeVersionFiles({ file }, QStringLiteral("deleteBackup"));
        });
}

void QFActionController::deleteAllBackups()
{
    // The project shown is the one the command applies to.
    const std::optional<QFProject> project = currentProject();
    if (!project)
        return;
    const QString folder = project->destinationPath();
    QFAlert::alertSheetWithMessageText(
        QStringLiteral("Are you sure you wish to remove this project and ALL of its backups?"),
        QStringLiteral("Remove All"), QStringLiteral("Cancel"), QString(),
        QStringLiteral("The files will be moved to the Trash."), nullptr, false, [this, folder, project](int code) {
            if (code != QFAlert::kDefaultReturn || isRunning(QStringLiteral("deleteAllBackups")))
                return;
            // The project folder goes to the Trash away from the window.
            auto report = std::make_shared<QFProjectActions::RemovalReport>();
            runCommand(
                QStringLiteral("deleteAllBackups"), QStringLiteral("Removing the project..."),
                [folder, report] {
                    // Its synced copies stay, as this command has always left them.
                    *report = QFProjectActions::removeProjects({ folder }, QFProjectActions::SyncedCopies::Keep);
                },
                [this, folder, report] {
                    if (!report->succeeded()) {
                        tell(QStringLiteral("Unable to delete project"),
                            qfFormat("Please check permissions for the folder %@.", folder));
                        return;
                    }
                    m_app->xpcConfigUpdate();
                    connect(
                        m_app, &AppController::projectListShown, this,
                        [this] {
                            if (m_app->projectList().size() < 2)
                                m_app->generateLaunchdPlist(true);
                            if (m_app->projectList().isEmpty())
                                tell(QStringLiteral("No backups found"),
                                    QStringLiteral("You must add a project to the file list and then save it within "
                                                   "Final Cut Pro in order to receive version information."));
                            Q_EMIT commandFinished(QStringLiteral("deleteAllBackups"));
                        },
                        Qt::SingleShotConnection);
                    m_app->populateProjects();
                });
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
    auto *sheet = new QFAnnotateSheet(entry->version, entry->annotation, m_window);
    const QString file = entry->file;
    connect(sheet, &QDialog::accepted, this, [this, sheet, file] {
        QString error;
        if (!QFProjectActions::annotateVersion(file, sheet->note(), &error)) {
            tell(QStringLiteral("Unable to save the note"), error);
            return;
        }
        if (const auto project = currentProject())
            m_app->populateChangelistForProject(project->destinationPath());
        Q_EMIT commandFinished(QStringLiteral("annotate"));
    });
    sheet->open();
}

// --- Preview, open, reveal ----------------------------------------------------------------------------

void QFActionController::quickLook()
{
    const std::optional<QFProject> project = currentProject();
    const std::optional<QFVersionEntry> entry = selectedVersionEntry();
    if (!project || !entry)
        return;
    const QFileInfo file(entry->file);
    const QString screenshot = QDir::cleanPath(
        file.absolutePath() + QStringLiteral("/../Screenshots/") + file.completeBaseName() + QStringLiteral(".jpg"));
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
