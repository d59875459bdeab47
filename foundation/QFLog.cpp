#include "foundation/QFLog.h"

#include "foundation/QFMainThread.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFPropertyList.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr quint64 kRotateAt = 500000;
constexpr int kGenerations = 5;
constexpr int kMaxPendingAtExit = 19;
constexpr qsizetype kWaitThreshold = 99;

std::mutex s_printerMutex;
std::function<void(const QString &)> s_printer;

// A root process working for the console user keeps its logs in the machine's log folder, so that no
// root-owned file lands in the user's folders.
QString logFolderInUse()
{
    const bool machine = QFLocalPaths::isActingForConsoleUser();
    const QString logs = QFLocalPaths::logDirectory(!machine);
    return logs.isEmpty() ? QString() : logs + QStringLiteral("/Quenfield");
}

QString systemFacts()
{
    const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    const double pages = double(sysconf(_SC_PHYS_PAGES));
    const double pageSize = double(sysconf(_SC_PAGESIZE));
    const QString os = QSysInfo::prettyProductName() + QStringLiteral(" (kernel ") + QSysInfo::kernelVersion() + u')';
    return qfFormat(
        "System: Linux %@, %li CPU(s), %0.2f GB RAM\n", os, cpus, pages * pageSize / (1024.0 * 1024.0 * 1024.0));
}

void terminateHandler()
{
    if (std::exception_ptr current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const std::exception &e) {
            QFLog::appendLogAndPrint("%s", e.what());
        } catch (...) {
            QFLog::appendLogAndPrint("Unknown exception");
        }
        QFLog::finishWriting();
    }
    std::abort();
}

void flushAtExit()
{
    QFLog::sharedController()->willTerminate();
}

// The writer thread formats dates and paths with Qt, whose own objects are torn down when main returns,
// possibly before the flush registered with atexit runs. A program's application object ends inside main,
// so the log is flushed there too, while everything the writer uses is still alive.
void flushWhenApplicationEnds()
{
    static std::atomic<QCoreApplication *> hooked { nullptr };
    QCoreApplication *app = QCoreApplication::instance();
    if (app && hooked.exchange(app) != app)
        qAddPostRoutine(flushAtExit);
}

} // namespace

QFLog::QFLog()
{
    m_thread = std::thread([this] { run(); });
}

QFLog *QFLog::sharedController()
{
    // Created once, never destroyed: the writer thread must outlive every logging caller.
    static QFLog *instance = [] {
        auto *log = new QFLog();
        std::set_terminate(terminateHandler);
        std::atexit(flushAtExit);
        flushWhenApplicationEnds();
        return log;
    }();
    return instance;
}

QString QFLog::dateDescription(const QDateTime &date)
{
    const QDateTime local = date.toLocalTime();
    const int offset = local.offsetFromUtc() / 60;
    const QChar sign = offset < 0 ? u'-' : u'+';
    const int a = std::abs(offset);
    return local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + sign
        + QStringLiteral("%1%2").arg(a / 60, 2, 10, QLatin1Char('0')).arg(a % 60, 2, 10, QLatin1Char('0'));
}

void QFLog::setPrinter(std::function<void(const QString &)> printer)
{
    std::lock_guard lock(s_printerMutex);
    s_printer = std::move(printer);
}

void QFLog::print(const QString &text)
{
    std::function<void(const QString &)> printer;
    {
        std::lock_guard lock(s_printerMutex);
        printer = s_printer;
    }
    if (printer) {
        printer(text);
        return;
    }
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

bool QFLog::globalSwitch(const QString &key)
{
    const QString prefs = QFLocalPaths::prefsDirectory(true);
    if (prefs.isEmpty())
        return false;
    const auto global = QFPropertyList::readDictionary(prefs + QStringLiteral("/com.quenfield.global.plist"));
    if (!global)
        return false;
    const QVariant value = global->value(key);
    switch (value.metaType().id()) {
    case QMetaType::QString:
        return value.toString() == QLatin1String("1");
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::Double:
        return value.toDouble() == 1.0;
    default:
        return false;
    }
}

QString QFLog::appName() const
{
    std::lock_guard lock(m_fileMutex);
    return m_appName;
}

void QFLog::setAppName(const QString &name)
{
    std::lock_guard lock(m_fileMutex);
    m_appName = name;
}

QString QFLog::logFolder() const
{
    return logFolderInUse();
}

QString QFLog::currentLogPath() const
{
    QString name = appName();
    if (name.isEmpty())
        name = QFBundle::executableName();
    if (name.isEmpty())
        name = QStringLiteral("Unknown");
    return logFolderInUse() + qfFormat("/%@.1.log", name);
}

bool QFLog::loggingDisabled() const
{
    std::lock_guard lock(m_fileMutex);
    return m_loggingDisabled;
}

quint64 QFLog::bytesWritten() const
{
    std::lock_guard lock(m_fileMutex);
    return m_bytesWritten;
}

quint64 QFLog::bytesInQueue() const
{
    return m_bytesInQueue.load();
}

int QFLog::pendingWrites() const
{
    std::lock_guard lock(m_mutex);
    return int(m_queue.size()) + (m_busy ? 1 : 0);
}

void QFLog::enqueue(std::function<void()> job, qsizetype characters)
{
    m_bytesInQueue += quint64(characters);
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void QFLog::run()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return !m_queue.empty(); });
            job = std::move(m_queue.front());
            m_queue.pop_front();
            m_busy = true;
        }
        job();
        {
            std::lock_guard lock(m_mutex);
            m_busy = false;
            if (m_queue.empty())
                m_idle.notify_all();
        }
    }
}

void QFLog::finishWriting()
{
    QFLog *log = sharedController();
    if (std::this_thread::get_id() == log->m_thread.get_id())
        return;
    std::unique_lock lock(log->m_mutex);
    log->m_idle.wait(lock, [log] { return log->m_queue.empty() && !log->m_busy; });
}

void QFLog::createNewLog(const QString &appName)
{
    QFLog *log = sharedController();
    flushWhenApplicationEnds();
    log->enqueue([log, appName] { log->createNewLogLocked(appName); }, 0);
    finishWriting();
}

void QFLog::closeFile()
{
    std::lock_guard lock(m_fileMutex);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

// Runs on the writer thread.
void QFLog::createNewLogLocked(const QString &requestedName)
{
    closeFile();
    if (globalSwitch(QStringLiteral("disable-logging"))) {
        {
            std::lock_guard lock(m_fileMutex);
            if (m_loggingDisabled)
                return;
            m_loggingDisabled = true;
        }
        print(QStringLiteral("Logging is disabled\n"));
        return;
    }
    {
        std::lock_guard lock(m_fileMutex);
        m_loggingDisabled = false;
        if (!requestedName.isEmpty() && m_appName.isEmpty())
            m_appName = requestedName;
        m_bytesWritten = 0;
        if (m_appName.isEmpty())
            m_appName = QFBundle::executableName();
        if (m_appName.isEmpty())
            m_appName = QStringLiteral("Unknown");
    }
    const QString name = appName();
    const QString folder = logFolderInUse();
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        print(qfFormat("Unable to create folder %s.\n", folder));
        return;
    }
    const QString current = currentLogPath();
    if (QFileInfo::exists(current)) {
        QFile::remove(folder + qfFormat("/%@.%li.log", name, long(kGenerations)));
        for (long n = kGenerations - 1; n >= 1; --n) {
            const QString from = folder + qfFormat("/%@.%li.log", name, n);
            const QString to = folder + qfFormat("/%@.%li.log", name, n + 1);
            if (QFileInfo::exists(from)
                && ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0) {
                print(qfFormat("Unable to move file %s to %s.\n", from, to));
                return;
            }
        }
    }
    QDir().mkpath(QFileInfo(current).absolutePath());
    const int fd
        = ::open(QFile::encodeName(current).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        print(qfFormat("Unable to create log file %s - %s\n", current, std::strerror(errno)));
        return;
    }
    {
        std::lock_guard lock(m_fileMutex);
        m_fd = fd;
    }
    QStringList header;
    header << qfFormat("Log started: %@\n", dateDescription(QDateTime::currentDateTime()));
    const QVariant version = QFBundle::objectForInfoKey(QStringLiteral("CFBundleVersion"));
    if (version.isValid())
        header << qfFormat("Version: %@\n", version.toString());
    header << qfFormat("Path: %@\n", QFBundle::executablePath());
    header << systemFacts();
    if (sizeof(void *) == 8)
        header << QStringLiteral("Running in 64-bit mode\n");
    for (const QString &line : std::as_const(header))
        writeLine(line.trimmed(), 0);
}

bool QFLog::openCurrentLog()
{
    const QString path = currentLogPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::lock_guard lock(m_fileMutex);
    m_fd = fd;
    return true;
}

// Runs on the writer thread.
void QFLog::writeLine(const QString &text, qsizetype queuedCharacters)
{
    bool disabled;
    int fd;
    {
        std::lock_guard lock(m_fileMutex);
        disabled = m_loggingDisabled;
        fd = m_fd;
    }
    if (!disabled) {
        if (fd < 0 && !openCurrentLog()) {
            print(qfFormat("Unable to log the following information: %s\n", text));
            print(QStringLiteral("Unable to open log for output\n"));
        } else {
            {
                std::lock_guard lock(m_fileMutex);
                fd = m_fd;
            }
            const QByteArray line = qfFormat("%@ - %@\n", dateDescription(QDateTime::currentDateTime()), text).toUtf8();
            qsizetype done = 0;
            while (done < line.size()) {
                const ssize_t n = ::write(fd, line.constData() + done, size_t(line.size() - done));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    print(qfFormat("Exception writing to log: %s\n", std::strerror(errno)));
                    break;
                }
                done += n;
            }
            quint64 written;
            {
                std::lock_guard lock(m_fileMutex);
                m_bytesWritten += quint64(done);
                written = m_bytesWritten;
            }
            if (written >= kRotateAt) {
                createNewLogLocked(appName());
                writeLine(QStringLiteral("Log truncated at 500KB"), 0);
            }
        }
    }
    m_bytesInQueue -= quint64(queuedCharacters);
}

void QFLog::appendTextToLog(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return;
    const qsizetype length = trimmed.size();
    enqueue([this, trimmed, length] { writeLine(trimmed, length); }, length);
}

void QFLog::append(const QString &message, bool mayWait)
{
    const qsizetype length = message.trimmed().size();
    appendTextToLog(message);
    if (mayWait && length > 0 && length < 100 && bytesInQueue() <= quint64(kWaitThreshold)
        && !QFMainThread::isCurrent())
        finishWriting();
}

void QFLog::logAndPrint(const QString &message)
{
    const QString trimmed = message.trimmed();
    append(trimmed, true);
    QString printable = trimmed;
    printable.remove(QStringLiteral("%@"));
    printable.remove(QChar(0));
    print(printable + u'\n');
}

QStringList QFLog::availableLogs()
{
    QFLog *log = sharedController();
    const QString folder = log->logFolder();
    QString name = log->appName();
    if (name.isEmpty())
        name = QFBundle::executableName();
    QStringList out;
    for (long n = 1; n <= kGenerations; ++n) {
        const QString path = qfFormat("%@/%@.%li.log", folder, name, n);
        if (QFileInfo::exists(path))
            out << path;
    }
    return out;
}

void QFLog::willTerminate()
{
    if (pendingWrites() <= kMaxPendingAtExit) {
        finishWriting();
    } else {
        // Termination does not wait for a long queue: what is still queued is dropped, and only the line
        // being written is finished, so the writer is idle before the program's objects are torn down.
        std::lock_guard lock(m_mutex);
        m_queue.clear();
        m_bytesInQueue = 0;
    }
    finishWriting();
    // Close on the writer thread so no write is cut in half.
    enqueue([this] { closeFile(); }, 0);
    finishWriting();
}
