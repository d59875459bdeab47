#include "app/QFSequenceSheet.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

QFSequenceSheet::QFSequenceSheet(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("sequenceSheet"));
    setWindowTitle(QStringLiteral("Choose Sequence"));
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(this);
    m_status = new QLabel;
    m_status->setObjectName(QStringLiteral("sequenceStatus"));
    m_status->setWordWrap(true);
    m_list = new QListWidget;
    m_list->setObjectName(QStringLiteral("sequenceList"));
    m_list->setMinimumSize(360, 200);
    m_progress = new QProgressBar;
    m_progress->setRange(0, 0);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
    QPushButton *choose = buttons->addButton(QStringLiteral("Choose"), QDialogButtonBox::AcceptRole);
    choose->setEnabled(false);
    layout->addWidget(m_status);
    layout->addWidget(m_progress);
    layout->addWidget(m_list);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QListWidget::currentRowChanged, choose, [choose](int row) { choose->setEnabled(row >= 0); });
}

void QFSequenceSheet::setStatus(const QString &text)
{
    m_status->setText(text);
}

void QFSequenceSheet::showSequences(const QList<QFProjectSequence> &sequences)
{
    m_progress->hide();
    m_sequences = sequences;
    for (const QFProjectSequence &sequence : sequences)
        m_list->addItem(sequence.name);
    m_status->setText(QStringLiteral("Select a sequence from the list below and click Choose."));
}

void QFSequenceSheet::showError(const QString &error)
{
    m_progress->hide();
    m_status->setText(error);
}

std::optional<QFProjectSequence> QFSequenceSheet::chosenSequence() const
{
    const int row = m_list->currentRow();
    if (row < 0 || row >= m_sequences.size())
        return std::nullopt;
    return m_sequences.at(row);
}
