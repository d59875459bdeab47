#pragma once

// The project table's rows: the project list, or the search's result when one is shown.

#include "engine/QFProject.h"

#include <QAbstractListModel>
#include <QHash>
#include <QImage>
#include <QSet>
#include <QStyledItemDelegate>

class QFProjectListModel final : public QAbstractListModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFProjectListModel)
public:
    enum Role { PathRole = Qt::UserRole + 1, ProjectIDRole, SnapshotRole, BusyRole };
    explicit QFProjectListModel(QObject *parent = nullptr);

    void setProjects(const QList<QFProject> &projects);
    const QList<QFProject> &projects() const { return m_projects; }
    // A backup or restore of the project is under way: its snapshot cell shows it.
    void setBusy(const QString &projectID, bool busy);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    // The newest screenshot of a project, small; decoded when its row is first painted.
    QImage snapshotFor(const QFProject &project) const;

    QList<QFProject> m_projects;
    mutable QHash<QString, QImage> m_snapshots;
    QSet<QString> m_busy;
};

// A project row: the file's icon, the name, and the folder it lives in.
class QFProjectItemDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
        const QModelIndex &index) override;
    // The snapshot cell at the right end of a row: a click there backs the project up now.
    static QRect snapshotRect(const QRect &row);
};
