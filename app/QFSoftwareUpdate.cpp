#include "app/QFSoftwareUpdate.h"

#include "foundation/QFFileManager.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/QFTaskEx.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFFileCopy.h"
#include "foundation/platform/QFPropertyList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaType>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *const kUpdaterName = "Quenfield Software Update.app";
const char *const kPrivatePrefix = "quenfield-update-";

QString bundleVersion(const QString &bundle)
{
    return QFBundle::infoDictionaryOfBundle(bundle).value(QStringLiteral("CFBundleVersion")).toString();
}

// The leading digits of a part of a version ("3b2" is 3); none is 0.
qint64 versionNumber(const QString &part)
{
    qsizetype digits = 0;
    while (digits < part.size() && digits < 18 && part.at(digits).unicode() >= '0' && part.at(digits).unicode() <= '9')
        ++digits;
    return digits == 0 ? 0 : part.left(digits).toLongLong();
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

// Earlier private copies of this user: folders of the temporary folder that this user made for them
// (owned by the user, closed to everyone else). Nobody else's folder is touched, nor a link.
void removeEarlierCopies(const QString &temporary)
{
    const QStringList names = QDir(temporary).entryList(
        { QLatin1String(kPrivatePrefix) + u'*' }, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        const QString folder = temporary + u'/' + name;
        struct stat st;
        if (::lstat(QFile::encodeName(folder).constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()
            && (st.st_mode & 077) == 0)
            qfDiscardItem(folder);
    }
}

} // namespace

QFSoftwareUpdate::QFSoftwareUpdate(QObject *parent)
    : QObject(parent)
{
}

QString QFSoftwareUpdate::globalPreferencesPath()
{
    return QFLocalPaths::prefsDirectory(true) + QStringLiteral("/com.quenfield.global.plist");
}

bool QFSoftwareUpdate::checksAtStartup()
{
    const auto global = QFPropertyList::readDictionary(globalPreferencesPath());
    if (!global)
        return true;
    const QVariant value = global->value(QStringLiteral("SUCheckAtStartup"));
    if (value.metaType().id() == QMetaType::Bool)
        return value.toBool();
    // Switches are integers where 1 means on: 0 is as plain a NO as false.
    const std::optional<qint64> number = QFPropertyList::integerValue(value);
    return !(number && *number == 0);
}

bool QFSoftwareUpdate::setChecksAtStartup(bool on, QString *error)
{
    QDir().mkpath(QFileInfo(globalPreferencesPath()).absolutePath());
    return QFPropertyList::updateDictionary(
        globalPreferencesPath(),
        [on](QVariantMap &contents) {
            contents.insert(QStringLiteral("SUCheckAtStartup"), on);
            return QFPropertyList::Change::Write;
        },
        error);
}

int QFSoftwareUpdate::compareBundleVersions(const QString &a, const QString &b)
{
    const QStringList left = a.trimmed().split(u'.');
    const QStringList right = b.trimmed().split(u'.');
    for (qsizetype i = 0; i < std::max(left.size(), right.size()); ++i) {
        const qint64 x = versionNumber(left.value(i));
        const qint64 y = versionNumber(right.value(i));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

void QFSoftwareUpdate::startup(const std::function<void(std::function<void()>)> &detach)
{
    if (checksAtStartup())
        detach([] { automaticallyCheckForUpdates(updaterPath()); });
}

QString QFSoftwareUpdate::installedUpdaterPath()
{
    return QFLocalPaths::applicationDirectory(false) + QStringLiteral("/Quenfield/")
        + QString::fromLatin1(kUpdaterName);
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
    if (compareBundleVersions(bundleVersion(installed), bundleVersion(carried)) >= 0)
        return installed;
    // The carried updater runs from a copy in a folder made for it alone (0700, a fresh name): in the
    // shared temporary folder any other user could have put a bundle of theirs under a name known ahead.
    const QString temporary = QFLocalPaths::tempDirectory();
    removeEarlierCopies(temporary);
    QByteArray pattern = QFile::encodeName(temporary + u'/' + QLatin1String(kPrivatePrefix) + QStringLiteral("XXXXXX"));
    if (!::mkdtemp(pattern.data())) {
        QFLog::appendLog(
            "Unable to copy Software Update into %@: %@", temporary, QString::fromLocal8Bit(std::strerror(errno)));
        return {};
    }
    const QString folder = QFile::decodeName(pattern);
    const QString copy = folder + u'/' + QString::fromLatin1(kUpdaterName);
    if (!QFFileManager::copyFile(carried, copy, false) || bundleVersion(copy) != bundleVersion(carried)) {
        QFLog::appendLog("Unable to copy Software Update into %@.", folder);
        qfDiscardItem(folder);
        return {};
    }
    return copy;
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
