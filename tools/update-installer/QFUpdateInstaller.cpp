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
#include "foundation/platform/QFFileCopy.h"
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

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>

namespace {

QFAuthorization *administrator()
{
    return QFAuthorization::sharedController();
}

bool permissionDenied(int error)
{
    return error == EACCES || error == EPERM;
}

// A private folder beside the destination that receives the new copy, so that the old application is
// only touched once a whole new one stands next to it. Made by this process (mkdtemp: 0700, a name
// nobody else can claim), or by the administrator where the destination's folder is not the user's.
struct Staging {
    QString folder;
    bool administrator = false;
};

std::optional<Staging> makeStaging(const QFileInfo &destination)
{
    const QString stem
        = destination.absolutePath() + QStringLiteral("/.") + destination.fileName() + QStringLiteral(".update-");
    QByteArray pattern = QFile::encodeName(stem + QStringLiteral("XXXXXX"));
    if (::mkdtemp(pattern.data()))
        return Staging { QFile::decodeName(pattern), false };
    const int error = errno;
    if (!permissionDenied(error)) {
        QFLog::appendLog("Unable to prepare a folder beside %@: %@", destination.filePath(),
            QString::fromLocal8Bit(std::strerror(error)));
        return std::nullopt;
    }
    const QString folder = stem + QFLocalPaths::randomString(8);
    if (QFFileManager::existsNoFollow(folder) || !administrator()->authCreateDir(folder, true)
        || !QFileInfo(folder).isDir()) {
        QFLog::appendLog("Unable to prepare a folder beside %@ as the administrator.", destination.filePath());
        return std::nullopt;
    }
    return Staging { folder, true };
}

// Removes the staging folder and what it holds (only ever a new copy, never the old application).
void discardStaging(const Staging &staging)
{
    if (staging.administrator)
        administrator()->authRemoveFile(staging.folder, true);
    else
        qfDiscardItem(staging.folder);
}

// A copy counts when it is the whole bundle: the same Info.plist as the source and its program there at
// full size.
bool isCompleteCopy(const QString &copy, const QString &source)
{
    const QVariantMap info = QFBundle::infoDictionaryOfBundle(copy);
    const QString name = info.value(QStringLiteral("CFBundleExecutable")).toString();
    if (info.isEmpty() || name.isEmpty() || info != QFBundle::infoDictionaryOfBundle(source))
        return false;
    const QFileInfo program(copy + QStringLiteral("/Contents/MacOS/") + name);
    const QFileInfo original(source + QStringLiteral("/Contents/MacOS/") + name);
    return program.isFile() && original.isFile() && program.size() == original.size();
}

bool exchange(const QString &first, const QString &second, int *error)
{
    if (::renameat2(AT_FDCWD, QFile::encodeName(first).constData(), AT_FDCWD, QFile::encodeName(second).constData(),
            RENAME_EXCHANGE)
        == 0)
        return true;
    *error = errno;
    return false;
}

// Puts the new copy in place of the destination. Answers where the old application now is (inside the
// staging folder), or nothing when the swap failed, the old application then being where it was.
// *stranded is set when the old one could not be put back and stays in the staging folder.
std::optional<QString> swapIn(const QString &fresh, const QString &destination, const Staging &staging, bool *stranded)
{
    *stranded = false;
    int error = 0;
    if (!staging.administrator && exchange(fresh, destination, &error))
        return fresh;
    const bool useAdministrator = staging.administrator || permissionDenied(error);
    // Two renames where the file system cannot exchange, or as the administrator: the old one aside, the
    // new one in, the old one back when the new one cannot go in.
    const QString holder = staging.folder + QStringLiteral("/previous");
    const QString old = holder + u'/' + QFileInfo(destination).fileName();
    QString reason;
    if (useAdministrator) {
        if (!administrator()->authCreateDir(holder, true) || !administrator()->authMoveFile(destination, old, true))
            return std::nullopt;
        if (administrator()->authMoveFile(fresh, destination, true))
            return old;
        if (!administrator()->authMoveFile(old, destination, true)) {
            *stranded = true;
            QFLog::appendLog("The old application could not be put back; it is at %@.", old);
        }
        return std::nullopt;
    }
    if (::mkdir(QFile::encodeName(holder).constData(), 0700) != 0 || !qfRenameNoReplace(destination, old, &reason))
        return std::nullopt;
    if (qfRenameNoReplace(fresh, destination, &reason))
        return old;
    QFLog::appendLog("Unable to put the new application in place: %@", reason);
    if (!qfRenameNoReplace(old, destination, &reason)) {
        *stranded = true;
        QFLog::appendLog("The old application could not be put back; it is at %@.", old);
    }
    return std::nullopt;
}

// The new copy where nothing was installed yet.
bool moveIn(const QString &fresh, const QString &destination, const Staging &staging)
{
    QString reason;
    if (!staging.administrator && qfRenameNoReplace(fresh, destination, &reason))
        return true;
    if (!staging.administrator && !permissionDenied(errno)) {
        QFLog::appendLog("Unable to put the new application in place: %@", reason);
        return false;
    }
    return administrator()->authMoveFile(fresh, destination, true);
}

} // namespace

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
            && QFile::decodeName(fields.at(4)).replace(QStringLiteral("\\040"), QStringLiteral(" "))
                == QDir::cleanPath(mountPath))
            device = QFile::decodeName(fields.at(separator + 2));
    }
    if (device.isEmpty()) {
        QFLog::appendLog("Nothing is mounted at %@.", mountPath);
        return;
    }
    QFTaskEx::runTask(
        QStringLiteral("/usr/bin/udisksctl"), { QStringLiteral("unmount"), QStringLiteral("-b"), device }, 5.0);
}

QFUpdateInstaller::Hooks QFUpdateInstaller::defaultHooks()
{
    Hooks hooks;
    hooks.alert
        = [](const QString &title, const QString &text) { QFAlert::alertSheetWithMessageText(title, text, nullptr); };
    hooks.status = [](const QString &) {};
    hooks.hideWindow = [] {};
    hooks.relaunch = [](const QString &bundle) {
        const QString name
            = QFBundle::infoDictionaryOfBundle(bundle).value(QStringLiteral("CFBundleExecutable")).toString();
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
        if (!arguments.source.endsWith(QStringLiteral(".app"))
            || !arguments.destination.endsWith(QStringLiteral(".app"))) {
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
        const auto copyFailed = [&] {
            QFLog::appendLog("The installer was unable to copy the file to its destination");
            hooks.alert(QStringLiteral("Unable to install"),
                QStringLiteral("The installer was unable to copy the file to its destination."));
        };
        QFLog::appendLog("Preparing to copy files...");
        if (arguments.silent)
            QFTaskNotification::postIncrementProgress();

        // The new bundle is copied whole beside the destination, under the destination's name, before the
        // old one is touched: a copy that fails leaves the installed application as it was.
        const QFileInfo destination(arguments.destination);
        const std::optional<Staging> staging = makeStaging(destination);
        if (!staging) {
            copyFailed();
            return;
        }
        const QString fresh = staging->folder + u'/' + destination.fileName();
        bool copied = !staging->administrator && QFFileManager::copyFile(arguments.source, fresh, false);
        if (!copied) {
            // The administrator's copy counts only when cp ended well.
            copied = administrator()->authCopyFile(arguments.source, fresh, true);
        }
        if (!copied || !isCompleteCopy(fresh, arguments.source)) {
            if (copied)
                QFLog::appendLog("The copy at %@ is not the whole application.", fresh);
            discardStaging(*staging);
            copyFailed();
            return;
        }

        if (QFFileManager::existsNoFollow(arguments.destination)) {
            QFLog::appendLog("Trashing old application...");
            bool stranded = false;
            const std::optional<QString> old = swapIn(fresh, arguments.destination, *staging, &stranded);
            if (!old) {
                if (!stranded)
                    discardStaging(*staging);
                copyFailed();
                return;
            }
            if (QFLocalPaths::isRunningAsRoot() && QFLocalPaths::userDirectory().isEmpty()) {
                // Nobody at the console has a Trash for it; the new application is in place, so the old one goes.
                if (!QFFileManager::removeFile(*old, false))
                    administrator()->authRemoveFile(*old, true);
            } else if (!QFFileManager::trashFile(*old, false)) {
                QFLog::appendLog("Auth trashing old application...");
                administrator()->authTrashFile(*old, true);
                hooks.sleep(2.0);
            }
            if (QFFileManager::existsNoFollow(*old))
                QFLog::appendLog("The old application could not be moved to the Trash; it is at %@.", *old);
        } else if (!moveIn(fresh, arguments.destination, *staging)) {
            discardStaging(*staging);
            copyFailed();
            return;
        }
        if (QFFileManager::isFolderEmpty(staging->folder))
            discardStaging(*staging);

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
            QStringLiteral("Exception in processData. %1 - %2")
                .arg(QStringLiteral("std::exception"), QString::fromUtf8(exception.what())));
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
