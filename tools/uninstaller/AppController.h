#pragma once

// The uninstaller's windows: the main window with its two check boxes, the progress window with an
// indeterminate bar, and the worker thread that does the removing. Lives on the main thread; the worker
// touches no widget, and the final message is shown from the main thread when the worker is done.

#include "tools/uninstaller/QFUninstaller.h"

#include <QObject>

#include <memory>

class QCheckBox;
class QDialog;
class QProgressBar;
class QPushButton;
class QThread;
class QWidget;

class AppController final : public QObject {
    Q_OBJECT
public:
    explicit AppController(QFUninstaller::Setup setup, QObject *parent = nullptr);
    ~AppController() override;
    Q_DISABLE_COPY_MOVE(AppController)

    QDialog *windowMain() const { return m_windowMain.get(); }
    QCheckBox *removeSharedCheck() const { return m_removeSharedCheck; }
    QCheckBox *removeConfigCheck() const { return m_removeConfigCheck; }
    QWidget *windowProgress() const { return m_windowProgress.get(); }
    QProgressBar *progressBar() const { return m_progressBar; }
    QPushButton *uninstallButton() const { return m_uninstallButton; }
    QPushButton *cancelButton() const { return m_cancelButton; }

    void showMainWindow();
    // What the last uninstall moved to the Trash (empty until it has ended).
    QStringList trashedItems() const { return m_trashed; }

public Q_SLOTS:
    // Shows the progress, hides the main window and removes the installation on a worker thread.
    void uninstall();
    // Ends the program without removing anything.
    void cancel();

Q_SIGNALS:
    // The program should end with this status (after the final message, or on cancel).
    void quitRequested(int status);

private:
    void buildMainWindow();
    void buildProgressWindow();
    void endProgress();

    QFUninstaller::Setup m_setup;
    std::unique_ptr<QDialog> m_windowMain;
    QCheckBox *m_removeSharedCheck = nullptr;
    QCheckBox *m_removeConfigCheck = nullptr;
    QPushButton *m_uninstallButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    std::unique_ptr<QWidget> m_windowProgress;
    QProgressBar *m_progressBar = nullptr;
    QThread *m_worker = nullptr;
    QStringList m_trashed;
    QStringList m_packageNotes;
};
