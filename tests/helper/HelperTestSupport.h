#pragma once

// Fakes of the desktop for the helper's tests, each on a connection of its own to the private session
// bus: a notification server that records what it is asked to show, and a logind that sends the
// system's events on request. Plus the log and preference helpers the suites share.

#include "tests/support/QFTempHome.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QStringList>
#include <QThread>
#include <QVariantMap>

#include <memory>

struct ShownNotification {
    QString appName;
    QString title;
    QString description;
    QVariantMap hints;
};

class FakeNotificationServer final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    FakeNotificationServer();
    ~FakeNotificationServer() override;
    bool isRegistered() const { return m_registered; }
    QList<ShownNotification> shown() const { return m_shown; }

public Q_SLOTS:
    uint Notify(const QString &appName, uint replacesId, const QString &icon, const QString &summary,
        const QString &body, const QStringList &actions, const QVariantMap &hints, int timeout);

private:
    QDBusConnection m_bus;
    bool m_registered = false;
    QList<ShownNotification> m_shown;
};

class FakeLogindSession final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Session")
    Q_PROPERTY(bool Active READ active)

public:
    explicit FakeLogindSession(QObject *parent)
        : QObject(parent)
    {
    }
    bool active() const { return m_active; }
    void setActive(bool active) { m_active = active; }

private:
    std::atomic<bool> m_active { true };
};

// Serves from a thread of its own, since the helper asks it with blocking calls from the main thread.
class FakeLogind final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    FakeLogind();
    ~FakeLogind() override;
    bool isRegistered() const { return m_registered; }
    static QString sessionPath() { return QStringLiteral("/org/freedesktop/login1/session/_31"); }

    void prepareForSleep(bool start);
    void prepareForShutdown(bool start);
    void setSessionActive(bool active);

public Q_SLOTS:
    QDBusObjectPath GetSession(const QString &id);
    QDBusObjectPath GetSessionByPID(uint pid);

private:
    QDBusConnection m_bus;
    FakeLogindSession *m_session = nullptr;
    std::unique_ptr<QThread> m_thread;
    bool m_registered = false;
};

// The messages of the test log (without their dates), flushed first.
QStringList helperLogMessages(const QFTempHome &home);
// Writes the main application's preference file.
void writePreferences(const QVariantMap &values);
QVariantMap watchFolder(const QString &folder, const QString &extensions);
