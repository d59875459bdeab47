#include "tools/uninstaller/AppController.h"

#include "foundation/QFAlert.h"
#include "foundation/QFException.h"
#include "foundation/QFLog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QThread>
#include <QVBoxLayout>
#include <QWidget>

#include <memory>

namespace {

QIcon trashIcon()
{
    return QIcon::fromTheme(QStringLiteral("user-trash"), QApplication::style()->standardIcon(QStyle::SP_TrashIcon));
}

// Wrapped text needs a known width for the window to find its height.
constexpr int kTextWidth = 400;

QLabel *wrappingLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setFixedWidth(kTextWidth);
    return label;
}

} // namespace

AppController::AppController(QFUninstaller::Setup setup, QObject *parent)
    : QObject(parent)
    , m_setup(std::move(setup))
{
    buildMainWindow();
    buildProgressWindow();
}

AppController::~AppController()
{
    if (m_worker) {
        m_worker->wait();
        delete m_worker;
    }
}

void AppController::buildMainWindow()
{
    const bool product = m_setup.product == QFUninstallProduct::ProTombrel;
    const QString name = QFUninstaller::productName(m_setup.product);

    // A dialog, so that Return presses "Uninstall" and Escape cancels.
    m_windowMain = std::make_unique<QDialog>();
    QDialog *window = m_windowMain.get();
    connect(window, &QDialog::rejected, this, &AppController::cancel);
    window->setObjectName(QStringLiteral("windowMain"));
    window->setWindowTitle(QStringLiteral("%1 Uninstaller").arg(name));
    window->setWindowIcon(trashIcon());

    auto *icon = new QLabel(window);
    icon->setPixmap(trashIcon().pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto *title = new QLabel(QStringLiteral("Uninstall %1").arg(name), window);
    QFont font = title->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.25);
    title->setFont(font);

    const QString text = product
        ? QStringLiteral("Pro Tombrel, its helper, its caches and the services that start it at log-in will be placed "
                         "in your Trash. Your projects and their versions stay where they are.")
        : QStringLiteral("FCP Tombrel, its caches and the services that started it will be placed in your Trash. "
                         "Your projects and their versions stay where they are.");

    m_removeSharedCheck
        = new QCheckBox(QStringLiteral("Also remove Quenfield Software Update and shared resources"), window);
    m_removeSharedCheck->setObjectName(QStringLiteral("removeSharedCheck"));
    // Only this product's uninstaller asks about the maker's shared pieces.
    m_removeSharedCheck->setVisible(product);
    m_removeConfigCheck = new QCheckBox(QStringLiteral("Also remove preferences"), window);
    m_removeConfigCheck->setObjectName(QStringLiteral("removeConfigCheck"));

    auto *buttons = new QDialogButtonBox(window);
    m_cancelButton = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    m_uninstallButton = buttons->addButton(QStringLiteral("Uninstall"), QDialogButtonBox::AcceptRole);
    m_uninstallButton->setDefault(true);
    m_uninstallButton->setAutoDefault(true);
    connect(m_uninstallButton, &QPushButton::clicked, this, &AppController::uninstall);
    connect(m_cancelButton, &QPushButton::clicked, this, &AppController::cancel);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(10);
    texts->addWidget(title);
    texts->addWidget(wrappingLabel(text, window));
    texts->addSpacing(4);
    texts->addWidget(m_removeSharedCheck);
    texts->addWidget(m_removeConfigCheck);
    texts->addStretch(1);

    auto *top = new QHBoxLayout;
    top->setSpacing(16);
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(texts, 1);

    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->setSpacing(16);
    layout->addLayout(top);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void AppController::buildProgressWindow()
{
    const QString name = QFUninstaller::productName(m_setup.product);
    m_windowProgress = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    QWidget *window = m_windowProgress.get();
    window->setObjectName(QStringLiteral("windowProgress"));
    window->setWindowTitle(QStringLiteral("%1 Uninstaller").arg(name));
    window->setWindowIcon(trashIcon());

    auto *label = new QLabel(QStringLiteral("Uninstalling %1…").arg(name), window);
    m_progressBar = new QProgressBar(window);
    m_progressBar->setObjectName(QStringLiteral("progressBar"));
    m_progressBar->setTextVisible(false);
    m_progressBar->setRange(0, 1);

    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(20, 18, 20, 20);
    layout->setSpacing(10);
    layout->addWidget(label);
    layout->addWidget(m_progressBar);
    m_progressBar->setMinimumWidth(340);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void AppController::showMainWindow()
{
    m_windowMain->show();
    m_windowMain->raise();
    m_windowMain->activateWindow();
}

void AppController::uninstall()
{
    if (m_worker)
        return;
    QFException::guard("uninstall:", [&] {
        // The boxes are read here, on the main thread: the worker never touches a widget.
        QFUninstallOptions options;
        options.removeShared = m_removeSharedCheck->isChecked();
        options.removeConfig = m_removeConfigCheck->isChecked();

        // An empty range makes the bar move on its own while the main thread's event loop runs.
        m_progressBar->setRange(0, 0);
        m_windowProgress->show();
        m_windowMain->hide();

        auto trashed = std::make_shared<QStringList>();
        auto notes = std::make_shared<QStringList>();
        QFUninstaller::Setup setup = m_setup;
        m_worker = QThread::create([setup, options, trashed, notes] {
            QFException::guard("beginUninstall", [&] {
                QFUninstaller uninstaller(setup);
                uninstaller.beginUninstall(options);
                *trashed = uninstaller.trashedItems();
                *notes = uninstaller.packageNotes();
            });
        });
        connect(m_worker, &QThread::finished, this, [this, trashed, notes] {
            m_trashed = *trashed;
            m_packageNotes = *notes;
            endProgress();
        });
        m_worker->start();
    });
}

void AppController::cancel()
{
    Q_EMIT quitRequested(0);
}

void AppController::endProgress()
{
    m_progressBar->setRange(0, 1);
    m_windowProgress->hide();
    // The program ends once the message is answered; the event loop keeps running meanwhile.
    QPointer<AppController> self(this);
    QFAlert::alertSheetWithMessageText(QLatin1String(QFUninstaller::kCompleteMessage), QString(), QString(), QString(),
        QFUninstaller::completeInformative(m_packageNotes), nullptr, false, [self](int) {
            if (self)
                Q_EMIT self->quitRequested(0);
        });
}
