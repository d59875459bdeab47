#include "foundation/platform/QFBundle.h"

#include "foundation/QFLocalPaths.h"
#include "foundation/platform/QFPropertyList.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>

namespace {

QMutex s_lock;
QString s_overridePath;

} // namespace

QString QFBundle::executablePath()
{
    static const QString path = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    return path;
}

QString QFBundle::executableName()
{
    return QFileInfo(executablePath()).completeBaseName();
}

QString QFBundle::bundlePathForExecutable(const QString &executable)
{
    QDir dir = QFileInfo(executable).absoluteDir();
    // Walk up to the nearest "Contents" folder; the bundle is the folder that holds it.
    for (int i = 0; i < 4; ++i) {
        if (dir.dirName() == QLatin1String("Contents")) {
            dir.cdUp();
            return dir.absolutePath();
        }
        if (!dir.cdUp())
            break;
    }
    return {};
}

QString QFBundle::mainBundlePath()
{
    {
        QMutexLocker lock(&s_lock);
        if (!s_overridePath.isEmpty())
            return s_overridePath;
    }
    static const QString path = bundlePathForExecutable(executablePath());
    return path;
}

void QFBundle::setMainBundlePath(const QString &bundlePath)
{
    QMutexLocker lock(&s_lock);
    s_overridePath = bundlePath.isEmpty() ? QString() : QDir::cleanPath(bundlePath);
}

QVariantMap QFBundle::infoDictionaryOfBundle(const QString &bundlePath)
{
    if (bundlePath.isEmpty())
        return {};
    return QFPropertyList::readDictionary(bundlePath + QStringLiteral("/Contents/Info.plist")).value_or(QVariantMap());
}

QString QFBundle::bundleIdentifierOfBundle(const QString &bundlePath)
{
    const QVariant id = infoDictionaryOfBundle(bundlePath).value(QStringLiteral("CFBundleIdentifier"));
    return id.metaType().id() == QMetaType::QString ? id.toString() : QString();
}

QVariantMap QFBundle::infoDictionary()
{
    return infoDictionaryOfBundle(mainBundlePath());
}

QString QFBundle::bundleIdentifier()
{
    return bundleIdentifierOfBundle(mainBundlePath());
}

QVariant QFBundle::objectForInfoKey(const QString &key)
{
    return infoDictionary().value(key);
}

QString QFBundle::pathForResource(const QString &name, const QString &type)
{
    const QString bundle = mainBundlePath();
    if (bundle.isEmpty())
        return {};
    QString path = bundle + QStringLiteral("/Contents/Resources/") + name;
    if (!type.isEmpty())
        path += u'.' + type;
    return QFileInfo::exists(path) ? path : QString();
}

QString QFBundle::installedBundleWithIdentifier(const QString &identifier)
{
    for (const bool userDomain : { true, false }) {
        const QString applications = QFLocalPaths::applicationDirectory(userDomain);
        if (applications.isEmpty())
            continue;
        QStringList candidates;
        const QDir top(applications);
        for (const QFileInfo &entry : top.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
            if (entry.suffix() == QLatin1String("app")) {
                candidates << entry.absoluteFilePath();
                continue;
            }
            const QDir sub(entry.absoluteFilePath());
            for (const QFileInfo &inner : sub.entryInfoList({ QStringLiteral("*.app") }, QDir::Dirs, QDir::Name))
                candidates << inner.absoluteFilePath();
        }
        for (const QString &candidate : candidates) {
            if (bundleIdentifierOfBundle(candidate) == identifier)
                return candidate;
        }
    }
    return {};
}
