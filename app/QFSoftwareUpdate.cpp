#include "app/QFSoftwareUpdate.h"

#include "foundation/QFFileManager.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/QFTaskEx.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFPropertyList.h"

#include <QFileInfo>
#include <QMetaType>

namespace {

const char *const kUpdaterName = "Quenfield Software Update.app";

qint64 bundleVersion(const QString &bundle)
{
    return QFBundle::infoDictionaryOfBundle(bundle).value(QStringLiteral("CFBundleVersion")).toString().toLongLong();
}

// The bundle's executable, or an empty string (logged with the reason) when there is none to run.
QString executableOfBundle(const QString &updater)
{
    if (updater.isEmpty()) {
        QFLog::appendLogAndPrint("Unable to launch Software Update - path doesn't exist");
        return {};
    }
    const QVariantMap info = QFBundle::infoDictionaryOfBundle(updater);
    if (!QFileInfo(updater).isDir() || info.isEmpty()) {
        QFLog::appendLogAndPrint("Unable to launch Software Update - updater bundle not found.");
        return {};
    }
    const QString name = info.value(QStringLiteral("CFBundleExecutable")).toString();
    const QString executable = updater + QStringLiteral("/Contents/MacOS/") + name;
    if (name.isEmpty() || !QFTaskEx::isExecutable(executable)) {
        QFLog::appendLogAndPrint("Unable to launch Software Update - executable path doesn't exist");
        return {};
    }
    return executable;
}

} // namespace

QFSoftwareUpdate::QFSoftwareUpdate(QObject *parent)
    : QObject(parent)
{
}

bool QFSoftwareUpdate::checksAtStartup()
{
    const auto global = QFPropertyList::readDictionary(QFLocalPaths::prefsDirectory(true) + QStringLiteral("/com.quenfield.global.plist"));
    if (!global)
        return true;
    const QVariant value = global->value(QStringLiteral("SUCheckAtStartup"));
    return !(value.isValid() && value.metaType().id() == QMetaType::Bool && !value.toBool());
}

void QFSoftwareUpdate::startup(const std::function<void(std::function<void()>)> &detach)
{
    if (checksAtStartup())
        detach([] { automaticallyCheckForUpdates(updaterPath()); });
}

QString QFSoftwareUpdate::installedUpdaterPath()
{
    return QFLocalPaths::applicationDirectory(false) + QStringLiteral("/Quenfield/") + QString::fromLatin1(kUpdaterName);
}

QString QFSoftwareUpdate::carriedUpdaterPath()
{
    return QFBundle::mainBundlePath() + QStringLiteral("/Contents/Resources/") + QString::fromLatin1(kUpdaterName);
}

QString QFSoftwareUpdate::updaterPath()
{
    return updaterPath(installedUpdaterPath(), carriedUpdaterPath());
}

QString QFSoftwareUpdate::updaterPath(const QString &installed, const QString &carried)
{
    if (bundleVersion(installed) >= bundleVersion(carried))
        return installed;
    const QString temporary = QFLocalPaths::tempDirectory() + u'/' + QString::fromLatin1(kUpdaterName);
    if (QFFileManager::existsNoFollow(temporary))
        QFFileManager::removeFile(temporary, false);
    QFFileManager::copyFile(carried, temporary, false);
    return temporary;
}

bool QFSoftwareUpdate::automaticallyCheckForUpdates(const QString &updater)
{
    const QString executable = executableOfBundle(updater);
    return !executable.isEmpty()
        && QFTaskEx::runTaskAndReturn(executable, { QStringLiteral("-checkpath"), QFBundle::mainBundlePath() });
}

void QFSoftwareUpdate::manualUpdateCheck()
{
    launchSoftwareUpdate(updaterPath());
}

bool QFSoftwareUpdate::launchSoftwareUpdate(const QString &updater)
{
    const QString executable = executableOfBundle(updater);
    return !executable.isEmpty() && QFTaskEx::runTaskAndReturn(executable, {});
}
