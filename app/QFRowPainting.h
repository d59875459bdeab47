#pragma once

// What the application's list rows share: the style's own background (selection, hover, focus) drawn
// without its text and icon, and the colours the row's own text is then drawn in.

#include <QColor>
#include <QStyleOptionViewItem>

class QPainter;

struct QFRowColours {
    QColor text;
    QColor dim; // secondary lines
    bool selected = false;
};

// Draws the background of the row of option (already filled in for its index) and returns its colours.
QFRowColours qfDrawRowBackground(QPainter *painter, QStyleOptionViewItem option);
