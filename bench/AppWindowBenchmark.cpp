// The main window over a project of many versions, offscreen: the time from selecting the project to its
// first version row, the longest stall of the event loop while the list fills (from the cache, and again
// with every change list computed), and the memory held after the screenshot strip has shown every version.
//   bench_app_window [VERSIONS]     (default 1000; each version has a 1024-wide screenshot)

#include "app/AppController.h"
#include "app/MainWindow.h"
#include "app/QFCoverFlowView.h"
#include "app/QFOutlineView.h"
#include "engine/QFProject.h"
#include "engine/QFTombrelBackup.h"
#include "foundation/platform/QFPropertyList.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QListView>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>

namespace {

// The longest gap between ticks of a timer that asks to run every millisecond.
class StallMeter {
public:
    StallMeter()
    {
        m_timer.setInterval(1);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
    }
    void start()
    {
        m_longest = 0;
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    double stopMs()
    {
        m_timer.stop();
        return double(std::max(m_longest, m_clock.nsecsElapsed() - m_last)) / 1e6;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

// Waits for a condition; the benchmark cannot go on without it.
template <typename Condition> void waitFor(Condition condition, int timeoutMs, const char *what)
{
    if (!QTest::qWaitFor(condition, timeoutMs)) {
        std::fprintf(stderr, "bench_app_window: gave up waiting for %s\n", what);
        std::exit(1);
    }
}

long statusKilobytes(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(strlen(field))).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

QString makeProject(const QString &home, const QString &name, const QString &id, int versions)
{
    const QString file = home + QStringLiteral("/Videos/") + name + QStringLiteral(".kdenlive");
    QDir().mkpath(home + QStringLiteral("/Videos"));
    QFile project(file);
    project.open(QIODevice::WriteOnly);
    project.write("<mlt/>");
    project.close();
    const QFProject record = QFProject::projectWithPath(file, std::nullopt, id);
    const QString folder = record.destinationPath();
    QDir().mkpath(folder + QStringLiteral("/Versions"));
    QDir().mkpath(folder + QStringLiteral("/Screenshots"));
    for (int i = 1; i <= versions; ++i) {
        const QString base = name + u'.' + QFTombrelBackup::padNumber(i);
        QFile version(folder + QStringLiteral("/Versions/") + base + QStringLiteral(".kdenlive"));
        version.open(QIODevice::WriteOnly);
        version.write(QByteArray("<mlt v='") + QByteArray::number(i) + "'/>");
        version.close();
        QImage shot(1024, 640, QImage::Format_RGB32);
        shot.fill(QColor::fromHsv((i * 37) % 360, 160, 200));
        QPainter painter(&shot);
        painter.setPen(Qt::white);
        painter.drawText(shot.rect(), Qt::AlignCenter, base);
        painter.end();
        shot.save(folder + QStringLiteral("/Screenshots/") + base + QStringLiteral(".jpg"), "JPG", 85);
    }
    return folder;
}

// Gives every cached entry change lines, a few of them long enough to wrap.
void addChangeLines(const QString &projectFolder)
{
    const QString cache
        = QFTombrelBackup::cachesFolder() + u'/' + QFileInfo(projectFolder).fileName() + QStringLiteral(".cache.plist");
    auto entries = QFPropertyList::readDictionary(cache);
    if (!entries)
        return;
    for (auto it = entries->begin(); it != entries->end(); ++it) {
        QVariantMap entry = it.value().toMap();
        if (entry.isEmpty())
            continue;
        QVariantList lines;
        for (int j = 0; j < 8; ++j)
            lines << QStringLiteral("Clip \"Interview %1\" moved from 00:01:%2:00 to 00:02:%2:12 on track V%3")
                         .arg(j)
                         .arg(10 + j)
                         .arg(j % 3 + 1);
        lines << QStringLiteral("Sequence \"Main Edit\" renamed to \"Main Edit - client review, second pass with the "
                                "new music and the colour grade\"");
        entry.insert(QStringLiteral("changelist"), lines);
        it.value() = entry;
    }
    QFPropertyList::write(cache, *entries);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    for (const char *name : { "HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME" }) {
        const QString path = home.path() + (QByteArray(name) == "HOME" ? QString() : u'/' + QString::fromLatin1(name));
        QDir().mkpath(path);
        qputenv(name, path.toLocal8Bit());
    }
    QApplication app(argc, argv);
    const int versions = argc > 1 ? std::max(1, atoi(argv[1])) : 1000;

    std::printf("making a store of %d versions with 1024-wide screenshots...\n", versions);
    const QString big = makeProject(home.path(), QStringLiteral("Big"), QStringLiteral("BIG"), versions);
    makeProject(home.path(), QStringLiteral("Small"), QStringLiteral("SMALL"), 2);
    QFPropertyList::write(
        QFProject::preferenceFilePath(), QVariantMap { { "firstRun", false }, { "lastProjectID", "SMALL" } });
    {
        QFTombrelBackup engine;
        engine.cacheForProject(big);
    }
    addChangeLines(big);

    auto controller = std::make_unique<AppController>(true);
    controller->applicationDidFinishLaunching({ QStringLiteral("Pro Tombrel") });
    MainWindow *window = controller->mainWindow();
    window->resize(1280, 800);
    waitFor([&] { return window->isVisible(); }, 10000, "the window");
    waitFor([&] { return !controller->isBusy() && !controller->projectList().isEmpty(); }, 60000, "the project list");

    auto selectAndMeasure = [&](const char *what) {
        QListView *table = window->projectTable();
        table->setCurrentIndex(table->model()->index(1, 0)); // Small
        waitFor([&] { return !controller->isBusy(); }, 60000, "the small project");
        StallMeter stall;
        QElapsedTimer clock;
        stall.start();
        clock.start();
        table->setCurrentIndex(table->model()->index(0, 0)); // Big
        waitFor([&] { return window->versionOutline()->model()->rowCount() > 0; }, 120000, "the first row");
        const double firstRow = double(clock.nsecsElapsed()) / 1e6;
        waitFor([&] { return !controller->isBusy() && window->versionOutline()->model()->rowCount() == versions; },
            600000, "every row");
        const double all = double(clock.nsecsElapsed()) / 1e6;
        std::printf("%-34s first row %7.1f ms, all %d rows %8.1f ms, longest stall %6.1f ms\n", what, firstRow,
            versions, all, stall.stopMs());
    };
    selectAndMeasure("change lists from the cache:");
    QFile::remove(QFTombrelBackup::cachesFolder() + QStringLiteral("/") + QFileInfo(big).fileName()
        + QStringLiteral(".cache.plist"));
    selectAndMeasure("every change list computed:");

    // The strip passes every version once, as a user holding the arrow key would.
    QFCoverFlowView *strip = window->screenshotStrip();
    StallMeter stall;
    stall.start();
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < strip->count(); ++i) {
        strip->scrollToIndex(i, 0);
        strip->repaint();
        QCoreApplication::processEvents();
    }
    std::printf("strip through %d screenshots: %.1f ms (%.2f ms each), longest stall %.1f ms\n", strip->count(),
        double(clock.nsecsElapsed()) / 1e6, double(clock.nsecsElapsed()) / 1e6 / std::max(1, strip->count()),
        stall.stopMs());
    // One paint of the strip with every visible image decoded already.
    clock.restart();
    for (int i = 0; i < 20; ++i)
        strip->repaint();
    std::printf("one paint of the strip: %.1f ms\n", double(clock.nsecsElapsed()) / 1e6 / 20);
    std::printf("memory: now %ld MB, peak %ld MB (target: under 300 MB)\n", statusKilobytes("VmRSS:") / 1024,
        statusKilobytes("VmHWM:") / 1024);
    controller.reset();
    return 0;
}
