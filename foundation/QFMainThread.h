#pragma once

// The program's main thread: the thread of its application object, or before one exists the thread that
// started the process. Work that must run there (interface updates, delegates) goes through run.

#include <functional>

class QFMainThread final {
public:
    static bool isCurrent();
    // Runs work on the main thread, waiting for it when wait is set. Inline when called there (a
    // blocking queued call to oneself would never return) or when there is no application object.
    static void run(const std::function<void()> &work, bool wait);
};
