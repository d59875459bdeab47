// Pro Tombrel: the application that shows projects and their versions, and runs a few jobs without a
// window when started with one of its command-line modes.

#include "app/AppController.h"
#include "app/QFAppImages.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFProgramRole.h"
#include "foundation/ui/QFAlertPresenter.h"

#include <QApplication>
#include <QCoreApplication>

namespace {

// Runs the controller until it has ended its work (or, with the window, until the window is closed).
int runController(QCoreApplication &app, const QStringList &arguments)
{
    int status = 0;
    {
        AppController controller(true);
        QObject::connect(
            &controller, &AppController::quitRequested, &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
        controller.applicationDidFinishLaunching(arguments);
        status = app.exec();
        controller.applicationWillTerminate();
    }
    QFLog::finishWriting();
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    QFProgram::declareRole(QFProgramRole::Application);
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    // None of the modes without a window may need a display: the helper starts the transfers on
    // servers and in ssh sessions as well as on desktops.
    if (AppController::modeForArguments(arguments) != AppController::Mode::Normal) {
        QCoreApplication core(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Pro Tombrel"));
        return runController(core, arguments);
    }
    {
        QCoreApplication core(argc, argv);
        if (const std::optional<int> status = AppController::runCommandLineMode(arguments)) {
            QFLog::finishWriting();
            return *status;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pro Tombrel"));
    QApplication::setDesktopFileName(QStringLiteral("pro-tombrel"));
    QApplication::setWindowIcon(QFAppImages::applicationIcon());
    qfInstallWidgetAlerts();
    return runController(app, arguments);
}
