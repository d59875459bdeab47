#include "app/QFRowPainting.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

QFRowColours qfDrawRowBackground(QPainter *painter, QStyleOptionViewItem option)
{
    option.text.clear();
    option.icon = QIcon();
    QStyle *style = option.widget ? option.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &option, painter, option.widget);

    QFRowColours colours;
    colours.selected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = (option.state & QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
    colours.text = option.palette.color(group, colours.selected ? QPalette::HighlightedText : QPalette::Text);
    colours.dim = colours.text;
    colours.dim.setAlphaF(0.62f);
    return colours;
}
