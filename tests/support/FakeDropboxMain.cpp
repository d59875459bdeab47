// The Dropbox stand-in as a program of its own, for benchmarks and manual runs: prints its base URL as
// the one line of its output and serves until SIGTERM or SIGINT, or until its input closes when that is a
// pipe, socket or terminal (input from /dev/null or a file is not watched).
//
//   qf_fake_dropbox [--storage DIR] [--token TOKEN] [--refresh REFRESH]

#include "tests/support/QFFakeDropbox.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int s_signalPipe[2] = { -1, -1 };

void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(s_signalPipe[1], &byte, 1);
}

bool watchesInput()
{
    struct stat status { };
    if (::fstat(STDIN_FILENO, &status) != 0)
        return false;
    return S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode) || ::isatty(STDIN_FILENO);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A local stand-in for the Dropbox HTTP API v2."));
    parser.addHelpOption();
    const QCommandLineOption storage(
        QStringLiteral("storage"), QStringLiteral("Keep file contents in DIR."), QStringLiteral("DIR"));
    const QCommandLineOption token(
        QStringLiteral("token"), QStringLiteral("Accept TOKEN as an access token."), QStringLiteral("TOKEN"));
    const QCommandLineOption refresh(
        QStringLiteral("refresh"), QStringLiteral("Accept REFRESH as a refresh token."), QStringLiteral("REFRESH"));
    parser.addOptions({ storage, token, refresh });
    parser.process(app);

    std::unique_ptr<QFFakeDropbox> fake = parser.isSet(storage) ? std::make_unique<QFFakeDropbox>(parser.value(storage))
                                                                : std::make_unique<QFFakeDropbox>();
    if (parser.isSet(token))
        fake->addAccessToken(parser.value(token));
    if (parser.isSet(refresh))
        fake->addRefreshToken(parser.value(refresh));
    if (!fake->listen()) {
        std::fprintf(stderr, "qf_fake_dropbox: cannot listen on 127.0.0.1\n");
        return 1;
    }

    // Signals only write to a pipe; the event loop reads it and quits.
    if (::pipe2(s_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("qf_fake_dropbox: pipe");
        return 1;
    }
    QSocketNotifier signalNotifier(s_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGTERM, onStopSignal);
    std::signal(SIGINT, onStopSignal);

    std::unique_ptr<QSocketNotifier> inputNotifier;
    if (watchesInput()) {
        inputNotifier = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(inputNotifier.get(), &QSocketNotifier::activated, &app, [&] {
            char buffer[4096];
            const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (got < 0 && (errno == EAGAIN || errno == EINTR))
                return;
            if (got <= 0) {
                inputNotifier->setEnabled(false);
                QCoreApplication::quit();
            }
        });
    }

    std::printf("%s\n", qPrintable(fake->baseUrl()));
    std::fflush(stdout);
    const int status = app.exec();
    fake.reset();
    return status;
}
