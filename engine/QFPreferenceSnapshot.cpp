#include "engine/QFPreferenceSnapshot.h"

#include "engine/QFPreferenceKeys.h"
#include "engine/QFProject.h"
#include "foundation/platform/QFPropertyList.h"

#include <QFileInfo>

QFPreferenceSnapshot QFPreferenceSnapshot::read()
{
    QFPreferenceSnapshot snapshot;
    const QString path = QFProject::preferenceFilePath();
    snapshot.m_exists = QFileInfo::exists(path);
    auto values = QFPropertyList::readDictionary(path);
    snapshot.m_readable = !snapshot.m_exists || values.has_value();
    snapshot.m_values = std::move(values).value_or(QVariantMap());
    return snapshot;
}

qint64 QFPreferenceSnapshot::integer(const QString &key, qint64 defaultValue) const
{
    if (!m_values.contains(key))
        return defaultValue;
    return QFPropertyList::integerValue(m_values.value(key)).value_or(defaultValue);
}

QString QFPreferenceSnapshot::string(const QString &key, const QString &defaultValue) const
{
    const QVariant v = m_values.value(key);
    return v.metaType().id() == QMetaType::QString ? v.toString() : defaultValue;
}

QVariant QFPreferenceSnapshot::valueOrDefault(const QString &key) const
{
    const QVariant stored = m_values.value(key);
    return stored.isValid() ? stored : QFPreferenceKeys::registeredDefault(key);
}

qint64 QFPreferenceSnapshot::intValue(const QString &key) const
{
    const qint64 fallback = QFPropertyList::integerValue(QFPreferenceKeys::registeredDefault(key)).value_or(0);
    if (!m_values.contains(key))
        return fallback;
    return QFPropertyList::integerValue(m_values.value(key)).value_or(fallback);
}

bool QFPreferenceSnapshot::boolValue(const QString &key) const
{
    const QVariant registered = QFPreferenceKeys::registeredDefault(key);
    const bool fallback = registered.isValid() && registered.toBool();
    const QVariant stored = m_values.value(key);
    if (stored.metaType().id() == QMetaType::QString) {
        const QString text = stored.toString().trimmed().toLower();
        if (text == QLatin1String("true") || text == QLatin1String("yes"))
            return true;
        if (text == QLatin1String("false") || text == QLatin1String("no"))
            return false;
    }
    if (const auto number = QFPropertyList::integerValue(stored))
        return *number != 0;
    return fallback;
}

QString QFPreferenceSnapshot::stringValue(const QString &key) const
{
    const QVariant stored = m_values.value(key);
    if (stored.metaType().id() == QMetaType::QString)
        return stored.toString();
    const QVariant registered = QFPreferenceKeys::registeredDefault(key);
    return registered.metaType().id() == QMetaType::QString ? registered.toString() : QString();
}
