#pragma once

// Which program this process is. Each program declares its role once at start-up, before it makes an
// engine; the engine asks the role, never the bundle identifier, which the command-line tool shares with
// the application. A process that declared nothing (a test) is Unknown and acts as a program without
// the application's windows and cloud account.

enum class QFProgramRole { Unknown, Application, Helper, CommandLineTool, InstallerTool };

class QFProgram {
public:
    static void declareRole(QFProgramRole role);
    static QFProgramRole role();
    // The application itself: it shows sheets and holds the cloud account.
    static bool isApplication() { return role() == QFProgramRole::Application; }
};
