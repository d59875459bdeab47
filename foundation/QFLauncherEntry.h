#pragma once

// The badge and progress of the application's launcher entry, as docks and panels read them: the session-bus
// signal com.canonical.Unity.LauncherEntry.Update for "application://pro-tombrel.desktop". Nothing is shown
// where no dock listens, and nothing fails.

class QFLauncherEntry final {
public:
    // progress from 0 to 1; the badge shows the percentage.
    static void setProgress(double progress);
    static void clear();
};
