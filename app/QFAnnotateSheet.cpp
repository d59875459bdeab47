#include "app/QFAnnotateSheet.h"

#include "foundation/platform/QFFormat.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

QFAnnotateSheet::QFAnnotateSheet(const QString &version, const QString &note, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("annotateSheet"));
    setWindowTitle(QStringLiteral("Annotate"));
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(qfFormat("Note for version %@:", version)));
    m_text = new QPlainTextEdit(note);
    m_text->setObjectName(QStringLiteral("annotation"));
    m_text->setTabChangesFocus(true);
    m_text->setMinimumSize(380, 90);
    layout->addWidget(m_text);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

QString QFAnnotateSheet::note() const
{
    return m_text->toPlainText();
}

void QFAnnotateSheet::open()
{
    QDialog::open();
    m_text->setFocus();
}
