#pragma once

// The Sync pane of the preference window: where versions are copied (nowhere, Dropbox, or an rclone
// remote), the Dropbox account's link, and for rclone the remote (chosen among those `rclone listremotes`
// names, read in the background while the pane shows), the path in it, and a Test button that lists that
// folder and says what came back. Writes syncService, syncRemote ("NAME:path") and syncDeleteRemoteFiles
// at once. Main thread.

#include <QWidget>

#include <memory>

class AppController;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProcess;
class QPushButton;
class QFRcloneClient;

class QFSyncPane final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFSyncPane)
public:
    // controller links and unlinks Dropbox and tells the helper of changes; without one (nullptr) the
    // Dropbox link does nothing.
    explicit QFSyncPane(AppController *controller, QWidget *parent = nullptr);
    ~QFSyncPane() override;

    // Reads every control from the preferences again and asks rclone for its remotes.
    void loadValues();
    // The account's state and which rows show, from the preferences.
    void refreshStatus();
    // Stores the path being typed, as leaving the field would.
    void commitEditors();

protected:
    void showEvent(QShowEvent *event) override;

Q_SIGNALS:
    // rclone's remotes were read (or could not be): the chooser holds what is known.
    void remotesListed();
    // A test of the remote ended; its text is in the result label.
    void testFinished(bool ok);

private:
    void serviceChosen(int index);
    void linkUnlink();
    void listRemotes();
    void storeRemote();
    void testRemote();
    // "NAME:path" of the controls, or an empty string without a remote.
    QString remoteOfControls() const;
    bool store(const QString &key, const QVariant &value);
    void tellHelper();
    void showResult(const QString &text, bool ok);

    AppController *m_controller;
    bool m_loading = false;
    QComboBox *m_service = nullptr;
    QWidget *m_dropboxRow = nullptr;
    QLabel *m_accountLabel = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_linkButton = nullptr;
    QLabel *m_remoteLabel = nullptr;
    QWidget *m_remoteRow = nullptr;
    QComboBox *m_remote = nullptr;
    QLabel *m_pathLabel = nullptr;
    QLineEdit *m_path = nullptr;
    QWidget *m_pathRow = nullptr;
    QPushButton *m_test = nullptr;
    QLabel *m_result = nullptr;
    QCheckBox *m_deleteRemote = nullptr;
    QLabel *m_explanation = nullptr;
    QProcess *m_listing = nullptr;
    std::unique_ptr<QFRcloneClient> m_tester;
};
