// The helper under load: the time from a save to its version, and the helper's CPU time while it
// watches 10,000 idle folders. Runs the helper program of the build tree in a temporary home (a copy
// with an identifier of its own, so that a helper of the real session is never touched).
//
//   bench_helper [--folders N] [--idle-seconds S] [--saves K]

#include "foundation/platform/QFPropertyList.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <unistd.h>
#include <utime.h>

namespace {

double cpuSeconds(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = file.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    // Fields 14 and 15 of the line (user and system time), counted after the command name.
    const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble();
    return ticks / double(sysconf(_SC_CLK_TCK));
}

int versionCount(const QString &storage)
{
    int count = 0;
    for (const QString &project : QDir(storage).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        count += int(QDir(storage + u'/' + project + QStringLiteral("/Versions")).entryList(QDir::Files).size());
    return count;
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QThread::msleep(5);
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int folders = 10000;
    int idleSeconds = 60;
    int saves = 5;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--folders"))
            folders = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--idle-seconds"))
            idleSeconds = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--saves"))
            saves = args[i + 1].toInt();
    }

    QTemporaryDir home;
    const QString root = home.path();
    for (const char *sub : { ".config", ".local/share", ".local/state", ".cache", "Movies" })
        QDir().mkpath(root + u'/' + QLatin1String(sub));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), root);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), root + QStringLiteral("/.local/share"));
    env.insert(QStringLiteral("XDG_STATE_HOME"), root + QStringLiteral("/.local/state"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), root + QStringLiteral("/.cache"));
    // No session bus: the helper must not meet the services of the real session.
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));

    // The watched tree: 100 reels of takes, 10,000 folders in all.
    const QString movies = root + QStringLiteral("/Movies");
    const int perReel = qMax(1, folders / 100 - 1);
    int made = 0;
    for (int reel = 0; made < folders; ++reel) {
        const QString reelFolder = movies + QStringLiteral("/Reel %1").arg(reel);
        QDir().mkpath(reelFolder);
        ++made;
        for (int take = 0; take < perReel && made < folders; ++take, ++made)
            QDir().mkpath(reelFolder + QStringLiteral("/Take %1").arg(take));
    }
    const QString project = movies + QStringLiteral("/Reel 0/Take 0/Cut.prproj");
    {
        QFile file(project);
        file.open(QIODevice::WriteOnly);
        file.write(QByteArray(1 << 20, 'p'));
    }
    struct utimbuf old {
        time(nullptr) - 3600, time(nullptr) - 3600
    };
    utime(QFile::encodeName(project).constData(), &old);
    QFPropertyList::write(root + QStringLiteral("/.config/com.quenfield.ProTombrel.plist"),
        QVariantMap { { QStringLiteral("watchFolders"),
            QVariantList { QVariantMap { { QStringLiteral("folder"), movies },
                { QStringLiteral("extensions"), QStringLiteral("prproj") } } } } });

    const QString bundle = root + QStringLiteral("/Pro Tombrel.app/Contents/MacOS/ProTombrelHelper.app");
    QDir().mkpath(bundle + QStringLiteral("/Contents/MacOS"));
    const QString helper = bundle + QStringLiteral("/Contents/MacOS/ProTombrelHelper");
    QFile::copy(
        QStringLiteral(QF_BUNDLE_DIR "/Contents/MacOS/ProTombrelHelper.app/Contents/MacOS/ProTombrelHelper"), helper);
    QFPropertyList::write(bundle + QStringLiteral("/Contents/Info.plist"),
        QVariantMap { { QStringLiteral("CFBundleIdentifier"),
                          QStringLiteral("com.quenfield.ProTombrelHelper.bench-")
                              + QUuid::createUuid().toString(QUuid::WithoutBraces) },
            { QStringLiteral("CFBundleName"), QStringLiteral("ProTombrelHelper") } });

    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(helper, {});
    if (!process.waitForStarted(10000)) {
        std::fprintf(stderr, "bench_helper: cannot start %s\n", qPrintable(helper));
        return 1;
    }
    const qint64 pid = process.processId();
    const QString storage = root + QStringLiteral("/.local/share/Quenfield/Pro Tombrel/Projects");

    // The first search registers the project, the next scan makes its first version; then the helper rests.
    QElapsedTimer startClock;
    startClock.start();
    if (!waitFor([&] { return QDir(storage).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size() == 1; }, 120000)) {
        std::fprintf(stderr, "bench_helper: the project was not found\n");
        return 1;
    }
    const double startCpu = cpuSeconds(pid);
    std::printf("start-up and first search of %d folders: %.2f s wall, %.3f s CPU\n", made,
        startClock.elapsed() / 1000.0, startCpu);

    // Settled: no CPU used for a whole second.
    waitFor(
        [&] {
            const double before = cpuSeconds(pid);
            QThread::sleep(1);
            return cpuSeconds(pid) == before;
        },
        120000);

    // Idle: nothing changes in the watched tree.
    const double idleStart = cpuSeconds(pid);
    QThread::sleep(idleSeconds);
    const double idleCpu = cpuSeconds(pid) - idleStart;
    std::printf("idle CPU over %d s while watching %d folders: %.3f s (%.4f%% of one core)\n", idleSeconds, made,
        idleCpu, 100.0 * idleCpu / idleSeconds);

    // Save → version. The helper's first scan has not versioned the project yet; each save makes one.
    QList<double> delays;
    int versions = versionCount(storage);
    for (int i = 0; i < saves; ++i) {
        QThread::msleep(1500);
        QFile file(project);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(QByteArray((1 << 20) + i + 1, char('a' + i)));
        file.close();
        QElapsedTimer clock;
        clock.start();
        if (!waitFor([&] { return versionCount(storage) > versions; }, 60000)) {
            std::fprintf(stderr, "bench_helper: save %d made no version\n", i + 1);
            return 1;
        }
        delays << clock.elapsed() / 1000.0;
        versions = versionCount(storage);
        std::printf("save %d → version: %.3f s\n", i + 1, delays.last());
    }
    std::sort(delays.begin(), delays.end());
    std::printf("save → version: median %.3f s, best %.3f s, worst %.3f s (of which 4 s is the wait for the file to be "
                "quiet)\n",
        delays[delays.size() / 2], delays.first(), delays.last());

    process.terminate();
    process.waitForFinished(15000);
    return 0;
}
