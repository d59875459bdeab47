#include "tests/helper/HelperTestSupport.h"

#include "engine/QFProject.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFPropertyList.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QRegularExpression>

namespace {

int s_connections = 0;

QDBusConnection privateConnection(const char *purpose)
{
    return QDBusConnection::connectToBus(
        QDBusConnection::SessionBus, QStringLiteral("%1-%2").arg(QLatin1String(purpose)).arg(++s_connections));
}

} // namespace

FakeNotificationServer::FakeNotificationServer()
    : m_bus(privateConnection("notifications"))
{
    m_registered
        = m_bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this, QDBusConnection::ExportAllSlots)
        && m_bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
}

FakeNotificationServer::~FakeNotificationServer()
{
    m_bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    m_bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    QDBusConnection::disconnectFromBus(m_bus.name());
}

uint FakeNotificationServer::Notify(const QString &appName, uint, const QString &, const QString &summary,
    const QString &body, const QStringList &, const QVariantMap &hints, int)
{
    m_shown << ShownNotification { appName, summary, body, hints };
    return uint(m_shown.size());
}

FakeLogind::FakeLogind()
    : m_bus(privateConnection("logind"))
    , m_session(new FakeLogindSession(this))
    , m_thread(std::make_unique<QThread>())
{
    m_thread->start();
    moveToThread(m_thread.get());
    m_registered
        = m_bus.registerObject(QStringLiteral("/org/freedesktop/login1"), this, QDBusConnection::ExportAllSlots)
        && m_bus.registerObject(sessionPath(), m_session, QDBusConnection::ExportAllProperties)
        && m_bus.registerService(QStringLiteral("org.freedesktop.login1"));
}

FakeLogind::~FakeLogind()
{
    m_bus.unregisterService(QStringLiteral("org.freedesktop.login1"));
    m_bus.unregisterObject(sessionPath());
    m_bus.unregisterObject(QStringLiteral("/org/freedesktop/login1"));
    QDBusConnection::disconnectFromBus(m_bus.name());
    m_thread->quit();
    m_thread->wait();
}

QDBusObjectPath FakeLogind::GetSession(const QString &)
{
    return QDBusObjectPath(sessionPath());
}

QDBusObjectPath FakeLogind::GetSessionByPID(uint)
{
    return QDBusObjectPath(sessionPath());
}

void FakeLogind::prepareForSleep(bool start)
{
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"));
    signal << start;
    m_bus.send(signal);
}

void FakeLogind::prepareForShutdown(bool start)
{
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForShutdown"));
    signal << start;
    m_bus.send(signal);
}

void FakeLogind::setSessionActive(bool active)
{
    m_session->setActive(active);
    QDBusMessage signal = QDBusMessage::createSignal(
        sessionPath(), QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
    signal << QStringLiteral("org.freedesktop.login1.Session") << QVariantMap { { QStringLiteral("Active"), active } }
           << QStringList();
    m_bus.send(signal);
}

QStringList helperLogMessages(const QFTempHome &home)
{
    return home.logMessages(QStringLiteral("HelperTest"));
}

void writePreferences(const QVariantMap &values)
{
    QFPropertyList::write(QFProject::preferenceFilePath(), values);
}

QVariantMap watchFolder(const QString &folder, const QString &extensions)
{
    return { { QStringLiteral("folder"), folder }, { QStringLiteral("extensions"), extensions } };
}
