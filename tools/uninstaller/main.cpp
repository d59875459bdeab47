// The uninstaller of one product (chosen when it is built): a window that asks what to remove and then
// moves the installation to the Trash; with "-unattended YES" it does the same without windows, for
// scripts and the package manager.

#include "foundation/QFLog.h"
#include "foundation/platform/QFProgramRole.h"
#include "foundation/ui/QFAlertPresenter.h"
#include "tools/uninstaller/AppController.h"

#include <QApplication>
#include <QCoreApplication>

namespace {

constexpr QFUninstallProduct kProduct
    = QF_UNINSTALLER_FCP ? QFUninstallProduct::FCPTombrel : QFUninstallProduct::ProTombrel;

} // namespace

int main(int argc, char *argv[])
{
    QFProgram::declareRole(QFProgramRole::InstallerTool);
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const QString programName = QFUninstaller::productName(kProduct) + QStringLiteral(" Uninstaller");

    // No crash bookkeeping here: it would leave a settings file behind in the folders being cleared.
    QFUninstaller::Setup setup;
    setup.product = kProduct;

    if (QFUninstaller::isUnattended(arguments)) {
        QCoreApplication core(argc, argv);
        QFLog::createNewLog(programName);
        const int status = QFUninstaller::runCommandLine(arguments, setup).value_or(0);
        QFLog::finishWriting();
        return status;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(programName);
    QFLog::createNewLog(programName);
    qfInstallWidgetAlerts();
    int status = 0;
    {
        AppController controller(setup);
        QObject::connect(
            &controller, &AppController::quitRequested, &app, [](int code) { QCoreApplication::exit(code); },
            Qt::QueuedConnection);
        controller.showMainWindow();
        status = app.exec();
    }
    QFLog::finishWriting();
    return status;
}
