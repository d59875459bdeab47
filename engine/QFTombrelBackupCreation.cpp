// Making versions: the numbered copy of a project file, its screen capture and XML companion, and the
// duplicate test.

#include "engine/QFTombrelBackup.h"

#include "engine/QFPreferenceSnapshot.h"
#include "engine/QFProject.h"
#include "engine/QFVersionsFolder.h"
#include "foundation/QFAlert.h"
#include "foundation/QFAppleEvents.h"
#include "foundation/QFClock.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFGrowl.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/QFTaskEx.h"
#include "foundation/platform/QFProgramRole.h"
#include "foundation/platform/QFFileCopy.h"

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
    return prefs.intValue(QStringLiteral("showGrowlAlerts")) != 0;
}

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

std::optional<QFBackupError> QFTombrelBackup::backupProjectFile(
    const QString &path, const QString &toPath, qint64 withNumber, QString *createdPath, QString *skipReason)
{
    const auto skip = [skipReason](const QString &why) {
        if (skipReason)
            *skipReason = why;
        return QFBackupError::skipMarker();
    };
    QFLog::appendLog("Backing up project file %@ to %@...", path, toPath);
    const QString source = QFLocalPaths::expandTilde(path);
    const QFileInfo info(source);
    if (!info.exists() || QFFileManager::fileSize(source) == 0)
        return skip(qfFormat("the project file %@ is empty or cannot be read", source));
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
        return skip(qfFormat("%@ is being backed up already", source));
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
        return skip(qfFormat("%@ is still being written", source));

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
            return skip(qfFormat("the link %@ names no file", source));
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

QFBackupResult QFTombrelBackup::backupProject(const QString &path, const QString &toPath, qint64 withNumber,
    const QString &uuid, bool launchProj, bool force, bool partOfBatch)
{
    QFBackupResult result;
    result.project = path;
    const auto end = [&result](QFBackupResult::Outcome outcome, const QString &reason) {
        result.outcome = outcome;
        result.reason = reason;
        return result;
    };
    const QString project = QFLocalPaths::expandTilde(path);
    if (!QFileInfo::exists(project)) {
        QFLog::appendLog("Unable to backup - %@ doesn't exist", path);
        return end(QFBackupResult::Outcome::SourceMissing, qfFormat("%@ does not exist", path));
    }
    const QFPreferenceSnapshot prefs = QFPreferenceSnapshot::read();

    if (!force && prefs.intValue(QStringLiteral("backupMinIntervalEnabled")) == 1) {
        const QList<QFVersionsFolderEntry> entries = QFVersionsFolder::versions(toPath);
        if (!entries.isEmpty()) {
            const QString last = toPath + u'/' + entries.last().name;
            const qint64 minutes = std::clamp<qint64>(prefs.intValue(QStringLiteral("backupMinInterval")), 0, 525600);
            const auto date = modificationDate(last);
            const QDateTime now = QFClock::now();
            // A version dated in the future (its project came with another machine's clock) tells
            // nothing about when the last backup was made.
            if (date && *date <= now && date->secsTo(now) < minutes * 60) {
                QFLog::appendLog(
                    "Backup skipped for %@ because a backup occurred less than %i minute(s) ago.", path, int(minutes));
                return end(QFBackupResult::Outcome::SkippedByRule,
                    qfFormat("a backup occurred less than %i minute(s) ago", int(minutes)));
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
                QStringLiteral("The destination drive is not mounted. Please mount the drive or change the backup path "
                               "in Preferences."),
                nullptr);
        return end(QFBackupResult::Outcome::Failed, QStringLiteral("the destination drive is not mounted"));
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
        const QString description = qfFormat("cannot create %@", toPath);
        QFLog::appendLog("Error creating directory structure: %@", description);
        return end(QFBackupResult::Outcome::Failed, description);
    }

    QString created = project;
    QString skipped;
    const auto error
        = existingVersion ? std::nullopt : backupProjectFile(project, toPath, withNumber, &created, &skipped);
    if (error && error->isSkipMarker())
        return end(QFBackupResult::Outcome::SkippedByRule, skipped);
    const QString name = QFProject::displayNameForPath(project);
    if (error) {
        if (!partOfBatch && growl) {
            QFGrowl::sharedController()->postGrowlNotification(
                QStringLiteral("Project backup failed"), name, QString(), QStringLiteral("Backup failed"));
            setLastAlertShown(QFClock::now());
        }
        QFLog::appendLog("Unable to copy project file %@: %@", name, error->description);
        return end(QFBackupResult::Outcome::Failed, error->description);
    }
    if (!partOfBatch && growl && !existingVersion) {
        QFGrowl::sharedController()->postGrowlNotification(
            QStringLiteral("Project backed up"), name, QString(), QStringLiteral("Backup successful"));
        setLastAlertShown(QFClock::now());
    }
    // When the wanted number was taken, the companion belongs to the number the copy got; it must never
    // replace the companion of an existing version.
    result.version = created;
    result.number = versionNumberOfFile(created).value_or(withNumber);
    if (QFProject::isFinalCutProProject(project))
        result.xmlCopy = backupXMLCopy(project, toPath, result.number, uuid, launchProj, force, prefs);
    if (existingVersion)
        return end(QFBackupResult::Outcome::SkippedByRule,
            QStringLiteral("the version exists; only its XML copy was asked for"));
    // Dropbox gets the version only once the duplicate test has kept it.
    if (!QFFileManager::existsNoFollow(created)) {
        result.version.clear();
        if (!QFFileManager::existsNoFollow(result.xmlCopy))
            result.xmlCopy.clear();
        return end(QFBackupResult::Outcome::IdenticalToPrevious,
            QStringLiteral("the project has not changed since its last version"));
    }
    uploadFileToCloud(created);
    return end(QFBackupResult::Outcome::Made, QString());
}

QString QFTombrelBackup::backupXMLCopy(const QString &project, const QString &toPath, qint64 number,
    const QString &uuid, bool launchProj, bool force, const QFPreferenceSnapshot &prefs)
{
    qint64 xmlLimit = prefs.intValue(QStringLiteral("xmlLimit"));
    const qint64 removeDuplicates = prefs.intValue(QStringLiteral("removeDuplicates"));
    if (prefs.fileExists() && prefs.intValue(QStringLiteral("generateFCPXML")) != 1)
        xmlLimit = 0;
    if (!force && removeDuplicates == 1)
        removeLastDuplicateForProject(toPath);

    XmlRule rule = xmlRuleFor(xmlLimit);
    if (xmlLimit == 0) {
        if (!force) {
            QFLog::appendLog("XML backups disabled - skipping...");
            return {};
        }
    }
    if (force)
        rule = { 0, 0 };
    if (rule.gap > 0 && backupGapForProject(project, toPath, number) < rule.gap) {
        QFLog::appendLog("Skipping XML backup - backup gap set to %li.", long(rule.gap));
        return {};
    }
    if (rule.sizeLimit > 0 && qint64(QFFileManager::fileSize(project)) >= rule.sizeLimit && uuid.isEmpty()) {
        QFLog::appendLog("Skipping XML backup - file size limit met.");
        return {};
    }

    const std::optional<QByteArray> data = uuid.isEmpty() ? QFAppleEvents::getProjectXMLData(project, launchProj)
                                                          : QFAppleEvents::getItemXMLData(uuid, project, launchProj);
    if (!data || data->isEmpty()) {
        QFLog::appendLog("Invalid XML data");
        return {};
    }
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_buffer(
        data->constData(), size_t(data->size()), pugi::parse_default | pugi::parse_declaration | pugi::parse_doctype);
    if (!parsed) {
        QFLog::appendLog("Error initializing XML document: %@", QString::fromUtf8(parsed.description()));
        return {};
    }
    std::ostringstream pretty;
    document.save(pretty, "    ", pugi::format_indent, pugi::encoding_utf8);
    const QString xmlPath = toPath + u'/' + qfFormat("%@.%@.xml", baseNameForPath(project), padNumber(number));
    QString reason;
    const std::string text = pretty.str();
    if (!qfWriteFileAtomically(xmlPath, QByteArray(text.data(), qsizetype(text.size())), &reason)) {
        QFLog::appendLog("Error writing XML file: %@", reason);
        return {};
    }
    setXMLFileAssociation(xmlPath);
    if (const auto date = modificationDate(project)) {
        QFile file(xmlPath);
        if (file.open(QIODevice::ReadWrite))
            file.setFileTime(*date, QFileDevice::FileModificationTime);
    }
    if (!force && removeDuplicates == 1)
        removeLastDuplicateForProject(toPath);
    return xmlPath;
}

qint64 QFTombrelBackup::backupGapForProject(
    const QString &project, const QString &destination, qint64 desiredNumber) const
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
    const QString stem = lastInfo.fileName().left(
        lastInfo.fileName().size() - (lastInfo.suffix().isEmpty() ? 0 : lastInfo.suffix().size() + 1));
    const QString xml = versionsFolder + u'/' + stem + QStringLiteral(".xml");
    const QString capture
        = QFileInfo(versionsFolder).absolutePath() + QStringLiteral("/Screenshots/") + stem + QStringLiteral(".jpg");
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
    if (prefs.intValue(QStringLiteral("takeScreenshots")) != 1)
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
    const QImage scaled
        = scaleImageData(image, QSize(kScreenshotWidth, int(double(size.height()) / size.width() * kScreenshotWidth)));
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
    const ssize_t existing
        = ::getxattr(native.constData(), "user.com.apple.FinderInfo", info.data(), size_t(info.size()));
    if (existing < 0)
        info.fill('\0');
    info.replace(0, 8, QByteArray("XML KeyG"));
    return ::setxattr(native.constData(), "user.com.apple.FinderInfo", info.constData(), size_t(info.size()), 0) == 0;
}
