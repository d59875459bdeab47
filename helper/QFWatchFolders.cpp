#include "helper/QFWatchFolders.h"

#include "engine/QFPreferenceSnapshot.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/platform/QFFormat.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

QString quoted(const QString &text)
{
    QString escaped = text;
    escaped.replace(u'\\', QLatin1String("\\\\")).replace(u'"', QLatin1String("\\\""));
    return u'"' + escaped + u'"';
}

QString joinedPath(const QString &volume, const QString &relative)
{
    return QDir::cleanPath(volume + u'/' + relative);
}

} // namespace

QStringList QFWatchFolderEntry::types() const
{
    QStringList out;
    for (const QString &item : extensions.split(u',')) {
        const QString type = item.trimmed().toLower();
        if (!type.isEmpty())
            out << type;
    }
    return out;
}

QVariantMap QFWatchFolderEntry::toDictionary() const
{
    return { { QStringLiteral("folder"), folder }, { QStringLiteral("extensions"), extensions } };
}

QList<QFWatchFolderEntry> QFWatchFolderEntry::listFromPreference(const QVariant &value)
{
    QList<QFWatchFolderEntry> entries;
    if (value.metaType().id() != QMetaType::QVariantList)
        return entries;
    for (const QVariant &item : value.toList()) {
        if (item.metaType().id() != QMetaType::QVariantMap)
            continue;
        const QVariantMap map = item.toMap();
        const QVariant folder = map.value(QStringLiteral("folder"));
        if (folder.metaType().id() != QMetaType::QString)
            continue;
        const QVariant extensions = map.value(QStringLiteral("extensions"));
        entries << QFWatchFolderEntry { QFLocalPaths::expandTilde(folder.toString()),
            extensions.metaType().id() == QMetaType::QString ? extensions.toString() : QString() };
    }
    return entries;
}

namespace QFWatchFolders {

QString describe(const QList<QFWatchFolderEntry> &entries)
{
    QStringList parts;
    for (const QFWatchFolderEntry &entry : entries)
        parts << qfFormat("{extensions = %@; folder = %@;}", quoted(entry.extensions), quoted(entry.folder));
    return u'(' + parts.join(QLatin1String(", ")) + u')';
}

QString describe(const QStringList &paths)
{
    QStringList parts;
    for (const QString &path : paths)
        parts << quoted(path);
    return u'(' + parts.join(QLatin1String(", ")) + u')';
}

qint64 backupInterval(const QFPreferenceSnapshot &prefs)
{
    constexpr qint64 kDefault = 630;
    // The window's defaults: off until switched on, then 15 minutes until another interval is chosen.
    if (prefs.intValue(QStringLiteral("backupMinIntervalEnabled")) != 1)
        return kDefault;
    const qint64 minutes = prefs.intValue(QStringLiteral("backupMinInterval"));
    // Beyond a year the timer would overflow; such a setting is no interval a person means.
    if (minutes >= 1 && minutes <= 525600)
        return minutes * 60 + 30;
    return kDefault;
}

bool arrayContainsParentFolderForPath(const QStringList &array, const QString &path)
{
    for (const QString &parent : array) {
        if (path.startsWith(parent))
            return true;
    }
    return false;
}

QStringList watchPaths(const QList<QFWatchFolderEntry> &watchFolders, const QList<QFProjectListEntry> &projects)
{
    QStringList paths;
    for (const QFWatchFolderEntry &entry : watchFolders) {
        const QString last = QFileInfo(entry.folder).fileName().toLower();
        if (last == QLatin1String("final cut projects") || last == QLatin1String("final cut events"))
            continue;
        if (!entry.folder.isEmpty() && !paths.contains(entry.folder))
            paths << entry.folder;
    }
    for (const QFProjectListEntry &project : projects) {
        const QString path = QFLocalPaths::expandTilde(project.path);
        const QString ext = QFileInfo(path).suffix().toLower();
        if (ext == QLatin1String("fcpproject") || ext == QLatin1String("fcpevent"))
            continue;
        const QString folder = QFileInfo(path).absolutePath();
        if (paths.contains(folder) || arrayContainsParentFolderForPath(paths, folder))
            continue;
        paths << folder;
    }
    return paths;
}

QList<QFWatchFolderEntry> foldersToSearch(const QString &path, const QList<QFWatchFolderEntry> &watchFolders,
    const QList<QFWatchFolderEntry> &driveFolders, const QStringList &volumes)
{
    QList<QFWatchFolderEntry> chosen;
    for (const QFWatchFolderEntry &entry : watchFolders) {
        if (path.isNull() || path.startsWith(entry.folder))
            chosen << entry;
    }
    for (const QString &volume : volumes) {
        for (const QFWatchFolderEntry &entry : driveFolders) {
            if (entry.folder.isEmpty())
                continue;
            const QFWatchFolderEntry onVolume { joinedPath(volume, entry.folder), entry.extensions };
            if (path.isNull() || path.startsWith(onVolume.folder))
                chosen << onVolume;
        }
    }
    return chosen;
}

bool isSuppressedByRestore(const QString &eventPath, const QString &lastRestoredProject,
    const QDateTime &lastRestoreDate, const QDateTime &now)
{
    if (lastRestoredProject.isEmpty() || !lastRestoreDate.isValid() || !lastRestoredProject.startsWith(eventPath))
        return false;
    // A restore date in the future (a clock set back) must not silence the folder for good.
    const qint64 age = lastRestoreDate.msecsTo(now);
    return age >= 0 && age < 20000;
}

bool isProjectCandidate(
    const QString &folderName, const QString &entryName, const QString &ext, const QStringList &types)
{
    if (ext.isEmpty() || !types.contains(ext))
        return false;
    if ((types.contains(QLatin1String("fcpproject")) || types.contains(QLatin1String("fcpevent")))
        && (folderName == QLatin1String("Backups") || folderName == QLatin1String("Old Versions")))
        return false;
    if (types.contains(QLatin1String("prproj"))) {
        if (folderName == QLatin1String("Adobe Premiere Pro Auto-Save"))
            return false;
        // Matched against the whole name: "*" any run of characters, "?" exactly one. The pieces keep
        // "??-" from reading as a trigraph.
        static const QRegularExpression autoSave(
            QRegularExpression::wildcardToRegularExpression(QStringLiteral("*~????????"
                                                                           "-????"
                                                                           "-????"
                                                                           "-????"
                                                                           "-???????????")));
        if (autoSave.match(entryName).hasMatch())
            return false;
    }
    return ext != QLatin1String("app");
}

} // namespace QFWatchFolders
