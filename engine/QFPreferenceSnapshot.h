#pragma once

// One reading of the main application's preference file, so that one operation sees one consistent
// set of settings. A missing or unreadable file reads as empty: every lookup then gives its default, and
// work that could lose the user's data by using defaults in place of the user's settings asks isReadable.
// The typed reads take an absent key's default from the key table (QFPreferenceKeys), so every program
// applies the same one; asking for a key outside the table is a programmer's error.

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
    // The stored value, else the key's registered default (invalid when it has none).
    QVariant valueOrDefault(const QString &key) const;
    // Integers, booleans and numeric strings count; anything else gives the default, and a key without a
    // default reads as 0.
    qint64 intValue(const QString &key) const;
    // Booleans, numbers (not 0) and the texts true/yes/1 or false/no/0 count; anything else gives the
    // default, and a key without one reads as false.
    bool boolValue(const QString &key) const;
    // A stored string, else the default (a null string when the key has none).
    QString stringValue(const QString &key) const;
    // The same with a fallback of the caller's, for telling an absent key from every value it may hold;
    // a setting is read with intValue and stringValue, so that its default is the key table's.
    qint64 integer(const QString &key, qint64 defaultValue) const;
    QString string(const QString &key, const QString &defaultValue = QString()) const;

private:
    bool m_exists = false;
    bool m_readable = true;
    QVariantMap m_values;
};
