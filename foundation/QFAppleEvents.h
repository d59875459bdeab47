#pragma once

// Requests to the video editor through the editor bridge on the session bus (docs/editor-bridge.md):
// XML exports of a project or one of its sequences, the table of contents, the list of open projects,
// saving and closing. Stateless and safe from any thread; every request blocks its caller until the
// editor answers or the reply time-out expires, never longer. "Nil" results are empty optionals or
// null strings, with the cause in the log.

#include <QByteArray>
#include <QDBusMessage>
#include <QString>
#include <QVariantMap>
#include <QStringList>

#include <optional>

class QFAppleEvents final {
public:
    // The editor's bundle identifier, which is also its name on the bus.
    static QString editorBundleIdentifier();

    static bool isFCPRunning();
    // The paths of the projects the editor has open; nothing when it is not running.
    static std::optional<QStringList> listOfOpenFCPProjects();

    static std::optional<QByteArray> getProjectXMLData(
        const QString &projectPath, bool launchFCP = false, bool closeProject = false);
    static QString getProjectXML(const QString &projectPath, bool launchFCP = false, bool closeProject = false);

    // itemID: the UUID of a sequence of the project.
    static std::optional<QByteArray> getItemXMLData(
        const QString &itemID, const QString &projectPath, bool launchFCP = false, bool closeProject = false);
    static QString getItemXML(
        const QString &itemID, const QString &projectPath, bool launchFCP = false, bool closeProject = false);

    static std::optional<QByteArray> getTOCData(const QString &projectPath, bool launchFCP = false);
    static QString getTOC(const QString &projectPath, bool launchFCP = false);

    // True when the editor took the request.
    static bool saveProject(const QString &projectPath);
    static bool closeProject(const QString &projectPath, bool saveChanges);

    // Whether Final Cut Pro X ("com.apple.FinalCut") or its trial ("com.apple.FinalCutTrial") is installed.
    static bool isFinalCutInstalled();
    // From the editor's installed bundle; "7.0" and 7 when none is installed.
    static QString finalCutProVersionString();
    static int finalCutProMajorVersion();
    static int majorVersionFromString(const QString &version);

    // The data without one trailing zero byte.
    static QByteArray formatData(const QByteArray &data);

    // The editor's answers, read apart from the bus so that damaged or hostile ones can be tried directly.
    // The reply's parameter dictionary (nothing for an error reply; an empty one when it holds none).
    static std::optional<QVariantMap> replyParameters(const QDBusMessage &reply);
    // The XML of an export answer (xmlD as bytes or text), formatted; nothing, logged, when it has none.
    static std::optional<QByteArray> xmlFromReply(const QVariantMap &reply);
    // The paths of the open projects in a list answer, up to the first entry that names none.
    static QStringList openProjectsFromReply(const QVariantMap &reply);
    // A new identifier: upper-case hexadecimal with hyphens.
    static QString generateUUID();

    // How long a request waits for the editor's answer, in milliseconds. Zero or less restores the default.
    static int replyTimeout();
    static void setReplyTimeout(int milliseconds);
    static constexpr int kDefaultReplyTimeout = 60000;
};
