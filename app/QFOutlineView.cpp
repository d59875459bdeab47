#include "app/QFOutlineView.h"

#include "app/QFRowPainting.h"
#include "app/QFVersionListModel.h"
#include "foundation/QFNotificationCenter.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>

#include <cmath>

QFOutlineView::QFOutlineView(QWidget *parent)
    : QTreeView(parent)
{
    setHeaderHidden(true);
    setUniformRowHeights(false);
    setAnimated(true);
    // Two versions may be chosen together, to compare them.
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setItemDelegate(new QFVersionItemDelegate(this));
    header()->setStretchLastSection(true);
}

void QFOutlineView::keyPressEvent(QKeyEvent *event)
{
    QFNotificationCenter *center = QFNotificationCenter::defaultCenter();
    const bool command = event->modifiers() & Qt::ControlModifier;
    switch (event->key()) {
    case Qt::Key_Space:
        center->postNotificationName(QStringLiteral("QFProTombrelQuickLook"));
        return;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        if (command) {
            center->postNotificationName(QStringLiteral("QFProTombrelDeleteAllBackups"));
            return;
        }
        if (currentIndex().isValid()
            && currentIndex().data(QFVersionListModel::KindRole).toInt() == QFVersionListModel::VersionRow)
            center->postNotificationName(
                QStringLiteral("QFProTombrelDeleteBackup"), currentIndex().data(QFVersionListModel::EntryRowRole));
        return;
    default:
        QTreeView::keyPressEvent(event);
    }
}

void QFOutlineView::contextMenuEvent(QContextMenuEvent *event)
{
    const QModelIndex index = indexAt(event->pos());
    if (!index.isValid())
        return;
    setCurrentIndex(index);
    if (index.data(QFVersionListModel::KindRole).toInt() == QFVersionListModel::VersionRow)
        Q_EMIT contextMenuRequestedForVersion(index, event->globalPos());
}

void QFOutlineView::mouseReleaseEvent(QMouseEvent *event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    QTreeView::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && index.isValid()
        && index.data(QFVersionListModel::PlaceholderRole).toBool())
        Q_EMIT placeholderClicked(index);
}

void QFOutlineView::resizeEvent(QResizeEvent *event)
{
    QTreeView::resizeEvent(event);
    // Wrapped change lines need new heights for the new width.
    scheduleDelayedItemsLayout();
}

QFVersionItemDelegate::QFVersionItemDelegate(QTreeView *view)
    : QStyledItemDelegate(view)
    , m_view(view)
{
}

int QFVersionItemDelegate::textWidthFor(const QModelIndex &index) const
{
    int level = 0;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
        ++level;
    return std::max(40, m_view->viewport()->width() - m_view->indentation() * (level + 1) - 55);
}

QSize QFVersionItemDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const int kind = index.data(QFVersionListModel::KindRole).toInt();
    if (kind == QFVersionListModel::VersionRow)
        return { 200, kVersionRowHeight };
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.size() < kLongLine)
        return { 200, kLineRowHeight };
    const double width = option.fontMetrics.horizontalAdvance(text);
    const int lines = std::max(1, int(std::ceil(width / textWidthFor(index))));
    return { 200, kLineRowHeight * lines };
}

void QFVersionItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QString text = opt.text;
    const QFRowColours colours = qfDrawRowBackground(painter, opt);
    const bool selected = colours.selected;
    const QColor textColor = colours.text;
    const QColor dimColor = colours.dim;

    painter->save();
    const QRect r = opt.rect;
    const int kind = index.data(QFVersionListModel::KindRole).toInt();
    if (kind == QFVersionListModel::VersionRow) {
        const QIcon icon = index.data(Qt::DecorationRole).value<QIcon>();
        const QRect iconRect(r.left() + 6, r.top() + (r.height() - 32) / 2, 32, 32);
        icon.paint(painter, iconRect);

        QFont title = opt.font;
        title.setBold(true);
        title.setPointSizeF(title.pointSizeF() + 0.5);
        const QRect titleRect(iconRect.right() + 10, r.top() + 6, r.width() - 52, r.height() / 2 - 4);
        painter->setFont(title);
        // A soft shadow lifts the title a little off the row.
        painter->setPen(QColor(0, 0, 0, selected ? 70 : 40));
        painter->drawText(titleRect.translated(1, 1), Qt::AlignLeft | Qt::AlignBottom, text);
        painter->setPen(textColor);
        painter->drawText(titleRect, Qt::AlignLeft | Qt::AlignBottom, text);

        QFont small = opt.font;
        small.setPointSizeF(std::max(7.0, small.pointSizeF() - 1));
        painter->setFont(small);
        painter->setPen(dimColor);
        const QRect subtitleRect(titleRect.left(), r.top() + r.height() / 2 + 2, titleRect.width(), r.height() / 2 - 6);
        painter->drawText(
            subtitleRect, Qt::AlignLeft | Qt::AlignTop, index.data(QFVersionListModel::SubtitleRole).toString());
    } else if (index.data(QFVersionListModel::PlaceholderRole).toBool()) {
        // A version without its XML copy: a button that makes it.
        QStyleOptionButton button;
        button.initFrom(opt.widget);
        button.rect = QRect(r.left() + 2, r.top() + 1,
            std::min(r.width() - 4, opt.fontMetrics.horizontalAdvance(text) + 28), r.height() - 2);
        button.text = text;
        button.state = QStyle::State_Enabled | QStyle::State_Raised;
        if (opt.state & QStyle::State_MouseOver)
            button.state |= QStyle::State_MouseOver;
        QStyle *style = opt.widget ? opt.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_PushButton, &button, painter, opt.widget);
    } else {
        QFont font = opt.font;
        if (kind == QFVersionListModel::AnnotationRow)
            font.setItalic(true);
        painter->setFont(font);
        painter->setPen(textColor);
        QRect textRect = r.adjusted(4, 1, -4, -1);
        const QIcon icon = index.data(Qt::DecorationRole).value<QIcon>();
        if (!icon.isNull()) {
            icon.paint(painter, QRect(textRect.left(), r.top() + (kLineRowHeight - 16) / 2, 16, 16));
            textRect.setLeft(textRect.left() + 22);
        }
        painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, text);
    }
    painter->restore();
}
