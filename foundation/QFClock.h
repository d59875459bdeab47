#pragma once

// The time as the system's logic reads it: version ages, retention, the quiet wait before a copy, the
// twenty seconds after a restore, event dates. Tests set a source of their own; everything else uses the
// real clock. Safe from any thread.

#include <QDateTime>

#include <functional>

class QFClock final {
public:
    static QDateTime now();
    static qint64 msecsSinceEpoch();
    // Milliseconds since the epoch from another source; an empty function restores the real clock.
    static void setSource(std::function<qint64()> source);
};
