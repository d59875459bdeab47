#include "helper/AppController.h"

#include "engine/QFPreferenceSnapshot.h"
#include "foundation/QFBugReporter.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFHelperConnection.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFRunningApplications.h"
#include "foundation/platform/QFShutdown.h"
#include "helper/QFApplicationWatcher.h"
#include "helper/QFScanQueue.h"
#include "helper/QFSystemEvents.h"
#include "helper/QFWatchFolders.h"

#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

#include <climits>
#include <unistd.h>

namespace {

// How long a force-quit older helper may take to vanish before this one goes on regardless.
constexpr int kOlderHelperGraceMs = 5000;

} // namespace

AppController::AppController(const AppControllerOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
{
    QFShutdown::reset();
    QFFileManager::setWriteQuietPeriod(m_options.writeQuietMs);
    if (m_options.singleInstance)
        ensureSingleInstance();
    m_backupController = std::make_unique<QFTombrelBackup>();
    m_scanQueue = new QFScanQueue(this);
    if (m_options.registerService)
        registerConnection();
    subscribeToSystemEvents();
}

AppController::~AppController()
{
    QFFSEvents *events = QFFSEvents::sharedController();
    if (events->delegate() == this) {
        events->stopWatching();
        events->setDelegate(nullptr);
    }
    if (m_serviceRegistered) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(QFHelperConnection::objectPath());
        bus.unregisterService(QFHelperConnection::serviceName());
    }
    // The queue's operations use the engine: they end before it does.
    delete m_scanQueue;
    m_scanQueue = nullptr;
}

void AppController::ensureSingleInstance()
{
    const QList<qint64> running = QFRunningApplications::processesWithBundleIdentifier(m_options.bundleIdentifier);
    QFLog::appendLog("Currently running instances: %i", int(running.size()));
    if (running.size() <= 1)
        return;
    const qint64 self = getpid();
    QList<qint64> killed;
    for (qint64 pid : running) {
        if (pid == self)
            continue;
        const bool accepted = QFRunningApplications::forceTerminate(pid);
        QFLog::appendLog("Force quitting helper: %i", accepted ? 1 : 0);
        if (accepted)
            killed << pid;
    }
    // The older helper's inotify watches and its service name are freed only once it is gone.
    QDeadlineTimer deadline(kOlderHelperGraceMs);
    while (!deadline.hasExpired()) {
        if (std::none_of(
                killed.cbegin(), killed.cend(), [](qint64 pid) { return QFRunningApplications::isRunning(pid); }))
            break;
        QThread::msleep(10);
    }
}

void AppController::registerConnection()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    m_connection = new QFXPCController(this);
    m_connection->setDelegate(this);
    if (!bus.isConnected() || !bus.interface())
        return;
    if (!bus.registerObject(QFHelperConnection::objectPath(), m_connection, QDBusConnection::ExportAllSlots))
        return;
    // A helper that was just killed may still hold the name for a moment: wait in the queue for it.
    const QString name = QFHelperConnection::serviceName();
    QDBusConnectionInterface *names = bus.interface();
    auto reply = names->registerService(
        name, QDBusConnectionInterface::ReplaceExistingService, QDBusConnectionInterface::AllowReplacement);
    if (!reply.isValid() || reply.value() == QDBusConnectionInterface::ServiceNotRegistered)
        reply = names->registerService(
            name, QDBusConnectionInterface::QueueService, QDBusConnectionInterface::AllowReplacement);
    m_serviceRegistered = reply.isValid() && reply.value() != QDBusConnectionInterface::ServiceNotRegistered;
    if (!m_serviceRegistered)
        bus.unregisterObject(QFHelperConnection::objectPath());
}

void AppController::subscribeToSystemEvents()
{
    m_systemEvents = new QFSystemEvents(m_options.systemBus.value_or(QDBusConnection::systemBus()), this);
    connect(m_systemEvents, &QFSystemEvents::sessionDidBecomeActive, this, &AppController::userLogIn);
    connect(m_systemEvents, &QFSystemEvents::sessionDidResignActive, this, &AppController::userLogOut);
    connect(m_systemEvents, &QFSystemEvents::willPowerOff, this, &AppController::systemShutdown);
    connect(m_systemEvents, &QFSystemEvents::willSleep, this, &AppController::systemSleep);
    connect(m_systemEvents, &QFSystemEvents::didWake, this, &AppController::systemWake);

    m_mountWatcher = new QFMountWatcher(m_options.mountTable, m_options.mountPollMs, this);
    connect(m_mountWatcher, &QFMountWatcher::volumeMounted, this, &AppController::diskMounted);

    m_applicationWatcher = new QFApplicationWatcher(m_options.processPollMs, this);
    connect(m_applicationWatcher, &QFApplicationWatcher::applicationTerminated, this,
        [this](const QString &identifier) { appTerminated(identifier); });
}

void AppController::setup()
{
    if (QThread::currentThread() == thread())
        beginSetupOnMainThread();
    else
        QMetaObject::invokeMethod(this, &AppController::beginSetupOnMainThread, Qt::BlockingQueuedConnection);
}

void AppController::beginSetupOnMainThread()
{
    QFLog::appendLog("Setting up...");
    QFFSEvents *events = QFFSEvents::sharedController();
    events->stopWatching();
    events->setWatchPaths({});

    // The system's own folders are never watched, so that its writes do not feed the stream.
    const QFPreferenceSnapshot prefs = QFPreferenceSnapshot::read();
    const QStringList paths = QFWatchFolders::watchPaths(
        QFWatchFolderEntry::listFromPreference(prefs.value(QStringLiteral("watchFolders"))),
        m_backupController->projects());
    events->setExcludedPaths({ QFProject::storageRoot(), QFProject::storageRootFromPreferences(),
        QFTombrelBackup::cachesFolder(), QFLog::sharedController()->logFolder() });
    events->setDelegate(this);
    events->startWatchingPaths(paths, m_options.latency);
    QFLog::appendLog("Watch paths: %@", QFWatchFolders::describe(events->watchPaths()));

    // Cloud sessions (syncService) are made by the engine when it uploads; nothing to prepare here yet.
    beginScheduledBackup();

    const qint64 interval = QFWatchFolders::backupInterval(prefs);
    QFLog::appendLog("Backup interval: %i", long(interval));
    delete m_backupTimer;
    m_backupTimer = new QTimer(this);
    m_backupTimer->setObjectName(QStringLiteral("backupTimer"));
    m_backupTimer->setTimerType(Qt::VeryCoarseTimer);
    // A timer cannot wait longer than INT_MAX milliseconds; longer settings fire at that bound.
    m_backupTimer->setInterval(int(qMin<qint64>(interval * m_options.timerSecondMs, INT_MAX)));
    connect(m_backupTimer, &QTimer::timeout, this, &AppController::beginScheduledBackup);
    m_backupTimer->start();
}

void AppController::beginScheduledBackup()
{
    QFLog::appendLog("Beginning scheduled backup...");
    QFTombrelBackup *engine = m_backupController.get();
    m_scanQueue->addOperation(QStringLiteral("processProjects"), QString(), [engine] { engine->processProjects(); });
    queuePopulate(QString());
}

void AppController::diskMounted(const QString &mountPoint)
{
    queuePopulate(mountPoint);
}

void AppController::appTerminated(const QString &bundleIdentifier)
{
    if (bundleIdentifier == QLatin1String("com.apple.FinalCut"))
        beginScheduledBackup();
}

void AppController::userLogIn()
{
    QFLog::appendLog("System event: user logged in.");
}

void AppController::userLogOut()
{
    QFLog::appendLog("System event: user logged out.");
}

void AppController::systemShutdown()
{
    QFLog::appendLog("System event: shutdown.");
}

void AppController::systemSleep()
{
    QFLog::appendLog("System event: entering sleep mode...");
}

void AppController::systemWake()
{
    QFLog::appendLog("System event: woke from sleep");
}

bool AppController::array(const QStringList &array, const QString &containsParentFolderForPath)
{
    return QFWatchFolders::arrayContainsParentFolderForPath(array, containsParentFolderForPath);
}

QVariant AppController::objectForPreferenceDictionaryKey(const QString &key)
{
    return QFPreferenceSnapshot::read().value(key);
}

void AppController::applicationWillTerminate()
{
    // Whatever is queued is abandoned; the running operation gives up at its next step (a copy under way
    // is removed, a wait for a file being written ends), so the exit is not held back by a scan.
    QFShutdown::request();
    const int pending = m_scanQueue->operationCount();
    m_scanQueue->cancelPendingOperations();
    if (pending > 0)
        QFLog::appendLog("Stopping: %i queued scan operation(s) abandoned.", pending);
    QFFSEvents *events = QFFSEvents::sharedController();
    if (events->delegate() == this)
        events->stopWatching();
    QFBugReporter::stopBugReporter();
}
