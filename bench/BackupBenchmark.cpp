// The backup engine on large version stores, in a temporary home:
//   BM_ScanUnchangedProjects   processProjects over 1,000 unchanged projects of 100 versions each
//   BM_RetentionOfOneProject   manageBackups on one project of 10,000 versions (rebuilt each round)

#include "engine/QFProject.h"
#include "engine/QFTombrelBackup.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFPropertyList.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

void writeFile(const QString &path, const QByteArray &content, const QDateTime &modified)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        std::abort();
    file.write(content);
    file.setFileTime(modified, QFileDevice::FileModificationTime);
}

void makeProject(const QString &home, int index, int versions, qint64 spacingSeconds, const QDateTime &newest)
{
    const QString id = QStringLiteral("PROJECT-%1").arg(index, 5, 10, QLatin1Char('0'));
    const QString projectPath = home + QStringLiteral("/Projects/Cut%1.prproj").arg(index);
    writeFile(projectPath, "project", newest);
    const QFProject project = QFProject::projectWithPath(projectPath, std::nullopt, id);
    const QString folder = project.destinationPath() + QStringLiteral("/Versions");
    QDir().mkpath(folder);
    for (int v = 1; v <= versions; ++v)
        writeFile(folder + QStringLiteral("/Cut%1.%2.prproj").arg(index).arg(QFTombrelBackup::padNumber(v)), "v",
            newest.addSecs(-spacingSeconds * (versions - v)));
}

void BM_ScanUnchangedProjects(benchmark::State &state)
{
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/data")));
    QDir().mkpath(home.path() + QStringLiteral("/Projects"));
    const QDateTime newest = QDateTime::currentDateTime().addSecs(-120);
    for (int i = 0; i < 1000; ++i)
        makeProject(home.path(), i, 100, 600, newest);
    QFTombrelBackup engine;
    for (auto _ : state)
        engine.processProjects();
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_ScanUnchangedProjects)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_RetentionOfOneProject(benchmark::State &state)
{
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/data")));
    QDir().mkpath(home.path() + QStringLiteral("/Projects"));
    QFTombrelBackup engine;
    for (auto _ : state) {
        state.PauseTiming();
        QDir(home.path() + QStringLiteral("/data")).removeRecursively();
        // One version every 12 minutes for about 83 days: thinned to one a day, capped at 30.
        makeProject(home.path(), 0, 10000, 720, QDateTime::currentDateTime());
        state.ResumeTiming();
        engine.manageBackups();
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_RetentionOfOneProject)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir logs;
    qputenv("XDG_STATE_HOME", QFile::encodeName(logs.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(logs.path() + QStringLiteral("/config")));
    QCoreApplication app(argc, argv);
    QFLog::createNewLog(QStringLiteral("bench"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    QFLog::finishWriting();
    return 0;
}
