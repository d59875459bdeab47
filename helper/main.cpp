// ProTombrelHelper: the background agent that versions projects for as long as the user is logged in.

#include "foundation/QFBugReporter.h"
#include "foundation/QFException.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFProgramRole.h"
#include "foundation/platform/QFShutdown.h"
#include "helper/AppController.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    // Termination requests (log-out, systemctl stop, Ctrl-C) arrive as events, so that the exit is recorded.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    const int stopFd = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);

    QFProgram::declareRole(QFProgramRole::Helper);
    QCoreApplication app(argc, argv);
    QFBugReporter::startBugReporter();
    QFLog::createNewLog(QStringLiteral("ProTombrelHelper"));

    QSocketNotifier stopNotifier(stopFd, QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &app, [&] {
        signalfd_siginfo info;
        while (::read(stopFd, &info, sizeof info) == ssize_t(sizeof info)) { }
        // The scan under way gives up now, while the event loop winds down.
        QFShutdown::request();
        app.quit();
    });

    AppControllerOptions options;
    const QString identifier = QFBundle::bundleIdentifier();
    if (!identifier.isEmpty())
        options.bundleIdentifier = identifier;
    std::unique_ptr<AppController> controller;
    const bool started = QFException::guard("main", [&] {
        controller = std::make_unique<AppController>(options);
        controller->setup();
    });
    int status = 1;
    if (started)
        status = app.exec();
    QFException::guard("main", [&] {
        if (controller)
            controller->applicationWillTerminate();
        controller.reset();
    });
    QFLog::finishWriting();
    ::close(stopFd);
    return status;
}
