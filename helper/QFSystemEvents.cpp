#include "helper/QFSystemEvents.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>

#include <unistd.h>

namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSession = QStringLiteral("org.freedesktop.login1.Session");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
// logind answers at once; a hung bus must not hold up the helper's start.
constexpr int kCallTimeoutMs = 3000;

QVariant unwrap(const QVariant &value)
{
    if (value.canConvert<QDBusVariant>())
        return value.value<QDBusVariant>().variant();
    return value;
}

} // namespace

QFSystemEvents::QFSystemEvents(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
{
    if (!m_bus.isConnected())
        return;
    m_bus.connect(
        kService, kManagerPath, kManager, QStringLiteral("PrepareForSleep"), this, SLOT(onPrepareForSleep(bool)));
    m_bus.connect(
        kService, kManagerPath, kManager, QStringLiteral("PrepareForShutdown"), this, SLOT(onPrepareForShutdown(bool)));
    if (!m_bus.interface() || !m_bus.interface()->isServiceRegistered(kService))
        return;
    m_sessionPath = findSession();
    if (m_sessionPath.isEmpty())
        return;
    m_active = sessionActive();
    m_bus.connect(kService, m_sessionPath, kProperties, QStringLiteral("PropertiesChanged"), this,
        SLOT(onSessionPropertiesChanged(QString, QVariantMap, QStringList)));
}

QString QFSystemEvents::findSession()
{
    const auto objectPath = [this](const QString &method, const QVariantList &arguments) -> QString {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kManagerPath, kManager, method);
        call.setArguments(arguments);
        const QDBusMessage reply = m_bus.call(call, QDBus::Block, kCallTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return {};
        return reply.arguments().first().value<QDBusObjectPath>().path();
    };
    const QString id = qEnvironmentVariable("XDG_SESSION_ID");
    if (!id.isEmpty()) {
        const QString path = objectPath(QStringLiteral("GetSession"), { id });
        if (!path.isEmpty())
            return path;
    }
    const QString byPid = objectPath(QStringLiteral("GetSessionByPID"), { QVariant::fromValue(uint(getpid())) });
    if (!byPid.isEmpty())
        return byPid;
    // A user service belongs to no session; follow the user's graphical (display) session instead.
    const QString user = objectPath(QStringLiteral("GetUser"), { QVariant::fromValue(uint(getuid())) });
    if (user.isEmpty())
        return {};
    QDBusMessage get = QDBusMessage::createMethodCall(kService, user, kProperties, QStringLiteral("Get"));
    get << QStringLiteral("org.freedesktop.login1.User") << QStringLiteral("Display");
    const QDBusMessage reply = m_bus.call(get, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    const QVariant display = unwrap(reply.arguments().first());
    if (!display.canConvert<QDBusArgument>())
        return {};
    const QDBusArgument argument = display.value<QDBusArgument>();
    QString sessionId;
    QDBusObjectPath path;
    argument.beginStructure();
    argument >> sessionId >> path;
    argument.endStructure();
    return sessionId.isEmpty() ? QString() : path.path();
}

std::optional<bool> QFSystemEvents::sessionActive()
{
    QDBusMessage get = QDBusMessage::createMethodCall(kService, m_sessionPath, kProperties, QStringLiteral("Get"));
    get << kSession << QStringLiteral("Active");
    const QDBusMessage reply = m_bus.call(get, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return unwrap(reply.arguments().first()).toBool();
}

void QFSystemEvents::onPrepareForSleep(bool start)
{
    if (start)
        Q_EMIT willSleep();
    else
        Q_EMIT didWake();
}

void QFSystemEvents::onPrepareForShutdown(bool start)
{
    // A cancelled power-off reports false; only the announcement counts.
    if (start)
        Q_EMIT willPowerOff();
}

void QFSystemEvents::onSessionPropertiesChanged(
    const QString &interface, const QVariantMap &changed, const QStringList &invalidated)
{
    if (interface != kSession)
        return;
    std::optional<bool> active;
    if (changed.contains(QStringLiteral("Active")))
        active = unwrap(changed.value(QStringLiteral("Active"))).toBool();
    else if (invalidated.contains(QStringLiteral("Active")))
        active = sessionActive();
    if (!active || active == m_active)
        return;
    m_active = active;
    if (*active)
        Q_EMIT sessionDidBecomeActive();
    else
        Q_EMIT sessionDidResignActive();
}
