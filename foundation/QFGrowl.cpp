#include "foundation/QFGrowl.h"

#include "foundation/QFLocalPaths.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFPropertyList.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QFileInfo>

namespace {

bool growlDisabled()
{
    const auto global = QFPropertyList::readDictionary(
        QFLocalPaths::prefsDirectory(true) + QStringLiteral("/com.quenfield.global.plist"));
    if (!global)
        return false;
    const QVariant value = global->value(QStringLiteral("growlDisabled"));
    if (value.metaType().id() == QMetaType::QString)
        return value.toString() == QLatin1String("1")
            || value.toString().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0
            || value.toString().compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0;
    return QFPropertyList::integerValue(value).value_or(0) != 0;
}

QString applicationIcon()
{
    for (const char *name : { "AppIcon.png", "ProTombrel.png", "AppIcon.svg" }) {
        const QString path = QFBundle::pathForResource(QString::fromLatin1(name), QString());
        if (!path.isEmpty())
            return path;
    }
    return QStringLiteral("com.quenfield.ProTombrel");
}

} // namespace

QFGrowl *QFGrowl::sharedController()
{
    static QFGrowl *instance = new QFGrowl();
    return instance;
}

QString QFGrowl::applicationNameForGrowl() const
{
    const QString name = QFBundle::objectForInfoKey(QStringLiteral("CFBundleName")).toString();
    return name.isEmpty() ? QFBundle::executableName() : name;
}

void QFGrowl::postGrowlNotification(
    const QString &title, const QString &description, const QString &icon, const QString &notificationName)
{
    if (growlDisabled())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"), QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("Notify"));
    const QString name = notificationName.isEmpty() ? QStringLiteral("QFInfoNotification") : notificationName;
    QVariantMap hints;
    hints.insert(QStringLiteral("category"),
        name == QLatin1String("Backup failed") ? QStringLiteral("transfer.error")
                                               : QStringLiteral("transfer.complete"));
    hints.insert(QStringLiteral("x-quenfield-notification-name"), name);
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(1));
    call << applicationNameForGrowl() << quint32(0) << (icon.isEmpty() ? applicationIcon() : icon) << title
         << description << QStringList() << hints << qint32(-1);
    // Fire and forget: a missing service must not hold up a backup.
    call.setAutoStartService(false);
    bus.asyncCall(call);
}
