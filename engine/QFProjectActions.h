#pragma once

// The actions on projects and their versions that the main application offers (restore, annotate,
// delete, remove, relink), kept in the engine so that every program offering them follows the same
// safety rules. Each runs on the calling thread and logs its failures; none asks the user anything,
// since confirmation is the caller's business.

#include "engine/QFProject.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QFProjectActions final {
public:
    // --- Versions ------------------------------------------------------------------------------------
    // The version files of a Versions folder (QFVersionsFolder::versions) by name, as a person looks
    // them up: every name not beginning with "." except the XML companions of ".fcp" files.
    static QStringList versionFiles(const QString &versionsFolder);
    // The number of a version file: "Cut.00007.fcp" and, without an extension, "Cut.00007" → 7.
    static std::optional<qint64> versionNumber(const QString &name);
    // The version file (full path) that version names: a number with or without leading zeros, or a
    // file name of the folder. Nothing, with the reason, when none or several match.
    static std::optional<QString> findVersion(
        const QString &versionsFolder, const QString &version, QString *error = nullptr);

    // --- Versions Dropbox lacks ------------------------------------------------------------------------
    // The versions of a Versions folder (full paths, oldest first) that a listing of the project's folder
    // in Dropbox does not show; remoteNames as the listing gives them (the version each file holds).
    static QStringList versionsMissingRemotely(const QString &versionsFolder, const QStringList &remoteNames);
    // Project folders with a version that could not be uploaded when it was made (no free slot, a failed
    // upload or hand-off): the application's next upload compares them with Dropbox. Kept in one file for
    // every program, under its lock.
    static QString pendingUploadsPath();
    static bool notePendingUploads(const QStringList &projectFolders);
    // The folders noted so far (that still exist), taken out of the file.
    static QStringList takePendingUploads();
    // The project folder holding a version file ("<ID>.localized/Versions/NAME"); empty for any other path.
    static QString projectFolderOfVersion(const QString &versionFile);

    // --- Restore -------------------------------------------------------------------------------------
    enum class RestoreStatus {
        Restored,
        VolumeNotMounted,
        EditorRunning,
        MissingVersion,
        OnlyXMLCopyLeft,
        RenameFailed,
        CopyFailed
    };
    struct RestoreResult {
        RestoreStatus status = RestoreStatus::CopyFailed;
        // The alert the application shows: "Backup restored", "Failed to restore project" …
        QString title;
        QString message;
        QString source;
        // Where the replaced project file is when it is neither in the Trash nor back in its place
        // (the Trash refused it, or the editor wrote a new file meanwhile); empty otherwise.
        QString keptOldFile;
        bool succeeded() const { return status == RestoreStatus::Restored; }
    };
    // Seams of a restore; an empty function means the real operation.
    struct RestoreOperations {
        std::function<bool(const QString &source, const QString &destination)> copy;
        std::function<bool(const QString &bundleIdentifier)> isApplicationRunning;
    };

    // The file a restore of a version copies: an XML companion restores its ".fcp" sibling, or else the
    // file of the same name without the extension, or else itself.
    static QString restoreSource(const QString &versionFile);
    // Copies the version over the project file. Refused, with nothing changed, when the project lies on a
    // drive that is not mounted, or is a Final Cut Pro X project or event while that editor runs. Then
    // lastRestoredProject and lastRestoreDate are written (so the helper ignores the restore's own events),
    // the old file is renamed aside, the version copied in and the old file moved to the Trash. When the
    // copy fails the old file is renamed back: the project file is never lost.
    // An XML copy whose binary version is gone is refused too: it would replace a project file of another
    // format that the editor cannot open.
    // The refusals of a restore that need no version: a project on a drive that is not mounted, a Final Cut
    // Pro X project or event while that editor runs. Status Restored (and no title) when none applies.
    static RestoreResult restorePreconditions(const QFProject &project, const RestoreOperations &operations = {});
    static RestoreResult restoreVersion(
        const QFProject &project, const QString &versionFile, const RestoreOperations &operations = {});

    // --- Notes ---------------------------------------------------------------------------------------
    // Sets the note of a version file in its project's Annotations.plist, or removes it when the text is
    // empty; line breaks become blanks. The file is deleted once it holds no note. A file that exists but
    // cannot be read is left alone (false), so no other note is lost.
    static bool annotateVersion(const QString &versionFile, const QString &text, QString *error = nullptr);

    // --- Removal -------------------------------------------------------------------------------------
    // What a removal did. Callable from any thread; it shows nothing, and every program removing versions
    // or projects goes through it.
    struct RemovalReport {
        QStringList removed;
        // What is still there, each with its line in failures.
        QStringList remaining;
        QStringList failures;
        // What was removed and had its synced copies asked to go: in the application its sync object
        // answers each (removeRemoteFile, removeRemoteFileFailed), any other program hands them to it.
        QStringList syncedCopiesAsked;
        bool succeeded() const { return remaining.isEmpty(); }
    };
    enum class SyncedCopies {
        FollowPreferences, // removed with their items when sync is on and syncDeleteRemoteFiles is absent or 1
        WhenSyncIsOn, // removed with their items whenever sync is on
        Keep,
    };
    // Moves versions to the Trash with their companions, captures, notes and change-list cache upkeep,
    // then asks for the synced copies of those removed at once. progress: called after each with the
    // number done (on the calling thread).
    static RemovalReport removeVersions(const QStringList &versionFiles,
        SyncedCopies synced = SyncedCopies::FollowPreferences, const std::function<void(int)> &progress = {});
    // removeVersions by the preferences, answering the versions still there afterwards.
    static QStringList deleteVersions(const QStringList &versionFiles, const std::function<void(int)> &progress = {});
    // Moves project folders to the Trash with their change-list caches (removeProject), then asks for the
    // synced copies of those removed.
    static RemovalReport removeProjects(const QStringList &projectFolders,
        SyncedCopies synced = SyncedCopies::FollowPreferences, const std::function<void(int)> &progress = {});
    // The projects whose file is gone from a drive that is mounted. A project on a volume that is not
    // mounted (a drive unplugged, a share not connected) is not offline: its file is only out of reach.
    static bool isOffline(const QFProject &project);
    static QList<QFProject> offlineProjects(const QList<QFProject> &projects);
    // Moves a project folder to the Trash and deletes its change-list cache.
    static bool removeProject(const QString &projectFolder, QString *error = nullptr);

    // --- Adding --------------------------------------------------------------------------------------
    enum class AddStatus { Added, AlreadyListed, Refused, Failed };
    struct AddResult {
        AddStatus status = AddStatus::Failed;
        // The project added, or the one already listed for the file.
        QFProject project;
        QString reason;
    };
    // The spellings under which a path may be listed: as written (absolute, "~" expanded) and with links
    // resolved.
    static QSet<QString> pathKeys(const QString &path);
    // Lists a project file: its folder in the version store with its Settings.plist. A file listed
    // already (under any spelling) is left as it is; names beginning with "." are refused.
    static AddResult addProject(const QString &path);
    // The number the next version of a Versions folder gets (QFVersionsFolder::nextVersionNumber):
    // "Cut.00007.fcp" as the last version gives 8, a folder without versions 1.
    static qint64 nextVersionNumber(const QString &versionsFolder);

    // --- Sequences -----------------------------------------------------------------------------------
    // The sequences with a UUID of an editor's table of contents or project XML, in document order.
    // Nothing, with the line the sequence chooser shows, when the text is no XML or holds none.
    static std::optional<QList<QFProjectSequence>> sequencesFromXML(const QByteArray &xml, QString *error = nullptr);

    // --- Relink --------------------------------------------------------------------------------------
    // Points the project at another file: its path, display name and Settings.plist. Refused when no file
    // is there or another project already names it.
    static bool relinkProject(QFProject &project, const QString &path, QString *error = nullptr);
};
