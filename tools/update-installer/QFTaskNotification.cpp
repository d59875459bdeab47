#include "tools/update-installer/QFTaskNotification.h"

#include "foundation/QFLog.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QThread>
#include <QVariantMap>

namespace {

// The callback service that is there, tried in order; empty when none.
QString callbackService(QDBusConnection &bus)
{
    for (const char *name : { "com.quenfield.QFProClientCallback", "com.quenfield.QFZORVClientCallback" }) {
        if (bus.interface() && bus.interface()->isServiceRegistered(QString::fromLatin1(name)).value())
            return QString::fromLatin1(name);
    }
    return {};
}

// Whether the remote object answers that method (its introspection names it).
bool responds(QDBusConnection &bus, const QString &service, const QString &method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/"),
        QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect"));
    const QDBusMessage reply = bus.call(call, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    const QString xml = reply.arguments().first().toString();
    return xml.contains(QStringLiteral("interface name=\"%1\"").arg(QFTaskNotification::interfaceName()))
        && xml.contains(QStringLiteral("<method name=\"%1\"").arg(method));
}

// Sends the first of the (method, arguments) pairs the remote object has.
void send(const char *what, const QList<std::pair<QString, QVariantList>> &choices)
{
    try {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return;
        const QString service = callbackService(bus);
        if (service.isEmpty())
            return;
        for (const auto &[method, arguments] : choices) {
            if (!responds(bus, service, method))
                continue;
            QDBusMessage call = QDBusMessage::createMethodCall(
                service, QStringLiteral("/"), QFTaskNotification::interfaceName(), method);
            call.setArguments(arguments);
            bus.call(call, QDBus::Block, 2000);
            break;
        }
        QThread::usleep(15000);
    } catch (...) {
        QFLog::appendLog("Exception in %s", what);
    }
}

QString processName()
{
    return QCoreApplication::applicationName();
}

} // namespace

void QFTaskNotification::postIncrementProgress()
{
    send("postIncrementProgress", { { QStringLiteral("incrementRemoteProgress"), {} } });
}

void QFTaskNotification::postTaskFinished()
{
    send("postTaskFinished", { { QStringLiteral("postFinishedTask"), {} } });
}

void QFTaskNotification::postTaskError(const QString &error)
{
    send("postTaskError",
        { { QStringLiteral("postErrorForApp"), { error, processName() } },
            { QStringLiteral("postError"), { error } } });
}

void QFTaskNotification::postTaskErrorString(const QString &text)
{
    const QVariantMap info { { QStringLiteral("appName"), processName() } };
    send("postTaskErrorString",
        { { QStringLiteral("postErrorStringUserInfo"), { text, info } },
            { QStringLiteral("postErrorString"), { text } } });
}

void QFTaskNotification::postDisconnect()
{
    send("postDisconnect", { { QStringLiteral("postDisconnect"), {} } });
}
