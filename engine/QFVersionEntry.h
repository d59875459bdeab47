#pragma once

// What the version list shows of one version file: its change lines, number, date, size and note.
// Stored in the change-list cache as a property-list dictionary with the keys "changelist", "version",
// "date", "size", "file", "type", "host", "noProcess" and "annotation" (absent values are left out).

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

struct QFVersionEntry {
    QStringList changelist;
    QString version;
    QDateTime date;
    QString size;
    QString file;
    QString type; // "xml", "fcp", "mlt" (projects saved as MLT XML) or "doc"
    QString host; // "fcp" for XML companions; "kdenlive", "shotcut" or "mlt" for MLT projects; else empty
    bool noProcess = false;
    QString annotation;

    QVariantMap toDictionary() const;
    // Nothing when the value is not a dictionary; missing or mistyped keys read as empty.
    static std::optional<QFVersionEntry> fromDictionary(const QVariant &value);
    bool operator==(const QFVersionEntry &) const = default;
};

// Receives the progress of a cache refresh. When the engine serves a window, the calls arrive on the
// main thread; otherwise on the thread of the refresh.
class QFChangelistDelegate {
public:
    virtual ~QFChangelistDelegate() = default;
    virtual void versionsToBeLoaded(int count) { Q_UNUSED(count) }
    virtual void changeLogReady(const QFVersionEntry &entry) { Q_UNUSED(entry) }
    virtual void loadingFinished() { }
};
