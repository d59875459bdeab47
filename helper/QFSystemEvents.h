#pragma once

// The system's events as logind announces them on the system bus: sleep and wake (PrepareForSleep),
// power-off (PrepareForShutdown), and log-in and log-out as the Active property of the user's session.
// Without logind, or without a bus, the events simply never come. The bus is a parameter so that tests
// can offer a fake logind on a private bus.

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

class QFSystemEvents final : public QObject {
    Q_OBJECT

public:
    explicit QFSystemEvents(const QDBusConnection &bus, QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(QFSystemEvents)

    // The session whose Active property is followed; empty when none was found.
    QString sessionPath() const { return m_sessionPath; }

Q_SIGNALS:
    void sessionDidBecomeActive();
    void sessionDidResignActive();
    void willPowerOff();
    void willSleep();
    void didWake();

private Q_SLOTS:
    void onPrepareForSleep(bool start);
    void onPrepareForShutdown(bool start);
    void onSessionPropertiesChanged(
        const QString &interface, const QVariantMap &changed, const QStringList &invalidated);

private:
    QString findSession();
    std::optional<bool> sessionActive();

    QDBusConnection m_bus;
    QString m_sessionPath;
    std::optional<bool> m_active;
};
