#pragma once

// Property-list files in the XML form the other programs of the system read and write (binary ones
// are read too). Values map to QVariant: dictionary → QVariantMap, array → QVariantList, string → QString,
// integer → qint64, real → double, boolean → bool, date → QDateTime (UTC), data → QByteArray.
// A missing, unreadable or malformed file reads as absent; nothing here throws or crashes.

#include <QString>
#include <QVariant>

#include <functional>
#include <optional>

class QFPropertyList final {
public:
    // The whole file's value, or nothing.
    static std::optional<QVariant> read(const QString &path);
    // The file's value when it is a dictionary, or nothing.
    static std::optional<QVariantMap> readDictionary(const QString &path);
    // Parses a property list held in memory (XML or binary).
    static std::optional<QVariant> parse(const QByteArray &data);

    // The XML form of a value; empty when the value holds a type that property lists cannot.
    static QByteArray toXml(const QVariant &value);
    // Writes the XML form atomically: the old file stays whole until the new one is complete.
    static bool write(const QString &path, const QVariant &value, QString *error = nullptr);

    // What a change of a dictionary file asks for once it has changed the contents it was given.
    enum class Change { Write, Keep, Remove };
    // Reads, changes and rewrites a dictionary file under its lock (QFFileLock), so a writer in another
    // thread or program never loses this change nor this one its change. A missing file reads as an empty
    // dictionary; a file that exists but is not a readable dictionary is left alone (false), since writing
    // would lose everything in it. False, with the reason, when writing or removing fails.
    static bool updateDictionary(
        const QString &path, const std::function<Change(QVariantMap &)> &change, QString *error = nullptr);

    // Reads an integer-like value the way settings are read: numbers, booleans and numeric strings.
    static std::optional<qint64> integerValue(const QVariant &value);
};
