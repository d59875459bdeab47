// "Install Pro Tombrel": the wizard, or without windows "-unattended YES -destination FOLDER".

#include "tools/installer/QFInstaller.h"
#include "tools/installer/QFInstallerWizard.h"

#include "foundation/QFLog.h"
#include "foundation/platform/QFProgramRole.h"
#include "foundation/platform/QFUserDefaults.h"
#include "foundation/ui/QFAlertPresenter.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QFProgram::declareRole(QFProgramRole::InstallerTool);
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QFUserDefaults::standard().setArguments(arguments);

    // Scripts run the installer over ssh or from a package hook: no display, so no widgets at all.
    if (QFUserDefaults::standard().boolForKey(QStringLiteral("unattended"))) {
        QCoreApplication core(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Install Pro Tombrel"));
        QFLog::createNewLog(QStringLiteral("Install Pro Tombrel"));
        QString folder = QFUserDefaults::standard().stringForKey(QStringLiteral("destination"));
        if (folder.isEmpty())
            folder = QFInstaller::userDestination();
        QString error;
        const bool installed = QFInstaller::install(folder, &error);
        QTextStream err(stderr);
        if (!installed)
            err << "Install Pro Tombrel: " << error << "\n";
        QFLog::finishWriting();
        return installed ? 0 : 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Install Pro Tombrel"));
    QFLog::createNewLog(QStringLiteral("Install Pro Tombrel"));
    qfInstallWidgetAlerts();
    QFInstallerWizard wizard;
    wizard.show();
    const int status = app.exec();
    QFLog::finishWriting();
    return status;
}
