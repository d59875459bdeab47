#pragma once

// Whether the program is ending. Once requested, long file work gives up at its next step instead of
// holding the exit back: a copy under way is abandoned (its hidden partial file removed), the wait for
// a file being written ends, and scans stop between projects. Safe from any thread.

class QFShutdown final {
public:
    static void request();
    static bool isRequested();
    // For programs (and tests) that go on after a stop was requested.
    static void reset();
};
