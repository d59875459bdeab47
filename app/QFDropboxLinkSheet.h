#pragma once

// The sheet that links a Dropbox account: the address of Dropbox's page (opened in the browser, or copied
// to open elsewhere, as over ssh) and a field for the code that page shows once access is allowed.

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

class QFDropboxLinkSheet final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFDropboxLinkSheet)
public:
    QFDropboxLinkSheet(const QString &address, QWidget *parent);

    void setBusy(bool busy);
    void showError(const QString &text);

Q_SIGNALS:
    void codeEntered(const QString &code);

private:
    QString m_address;
    QLineEdit *m_code;
    QLabel *m_error;
    QPushButton *m_link;
};
