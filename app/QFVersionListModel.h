#pragma once

// The version list as the outline shows it: one top-level row per version entry (newest first), and
// below each its note, then its change lines. Replaced whole or grown at the front; never changed from
// another thread.

#include "engine/QFVersionEntry.h"

#include <QAbstractItemModel>
#include <QSet>

#include <optional>

class QFVersionListModel final : public QAbstractItemModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFVersionListModel)
public:
    enum Role { KindRole = Qt::UserRole + 1, SubtitleRole, VersionFileRole, EntryRowRole, PlaceholderRole };
    enum Kind { VersionRow, AnnotationRow, ChangeLineRow };

    explicit QFVersionListModel(QObject *parent = nullptr);

    // What the outline shows: the search's result while there is one, else every version.
    const QList<QFVersionEntry> &entries() const { return m_entries; }
    const QList<QFVersionEntry> &allEntries() const { return m_all; }
    bool isShowingSearchResult() const { return m_searching; }
    // Replaces every version and ends a search.
    void setEntries(const QList<QFVersionEntry> &entries);
    void setSearchResult(const std::optional<QList<QFVersionEntry>> &result);
    void insertEntriesAtFront(const QList<QFVersionEntry> &newestFirst);
    // Each entry takes the place of the version of the same file, which keeps its row; those of no
    // listed version go to the front. Returns those.
    QList<QFVersionEntry> updateEntries(const QList<QFVersionEntry> &newestFirst);
    // The shown row of a version file, -1 for none.
    int rowOfFile(const QString &file) const;
    // The filtering preferences applied to the change lines under each version.
    void setFilters(const QVariantMap &preferences);
    // Names of version files whose copies are on the sync service.
    void setSyncedFiles(const QSet<QString> &names);
    const QSet<QString> &syncedFiles() const { return m_synced; }
    bool isSynced(const QString &name) const { return m_synced.contains(name); }

    // The top-level row of the entry an index belongs to (a child gives its parent's), -1 for none.
    static int entryRow(const QModelIndex &index);
    static QString subtitleForEntry(const QFVersionEntry &entry, bool synced);
    // A date in the medium styles of the locale, date and time ("Jan 5, 2024, 3:04:05 PM").
    static QString mediumDateTimeText(const QDateTime &date);

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool hasChildren(const QModelIndex &parent = QModelIndex()) const override;

private:
    int childCount(int entry) const;
    QString childText(int entry, int row) const;
    QStringList shownLines(const QFVersionEntry &entry) const;
    void refilter();
    void replaceShownEntry(int row, const QFVersionEntry &entry);

    QList<QFVersionEntry> m_all;
    QList<QFVersionEntry> m_entries;
    QList<QStringList> m_lines; // the filtered change lines of each shown entry
    QVariantMap m_filters;
    bool m_searching = false;
    QSet<QString> m_synced;
};
