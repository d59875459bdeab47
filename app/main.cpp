// Pro Tombrel: the application that shows projects and their versions, and runs a few jobs without a
// window when started with one of its command-line modes.

#include "app/AppController.h"
#include "app/QFAppImages.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFProgramRole.h"
#include "foundation/ui/QFAlertPresenter.h"

#include <QApplication>
#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QFProgram::declareRole(QFProgramRole::Application);
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    if (AppController::modeForArguments(arguments) == AppController::Mode::Normal) {
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
    int status = 0;
    {
        AppController controller(true);
        QObject::connect(&controller, &AppController::quitRequested, &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
        controller.applicationDidFinishLaunching(arguments);
        status = app.exec();
        controller.applicationWillTerminate();
    }
    QFLog::finishWriting();
    return status;
}
