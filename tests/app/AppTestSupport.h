#pragma once

// Version stores for the application's tests: projects with versions, XML copies, screenshots and notes.

#include <QColor>
#include <QString>

namespace apptest {

// A capture of a version: a picture of the given colour with a caption, 1024 wide.
void writeScreenshot(const QString &path, const QColor &colour, const QString &caption, int width = 1024);

// Three projects: "Wedding Cut" (a Final Cut Pro project whose versions have XML copies, change lines,
// screenshots and a note), "Podcast Mix" (an audio session with two versions and screenshots) and
// "Trailer" (no versions yet). Returns the Wedding Cut project folder.
QString buildSampleStore(const QString &home);

// The fixture of an editor's XML export.
QByteArray xmlFixture(const QString &name);

// The Fusion style with a light or a dark palette of the desktop's colours, for renders.
void applyLook(bool dark);

} // namespace apptest
