#include "tools/update-installer/QFUpdateInstaller.h"

#include "tools/update-installer/QFTaskNotification.h"

#include "foundation/QFAlert.h"
#include "foundation/QFAuthorization.h"
#include "foundation/QFException.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/QFTaskEx.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFMountTable.h"
#include "foundation/platform/QFRunningApplications.h"
#include "foundation/platform/QFUserDefaults.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QThread>
#include <QVBoxLayout>
#include <QWidget>

#include <exception>

QFUpdateArguments QFUpdateArguments::fromDefaults(const QFUserDefaults &defaults)
{
    QFUpdateArguments arguments;
    arguments.source = defaults.stringForKey(QStringLiteral("source"));
    arguments.destination = defaults.stringForKey(QStringLiteral("destination"));
    arguments.mountPath = defaults.stringForKey(QStringLiteral("mountpath"));
    arguments.silent = defaults.boolForKey(QStringLiteral("silent"));
    return arguments;
}

void QFUpdateInstaller::killAll(const QString &name)
{
    for (const qint64 pid : QFRunningApplications::processIds()) {
        if (QFileInfo(QFRunningApplications::executableOfProcess(pid)).fileName() == name)
            QFRunningApplications::terminate(pid);
    }
}

void QFUpdateInstaller::unmountImage(const QString &mountPath)
{
    if (QFLocalPaths::isRunningAsRoot()) {
        QFTaskEx::runTask(QStringLiteral("/bin/umount"), { mountPath }, 5.0);
        return;
    }
    // A user unmounts through udisks, which wants the device mounted there.
    QString device;
    const QByteArray table = QFMountTable::read();
    for (const QByteArray &line : table.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const int separator = int(fields.indexOf("-"));
        if (fields.size() > 4 && separator > 0 && separator + 2 < fields.size()
            && QFile::decodeName(fields.at(4)).replace(QStringLiteral("\\040"), QStringLiteral(" ")) == QDir::cleanPath(mountPath))
            device = QFile::decodeName(fields.at(separator + 2));
    }
    if (device.isEmpty()) {
        QFLog::appendLog("Nothing is mounted at %@.", mountPath);
        return;
    }
    QFTaskEx::runTask(QStringLiteral("/usr/bin/udisksctl"), { QStringLiteral("unmount"), QStringLiteral("-b"), device }, 5.0);
}

QFUpdateInstaller::Hooks QFUpdateInstaller::defaultHooks()
{
    Hooks hooks;
    hooks.alert = [](const QString &title, const QString &text) { QFAlert::alertSheetWithMessageText(title, text, nullptr); };
    hooks.status = [](const QString &) {};
    hooks.hideWindow = [] {};
    hooks.relaunch = [](const QString &bundle) {
        const QString name = QFBundle::infoDictionaryOfBundle(bundle).value(QStringLiteral("CFBundleExecutable")).toString();
        QFTaskEx::runTaskAndReturn(bundle + QStringLiteral("/Contents/MacOS/") + name, {});
    };
    hooks.sleep = [](double seconds) {
        // A loop on the time elapsed since the wait began.
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < qint64(seconds * 1000))
            QThread::msleep(50);
    };
    hooks.unmount = &QFUpdateInstaller::unmountImage;
    return hooks;
}

void QFUpdateInstaller::beginUpdate(const QFUpdateArguments &arguments, const Hooks &hooks)
{
    const auto run = [&] {
        QFLog::appendLog("Beginning installation...");
        QFLog::appendLog("Source path: %@", arguments.source);
        QFLog::appendLog("Destination path: %@", arguments.destination);
        QFLog::appendLog("Mount path: %@", arguments.mountPath);
        QFLog::appendLog("Silent: %i", int(arguments.silent));
        if (!arguments.source.endsWith(QStringLiteral(".app")) || !arguments.destination.endsWith(QStringLiteral(".app"))) {
            QFLog::appendLog("Invalid arguments");
            return;
        }
        QFLog::appendLog("Path is valid.");
        QFLog::appendLog("Waiting for software updater to close naturally...");
        hooks.sleep(3.0);
        QFLog::appendLog("Killing software updater instances...");
        killAll(QStringLiteral("Quenfield Software Update"));
        killAll(QStringLiteral("Quenfield Software Updater"));

        if (!QFFileManager::existsNoFollow(arguments.source)) {
            QFLog::appendLog("Source file does not exist");
            if (!arguments.silent)
                hooks.alert(QStringLiteral("Unable to install"), QStringLiteral("Source file does not exist."));
            return;
        }
        if (QFFileManager::existsNoFollow(arguments.destination)) {
            QFLog::appendLog("Trashing old application...");
            if (!QFFileManager::trashFile(arguments.destination, false)) {
                QFLog::appendLog("Auth trashing old application...");
                QFAuthorization::sharedController()->authTrashFile(arguments.destination, true);
                hooks.sleep(2.0);
            }
        }
        QFLog::appendLog("Preparing to copy files...");
        if (arguments.silent)
            QFTaskNotification::postIncrementProgress();

        // The new bundle keeps its own name in the destination's folder.
        const QString target = QFileInfo(arguments.destination).absolutePath() + u'/' + QFileInfo(arguments.source).fileName();
        if (!QFFileManager::copyFile(arguments.source, target, false)) {
            // The administrator's copy runs on its own: after its time, the bundle must be there.
            const bool started = QFAuthorization::sharedController()->authCopyFile(arguments.source, target);
            if (started)
                hooks.sleep(2.0);
            if (!started || !QFFileManager::existsNoFollow(target)) {
                QFLog::appendLog("The installer was unable to copy the file to its destination");
                hooks.alert(QStringLiteral("Unable to install"), QStringLiteral("The installer was unable to copy the file to its destination."));
                return;
            }
        }
        if (arguments.silent)
            QFTaskNotification::postIncrementProgress();
        hooks.sleep(1.0);
        QFFileManager::registerApplicationWithLaunchServices(arguments.destination);
        QFFileManager::touchFile(arguments.destination);

        if (!arguments.silent)
            hooks.status(QStringLiteral("Relaunching..."));
        QFLog::appendLog("File copy successful.");
        if (!arguments.silent) {
            QFLog::appendLog("Launching app...");
            hooks.relaunch(arguments.destination);
            hooks.hideWindow();
        }
        if (!arguments.mountPath.isEmpty()) {
            QFLog::appendLog("Cleaning up...");
            hooks.unmount(arguments.mountPath);
        }
    };
    try {
        run();
    } catch (const std::exception &exception) {
        QFException::logException(exception, "-[AppController beginUpdate]");
        hooks.alert(QStringLiteral("Error: unable to install update."),
            QStringLiteral("Exception in processData. %1 - %2").arg(QStringLiteral("std::exception"), QString::fromUtf8(exception.what())));
    }
    if (arguments.silent) {
        QFTaskNotification::postTaskFinished();
        hooks.sleep(1.0);
    }
    QFLog::appendLog("Terminating self...");
}

QWidget *QFUpdateInstaller::createStatusWindow(QLabel **status)
{
    auto *window = new QWidget;
    window->setObjectName(QStringLiteral("updateInstallerWindow"));
    window->setWindowTitle(QStringLiteral("Installing Update"));
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(20, 18, 20, 18);
    layout->setSpacing(10);
    auto *label = new QLabel(QStringLiteral("Installing the update…"), window);
    auto *bar = new QProgressBar(window);
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setMinimumWidth(360);
    layout->addWidget(label);
    layout->addWidget(bar);
    if (status)
        *status = label;
    return window;
}
