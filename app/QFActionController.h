#pragma once

// What a user does with projects and versions from the main window: adding projects (menu, drops and
// the import sheet), removing, relinking and deleting offline ones, backing up now, restoring, removing
// versions by count or age, deleting one version or a project with all of its versions, notes, the
// preview, opening and revealing files, the sequence a project backs up, syncing a version, and the
// maintenance items (caches, logs, help). The work itself is the engine's (QFProjectActions,
// QFTombrelBackup), which tombrel uses too. Main thread; long work runs on the controller's queue.

#include "engine/QFProject.h"
#include "engine/QFVersionEntry.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>

#include <functional>
#include <optional>

class AppController;
class MainWindow;
class QAction;
class QDialog;
class QLabel;
class QListWidget;
class QMenu;
class QWidget;

class QFActionController final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFActionController)
public:
    QFActionController(AppController *app, MainWindow *window);

    // --- Projects ---
    void importFile();
    // Adds project files and the files of folders (through the import sheet); true when any was added.
    void dropPaths(const QStringList &paths);
    void showImportSheet();
    void importFolders(const QStringList &folders, bool onlyTypes, const QStringList &types, bool subfolders);
    void removeFile();
    void relinkProject();
    void deleteOfflineProjects();
    void launchSelectedProject();
    void revealMasterProjectInFinder();
    // --- Versions ---
    void restore();
    // Tags 1–13 of the remove-versions menu.
    void massRemove(int tag);
    void deleteBackup();
    void deleteAllBackups();
    void showAnnotateDialog();
    void quickLook();
    void openVersion();
    void revealInFinder();
    void sendToTextEdit();
    void sync();
    void removeSyncedFilesForProject();
    // Lists the selected project's copies in Dropbox and restores one of them.
    void restoreFromDropbox();
    // --- Sequences ---
    void showSequenceDialog();
    // The project table's context menu for the project at that row.
    void showProjectMenu(int row, const QPoint &globalPosition);
    // --- Maintenance ---
    void trashCaches();
    void viewLog(const QString &programName);
    void gatherLogs();
    void openManual();
    void openHelpPage(const QString &path, const QString &query);

    // The version entry of the outline's selected row (a note or change line gives its version).
    std::optional<QFVersionEntry> selectedVersionEntry() const;
    std::optional<QFProject> currentProject() const;
    QList<QFProject> selectedProjects() const;
    QAction *syncAction() const { return m_syncAction; }
    // The preview of the last quick look (for as long as it is open).
    QWidget *previewWindow() const { return m_preview; }
    // The menu that removes versions by rule; its actions carry their tag as data.
    QMenu *removeVersionsMenu() const { return m_removeMenu; }

    // Opens a file with the desktop's default application for a MIME type (empty: the file's own type),
    // without waiting for the desktop's answer.
    static void openWith(const QString &path, const QString &mimeType = QString());
    // Shows the file selected in the file manager, or opens its folder where none answers on the bus.
    static void reveal(const QString &path);

Q_SIGNALS:
    // A command finished its background work and the lists are being read again.
    void commandFinished(const QString &command);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildMenus();
    // Adds one project file; callable from any thread.
    static bool addPath(const QString &path);
    void projectsAdded(const QString &lastPath);
    void selectProjectPath(const QString &path);
    void backUpProjectNow(int row);
    // Moves versions to the Trash as the named command (removeVersions, deleteBackup).
    void removeVersionFiles(const QStringList &files, const QString &command);
    void updateSyncAction();
    void chooseSequence(const QString &uuid, const QList<QFProjectSequence> &sequences);
    void confirm(
        const QString &title, const QString &defaultButton, const QString &informative, std::function<void()> then);
    void tell(const QString &title, const QString &informative);
    void detach(std::function<void()> work);
    // Long work on the controller's queue: the command (named as its menu action) is disabled and refuses
    // to start again until then has run on the main thread; the progress sheet shows when the work lasts
    // over a second and no other work shows it.
    void runCommand(
        const QString &command, const QString &status, std::function<void()> work, std::function<void()> then);
    bool isRunning(const QString &command) const { return m_running.contains(command); }
    void setCommandEnabled(const QString &command, bool enabled);

    AppController *m_app;
    QPointer<MainWindow> m_window;
    QAction *m_syncAction = nullptr;
    class QFDropboxRestoreController *m_dropboxRestore = nullptr;
    QAction *m_restoreFromDropboxAction = nullptr;
    QMenu *m_removeMenu = nullptr;
    QPointer<QWidget> m_preview;
    QStringList m_importFolders;
    // Commands whose work is under way.
    QSet<QString> m_running;
};
