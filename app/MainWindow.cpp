#include "app/MainWindow.h"

#include "app/QFAppImages.h"
#include "app/QFCoverFlowView.h"
#include "app/QFOutlineView.h"
#include "app/QFProgressSheet.h"
#include "app/QFProjectListModel.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

QProgressBar *makeSpinner(QWidget *parent)
{
    auto *spinner = new QProgressBar(parent);
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedSize(90, 6);
    spinner->hide();
    return spinner;
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Pro Tombrel"));
    setWindowIcon(QFAppImages::applicationIcon());
    resize(1180, 760);

    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    QToolBar *toolbar = addToolBar(QStringLiteral("Main"));
    m_toolbar = toolbar;
    toolbar->setObjectName(QStringLiteral("mainToolbar"));
    toolbar->setMovable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toolbar->setIconSize(QSize(20, 20));
    m_backupNowAction = toolbar->addAction(
        QFAppImages::themeIcon({ QStringLiteral("document-save") }, palette()), QStringLiteral("Back Up Now"));
    m_backupNowAction->setObjectName(QStringLiteral("backupNowAction"));
    m_backupNowAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+B")));
    m_backupNowAction->setEnabled(false);
    file->addAction(m_backupNowAction);
    file->addSeparator();
    m_printPreviewAction = file->addAction(QStringLiteral("Print Pre&view…"));
    m_printPreviewAction->setObjectName(QStringLiteral("printPreviewAction"));
    m_printAction = file->addAction(QStringLiteral("&Print…"));
    m_printAction->setObjectName(QStringLiteral("printAction"));
    m_printAction->setShortcut(QKeySequence::Print);
    m_printAction->setEnabled(false);
    m_printPreviewAction->setEnabled(false);
    file->addSeparator();
    m_relaunchHelperAction = file->addAction(QStringLiteral("&Relaunch Helper"));
    m_relaunchHelperAction->setObjectName(QStringLiteral("relaunchHelperAction"));
    m_relaunchHelperAction->setToolTip(QStringLiteral("End the background helper and start it again"));
    file->addSeparator();
    QAction *close = file->addAction(QStringLiteral("&Close Window"), this, &QWidget::close);
    close->setShortcut(QKeySequence::Close);
    QAction *quit = file->addAction(QStringLiteral("&Quit"), qApp, &QCoreApplication::quit);
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    QMenu *edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    m_preferencesAction = edit->addAction(
        QFAppImages::themeIcon({ QStringLiteral("preferences-system") }, palette()), QStringLiteral("Pr&eferences…"));
    m_preferencesAction->setObjectName(QStringLiteral("preferencesAction"));
    m_preferencesAction->setShortcut(QKeySequence::Preferences);
    if (m_preferencesAction->shortcut().isEmpty())
        m_preferencesAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+,")));
    m_preferencesAction->setMenuRole(QAction::PreferencesRole);
    m_generateXMLAction = toolbar->addAction(
        QFAppImages::themeIcon(
            { QStringLiteral("document-export"), QStringLiteral("document-send"), QStringLiteral("text-x-generic") },
            palette()),
        QStringLiteral("Generate XML"));
    m_generateXMLAction->setObjectName(QStringLiteral("generateXMLAction"));
    m_generateXMLAction->setToolTip(QStringLiteral("Ask the editor for the XML copies of every version that has none"));
    m_generateXMLAction->setVisible(false);
    m_compareAction = toolbar->addAction(
        QFAppImages::themeIcon({ QStringLiteral("view-dual") }, palette()), QStringLiteral("Compare Versions"));
    m_compareAction->setObjectName(QStringLiteral("compareAction"));
    m_compareAction->setToolTip(QStringLiteral("What changed between the two selected versions"));
    m_compareAction->setEnabled(false);
    auto *spacer = new QWidget(toolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);
    m_versionSearch = new QLineEdit(toolbar);
    m_versionSearch->setObjectName(QStringLiteral("versionSearchField"));
    m_versionSearch->setPlaceholderText(QStringLiteral("Search changes and notes"));
    m_versionSearch->setClearButtonEnabled(true);
    m_versionSearch->setFixedWidth(240);
    toolbar->addWidget(m_versionSearch);
    toolbar->addSeparator();
    m_viewModeAction = toolbar->addAction(
        QFAppImages::themeIcon({ QStringLiteral("view-preview"), QStringLiteral("image-x-generic") }, palette()),
        QStringLiteral("Screenshots"));
    m_viewModeAction->setObjectName(QStringLiteral("viewModeAction"));
    m_viewModeAction->setCheckable(true);
    m_viewModeAction->setChecked(true);
    m_viewModeAction->setToolTip(QStringLiteral("Show or hide the screenshots of the versions"));

    // Projects.
    auto *projectPane = new QWidget;
    projectPane->setObjectName(QStringLiteral("projectPane"));
    auto *projectLayout = new QVBoxLayout(projectPane);
    projectLayout->setContentsMargins(8, 8, 4, 6);
    projectLayout->setSpacing(6);
    m_projectSearch = new QLineEdit;
    m_projectSearch->setObjectName(QStringLiteral("projectSearchField"));
    m_projectSearch->setPlaceholderText(QStringLiteral("Search projects"));
    m_projectSearch->setClearButtonEnabled(true);
    m_projectTable = new QListView;
    m_projectTable->setObjectName(QStringLiteral("projectTable"));
    m_projectTable->setItemDelegate(new QFProjectItemDelegate(m_projectTable));
    m_projectTable->setUniformItemSizes(true);
    m_projectTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_projectTable->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_projectTable->setMouseTracking(true);
    m_projectTable->setAcceptDrops(true);
    m_projectTable->setDropIndicatorShown(false);
    auto *projectFooter = new QHBoxLayout;
    m_projectCount = new QLabel;
    m_projectCount->setObjectName(QStringLiteral("projectCountLabel"));
    m_projectSpinner = makeSpinner(projectPane);
    projectFooter->addWidget(m_projectCount);
    projectFooter->addStretch();
    projectFooter->addWidget(m_projectSpinner);
    projectLayout->addWidget(m_projectSearch);
    projectLayout->addWidget(m_projectTable, 1);
    projectLayout->addLayout(projectFooter);

    // Versions: the strip over the outline.
    m_stripPane = new QWidget;
    m_stripPane->setObjectName(QStringLiteral("screenshotPane"));
    auto *stripLayout = new QVBoxLayout(m_stripPane);
    stripLayout->setContentsMargins(0, 0, 0, 0);
    m_strip = new QFCoverFlowView;
    m_strip->setObjectName(QStringLiteral("screenshotStrip"));
    stripLayout->addWidget(m_strip);
    m_noBackupLabel = new QLabel(QStringLiteral("No versions of this project yet"), m_strip);
    m_noBackupLabel->setObjectName(QStringLiteral("noBackupLabel"));
    m_noBackupLabel->setAlignment(Qt::AlignCenter);
    m_noBackupLabel->setStyleSheet(QStringLiteral("color: #d8d8d8; font-size: 15pt;"));
    m_noBackupLabel->hide();
    m_noBackupButton = new QPushButton(QStringLiteral("Back Up Now"), m_strip);
    m_noBackupButton->setObjectName(QStringLiteral("noBackupButton"));
    m_noBackupButton->hide();
    m_strip->installEventFilter(this);

    m_outline = new QFOutlineView;
    m_outline->setObjectName(QStringLiteral("versionOutline"));

    m_detailSplitter = new QSplitter(Qt::Vertical);
    m_detailSplitter->setObjectName(QStringLiteral("detailSplitter"));
    m_detailSplitter->addWidget(m_stripPane);
    m_detailSplitter->addWidget(m_outline);
    m_detailSplitter->setCollapsible(0, true);
    m_detailSplitter->setCollapsible(1, false);
    m_detailSplitter->setStretchFactor(0, 1);
    m_detailSplitter->setStretchFactor(1, 1);
    m_detailSplitter->setSizes({ 320, 400 });

    m_mainSplitter = new QSplitter(Qt::Horizontal);
    m_mainSplitter->setObjectName(QStringLiteral("mainSplitter"));
    m_mainSplitter->addWidget(projectPane);
    m_mainSplitter->addWidget(m_detailSplitter);
    m_mainSplitter->setCollapsible(0, false);
    m_mainSplitter->setStretchFactor(1, 1);
    m_mainSplitter->setSizes({ 300, 880 });
    setCentralWidget(m_mainSplitter);

    m_versionCount = new QLabel;
    m_versionCount->setObjectName(QStringLiteral("versionCountLabel"));
    m_versionSpinner = makeSpinner(this);
    statusBar()->addWidget(m_versionCount, 1);
    statusBar()->addPermanentWidget(m_versionSpinner);
    statusBar()->setSizeGripEnabled(false);
    m_progressSheet = new QFProgressSheet(this);

    // The empty project list, over the table's own background. It takes no drops itself, so that a file
    // or folder dropped on it reaches the table.
    m_emptyProjects = new QWidget(m_projectTable->viewport());
    m_emptyProjects->setObjectName(QStringLiteral("emptyProjectsView"));
    m_emptyProjects->setAcceptDrops(false);
    auto *emptyLayout = new QVBoxLayout(m_emptyProjects);
    emptyLayout->setContentsMargins(18, 18, 18, 18);
    emptyLayout->setSpacing(8);
    m_emptyProjectsIcon = new QLabel;
    m_emptyProjectsIcon->setAlignment(Qt::AlignCenter);
    m_emptyProjectsTitle = new QLabel;
    m_emptyProjectsTitle->setObjectName(QStringLiteral("emptyProjectsTitle"));
    m_emptyProjectsTitle->setAlignment(Qt::AlignCenter);
    m_emptyProjectsTitle->setWordWrap(true);
    QFont titleFont = m_emptyProjectsTitle->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.15);
    m_emptyProjectsTitle->setFont(titleFont);
    m_emptyProjectsText = new QLabel;
    m_emptyProjectsText->setObjectName(QStringLiteral("emptyProjectsText"));
    m_emptyProjectsText->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_emptyProjectsText->setWordWrap(true);
    m_emptyProjectsText->setForegroundRole(QPalette::PlaceholderText);
    m_addProjectButton = new QPushButton(QStringLiteral("Add Project File…"));
    m_addProjectButton->setObjectName(QStringLiteral("addProjectButton"));
    m_addProjectButton->setIcon(
        QFAppImages::themeIcon({ QStringLiteral("document-open"), QStringLiteral("list-add") }, palette()));
    m_watchFoldersButton = new QPushButton(QStringLiteral("Watch Folders…"));
    m_watchFoldersButton->setObjectName(QStringLiteral("watchFoldersButton"));
    m_watchFoldersButton->setIcon(
        QFAppImages::themeIcon({ QStringLiteral("folder-saved-search"), QStringLiteral("folder") }, palette()));
    m_watchFoldersButton->setToolTip(QStringLiteral("Projects saved in the folders you watch are added by themselves"));
    emptyLayout->addStretch(2);
    emptyLayout->addWidget(m_emptyProjectsIcon);
    emptyLayout->addWidget(m_emptyProjectsTitle);
    emptyLayout->addWidget(m_emptyProjectsText);
    emptyLayout->addSpacing(6);
    const int buttonWidth = std::max(m_addProjectButton->sizeHint().width(), m_watchFoldersButton->sizeHint().width());
    for (QPushButton *button : { m_addProjectButton, m_watchFoldersButton }) {
        button->setMinimumWidth(buttonWidth);
        auto *line = new QHBoxLayout;
        line->addStretch();
        line->addWidget(button);
        line->addStretch();
        emptyLayout->addLayout(line);
    }
    emptyLayout->addStretch(3);
    m_emptyProjects->hide();
    m_projectTable->viewport()->installEventFilter(this);
}

void MainWindow::updateEmptyProjectsView(qsizetype projectCount, qsizetype shownCount)
{
    const bool none = projectCount == 0;
    const bool noMatch = !none && shownCount == 0;
    m_emptyProjects->setVisible(none || noMatch);
    if (!none && !noMatch)
        return;
    const QStringList icons = none
        ? QStringList { QStringLiteral("folder-videos"), QStringLiteral("video-x-generic"), QStringLiteral("folder") }
        : QStringList { QStringLiteral("edit-find"), QStringLiteral("system-search") };
    m_emptyProjectsIcon->setPixmap(QFAppImages::themeIcon(icons, palette()).pixmap(48, 48));
    if (none) {
        m_emptyProjectsTitle->setText(QStringLiteral("No projects yet"));
        m_emptyProjectsText->setText(
            QStringLiteral("Add a project file, or drop project files or a folder of projects here. "
                           "Projects saved in watched folders are added by themselves."));
    } else {
        m_emptyProjectsTitle->setText(QStringLiteral("No matching projects"));
        m_emptyProjectsText->setText(
            QStringLiteral("No project's name or folder contains “%1”.").arg(m_projectSearch->text()));
    }
    m_addProjectButton->setVisible(none);
    m_watchFoldersButton->setVisible(none);
    m_emptyProjects->setGeometry(m_projectTable->viewport()->rect());
    m_emptyProjects->raise();
}

void MainWindow::placeNoBackupView(bool shown)
{
    m_noBackupLabel->setVisible(shown);
    m_noBackupButton->setVisible(shown);
    if (!shown)
        return;
    const int h = m_strip->height();
    const int w = m_strip->width();
    m_noBackupLabel->adjustSize();
    m_noBackupButton->adjustSize();
    const QSize label = m_noBackupLabel->sizeHint();
    const QSize button = m_noBackupButton->sizeHint();
    m_noBackupLabel->setGeometry(
        (w - label.width()) / 2, int(h * 0.4) - label.height() / 2, label.width(), label.height());
    m_noBackupButton->setGeometry(
        (w - button.width()) / 2, int(h * 0.75) - button.height() / 2, button.width(), button.height());
    m_noBackupLabel->raise();
    m_noBackupButton->raise();
}

bool MainWindow::event(QEvent *event)
{
    const bool handled = QMainWindow::event(event);
    if (event->type() == QEvent::WindowActivate)
        Q_EMIT becameMain();
    return handled;
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_strip && event->type() == QEvent::Resize)
        Q_EMIT stripPaneResized();
    if (watched == m_projectTable->viewport() && event->type() == QEvent::Resize)
        m_emptyProjects->setGeometry(m_projectTable->viewport()->rect());
    return QMainWindow::eventFilter(watched, event);
}
