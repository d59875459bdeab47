// UpdateInstaller: started by the updater with -source NEW.app -destination OLD.app [-mountpath PATH]
// [-silent YES]. Shows a status window unless silent, installs on a thread of its own, and always quits.
// Without a display (a silent run over ssh, a script) it runs without windows; its alerts go to the log.

#include "tools/update-installer/QFUpdateInstaller.h"

#include "foundation/QFBugReporter.h"
#include "foundation/QFLog.h"
#include "foundation/QFMainThread.h"
#include "foundation/platform/QFUserDefaults.h"
#include "foundation/ui/QFAlertPresenter.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QThread>
#include <QWidget>

#include <memory>

namespace {

bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList commandLine;
    for (int i = 0; i < argc; ++i)
        commandLine << QString::fromLocal8Bit(argv[i]);
    QFUserDefaults::standard().setArguments(commandLine);
    const QFUpdateArguments arguments = QFUpdateArguments::fromDefaults(QFUserDefaults::standard());

    // A window needs a display; a silent run shows none, so it never needs one.
    const bool windows = hasDisplay() && !arguments.silent;
    const bool alerts = hasDisplay();
    std::unique_ptr<QCoreApplication> app;
    if (alerts)
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("UpdateInstaller"));
    if (alerts) {
        QApplication::setQuitOnLastWindowClosed(false);
        qfInstallWidgetAlerts();
    }
    QFBugReporter::startBugReporter(QStringLiteral("UpdateInstaller"), QString());
    QFLog::createNewLog(QStringLiteral("UpdateInstaller"));

    QFUpdateInstaller::Hooks hooks = QFUpdateInstaller::defaultHooks();
    std::unique_ptr<QWidget> window;
    if (windows) {
        QLabel *status = nullptr;
        window.reset(QFUpdateInstaller::createStatusWindow(&status));
        window->show();
        window->raise();
        window->activateWindow();
        hooks.status
            = [status](const QString &text) { QFMainThread::run([status, text] { status->setText(text); }, true); };
        QWidget *shown = window.get();
        hooks.hideWindow = [shown] { QFMainThread::run([shown] { shown->hide(); }, true); };
    }
    QThread *worker = QThread::create([arguments, hooks] { QFUpdateInstaller::beginUpdate(arguments, hooks); });
    QObject::connect(worker, &QThread::finished, app.get(), [] {
        QFBugReporter::stopBugReporter(QString());
        QCoreApplication::quit();
    });
    worker->start();
    const int exitCode = app->exec();
    worker->wait();
    delete worker;
    window.reset();
    QFLog::finishWriting();
    return exitCode;
}
