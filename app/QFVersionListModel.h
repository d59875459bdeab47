#pragma once

// The version list as the outline shows it: one top-level row per version entry (newest first), and
// below each its note, then its change lines. Replaced whole or grown at the front; never changed from
// another thread.

#include "engine/QFVersionEntry.h"

#include <QAbstractItemModel>
#include <QSet>

class QFVersionListModel final : public QAbstractItemModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFVersionListModel)
public:
    enum Role { KindRole = Qt::UserRole + 1, SubtitleRole, VersionFileRole, EntryRowRole };
    enum Kind { VersionRow, AnnotationRow, ChangeLineRow };

    explicit QFVersionListModel(QObject *parent = nullptr);

    const QList<QFVersionEntry> &entries() const { return m_entries; }
    void setEntries(const QList<QFVersionEntry> &entries);
    void insertEntriesAtFront(const QList<QFVersionEntry> &newestFirst);
    // Names of version files whose copies are on the sync service.
    void setSyncedFiles(const QSet<QString> &names);

    // The top-level row of the entry an index belongs to (a child gives its parent's), -1 for none.
    static int entryRow(const QModelIndex &index);
    static QString subtitleForEntry(const QFVersionEntry &entry, bool synced);

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool hasChildren(const QModelIndex &parent = QModelIndex()) const override;

private:
    int childCount(int entry) const;
    QString childText(int entry, int row) const;

    QList<QFVersionEntry> m_entries;
    QSet<QString> m_synced;
};
