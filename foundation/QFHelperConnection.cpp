#include "foundation/QFHelperConnection.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QObject>

namespace {

const QString kNotRunning = QStringLiteral("the helper is not running");

QDBusMessage request(const QString &method)
{
    QDBusMessage message = QDBusMessage::createMethodCall(QFHelperConnection::serviceName(),
        QFHelperConnection::objectPath(), QFHelperConnection::interfaceName(), method);
    // Never start a helper through the bus: it is started at log-in, and only there.
    message.setAutoStartService(false);
    return message;
}

// The reason of a failed call in the words the callers print; a name without an owner is a helper that
// is not running.
QString reason(const QDBusError &error)
{
    if (error.type() == QDBusError::ServiceUnknown
        || error.name() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
        return kNotRunning;
    return error.message().isEmpty() ? error.name() : error.message();
}

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
            *error = kNotRunning;
        return false;
    }
    // Block, not BlockWithGui: the caller's events wait until the answer is in.
    const QDBusMessage reply = bus.call(request(method), QDBus::Block, timeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        if (error)
            *error = reason(QDBusError(reply));
        return false;
    }
    return true;
}

void send(const QString &method, QObject *context, QFHelperConnection::Answer done, int timeoutMs)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (done && context) {
            QMetaObject::invokeMethod(
                context, [done = std::move(done)] { done(false, QStringLiteral("there is no session bus")); },
                Qt::QueuedConnection);
        }
        return;
    }
    // Without a helper the bus itself answers at once that the name has no owner.
    const QDBusPendingCall pending = bus.asyncCall(request(method), timeoutMs);
    if (!done || !context)
        return;
    auto *watcher = new QDBusPendingCallWatcher(pending, context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, done = std::move(done)] {
        watcher->deleteLater();
        if (watcher->isError())
            done(false, reason(watcher->error()));
        else
            done(true, QString());
    });
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

void QFHelperConnection::updateConfiguration(QObject *context, Answer done, int timeoutMs)
{
    send(QStringLiteral("updateConfiguration"), context, std::move(done), timeoutMs);
}

void QFHelperConnection::startBackupScan(QObject *context, Answer done, int timeoutMs)
{
    send(QStringLiteral("startBackupScan"), context, std::move(done), timeoutMs);
}

void QFHelperConnection::filesBackedUp(QObject *context, Answer done, int timeoutMs)
{
    send(QStringLiteral("filesBackedUp"), context, std::move(done), timeoutMs);
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
