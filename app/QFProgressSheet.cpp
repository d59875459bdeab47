#include "app/QFProgressSheet.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

QFProgressSheet::QFProgressSheet(QWidget *parent)
    : QDialog(parent)
    , m_status(new QLabel)
    , m_bar(new QProgressBar)
    , m_cancel(new QPushButton(QStringLiteral("Cancel")))
{
    setObjectName(QStringLiteral("progressSheet"));
    setWindowModality(Qt::WindowModal);
    setWindowTitle(QStringLiteral("Pro Tombrel"));
    setMinimumWidth(420);
    m_status->setWordWrap(true);
    m_bar->setTextVisible(false);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_status);
    layout->addWidget(m_bar);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cancel);
    layout->addLayout(buttons);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        m_cancel->setEnabled(false);
        m_cancelled = true;
    });
}

void QFProgressSheet::start(const QString &status)
{
    m_status->setText(status);
    if (isVisible())
        return;
    m_bar->setRange(0, 0);
    m_cancel->setEnabled(true);
    m_cancelled = false;
    open();
}

void QFProgressSheet::setDeterminate(int maximum)
{
    m_bar->setRange(0, maximum);
    m_bar->setValue(0);
}

void QFProgressSheet::increment()
{
    m_bar->setValue(m_bar->value() + 1);
}

void QFProgressSheet::setStatus(const QString &status)
{
    m_status->setText(status);
}

void QFProgressSheet::finish()
{
    m_cancelled = true;
    hide();
}
