#pragma once

// The record of one watched project file: where it lives, its display name, which of its sequences is
// backed up, and its project folder in the version store (storage root/<projectID>.localized). Plain
// value type; safe to copy and to use from any thread. The storage root is resolved again at each use,
// so a changed preference takes effect at once.

#include <QList>
#include <QString>
#include <QVariantMap>

#include <optional>

// One sequence of a project as the editor lists it ("name", "uuid" in property lists).
struct QFProjectSequence {
    QString name;
    QString uuid;

    QVariantMap toDictionary() const;
    // Nothing when the value is not a dictionary holding the two strings.
    static std::optional<QFProjectSequence> fromDictionary(const QVariant &value);
    bool operator==(const QFProjectSequence &) const = default;
};
using QFProjectSequences = QList<QFProjectSequence>;

// One project of the version store as its Settings.plist describes it ("path", "projectID", "sequences",
// "selectedUUID" as a dictionary). Absent values are an empty optional or a null string.
struct QFProjectListEntry {
    QString path;
    QString projectID;
    std::optional<QFProjectSequences> sequences;
    QString selectedUUID;

    QVariantMap toDictionary() const;
    bool operator==(const QFProjectListEntry &) const = default;
};

class QFProject final {
public:
    enum Type : qint64 { FinalCutProProject = 0, OtherFile = 2 };

    QFProject() = default;

    // A record for the file, with its project folder prepared and its Settings.plist written when the
    // folder holds none yet. Without an identifier a new one is generated. A Final Cut Pro project keeps
    // the sequences given and starts with no selected sequence; other files keep neither.
    static QFProject projectWithPath(
        const QString &path, const std::optional<QFProjectSequences> &sequences, const QString &projectID = QString());
    // The same record without touching the disk (for readers of the version store).
    static QFProject recordWithPath(
        const QString &path, const std::optional<QFProjectSequences> &sequences, const QString &projectID);

    QString friendlyName() const { return m_friendlyName; }
    void setFriendlyName(const QString &friendlyName) { m_friendlyName = friendlyName; }
    // May hold "~"; expandedProjectPath() is the path to use.
    QString projectPath() const { return m_projectPath; }
    void setProjectPath(const QString &projectPath) { m_projectPath = projectPath; }
    QString expandedProjectPath() const;
    std::optional<QFProjectSequences> sequences() const { return m_sequences; }
    void setSequences(const std::optional<QFProjectSequences> &sequences) { m_sequences = sequences; }
    // Null or empty: the entire project is backed up.
    QString selectedUUID() const { return m_selectedUUID; }
    void setSelectedUUID(const QString &selectedUUID) { m_selectedUUID = selectedUUID; }
    qint64 type() const { return m_type; }
    void setType(qint64 type) { m_type = type; }
    QString projectID() const { return m_projectID; }
    void setProjectID(const QString &projectID) { m_projectID = projectID; }

    // The project folder; a null string for a record without identifier.
    QString destinationPath() const;
    void updateFriendlyName();
    // Creates the project folder and its .localized/en.strings when missing. Failures are not reported.
    void updateLocalization() const;
    // Writes Settings.plist atomically under its lock; false (and logged) when it could not be written.
    bool saveSettings() const;
    // Case-insensitive order of the display names: negative, zero or positive.
    int nameCompare(const QFProject &other) const;
    static bool nameLessThan(const QFProject &a, const QFProject &b) { return a.nameCompare(b) < 0; }

    // The name a project file is shown by: its file name, or for the CurrentVersion file inside a project or
    // event bundle, the bundle's name.
    static QString displayNameForPath(const QString &path);
    // Why a file cannot be a project, or a null string when it can. A name beginning with "." would give
    // versions with hidden names, which no listing of the Versions folder shows.
    static QString refusalForProjectFile(const QString &path);

    // "fcp" in any letter case, or the type code FCPF in the file's FinderInfo attribute.
    static bool isFinalCutProProject(const QString &path);

    // The folder that holds every project folder: the program's own storagePath setting, else the one of
    // the main application's preference file, else the default under Application Support.
    static QString storageRoot();
    // The same without the program's own setting.
    static QString storageRootFromPreferences();
    static QString defaultStorageRoot();
    static QString preferenceFilePath();

    // The projects of the version store: every entry of the storage root (the one project folders are
    // made in, storageRoot()) with a readable Settings.plist that names a project file, in name order.
    // Others are left alone. Logged: "Found %@..." for each settings file, "Linked project: %@." for each
    // project.
    static QList<QFProjectListEntry> projectsInStorageRoot(bool logged = false);
    // The entry of one project folder, or nothing when its Settings.plist is missing, unreadable or
    // names no project file.
    static std::optional<QFProjectListEntry> readProjectFolder(const QString &folder);

private:
    QString m_friendlyName;
    QString m_projectPath;
    std::optional<QFProjectSequences> m_sequences;
    QString m_selectedUUID;
    qint64 m_type = OtherFile;
    QString m_projectID;
};
