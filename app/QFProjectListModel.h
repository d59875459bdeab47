#pragma once

// The project table's rows: the project list, or the search's result when one is shown.

#include "engine/QFProject.h"

#include <QAbstractListModel>
#include <QHash>
#include <QImage>
#include <QStyledItemDelegate>

class QFProjectListModel final : public QAbstractListModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFProjectListModel)
public:
    enum Role { PathRole = Qt::UserRole + 1, ProjectIDRole, SnapshotRole };
    explicit QFProjectListModel(QObject *parent = nullptr);

    void setProjects(const QList<QFProject> &projects);
    const QList<QFProject> &projects() const { return m_projects; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    // The newest screenshot of a project, small; decoded when its row is first painted.
    QImage snapshotFor(const QFProject &project) const;

    QList<QFProject> m_projects;
    mutable QHash<QString, QImage> m_snapshots;
};

// A project row: the file's icon, the name, and the folder it lives in.
class QFProjectItemDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
