// The sync object's answers that need no object: which store the preferences choose, and the names and
// paths of versions and project folders on it.

#include "engine/QFDropboxSync.h"

#include "engine/QFDropboxAccount.h"
#include "engine/QFPreferenceSnapshot.h"
#include "engine/QFRcloneClient.h"
#include "foundation/platform/QFFormat.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

// The longest file name local file systems take, in bytes.
constexpr qsizetype kNameMax = 255;

bool refuseName(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

bool isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7f && c < 0xa0) || c == 0x2028 || c == 0x2029;
}

bool hasExtension(const QString &path, QLatin1String extension)
{
    return QFileInfo(path).suffix().compare(extension, Qt::CaseInsensitive) == 0;
}

} // namespace

QFDropboxSync::Service QFDropboxSync::service()
{
    return serviceOf(QFPreferenceSnapshot::read());
}

QFDropboxSync::Service QFDropboxSync::serviceOf(const QFPreferenceSnapshot &preferences)
{
    switch (preferences.intValue(QStringLiteral("syncService"))) {
    case 1:
        return Service::Dropbox;
    case 2:
        return Service::Rclone;
    default:
        return Service::None;
    }
}

bool QFDropboxSync::isSyncOn()
{
    return service() != Service::None;
}

QString QFDropboxSync::syncRemote()
{
    return QFPreferenceSnapshot::read().stringValue(QStringLiteral("syncRemote")).trimmed();
}

bool QFDropboxSync::isReady(QString *why)
{
    const auto refuse = [why](const QString &text) {
        if (why)
            *why = text;
        return false;
    };
    switch (service()) {
    case Service::None:
        return refuse(QStringLiteral(
            "sync is off; turn it on with: tombrel prefs set syncService 1 (Dropbox) or 2 (an rclone remote)"));
    case Service::Dropbox:
        if (!QFDropboxAccount::isLinked())
            return refuse(QStringLiteral("no Dropbox account is linked; link one with: tombrel sync link"));
        return true;
    case Service::Rclone: {
        const QString remote = syncRemote();
        QString reason;
        if (remote.isEmpty())
            return refuse(
                QStringLiteral("no rclone remote is chosen; choose one with: tombrel prefs set syncRemote NAME:path"));
        if (!QFRcloneClient::isRemoteSpec(remote, &reason))
            return refuse(QStringLiteral("syncRemote: %1").arg(reason));
        return true;
    }
    }
    return false;
}

QString QFDropboxSync::storeName()
{
    return service() == Service::Rclone ? syncRemote() : QStringLiteral("Dropbox");
}

QString QFDropboxSync::projectIDForVersion(const QString &versionPath)
{
    // The version lies in <ID>.localized/Versions; the identifier is that folder's name without extension.
    QDir folder = QFileInfo(versionPath).dir();
    folder.cdUp();
    const QString name = QFileInfo(folder.path()).fileName();
    const int dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.left(dot) : name;
}

QString QFDropboxSync::syncedVersionFile(const QString &versionPath)
{
    if (!hasExtension(versionPath, QLatin1String("xml")))
        return versionPath;
    const QFileInfo info(versionPath);
    const QString binary = info.path() + u'/' + info.completeBaseName() + QStringLiteral(".fcp");
    return QFileInfo::exists(binary) ? binary : versionPath;
}

QString QFDropboxSync::remotePathForVersion(const QString &versionPath)
{
    return qfFormat("/%@/%@.zip", projectIDForVersion(versionPath), QFileInfo(versionPath).fileName());
}

QStringList QFDropboxSync::remotePathsForVersion(const QString &versionPath)
{
    const QString synced = syncedVersionFile(versionPath);
    const QString folder = u'/' + projectIDForVersion(synced);
    const QString name = QFileInfo(synced).fileName();
    QStringList paths { folder + u'/' + name + QStringLiteral(".zip"), folder + u'/' + name };
    if (synced == versionPath && hasExtension(versionPath, QLatin1String("xml"))) {
        const QString binary = QFileInfo(versionPath).completeBaseName() + QStringLiteral(".fcp");
        paths << folder + u'/' + binary + QStringLiteral(".zip") << folder + u'/' + binary;
    }
    return paths;
}

QString QFDropboxSync::remotePathForProject(const QString &projectFolder)
{
    const QString name = QFileInfo(QDir::cleanPath(projectFolder)).fileName();
    const int dot = name.lastIndexOf(u'.');
    return u'/' + (dot > 0 ? name.left(dot) : name);
}

bool QFDropboxSync::isRemoteName(const QString &name, QString *error)
{
    if (name.isEmpty())
        return refuseName(error, QStringLiteral("an empty name"));
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return refuseName(error, QStringLiteral("not a file name"));
    if (name.contains(u'/') || name.contains(u'\\'))
        return refuseName(error, QStringLiteral("more than one path component"));
    for (const char32_t c : name.toUcs4()) {
        if (isControl(c))
            return refuseName(error, QStringLiteral("a control character in the name"));
    }
    if (name.toUtf8().size() > kNameMax)
        return refuseName(error, QStringLiteral("a name longer than %1 bytes").arg(kNameMax));
    return true;
}

bool QFDropboxSync::isVersionFileName(const QString &name)
{
    // The project file's base name, the version number of five digits or more, then its extension if any.
    static const QRegularExpression pattern(
        QStringLiteral("^[^.].*\\.[0-9]{5,}(\\.[^.]+)?$"), QRegularExpression::DotMatchesEverythingOption);
    return isRemoteName(name) && pattern.match(name).hasMatch();
}

std::optional<QString> QFDropboxSync::remotePathInProject(
    const QString &projectID, const QString &remoteName, QString *error)
{
    QString why;
    if (!isRemoteName(projectID, &why)) {
        if (error)
            *error = qfFormat("“%@” is not a project folder in Dropbox (%@)", printableName(projectID), why);
        return std::nullopt;
    }
    if (!isRemoteName(remoteName, &why)) {
        if (error)
            *error = qfFormat(
                "“%@” is not a file of the project's folder in Dropbox (%@)", printableName(remoteName), why);
        return std::nullopt;
    }
    return qfFormat("/%@/%@", projectID, remoteName);
}

QString QFDropboxSync::printableName(const QString &name)
{
    constexpr qsizetype kShown = 300;
    QString out;
    qsizetype shown = 0;
    for (const char32_t c : name.toUcs4()) {
        if (++shown > kShown) {
            out += QStringLiteral("…");
            break;
        }
        const QChar::Category category = QChar::category(c);
        const bool printable = !isControl(c) && category != QChar::Other_Format && category != QChar::Other_Surrogate
            && category != QChar::Other_NotAssigned && category != QChar::Other_PrivateUse;
        if (printable)
            out += QString::fromUcs4(&c, 1);
        else
            out += QStringLiteral("<U+%1>").arg(QString::number(uint(c), 16).toUpper().rightJustified(4, u'0'));
    }
    return out;
}
