#pragma once

// The version store as every program sees it: the projects of the storage root as records, the
// predecessor's projects taken over into it, and the settings a first run starts from. Every program
// reads the store here, from the one storage root its project folders are made in. Safe from any thread;
// the conversion copies versions and belongs on a worker thread.

#include "engine/QFProject.h"

#include <QList>
#include <QString>

class QFProjectStore final {
public:
    enum class Logging { Quiet, Logged };

    // The records of the project folders whose Settings.plist names a project file, each with the
    // sequence chosen in the file, in name order (nameCompare). Logged: "Found %@..." for each folder
    // with a settings file and "Linked project: %@." for each project.
    static QList<QFProject> projects(Logging logging = Logging::Quiet);

    // Whether the first-run set-up is still to be done (firstRun absent or true).
    static bool isFirstRun();
    // The first run's settings in one change of the preference file, keeping what was set before (by
    // tombrel, say): the default watch folders join the watched ones, a minimum interval of 15 minutes is
    // switched on where Final Cut Pro X is installed unless one was chosen, and firstRun becomes false.
    static bool applyFirstRunSettings(QString *error = nullptr);
    // Takes over the projects of the predecessor's preference file that the store does not hold yet, with
    // their versions from its store; returns how many were taken over.
    static int convertPredecessorProjects();
};
