#include "tools/installer/PT_MessageViewPane.h"

#include "tools/installer/QFInstaller.h"

#include "foundation/QFAlert.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

PT_MessageViewPane::PT_MessageViewPane(QWidget *parent)
    : QWizardPage(parent)
{
    setObjectName(QStringLiteral("versionCheckPage"));
    setTitle(title());
    auto *layout = new QVBoxLayout(this);
    m_titleText = new QLabel(QStringLiteral("FCP Tombrel is installed on this computer."), this);
    QFont bold = m_titleText->font();
    bold.setBold(true);
    m_titleText->setFont(bold);
    m_descriptionText
        = new QLabel(QStringLiteral("Pro Tombrel takes the place of FCP Tombrel. Remove FCP Tombrel with its "
                                    "uninstaller before you go on, so that only one of them backs up your projects. "
                                    "Its versions stay where they are."),
            this);
    m_descriptionText->setWordWrap(true);
    m_uninstallBtn = new QPushButton(QStringLiteral("Uninstall FCP Tombrel…"), this);
    m_uninstallBtn->setObjectName(QStringLiteral("uninstallBtn"));
    layout->addWidget(m_titleText);
    layout->addWidget(m_descriptionText);
    auto *row = new QHBoxLayout;
    row->addWidget(m_uninstallBtn);
    row->addStretch(1);
    layout->addLayout(row);
    layout->addStretch(1);
    for (QWidget *widget : { static_cast<QWidget *>(m_titleText), static_cast<QWidget *>(m_descriptionText),
             static_cast<QWidget *>(m_uninstallBtn) })
        widget->hide();
    connect(m_uninstallBtn, &QPushButton::clicked, this, &PT_MessageViewPane::uninstall);
}

bool PT_MessageViewPane::didEnterPane()
{
    if (!QFInstaller::predecessorInstalled())
        return false;
    m_titleText->show();
    m_descriptionText->show();
    m_uninstallBtn->show();
    return true;
}

void PT_MessageViewPane::uninstall()
{
    QString error;
    const QString bundle = QFInstaller::launchPredecessorUninstaller(&error);
    if (bundle.isEmpty()) {
        QFAlert::alertSheetWithMessageText(
            QStringLiteral("Unable to open the uninstaller"), QString(), QString(), QString(), error, window(), false);
        return;
    }
    Q_EMIT uninstallerOpened(bundle);
}
