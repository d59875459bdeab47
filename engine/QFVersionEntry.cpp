#include "engine/QFVersionEntry.h"

QVariantMap QFVersionEntry::toDictionary() const
{
    QVariantMap map;
    QVariantList lines;
    for (const QString &line : changelist)
        lines << line;
    map.insert(QStringLiteral("changelist"), lines);
    map.insert(QStringLiteral("version"), version);
    if (date.isValid())
        map.insert(QStringLiteral("date"), date);
    map.insert(QStringLiteral("size"), size);
    map.insert(QStringLiteral("file"), file);
    map.insert(QStringLiteral("type"), type);
    if (!host.isEmpty())
        map.insert(QStringLiteral("host"), host);
    if (noProcess)
        map.insert(QStringLiteral("noProcess"), true);
    if (!annotation.isEmpty())
        map.insert(QStringLiteral("annotation"), annotation);
    return map;
}

std::optional<QFVersionEntry> QFVersionEntry::fromDictionary(const QVariant &value)
{
    if (value.metaType().id() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap map = value.toMap();
    const auto text = [&](const char *key) {
        const QVariant v = map.value(QLatin1String(key));
        return v.metaType().id() == QMetaType::QString ? v.toString() : QString();
    };
    QFVersionEntry entry;
    for (const QVariant &line : map.value(QStringLiteral("changelist")).toList()) {
        if (line.metaType().id() == QMetaType::QString)
            entry.changelist << line.toString();
    }
    entry.version = text("version");
    const QVariant date = map.value(QStringLiteral("date"));
    if (date.metaType().id() == QMetaType::QDateTime)
        entry.date = date.toDateTime();
    entry.size = text("size");
    entry.file = text("file");
    entry.type = text("type");
    entry.host = text("host");
    entry.noProcess = map.value(QStringLiteral("noProcess")).toBool();
    entry.annotation = text("annotation");
    return entry;
}
