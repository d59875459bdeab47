#pragma once

// The watch-folder lists of the preference file as the preference window edits them: watchFolders
// (absolute folders) and watchDriveFolders (folders relative to the root of every drive), each element a
// dictionary with "folder" and "extensions". Adding checks for duplicates and watched parent folders;
// elements this code does not understand are kept as they are. Safe from any thread.

#include <QList>
#include <QPair>
#include <QString>
#include <QVariantMap>

#include <optional>

class QFWatchFolderSettings final {
public:
    enum class List { Folders, DriveFolders };

    struct Entry {
        QString folder;
        // Absent until the user gives some; such an entry finds no project.
        std::optional<QString> extensions;
        bool operator==(const Entry &) const = default;
    };

    // Why a folder is not added: the alert the preference window shows.
    struct Refusal {
        QString title;
        QString text;
    };

    static QString key(List list);
    // The entries of a list in the preference file; elements without a folder string are left out.
    static QList<Entry> entries(List list);
    static QList<Entry> entriesOf(const QVariantMap &preferences, List list);

    // A folder as it is stored: for watch folders absolute, "~" expanded, without a trailing "/"; for drive
    // folders the same relative to a drive's root, beginning with "/".
    static QString normalizedFolder(List list, const QString &folder);
    // Comma-separated, lower case, without blanks, leading dots or empty items: " .AVB, avp," → "avb,avp".
    static QString normalizedExtensions(const QString &text);

    // Nothing when folder may join the entries; else "Duplicate watch folder" when it is watched already,
    // or "Parent already watched" when a folder above it is. Parents are whole path components, so
    // "/a/Movies2" does not lie inside "/a/Movies".
    static std::optional<Refusal> checkNewFolder(const QList<Entry> &entries, const QString &folder);

    // Appends an entry after the check. False with the refusal, or with the reason when the preference file
    // cannot be read or written.
    static bool addFolder(List list, const QString &folder, const std::optional<QString> &extensions,
        std::optional<Refusal> *refusal, QString *error = nullptr);
    // Removes every entry with this folder. False when there is none or the file cannot be written.
    static bool removeFolder(List list, const QString &folder, QString *error = nullptr);

    // The list's elements exactly as stored, for a table that shows and edits them in place (an element
    // with an empty folder is one the user is still typing). Elements that are not dictionaries are left
    // out of the table but kept in the file.
    static QList<QVariantMap> elements(List list);
    // Appends an element without any check (presets, the empty row of a new drive folder).
    static bool appendElement(List list, const QVariantMap &element, QString *error = nullptr);
    // Replaces the element shown at row (which must still hold shown; else the first equal element) by a
    // copy with column ("folder" or "extensions") set to value: folders normalized for the list,
    // extensions to lower case without blanks. False when the element is gone from the file meanwhile.
    static bool setElementValue(List list, int row, const QVariantMap &shown, const QString &column,
        const QString &value, QString *error = nullptr);
    // Removes the elements shown (each at its row, else the first equal one); those gone meanwhile are
    // skipped.
    static bool removeElements(List list, const QList<QPair<int, QVariantMap>> &shownRows, QString *error = nullptr);

    // The watch folders a first run sets: the Movies folder and the editors' project folders in Documents.
    static QVariantList defaultWatchFolders();
    // The stored elements followed by each default whose folder neither is watched already nor lies
    // inside a watched folder.
    static QVariantList withDefaultWatchFolders(const QVariantList &existing);
};
