#include "foundation/QFBugReporter.h"

#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/QFTaskEx.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFCrashHandler.h"
#include "foundation/platform/QFPropertyList.h"
#include "foundation/platform/QFSystemLog.h"
#include "foundation/platform/QFUserDefaults.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <QMutex>
#include <QStandardPaths>
#include <QThread>
#include <QTimeZone>

#include <pwd.h>
#include <time.h>
#include <unistd.h>

namespace {

const QString kLaunch = QStringLiteral("launch");
const QString kExit = QStringLiteral("exit");

QMutex s_openerLock;
std::function<void(const QString &)> s_opener;

QString defaultAppName()
{
    QString name = QFBundle::objectForInfoKey(QStringLiteral("CFBundleName")).toString();
    if (name.isEmpty())
        name = QFBundle::executableName();
    return name;
}

std::optional<QDateTime> readDate(const QString &plistPath, const QString &key)
{
    QVariant value;
    if (plistPath.isEmpty())
        value = QFUserDefaults::standard().objectForKey(key);
    else
        value = QFPropertyList::readDictionary(plistPath).value_or(QVariantMap()).value(key);
    if (value.metaType().id() != QMetaType::QDateTime)
        return std::nullopt;
    return value.toDateTime();
}

// Files are stamped from the kernel's coarse clock, which lags the precise one by up to a tick, so a
// report written a moment after the launch could carry an earlier time than a precise launch stamp.
// Dates are taken from that same clock, a millisecond early: whatever is written after them is newer.
QDateTime fileClockNow()
{
    timespec now {};
    if (clock_gettime(CLOCK_REALTIME_COARSE, &now) != 0)
        return QDateTime::currentDateTimeUtc().addMSecs(-1);
    return QDateTime::fromMSecsSinceEpoch(qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000 - 1, QTimeZone::utc());
}

void storeDate(const QString &plistPath, const QString &key)
{
    const QDateTime now = fileClockNow();
    if (plistPath.isEmpty()) {
        QFUserDefaults::standard().setObject(key, now);
        return;
    }
    QDir().mkpath(QFileInfo(plistPath).absolutePath());
    QFPropertyList::updateDictionary(plistPath, [&](QVariantMap &settings) {
        settings.insert(key, now);
        return QFPropertyList::Change::Write;
    });
    QFBugReporter::chownPlist(plistPath);
}

void openReport(const QString &report)
{
    std::function<void(const QString &)> opener;
    {
        QMutexLocker lock(&s_openerLock);
        opener = s_opener;
    }
    if (opener) {
        opener(report);
        return;
    }
    const QString bugReporter = QFBundle::pathForResource(QStringLiteral("Bug Reporter"), QStringLiteral("app"));
    if (!bugReporter.isEmpty()) {
        const QString exe = bugReporter + QStringLiteral("/Contents/MacOS/Bug Reporter");
        if (QFTaskEx::startDetached(exe, { report }))
            return;
    }
    const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (!xdgOpen.isEmpty())
        QFTaskEx::startDetached(xdgOpen, { report });
}

} // namespace

QString QFBugReporter::reportFolder()
{
    const QString logs = QFLocalPaths::logDirectory(true);
    return logs.isEmpty() ? QString() : logs + QStringLiteral("/DiagnosticReports");
}

void QFBugReporter::setReportOpener(std::function<void(const QString &)> opener)
{
    QMutexLocker lock(&s_openerLock);
    s_opener = std::move(opener);
}

QString QFBugReporter::checkForCrashes(const QString &appName, const QString &plistPath)
{
    const auto launch = readDate(plistPath, kLaunch);
    if (!launch)
        return {};
    const auto exit = readDate(plistPath, kExit);
    if (exit && *exit >= *launch)
        return {};

    const QString name = appName.isEmpty() ? defaultAppName() : appName;
    const QStringList folders = { QFLocalPaths::logDirectory(true) + QStringLiteral("/CrashReporter"),
        QFLocalPaths::logDirectory(true) + QStringLiteral("/DiagnosticReports"),
        QFLocalPaths::logDirectory(false) + QStringLiteral("/CrashReporter"),
        QFLocalPaths::logDirectory(false) + QStringLiteral("/DiagnosticReports") };
    for (const QString &folder : folders) {
        QDir dir(folder);
        if (!dir.exists())
            continue;
        QStringList entries = dir.entryList(QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase);
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                          [&](const QString &e) { return !e.startsWith(name + u'_', Qt::CaseInsensitive); }),
            entries.end());
        if (entries.isEmpty())
            continue;
        const QString report = dir.filePath(entries.last());
        if (QFileInfo(report).lastModified() <= *launch)
            continue;

        QFLog::appendLog("Application crashed on last launch");
        if (QFLog::globalSwitch(QStringLiteral("disable-crash-reporter"))) {
            qfSystemLog(QStringLiteral("Crash reporter disabled"));
            QFLog::appendLog("Crash reporter disabled");
        } else {
            openReport(report);
        }
        return report;
    }
    return {};
}

void QFBugReporter::startBugReporter(const QString &appName, const QString &plistPath, Delegate *delegate)
{
    const QString report = checkForCrashes(appName, plistPath);
    if (!report.isEmpty() && delegate) {
        // Told at once on the main thread, before the program goes on to what the crash may change (its
        // caches, the helper's job); from another thread the answer is queued to the main one.
        QCoreApplication *app = QCoreApplication::instance();
        if (app && QThread::currentThread() != app->thread())
            QMetaObject::invokeMethod(
                app, [delegate, report] { delegate->applicationDidCrashWithLog(report); }, Qt::QueuedConnection);
        else
            delegate->applicationDidCrashWithLog(report);
    }
    storeDate(plistPath, kLaunch);
    qfInstallCrashHandler(reportFolder(), appName.isEmpty() ? defaultAppName() : appName);
}

void QFBugReporter::stopBugReporter(const QString &plistPath)
{
    storeDate(plistPath, kExit);
}

void QFBugReporter::chownPlist(const QString &path)
{
    if (geteuid() != 0)
        return;
    const QStringList parts = QDir::cleanPath(path).split(u'/', Qt::SkipEmptyParts);
    const int at = int(parts.indexOf(QStringLiteral("home")));
    if (at < 0 || at + 1 >= parts.size())
        return;
    const QByteArray user = parts[at + 1].toUtf8();
    struct passwd *pw = getpwnam(user.constData());
    if (!pw)
        return;
    if (::chown(QFile::encodeName(path).constData(), pw->pw_uid, pw->pw_gid) != 0)
        QFLog::appendLog("Unable to change the owner of %@", path);
}
