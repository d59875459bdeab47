#include "app/QFProjectListModel.h"

#include "app/QFAppImages.h"
#include "app/QFRowPainting.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QAbstractItemView>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

QFProjectListModel::QFProjectListModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

void QFProjectListModel::setProjects(const QList<QFProject> &projects)
{
    beginResetModel();
    m_projects = projects;
    m_snapshots.clear();
    endResetModel();
}

void QFProjectListModel::setBusy(const QString &projectID, bool busy)
{
    if (busy)
        m_busy.insert(projectID);
    else
        m_busy.remove(projectID);
    // A finished backup has a new newest screenshot.
    m_snapshots.remove(projectID);
    for (int row = 0; row < m_projects.size(); ++row) {
        if (m_projects.at(row).projectID() == projectID)
            Q_EMIT dataChanged(index(row), index(row));
    }
}

int QFProjectListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_projects.size());
}

QVariant QFProjectListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_projects.size())
        return {};
    const QFProject &project = m_projects.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return project.friendlyName();
    case Qt::ToolTipRole:
    case PathRole:
        return project.expandedProjectPath();
    case ProjectIDRole:
        return project.projectID();
    case Qt::DecorationRole:
        return QFAppImages::iconForFile(project.expandedProjectPath());
    case SnapshotRole:
        return snapshotFor(project);
    case BusyRole:
        return m_busy.contains(project.projectID());
    default:
        return {};
    }
}

QImage QFProjectListModel::snapshotFor(const QFProject &project) const
{
    const auto found = m_snapshots.constFind(project.projectID());
    if (found != m_snapshots.cend())
        return *found;
    QImage snapshot;
    const QDir screenshots(project.destinationPath() + QStringLiteral("/Screenshots"));
    const QStringList names
        = screenshots.entryList({ QStringLiteral("*.jpg") }, QDir::Files, QDir::Name | QDir::Reversed);
    if (!names.isEmpty()) {
        QImageReader reader(screenshots.filePath(names.first()));
        QSize size = reader.size();
        if (size.isValid()) {
            size.scale(QSize(64, 40), Qt::KeepAspectRatio);
            reader.setScaledSize(size);
        }
        snapshot = reader.read();
    }
    m_snapshots.insert(project.projectID(), snapshot);
    return snapshot;
}

QSize QFProjectItemDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    return { 160, std::max(44, option.fontMetrics.height() * 2 + 14) };
}

void QFProjectItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QFRowColours colours = qfDrawRowBackground(painter, opt);
    const QColor textColor = colours.text;
    const QColor dim = colours.dim;

    painter->save();
    const QRect r = opt.rect;
    const QRect iconRect(r.left() + 8, r.top() + (r.height() - 28) / 2, 28, 28);
    index.data(Qt::DecorationRole).value<QIcon>().paint(painter, iconRect);
    const int textLeft = iconRect.right() + 10;
    // The snapshot cell at the right end of the row: the newest screenshot, or the back-up-now picture.
    const QRect cell = snapshotRect(r);
    const QImage snapshot = index.data(QFProjectListModel::SnapshotRole).value<QImage>();
    if (!snapshot.isNull()) {
        const QRect shot(cell.right() + 1 - snapshot.width(), cell.top() + (cell.height() - snapshot.height()) / 2,
            snapshot.width(), snapshot.height());
        painter->drawImage(shot, snapshot);
        painter->setPen(QColor(0, 0, 0, 60));
        painter->drawRect(shot.adjusted(0, 0, -1, -1));
    } else {
        const QRect mark(cell.center().x() - 10, cell.center().y() - 10, 20, 20);
        QFAppImages::themeIcon({ QStringLiteral("camera-photo"), QStringLiteral("document-save") }, opt.palette)
            .paint(painter, mark, Qt::AlignCenter,
                (opt.state & QStyle::State_MouseOver) || (opt.state & QStyle::State_Selected) ? QIcon::Normal
                                                                                              : QIcon::Disabled);
    }
    if (index.data(QFProjectListModel::BusyRole).toBool()) {
        painter->fillRect(cell, QColor(0, 0, 0, 110));
        painter->setPen(Qt::white);
        painter->drawText(cell, Qt::AlignCenter, QStringLiteral("…"));
    }
    const int textRight = cell.left() - 8;
    const int textWidth = textRight - textLeft;
    QFont name = opt.font;
    name.setBold(true);
    painter->setFont(name);
    painter->setPen(textColor);
    const QFontMetrics nameMetrics(name);
    painter->drawText(QRect(textLeft, r.top() + 6, textWidth, r.height() / 2 - 6), Qt::AlignLeft | Qt::AlignBottom,
        nameMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, textWidth));
    QFont small = opt.font;
    small.setPointSizeF(std::max(7.0, small.pointSizeF() - 1));
    painter->setFont(small);
    painter->setPen(dim);
    const QString folder
        = QDir::toNativeSeparators(QFileInfo(index.data(QFProjectListModel::PathRole).toString()).absolutePath());
    const QString home = QDir::homePath();
    const QString shown = folder.startsWith(home) ? u'~' + folder.mid(home.size()) : folder;
    painter->drawText(QRect(textLeft, r.top() + r.height() / 2 + 1, textWidth, r.height() / 2 - 6),
        Qt::AlignLeft | Qt::AlignTop, QFontMetrics(small).elidedText(shown, Qt::ElideMiddle, textWidth));
    painter->restore();
}

QRect QFProjectItemDelegate::snapshotRect(const QRect &row)
{
    return { row.right() - 6 - 64 + 1, row.top() + (row.height() - 40) / 2, 64, 40 };
}

bool QFProjectItemDelegate::helpEvent(
    QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (event->type() == QEvent::ToolTip && snapshotRect(option.rect).contains(event->pos())) {
        QToolTip::showText(event->globalPos(), QStringLiteral("Generate a backup snapshot of a project"), view);
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}
