// Logging throughput from four threads, and what one appendLog costs its caller on the main thread.
// Runs in a temporary home so it never touches a real log.

#include "foundation/QFLog.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

void BM_LinesFromFourThreads(benchmark::State &state)
{
    for (auto _ : state) {
        QFLog::appendLog("worker %i wrote line %li of a long session", state.thread_index(), long(state.iterations()));
    }
    if (state.thread_index() == 0)
        QFLog::finishWriting();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LinesFromFourThreads)->Threads(4)->UseRealTime();

void BM_MainThreadAppendCost(benchmark::State &state)
{
    for (auto _ : state)
        QFLog::appendLog(
            "File %@ is currently being written to. Waiting...", QStringLiteral("/home/ed/Projects/Edit.fcp"));
    QFLog::finishWriting();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MainThreadAppendCost);

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    setenv("HOME", QFile::encodeName(home.path()).constData(), 1);
    setenv("XDG_STATE_HOME", QFile::encodeName(home.path() + QStringLiteral("/state")).constData(), 1);
    setenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + QStringLiteral("/config")).constData(), 1);
    QCoreApplication app(argc, argv);
    QFLog::createNewLog(QStringLiteral("bench"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    QFLog::finishWriting();
    return 0;
}
