#include "engine/QFProjectStore.h"

#include "engine/QFPreferenceKeys.h"
#include "engine/QFPreferenceSnapshot.h"
#include "engine/QFWatchFolderSettings.h"
#include "foundation/QFAppleEvents.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFPropertyList.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

QList<QFProject> QFProjectStore::projects(Logging logging)
{
    QList<QFProject> projects;
    for (const QFProjectListEntry &entry : QFProject::projectsInStorageRoot(logging == Logging::Logged)) {
        QFProject project = QFProject::recordWithPath(entry.path, entry.sequences, entry.projectID);
        // The record starts without a chosen sequence; the file's choice stands.
        project.setSelectedUUID(entry.selectedUUID);
        projects << project;
    }
    std::sort(projects.begin(), projects.end(), QFProject::nameLessThan);
    return projects;
}

bool QFProjectStore::isFirstRun()
{
    const QFPreferenceSnapshot prefs = QFPreferenceSnapshot::read();
    return prefs.boolValue(QStringLiteral("firstRun"));
}

bool QFProjectStore::applyFirstRunSettings(QString *error)
{
    const bool editorInstalled = QFAppleEvents::isFinalCutInstalled();
    // One change of the file, so that nothing written meanwhile is lost.
    return QFPreferenceKeys::modify(
        [&](QVariantMap &contents, QString *) {
            if (editorInstalled) {
                if (!contents.contains(QStringLiteral("backupMinIntervalEnabled")))
                    contents.insert(QStringLiteral("backupMinIntervalEnabled"), 1);
                if (!contents.contains(QStringLiteral("backupMinInterval")))
                    contents.insert(QStringLiteral("backupMinInterval"), 15);
            }
            contents.insert(QStringLiteral("firstRun"), false);
            contents.insert(QStringLiteral("watchFolders"),
                QFWatchFolderSettings::withDefaultWatchFolders(
                    contents.value(QStringLiteral("watchFolders")).toList()));
            return true;
        },
        error);
}

int QFProjectStore::convertPredecessorProjects()
{
    const auto old = QFPropertyList::readDictionary(
        QFLocalPaths::prefsDirectory(true) + QStringLiteral("/com.quenfield.fcptombrel.plist"));
    if (!old)
        return 0;
    QString store = old->value(QStringLiteral("storagePath")).toString();
    if (store.isEmpty())
        store = QFLocalPaths::appSupportDirectory(true) + QStringLiteral("/Quenfield/FCP Tombrel/Versions");
    store = QFLocalPaths::expandTilde(store);
    QSet<QString> known;
    for (const QFProjectListEntry &project : QFProject::projectsInStorageRoot())
        known.insert(QFLocalPaths::expandTilde(project.path));
    int converted = 0;
    for (const QVariant &item : old->value(QStringLiteral("filelist")).toList()) {
        const QVariantMap file = item.toMap();
        const QString path = QFLocalPaths::expandTilde(file.value(QStringLiteral("path")).toString());
        if (path.isEmpty() || known.contains(path))
            continue;
        std::optional<QFProjectSequences> sequences;
        if (file.contains(QStringLiteral("sequences"))) {
            QFProjectSequences list;
            for (const QVariant &sequence : file.value(QStringLiteral("sequences")).toList()) {
                if (auto parsed = QFProjectSequence::fromDictionary(sequence))
                    list << *parsed;
            }
            sequences = list;
        }
        QFProject project = QFProject::projectWithPath(path, sequences);
        project.setSelectedUUID(file.value(QStringLiteral("selectedUUID")).toString());
        project.saveSettings();
        known.insert(path);
        ++converted;
        const QString oldVersions = store + u'/' + QFileInfo(path).fileName();
        if (QFileInfo(oldVersions).isDir()) {
            const QString versions = project.destinationPath() + QStringLiteral("/Versions");
            QDir().mkpath(versions);
            QFFileManager::copyContentsOfDirectory(oldVersions, versions, 300);
        }
    }
    return converted;
}
