#include "app/AppController.h"

#include "engine/QFHelperAgent.h"
#include "engine/QFPreferenceSnapshot.h"
#include "foundation/QFAlert.h"
#include "foundation/QFException.h"
#include "foundation/QFHelperConnection.h"
#include "foundation/QFLaunchd.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFBundle.h"

#include <QDBusConnection>

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
    return !m_engine->projects().isEmpty()
        || !QFPreferenceSnapshot::read().value(QStringLiteral("watchFolders")).toList().isEmpty();
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
        QFException::guard("generateLaunchdPlist:",
            [&] { QFHelperAgent::generateLaunchdPlist(mayAuth, hasUserInterface, *m_engine); });
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
        QFException::guard(
            "relaunchHelper:", [&] { relaunched = QFHelperAgent::relaunchHelper(*m_engine, hasUserInterface); });
        onMainThread([this, relaunched] {
            Q_EMIT helperJobsWritten();
            if (relaunched == QFHelperAgent::Relaunch::Relaunched) {
                QFAlert::alertSheetWithMessageText(QStringLiteral("Helper relaunched"), QString(), QString(), QString(),
                    QStringLiteral("The helper application successfully relaunched."), m_window, false);
            } else if (relaunched == QFHelperAgent::Relaunch::NothingToWatch) {
                QFAlert::alertSheetWithMessageText(QStringLiteral("Nothing to watch"), QString(), QString(), QString(),
                    QStringLiteral("The helper runs once a project is added or a folder is watched in Preferences."),
                    m_window, false);
            } else {
                QFAlert::alertSheetWithMessageText(QStringLiteral("Unable to relaunch the helper"), QString(),
                    QString(), QString(),
                    QStringLiteral("The helper application could not be started. The log has the details."), m_window,
                    false);
            }
        });
    });
}

void AppController::watchListChanged()
{
    xpcConfigUpdate();
    updateHelperJob();
}

void AppController::xpcSetup()
{
    // The bus connection is made on first use and kept; a helper that is not running is not reported.
    QDBusConnection::sessionBus();
}

// The helper answers once its set-up is done; nothing here waits for that, and a helper that is not
// running is not reported.
void AppController::xpcConfigUpdate()
{
    QFHelperConnection::updateConfiguration(this);
}

void AppController::xpcStartBackupScan()
{
    QFHelperConnection::startBackupScan(this);
}
