#pragma once

// Finds the project a command names: its identifier, the path of its project file, or a display name
// that names exactly one project.

#include "engine/QFProject.h"

#include <optional>

std::optional<QFProjectListEntry> findProject(const QString &projectName, QString *error);
// The Versions folder of a project of the version store.
QString versionsFolderOf(const QFProjectListEntry &project);
