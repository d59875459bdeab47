#pragma once

// The main window's widgets: the project table on the left; on the right the screenshot strip over the
// version outline, with the version count below. It holds no state of its own; AppController fills it
// and reacts to it.

#include <QMainWindow>

class QAction;
class QLabel;
class QLineEdit;
class QListView;
class QProgressBar;
class QPushButton;
class QSplitter;
class QToolBar;
class QFCoverFlowView;
class QFOutlineView;

class MainWindow final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)
public:
    explicit MainWindow(QWidget *parent = nullptr);

    QLineEdit *projectSearchField() const { return m_projectSearch; }
    QListView *projectTable() const { return m_projectTable; }
    QLabel *projectCountLabel() const { return m_projectCount; }
    QProgressBar *projectSpinner() const { return m_projectSpinner; }
    QFCoverFlowView *screenshotStrip() const { return m_strip; }
    QWidget *screenshotPane() const { return m_stripPane; }
    QLabel *noBackupLabel() const { return m_noBackupLabel; }
    QPushButton *noBackupButton() const { return m_noBackupButton; }
    QFOutlineView *versionOutline() const { return m_outline; }
    QLabel *versionCountLabel() const { return m_versionCount; }
    QProgressBar *versionSpinner() const { return m_versionSpinner; }
    QSplitter *detailSplitter() const { return m_detailSplitter; }
    QAction *viewModeAction() const { return m_viewModeAction; }
    QAction *backupNowAction() const { return m_backupNowAction; }
    QAction *printAction() const { return m_printAction; }
    QAction *printPreviewAction() const { return m_printPreviewAction; }
    QLineEdit *versionSearchField() const { return m_versionSearch; }
    QAction *generateXMLAction() const { return m_generateXMLAction; }
    QAction *compareAction() const { return m_compareAction; }
    QToolBar *toolbar() const { return m_toolbar; }
    QAction *preferencesAction() const { return m_preferencesAction; }
    QAction *relaunchHelperAction() const { return m_relaunchHelperAction; }
    class QFProgressSheet *progressSheet() const { return m_progressSheet; }
    // Shown in the project list while it is empty: what to do, with the buttons to do it.
    QWidget *emptyProjectsView() const { return m_emptyProjects; }
    QLabel *emptyProjectsTitle() const { return m_emptyProjectsTitle; }
    QPushButton *addProjectButton() const { return m_addProjectButton; }
    QPushButton *watchFoldersButton() const { return m_watchFoldersButton; }

    // The label at 60 % and the button at 25 % of the strip's height, measured from its bottom.
    void placeNoBackupView(bool shown);
    // No projects at all: how to add them; projects, but the search shows none: that it matches none.
    void updateEmptyProjectsView(qsizetype projectCount, qsizetype shownCount);

Q_SIGNALS:
    void becameMain();
    void stripPaneResized();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLineEdit *m_projectSearch;
    QListView *m_projectTable;
    QLabel *m_projectCount;
    QProgressBar *m_projectSpinner;
    QWidget *m_stripPane;
    QFCoverFlowView *m_strip;
    QLabel *m_noBackupLabel;
    QPushButton *m_noBackupButton;
    QFOutlineView *m_outline;
    QLabel *m_versionCount;
    QProgressBar *m_versionSpinner;
    QSplitter *m_mainSplitter;
    QSplitter *m_detailSplitter;
    QAction *m_viewModeAction;
    QAction *m_backupNowAction;
    QAction *m_printAction;
    QAction *m_printPreviewAction;
    QLineEdit *m_versionSearch;
    QAction *m_generateXMLAction;
    QAction *m_compareAction;
    QToolBar *m_toolbar;
    QAction *m_preferencesAction;
    QAction *m_relaunchHelperAction;
    class QFProgressSheet *m_progressSheet;
    QWidget *m_emptyProjects;
    QLabel *m_emptyProjectsIcon;
    QLabel *m_emptyProjectsTitle;
    QLabel *m_emptyProjectsText;
    QPushButton *m_addProjectButton;
    QPushButton *m_watchFoldersButton;
};
