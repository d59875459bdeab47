// Stands in for the helper where its ending matters: it runs until it is asked to end, and then takes a
// while before it exits, as a helper finishing a backup would. Installed under the helper's name.
// usage: ProTombrelHelper [SECONDS TO LINGER]   (1.5 by default; it never runs longer than two minutes)

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

namespace {

std::atomic<bool> s_asked { false };

extern "C" void onTerminate(int)
{
    s_asked = true;
}

} // namespace

int main(int argc, char *argv[])
{
    const double linger = argc > 1 ? std::atof(argv[1]) : 1.5;
    std::signal(SIGTERM, onTerminate);
    for (int tick = 0; tick < 1200 && !s_asked; ++tick)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (s_asked)
        std::this_thread::sleep_for(std::chrono::duration<double>(linger));
    return 0;
}
