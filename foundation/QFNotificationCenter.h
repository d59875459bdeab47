#pragma once

// The program's own notification centre: a name, an object and a user-info dictionary, posted from any
// thread and delivered on the thread of each observer's context (queued when it is another thread).
// Observers are bound to a context object and dropped with it.

#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <functional>

class QFNotificationCenter final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFNotificationCenter)
public:
    static QFNotificationCenter *defaultCenter();

    void postNotificationName(
        const QString &name, const QVariant &object = QVariant(), const QVariantMap &userInfo = {});
    // Calls handler for every notification of that name until context is destroyed.
    QMetaObject::Connection addObserver(QObject *context, const QString &name,
        std::function<void(const QVariant &object, const QVariantMap &userInfo)> handler);

Q_SIGNALS:
    void notificationPosted(const QString &name, const QVariant &object, const QVariantMap &userInfo);

private:
    QFNotificationCenter() = default;
};
