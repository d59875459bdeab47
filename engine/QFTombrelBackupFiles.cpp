// The names and files of the version store: version numbers and names, the Versions folder's entries,
// byte comparison of versions, notes, and where the caches and the application bundle are.

#include "engine/QFTombrelBackup.h"

#include "engine/QFVersionsFolder.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFPropertyList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

const QString kErrorDomain = QStringLiteral("QFProTombrelErrorDomain");

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
        const QStringList ea
            = QDir(a).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        const QStringList eb
            = QDir(b).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
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

QFBackupError QFBackupError::skipMarker()
{
    return { kErrorDomain, 0, QString() };
}

bool QFBackupError::isSkipMarker() const
{
    return domain == kErrorDomain && code == 0 && description.isEmpty();
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
    return QFVersionsFolder::versionNumber(name);
}

QStringList QFTombrelBackup::versionEntries(const QString &versionsFolder)
{
    return QFVersionsFolder::entryNames(versionsFolder);
}

bool QFTombrelBackup::isXMLCompanion(const QString &versionsFolder, const QString &name)
{
    return QFVersionsFolder::isXMLCopy(versionsFolder, name);
}

std::optional<qint64> QFTombrelBackup::modificationTime(const QString &path)
{
    struct stat info { };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return qint64(info.st_mtim.tv_sec) * 1000 + qint64(info.st_mtim.tv_nsec / 1000000);
}

QString QFTombrelBackup::cachesFolder()
{
    return QFLocalPaths::appSupportDirectory(true) + QStringLiteral("/Quenfield/Pro Tombrel/Caches");
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
    for (const QString &folder :
        { QFLocalPaths::applicationDirectory(true), QFLocalPaths::applicationDirectory(false) }) {
        for (const QString &candidate :
            { folder + QStringLiteral("/Pro Tombrel.app"), folder + QStringLiteral("/Quenfield/Pro Tombrel.app") }) {
            if (QFileInfo(candidate).isDir())
                return candidate;
        }
    }
    return {};
}
