// The change lists of a project's versions and their cache: one version entry per version file, each
// XML companion compared with the one before it and each project saved as MLT XML with the version file
// before it, kept in "<project folder>.cache.plist".

#include "engine/QFTombrelBackup.h"

#include "engine/QFMLTChangeList.h"
#include "engine/QFMLTModel.h"
#include "engine/QFPreferenceSnapshot.h"
#include "engine/QFVersionsFolder.h"
#include "engine/QFXMLParser.h"
#include "foundation/QFAlert.h"
#include "foundation/QFClock.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFLog.h"
#include "foundation/QFMainThread.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFFileLock.h"
#include "foundation/platform/QFPropertyList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <sys/xattr.h>
#include <utility>

namespace {

const QString kVersionKey = QStringLiteral("version");
constexpr qint64 kLargestComparedSize = 83886080; // 80 MB
const char kTooLarge[] = "Project file size exceeds 80 MB and will not be processed. To reduce file sizes, go to the "
                         "Projects tab and change Backup from \"Entire Project\" to a specific sequence.";

bool hasSuffix(const QString &name, const char *suffix)
{
    return name.endsWith(QLatin1String(suffix), Qt::CaseInsensitive);
}

QString withExtension(const QString &path, const QString &extension)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    const qsizetype dot = path.lastIndexOf(u'.');
    return (dot > slash ? path.left(dot) : path) + u'.' + extension;
}

bool hasTypeCodeFCPF(const QString &path)
{
    char info[32] = {};
    const ssize_t n = ::getxattr(QFile::encodeName(path).constData(), "user.com.apple.FinderInfo", info, sizeof info);
    return n >= 4 && std::memcmp(info, "FCPF", 4) == 0;
}

// The versions of a Versions folder in their order, each by the name its cache entry has.
QStringList listedNames(const QString &versionsFolder)
{
    QStringList names;
    for (const QFVersionsFolderEntry &entry : QFVersionsFolder::versions(versionsFolder))
        names << entry.listedName();
    return names;
}

QString cacheFileFor(const QString &projectFolder)
{
    return QFTombrelBackup::cachesFolder() + qfFormat("/%@.cache.plist", QFileInfo(projectFolder).fileName());
}

} // namespace

QString QFTombrelBackup::cacheFileForProject(const QString &projectFolder)
{
    return cacheFileFor(projectFolder);
}

bool QFTombrelBackup::storeInCache(const QString &cachePath, const QVariantMap &entries, bool replace)
{
    // Under the cache's lock, so entries another program added or removed meanwhile stay as it left them.
    const QFFileLock lock(cachePath);
    QVariantMap cache;
    if (!replace)
        cache = QFPropertyList::readDictionary(cachePath).value_or(QVariantMap());
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        cache.insert(it.key(), it.value());
    QString reason;
    if (!QFPropertyList::write(cachePath, cache, &reason)) {
        QFLog::appendLog("Unable to write the change-list cache %@: %@", cachePath, reason);
        return false;
    }
    return true;
}

QString QFTombrelBackup::bundleCacheVersion()
{
    const QString bundle = currentBundlePath();
    const QVariantMap info = QFBundle::infoDictionaryOfBundle(bundle);
    if (info.isEmpty())
        return QStringLiteral("0");
    const QVariant version = info.value(QStringLiteral("QFCacheVersion"));
    return version.isValid() ? version.toString() : QString();
}

void QFTombrelBackup::onMainThread(const std::function<void()> &work, bool wait) const
{
    // Without a window to serve, the caller's thread is as good as any.
    if (!m_hasGUI) {
        work();
        return;
    }
    QFMainThread::run(work, wait);
}

void QFTombrelBackup::setProgressHandlers(
    std::function<void()> start, std::function<void(int)> setDeterminate, std::function<void()> increment)
{
    m_startProgressHandler = std::move(start);
    m_determinateProgressHandler = std::move(setDeterminate);
    m_incrementProgressHandler = std::move(increment);
}

// With a window: the progress ends and the user is told. Without, the log line already said it.
void QFTombrelBackup::reportFailure(const QString &title, const QString &text)
{
    if (!m_hasGUI)
        return;
    onMainThread(
        [this] {
            if (m_endProgressHandler)
                m_endProgressHandler();
        },
        false);
    QFAlert::alertSheetWithMessageText(title, text, nullptr);
}

// Reads and parses one document; nothing (with the log line and message of the failed step) on failure.
std::unique_ptr<pugi::xml_document> QFTombrelBackup::loadDocument(const QString &path, bool older)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (older) {
            QFLog::appendLog("Unable to load prev data: %@", file.errorString());
            if (m_hasGUI)
                onMainThread(
                    [this] {
                        if (m_endProgressHandler)
                            m_endProgressHandler();
                    },
                    false);
        } else {
            QFLog::appendLog("Unable to load data: %@", file.errorString());
            reportFailure(QStringLiteral("Unable to load data"), file.errorString());
        }
        return nullptr;
    }
    file.close();
    ++m_documentsParsed;
    // Read as the command line reads it: in blocks, without the blank runs between elements, never whole.
    auto document = QFXMLParser::documentFromFile(path);
    if (!document) {
        if (older) {
            QFLog::appendLog("Unable to load prev XML document");
            if (m_hasGUI)
                onMainThread(
                    [this] {
                        if (m_endProgressHandler)
                            m_endProgressHandler();
                    },
                    false);
        } else {
            QFLog::appendLog("Unable to load XML document");
            reportFailure(QStringLiteral("Unable to XML document"), QStringLiteral("The file may be corrupt."));
        }
    }
    return document;
}

std::optional<QFVersionEntry> QFTombrelBackup::changelistForFile(const QString &path, const QString &withOldFile)
{
    const QFileInfo info(path);
    const QString name = info.fileName();
    const QString ext = info.suffix().toLower();
    QFVersionEntry entry;
    entry.file = path;
    {
        const QString stem = name.left(name.size() - info.suffix().size() - (info.suffix().isEmpty() ? 0 : 1));
        const qsizetype dot = stem.lastIndexOf(u'.');
        entry.version = dot >= 0 ? stem.mid(dot + 1) : QString();
    }
    QString statPath = path;
    if (ext == QLatin1String("xml") && QFileInfo::exists(withExtension(path, QStringLiteral("fcp"))))
        statPath = withExtension(path, QStringLiteral("fcp"));
    qint64 bytes = 0;
    const QFileInfo stat(statPath);
    if (!stat.exists()) {
        QFLog::appendLog("Unable to get attributes for file %@: %@", statPath, QStringLiteral("no such file"));
        entry.date = QFClock::now();
    } else {
        entry.date = stat.lastModified();
        bytes = stat.isDir() ? qint64(QFFileManager::fileSize(statPath)) : stat.size();
    }
    entry.size = QFFileManager::formatFileSize(double(bytes));
    if (!withOldFile.isEmpty() && !QFileInfo::exists(withOldFile))
        QFLog::appendLog("Unable to get attributes for file %@: %@", withOldFile, QStringLiteral("no such file"));
    if (isMLTVersion(path))
        return mltVersionEntry(entry, path, withOldFile, bytes);

    if (ext != QLatin1String("xml")) {
        entry.type = QStringLiteral("doc");
        if (ext == QLatin1String("fcp")
            && QFPreferenceSnapshot::read().intValue(QStringLiteral("generateFCPXML")) == 1) {
            entry.changelist = { qfFormat("XML copy %@ not generated", entry.version) };
            entry.type = QStringLiteral("fcp");
        }
        if (!withOldFile.isEmpty() && contentsEqualAtPath(path, withOldFile))
            entry.changelist = { QStringLiteral("No change") };
        return entry;
    }

    entry.type = QStringLiteral("xml");
    entry.host = QStringLiteral("fcp");
    if (withOldFile.isEmpty() || QFileInfo(withOldFile).suffix().compare(QLatin1String("fcp"), Qt::CaseInsensitive) == 0
        || hasTypeCodeFCPF(withOldFile)) {
        entry.changelist = { QStringLiteral("(Base version)") };
        return entry;
    }
    if (bytes >= kLargestComparedSize) {
        entry.changelist = { QString::fromLatin1(kTooLarge) };
        entry.noProcess = true;
        return entry;
    }

    auto document = loadDocument(path, false);
    if (!document)
        return std::nullopt;

    XMLMemo older = takeXMLMemo(withOldFile);
    if (!older.document) {
        older.document = loadDocument(withOldFile, true);
        if (!older.document)
            return std::nullopt;
        QFXMLParser::itemLists(*older.document, older.uuids, older.ids);
    }
    const pugi::xml_document *old = older.document.get();
    const QStringList &oldUUIDs = older.uuids;
    const QStringList &oldIDs = older.ids;
    QStringList newUUIDs, newIDs;
    QFXMLParser::itemLists(*document, newUUIDs, newIDs);

    const auto lines = changeListForFCPXMLDoc(document.get(), old, oldUUIDs, oldIDs, newUUIDs, newIDs);
    // The older document is done with; it goes before the newer one is kept.
    older.document.reset();
    // The newer document is the older one of the next comparison: keep it parsed.
    keepXMLMemo(XMLMemo { std::move(document), path, newUUIDs, newIDs });
    if (!lines) {
        QFLog::appendLog("Unable to create change list");
        return std::nullopt;
    }
    entry.changelist = *lines;
    return entry;
}

QFTombrelBackup::XMLMemo QFTombrelBackup::takeXMLMemo(const QString &path)
{
    QMutexLocker lock(&m_memoLock);
    if (!m_lastXML.document || m_lastXML.path != path)
        return {};
    return std::exchange(m_lastXML, XMLMemo());
}

// The documents a memo replaces are freed after the lock is let go.
void QFTombrelBackup::keepXMLMemo(XMLMemo memo)
{
    XMLMemo replaced;
    QMutexLocker lock(&m_memoLock);
    replaced = std::exchange(m_lastXML, std::move(memo));
}

QFTombrelBackup::MLTMemo QFTombrelBackup::mltMemo() const
{
    QMutexLocker lock(&m_memoLock);
    return m_lastMLT;
}

void QFTombrelBackup::keepMLTMemo(MLTMemo memo)
{
    QMutexLocker lock(&m_memoLock);
    m_lastMLT = std::move(memo);
}

void QFTombrelBackup::forgetMemos()
{
    XMLMemo xml;
    MLTMemo mlt;
    QMutexLocker lock(&m_memoLock);
    xml = std::exchange(m_lastXML, XMLMemo());
    mlt = std::exchange(m_lastMLT, MLTMemo());
}

QString QFTombrelBackup::lastXMLDocPath() const
{
    QMutexLocker lock(&m_memoLock);
    return m_lastXML.path;
}

bool QFTombrelBackup::isMLTVersion(const QString &path)
{
    // A name that promises MLT XML is held to it: a file that breaks the promise cannot be compared.
    const QString ext = QFileInfo(path).suffix().toLower();
    return QFMLTModel::isMLTFile(path) || ext == QLatin1String("kdenlive") || ext == QLatin1String("mlt");
}

std::shared_ptr<const QFMLTModel> QFTombrelBackup::loadMLTModel(const QString &path)
{
    // The file read last, or found unreadable last, is not read again.
    if (const MLTMemo last = mltMemo(); !last.path.isEmpty() && path == last.path)
        return last.model;
    ++m_documentsParsed;
    QString error;
    std::optional<QFMLTModel> model;
    if (QFMLTModel::isMLTFile(path))
        model = QFMLTModel::fromFile(path, &error);
    else
        error = QStringLiteral("not an MLT document");
    if (!model) {
        QFLog::appendLog("Unable to read %@ as an MLT project: %@", path, error);
        return nullptr;
    }
    return std::make_shared<const QFMLTModel>(std::move(*model));
}

QFVersionEntry QFTombrelBackup::mltVersionEntry(
    QFVersionEntry entry, const QString &path, const QString &withOldFile, qint64 bytes)
{
    entry.type = QStringLiteral("mlt");
    entry.host = QFMLTModel::hostName(QFMLTModel::Dialect::Plain);
    if (bytes >= kLargestComparedSize) {
        entry.host = QFMLTModel::hostName(QFMLTModel::sniffDialect(path));
        entry.changelist = { QString::fromLatin1(kTooLarge) };
        entry.noProcess = true;
        return entry;
    }
    const bool same = !withOldFile.isEmpty() && contentsEqualAtPath(path, withOldFile);
    // The same bytes read the same: the project read last stands for this one too.
    const MLTMemo last = mltMemo();
    std::shared_ptr<const QFMLTModel> model
        = same && last.model && withOldFile == last.path ? last.model : loadMLTModel(path);
    if (!model) {
        keepMLTMemo(MLTMemo { nullptr, path });
        entry.changelist = { same ? QStringLiteral("No change") : QStringLiteral("Unable to create change list") };
        if (!same)
            QFLog::appendLog("Unable to create change list");
        return entry;
    }
    entry.host = QFMLTModel::hostName(model->dialect);
    if (withOldFile.isEmpty()) {
        entry.changelist = { QStringLiteral("(Base version)") };
    } else if (same) {
        entry.changelist = { QStringLiteral("No change") };
    } else {
        // Nothing readable to compare with (a file too large, or broken): the history starts here again.
        const QFileInfo older(withOldFile);
        std::shared_ptr<const QFMLTModel> base
            = older.size() < kLargestComparedSize ? loadMLTModel(withOldFile) : nullptr;
        if (!base) {
            entry.changelist = { QStringLiteral("(Base version)") };
        } else {
            entry.changelist = QFMLTChangeList::changeLines(*base, *model);
            if (entry.changelist.isEmpty())
                entry.changelist = { QStringLiteral("No notable changes") };
        }
    }
    keepMLTMemo(MLTMemo { std::move(model), path });
    return entry;
}

std::optional<QVariantMap> QFTombrelBackup::cacheForProject(
    const QString &projectFolder, QFChangelistDelegate *delegate)
{
    m_processingCancelled = false;
    std::optional<QVariantMap> result;
    const QString caches = cachesFolder();
    const QString cachePath = cacheFileFor(projectFolder);
    const QString bundleVersion = bundleCacheVersion();
    const auto finish = [&]() {
        forgetMemos();
        if (delegate)
            onMainThread([delegate] { delegate->loadingFinished(); }, true);
        m_processingCancelled = true;
        return result;
    };

    if (!QFFileManager::createDirectory(caches, 15)) {
        const QString parent = QFileInfo(caches).absolutePath();
        if (m_hasGUI)
            QFAlert::alertSheetWithMessageText(QStringLiteral("Unable to create cache folder"),
                qfFormat("Please check permissions for the folder %@", parent), nullptr);
        else
            QFLog::appendLog("Unable to create cache folder %@", caches);
        return finish();
    }

    QVariantMap cache;
    if (QFileInfo::exists(cachePath)) {
        cache = QFPropertyList::readDictionary(cachePath).value_or(QVariantMap());
        if (cache.value(kVersionKey).toString() != bundleVersion) {
            QFLog::appendLog("Cache version does not match. Resetting cache...");
            cache.clear();
        }
    }

    const QString versions = projectFolder + QStringLiteral("/Versions");
    const QStringList names = listedNames(versions);
    if (delegate) {
        const int count = int(names.size());
        onMainThread([delegate, count] { delegate->versionsToBeLoaded(count); }, true);
    }

    bool written = false;
    QString previous;
    // Projects saved as MLT XML are compared with the version file before them, whatever it is.
    QString previousVersion;
    for (const QString &name : names) {
        const QString path = versions + u'/' + name;
        const QString older = !cache.contains(name) && isMLTVersion(path) ? previousVersion : previous;
        if (cache.contains(name)) {
            const QString note = annotationForFile(path);
            if (!note.isEmpty()) {
                QVariantMap entry = cache.value(name).toMap();
                entry.insert(QStringLiteral("annotation"), note);
                cache.insert(name, entry);
            }
        } else if (older.isEmpty()) {
            // Nothing to compare the first missing entry with: build the whole cache anew.
            auto rebuilt = changelistForProject(projectFolder, delegate);
            if (rebuilt) {
                result = rebuilt;
                written = false;
                cache = *rebuilt;
                storeInCache(cachePath, cache, true);
                return finish();
            }
            if (!m_processingCancelled) {
                if (m_hasGUI)
                    QFAlert::alertSheetWithMessageText(QStringLiteral("Unable to get change data"),
                        QStringLiteral("Please report this bug to Quenfield."), nullptr);
                else
                    QFLog::appendLog("Unable to get change data. Please report this bug to Quenfield.");
            }
            return finish();
        } else if (auto entry = changelistForFile(path, older)) {
            entry->annotation = annotationForFile(path);
            cache.insert(name, entry->toDictionary());
            storeInCache(cachePath, { { name, cache.value(name) } });
            written = true;
            if (delegate) {
                const QFVersionEntry ready = *entry;
                onMainThread([delegate, ready] { delegate->changeLogReady(ready); }, false);
            }
        }
        if (hasSuffix(name, ".xml"))
            previous = path;
        previousVersion = path;
    }
    if (written) {
        if (!bundleVersion.isNull())
            cache.insert(kVersionKey, bundleVersion);
        storeInCache(cachePath, cache);
    }
    result = cache;
    return finish();
}

std::optional<QVariantMap> QFTombrelBackup::changelistForProject(
    const QString &projectFolder, QFChangelistDelegate *delegate)
{
    QVariantMap result { { kVersionKey, bundleCacheVersion() } };
    const QString versions = projectFolder + QStringLiteral("/Versions");
    const QStringList names = listedNames(versions);
    if (m_hasGUI) {
        onMainThread(
            [this] {
                if (m_startProgressHandler)
                    m_startProgressHandler();
            },
            true);
        if (names.size() > 1) {
            const int count = int(names.size());
            onMainThread(
                [this, count] {
                    if (m_determinateProgressHandler)
                        m_determinateProgressHandler(count);
                },
                true);
        }
    }
    QFFileManager::createDirectory(cachesFolder());
    const QString cachePath = cacheFileFor(projectFolder);

    QString previous;
    QString previousVersion;
    for (const QString &name : names) {
        if (m_processingCancelled && m_hasGUI)
            return std::nullopt;
        const QString path = versions + u'/' + name;
        auto entry = changelistForFile(path, isMLTVersion(path) ? previousVersion : previous);
        if (entry) {
            entry->annotation = annotationForFile(path);
            result.insert(name, entry->toDictionary());
            storeInCache(cachePath, result, true);
            if (delegate) {
                const QFVersionEntry ready = *entry;
                onMainThread([delegate, ready] { delegate->changeLogReady(ready); }, false);
            }
        }
        if (m_hasGUI)
            onMainThread(
                [this] {
                    if (m_incrementProgressHandler)
                        m_incrementProgressHandler();
                },
                false);
        if (hasSuffix(name, ".xml"))
            previous = (entry && entry->noProcess) ? QString() : path;
        previousVersion = path;
    }
    if (m_hasGUI)
        onMainThread(
            [this] {
                if (m_endProgressHandler)
                    m_endProgressHandler();
            },
            false);
    return result;
}

void QFTombrelBackup::updateChangelistForItem(const QString &path)
{
    const QFileInfo item(path);
    const QString versions = item.absolutePath();
    const QString projectFolder = QFileInfo(versions).absolutePath();
    const QString caches = cachesFolder();
    if (!QFFileManager::createDirectory(caches, 15)) {
        if (m_hasGUI)
            QFAlert::alertSheetWithMessageText(QStringLiteral("Unable to create cache folder"),
                qfFormat("Please check permissions for the folder %@", QFileInfo(caches).absolutePath()), nullptr);
        else
            QFLog::appendLog("Unable to create cache folder %@", caches);
        return;
    }
    const QString cachePath = cacheFileFor(projectFolder);
    QVariantMap cache;

    // The XML copies in the order of their versions.
    QStringList companions = listedNames(versions);
    companions.removeIf([](const QString &name) { return !hasSuffix(name, ".xml"); });
    const qsizetype i = companions.indexOf(item.fileName());
    if (i < 0)
        return;
    const QString older = i > 0 ? versions + u'/' + companions.at(i - 1) : QString();
    const QString newer = i + 1 < companions.size() ? versions + u'/' + companions.at(i + 1) : QString();
    if (auto entry = changelistForFile(path, older))
        cache.insert(item.fileName(), entry->toDictionary());
    if (!newer.isEmpty()) {
        if (auto entry = changelistForFile(newer, path))
            cache.insert(QFileInfo(newer).fileName(), entry->toDictionary());
    }
    storeInCache(cachePath, cache);
}

void QFTombrelBackup::invalidateAllCaches()
{
    QFLog::appendLog("Invalidating all caches...");
    const QString caches = cachesFolder();
    QDir dir(caches);
    if (!dir.exists())
        return;
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot)) {
        if (name.endsWith(QLatin1String(".cache.plist")))
            QFFileManager::removeFile(dir.filePath(name), false);
    }
}
