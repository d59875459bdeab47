#pragma once

// The helper's controller: one per process, on the main thread. It owns the backup engine, the serial
// scan queue on which every backup, prune and folder search runs, the repeating backup timer and the
// session-bus service, and turns every trigger (set-up, the timer, requests, file-system events, a
// mounted volume, the editor quitting) into operations on that queue. The main thread itself never does
// file work beyond reading the preference file and the project list.

#include "engine/QFTombrelBackup.h"
#include "helper/QFFSEvents.h"
#include "helper/QFMountWatcher.h"
#include "helper/QFXPCController.h"

#include <QDBusConnection>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <optional>
#include <utility>

class QFApplicationWatcher;
class QFScanQueue;
class QFSystemEvents;
class QTimer;

// What a controller is set up with. The defaults are the helper's own; tests shorten the waits and
// offer fakes of the system.
struct AppControllerOptions {
    // The helpers that may run only once: processes of bundles with this identifier.
    QString bundleIdentifier = QStringLiteral("com.quenfield.ProTombrelHelper");
    bool singleInstance = true;
    bool registerService = true;
    // Where logind is asked (default: the system bus).
    std::optional<QDBusConnection> systemBus;
    // The mount table (default: /proc/self/mountinfo with the kernel's change signal) and, when > 0, how
    // often it is read again.
    QFMountWatcher::Reader mountTable;
    int mountPollMs = 0;
    // How often running programs are looked up to notice the editor quitting.
    int processPollMs = 2000;
    // The length of one second of the backup interval, in milliseconds.
    int timerSecondMs = 1000;
    // The event stream's latency, in seconds.
    double latency = 1.0;
    // How long a project file must have gone unmodified before it is copied.
    int writeQuietMs = 4000;
};

class AppController final : public QObject, public QFFSEventsDelegate, public QFXPCControllerDelegate {
    Q_OBJECT

public:
    // The start-up: single instance, engine, queue, service, system events.
    explicit AppController(const AppControllerOptions &options = AppControllerOptions(), QObject *parent = nullptr);
    ~AppController() override;
    Q_DISABLE_COPY_MOVE(AppController)

    QFTombrelBackup &backupController() { return *m_backupController; }
    QFScanQueue *scanQueue() const { return m_scanQueue; }
    // The repeating timer of scheduled scans; none before the first set-up.
    QTimer *backupTimer() const { return m_backupTimer; }
    QFXPCController *connection() const { return m_connection; }
    // Whether the service name is ours (or queued for us while an older helper ends).
    bool serviceRegistered() const { return m_serviceRegistered; }
    QFMountWatcher *mountWatcher() const { return m_mountWatcher; }
    QFApplicationWatcher *applicationWatcher() const { return m_applicationWatcher; }

    // Runs beginSetupOnMainThread on the main thread and waits until it has finished.
    void setup() override;
    void beginSetupOnMainThread();
    // Queues a full scan: the known projects, then the folder search.
    void beginScheduledBackup() override;

    void fileSystemEventsReceived(const QList<QFFSEventRecord> &events) override;

    // The folder search; runs on the scan queue (or any worker thread). A null path searches everything.
    void populateProjectsFromWatchFolders(const QString &path = QString());
    // One folder's search: creates a record for every new project file below it; returns how many.
    int addNewProjectsInFolder(
        const QString &folder, const QStringList &types, const QStringList &existingProjects, bool showAlerts = true);

    // Observers of the system's events.
    void diskMounted(const QString &mountPoint);
    void appTerminated(const QString &bundleIdentifier);
    void userLogIn();
    void userLogOut();
    void systemShutdown();
    void systemSleep();
    void systemWake();

    static bool array(const QStringList &array, const QString &containsParentFolderForPath);
    // The value of a key in the main application's preference file, read now; null when absent.
    static QVariant objectForPreferenceDictionaryKey(const QString &key);

    // The termination step: stops the stream and records a clean exit for the crash reporter.
    void applicationWillTerminate();

private:
    void ensureSingleInstance();
    void registerConnection();
    void subscribeToSystemEvents();
    void queuePopulate(const QString &path);
    // Backs up the projects the last folder search registered that have no version yet.
    void backUpNewProjects();
    bool claimNewProject(const QString &path);
    bool isInsideStorage(const QString &path) const;

    AppControllerOptions m_options;
    std::unique_ptr<QFTombrelBackup> m_backupController;
    QFScanQueue *m_scanQueue = nullptr;
    QTimer *m_backupTimer = nullptr;
    QFXPCController *m_connection = nullptr;
    bool m_serviceRegistered = false;
    QFSystemEvents *m_systemEvents = nullptr;
    QFMountWatcher *m_mountWatcher = nullptr;
    QFApplicationWatcher *m_applicationWatcher = nullptr;

    // The files (links resolved) of the known projects and of those given a record during the current
    // folder search, shared by its concurrent folder operations so that overlapping watch folders and
    // linked folders never make two records for one file.
    QMutex m_claimLock;
    QSet<QString> m_claimed;
    // Projects registered by the current search (file, project folder), backed up once it ends.
    QList<QPair<QString, QString>> m_newProjects;
    QStringList m_storageFolders;
};
