#include "foundation/platform/QFCrashHandler.h"

#include <QDir>
#include <QFile>

#include <csignal>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Everything the handler needs is prepared here, because it may not allocate.
char s_folder[4096];
char s_name[256];
char s_executable[4096];
long s_utcOffset = 0;
bool s_installed = false;
char s_altStack[64 * 1024];

const int kSignals[] = { SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT };

void put(int fd, const char *text)
{
    size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = ::write(fd, text, left);
        if (n <= 0)
            return;
        text += n;
        left -= size_t(n);
    }
}

// Writes a number with at least `digits` digits into buffer; returns the end.
char *number(char *out, unsigned long long value, int digits, int base = 10)
{
    char tmp[32];
    int n = 0;
    do {
        const int d = int(value % unsigned(base));
        tmp[n++] = char(d < 10 ? '0' + d : 'a' + d - 10);
        value /= unsigned(base);
    } while (value > 0 && n < 31);
    while (n < digits && n < 31)
        tmp[n++] = '0';
    while (n > 0)
        *out++ = tmp[--n];
    *out = '\0';
    return out;
}

// Civil date from days since 1970-01-01 (Howard Hinnant's algorithm), safe inside a signal handler.
void civil(long long days, int &y, unsigned &m, unsigned &d)
{
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned doe = unsigned(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long yy = (long long)yoe + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = int(yy + (m <= 2));
}

const char *signalName(int sig)
{
    switch (sig) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGILL:
        return "SIGILL";
    case SIGFPE:
        return "SIGFPE";
    case SIGABRT:
        return "SIGABRT";
    default:
        return "signal";
    }
}

void onFatalSignal(int sig, siginfo_t *info, void *)
{
    const long long now = (long long)time(nullptr) + s_utcOffset;
    long long days = now / 86400;
    long long secs = now % 86400;
    if (secs < 0) {
        secs += 86400;
        --days;
    }
    int y;
    unsigned mo, d;
    civil(days, y, mo, d);

    // NAME_YYYY-MM-DD-HHMMSS.crash
    char stamp[64];
    char *p = stamp;
    p = number(p, (unsigned long long)y, 4);
    *p++ = '-';
    p = number(p, mo, 2);
    *p++ = '-';
    p = number(p, d, 2);
    *p++ = '-';
    p = number(p, (unsigned long long)(secs / 3600), 2);
    p = number(p, (unsigned long long)(secs / 60 % 60), 2);
    p = number(p, (unsigned long long)(secs % 60), 2);

    char path[4096 + 256 + 80];
    path[0] = '\0';
    std::strncat(path, s_folder, sizeof path - 1);
    std::strncat(path, "/", sizeof path - std::strlen(path) - 1);
    std::strncat(path, s_name, sizeof path - std::strlen(path) - 1);
    std::strncat(path, "_", sizeof path - std::strlen(path) - 1);
    std::strncat(path, stamp, sizeof path - std::strlen(path) - 1);
    std::strncat(path, ".crash", sizeof path - std::strlen(path) - 1);

    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0) {
        char buf[64];
        put(fd, "Process: ");
        put(fd, s_name);
        put(fd, " [");
        number(buf, (unsigned long long)getpid(), 1);
        put(fd, buf);
        put(fd, "]\nPath: ");
        put(fd, s_executable);
        put(fd, "\nDate: ");
        put(fd, stamp);
        put(fd, "\nSignal: ");
        number(buf, (unsigned long long)sig, 1);
        put(fd, buf);
        put(fd, " (");
        put(fd, signalName(sig));
        put(fd, ")\n");
        if (info && (sig == SIGSEGV || sig == SIGBUS || sig == SIGILL || sig == SIGFPE)) {
            put(fd, "Address: 0x");
            number(buf, (unsigned long long)(uintptr_t)info->si_addr, 1, 16);
            put(fd, buf);
            put(fd, "\n");
        }
        put(fd, "\nBacktrace:\n");
        void *frames[128];
        const int n = backtrace(frames, 128);
        backtrace_symbols_fd(frames, n, fd);
        ::close(fd);
    }
    // Let the signal take its course with the default action.
    struct sigaction dfl { };
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    raise(sig);
}

void copyInto(char *dest, size_t size, const QByteArray &source)
{
    const size_t n = std::min(size - 1, size_t(source.size()));
    std::memcpy(dest, source.constData(), n);
    dest[n] = '\0';
}

} // namespace

bool qfInstallCrashHandler(const QString &folder, const QString &appName)
{
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return false;
    copyInto(s_folder, sizeof s_folder, QFile::encodeName(folder));
    copyInto(s_name, sizeof s_name, (appName.isEmpty() ? QStringLiteral("Unknown") : appName).toUtf8());
    char exe[4096];
    const ssize_t len = readlink("/proc/self/exe", exe, sizeof exe - 1);
    exe[len > 0 ? len : 0] = '\0';
    copyInto(s_executable, sizeof s_executable, QByteArray(exe));

    const time_t now = time(nullptr);
    struct tm local { };
    localtime_r(&now, &local);
    s_utcOffset = local.tm_gmtoff;

    // The first call of backtrace() loads its unwinder; do that now, not inside the handler.
    void *warm[2];
    backtrace(warm, 2);

    if (!s_installed) {
        stack_t stack {};
        stack.ss_sp = s_altStack;
        stack.ss_size = sizeof s_altStack;
        sigaltstack(&stack, nullptr);
        for (int sig : kSignals) {
            struct sigaction action { };
            action.sa_sigaction = onFatalSignal;
            action.sa_flags = SA_SIGINFO | SA_ONSTACK;
            sigemptyset(&action.sa_mask);
            sigaction(sig, &action, nullptr);
        }
        s_installed = true;
    }
    return true;
}
