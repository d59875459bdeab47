// Retention: thinning the versions of every project by the user's rules, and removing one version with
// its companions and its place in the change-list cache.

#include "engine/QFTombrelBackup.h"

#include "engine/QFDropboxSync.h"

#include "engine/QFPreferenceSnapshot.h"
#include "engine/QFProject.h"
#include "engine/QFVersionsFolder.h"
#include "foundation/QFAppRequest.h"
#include "foundation/QFClock.h"
#include "foundation/QFFileManager.h"
#include "foundation/platform/QFProgramRole.h"
#include "foundation/platform/QFFileLock.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFPropertyList.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <map>
#include <set>

namespace {

struct RetentionSettings {
    qint64 manage, minLimitSet, minLimit, currentDayCount, currentLimitSet, currentLimit, deleteSet, deleteCount,
        oldType, oldCount, oldLimitSet, oldLimit, removalType;
    bool syncRemovals;
    bool keepAnnotated;

    // Day counts beyond this are no setting a person means; the bound keeps their seconds far from overflow.
    static constexpr qint64 kMaximumDays = 36500;

    static RetentionSettings read() { return from(QFPreferenceSnapshot::read()); }

    static RetentionSettings from(const QFPreferenceSnapshot &p)
    {
        RetentionSettings s;
        s.manage = p.intValue(QStringLiteral("manageBackups"));
        s.minLimitSet = p.intValue(QStringLiteral("backupManagementMinLimitSet"));
        s.minLimit = p.intValue(QStringLiteral("backupManagementMinLimit"));
        s.currentDayCount = std::clamp<qint64>(p.intValue(QStringLiteral("currentDayCount")), 0, kMaximumDays);
        s.currentLimitSet = p.intValue(QStringLiteral("currentBackupLimitSet"));
        s.currentLimit = p.intValue(QStringLiteral("currentBackupLimit"));
        s.deleteSet = p.intValue(QStringLiteral("deleteBackupSet"));
        s.deleteCount = std::clamp<qint64>(p.intValue(QStringLiteral("deleteBackupCount")), 0, kMaximumDays);
        s.oldType = p.intValue(QStringLiteral("oldBackupType"));
        s.oldCount = std::max<qint64>(1, p.intValue(QStringLiteral("oldBackupCount")));
        s.oldLimitSet = p.intValue(QStringLiteral("oldBackupLimitSet"));
        s.oldLimit = p.intValue(QStringLiteral("oldBackupLimit"));
        s.removalType = p.intValue(QStringLiteral("removalType"));
        s.keepAnnotated = p.intValue(QStringLiteral("keepAnnotatedVersions")) == 1;
        s.syncRemovals = QFDropboxSync::serviceOf(p) != QFDropboxSync::Service::None
            && p.intValue(QStringLiteral("syncDeleteRemoteFiles")) == 1;
        return s;
    }
};

// Weeks as the calendar of the desktop counts them: starting on Sunday, week 1 holding January 1st.
int weekOfYear(const QDate &date)
{
    const QDate first(date.year(), 1, 1);
    const int firstWeekday = first.dayOfWeek() % 7; // Sunday 0 … Saturday 6
    return (date.dayOfYear() - 1 + firstWeekday) / 7 + 1;
}

QString periodKey(const QDateTime &date, qint64 type)
{
    const QDate day = date.toLocalTime().date();
    if (type == 2)
        return day.toString(QStringLiteral("yyyy-MM"));
    if (type == 1)
        return day.toString(QStringLiteral("yyyy-")) + qfFormat("%li", long(weekOfYear(day)));
    return day.toString(QStringLiteral("yyyy-MM-dd"));
}

bool hasExtension(const QString &path, const char *extension)
{
    return QFileInfo(path).suffix().compare(QLatin1String(extension), Qt::CaseInsensitive) == 0;
}

QString withExtension(const QString &path, const QString &extension)
{
    const QFileInfo info(path);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString stem = dot > 0 ? name.left(dot) : name;
    return info.absolutePath() + u'/' + stem + u'.' + extension;
}

QString stemOf(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.left(dot) : name;
}

} // namespace

std::set<qint64> QFTombrelBackup::indexesToKeep(qint64 n, qint64 k)
{
    std::set<qint64> keep;
    if (n <= 0)
        return keep;
    if (k <= 1) {
        keep.insert(0);
        return keep;
    }
    if (k == 2) {
        keep.insert(0);
        keep.insert(n - 1);
        return keep;
    }
    keep.insert((n + 1) / 2);
    qint64 y = n, s = 0, i = 0;
    do {
        keep.insert(y + s - 1);
        if (i < k - 2 || k % 2 == 1)
            keep.insert(s);
        const qint64 step = y / 4;
        s += step;
        y -= 2 * step;
        i += 2;
    } while (i < k - 1);
    return keep;
}

bool QFTombrelBackup::manageBackups()
{
    // Defaults in place of rules the user set would remove versions those rules keep.
    const QFPreferenceSnapshot prefs = QFPreferenceSnapshot::read();
    if (!prefs.isReadable()) {
        QFLog::appendLog(
            "Backup management skipped: the preference file %@ cannot be read.", QFProject::preferenceFilePath());
        return false;
    }
    const RetentionSettings settings = RetentionSettings::from(prefs);
    if (settings.manage != 1)
        return true;
    QFLog::appendLog("Starting backup management");
    QStringList removed;
    const QString root = QFProject::storageRoot();
    const qint64 now = QFClock::msecsSinceEpoch();
    // Whole seconds between two dates, truncated; 0 when either date is unknown.
    const auto secondsBetween = [](std::optional<qint64> from, std::optional<qint64> to) -> qint64 {
        return from && to ? (*to - *from) / 1000 : 0;
    };
    // The names of the project's versions that carry a note, when such versions are kept.
    QSet<QString> annotated;
    // Only versions that are gone have their synced copies removed.
    const auto remove = [&](const QString &path) {
        if (settings.keepAnnotated) {
            // A note belongs to a version and to its XML copy alike.
            const QString stem = stemOf(QFileInfo(path).fileName());
            if (annotated.contains(stem))
                return;
        }
        if (removeBackup(path, settings.removalType, false))
            removed << path;
    };

    const QStringList folders = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &folder : folders) {
        const QString versions = root + qfFormat("/%@/Versions", folder);
        if (!QFileInfo(versions).isDir())
            continue;
        const QStringList names = versionEntries(versions);
        if (settings.minLimitSet == 1 && names.size() <= settings.minLimit)
            continue;
        if (names.isEmpty())
            continue;
        annotated.clear();
        if (settings.keepAnnotated) {
            if (const auto notes = QFPropertyList::readDictionary(root + qfFormat("/%@/Annotations.plist", folder))) {
                for (auto note = notes->cbegin(); note != notes->cend(); ++note) {
                    if (note.value().metaType().id() == QMetaType::QString && !note.value().toString().isEmpty())
                        annotated.insert(stemOf(note.key()));
                }
            }
        }
        const std::optional<qint64> newest = modificationTime(versions + u'/' + names.last());

        QStringList current;
        std::map<QString, QStringList> periods;
        for (const QString &name : std::as_const(names)) {
            const QString path = versions + u'/' + name;
            if (isXMLCompanion(versions, name))
                continue;
            const std::optional<qint64> date = modificationTime(path);
            if (!date && !QFileInfo(path).isSymLink())
                continue; // went with a companion removed before it
            if (secondsBetween(date, newest) <= settings.currentDayCount * 86400) {
                current << path;
            } else if (settings.deleteSet == 1 && secondsBetween(date, now) > settings.deleteCount * 86400) {
                remove(path);
            } else {
                periods[periodKey(date ? QDateTime::fromMSecsSinceEpoch(*date) : QDateTime(), settings.oldType)]
                    << path;
            }
        }

        if (settings.currentLimitSet == 1 && current.size() > settings.currentLimit) {
            const qsizetype excess = current.size() - settings.currentLimit;
            for (qsizetype i = 0; i < excess; ++i)
                remove(current.at(i));
        }

        qint64 olderTotal = 0;
        for (auto &[key, entries] : periods) {
            const qint64 n = entries.size();
            if (n > settings.oldCount) {
                const std::set<qint64> keep = indexesToKeep(n, settings.oldCount);
                for (qint64 i = n - 1; i >= 0; --i) {
                    if (keep.count(i))
                        continue;
                    remove(entries.at(i));
                    entries.removeAt(i);
                }
            }
            olderTotal += entries.size();
        }

        if (settings.oldLimitSet == 1 && olderTotal > settings.oldLimit) {
            qint64 excess = olderTotal - settings.oldLimit;
            for (auto &[key, entries] : periods) {
                for (const QString &path : std::as_const(entries)) {
                    if (excess <= 0)
                        break;
                    remove(path);
                    --excess;
                }
                if (excess <= 0)
                    break;
            }
        }
    }
    if (!removed.isEmpty() && settings.syncRemovals)
        removeSyncedFiles(removed);
    return true;
}

bool QFTombrelBackup::removeBackup(const QString &path, qint64 removeType, bool removeSynced)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return false;
    QFLog::appendLog("Removing backup %@...", path);
    const QString versions = info.absolutePath();
    const QString projectFolder = QFileInfo(versions).absolutePath();
    const QString name = info.fileName();

    const auto discard = [removeType](const QString &target, bool first) {
        bool done;
        if (removeType == 1) {
            if (first)
                QFLog::appendLog("Deleting file %@...", target);
            else
                QFLog::appendLog("Deleting %@...", target);
            done = QFFileManager::removeFile(target, 10);
        } else {
            QFLog::appendLog("Sending %@ to trash...", target);
            done = QFFileManager::trashFile(target, 10);
        }
        if (!done)
            QFLog::appendLog("Unable to remove %@; it stays where it is.", target);
        return done;
    };
    // A version that stays keeps its place in the cache, its note and its synced copy.
    if (!discard(path, true))
        return false;

    QStringList companions;
    if (hasExtension(path, "xml"))
        companions << withExtension(path, QStringLiteral("fcp"));
    else if (hasExtension(path, "fcp"))
        companions << withExtension(path, QStringLiteral("xml"));

    // Keep the cache telling, for the next version, what changed since the one before the removed one.
    const QString cachePath = cacheFileForProject(projectFolder);
    {
        const QFFileLock lock(cachePath);
        if (auto cache = QFPropertyList::readDictionary(cachePath); cache && cache->contains(name)) {
            const QVariant version = cache->take(QStringLiteral("version"));
            const QVariantMap entry = cache->value(name).toMap();
            if (entry.value(QStringLiteral("type")).toString() == QLatin1String("xml")) {
                // The version after the removed one, in the order the versions were made.
                QStringList keys = cache->keys();
                std::sort(keys.begin(), keys.end(), QFVersionsFolder::lessThan);
                const qsizetype u = keys.indexOf(name);
                if (u == 0 && keys.size() > 1) {
                    QVariantMap next = cache->value(keys.at(1)).toMap();
                    next.insert(QStringLiteral("changelist"), QVariantList { QStringLiteral("(Base version)") });
                    cache->insert(keys.at(1), next);
                } else if (u > 0 && u + 1 < keys.size()) {
                    const QVariantList lines = entry.value(QStringLiteral("changelist")).toList();
                    const bool carry = !lines.isEmpty() && lines.first().metaType().id() == QMetaType::QString
                        && lines.first().toString() != QLatin1String("No change")
                        && lines.first().toString() != QLatin1String("No notable changes");
                    if (carry) {
                        QVariantMap next = cache->value(keys.at(u + 1)).toMap();
                        QVariantList merged = next.value(QStringLiteral("changelist")).toList();
                        merged += lines;
                        next.insert(QStringLiteral("changelist"), merged);
                        cache->insert(keys.at(u + 1), next);
                    }
                }
            }
            cache->remove(name);
            if (version.isValid())
                cache->insert(QStringLiteral("version"), version);
            QString reason;
            if (!QFPropertyList::write(cachePath, *cache, &reason))
                QFLog::appendLog("Unable to write the change-list cache %@: %@", cachePath, reason);
        }
    }

    // The note goes with its version: the next backup may take the number and must not show it.
    QStringList noted { name };
    for (const QString &companion : std::as_const(companions))
        noted << QFileInfo(companion).fileName();
    removeNotes(projectFolder, noted);

    companions << projectFolder + qfFormat("/Screenshots/%@.jpg", stemOf(name));
    for (const QString &companion : std::as_const(companions)) {
        if (QFileInfo::exists(companion) || QFileInfo(companion).isSymLink())
            discard(companion, false);
    }
    QFFileManager::removeFolderIfEmpty(versions);

    if (removeSynced) {
        const RetentionSettings settings = RetentionSettings::read();
        if (settings.syncRemovals)
            removeSyncedFiles({ path });
    }
    return true;
}

bool QFTombrelBackup::syncRemovalsOn()
{
    return RetentionSettings::read().syncRemovals;
}

bool QFTombrelBackup::removeNotes(const QString &projectFolder, const QStringList &names)
{
    const QString notesPath = projectFolder + QStringLiteral("/Annotations.plist");
    if (!QFileInfo::exists(notesPath))
        return true;
    QString reason;
    const bool updated = QFPropertyList::updateDictionary(
        notesPath,
        [&](QVariantMap &notes) {
            qsizetype removed = 0;
            for (const QString &key : names)
                removed += notes.remove(key);
            if (removed == 0)
                return QFPropertyList::Change::Keep;
            return notes.isEmpty() ? QFPropertyList::Change::Remove : QFPropertyList::Change::Write;
        },
        &reason);
    if (!updated)
        QFLog::appendLog("Unable to remove notes from %@: %@", notesPath, reason);
    return updated;
}

bool QFTombrelBackup::removeEmptyFolder(const QString &path)
{
    const QStringList entries
        = QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    if (entries.isEmpty() || (entries.size() == 1 && entries.first().startsWith(u'.')))
        return QFFileManager::removeFile(path, false);
    return false;
}

void QFTombrelBackup::removeSyncedFiles(const QStringList &paths)
{
    QFLog::appendLog("Removing files from Dropbox: %@", QStringLiteral("(") + paths.join(QStringLiteral(", ")) + u')');
    if (!QFDropboxSync::isSyncOn())
        return;
    // Only the application holds the cloud account; other programs hand the list to it.
    if (!QFProgram::isApplication()) {
        QFAppRequest::requestRemoveRemote(paths);
        return;
    }
    QFDropboxSync::shared()->deleteRemoteCopies(paths);
}

void QFTombrelBackup::removeSyncedProjects(const QStringList &projectFolders)
{
    QFLog::appendLog(
        "Removing projects from Dropbox: %@", QStringLiteral("(") + projectFolders.join(QStringLiteral(", ")) + u')');
    if (!QFDropboxSync::isSyncOn())
        return;
    // Only the application holds the cloud account; other programs hand the list to it.
    if (!QFProgram::isApplication()) {
        QFAppRequest::requestRemoveRemote(projectFolders);
        return;
    }
    QStringList remote;
    for (const QString &folder : projectFolders)
        remote.append(QFDropboxSync::remotePathForProject(folder));
    QFDropboxSync::shared()->deleteRemotePaths(remote);
}
