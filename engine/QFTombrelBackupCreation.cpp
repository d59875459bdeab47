// Making versions: the numbered copy of a project file, its screen capture and XML companion, the
// duplicate test, and the scan that backs up every project whose file changed.

#include "engine/QFTombrelBackup.h"

#include "engine/QFDropboxSync.h"

#include "engine/QFPreferenceSnapshot.h"
#include "engine/QFProject.h"
#include "engine/QFProjectActions.h"
#include "foundation/QFAlert.h"
#include "foundation/QFAppRequest.h"
#include "foundation/QFAppleEvents.h"
#include "foundation/QFClock.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFGrowl.h"
#include "foundation/QFHelperConnection.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/QFTaskEx.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFProgramRole.h"
#include "foundation/platform/QFFileCopy.h"
#include "foundation/platform/QFPropertyList.h"
#include "foundation/platform/QFShutdown.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QBuffer>
#include <QSet>
#include <QStandardPaths>

#include <cerrno>
#include <pugixml.hpp>
#include <sstream>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

const QString kErrorDomain = QStringLiteral("QFProTombrelErrorDomain");
constexpr int kScreenshotWidth = 1024;

struct XmlRule {
    qint64 gap;
    qint64 sizeLimit; // 0: none
};

XmlRule xmlRuleFor(qint64 xmlLimit)
{
    switch (xmlLimit) {
    case 1:
        return { 2, 1048576 };
    case 2:
        return { 2, 3145728 };
    case 3:
        return { 1, 5242880 };
    case 4:
        return { 1, 10485760 };
    case 5:
        return { 0, 15728640 };
    case 6:
        return { 0, 20971520 };
    case 7:
        return { 0, 31457280 };
    default:
        return { 0, 0 };
    }
}


std::optional<QDateTime> modificationDate(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return std::nullopt;
    return info.lastModified();
}

bool notificationsAllowed(const QFPreferenceSnapshot &prefs)
{
    return !prefs.contains(QStringLiteral("showGrowlAlerts")) || prefs.integer(QStringLiteral("showGrowlAlerts"), 1) != 0;
}

} // namespace

// Compares two version files (or folders) byte for byte.
bool QFTombrelBackup::contentsEqualAtPath(const QString &a, const QString &b)
{
    struct stat sa, sb;
    const QByteArray na = QFile::encodeName(a), nb = QFile::encodeName(b);
    if (::lstat(na.constData(), &sa) != 0 || ::lstat(nb.constData(), &sb) != 0)
        return false;
    if ((sa.st_mode & S_IFMT) != (sb.st_mode & S_IFMT))
        return false;
    if (S_ISLNK(sa.st_mode))
        return QFileInfo(a).symLinkTarget() == QFileInfo(b).symLinkTarget();
    if (S_ISDIR(sa.st_mode)) {
        const QStringList ea = QDir(a).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        const QStringList eb = QDir(b).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        if (ea != eb)
            return false;
        for (const QString &name : ea) {
            if (!contentsEqualAtPath(a + u'/' + name, b + u'/' + name))
                return false;
        }
        return true;
    }
    if (sa.st_size != sb.st_size)
        return false;
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly))
        return false;
    constexpr qint64 kChunk = 1 << 20;
    while (!fa.atEnd()) {
        if (fa.read(kChunk) != fb.read(kChunk))
            return false;
    }
    return true;
}

namespace {

// The capture tool for the session: Wayland's grim, else scrot or ImageMagick's import on X11.
QStringList captureCommand(const QString &path)
{
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    if (wayland) {
        const QString grim = QStandardPaths::findExecutable(QStringLiteral("grim"));
        if (!grim.isEmpty())
            return { grim, QStringLiteral("-t"), QStringLiteral("jpeg"), path };
    }
    if (x11) {
        const QString scrot = QStandardPaths::findExecutable(QStringLiteral("scrot"));
        if (!scrot.isEmpty())
            return { scrot, QStringLiteral("--overwrite"), path };
        const QString import = QStandardPaths::findExecutable(QStringLiteral("import"));
        if (!import.isEmpty())
            return { import, QStringLiteral("-window"), QStringLiteral("root"), path };
    }
    return {};
}

} // namespace

QFBackupError QFBackupError::skipMarker()
{
    return { kErrorDomain, 0, QString() };
}

bool QFBackupError::isSkipMarker() const
{
    return domain == kErrorDomain && code == 0 && description.isEmpty();
}

QList<QFProjectListEntry> QFTombrelBackup::projects() const
{
    return QFProject::projectsInStorageRoot();
}

QString QFTombrelBackup::padNumber(qint64 number)
{
    if (number >= 0 && number < 10)
        return qfFormat("0000%li", long(number));
    if (number >= 10 && number < 100)
        return qfFormat("000%li", long(number));
    if (number >= 100 && number < 1000)
        return qfFormat("00%li", long(number));
    if (number >= 1000 && number < 10000)
        return qfFormat("0%li", long(number));
    return qfFormat("%li", long(number));
}

QString QFTombrelBackup::baseNameForPath(const QString &path)
{
    QString name = QFileInfo(path).fileName();
    for (int i = 0; i < 2; ++i) {
        const qsizetype dot = name.lastIndexOf(u'.');
        if (dot > 0)
            name.truncate(dot);
    }
    return name;
}

std::optional<qint64> QFTombrelBackup::versionNumberOfFile(const QString &name)
{
    const QString file = QFileInfo(name).fileName();
    const qsizetype last = file.lastIndexOf(u'.');
    if (last <= 0)
        return std::nullopt;
    const QString rest = file.left(last);
    const qsizetype previous = rest.lastIndexOf(u'.');
    if (previous < 0)
        return std::nullopt;
    bool ok = false;
    const qint64 number = rest.mid(previous + 1).toLongLong(&ok);
    return ok ? std::optional<qint64>(number) : std::nullopt;
}

QStringList QFTombrelBackup::versionEntries(const QString &versionsFolder)
{
    QStringList names = QDir(versionsFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.erase(std::remove_if(names.begin(), names.end(), [](const QString &n) { return n.startsWith(u'.'); }), names.end());
    std::sort(names.begin(), names.end());
    return names;
}

bool QFTombrelBackup::isXMLCompanion(const QString &versionsFolder, const QString &name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0 || name.mid(dot + 1).compare(QLatin1String("xml"), Qt::CaseInsensitive) != 0)
        return false;
    return QFileInfo::exists(versionsFolder + u'/' + name.left(dot) + QStringLiteral(".fcp"));
}

std::optional<qint64> QFTombrelBackup::modificationTime(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return qint64(info.st_mtim.tv_sec) * 1000 + qint64(info.st_mtim.tv_nsec / 1000000);
}

QString QFTombrelBackup::cachesFolder()
{
    return QFLocalPaths::appSupportDirectory(true) + QStringLiteral("/Quenfield/Pro Tombrel/Caches");
}

bool QFTombrelBackup::claimCurrentBackup(const QString &source)
{
    QMutexLocker lock(&m_currentBackupsLock);
    if (m_currentBackups.contains(source))
        return false;
    m_currentBackups.insert(source);
    return true;
}

void QFTombrelBackup::releaseCurrentBackup(const QString &source)
{
    QMutexLocker lock(&m_currentBackupsLock);
    m_currentBackups.remove(source);
}

std::optional<QFBackupError> QFTombrelBackup::backupProjectFile(const QString &path, const QString &toPath, qint64 withNumber,
    QString *createdPath)
{
    QFLog::appendLog("Backing up project file %@ to %@...", path, toPath);
    const QString source = QFLocalPaths::expandTilde(path);
    const QFileInfo info(source);
    if (!info.exists() || QFFileManager::fileSize(source) == 0)
        return QFBackupError::skipMarker();
    if (const QString refusal = QFProject::refusalForProjectFile(source); !refusal.isNull()) {
        QFLog::appendLog("Unable to backup - %@", refusal);
        return QFBackupError { kErrorDomain, 3, refusal };
    }

    if (!QFileInfo(toPath).isDir() && !QDir().mkpath(toPath)) {
        const QString description = qfFormat("cannot create %@", toPath);
        QFLog::appendLog("Error creating directory structure: %@", description);
        return QFBackupError { kErrorDomain, 1, description };
    }
    if (!claimCurrentBackup(source)) {
        QFLog::appendLog("Skipping backup for %@ because it's already in the backup queue.", source);
        return QFBackupError::skipMarker();
    }
    // Whatever happens below, the source is free again afterwards.
    struct Release {
        QFTombrelBackup *engine;
        QString source;
        ~Release() { engine->releaseCurrentBackup(source); }
    } release { this, source };

    // Copies of programs that died mid-copy are never versions; clear them away first.
    qfRemoveStaleCopies(toPath);

    if (!QFFileManager::waitForFileWrites(source))
        return QFBackupError::skipMarker();

    const QString base = baseNameForPath(source);
    const QString extension = info.isDir() && info.suffix().isEmpty() ? QString() : info.suffix();
    const auto nameFor = [&](qint64 number) {
        QString name = qfFormat("%@.%@", base, padNumber(number));
        if (!extension.isEmpty())
            name += u'.' + extension;
        return name;
    };
    qint64 number = withNumber;
    while (QFileInfo::exists(toPath + u'/' + nameFor(number)) || QFileInfo(toPath + u'/' + nameFor(number)).isSymLink())
        ++number;

    // The copy is made under a hidden name and only then given its version name, so a version file is
    // always complete; the name is claimed without replacing anything another backup put there first.
    // A project file that is a link is versioned by the content it names (links inside a bundle stay
    // links): a version holding only the link would bring back today's file when restored.
    QString contentPath = source;
    if (info.isSymLink()) {
        contentPath = info.canonicalFilePath();
        if (contentPath.isEmpty())
            return QFBackupError::skipMarker();
    }
    QString reason;
    const QString temporary = qfCopyToTemporary(contentPath, toPath, nameFor(number), &reason);
    if (temporary.isEmpty()) {
        QFLog::appendLog("Error copying project file %@ to %@: %@", source, toPath + u'/' + nameFor(number), reason);
        return QFBackupError { kErrorDomain, 2, reason };
    }
    for (;; ++number) {
        const QString destination = toPath + u'/' + nameFor(number);
        if (qfRenameNoReplace(temporary, destination, &reason)) {
            if (createdPath)
                *createdPath = destination;
            return std::nullopt;
        }
        if (errno != EEXIST) {
            qfDiscardItem(temporary);
            QFLog::appendLog("Error copying project file %@ to %@: %@", source, destination, reason);
            return QFBackupError { kErrorDomain, 2, reason };
        }
    }
}

void QFTombrelBackup::backupProject(const QString &path, const QString &toPath, qint64 withNumber, const QString &uuid,
    bool launchProj, bool force, bool partOfBatch)
{
    const QString project = QFLocalPaths::expandTilde(path);
    if (!QFileInfo::exists(project)) {
        QFLog::appendLog("Unable to backup - %@ doesn't exist", path);
        return;
    }
    const QFPreferenceSnapshot prefs = QFPreferenceSnapshot::read();

    if (!force && prefs.integer(QStringLiteral("backupMinIntervalEnabled"), 0) == 1) {
        const QStringList entries = versionEntries(toPath);
        if (!entries.isEmpty()) {
            QString last = toPath + u'/' + entries.last();
            if (last.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive)) {
                const QString fcp = last.left(last.size() - 3) + QStringLiteral("fcp");
                if (QFileInfo::exists(fcp))
                    last = fcp;
            }
            const qint64 minutes = std::clamp<qint64>(prefs.integer(QStringLiteral("backupMinInterval"), 15), 0, 525600);
            const auto date = modificationDate(last);
            const QDateTime now = QFClock::now();
            // A version dated in the future (its project came with another machine's clock) tells
            // nothing about when the last backup was made.
            if (date && *date <= now && date->secsTo(now) < minutes * 60) {
                QFLog::appendLog("Backup skipped for %@ because a backup occurred less than %i minute(s) ago.", path, int(minutes));
                return;
            }
        }
    }

    QFLog::appendLog("Backing up project %@ to path %@", path, toPath);
    const bool growl = notificationsAllowed(prefs);
    if (!QFFileManager::isDriveMountedForPath(toPath)) {
        QFLog::appendLog("Unable to backup - destination drive not mounted.");
        if (!partOfBatch && growl)
            QFGrowl::sharedController()->postGrowlNotification(QStringLiteral("Project backup failed"),
                QStringLiteral("Drive is offline."), QString(), QStringLiteral("Backup failed"));
        if (QFProgram::isApplication())
            QFAlert::alertSheetWithMessageText(QStringLiteral("Unable to backup"),
                QStringLiteral("The destination drive is not mounted. Please mount the drive or change the backup path in Preferences."),
                nullptr);
        return;
    }

    const QString base = baseNameForPath(project);
    const QString projectFolder = QFileInfo(toPath).absolutePath();
    // Asked for the XML copy of a version already in the folder (the window's "XML copy … not generated"
    // button): the version stays as it is, with its own screenshot; only its XML copy is made.
    const bool existingVersion = QFileInfo(project).absolutePath() == QFileInfo(toPath).absoluteFilePath()
        && versionNumberOfFile(QFileInfo(project).fileName()) == withNumber && QFileInfo(project).isFile();
    if (!existingVersion)
        takeScreenshot(projectFolder + QStringLiteral("/Screenshots"), base + u'.' + padNumber(withNumber), withNumber);

    if (!QFileInfo(toPath).isDir() && !QDir().mkpath(toPath)) {
        QFLog::appendLog("Error creating directory structure: %@", qfFormat("cannot create %@", toPath));
        return;
    }

    QString created = project;
    const auto error = existingVersion ? std::nullopt : backupProjectFile(project, toPath, withNumber, &created);
    if (error && error->isSkipMarker())
        return;
    const QString name = QFProject::displayNameForPath(project);
    if (error) {
        if (!partOfBatch && growl) {
            QFGrowl::sharedController()->postGrowlNotification(QStringLiteral("Project backup failed"), name, QString(),
                QStringLiteral("Backup failed"));
            setLastAlertShown(QFClock::now());
        }
        QFLog::appendLog("Unable to copy project file %@: %@", name, error->description);
        return;
    }
    if (!partOfBatch && growl && !existingVersion) {
        QFGrowl::sharedController()->postGrowlNotification(QStringLiteral("Project backed up"), name, QString(),
            QStringLiteral("Backup successful"));
        setLastAlertShown(QFClock::now());
    }
    // Dropbox gets the version only once the duplicate test has kept it, whichever way this ends.
    struct Upload {
        QFTombrelBackup *engine;
        QString version;
        ~Upload()
        {
            if (!version.isEmpty() && QFFileManager::existsNoFollow(version))
                engine->uploadFileToCloud(version);
        }
    } upload { this, existingVersion ? QString() : created };

    if (!QFProject::isFinalCutProProject(project))
        return;
    // When the wanted number was taken, the companion belongs to the number the copy got; it must never
    // replace the companion of an existing version.
    const qint64 number = versionNumberOfFile(created).value_or(withNumber);

    qint64 xmlLimit = prefs.integer(QStringLiteral("xmlLimit"), 5);
    const qint64 removeDuplicates = prefs.integer(QStringLiteral("removeDuplicates"), 1);
    if (prefs.fileExists() && prefs.integer(QStringLiteral("generateFCPXML"), 0) != 1)
        xmlLimit = 0;
    if (!force && removeDuplicates == 1)
        removeLastDuplicateForProject(toPath);

    XmlRule rule = xmlRuleFor(xmlLimit);
    if (xmlLimit == 0) {
        if (!force) {
            QFLog::appendLog("XML backups disabled - skipping...");
            return;
        }
    }
    if (force)
        rule = { 0, 0 };
    if (rule.gap > 0 && backupGapForProject(project, toPath, number) < rule.gap) {
        QFLog::appendLog("Skipping XML backup - backup gap set to %li.", long(rule.gap));
        return;
    }
    if (rule.sizeLimit > 0 && qint64(QFFileManager::fileSize(project)) >= rule.sizeLimit && uuid.isEmpty()) {
        QFLog::appendLog("Skipping XML backup - file size limit met.");
        return;
    }

    const std::optional<QByteArray> data = uuid.isEmpty() ? QFAppleEvents::getProjectXMLData(project, launchProj)
                                                          : QFAppleEvents::getItemXMLData(uuid, project, launchProj);
    if (!data || data->isEmpty()) {
        QFLog::appendLog("Invalid XML data");
        return;
    }
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_buffer(data->constData(), size_t(data->size()),
        pugi::parse_default | pugi::parse_declaration | pugi::parse_doctype);
    if (!parsed) {
        QFLog::appendLog("Error initializing XML document: %@", QString::fromUtf8(parsed.description()));
        return;
    }
    std::ostringstream pretty;
    document.save(pretty, "    ", pugi::format_indent, pugi::encoding_utf8);
    const QString xmlPath = toPath + u'/' + qfFormat("%@.%@.xml", base, padNumber(number));
    QString reason;
    const std::string text = pretty.str();
    if (!qfWriteFileAtomically(xmlPath, QByteArray(text.data(), qsizetype(text.size())), &reason)) {
        QFLog::appendLog("Error writing XML file: %@", reason);
        return;
    }
    setXMLFileAssociation(xmlPath);
    if (const auto date = modificationDate(project)) {
        QFile file(xmlPath);
        if (file.open(QIODevice::ReadWrite))
            file.setFileTime(*date, QFileDevice::FileModificationTime);
    }
    if (!force && removeDuplicates == 1)
        removeLastDuplicateForProject(toPath);
}

qint64 QFTombrelBackup::backupGapForProject(const QString &project, const QString &destination, qint64 desiredNumber) const
{
    if (desiredNumber < 2)
        return 0;
    const QString base = baseNameForPath(project);
    qint64 count = 0;
    for (qint64 n = desiredNumber - 1; n >= 1; --n) {
        if (QFileInfo::exists(destination + qfFormat("/%@.%@.xml", base, padNumber(n))))
            break;
        ++count;
    }
    return count;
}

bool QFTombrelBackup::removeLastDuplicateForProject(const QString &versionsFolder)
{
    const QStringList entries = versionEntries(versionsFolder);
    if (entries.size() < 2)
        return false;
    const QString last = versionsFolder + u'/' + entries.last();
    const QString previous = versionsFolder + u'/' + entries.at(entries.size() - 2);
    if (!contentsEqualAtPath(last, previous))
        return false;
    const QFileInfo lastInfo(last);
    const QString stem = lastInfo.fileName().left(lastInfo.fileName().size() - (lastInfo.suffix().isEmpty() ? 0 : lastInfo.suffix().size() + 1));
    const QString xml = versionsFolder + u'/' + stem + QStringLiteral(".xml");
    const QString capture = QFileInfo(versionsFolder).absolutePath() + QStringLiteral("/Screenshots/") + stem + QStringLiteral(".jpg");
    for (const QString &path : { last, xml, capture }) {
        if (path != last && !QFileInfo::exists(path))
            continue;
        QFLog::appendLog("Removing duplicate file %@...", path);
        if (!QFFileManager::removeFile(path, 10) && path == last)
            return false;
    }
    removeNotes(QFileInfo(versionsFolder).absolutePath(), { lastInfo.fileName(), QFileInfo(xml).fileName() });
    return true;
}

void QFTombrelBackup::takeScreenshot(const QString &folder, const QString &filename, qint64 backupNumber)
{
    const QFPreferenceSnapshot prefs = QFPreferenceSnapshot::read();
    if (prefs.integer(QStringLiteral("takeScreenshots"), 1) != 1)
        return;
    QFFileManager::createDirectory(folder);
    const qsizetype dot = filename.lastIndexOf(u'.');
    const QString stem = dot > 0 ? filename.left(dot) : filename;
    qint64 number = backupNumber;
    QString path = qfFormat("%@/%@.%@.jpg", folder, stem, padNumber(number));
    QFLog::appendLog("screenshot path1: %@", path);
    while (QFileInfo::exists(path))
        path = qfFormat("%@/%@.%@.jpg", folder, stem, padNumber(++number));
    QFLog::appendLog("screenshot path2: %@", path);

    const QStringList command = captureCommand(path);
    if (command.isEmpty())
        return;
    QFTaskEx::runTask(command.first(), command.mid(1), 30.0);
    if (!QFileInfo::exists(path))
        return;
    QImageReader reader(path);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() <= kScreenshotWidth)
        return;
    const QImage image = reader.read();
    if (image.isNull())
        return;
    const QImage scaled = scaleImageData(image, QSize(kScreenshotWidth, int(double(size.height()) / size.width() * kScreenshotWidth)));
    QByteArray jpeg;
    {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        scaled.save(&buffer, "JPEG", 70);
    }
    QString reason;
    if (!jpeg.isEmpty())
        qfWriteFileAtomically(path, jpeg, &reason);
}

QImage QFTombrelBackup::scaleImageData(const QImage &image, const QSize &size)
{
    return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

bool QFTombrelBackup::setXMLFileAssociation(const QString &path)
{
    // Type "XML " and creator "KeyG" in the first eight bytes of the 32-byte Finder information.
    QByteArray info(32, '\0');
    const QByteArray native = QFile::encodeName(path);
    const ssize_t existing = ::getxattr(native.constData(), "user.com.apple.FinderInfo", info.data(), size_t(info.size()));
    if (existing < 0)
        info.fill('\0');
    info.replace(0, 8, QByteArray("XML KeyG"));
    return ::setxattr(native.constData(), "user.com.apple.FinderInfo", info.constData(), size_t(info.size()), 0) == 0;
}

QString QFTombrelBackup::annotationForFile(const QString &path)
{
    const QFileInfo info(path);
    const QString projectFolder = QFileInfo(info.absolutePath()).absolutePath();
    const auto notes = QFPropertyList::readDictionary(projectFolder + QStringLiteral("/Annotations.plist"));
    if (!notes)
        return {};
    const QVariant note = notes->value(info.fileName());
    return note.metaType().id() == QMetaType::QString ? note.toString() : QString();
}

QString QFTombrelBackup::currentBundlePath()
{
    // The program's own bundle when it is the application (or lies inside it), else the installed one.
    QString bundle = QFBundle::mainBundlePath();
    while (!bundle.isEmpty()) {
        if (QFBundle::bundleIdentifierOfBundle(bundle) == QLatin1String("com.quenfield.ProTombrel"))
            return bundle;
        const QString outer = QFBundle::bundlePathForExecutable(bundle);
        if (outer == bundle)
            break;
        bundle = outer;
    }
    for (const QString &folder : { QFLocalPaths::applicationDirectory(true), QFLocalPaths::applicationDirectory(false) }) {
        for (const QString &candidate : { folder + QStringLiteral("/Pro Tombrel.app"), folder + QStringLiteral("/Quenfield/Pro Tombrel.app") }) {
            if (QFileInfo(candidate).isDir())
                return candidate;
        }
    }
    return {};
}

void QFTombrelBackup::uploadFileToCloud(const QString &path)
{
    if (!QFDropboxSync::isSyncOn())
        return;
    // Only the application holds the cloud account; other programs hand the file to it. A hand-off that
    // cannot be made leaves the version to the application's next upload.
    if (QFProgram::isApplication()) {
        QFDropboxSync::shared()->uploadVersion(path);
    } else if (!QFAppRequest::requestUpload(path)) {
        const QString projectFolder = QFProjectActions::projectFolderOfVersion(path);
        if (!projectFolder.isEmpty())
            QFProjectActions::notePendingUploads({ projectFolder });
    }
}

QFDropboxClient *QFTombrelBackup::restClient()
{
    return QFDropboxSync::shared()->restClient();
}

void QFTombrelBackup::removeRestClient()
{
    QFDropboxSync::shared()->removeRestClient();
}

void QFTombrelBackup::downloadFile(const QString &remotePath, const QString &localPath)
{
    QFDropboxSync::shared()->downloadFile(remotePath, localPath);
}

void QFTombrelBackup::loadSyncedFileListForProjectUUID(const QString &projectID)
{
    QFDropboxSync::shared()->loadSyncedFileList(projectID);
}

void QFTombrelBackup::processProjects()
{
    processProjectsInPath(QString());
}

void QFTombrelBackup::processProjectsInPath(const QString &prefix)
{
    if (prefix.isEmpty())
        QFLog::appendLog("Processing projects...");
    else
        QFLog::appendLog("Processing projects in %@...", prefix);
    const QList<QFProjectListEntry> list = projects();
    if (list.isEmpty()) {
        QFLog::appendLog("No projects found");
        return;
    }
    const QDateTime alert = lastAlertShown();
    const bool recentAlert = alert.isValid() && alert.msecsTo(QFClock::now()) < 1500;
    QStringList handled;
    int counter = 0;
    const QString root = QFProject::storageRootFromPreferences();

    for (const QFProjectListEntry &entry : list) {
        if (QFShutdown::isRequested()) {
            QFLog::appendLog("Processing projects stopped: the program is ending.");
            return;
        }
        const QString path = QFLocalPaths::expandTilde(entry.path);
        if (!QFileInfo::exists(path) || (!prefix.isEmpty() && !path.startsWith(prefix)))
            continue;
        if (const QString refusal = QFProject::refusalForProjectFile(path); !refusal.isNull()) {
            QFLog::appendLog("Skipping project: %@", refusal);
            continue;
        }
        const QString projectFolder = qfFormat("%@/%@.localized", root, entry.projectID);
        if (handled.contains(projectFolder))
            continue;
        const QString versions = projectFolder + QStringLiteral("/Versions");
        const QStringList entries = versionEntries(versions);
        if (!QFileInfo(projectFolder).isDir() || entries.isEmpty()) {
            backupProject(path, versions, 1, entry.selectedUUID);
            continue;
        }
        const QString last = entries.last();
        QFLog::appendLog("last version: %@", last);
        const auto projectDate = modificationTime(path);
        const auto lastDate = modificationTime(versions + u'/' + last);
        if (!projectDate || !lastDate)
            continue;
        // A last version dated in the future would hide every later save (which is dated now) until that
        // date came: then any other date means a change.
        const bool lastInFuture = *lastDate > QFClock::msecsSinceEpoch();
        if (*projectDate <= *lastDate && !(lastInFuture && *projectDate != *lastDate))
            continue;
        const qint64 number = versionNumberOfFile(last).value_or(0) + 1;
        ++counter;
        const bool batch = counter > 3 || recentAlert;
        backupProject(path, versions, number, entry.selectedUUID, false, false, batch);
        handled << projectFolder;
        if (counter % 10 == 0)
            QFHelperConnection::postFilesBackedUp();
    }

    manageBackups();

    const QString caches = cachesFolder();
    if (!QFFileManager::createDirectory(caches, 15)) {
        QFLog::appendLog("Unable to create cache folder %@", caches);
    } else if (QFBundle::infoDictionary().contains(QStringLiteral("QFCacheVersion"))) {
        const QVariant cacheVersion = QFBundle::objectForInfoKey(QStringLiteral("QFCacheVersion"));
        for (const QString &projectFolder : std::as_const(handled)) {
            if (!QFileInfo(projectFolder).isDir())
                continue;
            auto cache = cacheForProject(projectFolder);
            if (!cache)
                continue;
            cache->insert(QStringLiteral("version"), cacheVersion);
            storeInCache(cacheFileForProject(projectFolder), *cache);
        }
    }
    if (counter > 0)
        QFHelperConnection::postFilesBackedUp();
}
