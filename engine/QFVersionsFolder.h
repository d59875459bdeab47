#pragma once

// The rules of a project's Versions folder, kept once for every program: which names are versions (names
// beginning with "." are copies under way or the file browser's own), a version's number, the XML copy
// beside a ".fcp" version file, and their order, oldest first. Reads the folder at each call; any thread.

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// One version of a Versions folder.
struct QFVersionsFolderEntry {
    // The version file ("Cut.00007.fcp"), or an XML copy whose ".fcp" version file is gone.
    QString name;
    // The XML copy beside a ".fcp" version file ("Cut.00007.xml"); empty when it has none.
    QString xmlCopy;
    // Read from the name; none for a name that carries no number ("Cut.fcp").
    std::optional<qint64> number;

    // The name the version list and the change-list cache know the version by: its XML copy when it has one.
    QString listedName() const { return xmlCopy.isEmpty() ? name : xmlCopy; }
    // A ".fcp" version file that has no XML copy beside it.
    bool isFinalCutVersionWithoutXML() const;
    bool operator==(const QFVersionsFolderEntry &) const = default;
};

class QFVersionsFolder final {
public:
    // The versions, oldest first: by number, versions of one number by name, names without a number last
    // (by name). A relinked project's versions stay in the order they were made, whatever their names.
    static QList<QFVersionsFolderEntry> versions(const QString &versionsFolder);
    // Every name of the folder that is not hidden, in the order of versions(): a version file, then its
    // XML copy.
    static QStringList entryNames(const QString &versionsFolder);
    // The number of a version file from its name: "Cut.00007.fcp" and, for a project file without an
    // extension, "Cut.00007" give 7; "Cut.fcp" gives none.
    static std::optional<qint64> versionNumber(const QString &name);
    // The order of versions(), for two names of one folder.
    static bool lessThan(const QString &a, const QString &b);
    // The number the next version gets: one more than the last version's, 1 for a folder without versions
    // or whose last version carries no number (the copy then takes the first free number).
    static qint64 nextVersionNumber(const QString &versionsFolder);
    // Whether the name is the XML copy of a ".fcp" version file beside it.
    static bool isXMLCopy(const QString &versionsFolder, const QString &name);
};
