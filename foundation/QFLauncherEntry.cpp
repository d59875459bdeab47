#include "foundation/QFLauncherEntry.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

#include <algorithm>
#include <cmath>

namespace {

void update(const QVariantMap &properties)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/com/quenfield/ProTombrel/LauncherEntry"),
        QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    signal << QStringLiteral("application://pro-tombrel.desktop") << properties;
    bus.send(signal);
}

} // namespace

void QFLauncherEntry::setProgress(double progress)
{
    const double value = std::clamp(progress, 0.0, 1.0);
    update({ { QStringLiteral("progress"), value }, { QStringLiteral("progress-visible"), true },
        { QStringLiteral("count"), qint64(std::lround(value * 100)) }, { QStringLiteral("count-visible"), true } });
}

void QFLauncherEntry::clear()
{
    update({ { QStringLiteral("progress-visible"), false }, { QStringLiteral("count-visible"), false } });
}
