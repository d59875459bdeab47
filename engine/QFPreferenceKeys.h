#pragma once

// The key table of the main application's preference file (com.quenfield.ProTombrel.plist): each key's
// type, registered default and accepted values, the parsing of values typed by a person, and a writer
// that changes some keys without losing the others. Pure functions over the file; safe from any
// thread, and every write holds the file's lock across its read and write.

#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <limits>
#include <optional>

struct QFPreferenceKey {
    // Switch: an integer where 1 means on and 0 off. Array: a list edited elsewhere (tombrel watch).
    enum class Type { Integer, Switch, Boolean, String, Path, Date, Array };

    QString name;
    Type type = Type::Integer;
    // Invalid when the key has none: readers then apply their own fallback.
    QVariant registeredDefault;
    qint64 minimum = std::numeric_limits<qint64>::min();
    qint64 maximum = std::numeric_limits<qint64>::max();
    QString meaning;
};

class QFPreferenceKeys final {
public:
    static QList<QFPreferenceKey> table();
    // Nothing for a key outside the table.
    static std::optional<QFPreferenceKey> find(const QString &name);
    // The key's registered default, the one value every reader of an absent key uses; invalid when the key
    // has none. A key outside the table is a programmer's error (asserted) and reads as invalid.
    static QVariant registeredDefault(const QString &name);
    static QString typeName(QFPreferenceKey::Type type);

    // The value to store for a text typed by a person, or nothing with the reason when the text does not
    // fit the key: integers in the key's range, switches 0 or 1, booleans true/false/yes/no/1/0, dates in
    // ISO 8601, paths made absolute with "~" expanded. Arrays are never parsed from text.
    static std::optional<QVariant> parse(const QFPreferenceKey &key, const QString &text, QString *error = nullptr);
    // Whether a value read from the file has the key's type.
    static bool hasType(const QFPreferenceKey &key, const QVariant &value);
    // A value as one line of text: numbers, true/false, strings as they are, dates in ISO 8601 (UTC),
    // lists and dictionaries as compact JSON.
    static QString format(const QVariant &value);
    // A value as JSON: dates in ISO 8601 (UTC), data in base 64.
    static QJsonValue toJson(const QVariant &value);

    // The preference file's contents; an absent file reads as empty. Nothing, with the reason, when the
    // file exists but is not a readable dictionary.
    static std::optional<QVariantMap> readFile(QString *error = nullptr);
    // Sets the values and removes the keys in one atomic write of the file. A file that exists but cannot
    // be read is left as it is (false): writing would empty every other setting in it.
    static bool update(const QVariantMap &values, const QStringList &removals = {}, QString *error = nullptr);
    // Changes the file's contents under its lock, so that what change read is still the file it writes
    // over; a change that returns false (with its reason) leaves the file as it is.
    static bool modify(
        const std::function<bool(QVariantMap &contents, QString *error)> &change, QString *error = nullptr);
};
