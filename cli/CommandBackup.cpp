// tombrel backup, scan, prune and versions: the backup engine from a terminal.

#include "cli/CommandSupport.h"
#include "cli/ProjectLookup.h"
#include "cli/Progress.h"
#include "cli/TombrelCommand.h"

#include "engine/QFChangeLines.h"
#include "engine/QFProjectActions.h"
#include "engine/QFTombrelBackup.h"
#include "engine/QFVersionsFolder.h"
#include "foundation/QFFileManager.h"
#include "foundation/platform/QFFileCopy.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// Why a backup made no version, in a terminal's words.
QString backupReason(const QFBackupResult &result)
{
    switch (result.outcome) {
    case QFBackupResult::Outcome::IdenticalToPrevious:
        return QStringLiteral("it was the same as the last version");
    case QFBackupResult::Outcome::Made:
        break;
    case QFBackupResult::Outcome::SkippedByRule:
    case QFBackupResult::Outcome::SourceMissing:
    case QFBackupResult::Outcome::Failed:
        if (!result.reason.isEmpty())
            return result.reason;
        break;
    }
    return QStringLiteral("the log says why (tombrel paths)");
}

} // namespace

int commandBackup(CommandContext &context, const QStringList &arguments)
{
    QString projectName, uuid;
    bool uuidGiven = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        if (arg == QLatin1String("--uuid")) {
            if (i + 1 >= arguments.size())
                return context.usageError(QStringLiteral("backup: --uuid needs a sequence UUID"));
            uuid = arguments[++i];
            uuidGiven = true;
        } else if (arg.startsWith(QLatin1String("--"))) {
            return context.usageError(QStringLiteral("backup: unknown option '%1'").arg(arg));
        } else if (projectName.isEmpty()) {
            projectName = arg;
        } else {
            return context.usageError(QStringLiteral("backup: one project at a time"));
        }
    }
    if (projectName.isEmpty())
        return context.usageError(QStringLiteral("backup: which project? see tombrel backup --help"));
    QString error;
    const auto project = findProject(projectName, &error);
    if (!project)
        return context.fail(error);
    if (!QFileInfo::exists(project->path))
        return context.fail(QStringLiteral("the project file %1 does not exist").arg(project->path));

    // The application's back up now, with the next number after the last version.
    QFTombrelBackup engine;
    const QFBackupResult result
        = engine.backUpNow(project->path, versionsFolderOf(*project), uuidGiven ? uuid : project->selectedUUID);
    if (!result.made())
        return context.fail(QStringLiteral("no version was made of %1: %2").arg(project->path, backupReason(result)));
    context.out << result.version << "\n";
    context.out.flush();
    return 0;
}

int commandScan(CommandContext &context, const QStringList &arguments)
{
    if (arguments.size() > 1)
        return context.usageError(QStringLiteral("scan: at most one path prefix"));
    if (!arguments.isEmpty() && arguments.first().startsWith(QLatin1String("--")))
        return context.usageError(QStringLiteral("scan: unknown option '%1'").arg(arguments.first()));
    QFTombrelBackup engine;
    const QList<QFBackupResult> results = engine.processProjectsInPath(
        arguments.isEmpty() ? QString() : QDir::cleanPath(QFileInfo(arguments.first()).absoluteFilePath()));
    context.out << "Scan finished.\n";
    context.out.flush();
    int status = 0;
    for (const QFBackupResult &result : results) {
        if (result.failed())
            status
                = context.fail(QStringLiteral("scan: the backup of %1 failed: %2").arg(result.project, result.reason));
    }
    return status;
}

int commandPrune(CommandContext &context, const QStringList &arguments)
{
    if (!arguments.isEmpty())
        return context.usageError(QStringLiteral("prune: takes no arguments"));
    QFTombrelBackup engine;
    if (!engine.manageBackups())
        return context.fail(QStringLiteral("prune: the preference file %1 cannot be read; no version was removed")
                                .arg(QFProject::preferenceFilePath()));
    context.out << "Retention rules applied.\n";
    context.out.flush();
    return 0;
}

namespace {

// Draws the refresh of a project's change lists when it lasts.
class ProgressDelegate final : public QFChangelistDelegate {
public:
    explicit ProgressDelegate(QTextStream &stream)
        : m_stream(stream)
    {
    }
    void versionsToBeLoaded(int count) override
    {
        m_progress = std::make_unique<Progress>(m_stream, QStringLiteral("Comparing versions"), count);
    }
    void changeLogReady(const QFVersionEntry &) override
    {
        if (m_progress)
            m_progress->setDone(++m_done);
    }
    void loadingFinished() override
    {
        if (m_progress)
            m_progress->finish();
    }

private:
    QTextStream &m_stream;
    std::unique_ptr<Progress> m_progress;
    qint64 m_done = 0;
};

struct VersionRow {
    QString name; // the version file
    QFVersionEntry entry;
};

// The versions of a project, newest first, each with its entry from the change-list cache (an XML
// companion's entry stands for its version file).
std::optional<QList<VersionRow>> versionRows(CommandContext &context, const QFProjectListEntry &project)
{
    const QString versions = versionsFolderOf(project);
    const QString projectFolder = QFileInfo(versions).absolutePath();
    QFTombrelBackup engine;
    ProgressDelegate progress(context.err);
    const auto cache = engine.cacheForProject(projectFolder, &progress);
    QList<QFVersionsFolderEntry> versionsFound = QFVersionsFolder::versions(versions);
    std::reverse(versionsFound.begin(), versionsFound.end());
    QList<VersionRow> rows;
    for (const QFVersionsFolderEntry &version : std::as_const(versionsFound)) {
        const QString &name = version.name;
        const QString path = versions + u'/' + name;
        std::optional<QFVersionEntry> entry;
        if (cache && cache->contains(version.listedName()))
            entry = QFVersionEntry::fromDictionary(cache->value(version.listedName()));
        if (!entry && cache)
            entry = QFVersionEntry::fromDictionary(cache->value(name));
        if (!entry) {
            // Not in the cache (it could not be computed): show what the file itself tells.
            QFVersionEntry plain;
            plain.file = path;
            plain.version = QFTombrelBackup::padNumber(version.number.value_or(0));
            plain.date = QFileInfo(path).lastModified();
            plain.size = QFFileManager::formatFileSize(double(QFFileManager::fileSize(path)));
            plain.annotation = QFTombrelBackup::annotationForFile(path);
            entry = plain;
        }
        rows << VersionRow { name, *entry };
    }
    return rows;
}

QJsonObject jsonOf(const QFVersionEntry &entry)
{
    QJsonObject object;
    object.insert(QStringLiteral("file"), entry.file);
    if (!entry.version.isEmpty())
        object.insert(QStringLiteral("version"), entry.version);
    if (entry.date.isValid())
        object.insert(QStringLiteral("date"), entry.date.toUTC().toString(Qt::ISODate));
    if (!entry.size.isEmpty())
        object.insert(QStringLiteral("size"), entry.size);
    object.insert(QStringLiteral("changelist"), QJsonArray::fromStringList(entry.changelist));
    if (!entry.annotation.isEmpty())
        object.insert(QStringLiteral("annotation"), entry.annotation);
    if (!entry.type.isEmpty())
        object.insert(QStringLiteral("type"), entry.type);
    if (!entry.host.isEmpty())
        object.insert(QStringLiteral("host"), entry.host);
    if (entry.noProcess)
        object.insert(QStringLiteral("noProcess"), true);
    return object;
}

} // namespace

int commandVersions(CommandContext &context, const QStringList &arguments)
{
    QString projectName;
    bool json = false;
    for (const QString &arg : arguments) {
        if (arg == QLatin1String("--json"))
            json = true;
        else if (arg.startsWith(QLatin1String("--")))
            return context.usageError(QStringLiteral("versions: unknown option '%1'").arg(arg));
        else if (projectName.isEmpty())
            projectName = arg;
        else
            return context.usageError(QStringLiteral("versions: one project at a time"));
    }
    if (projectName.isEmpty())
        return context.usageError(QStringLiteral("versions: which project? see tombrel versions --help"));
    QString error;
    const auto project = findProject(projectName, &error);
    if (!project)
        return context.fail(error);
    const auto rows = versionRows(context, *project);

    QJsonArray list;
    for (const VersionRow &row : *rows) {
        const QFVersionEntry &entry = row.entry;
        if (json) {
            list.append(jsonOf(entry));
            continue;
        }
        const auto number = QFProjectActions::versionNumber(row.name);
        context.out << QStringLiteral("%1  %2  %3  %4\n")
                           .arg(number ? QString::number(*number) : QStringLiteral("-"), 6)
                           .arg(entry.date.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                           .arg(entry.size, 10)
                           .arg(row.name);
        if (!entry.annotation.isEmpty())
            context.out << "        note: " << entry.annotation << "\n";
        for (const QString &line : entry.changelist)
            context.out << "        " << line << "\n";
    }
    if (json)
        context.out << QJsonDocument(list).toJson(QJsonDocument::Indented);
    else if (rows->isEmpty())
        context.out << "No versions yet.\n";
    context.out.flush();
    return 0;
}

int commandReport(CommandContext &context, const QStringList &arguments)
{
    const auto args = parseArguments(
        context, QStringLiteral("report"), arguments, {}, { QStringLiteral("--html"), QStringLiteral("--pdf") });
    if (!args)
        return 2;
    if (args->positional.size() != 1)
        return context.usageError(QStringLiteral("report: give one project; see tombrel report --help"));
    if (args->values.contains(QStringLiteral("--html")) && args->values.contains(QStringLiteral("--pdf")))
        return context.usageError(QStringLiteral("report: --html or --pdf, not both"));
    QString error;
    const auto project = findProject(args->positional.first(), &error);
    if (!project)
        return context.fail(error);
    const auto rows = versionRows(context, *project);
    QList<QFVersionEntry> entries;
    for (const VersionRow &row : *rows)
        entries << row.entry;
    const QString name
        = QFProject::recordWithPath(project->path, project->sequences, project->projectID).friendlyName();
    // The same report the application prints.
    const QString html = QFChangeLines::reportHTML(name, entries, true, QFChangeLines::imageFolder());
    const QString title = QFChangeLines::reportJobTitle(project->path);

    if (args->values.contains(QStringLiteral("--pdf"))) {
        const QString path = args->values.value(QStringLiteral("--pdf"));
        if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
            return context.fail(QStringLiteral("report: PDF files are written by the tombrel program itself"));
        if (!QFChangeLines::writeReportPDF(html, title, path, &error))
            return context.fail(QStringLiteral("report: cannot write %1: %2").arg(path, error));
        context.out << path << "\n";
    } else if (args->values.contains(QStringLiteral("--html"))) {
        const QString path = args->values.value(QStringLiteral("--html"));
        if (!qfWriteFileAtomically(path, html.toUtf8(), &error))
            return context.fail(QStringLiteral("report: cannot write %1: %2").arg(path, error));
        context.out << path << "\n";
    } else {
        context.out << html << "\n";
    }
    context.out.flush();
    return 0;
}

int commandChanges(CommandContext &context, const QStringList &arguments)
{
    if (arguments.size() != 2)
        return context.usageError(QStringLiteral("changes: give a project and a version number"));
    QString error;
    const auto project = findProject(arguments.first(), &error);
    if (!project)
        return context.fail(error);
    // Versions are named as every other command names them.
    const auto version = QFProjectActions::findVersion(versionsFolderOf(*project), arguments.at(1), &error);
    if (!version)
        return context.fail(QStringLiteral("changes: %1").arg(error));
    const QString wanted = QFileInfo(*version).fileName();
    const auto rows = versionRows(context, *project);
    for (const VersionRow &row : *rows) {
        if (row.name != wanted)
            continue;
        for (const QString &line : row.entry.changelist)
            context.out << line << "\n";
        context.out.flush();
        return 0;
    }
    return context.fail(QStringLiteral("changes: %1 has no version %2").arg(arguments.first(), arguments.at(1)));
}

int commandCache(CommandContext &context, const QStringList &arguments)
{
    if (arguments != QStringList { QStringLiteral("clear") })
        return context.usageError(QStringLiteral("cache: the only action is 'clear'"));
    QFTombrelBackup().invalidateAllCaches();
    context.out << "Change-list caches removed; they are computed again when needed.\n";
    context.out.flush();
    return 0;
}
