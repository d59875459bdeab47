#include "tools/uninstaller/QFUninstaller.h"

#include "foundation/QFAlert.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFLaunchd.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/QFTaskEx.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFUserDefaults.h"
#include "tools/QFInstallReceipt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <cstdio>
#include <memory>

namespace {

constexpr int kTrashTimeout = 10;

// The names the product's service jobs and its desktop pieces carry in this port.
const QString kHelperJob = QStringLiteral("com.quenfield.ProTombrel");
const QString kAutosaveJob = QStringLiteral("com.quenfield.ProTombrel.autosave");
const QString kDesktopName = QStringLiteral("pro-tombrel");
const QString kCommandName = QStringLiteral("tombrel");
// The Debian package of the product (packaging/), whose files only the package manager removes.
const QString kPackageName = QStringLiteral("pro-tombrel");

bool isInside(const QString &path, const QString &folder)
{
    return !folder.isEmpty() && (path == folder || path.startsWith(folder + u'/'));
}

// The real path of an item's folder, the item itself not followed (it may be a link).
QString canonicalOfItem(const QString &path)
{
    const QFileInfo info(path);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? QString() : folder + u'/' + info.fileName();
}

bool isRegularFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink();
}

// A desktop entry whose program lies in the bundle (the installer writes Exec="BUNDLE/Contents/MacOS/…").
bool isDesktopEntryOf(const QString &entry, const QString &bundle)
{
    if (!entry.endsWith(QLatin1String(".desktop")) || !isRegularFile(entry))
        return false;
    QFile file(entry);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QString program = bundle + QStringLiteral("/Contents/MacOS/");
    for (const QByteArray &line : file.read(256 * 1024).split('\n')) {
        if (!line.startsWith("Exec="))
            continue;
        QString command = QString::fromUtf8(line.mid(5)).trimmed();
        if (command.startsWith(u'"'))
            command.remove(0, 1);
        if (command.startsWith(program))
            return true;
    }
    return false;
}

// The icon the installer writes: pro-tombrel.svg or .png, a plain file, the bundle's own where the
// bundle still carries it.
bool isIconOf(const QString &icon, const QString &bundle)
{
    const QString name = QFileInfo(icon).fileName();
    if ((name != kDesktopName + QStringLiteral(".svg") && name != kDesktopName + QStringLiteral(".png"))
        || !isRegularFile(icon))
        return false;
    QFile original(bundle + QStringLiteral("/Contents/Resources/") + name);
    if (bundle.isEmpty() || !original.open(QIODevice::ReadOnly))
        return true;
    QFile written(icon);
    return written.open(QIODevice::ReadOnly) && written.size() == original.size()
        && written.readAll() == original.readAll();
}

// A link named "tombrel" whose target lies inside the bundle.
bool isLinkInto(const QString &link, const QString &bundle)
{
    const QFileInfo info(link);
    if (info.fileName() != kCommandName || !info.isSymLink())
        return false;
    QString target = info.symLinkTarget();
    if (target.isEmpty())
        return false;
    target = QDir::cleanPath(QDir::isAbsolutePath(target) ? target : info.absolutePath() + u'/' + target);
    return target.startsWith(bundle + u'/');
}

// The argument domain alone ("-key value"): no settings file may start an uninstall unasked, and the
// uninstaller's own settings file would be one more thing left behind.
std::unique_ptr<QFUserDefaults> argumentDefaults(const QStringList &arguments)
{
    auto defaults
        = std::make_unique<QFUserDefaults>(QStringLiteral("com.quenfield.Uninstaller"), QStringLiteral("/dev/null"));
    defaults->setArguments(arguments);
    return defaults;
}

} // namespace

QFUninstallFolders QFUninstallFolders::standard()
{
    QFUninstallFolders folders;
    folders.userApplications = QFLocalPaths::applicationDirectory(true);
    folders.localApplications = QFLocalPaths::applicationDirectory(false);
    folders.userAppSupport = QFLocalPaths::appSupportDirectory(true);
    folders.localAppSupport = QFLocalPaths::appSupportDirectory(false);
    folders.userCaches = QFLocalPaths::cacheDirectory(true);
    folders.userPrefs = QFLocalPaths::prefsDirectory(true);
    folders.localPrefs = QFLocalPaths::prefsDirectory(false);
    folders.localLibrary = QFLocalPaths::libraryDirectory(false);
    folders.launchAgents = QFLaunchd::jobFolder();
    folders.userBin = QFLocalPaths::pathForDirectory(QFLocalPaths::Directory::Binaries, true);
    folders.localBin = QFLocalPaths::pathForDirectory(QFLocalPaths::Directory::Binaries, false);
    folders.packageDatabase = QStringLiteral("/var/lib/dpkg");
    return folders;
}

QFUninstaller::QFUninstaller(Setup setup)
    : m_setup(std::move(setup))
{
}

QString QFUninstaller::productName() const
{
    return productName(m_setup.product);
}

QString QFUninstaller::productName(QFUninstallProduct product)
{
    return product == QFUninstallProduct::ProTombrel ? QStringLiteral("Pro Tombrel") : QStringLiteral("FCP Tombrel");
}

QString QFUninstaller::productIdentifier(QFUninstallProduct product)
{
    return product == QFUninstallProduct::ProTombrel ? QStringLiteral("com.quenfield.ProTombrel")
                                                     : QStringLiteral("com.quenfield.FCPTombrel");
}

bool QFUninstaller::isRefused(const QString &path)
{
    if (path.isEmpty())
        return true;
    const QString clean = QDir::cleanPath(path);
    // Items of a build tree ("…/Release/Pro Tombrel.app") and of the maker's own work tree are never ours
    // to remove.
    if (QFileInfo(QFileInfo(clean).absolutePath()).fileName() == QLatin1String("Release"))
        return true;
    if (path.contains(QLatin1String("/Structure/Applications/")))
        return true;
    const QString trash = QFLocalPaths::trashDirectory();
    if (trash.isEmpty())
        return false;
    if (isInside(clean, QDir::cleanPath(trash)))
        return true;
    const QString realTrash = QFileInfo(trash).canonicalFilePath();
    const QString realItem = canonicalOfItem(clean);
    return !realTrash.isEmpty() && !realItem.isEmpty() && isInside(realItem, realTrash);
}

bool QFUninstaller::trashFile(const QString &path)
{
    if (isRefused(path))
        return false;
    if (!QFFileManager::existsNoFollow(path))
        return true;
    if (!QFFileManager::trashFile(path, kTrashTimeout))
        return false;
    QFLog::appendLog("Moved %@ to the Trash.", path);
    m_trashed << path;
    return true;
}

void QFUninstaller::beginUninstall(const QFUninstallOptions &options)
{
    QFLog::appendLog("Uninstalling %@ (shared items: %i, preferences: %i).", productName(), int(options.removeShared),
        int(options.removeConfig));
    if (m_setup.product == QFUninstallProduct::ProTombrel)
        uninstallProTombrel(options);
    else
        uninstallFCPTombrel(options);
    QFLog::appendLog("Uninstalled %@: %li items placed in the Trash.", productName(), long(m_trashed.size()));
}

void QFUninstaller::uninstallProTombrel(const QFUninstallOptions &options)
{
    const QFUninstallFolders &f = m_setup.folders;
    const QString identifier = productIdentifier(QFUninstallProduct::ProTombrel);

    // The service manager would start the helper again; stop its jobs before ending the programs.
    for (const QString &job : { kHelperJob, kAutosaveJob }) {
        if (QFileInfo::exists(f.launchAgents + u'/' + job + QStringLiteral(".service")))
            QFLaunchd::stopJob(job);
    }
    stopProcesses({ QStringLiteral("Pro Tombrel"), QStringLiteral("ProTombrelHelper") });

    if (options.removeShared)
        trashFile(applicationWithIdentifier(QStringLiteral("com.quenfield.SoftwareUpdate")));

    // The application at its standard places, and wherever the installer put it with its desktop pieces.
    trashBundle(f.localApplications + QStringLiteral("/Quenfield/Pro Tombrel.app"));
    trashBundle(f.localApplications + QStringLiteral("/Pro Tombrel.app"));
    const QStringList bundles = trashReceiptPieces(identifier);
    trashStandardDesktopPieces();
    trashFile(f.userAppSupport + QStringLiteral("/Quenfield/Pro Tombrel/Caches"));

    if (options.removeShared)
        trashFile(f.userAppSupport + QStringLiteral("/Quenfield/Shared Resources"));

    for (const char *name :
        { "com.quenfield.BugReporter", "com.quenfield.ProTombrel", "com.quenfield.ProTombrelHelper" })
        trashFile(f.userCaches + u'/' + QLatin1String(name));

    // The updater at its standard place goes whatever the shared box says.
    trashFile(f.localApplications + QStringLiteral("/Quenfield/Quenfield Software Update.app"));
    if (options.removeShared)
        trashFile(f.userCaches + QStringLiteral("/com.quenfield.SoftwareUpdate"));

    if (options.removeConfig) {
        for (const QString &prefs : { f.userPrefs, f.localPrefs }) {
            trashFile(prefs + QStringLiteral("/com.quenfield.ProTombrel.plist"));
            trashFile(prefs + QStringLiteral("/com.quenfield.ProTombrelHelper.plist"));
            if (options.removeShared)
                trashFile(prefs + QStringLiteral("/com.quenfield.SoftwareUpdate.plist"));
        }
    }

    trashServiceJobs({ kHelperJob, kAutosaveJob });

    // Receipts of the machine's package installer, then the installation's own receipts.
    const QString receipts = f.localLibrary + QStringLiteral("/Receipts");
    const QStringList names
        = QDir(receipts).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        if (name.startsWith(QLatin1String("Pro Tombrel"), Qt::CaseInsensitive)
            || name.startsWith(QLatin1String("Install Pro Tombrel"), Qt::CaseInsensitive))
            trashFile(receipts + u'/' + name);
    }
    trashReceipts(identifier);

    removeFolderIfEmpty(f.localApplications + QStringLiteral("/Quenfield"));
    for (const QString &bundle : bundles) {
        const QString folder = QFileInfo(bundle).absolutePath();
        if (QFileInfo(folder).fileName() == QLatin1String("Quenfield"))
            removeFolderIfEmpty(folder);
    }
}

void QFUninstaller::uninstallFCPTombrel(const QFUninstallOptions &options)
{
    const QFUninstallFolders &f = m_setup.folders;
    const QStringList jobs { QStringLiteral("com.quenfield.FCPTombrel"),
        QStringLiteral("com.quenfield.FCPTombrelProjectWatcher"), QStringLiteral("com.quenfield.FCPTombrel.autosave"),
        QStringLiteral("com.quenfield.ProTombrelProjectWatcher") };
    for (const QString &job : jobs) {
        if (QFileInfo::exists(f.launchAgents + u'/' + job + QStringLiteral(".service")))
            QFLaunchd::stopJob(job);
    }
    stopProcesses({ QStringLiteral("FCP Tombrel") });

    trashBundle(f.localApplications + QStringLiteral("/Quenfield/FCP Tombrel.app"));
    trashBundle(f.localApplications + QStringLiteral("/FCP Tombrel.app"));
    const QStringList bundles = trashReceiptPieces(productIdentifier(QFUninstallProduct::FCPTombrel));
    trashFile(f.userAppSupport + QStringLiteral("/Quenfield/FCP Tombrel/Caches"));
    trashFile(f.userCaches + QStringLiteral("/com.quenfield.fcptombrel"));

    if (options.removeConfig) {
        for (const QString &prefs : { f.userPrefs, f.localPrefs }) {
            trashFile(prefs + QStringLiteral("/com.quenfield.FCPTombrel.plist"));
            trashFile(prefs + QStringLiteral("/com.quenfield.fcptombrel.plist"));
        }
    }

    trashServiceJobs(jobs);
    trashReceipts(productIdentifier(QFUninstallProduct::FCPTombrel));

    removeFolderIfEmpty(f.localApplications + QStringLiteral("/Quenfield"));
    for (const QString &bundle : bundles) {
        const QString folder = QFileInfo(bundle).absolutePath();
        if (QFileInfo(folder).fileName() == QLatin1String("Quenfield"))
            removeFolderIfEmpty(folder);
    }
}

void QFUninstaller::stopProcesses(const QStringList &names)
{
    if (m_setup.stopProcesses) {
        m_setup.stopProcesses(names);
        return;
    }
    for (const QString &name : names)
        QFLaunchd::killProcessesNamed(name);
}

QStringList QFUninstaller::trashReceiptPieces(const QString &identifier)
{
    QStringList bundles;
    for (const QString &support : { m_setup.folders.userAppSupport, m_setup.folders.localAppSupport }) {
        const std::optional<QFInstallReceipt> receipt
            = QFInstallReceipt::read(QFInstallReceipt::pathInFolder(support, identifier));
        if (!receipt || receipt->identifier != identifier)
            continue;
        // A receipt is only a file in the user's folders: a piece it names goes only when it is what the
        // installer made, and never when it is a folder of the system.
        const QString bundle = receipt->bundlePath;
        const QFileInfo bundleInfo(bundle);
        const bool bundleThere = QFFileManager::existsNoFollow(bundle);
        const bool bundleOurs = bundle.endsWith(QLatin1String(".app")) && bundleInfo.isDir() && !bundleInfo.isSymLink()
            && QFBundle::bundleIdentifierOfBundle(bundle) == identifier;
        // Pieces that lead into the bundle are ours when the bundle is, or when it is gone already.
        const bool piecesOurs = bundle.endsWith(QLatin1String(".app")) && (bundleOurs || !bundleThere);
        const bool entryOurs = piecesOurs && isDesktopEntryOf(receipt->desktopEntry, bundle);
        const bool iconOurs = piecesOurs && isIconOf(receipt->iconPath, bundleOurs ? bundle : QString());
        const bool linkOurs = piecesOurs && isLinkInto(receipt->commandLink, bundle);

        const auto leave = [](const QString &path) {
            QFLog::appendLog("The receipt names %@, which is not a piece of the installation; left alone.", path);
        };
        const auto trashPiece = [&](const QString &path, bool fits) {
            if (path.isEmpty() || !QFFileManager::existsNoFollow(path))
                return;
            if (!fits || QFLocalPaths::isPathSystemDirectory(path, true)) {
                leave(path);
                return;
            }
            trashFile(path);
        };
        if (bundleThere) {
            if (bundleOurs && !QFLocalPaths::isPathSystemDirectory(bundle, true)) {
                trashBundle(bundle);
                bundles << bundle;
            } else {
                leave(bundle);
            }
        }
        trashPiece(receipt->desktopEntry, entryOurs);
        trashPiece(receipt->iconPath, iconOurs);
        trashPiece(receipt->commandLink, linkOurs);
    }
    return bundles;
}

void QFUninstaller::trashReceipts(const QString &identifier)
{
    for (const QString &support : { m_setup.folders.userAppSupport, m_setup.folders.localAppSupport }) {
        const QString receipt = QFInstallReceipt::pathInFolder(support, identifier);
        if (receipt.isEmpty())
            continue;
        trashFile(receipt);
        removeFolderIfEmpty(QFileInfo(receipt).absolutePath());
    }
}

void QFUninstaller::trashServiceJobs(const QStringList &jobs)
{
    const QString folder = m_setup.folders.launchAgents;
    if (folder.isEmpty())
        return;
    bool removed = false;
    for (const QString &job : jobs) {
        for (const QString &unit : { job + QStringLiteral(".service"), job + QStringLiteral(".timer") }) {
            // Links of enabled units, left behind when no service manager could disable them.
            for (const QString &wants :
                { QStringLiteral("default.target.wants"), QStringLiteral("timers.target.wants") })
                trashFile(folder + u'/' + wants + u'/' + unit);
            const QString file = folder + u'/' + unit;
            if (QFFileManager::existsNoFollow(file) && trashFile(file))
                removed = true;
        }
    }
    if (!removed)
        return;
    const QString systemctl = QStandardPaths::findExecutable(QStringLiteral("systemctl"));
    if (!systemctl.isEmpty())
        QFTaskEx::runTask(systemctl, { QStringLiteral("--user"), QStringLiteral("daemon-reload") }, 10.0);
}

void QFUninstaller::trashStandardDesktopPieces()
{
    const QFUninstallFolders &f = m_setup.folders;
    for (const QString &support : { f.userAppSupport, f.localAppSupport }) {
        if (support.isEmpty())
            continue;
        trashFile(support + QStringLiteral("/applications/") + kDesktopName + QStringLiteral(".desktop"));
        trashFile(support + QStringLiteral("/icons/hicolor/scalable/apps/") + kDesktopName + QStringLiteral(".svg"));
    }
    // "tombrel" on the PATH is ours only when it leads into the product's bundle.
    for (const QString &bin : { f.userBin, f.localBin }) {
        if (bin.isEmpty())
            continue;
        const QFileInfo link(bin + u'/' + kCommandName);
        if (link.isSymLink() && link.symLinkTarget().contains(QLatin1String("/Pro Tombrel.app/")))
            trashFile(link.filePath());
    }
}

void QFUninstaller::trashBundle(const QString &path)
{
    if (isRefused(path) || !QFFileManager::existsNoFollow(path))
        return;
    const QString package = owningPackage(path);
    if (package.isEmpty()) {
        trashFile(path);
        return;
    }
    // Trashing the package's bundle would leave its entry, icons and links dangling while the package
    // manager still lists it as installed.
    QFLog::appendLog("%@ belongs to the package %@; left to the package manager.", path, package);
    m_packageNotes << QStringLiteral(
        "%1 belongs to the package %2: remove it with the package manager (sudo apt remove %2).")
                          .arg(path, package);
}

QString QFUninstaller::owningPackage(const QString &path) const
{
    const QString database = m_setup.folders.packageDatabase;
    if (database.isEmpty() || path.isEmpty())
        return {};
    const QString clean = QDir::cleanPath(path);
    QFile list(database + QStringLiteral("/info/") + kPackageName + QStringLiteral(".list"));
    if (list.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : list.readAll().split('\n')) {
            if (QFile::decodeName(line) == clean)
                return kPackageName;
        }
    }
    // Another package (a renamed or repackaged one) may own it too.
    const QString query = QStandardPaths::findExecutable(QStringLiteral("dpkg-query"));
    if (query.isEmpty())
        return {};
    QProcess process;
    QFTaskEx::prepareChildProcess(process);
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(
        query, { QStringLiteral("--admindir=") + database, QStringLiteral("--search"), QStringLiteral("--"), clean });
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        process.kill();
        process.waitForFinished(1000);
        return {};
    }
    // "package[, package…]: PATH"
    for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
        const QString text = QString::fromUtf8(line);
        const qsizetype colon = text.indexOf(QLatin1String(": "));
        if (colon > 0 && text.mid(colon + 2) == clean)
            return text.left(colon).section(u',', 0, 0).trimmed();
    }
    return {};
}

QString QFUninstaller::completeInformative(const QStringList &packageNotes)
{
    QString text = QLatin1String(kCompleteInformative);
    for (const QString &note : packageNotes)
        text += u' ' + note;
    return text;
}

QString QFUninstaller::applicationWithIdentifier(const QString &identifier) const
{
    const QFUninstallFolders &f = m_setup.folders;
    for (const QString &folder : { f.userApplications + QStringLiteral("/Quenfield"), f.userApplications,
             f.localApplications + QStringLiteral("/Quenfield"), f.localApplications }) {
        const QDir dir(folder);
        for (const QString &name : dir.entryList({ QStringLiteral("*.app") }, QDir::Dirs | QDir::NoDotAndDotDot)) {
            if (QFBundle::bundleIdentifierOfBundle(dir.filePath(name)) == identifier)
                return dir.filePath(name);
        }
    }
    return {};
}

void QFUninstaller::removeFolderIfEmpty(const QString &path)
{
    if (isRefused(path) || QFLocalPaths::isPathSystemDirectory(path, true) || !QFileInfo(path).isDir())
        return;
    if (QFFileManager::removeFolderIfEmpty(path))
        QFLog::appendLog("Removed the empty folder %@.", path);
}

bool QFUninstaller::isUnattended(const QStringList &arguments)
{
    return argumentDefaults(arguments)->boolForKey(QStringLiteral("unattended"));
}

QFUninstallOptions QFUninstaller::optionsFromArguments(const QStringList &arguments)
{
    const auto defaults = argumentDefaults(arguments);
    QFUninstallOptions options;
    options.removeConfig = defaults->boolForKey(QStringLiteral("removeConfig"));
    options.removeShared = defaults->boolForKey(QStringLiteral("removeShared"));
    return options;
}

std::optional<int> QFUninstaller::runCommandLine(const QStringList &arguments, Setup setup)
{
    if (!isUnattended(arguments))
        return std::nullopt;
    QFUninstaller uninstaller(std::move(setup));
    uninstaller.beginUninstall(optionsFromArguments(arguments));
    // Without windows the message goes to the log; scripts also see it on standard output.
    const QString informative = completeInformative(uninstaller.packageNotes());
    QFAlert::alertSheetWithMessageText(QLatin1String(kCompleteMessage), informative, nullptr);
    std::fputs(qPrintable(QStringLiteral("%1. %2\n").arg(QLatin1String(kCompleteMessage), informative)), stdout);
    std::fflush(stdout);
    return 0;
}
