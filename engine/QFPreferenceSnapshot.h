#pragma once

// One reading of the main application's preference file, so that one operation sees one consistent
// set of settings. A missing or unreadable file reads as empty: every lookup then gives its default, and
// work that could lose the user's data by using defaults in place of the user's settings asks isReadable.

#include <QString>
#include <QVariantMap>

class QFPreferenceSnapshot final {
public:
    static QFPreferenceSnapshot read();

    bool fileExists() const { return m_exists; }
    // False when the file exists but is not a dictionary that can be read (damaged, emptied, unreadable).
    bool isReadable() const { return m_readable; }
    bool contains(const QString &key) const { return m_values.contains(key); }
    QVariant value(const QString &key) const { return m_values.value(key); }
    // Integers, booleans and numeric strings count; anything else gives the default.
    qint64 integer(const QString &key, qint64 defaultValue) const;
    QString string(const QString &key, const QString &defaultValue = QString()) const;

private:
    bool m_exists = false;
    bool m_readable = true;
    QVariantMap m_values;
};
