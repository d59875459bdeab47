#include "app/QFProjectListModel.h"

#include "app/QFAppImages.h"
#include "app/QFRowPainting.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

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
    const QStringList names = screenshots.entryList({ QStringLiteral("*.jpg") }, QDir::Files, QDir::Name | QDir::Reversed);
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
    // The newest screenshot at the right end of the row.
    const QImage snapshot = index.data(QFProjectListModel::SnapshotRole).value<QImage>();
    int textRight = r.right() - 6;
    if (!snapshot.isNull()) {
        const QRect shot(r.right() - 6 - snapshot.width(), r.top() + (r.height() - snapshot.height()) / 2, snapshot.width(), snapshot.height());
        painter->drawImage(shot, snapshot);
        painter->setPen(QColor(0, 0, 0, 60));
        painter->drawRect(shot.adjusted(0, 0, -1, -1));
        textRight = shot.left() - 8;
    }
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
    const QString folder = QDir::toNativeSeparators(QFileInfo(index.data(QFProjectListModel::PathRole).toString()).absolutePath());
    const QString home = QDir::homePath();
    const QString shown = folder.startsWith(home) ? u'~' + folder.mid(home.size()) : folder;
    painter->drawText(QRect(textLeft, r.top() + r.height() / 2 + 1, textWidth, r.height() / 2 - 6), Qt::AlignLeft | Qt::AlignTop,
        QFontMetrics(small).elidedText(shown, Qt::ElideMiddle, textWidth));
    painter->restore();
}
