#include "foundation/QFAppRequest.h"

#include "foundation/QFLog.h"
#include "foundation/QFTaskEx.h"
#include "foundation/platform/QFBundle.h"

#include <QFileInfo>
#include <QThread>

#include <atomic>

namespace {

std::atomic<int> s_retryPauseMs { 2000 };

// A start can fail for a moment (an update replacing the bundle, no process slot free), so it is tried
// again before the request is given up.
bool startApplication(const QStringList &arguments, const QString &request)
{
    const QString executable = QFAppRequest::mainExecutablePath();
    for (int attempt = 1;; ++attempt) {
        if (QFTaskEx::runTaskAndReturn(executable, arguments))
            return true;
        if (attempt == QFAppRequest::kStartAttempts)
            break;
        QFLog::appendLog("Unable to start %@ to %@ (attempt %i of %i); trying again.", executable, request, attempt,
            QFAppRequest::kStartAttempts);
        QThread::msleep(unsigned(qMax(0, s_retryPauseMs.load()) * attempt));
    }
    QFLog::appendLog(
        "Unable to start %@ to %@ after %i attempts; giving up.", executable, request, QFAppRequest::kStartAttempts);
    return false;
}

QString encodePath(const QString &path)
{
    QString out = path;
    out.replace(u'%', QLatin1String("%25"));
    out.replace(u',', QLatin1String("%2C"));
    return out;
}

// Only the two escapes of encodePath are undone; any other "%" stays as it is.
QString decodePath(const QString &item)
{
    QString out;
    out.reserve(item.size());
    for (qsizetype i = 0; i < item.size(); ++i) {
        if (item[i] == u'%' && i + 2 < item.size()) {
            const QString code = item.mid(i + 1, 2).toUpper();
            if (code == QLatin1String("25") || code == QLatin1String("2C")) {
                out += code == QLatin1String("25") ? u'%' : u',';
                i += 2;
                continue;
            }
        }
        out += item[i];
    }
    return out;
}

} // namespace

QString QFAppRequest::encodeRemotePathList(const QStringList &paths)
{
    QStringList encoded;
    encoded.reserve(paths.size());
    for (const QString &path : paths)
        encoded << encodePath(path);
    return encoded.join(u',');
}

QStringList QFAppRequest::decodeRemotePathList(const QString &list)
{
    QStringList paths;
    for (const QString &item : list.split(u',', Qt::SkipEmptyParts))
        paths << decodePath(item);
    return paths;
}

QString QFAppRequest::mainExecutablePath()
{
    const QString bundle = QFBundle::mainBundlePath();
    // The command-line tool runs from the application's own bundle; the helper's bundle lies inside it.
    if (!bundle.isEmpty() && QFBundle::bundleIdentifierOfBundle(bundle) == QLatin1String("com.quenfield.ProTombrel"))
        return bundle + QStringLiteral("/Contents/MacOS/Pro Tombrel");
    const QString folder
        = bundle.isEmpty() ? QFileInfo(QFBundle::executablePath()).absolutePath() : QFileInfo(bundle).absolutePath();
    return folder + QStringLiteral("/Pro Tombrel");
}

bool QFAppRequest::requestUpload(const QString &path)
{
    return startApplication({ QStringLiteral("-upload"), path }, qfFormat("upload %@", path));
}

bool QFAppRequest::requestRemoveRemote(const QStringList &paths)
{
    if (paths.isEmpty())
        return false;
    return startApplication({ QStringLiteral("-removeRemote"), encodeRemotePathList(paths) },
        qfFormat("remove the Dropbox copies of %@", paths.join(QStringLiteral(", "))));
}

void QFAppRequest::setRetryPause(int milliseconds)
{
    s_retryPauseMs = milliseconds;
}
