#include "engine/QFPreferenceSnapshot.h"

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
