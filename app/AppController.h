#pragma once

// The main application's controller: it starts the application, keeps the project list and, for the
// selected project, the version list and the screenshot strip, and talks to the helper. Interface work
// runs on the main thread; the project list is re-read on a queue of width one (at most one re-read
// runs and one waits) and version lists are filled on a queue of width four where the latest request
// wins. The same class, without a window, serves the command-line modes.

#include "engine/QFProject.h"
#include "engine/QFTombrelBackup.h"
#include "engine/QFVersionEntry.h"
#include "foundation/QFBugReporter.h"

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QThreadPool>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "app/MainWindow.h"

#include <QDialog>
#include "app/QFCoverFlowView.h"
class QFProjectListModel;
class QFVersionListModel;

class AppController final : public QObject, public QFChangelistDelegate, public QFBugReporter::Delegate {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppController)
public:
    enum class Mode { Normal, Upload, RemoteRemoval };

    explicit AppController(bool hasUserInterface, QObject *parent = nullptr);
    ~AppController() override;

    // "-process", "-autosave", "-reload" and "-repopulate": the status to exit with; nothing when the
    // arguments (program name first) ask for the application itself.
    static std::optional<int> runCommandLineMode(const QStringList &arguments);
    static Mode modeForArguments(const QStringList &arguments);
    static QString currentBundlePath();
    static QString currentExePath();
    // A value of the preference file, else the key's registered default.
    static QVariant preferenceValue(const QString &key);

    // Runs once the window exists: the modes that end the process, the window, the helper, the first
    // run, and the first reading of the project list.
    void applicationDidFinishLaunching(const QStringList &arguments);
    void applicationWillTerminate();

    MainWindow *mainWindow() const { return m_window; }
    QFTombrelBackup *engine() const { return m_engine.get(); }
    const QList<QFProject> &projectList() const { return m_projects; }
    QList<QFVersionEntry> versionList() const;
    QString selectedProjectFolder() const;
    bool isStartingUp() const { return m_startingUp; }
    // A re-read of the project list or a version list is queued or under way.
    bool isBusy() const;
    int remoteDeletionCount() const { return m_remoteDeletions; }

    void populateProjects();
    void selectLastProject();
    void populateChangelistForProject(const QString &projectFolder);
    void toggleScreenshotView();
    // Version search: an empty text shows every version again; results arrive from a background thread.
    void search(const QString &text);
    void resetSearch();
    void projectSearch();
    // The filtering preferences read again and applied to the shown lines.
    void reloadBackupViews();
    // The report of the shown project's versions (complete document or body only).
    QString generateHTMLForPrinting(bool complete) const;
    static QString printJobTitle();
    void print();
    // The XML copy of one binary version, or of every version of the shown project (asking first to
    // start the editor), with the progress sheet; the list is filled again afterwards.
    void generateFCPProjectXML(const QString &versionFile);
    // The change lines between the two selected versions, in a sheet.
    void compareSelectedVersions();
    void toolbarGenerateXML();
    // Run from a distribution image (a ".DMGPackagerBG" file beside the bundle): offers to copy the
    // bundle into the Applications folder, opens the copy and quits.
    void offerToInstall(const QString &bundlePath);
    void backupNow();
    void autosave();
    // The preference window (made with the main window), in front on its General pane.
    void showPreferences();
    class QFPrefController *prefController() const { return m_prefController; }
    class QFSoftwareUpdate *softwareUpdate() const { return m_softwareUpdate; }
    // Writes the autosave job and writes or removes the helper's job, restarting the helper, away from
    // the main thread; mayAuth: privileges may be asked for. helperJobsWritten() follows.
    void generateLaunchdPlist(bool mayAuth);
    // Writes or removes the autosave job away from the main thread; done runs on the main thread.
    void generateAutosavePlist(std::function<void()> done = {});
    // Ends the helper, writes its job again and starts it; then tells the user.
    void relaunchHelper();
    // The watch folders changed in the preferences: the helper learns of it, and its job is written or
    // removed when there now is (or no longer is) something to watch.
    void watchListChanged();
    // The account of the sync service. Linking starts the service's sign-in and calls done afterwards.
    bool isSyncAccountLinked() const;
    void unlinkSyncAccount();
    void linkSyncAccount(QWidget *window, std::function<void()> done);
    // Work away from the main thread, on the controller's own queue.
    void runInBackground(std::function<void()> work) { detach(std::move(work)); }
    QFProjectListModel *projectModel() const { return m_projectModel; }
    QFVersionListModel *versionModel() const { return m_versionModel; }
    class QFActionController *actions() const { return m_actions; }
    // Versions whose copies are on the sync service: by version file name, or by the name of a binary
    // version (".fcp") whose XML copy is listed.
    void markSynced(const QStringList &names);
    void clearSynced();
    void xpcSetup();
    void xpcConfigUpdate();
    void xpcStartBackupScan();

    // Change-list progress; called on the main thread.
    void versionsToBeLoaded(int count) override;
    void changeLogReady(const QFVersionEntry &entry) override;
    void loadingFinished() override;
    // The previous run crashed: its caches may be what made it crash.
    void applicationDidCrashWithLog(const QString &reportPath) override;

Q_SIGNALS:
    // The project list was read and shown.
    void projectListShown();
    // A version-list population ended (for the selected project or another).
    void versionListPopulated(const QString &projectFolder);
    // A version search's result (or its end) is shown.
    void versionSearchShown();
    // The sheet of a comparison is on screen.
    void comparisonShown(QDialog *sheet);
    // XML generation ended (done or cancelled) and the version list is being filled again.
    void xmlGenerationFinished();
    // The service manager's jobs were written or removed (generateLaunchdPlist, relaunchHelper).
    void helperJobsWritten();
    // The controller has ended its work (upload and remote-removal modes, too many copies).
    void quitRequested();

private Q_SLOTS:
    void onFilesBackedUp();

private:
    void detach(std::function<void()> work);
    QString sequenceUUIDForVersion(const QString &versionFile) const;
    QStringList selectedVersionFiles() const;
    void showComparison(const QStringList &files, const std::optional<QStringList> &lines, const QString &error);
    // The XML copies of every version of the shown project, under the progress sheet.
    void generateXMLForAll();
    static QString xmlPathFor(const QString &versionFile);
    void endProgress(const QString &projectFolder);
    void onMainThread(std::function<void()> work);
    void readProjects();
    void showProjects(const QList<QFProject> &projects);
    void projectSelectionChanged();
    void populateOperation(const QString &projectFolder);
    void replaceVersionList(const QList<QFVersionEntry> &entries);
    void showReadyEntries();
    void showVersionListInViews();
    void beginSearch(const QString &text);
    void updateVersionSearchArray(const std::optional<QList<QFVersionEntry>> &result);
    static QVariantMap filterPreferences();
    static QList<QFProject> projectsMatching(const QList<QFProject> &projects, const QString &text);
    static QFCoverFlowView::Item stripItemFor(const QFVersionEntry &entry);
    void updateVersionCount();
    void updateNoBackupView();
    void stripStoppedScrolling(int index);
    void outlineSelectionChanged();
    void mainWindowBecameMain();
    void filesBackedUpFromHelper();
    // The caches go (and, once started, the helper's job is written again) after a crashed run.
    void recoverFromCrash();
    void firstRun();
    // Upload mode: the version named on the command line, then every version that Dropbox lacks of its
    // project and of the projects earlier runs could not finish, one at a time.
    void startUploadMode(const QString &path);
    void continueUploadMode();
    void remoteListingArrived(const QStringList &names, const QString &error);
    // What is not uploaded now goes to the next run's list.
    void leaveUploadsForLater();
    void startRemoteRemoval(const QStringList &paths);
    // Copies the bundle into the Applications folder away from the window, opens the copy and quits.
    void installBundle(const QString &bundlePath);
    void countRemoteDeletion();
    void ensureHelperRunning();
    bool hasSomethingToWatch() const;
    // Writes the helper's job when what there is to watch changed since it was last written.
    void updateHelperJob();
    static bool runsFromBundle();
    void setUpWindow();
    void quit();

    bool m_hasUserInterface;
    std::unique_ptr<QFTombrelBackup> m_engine;
    QPointer<MainWindow> m_window;
    class QFPrefController *m_prefController = nullptr;
    class QFSoftwareUpdate *m_softwareUpdate = nullptr;
    class QFActionController *m_actions = nullptr;
    QFProjectListModel *m_projectModel = nullptr;
    QFVersionListModel *m_versionModel = nullptr;

    QList<QFProject> m_projects;
    QThreadPool m_projectQueue;
    QThreadPool m_parserQueue;
    // Detached work: searches, back up now, the predecessor's projects, the editor's version.
    QThreadPool m_backgroundQueue;
    std::atomic<bool> m_projectReadWaiting { false };
    // One engine refreshes one project's cache at a time.
    QMutex m_cacheLock;
    QMutex m_monitor;

    Mode m_mode = Mode::Normal;
    bool m_launched = false;
    bool m_recoveredFromCrash = false;
    // Whether the helper's job was last written for something to watch (else removed).
    std::optional<bool> m_helperJobWanted;
    // The helper's job is written by one rewrite at a time; one more may wait.
    QMutex m_helperJobLock;
    std::atomic<bool> m_helperJobWaiting { false };
    std::atomic<bool> m_helperJobMayAuth { false };
    bool m_startingUp = true;
    bool m_progressCancelled = true;
    bool m_stripMovedByOutline = false;
    QList<QFVersionEntry> m_readyEntries;
    bool m_readyFlushQueued = false;
    int m_remoteDeletions = 0;
    int m_remoteDeletionsExpected = 0;
    // Upload mode: the file under way, the project being listed, and what remains.
    QString m_uploading;
    bool m_namedUploadDone = false;
    QString m_listedProject;
    QStringList m_uploadQueue;
    QStringList m_catchUpProjects;
    bool m_uploadFailed = false;
    int m_progressMaximum = 0;
    int m_progressValue = 0;
    qint64 m_lastChangeListTime = 0;
};
