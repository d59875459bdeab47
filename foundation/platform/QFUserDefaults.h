#pragma once

// A program's settings, as three layers read in this order: the argument domain ("-key value" pairs on
// the command line), the property-list file "<domain>.plist" in the Preferences folder, and defaults
// registered in memory. The file is re-read at every lookup, so a change made by another program is
// seen at once; every change is written through at once, atomically. Safe from any thread.

#include <QDateTime>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

class QFUserDefaults final {
public:
    // Settings of a domain; an explicit file path replaces the Preferences-folder file.
    explicit QFUserDefaults(const QString &domain, const QString &filePath = QString());

    // The running program's own settings, named after its bundle identifier (or its executable name).
    static QFUserDefaults &standard();

    QString domain() const { return m_domain; }
    QString filePath() const;

    QVariant objectForKey(const QString &key) const;
    QString stringForKey(const QString &key) const;
    qint64 integerForKey(const QString &key) const;
    bool boolForKey(const QString &key) const;
    std::optional<QDateTime> dateForKey(const QString &key) const;
    // The file's contents merged over the registered defaults (arguments not included).
    QVariantMap dictionaryRepresentation() const;

    bool setObject(const QString &key, const QVariant &value);
    bool removeObject(const QString &key);
    void registerDefaults(const QVariantMap &defaults);
    // Parses "-key value" pairs; everything else is ignored.
    void setArguments(const QStringList &arguments);
    // Changes are written as they are made; kept for callers that want to be sure.
    bool synchronize() const { return true; }

private:
    QVariantMap fileContents() const;

    QString m_domain;
    QString m_filePath;
    mutable QMutex m_lock;
    QVariantMap m_registered;
    QVariantMap m_arguments;
};
