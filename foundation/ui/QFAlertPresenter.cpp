#include "foundation/ui/QFAlertPresenter.h"

#include "foundation/QFAlert.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QWidget>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

struct Outcome {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    int code = QFAlert::kDefaultReturn;
};

// A window that already shows a window-modal box gets the new one as a window of its own.
QWidget *sheetParent(QObject *parent)
{
    auto *widget = qobject_cast<QWidget *>(parent);
    if (!widget)
        return nullptr;
    QWidget *window = widget->window();
    for (QObject *child : window->children()) {
        auto *w = qobject_cast<QWidget *>(child);
        if (w && w->isWindow() && w->isVisible() && w->windowModality() == Qt::WindowModal)
            return nullptr;
    }
    return window;
}

// Runs on the main thread.
void show(const QFAlert::Request &request, std::shared_ptr<Outcome> outcome, QFAlert::DidEnd didEnd, QEventLoop *loop)
{
    QWidget *parent = sheetParent(request.parentWindow.data());
    auto *box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->setTextFormat(Qt::PlainText);
    box->setText(request.messageText);
    box->setInformativeText(request.informativeText);
    const auto add = [box](const QString &title, QMessageBox::ButtonRole role, int code) {
        QPushButton *button = box->addButton(title, role);
        button->setProperty("qfReturnCode", code);
        return button;
    };
    QPushButton *defaultButton = add(request.defaultButton.isEmpty() ? QStringLiteral("OK") : request.defaultButton,
        QMessageBox::AcceptRole, QFAlert::kDefaultReturn);
    if (!request.alternateButton.isEmpty())
        add(request.alternateButton, QMessageBox::RejectRole, QFAlert::kAlternateReturn);
    if (!request.otherButton.isEmpty())
        add(request.otherButton, QMessageBox::DestructiveRole, QFAlert::kOtherReturn);
    box->setDefaultButton(defaultButton);

    QObject::connect(box, &QMessageBox::finished, box, [box, outcome, didEnd, loop](int) {
        QAbstractButton *clicked = box->clickedButton();
        const int code = clicked ? clicked->property("qfReturnCode").toInt() : QFAlert::kAlternateReturn;
        {
            std::lock_guard lock(outcome->mutex);
            outcome->done = true;
            outcome->code = code;
        }
        outcome->ended.notify_all();
        if (loop)
            loop->quit();
        if (didEnd)
            didEnd(code);
    });
    if (parent) {
        parent->raise();
        parent->activateWindow();
    }
    box->open();
}

int present(const QFAlert::Request &request, bool block, QFAlert::DidEnd didEnd)
{
    auto outcome = std::make_shared<Outcome>();
    QCoreApplication *app = QCoreApplication::instance();
    const bool onMain = app && QThread::currentThread() == app->thread();
    if (!block) {
        QMetaObject::invokeMethod(
            app, [request, outcome, didEnd] { show(request, outcome, didEnd, nullptr); },
            onMain ? Qt::DirectConnection : Qt::QueuedConnection);
        return -1;
    }
    if (onMain) {
        QEventLoop loop;
        show(request, outcome, didEnd, &loop);
        if (!outcome->done)
            loop.exec(QEventLoop::DialogExec);
        return outcome->code;
    }
    QMetaObject::invokeMethod(
        app, [request, outcome, didEnd] { show(request, outcome, didEnd, nullptr); }, Qt::BlockingQueuedConnection);
    std::unique_lock lock(outcome->mutex);
    outcome->ended.wait(lock, [&] { return outcome->done; });
    return outcome->code;
}

} // namespace

void qfInstallWidgetAlerts()
{
    QFAlert::setPresenter(present);
}
