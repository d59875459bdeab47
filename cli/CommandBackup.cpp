// tombrel backup, scan, prune and versions: the backup engine from a terminal.

#include "cli/ProjectLookup.h"
#include "cli/TombrelCommand.h"

#include "engine/QFPreferenceSnapshot.h"
#include "engine/QFTombrelBackup.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFLog.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace {

QStringList visibleNames(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    names.erase(std::remove_if(names.begin(), names.end(), [](const QString &n) { return n.startsWith(u'.'); }), names.end());
    return names;
}

bool isCompanion(const QString &folder, const QString &name)
{
    const QFileInfo info(folder + u'/' + name);
    return info.suffix().compare(QLatin1String("xml"), Qt::CaseInsensitive) == 0
        && QFileInfo::exists(folder + u'/' + info.completeBaseName() + QStringLiteral(".fcp"));
}

} // namespace

int commandBackup(CommandContext &context, const QStringList &arguments)
{
    QString spec, uuid;
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
        } else if (spec.isEmpty()) {
            spec = arg;
        } else {
            return context.usageError(QStringLiteral("backup: one project at a time"));
        }
    }
    if (spec.isEmpty())
        return context.usageError(QStringLiteral("backup: which project? see tombrel backup --help"));
    QString error;
    const auto project = findProject(spec, &error);
    if (!project)
        return context.fail(error);
    if (!QFileInfo::exists(project->path))
        return context.fail(QStringLiteral("the project file %1 does not exist").arg(project->path));

    // The next number after the last version, as the application's back-up-now counts.
    const QString versions = versionsFolderOf(*project);
    const QStringList before = visibleNames(versions);
    qint64 number = 1;
    if (!before.isEmpty())
        number = QFTombrelBackup::versionNumberOfFile(before.last()).value_or(0) + 1;
    const QFPreferenceSnapshot prefs = QFPreferenceSnapshot::read();
    const bool launch = prefs.integer(QStringLiteral("generateFCPXML"), 0) == 1;

    QFLog::appendLog("Taking snapshot for project %@ uuid %@", project->path, uuidGiven ? uuid : project->selectedUUID);
    QFTombrelBackup engine;
    engine.backupProject(project->path, versions, number, uuidGiven ? uuid : project->selectedUUID, launch, true);
    engine.manageBackups();

    const QStringList after = visibleNames(versions);
    const QSet<QString> old(before.cbegin(), before.cend());
    QStringList made;
    for (const QString &name : after) {
        if (!old.contains(name) && !isCompanion(versions, name))
            made << name;
    }
    if (made.isEmpty())
        return context.fail(QStringLiteral("no version was made of %1; the log says why (tombrel paths)").arg(project->path));
    for (const QString &name : made)
        context.out << versions << '/' << name << "\n";
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
    engine.processProjectsInPath(arguments.isEmpty() ? QString() : QDir::cleanPath(QFileInfo(arguments.first()).absoluteFilePath()));
    context.out << "Scan finished.\n";
    context.out.flush();
    return 0;
}

int commandPrune(CommandContext &context, const QStringList &arguments)
{
    if (!arguments.isEmpty())
        return context.usageError(QStringLiteral("prune: takes no arguments"));
    QFTombrelBackup engine;
    engine.manageBackups();
    context.out << "Retention rules applied.\n";
    context.out.flush();
    return 0;
}

int commandVersions(CommandContext &context, const QStringList &arguments)
{
    QString spec;
    bool json = false;
    for (const QString &arg : arguments) {
        if (arg == QLatin1String("--json"))
            json = true;
        else if (arg.startsWith(QLatin1String("--")))
            return context.usageError(QStringLiteral("versions: unknown option '%1'").arg(arg));
        else if (spec.isEmpty())
            spec = arg;
        else
            return context.usageError(QStringLiteral("versions: one project at a time"));
    }
    if (spec.isEmpty())
        return context.usageError(QStringLiteral("versions: which project? see tombrel versions --help"));
    QString error;
    const auto project = findProject(spec, &error);
    if (!project)
        return context.fail(error);
    const QString versions = versionsFolderOf(*project);
    QStringList names = visibleNames(versions);
    std::reverse(names.begin(), names.end());

    QJsonArray list;
    for (const QString &name : std::as_const(names)) {
        if (isCompanion(versions, name))
            continue;
        const QString path = versions + u'/' + name;
        const QFileInfo info(path);
        const auto number = QFTombrelBackup::versionNumberOfFile(name);
        const quint64 size = QFFileManager::fileSize(path);
        const QString annotation = QFTombrelBackup::annotationForFile(path);
        if (json) {
            QJsonObject entry;
            entry.insert(QStringLiteral("file"), path);
            if (number)
                entry.insert(QStringLiteral("version"), qint64(*number));
            entry.insert(QStringLiteral("date"), info.lastModified().toUTC().toString(Qt::ISODate));
            entry.insert(QStringLiteral("size"), qint64(size));
            if (!annotation.isEmpty())
                entry.insert(QStringLiteral("annotation"), annotation);
            list.append(entry);
        } else {
            context.out << QStringLiteral("%1  %2  %3  %4\n")
                               .arg(number ? QString::number(*number) : QStringLiteral("-"), 6)
                               .arg(info.lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                               .arg(QFFileManager::formatFileSize(double(size)), 10)
                               .arg(annotation.isEmpty() ? name : name + QStringLiteral("  — ") + annotation);
        }
    }
    if (json)
        context.out << QJsonDocument(list).toJson(QJsonDocument::Indented);
    else if (names.isEmpty())
        context.out << "No versions yet.\n";
    context.out.flush();
    return 0;
}
