#include "engine/QFHelperAgent.h"

#include "engine/QFPreferenceKeys.h"
#include "engine/QFPreferenceSnapshot.h"
#include "engine/QFTombrelBackup.h"
#include "foundation/QFAlert.h"
#include "foundation/QFAppleEvents.h"
#include "foundation/QFLog.h"
#include "foundation/QFTaskEx.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>

namespace {

const QString kHelperName = QStringLiteral("ProTombrelHelper");

bool hasNothingToWatch(const QFTombrelBackup &engine)
{
    return engine.projects().isEmpty()
        && QFPreferenceSnapshot::read().value(QStringLiteral("watchFolders")).toList().isEmpty();
}

} // namespace

QString QFHelperAgent::helperExecutable(const QString &bundlePath)
{
    return bundlePath + QStringLiteral("/Contents/MacOS/ProTombrelHelper.app/Contents/MacOS/ProTombrelHelper");
}

QFLaunchdJob QFHelperAgent::helperJob(const QString &bundlePath)
{
    QFLaunchdJob job;
    job.label = QString::fromLatin1(kHelperJob);
    job.program = helperExecutable(bundlePath);
    job.runAtLoad = true;
    job.keepAlive = true;
    return job;
}

QFLaunchdJob QFHelperAgent::autosaveJob(const QString &bundlePath, qint64 autosaveIntervalMinutes)
{
    QFLaunchdJob job;
    job.label = QStringLiteral("com.quenfield.ProTombrel.Autosave");
    job.program = bundlePath + QStringLiteral("/Contents/MacOS/Pro Tombrel");
    job.arguments = { QStringLiteral("-autosave") };
    job.startInterval
        = autosaveIntervalMinutes < 1 ? 60 : int(std::min<qint64>(autosaveIntervalMinutes, 24 * 60 * 365) * 60);
    return job;
}

void QFHelperAgent::generateAutosavePlist(const QFTombrelBackup &engine)
{
    QFLog::appendLog("Generating autosave plist...");
    const int major = QFAppleEvents::finalCutProMajorVersion();
    // An editor older than 7 (or one whose version has no number) cannot save on request.
    if (major <= 6) {
        QFPreferenceKeys::update({ { QStringLiteral("autosaveEnabled"), 0 } });
        QFLog::appendLog("Error: Autosave can only be activated on Final Cut Pro 7+ systems");
    }
    const QFPreferenceSnapshot prefs = QFPreferenceSnapshot::read();
    const QString bundle = QFTombrelBackup::currentBundlePath();
    if (!engine.projects().isEmpty() && prefs.intValue(QStringLiteral("autosaveEnabled")) == 1 && major >= 7
        && !bundle.isEmpty()) {
        QFLaunchd::startLaunchAgent(
            QString::fromLatin1(kAutosaveJob), autosaveJob(bundle, prefs.intValue(QStringLiteral("autosaveInterval"))));
        return;
    }
    QFLaunchd::removeLaunchAgent(QString::fromLatin1(kAutosaveJob));
}

bool QFHelperAgent::startHelperDirectly(const QString &bundlePath)
{
    if (QFLaunchd::isProcessRunning(kHelperName))
        return true;
    const QString helper = helperExecutable(bundlePath);
    QString reason;
    if (!QFTaskEx::startDetached(helper, {}, &reason)) {
        QFLog::appendLog("Unable to start helper %@: %@", helper, reason);
        return false;
    }
    QFLog::appendLog("Started helper without the service manager: %@", helper);
    return true;
}

bool QFHelperAgent::generateLaunchdPlist(bool mayAuth, bool hasUserInterface, const QFTombrelBackup &engine)
{
    QFLog::appendLog("Generating launchd plist...");
    generateAutosavePlist(engine);
    const QString name = QString::fromLatin1(kHelperJob);
    if (hasUserInterface && hasNothingToWatch(engine)) {
        // Nothing to watch: the helper does not run.
        QFLaunchd::removeLaunchAgent(name);
        return false;
    }
    const QString bundle = QFTombrelBackup::currentBundlePath();
    if (bundle.isEmpty()) {
        QFLog::appendLog("Error - unable to determine helper path. Please report this error to Quenfield.");
        QFAlert::alertSheetWithMessageText(QStringLiteral("Error - unable to determine helper path"),
            QStringLiteral("Please report this error to Quenfield."), QFLaunchd::alertWindow());
        return false;
    }
    const QString helper = helperExecutable(bundle);
    if (!QFileInfo::exists(helper)) {
        QFLog::appendLog("Unable to find helper at %@.", helper);
        QFAlert::alertSheetWithMessageText(QStringLiteral("Error - unable to locate helper application"),
            QStringLiteral("Please report this error to Quenfield."), QFLaunchd::alertWindow());
        return false;
    }
    const bool privileged
        = (QFileInfo::exists(QFLaunchd::serviceFile(name)) && QFLaunchd::isProcessRunning(kHelperName)) ? mayAuth
                                                                                                        : true;
    const bool started = QFLaunchd::startJob(name, helperJob(bundle), privileged, kHelperName);
    // Without a service manager (a container, a session without one) versions are still made: the old
    // helper has ended by now, so one that runs is a new one.
    if (!started)
        startHelperDirectly(bundle);
    return QFileInfo::exists(QFLaunchd::serviceFile(name));
}

QFHelperAgent::Relaunch QFHelperAgent::relaunchHelper(const QFTombrelBackup &engine, bool hasUserInterface)
{
    // The old helper is gone before a new one is looked for.
    QFLaunchd::endProcessesNamed(kHelperName);
    generateLaunchdPlist(true, hasUserInterface, engine);
    if (hasUserInterface && hasNothingToWatch(engine)) {
        QFLog::appendLog("Nothing to watch - the helper is not started.");
        return Relaunch::NothingToWatch;
    }
    const QString bundle = QFTombrelBackup::currentBundlePath();
    if (bundle.isEmpty())
        return Relaunch::Failed;
    if (!QFLaunchd::isProcessRunning(kHelperName) && !startHelperDirectly(bundle))
        return Relaunch::Failed;
    // Relaunched means running: the service manager or the start may take a moment.
    QDeadlineTimer deadline(5000);
    while (!QFLaunchd::isProcessRunning(kHelperName)) {
        if (deadline.hasExpired())
            return Relaunch::Failed;
        QThread::msleep(50);
    }
    return Relaunch::Relaunched;
}
