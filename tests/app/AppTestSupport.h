#pragma once

// Version stores for the application's tests: projects with versions, XML copies, screenshots and notes.

#include <QColor>
#include <QString>
#include <QStringList>

namespace apptest {

// A capture of a version: a picture of the given colour with a caption, 1024 wide.
void writeScreenshot(const QString &path, const QColor &colour, const QString &caption, int width = 1024);

// Three projects: "Wedding Cut" (a Final Cut Pro project whose versions have XML copies, change lines,
// screenshots and a note), "Podcast Mix" (an audio session with two versions and screenshots) and
// "Trailer" (no versions yet). Returns the Wedding Cut project folder.
QString buildSampleStore(const QString &home);

// The fixture of an editor's XML export.
QByteArray xmlFixture(const QString &name);

// The message box shown next (waiting up to five seconds): its title and text; the button of that
// title is pressed. Empty when none came.
QStringList answerSheet(const QString &button = QStringLiteral("OK"));

// The Fusion style with a light or a dark palette of the desktop's colours, for renders.
void applyLook(bool dark);

} // namespace apptest
