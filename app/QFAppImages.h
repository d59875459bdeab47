#pragma once

// The application's images: its own artwork for the names the system uses ("page.png", "fcp_xml.icns",
// the "fcp" file type, the third-party editor's project icon, the application icon), and file icons from
// the desktop's icon theme by MIME type with that artwork as the fallback. Main thread only.

#include "engine/QFVersionEntry.h"

#include <QIcon>
#include <QImage>
#include <QPalette>
#include <QStringList>
#include <QString>

class QFAppImages final {
public:
    static QIcon applicationIcon();
    // Where the desktop names no icon theme (a bare X server, the offscreen platform), its default one.
    static void useIconTheme();
    // The first of the theme's icons by these names: a coloured icon when the theme has one, else its
    // one-colour ("-symbolic") form drawn in the colour of text on the palette given.
    static QIcon themeIcon(const QStringList &names, const QPalette &palette);
    // "page.png", "fcp_xml.icns", "fcp" (the file type), "premiere" and "sequence"; a null icon for other names.
    static QIcon named(const QString &name);
    // The placeholder for a version without a screenshot, fitted into size.
    static QImage pageImage(const QSize &size);
    static QIcon iconForFile(const QString &path);
    static QIcon iconForVersion(const QFVersionEntry &entry);
    // A change line's icon: the project file's for lines about the project, else its kind's; null for none.
    static QIcon iconForChangeLine(const QString &line);
};
