#include "foundation/QFHelperConnection.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

namespace {

bool call(const QString &method, QString *error, int timeoutMs)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (error)
            *error = QStringLiteral("there is no session bus");
        return false;
    }
    if (!bus.interface()->isServiceRegistered(QFHelperConnection::serviceName())) {
        if (error)
            *error = QStringLiteral("the helper is not running");
        return false;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(QFHelperConnection::serviceName(),
        QFHelperConnection::objectPath(), QFHelperConnection::interfaceName(), method);
    // Never start a helper through the bus: it is started at log-in, and only there.
    message.setAutoStartService(false);
    const QDBusMessage reply = bus.call(message, QDBus::Block, timeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        if (error)
            *error = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
        return false;
    }
    return true;
}

} // namespace

QString QFHelperConnection::serviceName()
{
    return QStringLiteral("com.quenfield.ProTombrelHelper");
}

QString QFHelperConnection::objectPath()
{
    return QStringLiteral("/");
}

QString QFHelperConnection::interfaceName()
{
    return QStringLiteral("com.quenfield.ProTombrelHelper");
}

std::optional<qint64> QFHelperConnection::runningHelper()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return std::nullopt;
    const QDBusReply<uint> pid = bus.interface()->servicePid(serviceName());
    if (!pid.isValid())
        return std::nullopt;
    return qint64(pid.value());
}

bool QFHelperConnection::updateConfiguration(QString *error, int timeoutMs)
{
    return call(QStringLiteral("updateConfiguration"), error, timeoutMs);
}

bool QFHelperConnection::startBackupScan(QString *error, int timeoutMs)
{
    return call(QStringLiteral("startBackupScan"), error, timeoutMs);
}

bool QFHelperConnection::filesBackedUp(QString *error, int timeoutMs)
{
    return call(QStringLiteral("filesBackedUp"), error, timeoutMs);
}

bool QFHelperConnection::postFilesBackedUp()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    return bus.send(QDBusMessage::createSignal(QStringLiteral("/com/quenfield/ProTombrel"),
        QStringLiteral("com.quenfield.ProTombrel"), QStringLiteral("QFProTombrelFilesBackedUp")));
}
