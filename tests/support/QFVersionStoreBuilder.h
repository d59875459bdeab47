#pragma once

// Builds projects and their versions in the version store of a temporary home from a short description
// with explicit modification times, and lists what is there afterwards for comparison in one assertion.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <initializer_list>

struct VersionSpec {
    QString name; // "Cut.00003.fcp", "Cut.00003.xml", "Screenshots/Cut.00003.jpg"
    QDateTime modified;
    QByteArray content = "version";
};

class QFVersionStoreBuilder {
public:
    // Registers a project file (created with the content when missing) and returns its project folder.
    static QString addProject(
        const QString &projectPath, const QString &projectID, const QByteArray &content = "project");
    // Writes versions into the project folder (names relative to Versions/, or to the project folder when
    // they contain a "/").
    static void addVersions(const QString &projectFolder, const QList<VersionSpec> &versions);
    // The names in a project folder's Versions folder, sorted.
    static QStringList versionNames(const QString &projectFolder);
    static void setModified(const QString &path, const QDateTime &when);
    // Writes the main application's preference file.
    static void setPreferences(const QVariantMap &values);
};
