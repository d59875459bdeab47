#include "foundation/QFNotificationCenter.h"

QFNotificationCenter *QFNotificationCenter::defaultCenter()
{
    static QFNotificationCenter *center = new QFNotificationCenter;
    return center;
}

void QFNotificationCenter::postNotificationName(
    const QString &name, const QVariant &object, const QVariantMap &userInfo)
{
    Q_EMIT notificationPosted(name, object, userInfo);
}

QMetaObject::Connection QFNotificationCenter::addObserver(
    QObject *context, const QString &name, std::function<void(const QVariant &, const QVariantMap &)> handler)
{
    return connect(this, &QFNotificationCenter::notificationPosted, context,
        [name, handler = std::move(handler)](
            const QString &posted, const QVariant &object, const QVariantMap &userInfo) {
            if (posted == name)
                handler(object, userInfo);
        });
}
