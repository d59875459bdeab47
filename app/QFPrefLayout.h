#pragma once

// The pieces the panes of the preference window are laid out with, so that every pane looks alike.

#include <QString>

#include <initializer_list>

class QLabel;
class QLayout;
class QWidget;

namespace qfpref {

// A bold heading over a group of controls.
QLabel *heading(const QString &text);
// A line of explanation under a control, in the smaller, quieter text of the desktop.
QLabel *explanation(const QString &text);
// Widgets side by side, pushed to the left unless stretch is false.
QWidget *row(std::initializer_list<QWidget *> widgets, bool stretch = true);
// A pane holding the layout at the window's margins, its free room below.
QWidget *page(QLayout *content);
// Puts the layout into the pane at the window's margins, its free room below.
void fillPage(QWidget *pane, QLayout *content);
// A value of the preference file as an integer, else the key's registered default (0 without one).
qint64 integerValue(const QString &key);

} // namespace qfpref
