#include "engine/QFRcloneClient.h"

#include "engine/QFPreferenceSnapshot.h"
#include "foundation/QFLog.h"
#include "foundation/QFTaskEx.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace {

constexpr int kMaximumDetail = 300;

QString partialSuffix()
{
    return QStringLiteral(".partial");
}

// The hidden name an upload is written under before it is moved into place.
bool isStagingName(const QString &name)
{
    return name.startsWith(u'.') && name.endsWith(partialSuffix());
}

// A line of rclone's as it may be logged or shown: no user names or passwords of addresses, no control
// characters, a bounded length.
QString cleanDetail(QString text)
{
    static const QRegularExpression userInfo(QStringLiteral("([A-Za-z][A-Za-z0-9+.-]*://)[^/@\\s\"]*@"));
    text.replace(userInfo, QStringLiteral("\\1"));
    for (QChar &c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u' ';
    }
    text = text.simplified();
    if (text.size() > kMaximumDetail)
        text = text.left(kMaximumDetail) + QStringLiteral("…");
    return text;
}

bool containsAny(const QString &text, std::initializer_list<const char *> needles)
{
    return std::any_of(needles.begin(), needles.end(), [&](const char *n) { return text.contains(QLatin1String(n)); });
}

QDateTime parseModTime(QString text)
{
    // rclone gives nanoseconds where the remote keeps them; Qt reads at most milliseconds.
    static const QRegularExpression fraction(QStringLiteral("(\\.\\d{3})\\d+"));
    text.replace(fraction, QStringLiteral("\\1"));
    QDateTime date = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!date.isValid())
        date = QDateTime::fromString(text, Qt::ISODate);
    return date.toUTC();
}

bool mayPass(const QFDropboxError &error)
{
    if (error.domain != QFDropboxError::Domain::URL)
        return false;
    return error.code == -1001 || error.code == -1005 || error.code == QFRcloneClient::kRcloneFailed;
}

} // namespace

struct QFRcloneClient::Run {
    // The rclone command and its operands; the common flags are added when it starts.
    QStringList arguments;
    // The remote location the command is about, for failure texts.
    QString location;
    bool write = false;
    std::function<void(double)> progress;
    std::function<void(const QFDropboxError &, const QByteArray &)> done;
    // The remote path a download can be cancelled by, and what a cancelled one clears away.
    QString cancelKey;
    std::function<void()> cancelled;

    QProcess *process = nullptr;
    QTimer *stall = nullptr;
    QByteArray out;
    QByteArray pendingErr;
    QStringList errors;
    qint64 bytes = 0;
    bool moved = false;
    bool stalled = false;
    bool wasCancelled = false;
};

struct QFRcloneClient::Write {
    QString path;
    // Makes one attempt, which ends in endWrite.
    std::function<void(const std::shared_ptr<Write> &)> attempt;
    std::function<void(const QFDropboxError &)> finished;
    bool retried = false;
};

QFRcloneClient::QFRcloneClient(const QString &remote, QObject *parent)
    : QFSyncClient(parent)
    , m_remote(remote)
{
    setStallSeconds(int(QFPreferenceSnapshot::read().intValue(QStringLiteral("dropboxTimeout"))));
}

QFRcloneClient::~QFRcloneClient()
{
    const auto runs = std::exchange(m_runs, {});
    for (const std::shared_ptr<Run> &run : runs) {
        if (!run->process)
            continue;
        run->process->disconnect(this);
        run->process->kill();
        run->process->waitForFinished(5000);
        delete run->process;
        run->process = nullptr;
        if (run->cancelled)
            run->cancelled();
    }
}

void QFRcloneClient::setStallSeconds(int seconds)
{
    m_stallSeconds = std::clamp(seconds, 1, 3600);
}

void QFRcloneClient::setRetryPause(int seconds)
{
    m_retryPauseSeconds = std::max(0, seconds);
}

bool QFRcloneClient::isRemoteSpec(const QString &text, QString *error)
{
    const auto refuse = [&](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    static const QRegularExpression shape(QStringLiteral("^([A-Za-z0-9_.+@][A-Za-z0-9_.+@ -]*):(.*)$"));
    if (text.startsWith(u':'))
        return refuse(QStringLiteral("a remote must be named in rclone's configuration (NAME:path); "
                                     "connection strings would keep credentials in the preferences"));
    const QRegularExpressionMatch match = shape.match(text);
    if (!match.hasMatch())
        return refuse(
            QStringLiteral("a remote is written NAME:path, with the name of a remote of rclone config, not '%1'")
                .arg(text));
    const QString path = match.captured(2);
    if (std::any_of(path.cbegin(), path.cend(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; }))
        return refuse(QStringLiteral("the path of a remote cannot hold control characters"));
    return true;
}

QString QFRcloneClient::location(const QString &remotePath) const
{
    const QString relative = QFDropboxClient::normalizedPath(remotePath).mid(1);
    if (relative.isEmpty())
        return m_remote;
    if (m_remote.endsWith(u':') || m_remote.endsWith(u'/'))
        return m_remote + relative;
    return m_remote + u'/' + relative;
}

int QFRcloneClient::pendingRequests() const
{
    const auto reads
        = std::count_if(m_runs.cbegin(), m_runs.cend(), [](const std::shared_ptr<Run> &run) { return !run->write; });
    return int(reads) + int(m_writes.size()) + (m_currentWrite ? 1 : 0);
}

QString QFRcloneClient::leadTextForError(const QFDropboxError &error)
{
    if (error.domain == QFDropboxError::Domain::URL) {
        switch (error.code) {
        case -1001:
            return QStringLiteral("Timed out. Please try again.");
        case -1005:
            return QStringLiteral("The connection to the remote was lost. Please check your network connection.");
        case kRcloneMissing:
            return QStringLiteral("rclone is not installed - please install the package rclone.");
        case kRemoteMissing:
            return QStringLiteral("The remote is not set up - please check it with rclone config.");
        default:
            return {};
        }
    }
    if (error.code == 401)
        return QStringLiteral("Login refused - please check the remote's login with rclone config.");
    if (error.code == 507)
        return QStringLiteral("The remote is full.");
    return {};
}

// --- Requests -----------------------------------------------------------------------------------------

void QFRcloneClient::uploadFile(const QString &filename, const QString &toPath, const QString &fromPath)
{
    const QString dest = QFDropboxClient::normalizedPath(toPath + u'/' + filename);
    const QString staging = QFDropboxClient::normalizedPath(toPath + QStringLiteral("/.") + filename + partialSuffix());
    const QString source = QFileInfo(fromPath).absoluteFilePath();
    auto write = std::make_shared<Write>();
    write->path = fromPath;
    write->attempt = [this, dest, staging, source, fromPath](const std::shared_ptr<Write> &write) {
        if (!QFileInfo(source).isFile()) {
            endWrite(write, QFDropboxError::url(-1100, fromPath));
            return;
        }
        auto copy = std::make_shared<Run>();
        copy->arguments = { QStringLiteral("copyto"), source, location(staging) };
        copy->location = location(dest);
        copy->write = true;
        copy->progress = [this, dest, fromPath](double progress) { Q_EMIT uploadProgress(progress, dest, fromPath); };
        copy->done = [this, write, dest, staging](const QFDropboxError &error, const QByteArray &) {
            if (!error.isNull()) {
                endWrite(write, error);
                return;
            }
            auto move = std::make_shared<Run>();
            move->arguments = { QStringLiteral("moveto"), location(staging), location(dest) };
            move->location = location(dest);
            move->write = true;
            move->done = [this, write](const QFDropboxError &error, const QByteArray &) { endWrite(write, error); };
            start(move);
        };
        start(copy);
    };
    write->finished = [this, dest, fromPath](const QFDropboxError &error) {
        if (error.isNull()) {
            Q_EMIT uploadedFile(dest, fromPath);
            return;
        }
        QFDropboxError failure = error;
        failure.path = fromPath;
        Q_EMIT uploadFileFailed(failure);
    };
    enqueueWrite(write);
}

void QFRcloneClient::loadMetadata(const QString &path)
{
    const QString folder = QFDropboxClient::normalizedPath(path);
    auto run = std::make_shared<Run>();
    run->arguments = { QStringLiteral("lsjson"), location(folder) };
    run->location = location(folder);
    run->done = [this, folder](const QFDropboxError &error, const QByteArray &out) {
        if (!error.isNull()) {
            QFDropboxError failure = error;
            failure.path = folder;
            Q_EMIT loadMetadataFailed(failure);
            return;
        }
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(out, &parseError);
        if (!document.isArray()) {
            Q_EMIT loadMetadataFailed(QFDropboxError { QFDropboxError::Domain::URL, kRcloneFailed,
                QStringLiteral("rclone gave no readable listing of %1: %2")
                    .arg(location(folder), parseError.errorString()),
                folder });
            return;
        }
        QFDropboxMetadata metadata;
        metadata.path = folder;
        for (const QJsonValue &value : document.array()) {
            const QJsonObject object = value.toObject();
            QFDropboxEntry entry;
            entry.name = object.value(QStringLiteral("Name")).toString();
            if (entry.name.isEmpty() || isStagingName(entry.name))
                continue;
            entry.path = folder + u'/' + entry.name;
            entry.isDirectory = object.value(QStringLiteral("IsDir")).toBool();
            entry.totalBytes = std::max<qint64>(0, object.value(QStringLiteral("Size")).toInteger());
            entry.lastModifiedDate = parseModTime(object.value(QStringLiteral("ModTime")).toString());
            metadata.contents.append(entry);
        }
        Q_EMIT loadedMetadata(metadata);
    };
    start(run);
}

void QFRcloneClient::loadFile(const QString &path, const QString &intoPath)
{
    const QString remotePath = QFDropboxClient::normalizedPath(path);
    const QString target = QFileInfo(intoPath).absoluteFilePath();
    const QString partial = target + partialSuffix();
    QFile::remove(partial);
    auto run = std::make_shared<Run>();
    run->arguments = { QStringLiteral("copyto"), location(remotePath), partial };
    run->location = location(remotePath);
    run->cancelKey = remotePath;
    run->cancelled = [partial] { QFile::remove(partial); };
    run->progress = [this, intoPath](double progress) { Q_EMIT loadProgress(progress, intoPath); };
    run->done = [this, intoPath, target, partial](const QFDropboxError &error, const QByteArray &) {
        QFDropboxError failure = error;
        if (failure.isNull() && !QFileInfo(partial).isFile())
            failure = QFDropboxError::url(-3003);
        if (failure.isNull() && QFileInfo::exists(target) && !QFile::remove(target))
            failure = QFDropboxError::url(-3003);
        if (failure.isNull() && !QFile::rename(partial, target))
            failure = QFDropboxError::url(-3003);
        if (!failure.isNull()) {
            QFile::remove(partial);
            failure.path = intoPath;
            QFLog::appendLog("rclone could not load %@: %@", failure.path, failure.description);
            Q_EMIT loadFileFailed(failure);
            return;
        }
        Q_EMIT loadedFile(intoPath);
    };
    start(run);
}

void QFRcloneClient::cancelFileLoad(const QString &path)
{
    const QString remotePath = QFDropboxClient::normalizedPath(path);
    for (const std::shared_ptr<Run> &run : std::as_const(m_runs)) {
        if (run->cancelKey.isEmpty() || run->cancelKey != remotePath || run->wasCancelled)
            continue;
        run->wasCancelled = true;
        if (run->process)
            run->process->kill();
    }
}

void QFRcloneClient::deletePath(const QString &path)
{
    const QString remotePath = QFDropboxClient::normalizedPath(path);
    const QStringList parts = remotePath.split(u'/', Qt::SkipEmptyParts);
    auto write = std::make_shared<Write>();
    write->path = remotePath;
    write->attempt = [this, remotePath, parts](const std::shared_ptr<Write> &write) {
        if (parts.isEmpty()) {
            endWrite(write,
                QFDropboxError { QFDropboxError::Domain::URL, kRcloneFailed,
                    QStringLiteral("The root of the remote %1 is never deleted.").arg(m_remote), remotePath });
            return;
        }
        auto run = std::make_shared<Run>();
        // A project's folder goes with every archive it holds.
        run->arguments
            = { parts.size() == 1 ? QStringLiteral("purge") : QStringLiteral("deletefile"), location(remotePath) };
        run->location = location(remotePath);
        run->write = true;
        run->done = [this, write](const QFDropboxError &error, const QByteArray &) { endWrite(write, error); };
        start(run);
    };
    write->finished = [this, remotePath](const QFDropboxError &error) {
        if (error.isNull()) {
            Q_EMIT deletedPath(remotePath);
            return;
        }
        QFDropboxError failure = error;
        failure.path = remotePath;
        QFLog::appendLog("rclone could not delete %@: %@", location(remotePath), failure.description);
        Q_EMIT deletePathFailed(failure);
    };
    enqueueWrite(write);
}

// --- Writes one at a time ------------------------------------------------------------------------------

void QFRcloneClient::enqueueWrite(const std::shared_ptr<Write> &write)
{
    m_writes.append(write);
    // Started from the event loop, so that no answer comes before the caller returns.
    QTimer::singleShot(0, this, [this] { startNextWrite(); });
}

void QFRcloneClient::startNextWrite()
{
    if (m_currentWrite || m_writes.isEmpty())
        return;
    m_currentWrite = m_writes.takeFirst();
    runWriteStep(m_currentWrite);
}

void QFRcloneClient::runWriteStep(const std::shared_ptr<Write> &write)
{
    write->attempt(write);
}

void QFRcloneClient::endWrite(const std::shared_ptr<Write> &write, const QFDropboxError &error)
{
    if (!error.isNull() && mayPass(error) && !write->retried) {
        write->retried = true;
        QFLog::appendLog("rclone write of %@ failed (%@); it is tried once more in %@ seconds", write->path,
            error.description, QString::number(m_retryPauseSeconds));
        Q_EMIT waitingToRetry(m_retryPauseSeconds, write->path);
        QTimer::singleShot(m_retryPauseSeconds * 1000, this, [this, write] { runWriteStep(write); });
        return;
    }
    if (m_currentWrite == write)
        m_currentWrite.reset();
    write->finished(error);
    QTimer::singleShot(0, this, [this] { startNextWrite(); });
}

// --- The rclone process -------------------------------------------------------------------------------

void QFRcloneClient::start(const std::shared_ptr<Run> &run)
{
    m_runs.append(run);
    const QString program = QStandardPaths::findExecutable(QStringLiteral("rclone"));
    if (program.isEmpty()) {
        QTimer::singleShot(0, this, [this, run] { onFinished(run, -1, false); });
        return;
    }
    const QString timeout = QString::number(m_stallSeconds) + u's';
    QStringList arguments = run->arguments;
    // rclone's own attempts are few: this client decides what is tried again, and a failure comes soon.
    arguments << QStringLiteral("--use-json-log") << QStringLiteral("--stats") << QStringLiteral("1s")
              << QStringLiteral("--stats-log-level") << QStringLiteral("NOTICE") << QStringLiteral("--retries")
              << QStringLiteral("1") << QStringLiteral("--low-level-retries") << QStringLiteral("3")
              << QStringLiteral("--timeout") << timeout << QStringLiteral("--contimeout") << timeout
              << QStringLiteral("--ask-password=false");

    auto *process = new QProcess(this);
    run->process = process;
    process->setProgram(program);
    process->setArguments(arguments);
    process->setProcessChannelMode(QProcess::SeparateChannels);
    QFTaskEx::prepareChildProcess(*process);
    run->stall = new QTimer(process);
    run->stall->setSingleShot(true);
    run->stall->setInterval(m_stallSeconds * 1000);
    connect(run->stall, &QTimer::timeout, this, [run] {
        run->stalled = true;
        if (run->process)
            run->process->kill();
    });
    connect(process, &QProcess::readyReadStandardOutput, this,
        [run] { run->out += run->process->readAllStandardOutput(); });
    connect(process, &QProcess::readyReadStandardError, this, [this, run] { onOutput(run); });
    connect(process, &QProcess::finished, this, [this, run](int exitCode, QProcess::ExitStatus status) {
        onFinished(run, exitCode, status == QProcess::CrashExit);
    });
    connect(process, &QProcess::errorOccurred, this, [this, run](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            onFinished(run, -1, false);
    });
    process->start();
    process->closeWriteChannel();
    run->stall->start();
}

void QFRcloneClient::onOutput(const std::shared_ptr<Run> &run)
{
    if (!run->process)
        return;
    run->pendingErr += run->process->readAllStandardError();
    qsizetype end;
    while ((end = run->pendingErr.indexOf('\n')) >= 0) {
        const QByteArray line = run->pendingErr.left(end).trimmed();
        run->pendingErr.remove(0, end + 1);
        if (line.isEmpty())
            continue;
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (!document.isObject()) {
            // Fatal errors come as plain lines after the date: "2024/01/02 03:04:05 Failed to …".
            static const QRegularExpression date(QStringLiteral("^\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\\s+"));
            run->errors.append(QString::fromUtf8(line).remove(date));
            continue;
        }
        const QJsonObject object = document.object();
        const QJsonObject stats = object.value(QStringLiteral("stats")).toObject();
        if (!stats.isEmpty()) {
            const qint64 bytes = stats.value(QStringLiteral("bytes")).toInteger();
            const qint64 total = stats.value(QStringLiteral("totalBytes")).toInteger();
            if (bytes > run->bytes) {
                run->bytes = bytes;
                run->moved = true;
                run->stall->start();
                if (run->progress && total > 0)
                    run->progress(std::clamp(double(bytes) / double(total), 0.0, 1.0));
            }
            continue;
        }
        if (object.value(QStringLiteral("level")).toString() == QLatin1String("error"))
            run->errors.append(object.value(QStringLiteral("msg")).toString());
    }
}

void QFRcloneClient::onFinished(const std::shared_ptr<Run> &run, int exitCode, bool crashed)
{
    if (!m_runs.removeOne(run))
        return;
    if (run->process) {
        run->out += run->process->readAllStandardOutput();
        onOutput(run);
        if (!run->pendingErr.trimmed().isEmpty()) {
            run->pendingErr += '\n';
            onOutput(run);
        }
        run->stall->stop();
        run->process->disconnect(this);
        run->process->deleteLater();
        run->process = nullptr;
    }
    if (run->wasCancelled) {
        if (run->cancelled)
            run->cancelled();
        return;
    }
    QFDropboxError error;
    if (exitCode == -1 && !crashed && !run->stalled) {
        error = { QFDropboxError::Domain::URL, kRcloneMissing,
            QStringLiteral("rclone is not installed: no program rclone on the PATH."), run->location };
    } else if (run->stalled) {
        error = { QFDropboxError::Domain::URL, -1001,
            QStringLiteral("rclone made no progress with %1 for %2 seconds; it was ended.")
                .arg(run->location)
                .arg(m_stallSeconds),
            run->location };
    } else if (crashed) {
        error = { QFDropboxError::Domain::URL, kRcloneFailed,
            QStringLiteral("rclone ended abnormally at %1.").arg(run->location), run->location };
    } else if (exitCode != 0) {
        error = failureOf(*run, exitCode);
    }
    if (!error.isNull() && error.code != kRcloneMissing)
        QFLog::appendLog("rclone %@ failed: %@", run->arguments.value(0), error.description);
    else if (!error.isNull())
        QFLog::appendLog("%@", error.description);
    run->done(error, run->out);
}

QFDropboxError QFRcloneClient::failureOf(const Run &run, int exitCode) const
{
    const QString all = run.errors.join(u'\n').toLower();
    QString detail = run.errors.isEmpty() ? QStringLiteral("rclone ended with status %1").arg(exitCode)
                                          : cleanDetail(run.errors.last());
    const QString remoteName = m_remote.section(u':', 0, 0);
    const auto failure = [&](QFDropboxError::Domain domain, int code, const QString &description) {
        return QFDropboxError { domain, code, description, run.location };
    };
    if (containsAny(all, { "didn't find section in config file", "not found in config file" }))
        return failure(QFDropboxError::Domain::URL, kRemoteMissing,
            QStringLiteral("The rclone remote \"%1\" is not in rclone's configuration; set it up with rclone config.")
                .arg(remoteName));
    if (containsAny(all,
            { "401 unauthorized", "unauthorized", "403 forbidden", "unable to authenticate", "authentication failed",
                "access denied", "invalid_grant", "permission denied (publickey" }))
        return failure(QFDropboxError::Domain::HTTP, 401,
            QStringLiteral("The remote %1 refused the login: %2").arg(remoteName, detail));
    if (containsAny(all,
            { "no space left", "insufficient storage", "507 ", "quota exceeded", "disk full", "not enough space" }))
        return failure(
            QFDropboxError::Domain::HTTP, 507, QStringLiteral("The remote %1 is full: %2").arg(remoteName, detail));
    if (containsAny(all,
            { "connection refused", "connection reset", "broken pipe", "unexpected eof", ": eof", "no such host",
                "network is unreachable", "i/o timeout", "connection lost", "closed network connection",
                "deadline exceeded", "couldn't connect", "dial tcp", "no route to host" })) {
        if (run.moved)
            return failure(QFDropboxError::Domain::URL, -1005,
                QStringLiteral("The connection to the remote %1 was lost: %2").arg(remoteName, detail));
        return failure(QFDropboxError::Domain::URL, -1005,
            QStringLiteral("The remote %1 cannot be reached: %2").arg(remoteName, detail));
    }
    if (exitCode == 3 || exitCode == 4 || containsAny(all, { "not found", "doesn't exist" }))
        return failure(QFDropboxError::Domain::HTTP, 409,
            QStringLiteral("%1 is not on the remote (not_found).").arg(run.location));
    return failure(QFDropboxError::Domain::URL, kRcloneFailed,
        QStringLiteral("rclone failed at %1: %2").arg(run.location, detail));
}
