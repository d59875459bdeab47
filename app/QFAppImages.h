#pragma once

// The application's images: its own artwork for the names the system uses ("page.png", "fcp_xml.icns",
// the "fcp" file type, the third-party editor's project icon, the application icon), and file icons from
// the desktop's icon theme by MIME type with that artwork as the fallback. Main thread only.

#include "engine/QFVersionEntry.h"

#include <QIcon>
#include <QImage>
#include <QString>

class QFAppImages final {
public:
    static QIcon applicationIcon();
    // "page.png", "fcp_xml.icns", "fcp" (the file type) and "premiere"; a null icon for other names.
    static QIcon named(const QString &name);
    // The placeholder for a version without a screenshot, fitted into size.
    static QImage pageImage(const QSize &size);
    static QIcon iconForFile(const QString &path);
    static QIcon iconForVersion(const QFVersionEntry &entry);
    // A change line's icon: the project file's for lines about the project, else its kind's; null for none.
    static QIcon iconForChangeLine(const QString &line);
};
