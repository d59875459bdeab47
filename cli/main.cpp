#include "cli/TombrelCommand.h"

#include "foundation/QFBugReporter.h"
#include "foundation/QFException.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFProgramRole.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <cstring>
#include <memory>

#include <cstdio>

int main(int argc, char *argv[])
{
    QFProgram::declareRole(QFProgramRole::CommandLineTool);
    // Laying out a PDF report needs fonts, which only a GUI application object provides; without a
    // display it draws offscreen.
    const bool report = argc > 1 && std::strcmp(argv[1], "report") == 0;
    if (report && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QCoreApplication> application(
        report ? new QGuiApplication(argc, argv) : new QCoreApplication(argc, argv));
    QCoreApplication &app = *application;
    QTextStream out(stdout);
    QTextStream err(stderr);

    // A terminal has no window for the bug reporter: name the report instead.
    QFBugReporter::setReportOpener([&err](const QString &report) {
        err << "tombrel: the previous run crashed; its report is " << report << "\n";
        err.flush();
    });
    const QString crashBook = QFLocalPaths::prefsDirectory(true) + QStringLiteral("/com.quenfield.tombrel.plist");
    QFBugReporter::startBugReporter(QStringLiteral("tombrel"), crashBook);
    QFLog::createNewLog(QStringLiteral("tombrel"));

    int status = 1;
    const bool clean
        = QFException::guard("main", [&] { status = TombrelCommand(out, err).run(app.arguments().mid(1)); });
    QFBugReporter::stopBugReporter(crashBook);
    // A command's log is read after it ends: write all of it, however long the queue (the rule for
    // ending programs drops a long one).
    QFLog::finishWriting();
    return clean ? status : 1;
}
