// Starts crash reporting the way every program does, then crashes with the signal it is asked for.
// usage: qf_crash_child NAME PLIST [segv|abort|fpe]

#include "foundation/QFBugReporter.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdlib>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    QFBugReporter::startBugReporter(QString::fromUtf8(argv[1]), QString::fromUtf8(argv[2]));
    const QByteArray how = argc > 3 ? QByteArray(argv[3]) : QByteArray("segv");
    if (how == "abort")
        std::abort();
    if (how == "fpe")
        std::raise(SIGFPE);
    volatile int *nowhere = nullptr;
    *nowhere = 42;
    return 0;
}
