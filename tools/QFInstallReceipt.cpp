#include "tools/QFInstallReceipt.h"

#include "foundation/QFLocalPaths.h"
#include "foundation/platform/QFPropertyList.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString kIdentifier = QStringLiteral("CFBundleIdentifier");
const QString kVersion = QStringLiteral("CFBundleShortVersionString");
const QString kBundlePath = QStringLiteral("QFBundlePath");
const QString kDesktopEntry = QStringLiteral("QFDesktopEntry");
const QString kIconPath = QStringLiteral("QFIconPath");
const QString kCommandLink = QStringLiteral("QFCommandLink");

// Only absolute paths are taken from a receipt: a relative one would be read against whatever folder
// the uninstaller happens to run in.
QString absoluteOrNothing(const QVariant &value)
{
    const QString path = value.toString();
    return QDir::isAbsolutePath(path) ? QDir::cleanPath(path) : QString();
}

} // namespace

QString QFInstallReceipt::path(const QString &identifier, bool userDomain)
{
    return pathInFolder(QFLocalPaths::appSupportDirectory(userDomain), identifier);
}

QString QFInstallReceipt::pathInFolder(const QString &appSupport, const QString &identifier)
{
    if (appSupport.isEmpty() || identifier.isEmpty())
        return {};
    return appSupport + QStringLiteral("/Quenfield/Receipts/") + identifier + QStringLiteral(".plist");
}

std::optional<QFInstallReceipt> QFInstallReceipt::read(const QString &file)
{
    if (file.isEmpty())
        return std::nullopt;
    const std::optional<QVariantMap> dictionary = QFPropertyList::readDictionary(file);
    return dictionary ? fromDictionary(*dictionary) : std::nullopt;
}

bool QFInstallReceipt::write(const QString &file, QString *error) const
{
    QDir().mkpath(QFileInfo(file).absolutePath());
    return QFPropertyList::write(file, toDictionary(), error);
}

QVariantMap QFInstallReceipt::toDictionary() const
{
    QVariantMap dictionary;
    const auto put = [&dictionary](const QString &key, const QString &value) {
        if (!value.isEmpty())
            dictionary.insert(key, value);
    };
    put(kIdentifier, identifier);
    put(kVersion, version);
    put(kBundlePath, bundlePath);
    put(kDesktopEntry, desktopEntry);
    put(kIconPath, iconPath);
    put(kCommandLink, commandLink);
    return dictionary;
}

std::optional<QFInstallReceipt> QFInstallReceipt::fromDictionary(const QVariantMap &dictionary)
{
    QFInstallReceipt receipt;
    receipt.identifier = dictionary.value(kIdentifier).toString();
    if (receipt.identifier.isEmpty())
        return std::nullopt;
    receipt.version = dictionary.value(kVersion).toString();
    receipt.bundlePath = absoluteOrNothing(dictionary.value(kBundlePath));
    receipt.desktopEntry = absoluteOrNothing(dictionary.value(kDesktopEntry));
    receipt.iconPath = absoluteOrNothing(dictionary.value(kIconPath));
    receipt.commandLink = absoluteOrNothing(dictionary.value(kCommandLink));
    return receipt;
}
