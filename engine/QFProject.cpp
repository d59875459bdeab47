#include "engine/QFProject.h"

#include "foundation/QFAppleEvents.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFFileCopy.h"
#include "foundation/platform/QFFileLock.h"
#include "foundation/platform/QFFormat.h"
#include "foundation/platform/QFPropertyList.h"
#include "foundation/platform/QFUserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/xattr.h>
#include <unistd.h>

namespace {

const QString kSettingsFile = QStringLiteral("Settings.plist");
const QString kStoragePathKey = QStringLiteral("storagePath");

// A usable storagePath setting: a non-empty string. Anything else counts as no setting, so that a
// damaged preference never turns "/" into the storage root.
QString storagePathFrom(const QVariant &value)
{
    if (value.metaType().id() != QMetaType::QString)
        return {};
    const QString path = value.toString().trimmed();
    return path.isEmpty() ? QString() : QDir::cleanPath(QFLocalPaths::expandTilde(path));
}

QString lastPathComponent(const QString &path)
{
    const QString cleaned = QDir::cleanPath(path);
    return cleaned.mid(cleaned.lastIndexOf(u'/') + 1);
}

// The name without its extension; a leading dot does not start an extension.
QString deletingPathExtension(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.left(dot) : name;
}

bool userCanWriteAndDelete(const QString &folder)
{
    const QByteArray self = QFile::encodeName(folder);
    const QByteArray parent = QFile::encodeName(QFileInfo(folder).absolutePath());
    return ::access(self.constData(), W_OK | X_OK) == 0 && ::access(parent.constData(), W_OK | X_OK) == 0;
}

void prepareFolder(const QString &folder)
{
    if (!QFileInfo(folder).isDir())
        QFFileManager::createDirectory(folder, 10);
    if (QFileInfo(folder).isDir() && !userCanWriteAndDelete(folder))
        QFFileManager::setPosixPermissions(0777, folder);
}

// A strings-file value: quotes and backslashes in a name would otherwise end the entry early.
QString stringsEscaped(const QString &text)
{
    QString escaped = text;
    escaped.replace(u'\\', QStringLiteral("\\\\"));
    escaped.replace(u'"', QStringLiteral("\\\""));
    return escaped;
}

std::optional<QFProjectSequences> sequencesFrom(const QVariant &value)
{
    if (value.metaType().id() != QMetaType::QVariantList)
        return std::nullopt;
    QFProjectSequences sequences;
    for (const QVariant &item : value.toList()) {
        const auto sequence = QFProjectSequence::fromDictionary(item);
        if (!sequence)
            return std::nullopt;
        sequences << *sequence;
    }
    return sequences;
}

QVariantList sequencesToList(const QFProjectSequences &sequences)
{
    QVariantList list;
    for (const QFProjectSequence &sequence : sequences)
        list << sequence.toDictionary();
    return list;
}

} // namespace

QVariantMap QFProjectSequence::toDictionary() const
{
    return { { QStringLiteral("name"), name }, { QStringLiteral("uuid"), uuid } };
}

std::optional<QFProjectSequence> QFProjectSequence::fromDictionary(const QVariant &value)
{
    if (value.metaType().id() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap map = value.toMap();
    const QVariant name = map.value(QStringLiteral("name"));
    const QVariant uuid = map.value(QStringLiteral("uuid"));
    if (name.metaType().id() != QMetaType::QString || uuid.metaType().id() != QMetaType::QString)
        return std::nullopt;
    return QFProjectSequence { name.toString(), uuid.toString() };
}

QVariantMap QFProjectListEntry::toDictionary() const
{
    QVariantMap map { { QStringLiteral("path"), path }, { QStringLiteral("projectID"), projectID } };
    if (sequences)
        map.insert(QStringLiteral("sequences"), sequencesToList(*sequences));
    if (!selectedUUID.isNull())
        map.insert(QStringLiteral("selectedUUID"), selectedUUID);
    return map;
}

QFProject QFProject::recordWithPath(
    const QString &path, const std::optional<QFProjectSequences> &sequences, const QString &projectID)
{
    QFProject project;
    project.m_projectPath = path;
    project.m_projectID = projectID.isEmpty() ? QFAppleEvents::generateUUID() : projectID;
    if (isFinalCutProProject(project.expandedProjectPath())) {
        project.m_type = FinalCutProProject;
        project.m_selectedUUID = QString();
        project.m_sequences = sequences;
    } else {
        project.m_type = OtherFile;
    }
    project.updateFriendlyName();
    return project;
}

QFProject QFProject::projectWithPath(
    const QString &path, const std::optional<QFProjectSequences> &sequences, const QString &projectID)
{
    QFProject project = recordWithPath(path, sequences, projectID);
    project.updateLocalization();
    // An existing settings file is the user's choice of sequence: never overwrite it from here.
    const QString folder = project.destinationPath();
    if (!folder.isEmpty() && !QFileInfo::exists(folder + u'/' + kSettingsFile))
        project.saveSettings();
    return project;
}

QString QFProject::refusalForProjectFile(const QString &path)
{
    const QString name = QFileInfo(QDir::cleanPath(path)).fileName();
    if (name.startsWith(u'.'))
        return qfFormat(
            "%@ cannot be versioned: its name begins with \".\", so its versions would be hidden. Rename it.", path);
    return {};
}

QString QFProject::expandedProjectPath() const
{
    return QFLocalPaths::expandTilde(m_projectPath);
}

QString QFProject::destinationPath() const
{
    if (m_projectID.isEmpty())
        return {};
    return storageRoot() + qfFormat("/%@.localized", m_projectID);
}

QString QFProject::displayNameForPath(const QString &path)
{
    const QString name = lastPathComponent(path);
    if (name == QLatin1String("CurrentVersion.fcpproject") || name == QLatin1String("CurrentVersion.fcpevent")) {
        // Inside a project or event bundle: the bundle folder is what the user knows.
        return lastPathComponent(QFileInfo(QDir::cleanPath(path)).path());
    }
    return name;
}

void QFProject::updateFriendlyName()
{
    const QString shown = displayNameForPath(m_projectPath);
    // A bundle keeps its whole name; a file is named without its extension.
    m_friendlyName = shown == lastPathComponent(m_projectPath) ? deletingPathExtension(shown) : shown;
}

void QFProject::updateLocalization() const
{
    const QString folder = destinationPath();
    if (folder.isEmpty())
        return;
    prepareFolder(folder);
    const QString localized = folder + QStringLiteral("/.localized");
    prepareFolder(localized);

    // Written once: a later rename of the project leaves the folder's shown name alone.
    const QString strings = localized + QStringLiteral("/en.strings");
    if (QFileInfo::exists(strings) || !QFileInfo(localized).isDir())
        return;
    const QString name = m_friendlyName.isNull() ? lastPathComponent(m_projectPath) : m_friendlyName;
    QString reason;
    if (!qfWriteFileAtomically(
            strings, qfFormat("\"%@\" = \"%@\";", stringsEscaped(m_projectID), stringsEscaped(name)).toUtf8(), &reason))
        QFLog::appendLog("Unable to write %@: %@", strings, reason);
}

bool QFProject::saveSettings() const
{
    const QString folder = destinationPath();
    if (folder.isEmpty())
        return false;
    QVariantMap settings { { QStringLiteral("projectPath"), expandedProjectPath() } };
    if (m_sequences)
        settings.insert(QStringLiteral("sequences"), sequencesToList(*m_sequences));
    if (!m_selectedUUID.isNull())
        settings.insert(QStringLiteral("selectedUUID"), m_selectedUUID);
    const QString path = folder + u'/' + kSettingsFile;
    const QFFileLock lock(path);
    QString reason;
    if (!QFPropertyList::write(path, settings, &reason)) {
        QFLog::appendLog("Unable to write %@: %@", path, reason);
        return false;
    }
    return true;
}

int QFProject::nameCompare(const QFProject &other) const
{
    const QString mine = m_friendlyName.isNull() ? lastPathComponent(m_projectPath) : m_friendlyName;
    const QString theirs
        = other.m_friendlyName.isNull() ? lastPathComponent(other.m_projectPath) : other.m_friendlyName;
    const int order = mine.compare(theirs, Qt::CaseInsensitive);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

bool QFProject::isFinalCutProProject(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QString name = lastPathComponent(path);
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot > 0 && name.mid(dot + 1).toLower() == QLatin1String("fcp"))
        return true;
    char info[32] = {};
    const ssize_t size = ::getxattr(
        QFile::encodeName(QFLocalPaths::expandTilde(path)).constData(), "user.com.apple.FinderInfo", info, sizeof info);
    return size >= 4 && info[0] == 'F' && info[1] == 'C' && info[2] == 'P' && info[3] == 'F';
}

QString QFProject::preferenceFilePath()
{
    return QFLocalPaths::prefsDirectory(true) + QStringLiteral("/com.quenfield.ProTombrel.plist");
}

QString QFProject::defaultStorageRoot()
{
    return QFLocalPaths::appSupportDirectory(true) + QStringLiteral("/Quenfield/Pro Tombrel/Projects");
}

QString QFProject::storageRootFromPreferences()
{
    const auto prefs = QFPropertyList::readDictionary(preferenceFilePath());
    if (prefs) {
        const QString stored = storagePathFrom(prefs->value(kStoragePathKey));
        if (!stored.isEmpty())
            return stored;
    }
    return defaultStorageRoot();
}

QString QFProject::storageRoot()
{
    const QString own = storagePathFrom(QFUserDefaults::standard().objectForKey(kStoragePathKey));
    return own.isEmpty() ? storageRootFromPreferences() : own;
}

std::optional<QFProjectListEntry> QFProject::readProjectFolder(const QString &folder)
{
    const auto settings = QFPropertyList::readDictionary(folder + u'/' + kSettingsFile);
    if (!settings)
        return std::nullopt;
    const QVariant path = settings->value(QStringLiteral("projectPath"));
    if (path.metaType().id() != QMetaType::QString || path.toString().isEmpty())
        return std::nullopt;
    QFProjectListEntry entry;
    entry.path = path.toString();
    entry.projectID = deletingPathExtension(lastPathComponent(folder));
    entry.sequences = sequencesFrom(settings->value(QStringLiteral("sequences")));
    const QVariant selected = settings->value(QStringLiteral("selectedUUID"));
    if (selected.metaType().id() == QMetaType::QString)
        entry.selectedUUID = selected.toString();
    return entry;
}

QList<QFProjectListEntry> QFProject::projectsInStorageRoot(bool logged)
{
    const QString root = storageRoot();
    QList<QFProjectListEntry> projects;
    const QStringList names
        = QDir(root).entryList(QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names) {
        const QString folder = root + u'/' + name;
        if (logged && QFileInfo::exists(folder + u'/' + kSettingsFile))
            QFLog::appendLog("Found %@...", name);
        if (auto entry = readProjectFolder(folder)) {
            if (logged)
                QFLog::appendLog("Linked project: %@.", entry->path);
            projects << *entry;
        }
    }
    return projects;
}
