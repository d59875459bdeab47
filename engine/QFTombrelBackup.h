#pragma once

// The backup engine: one instance per program. Its operations run on whatever thread calls them; the
// flags may be set from any thread.

#include <pugixml.hpp>

#include "engine/QFProject.h"
#include "engine/QFVersionEntry.h"

class QFDropboxClient;
class QFMLTModel;
class QFPreferenceSnapshot;

#include <QDateTime>
#include <QImage>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <set>

// Why a copy was not made. The skip marker (domain QFProTombrelErrorDomain, code 0, no description)
// marks a copy skipped by rule; it is never shown to the user.
struct QFBackupError {
    QString domain;
    int code = 0;
    QString description;

    static QFBackupError skipMarker();
    bool isSkipMarker() const;
};

// What one backup made, or why it made no version. Every outcome but Made leaves the Versions folder as
// it was, apart from a screen capture taken before the copy.
struct QFBackupResult {
    enum class Outcome {
        Made, // version and number name the new version file
        SkippedByRule, // the minimum interval, a copy of the file under way, an empty file: reason says which
        IdenticalToPrevious, // the new version equalled the one before it and was removed again
        SourceMissing, // no project file at the path
        Failed, // the version could not be made: the drive is not mounted, the folder or the copy failed
    };
    Outcome outcome = Outcome::Failed;
    QString project;
    QString version;
    qint64 number = 0;
    // The XML copy made beside the version; empty when none was made.
    QString xmlCopy;
    // Why no version was made (SkippedByRule, SourceMissing, Failed), in words for a terminal or the log.
    QString reason;

    bool made() const { return outcome == Outcome::Made; }
    bool failed() const { return outcome == Outcome::Failed; }
};

class QFTombrelBackup {
public:
    QFTombrelBackup() = default;
    ~QFTombrelBackup() = default;
    QFTombrelBackup(const QFTombrelBackup &) = delete;
    QFTombrelBackup &operator=(const QFTombrelBackup &) = delete;
    QFTombrelBackup(QFTombrelBackup &&) = delete;
    QFTombrelBackup &operator=(QFTombrelBackup &&) = delete;

    // --- Flags -------------------------------------------------------------------------------------
    // Cancellation is honoured only by an engine that serves a window (hasGUI).
    bool processingCancelled() const;
    void setProcessingCancelled(bool processingCancelled);
    bool hasGUI() const;
    void setHasGUI(bool hasGUI);

    // --- Progress (only with hasGUI; run on the main thread) ---------------------------------------
    void setEndProgressHandler(std::function<void()> handler);
    void endProgress();

    // --- Change lists of Final Cut Pro XML ---------------------------------------------------------
    // The change lines of doc against the older baseDoc; empty when either is missing, none when
    // cancelled. The lists are the texts of every uuid element and id attribute of each document.
    std::optional<QStringList> changeListForFCPXMLDoc(const pugi::xml_document *doc, const pugi::xml_document *baseDoc,
        const QStringList &oldUUIDList, const QStringList &oldIDList, const QStringList &newUUIDList,
        const QStringList &newIDList);
    // The walk's next node in baseDoc after oldNode when the newer document is at newNode.
    pugi::xml_node nextBaseNode(const pugi::xml_node &oldNode, const pugi::xml_node &newNode) const;
    // One sentence for a changed leaf element, or a null string when the change is not worth one; the walk
    // asks it of every change. oldValue null: the text of oldNode. withUUIDList tells renamed items from new
    // ones; no sentence depends on the ids in withIDList.
    QString changeStringFromFCPNode(const pugi::xml_node &node, const QString &nodeName, const QString &nodeValue,
        const pugi::xml_node &nodeParent, const QString &nodeParentName, const pugi::xml_node &oldNode,
        const QString &oldValue, const QStringList &withUUIDList, const QStringList &withIDList);
    QString timecodeFromFrames(const QString &frames, const pugi::xml_node &withNode) const;
    QString startTimeForNode(const pugi::xml_node &node) const;
    QStringList uuidHistoryForNode(const pugi::xml_node &node) const;
    QString typeOfNode(const pugi::xml_node &node) const;
    QString capitalizeFirstLetter(const QString &string) const;

    // --- Backup creation ---------------------------------------------------------------------------
    QList<QFProjectListEntry> projects() const;
    // At least five digits: 7 → "00007".
    static QString padNumber(qint64 number);
    // "Cut.fcp" and "Cut.00007.fcp" both give "Cut".
    static QString baseNameForPath(const QString &path);
    // The number of a version file from its name ("Cut.00007.fcp" → 7).
    static std::optional<qint64> versionNumberOfFile(const QString &name);
    // Where change-list caches are kept.
    static QString cachesFolder();
    // The entries of a Versions folder that are not hidden (copies under way are), in version order
    // (QFVersionsFolder::entryNames).
    static QStringList versionEntries(const QString &versionsFolder);
    // Whether a name is the XML companion of a ".fcp" version file beside it.
    static bool isXMLCompanion(const QString &versionsFolder, const QString &name);
    // A file's modification time (links followed) in milliseconds since the epoch, none when it cannot be
    // read. Free of time-zone work, which dominated scans of many versions.
    static std::optional<qint64> modificationTime(const QString &path);

    // Backs up one project into its Versions folder (toPath) as version withNumber (or the next free
    // number). uuid: the sequence to export as XML, empty for the whole project. force: a backup the
    // user asked for. partOfBatch: no notifications. The new version goes to Dropbox (uploadFileToCloud)
    // once the duplicate test has kept it. Given an existing version file of the folder and its number,
    // only its XML copy is made (outcome SkippedByRule, xmlCopy set when it was).
    QFBackupResult backupProject(const QString &path, const QString &toPath, qint64 withNumber, const QString &uuid,
        bool launchProj = false, bool force = false, bool partOfBatch = false);
    // The backup the user asks for ("back up now"): the number after the last version, the XML copy
    // whatever the limits (the editor may be started when generateFCPXML is 1), then the retention rules.
    // Runs on the calling thread, which should not be a window's.
    QFBackupResult backUpNow(const QString &path, const QString &versionsFolder, const QString &uuid);
    // Copies the project file into the Versions folder; nothing on success, else the error (or the skip
    // marker, with skipReason telling which rule). createdPath receives the new version file, which is
    // not uploaded here.
    std::optional<QFBackupError> backupProjectFile(const QString &path, const QString &toPath, qint64 withNumber,
        QString *createdPath = nullptr, QString *skipReason = nullptr);
    // Versions directly below desiredNumber that have no XML companion.
    qint64 backupGapForProject(const QString &project, const QString &destination, qint64 desiredNumber) const;
    // Removes the newest version (with its companion and capture) when it equals the one before.
    bool removeLastDuplicateForProject(const QString &versionsFolder);
    void takeScreenshot(const QString &folder, const QString &filename, qint64 backupNumber);
    static QImage scaleImageData(const QImage &image, const QSize &size);
    static bool setXMLFileAssociation(const QString &path);
    static QString annotationForFile(const QString &path);
    static QString currentBundlePath();
    void processProjects();
    // Backs up every project (under the path prefix) whose file is newer than its last version, then
    // prunes and refreshes the change-list caches. The results of the backups tried, in their order.
    QList<QFBackupResult> processProjectsInPath(const QString &prefix);

    // --- Dropbox sync ----------------------------------------------------------------------------------
    // Sends a new version to Dropbox when sync is on: in the application through its account, in any
    // other program by starting the application with "-upload".
    void uploadFileToCloud(const QString &path);
    // The Dropbox client, or none while no account is linked (main thread).
    QFDropboxClient *restClient();
    void removeRestClient();
    // Loads the remote file into the local path; answered by "QFProTombrelFileDownloaded" (a failure is
    // only logged).
    void downloadFile(const QString &remotePath, const QString &localPath);
    // Lists the project's remote folder; answered by "QFProTombrelSyncedFiles" or "QFProTombrelMetadataError".
    void loadSyncedFileListForProjectUUID(const QString &projectID);

    QDateTime lastAlertShown() const
    {
        QMutexLocker lock(&m_currentBackupsLock);
        return m_lastAlertShown;
    }
    void setLastAlertShown(const QDateTime &date)
    {
        QMutexLocker lock(&m_currentBackupsLock);
        m_lastAlertShown = date;
    }

    // --- Retention -----------------------------------------------------------------------------------
    // Applies the retention rules; false, with nothing removed, when the preference file exists but cannot
    // be read (its rules are unknown).
    bool manageBackups();
    // removeType 1 deletes; anything else sends to the Trash. The version's cache entry, note, companions
    // and capture go with it. True when the version file is gone; one that stays keeps everything.
    bool removeBackup(const QString &path, qint64 removeType, bool removeSynced = true);
    bool removeEmptyFolder(const QString &path);
    void removeSyncedFiles(const QStringList &paths);
    // Removes every synced copy of the versions of these project folders.
    void removeSyncedProjects(const QStringList &projectFolders);
    // Whether removing versions and projects takes their synced copies along: sync is on and
    // syncDeleteRemoteFiles is absent or 1.
    static bool syncRemovalsOn();
    // The indexes (0 oldest) a period of n versions keeps when k are to be kept.
    static std::set<qint64> indexesToKeep(qint64 n, qint64 k);

    // --- Change-list cache --------------------------------------------------------------------------
    // The cache lives in cachesFolder() as "<project folder name>.cache.plist": a dictionary of version
    // entries by file name, plus "version". One engine must not refresh two projects at once.
    // The entry of one version file against the older XML companion (or none); a version saved as MLT XML
    // (Kdenlive, Shotcut, melt) is compared with withOldFile, the version file before it.
    std::optional<QFVersionEntry> changelistForFile(const QString &path, const QString &withOldFile);
    // Whether a version file is handled as MLT XML: its first element is "mlt", or its name says it should be.
    static bool isMLTVersion(const QString &path);
    // Brings the cache up to date, computing only what is missing; nothing on failure.
    std::optional<QVariantMap> cacheForProject(const QString &projectFolder, QFChangelistDelegate *delegate = nullptr);
    // Computes every entry anew; nothing when cancelled.
    std::optional<QVariantMap> changelistForProject(
        const QString &projectFolder, QFChangelistDelegate *delegate = nullptr);
    // Recomputes the entries of a new XML companion and of the companion after it.
    void updateChangelistForItem(const QString &path);
    void invalidateAllCaches();
    static bool contentsEqualAtPath(const QString &a, const QString &b);
    // The application's cache format ("0" without an application bundle).
    static QString bundleCacheVersion();
    // How many documents this engine has parsed (a rebuild parses each companion once).
    int documentsParsed() const { return m_documentsParsed; }
    QString lastXMLDocPath() const;
    void setProgressHandlers(
        std::function<void()> start, std::function<void(int)> setDeterminate, std::function<void()> increment);

private:
    static QString cacheFileForProject(const QString &projectFolder);
    // Writes entries (keys of version files, and "version") into a cache file under its lock, over what the
    // file holds now, or in place of it (replace). False, logged, when the write fails.
    // Removes the notes of these version files from the project's Annotations.plist.
    static bool removeNotes(const QString &projectFolder, const QStringList &names);
    static bool storeInCache(const QString &cachePath, const QVariantMap &entries, bool replace = false);

    // The XML copy of a new Final Cut Pro version by the export rules, with the duplicate test around it;
    // the file written, or empty when none was.
    QString backupXMLCopy(const QString &project, const QString &toPath, qint64 number, const QString &uuid,
        bool launchProj, bool force, const QFPreferenceSnapshot &prefs);
    void onMainThread(const std::function<void()> &work, bool wait) const;
    void reportFailure(const QString &title, const QString &text);
    std::unique_ptr<pugi::xml_document> loadDocument(const QString &path, bool older);
    // The entry of a version saved as MLT XML, against the version file before it.
    QFVersionEntry mltVersionEntry(QFVersionEntry entry, const QString &path, const QString &withOldFile, qint64 bytes);
    std::shared_ptr<const QFMLTModel> loadMLTModel(const QString &path);

    // The newer document of the last comparison, parsed: the older one of the next. Threads that compare
    // at once share it under m_memoLock; one takes it out while it compares.
    struct XMLMemo {
        std::unique_ptr<pugi::xml_document> document;
        QString path;
        QStringList uuids;
        QStringList ids;
    };
    // The memo when it holds the document at path (taken out of the engine), else an empty one.
    XMLMemo takeXMLMemo(const QString &path);
    void keepXMLMemo(XMLMemo memo);
    // The newer project of the last MLT comparison: the older one of the next.
    struct MLTMemo {
        std::shared_ptr<const QFMLTModel> model;
        QString path;
    };
    MLTMemo mltMemo() const;
    void keepMLTMemo(MLTMemo memo);
    void forgetMemos();

    mutable QMutex m_memoLock;
    XMLMemo m_lastXML;
    MLTMemo m_lastMLT;
    std::function<void()> m_startProgressHandler;
    std::function<void(int)> m_determinateProgressHandler;
    std::function<void()> m_incrementProgressHandler;
    std::atomic<int> m_documentsParsed { 0 };

    bool claimCurrentBackup(const QString &source);
    void releaseCurrentBackup(const QString &source);

    mutable QMutex m_currentBackupsLock;
    QSet<QString> m_currentBackups;
    QDateTime m_lastAlertShown;

    friend class QFChangeListWalk;
    bool cancelledWithGUI() const;

    std::atomic<bool> m_processingCancelled { false };
    std::atomic<bool> m_hasGUI { false };
    std::function<void()> m_endProgressHandler;
};
