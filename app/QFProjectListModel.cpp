#include "app/QFProjectListModel.h"

#include "app/QFAppImages.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPainter>

QFProjectListModel::QFProjectListModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

void QFProjectListModel::setProjects(const QList<QFProject> &projects)
{
    beginResetModel();
    m_projects = projects;
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
    default:
        return {};
    }
}

QSize QFProjectItemDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    return { 160, std::max(44, option.fontMetrics.height() * 2 + 14) };
}

void QFProjectItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    opt.text.clear();
    opt.icon = QIcon();
    QStyle *style = opt.widget ? opt.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);

    const bool selected = opt.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = (opt.state & QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
    const QColor textColor = opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
    QColor dim = textColor;
    dim.setAlphaF(0.6f);

    painter->save();
    const QRect r = opt.rect;
    const QRect iconRect(r.left() + 8, r.top() + (r.height() - 28) / 2, 28, 28);
    index.data(Qt::DecorationRole).value<QIcon>().paint(painter, iconRect);
    const int textLeft = iconRect.right() + 10;
    const int textWidth = r.right() - textLeft - 6;
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
