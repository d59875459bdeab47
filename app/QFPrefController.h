#pragma once

// The preference window: six panes chosen from its toolbar (General, Projects, Performance, Management,
// Filtering, Sync), each control bound to its key of the preference file. A change is written at once;
// the helper is told on closing the window and after every change it must see at once (watch folders,
// sync, the reload button). Created with the main window; lives as long as the application. Main
// thread only.

#include <QMainWindow>

#include <functional>

class AppController;
class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QFSyncPane;
class QFWatchFolderTable;

class QFPrefController final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFPrefController)
public:
    enum Pane { General, Projects, Performance, Management, Filtering, Sync };

    explicit QFPrefController(AppController *controller, QWidget *parent = nullptr);

    // Shows the General pane with every control read from the preferences, in front.
    void showPrefs();
    void showPane(Pane pane);
    Pane currentPane() const;
    QAction *paneAction(Pane pane) const;
    QWidget *paneWidget(Pane pane) const;
    QFWatchFolderTable *watchFolderTable() const { return m_watchFolders; }
    QFWatchFolderTable *driveFolderTable() const { return m_driveFolders; }

    // The analytics file and its switch.
    static QString analyticsFilePath();
    static bool analyticsLogging();

    // Re-reads every control from the preference file (its values, else the registered defaults).
    void loadValues();
    // The retention controls follow the manage-versions switch.
    void enableDisableManagementDialogControls();
    void refreshSyncStatus();
    // Stores what is being typed in a field or a table cell, as leaving it would.
    void commitEditors();

Q_SIGNALS:
    // The window has written the autosave job again after its switch changed.
    void autosaveJobWritten();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QWidget *buildGeneralPane();
    QWidget *buildProjectsPane();
    QWidget *buildPerformancePane();
    QWidget *buildManagementPane();
    QWidget *buildFilteringPane();
    QWidget *buildSyncPane();

    QCheckBox *switchBox(const QString &key, const QString &title, const std::function<void()> &after = {});
    QSpinBox *integerBox(const QString &key, const QString &suffix, const std::function<void()> &after = {});
    QComboBox *choiceBox(const QString &key, const QStringList &titles, const std::function<void()> &after = {});
    QLineEdit *textField(const QString &key);
    void store(const QString &key, const QVariant &value);

    void prefsDirectoryBrowse();
    void prefsAutosaveChanged();
    void autosaveIntervalChanged();
    void prefsFilterChanged();
    void prefsToggleQCLogging(bool on);
    void reloadHelper();

    AppController *m_controller;
    QStackedWidget *m_panes;
    QList<QAction *> m_paneActions;
    QList<std::function<void()>> m_loaders;
    QList<std::function<void()>> m_committers;
    QList<QWidget *> m_managementControls;
    QLabel *m_storagePath = nullptr;
    QCheckBox *m_manageBackups = nullptr;
    QCheckBox *m_analytics = nullptr;
    QFSyncPane *m_syncPane = nullptr;
    QFWatchFolderTable *m_watchFolders = nullptr;
    QFWatchFolderTable *m_driveFolders = nullptr;
    bool m_loading = false;
};
