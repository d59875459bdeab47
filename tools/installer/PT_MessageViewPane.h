#pragma once

// The installer's "Version Check" page: shown only when the predecessor product, FCP Tombrel, is installed,
// with a button that opens the predecessor's uninstaller; otherwise the wizard passes it by in the
// direction it was going.

#include <QWizardPage>

class QLabel;
class QPushButton;

class PT_MessageViewPane final : public QWizardPage {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PT_MessageViewPane)
public:
    explicit PT_MessageViewPane(QWidget *parent = nullptr);

    QString title() const { return QStringLiteral("Version Check"); }
    // Entering the page: stay when the predecessor is installed; false (the wizard moves on) otherwise.
    bool didEnterPane();
    void uninstall();

Q_SIGNALS:
    void uninstallerOpened(const QString &bundle);

private:
    QLabel *m_titleText;
    QLabel *m_descriptionText;
    QPushButton *m_uninstallBtn;
};
