#include "foundation/platform/QFShutdown.h"

#include <atomic>

namespace {

std::atomic<bool> s_requested { false };

} // namespace

void QFShutdown::request()
{
    s_requested.store(true);
}

bool QFShutdown::isRequested()
{
    return s_requested.load(std::memory_order_relaxed);
}

void QFShutdown::reset()
{
    s_requested.store(false);
}
