#include "tools/installer/QFInstaller.h"

#include "tools/QFInstallReceipt.h"

#include "foundation/QFAuthorization.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/QFTaskEx.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFPropertyList.h"
#include "foundation/platform/QFUserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

const char *const kPredecessor = "com.quenfield.fcptombrel";

bool fail(QString *error, const QString &reason)
{
    QFLog::appendText(reason);
    if (error)
        *error = reason;
    return false;
}

// Writes a small file, through the administrator where the folder is not the user's.
bool writeFile(const QString &path, const QByteArray &contents, bool user)
{
    if (user) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QSaveFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size() && file.commit();
    }
    const QString staged = QFLocalPaths::tempFile();
    QFile file(staged);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        return false;
    file.close();
    QFAuthorization::sharedController()->authCreateDir(QFileInfo(path).absolutePath(), true);
    const bool copied = QFAuthorization::sharedController()->authCopyFile(staged, path, true);
    QFile::remove(staged);
    return copied;
}

QByteArray desktopEntry(const QString &bundle)
{
    return QStringLiteral(
        "[Desktop Entry]\nType=Application\nName=Pro Tombrel\nGenericName=Project Versions\n"
        "Comment=Keeps numbered versions of your editing projects\nExec=\"%1/Contents/MacOS/Pro Tombrel\" %F\n"
        "Icon=pro-tombrel\nTerminal=false\nCategories=AudioVideo;Video;Utility;\nStartupWMClass=Pro Tombrel\n"
        "Keywords=versions;backup;project;editor;\n")
        .arg(bundle)
        .toUtf8();
}

} // namespace

QString QFInstaller::payloadPath()
{
    const QString given = QFUserDefaults::standard().stringForKey(QStringLiteral("payload"));
    if (!given.isEmpty())
        return given;
    return QFBundle::mainBundlePath() + QStringLiteral("/Contents/Resources/Pro Tombrel.app");
}

QString QFInstaller::uninstallerArchivePath()
{
    return QFBundle::pathForResource(QStringLiteral("FCP Tombrel Uninstaller"), QStringLiteral("zip"));
}

bool QFInstaller::predecessorInstalled()
{
    return !QFBundle::installedBundleWithIdentifier(QString::fromLatin1(kPredecessor)).isEmpty();
}

QString QFInstaller::userDestination()
{
    return QFLocalPaths::applicationDirectory(true);
}

QString QFInstaller::machineDestination()
{
    return QFLocalPaths::applicationDirectory(false);
}

bool QFInstaller::install(const QString &folder, QString *error)
{
    const QString payload = payloadPath();
    if (QFBundle::bundleIdentifierOfBundle(payload).isEmpty())
        return fail(error, QStringLiteral("The installer carries no application to install (%1).").arg(payload));
    if (folder.isEmpty())
        return fail(error, QStringLiteral("No destination folder was given."));
    // The user's own installation lies in the home the user's folders are in (root's own, with nobody at
    // the console); anything else is the machine's.
    const QString home = QFLocalPaths::userDomainHome();
    const QString clean = QDir::cleanPath(folder);
    const bool user = home.size() > 1 && (clean == home || clean.startsWith(home + u'/'));
    const QString bundle = QDir::cleanPath(folder) + QStringLiteral("/Pro Tombrel.app");
    QFLog::appendLog("Installing %@ into %@...", payload, folder);

    // A bundle already there is replaced: the old one goes to the Trash first (the user's), never merged.
    if (QFFileManager::existsNoFollow(bundle) && !QFFileManager::trashFile(bundle, !user))
        return fail(
            error, QStringLiteral("The application already in %1 could not be moved to the Trash.").arg(folder));
    if (user) {
        QDir().mkpath(folder);
        if (!QFFileManager::copyFile(payload, bundle, false))
            return fail(error, QStringLiteral("Unable to copy Pro Tombrel into %1.").arg(folder));
    } else {
        QFAuthorization::sharedController()->authCreateDir(folder, true);
        if (!QFAuthorization::sharedController()->authCopyFile(payload, bundle, true))
            return fail(error, QStringLiteral("The administrator's copy into %1 failed.").arg(folder));
    }

    const QString share = QFLocalPaths::appSupportDirectory(user);
    QFInstallReceipt receipt;
    receipt.identifier = QFBundle::bundleIdentifierOfBundle(payload);
    receipt.version
        = QFBundle::infoDictionaryOfBundle(payload).value(QStringLiteral("CFBundleShortVersionString")).toString();
    receipt.bundlePath = bundle;
    receipt.desktopEntry = share + QStringLiteral("/applications/pro-tombrel.desktop");
    receipt.iconPath = share + QStringLiteral("/icons/hicolor/scalable/apps/pro-tombrel.svg");
    receipt.commandLink
        = QFLocalPaths::pathForDirectory(QFLocalPaths::Directory::Binaries, user) + QStringLiteral("/tombrel");

    QFile icon(payload + QStringLiteral("/Contents/Resources/pro-tombrel.svg"));
    const QByteArray iconData = icon.open(QIODevice::ReadOnly) ? icon.readAll() : QByteArray();
    if (!writeFile(receipt.desktopEntry, desktopEntry(bundle), user))
        return fail(error, QStringLiteral("Unable to write the desktop entry %1.").arg(receipt.desktopEntry));
    if (iconData.isEmpty() || !writeFile(receipt.iconPath, iconData, user))
        receipt.iconPath.clear();

    const QString tombrel = bundle + QStringLiteral("/Contents/MacOS/tombrel");
    if (user) {
        QDir().mkpath(QFileInfo(receipt.commandLink).absolutePath());
        QFile::remove(receipt.commandLink);
        if (!QFile::link(tombrel, receipt.commandLink))
            receipt.commandLink.clear();
    } else if (QFAuthorization::sharedController()->authExecTask(QStringLiteral("/bin/ln"),
                   { QStringLiteral("-sf"), QStringLiteral("--"), tombrel, receipt.commandLink }, false)
        != 0) {
        receipt.commandLink.clear();
    }

    QString reason;
    const QString receiptPath = QFInstallReceipt::path(receipt.identifier, user);
    if (user ? !receipt.write(receiptPath, &reason)
             : !writeFile(receiptPath, QFPropertyList::toXml(receipt.toDictionary()), false))
        return fail(error, QStringLiteral("Unable to write the receipt %1: %2").arg(receiptPath, reason));
    QFFileManager::registerApplicationWithLaunchServices(bundle);
    QFLog::appendLog("Installed %@.", bundle);
    return true;
}

QString QFInstaller::launchPredecessorUninstaller(QString *error)
{
    const QString archive = uninstallerArchivePath();
    if (archive.isEmpty() || !QFileInfo::exists(archive)) {
        fail(error, QStringLiteral("The installer carries no uninstaller for FCP Tombrel."));
        return {};
    }
    // Each press unpacks into a folder of its own.
    const QString folder = QFLocalPaths::tempFile();
    if (!QFFileManager::decompressFile(archive, folder)) {
        fail(error, QStringLiteral("Unable to unpack the uninstaller of FCP Tombrel."));
        return {};
    }
    const QString bundle = folder + QStringLiteral("/FCP Tombrel Uninstaller.app");
    const QString name
        = QFBundle::infoDictionaryOfBundle(bundle).value(QStringLiteral("CFBundleExecutable")).toString();
    if (name.isEmpty() || !QFTaskEx::runTaskAndReturn(bundle + QStringLiteral("/Contents/MacOS/") + name, {})) {
        fail(error, QStringLiteral("Unable to open the uninstaller of FCP Tombrel."));
        return {};
    }
    return bundle;
}
