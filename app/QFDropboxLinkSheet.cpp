#include "app/QFDropboxLinkSheet.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

QFDropboxLinkSheet::QFDropboxLinkSheet(const QString &address, QWidget *parent)
    : QDialog(parent, Qt::Sheet)
    , m_address(address)
{
    setObjectName(QStringLiteral("dropboxLinkSheet"));
    setWindowTitle(QStringLiteral("Link Dropbox"));
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 16);
    layout->setSpacing(10);

    auto *title = new QLabel(QStringLiteral("Link your Dropbox account"), this);
    QFont bold = title->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    title->setFont(bold);
    layout->addWidget(title);
    auto *steps = new QLabel(QStringLiteral("1. Open Dropbox's page and sign in.\n"
                                            "2. Allow Pro Tombrel to keep versions in its own Dropbox folder.\n"
                                            "3. Copy the code Dropbox shows and paste it below."),
        this);
    layout->addWidget(steps);

    auto *pageRow = new QHBoxLayout;
    auto *addressField = new QLineEdit(address, this);
    addressField->setObjectName(QStringLiteral("dropboxLinkAddress"));
    addressField->setReadOnly(true);
    addressField->setCursorPosition(0);
    addressField->setMinimumWidth(360);
    auto *open = new QPushButton(QStringLiteral("Open Page"), this);
    open->setObjectName(QStringLiteral("dropboxLinkOpen"));
    auto *copy = new QPushButton(QStringLiteral("Copy"), this);
    copy->setObjectName(QStringLiteral("dropboxLinkCopy"));
    pageRow->addWidget(addressField, 1);
    pageRow->addWidget(copy);
    pageRow->addWidget(open);
    layout->addLayout(pageRow);

    auto *form = new QFormLayout;
    m_code = new QLineEdit(this);
    m_code->setObjectName(QStringLiteral("dropboxLinkCode"));
    m_code->setPlaceholderText(QStringLiteral("Code from Dropbox"));
    form->addRow(QStringLiteral("Code:"), m_code);
    layout->addLayout(form);
    m_error = new QLabel(this);
    m_error->setObjectName(QStringLiteral("dropboxLinkError"));
    m_error->setWordWrap(true);
    QPalette red = m_error->palette();
    const bool dark = palette().color(QPalette::Window).lightness() < 128;
    red.setColor(QPalette::WindowText, dark ? QColor(0xff, 0x7b, 0x63) : QColor(0xc0, 0x1c, 0x28));
    m_error->setPalette(red);
    m_error->hide();
    layout->addWidget(m_error);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("dropboxLinkCancel"));
    m_link = new QPushButton(QStringLiteral("Link"), this);
    m_link->setObjectName(QStringLiteral("dropboxLinkButton"));
    m_link->setDefault(true);
    m_link->setEnabled(false);
    buttons->addWidget(cancel);
    buttons->addWidget(m_link);
    layout->addLayout(buttons);

    connect(open, &QPushButton::clicked, this, [this] { QDesktopServices::openUrl(QUrl(m_address)); });
    connect(copy, &QPushButton::clicked, this, [this] { QApplication::clipboard()->setText(m_address); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_code, &QLineEdit::textChanged, this,
        [this](const QString &text) { m_link->setEnabled(!text.trimmed().isEmpty()); });
    connect(m_link, &QPushButton::clicked, this, [this] {
        m_error->hide();
        Q_EMIT codeEntered(m_code->text().trimmed());
    });
    m_code->setFocus();
}

void QFDropboxLinkSheet::setBusy(bool busy)
{
    m_link->setEnabled(!busy && !m_code->text().trimmed().isEmpty());
    m_code->setEnabled(!busy);
    m_link->setText(busy ? QStringLiteral("Linking…") : QStringLiteral("Link"));
}

void QFDropboxLinkSheet::showError(const QString &text)
{
    m_error->setText(text);
    m_error->show();
}
