#include "foundation/platform/QFConsoleUser.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>

#include <pwd.h>
#include <vector>

namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

QVariant logindProperty(const QString &path, const QString &interface, const QString &name)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kLogind, path, kProperties, QStringLiteral("Get"));
    call << interface << name;
    const QDBusMessage reply = QDBusConnection::systemBus().call(call, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

} // namespace

QString qfHomeOfUser(const QString &name)
{
    if (name.isEmpty())
        return {};
    const QByteArray user = name.toUtf8();
    struct passwd pw { };
    struct passwd *result = nullptr;
    std::vector<char> buffer(16384);
    if (getpwnam_r(user.constData(), &pw, buffer.data(), buffer.size(), &result) != 0 || !result)
        return {};
    return QString::fromUtf8(result->pw_dir);
}

std::optional<QFConsoleUser> qfLogindConsoleUser()
{
    if (!QDBusConnection::systemBus().isConnected())
        return std::nullopt;
    // ActiveSession is a (session id, object path) structure.
    const QVariant active = logindProperty(QStringLiteral("/org/freedesktop/login1/seat/seat0"),
        QStringLiteral("org.freedesktop.login1.Seat"), QStringLiteral("ActiveSession"));
    if (!active.canConvert<QDBusArgument>())
        return std::nullopt;
    const QDBusArgument arg = active.value<QDBusArgument>();
    QString id;
    QDBusObjectPath sessionPath;
    arg.beginStructure();
    arg >> id >> sessionPath;
    arg.endStructure();
    if (sessionPath.path().isEmpty() || sessionPath.path() == QLatin1String("/"))
        return std::nullopt;
    const QString session = sessionPath.path();
    const QString iface = QStringLiteral("org.freedesktop.login1.Session");
    if (logindProperty(session, iface, QStringLiteral("Class")).toString() == QLatin1String("greeter"))
        return std::nullopt;
    const QString name = logindProperty(session, iface, QStringLiteral("Name")).toString();
    if (name.isEmpty())
        return std::nullopt;
    const QString home = qfHomeOfUser(name);
    if (home.isEmpty())
        return std::nullopt;
    return QFConsoleUser { name, home };
}
