#pragma once

// What the views and the report do with change lines: their icon names, the filtering preferences that
// hide kinds of lines, the version search, and the report of a project's versions as HTML. Pure
// functions; safe from any thread.

#include "engine/QFVersionEntry.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

class QFChangeLines final {
public:
    // The ten filtering preferences, in the order of the preferences pane.
    static QStringList filterKeys();
    // The lines left after the filtering preferences (1 hides a kind of line). With none set the lines
    // come back unchanged; so they do, with a log line, when the preferences cannot be applied.
    static QStringList filterArray(const QStringList &lines, const QVariantMap &preferences);

    // The image name of a line's icon ("bin.png" … "sequence.png"), empty for none. Tested in a fixed
    // order, so that "bin" wins over "subclip" and "multiclip" over "clip".
    static QString iconFilenameForString(const QString &line);
    // Lines about the project itself show the project file's icon instead.
    static bool isAboutProject(const QString &line);
    // "XML copy 00003 not generated": the line that stands for a binary version's missing XML copy.
    static bool isXMLPlaceholder(const QString &line);

    // The versions that match the text in a change line (those lines only) or in their note (all their
    // lines, and the note); the note is kept only when it matches.
    static QList<QFVersionEntry> searchVersions(const QList<QFVersionEntry> &entries, const QString &text);

    // The change lines from one version to another (given in either order; the older is the base), as
    // the version list tells them between neighbours. Versions of the editor's binary format are compared
    // through their XML copies. Nothing when a version cannot be read.
    static std::optional<QStringList> compareVersions(
        const QString &versionFile, const QString &otherVersionFile, QString *error = nullptr);

    // The printed report: the project's name, then every version, newest first, with its date, note and
    // change lines, each line with its icon from resourceFolder when that file exists. Every text is
    // escaped. complete: a whole document, else the body only.
    static QString reportHTML(
        const QString &projectName, const QList<QFVersionEntry> &entries, bool complete, const QString &resourceFolder);
    // The report laid out on pages as a PDF file (needs a GUI application object). False, with the reason,
    // when the file cannot be written.
    static bool writeReportPDF(
        const QString &html, const QString &title, const QString &path, QString *error = nullptr);
    // Where the application keeps its change-line images as files ("bin.png" …).
    static QString imageFolder();
    // "NAME Changelist" from the last project's path, or "Untitled Changelist".
    static QString reportJobTitle(const QString &lastProject);
};
