// UpdateInstaller: started by the updater with -source NEW.app -destination OLD.app [-mountpath PATH]
// [-silent YES]. Shows a status window unless silent, installs on a thread of its own, and always quits.

#include "tools/update-installer/QFUpdateInstaller.h"

#include "foundation/QFBugReporter.h"
#include "foundation/QFLog.h"
#include "foundation/QFMainThread.h"
#include "foundation/platform/QFUserDefaults.h"
#include "foundation/ui/QFAlertPresenter.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QThread>

#include <memory>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("UpdateInstaller"));
    QApplication::setQuitOnLastWindowClosed(false);
    qfInstallWidgetAlerts();
    QFBugReporter::startBugReporter(QStringLiteral("UpdateInstaller"), QString());
    QFLog::createNewLog(QStringLiteral("UpdateInstaller"));
    QFUserDefaults::standard().setArguments(app.arguments());
    const QFUpdateArguments arguments = QFUpdateArguments::fromDefaults(QFUserDefaults::standard());

    QLabel *status = nullptr;
    std::unique_ptr<QWidget> owner(QFUpdateInstaller::createStatusWindow(&status));
    QWidget &window = *owner;
    if (!arguments.silent) {
        window.show();
        window.raise();
        window.activateWindow();
    }

    QFUpdateInstaller::Hooks hooks = QFUpdateInstaller::defaultHooks();
    hooks.status = [status](const QString &text) { QFMainThread::run([status, text] { status->setText(text); }, true); };
    hooks.hideWindow = [&window] { QFMainThread::run([&window] { window.hide(); }, true); };
    QThread *worker = QThread::create([arguments, hooks] { QFUpdateInstaller::beginUpdate(arguments, hooks); });
    QObject::connect(worker, &QThread::finished, &app, [] {
        QFBugReporter::stopBugReporter(QString());
        QCoreApplication::quit();
    });
    worker->start();
    const int exitCode = app.exec();
    worker->wait();
    delete worker;
    QFLog::finishWriting();
    return exitCode;
}
