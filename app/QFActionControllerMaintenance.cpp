#include "app/QFActionController.h"

#include "app/QFActionControllerPrivate.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFFormat.h"
#include "foundation/platform/QFZip.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>
#include <QWidget>

using namespace QFActionControllerPrivate;

namespace {

const QString kMakerSite = QStringLiteral("https://www.quenfield.com");

enum class GatherResult { Gathered, NoLogs, Failed };

// The logs of both programs, their crash reports and preference files, zipped on the desktop.
GatherResult gatherLogArchive()
{
    const QStringList names = { QStringLiteral("Pro Tombrel"), QStringLiteral("ProTombrelHelper") };
    // Gathered in a folder only this user can enter, made afresh: never a name another user could have
    // taken first in the shared temporary folder.
    QTemporaryDir staging(QFLocalPaths::tempDirectory() + QStringLiteral("/Pro Tombrel Logs-XXXXXX"));
    if (!staging.isValid()) {
        QFLog::appendLog("Unable to gather logs: %@", staging.errorString());
        return GatherResult::Failed;
    }
    const QString work = staging.path() + QStringLiteral("/QF_App_Logs");
    if (!QDir().mkdir(work))
        return GatherResult::Failed;
    int gathered = 0;
    const auto take = [&](const QString &path) {
        const QFileInfo info(path);
        if (info.exists() && QFile::copy(info.canonicalFilePath(), work + u'/' + info.fileName()))
            ++gathered;
    };
    for (const bool user : { true, false }) {
        const QDir logs(QFLocalPaths::logDirectory(user) + QStringLiteral("/Quenfield"));
        for (const QString &file : logs.entryList(QDir::Files, QDir::Name)) {
            for (const QString &name : names) {
                if (file.startsWith(name) && file.endsWith(QLatin1String(".log")))
                    take(logs.filePath(file));
            }
        }
        for (const QString &folder : { QStringLiteral("DiagnosticReports"), QStringLiteral("CrashReporter") }) {
            const QDir reports(QFLocalPaths::logDirectory(user) + u'/' + folder);
            for (const QString &file : reports.entryList({ QStringLiteral("*.crash") }, QDir::Files, QDir::Name)) {
                for (const QString &name : names) {
                    if (file.startsWith(name + u'_'))
                        take(reports.filePath(file));
                }
            }
        }
    }
    for (const QString &name : names) {
        QString compact = name;
        compact.remove(u' ');
        for (const QString &variant : { compact, compact.toLower() })
            take(QFLocalPaths::prefsDirectory(true) + qfFormat("/com.quenfield.%@.plist", variant));
    }
    if (gathered == 0) {
        QDir(work).removeRecursively();
        return GatherResult::NoLogs;
    }
    QString archive = QFLocalPaths::desktopDirectory() + QStringLiteral("/Pro Tombrel Logs.zip");
    if (QFileInfo::exists(archive))
        archive = QFLocalPaths::desktopDirectory() + QStringLiteral("/Pro Tombrel Logs_")
            + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss")) + QStringLiteral(".zip");
    // Twice within a second: never over an archive made before.
    if (QFileInfo::exists(archive))
        archive = QFFileManager::uniqueFilename(archive);
    QDir().mkpath(QFLocalPaths::desktopDirectory());
    QString reason;
    const bool zipped = qfZipItem(work, archive, true, &reason);
    QDir(work).removeRecursively();
    if (!zipped) {
        QFLog::appendLog("Unable to gather logs: %@", reason);
        return GatherResult::Failed;
    }
    return GatherResult::Gathered;
}

} // namespace

// --- Maintenance --------------------------------------------------------------------------------------

void QFActionController::trashCaches()
{
    confirm(QStringLiteral("Are you sure you wish to trash caches?"), QStringLiteral("Trash"),
        QStringLiteral("Changelists will need to be regenerated for each project."), [this] {
            const QString caches
                = QFLocalPaths::appSupportDirectory(true) + QStringLiteral("/Quenfield/Pro Tombrel/Caches");
            if (!QFileInfo::exists(caches))
                return;
            // The Trash is written away from the window.
            QFFileManager::runAsync([caches] { return QFFileManager::trashFile(caches); }, this,
                [this](bool) { Q_EMIT commandFinished(QStringLiteral("trashCaches")); });
        });
}

void QFActionController::viewLog(const QString &programName)
{
    const QString log = QFLocalPaths::logDirectory(true) + qfFormat("/Quenfield/%@.1.log", programName);
    if (!QFileInfo::exists(log)) {
        tell(QStringLiteral("No log found"), QStringLiteral("You must perform a task before viewing the log."));
        return;
    }
    openWith(log, QStringLiteral("text/plain"));
}

void QFActionController::gatherLogs()
{
    if (isRunning(QStringLiteral("gatherLogs")))
        return;
    // Copying and compressing the logs is file work: away from the window.
    auto result = std::make_shared<GatherResult>(GatherResult::Failed);
    runCommand(
        QStringLiteral("gatherLogs"), QStringLiteral("Gathering logs..."), [result] { *result = gatherLogArchive(); },
        [this, result] {
            switch (*result) {
            case GatherResult::Gathered:
                tell(QStringLiteral("Logs gathered successfully"),
                    QStringLiteral("The gathered logs were placed on your desktop."));
                break;
            case GatherResult::NoLogs:
                tell(QStringLiteral("No logs found"), QStringLiteral("There were no logs available to gather."));
                break;
            case GatherResult::Failed:
                tell(QStringLiteral("Logs could not be gathered"),
                    QStringLiteral("Please check your file permissions."));
                break;
            }
            Q_EMIT commandFinished(QStringLiteral("gatherLogs"));
        });
}

void QFActionController::openManual()
{
    const QString manual = QFLocalPaths::libraryDirectory(false)
        + QStringLiteral("/Documentation/Quenfield/Pro Tombrel User Manual.pdf");
    if (QFileInfo::exists(manual))
        openWith(manual);
}

void QFActionController::openHelpPage(const QString &path, const QString &query)
{
    QUrl url(kMakerSite + path);
    if (!query.isEmpty())
        url.setQuery(query);
    QDesktopServices::openUrl(url);
}
