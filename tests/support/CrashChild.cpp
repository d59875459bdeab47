// Starts crash reporting the way every program does, then crashes with the signal it is asked for, or,
// with "log", queues COUNT log lines and returns from main at once.
// usage: qf_crash_child NAME PLIST [segv|abort|fpe]
//        qf_crash_child NAME log COUNT

#include "foundation/QFBugReporter.h"
#include "foundation/QFLog.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdlib>

namespace {

// A real fault, not a raised signal; the undefined-behaviour checks of a sanitized build must let it happen.
__attribute__((no_sanitize("undefined"))) void writeToNowhere()
{
    volatile int *nowhere = nullptr;
    *nowhere = 42;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    if (QByteArray(argv[2]) == "log" && argc > 3) {
        QFLog::createNewLog(QString::fromUtf8(argv[1]));
        const int count = QByteArray(argv[3]).toInt();
        for (int n = 1; n <= count; ++n)
            QFLog::fastAppendLog("line %i", n);
        return 0;
    }
    QFBugReporter::startBugReporter(QString::fromUtf8(argv[1]), QString::fromUtf8(argv[2]));
    const QByteArray how = argc > 3 ? QByteArray(argv[3]) : QByteArray("segv");
    if (how == "abort")
        std::abort();
    if (how == "fpe")
        std::raise(SIGFPE);
    writeToNowhere();
    return 0;
}
