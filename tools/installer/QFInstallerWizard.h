#pragma once

// "Install Pro Tombrel": welcome, Version Check, destination (for me in ~/Applications, or for everyone in
// /opt through the administrator), the copy, and the end.

#include <QWizard>

class PT_MessageViewPane;
class QLabel;
class QRadioButton;

class QFInstallerWizard final : public QWizard {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFInstallerWizard)
public:
    enum Page { Welcome, VersionCheck, Destination, Install, Finish };

    explicit QFInstallerWizard(QWidget *parent = nullptr);

    PT_MessageViewPane *versionCheckPane() const { return m_versionCheck; }
    QString chosenDestination() const;

private:
    void onCurrentIdChanged(int id);

    PT_MessageViewPane *m_versionCheck;
    QRadioButton *m_forMe;
    QLabel *m_result;
    int m_previousId = -1;
};
