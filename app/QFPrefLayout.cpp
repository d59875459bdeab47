#include "app/QFPrefLayout.h"

#include "app/AppController.h"
#include "engine/QFPreferenceSnapshot.h"
#include "foundation/platform/QFPropertyList.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace qfpref {

QLabel *heading(const QString &text)
{
    auto *label = new QLabel(text);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

QLabel *explanation(const QString &text)
{
    auto *label = new QLabel(text);
    label->setWordWrap(true);
    label->setForegroundRole(QPalette::PlaceholderText);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.92);
    label->setFont(font);
    return label;
}

QWidget *row(std::initializer_list<QWidget *> widgets, bool stretch)
{
    auto *line = new QWidget;
    auto *layout = new QHBoxLayout(line);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QWidget *widget : widgets)
        layout->addWidget(widget);
    if (stretch)
        layout->addStretch();
    return line;
}

void fillPage(QWidget *pane, QLayout *content)
{
    auto *outer = new QVBoxLayout(pane);
    outer->setContentsMargins(24, 18, 24, 18);
    outer->addLayout(content);
    outer->addStretch();
}

QWidget *page(QLayout *content)
{
    auto *pane = new QWidget;
    fillPage(pane, content);
    return pane;
}

qint64 integerValue(const QString &key)
{
    return QFPreferenceSnapshot::read().intValue(key);
}

} // namespace qfpref
