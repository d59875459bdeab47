#pragma once

// Progress and results of the update installer for the updater that started it, over the session bus: the
// service "com.quenfield.QFProClientCallback", else "com.quenfield.QFZORVClientCallback", object "/",
// interface "com.quenfield.QFClientCallback". Each message is sent only when the remote object has that
// method, and 15 ms pass before the next. Nobody listening is not an error. Any thread.

#include <QString>

class QFTaskNotification final {
public:
    static void postIncrementProgress();
    static void postTaskFinished();
    // postErrorForApp(error, app) where the remote object has it, else postError(error).
    static void postTaskError(const QString &error);
    // postErrorStringUserInfo(text, {"appName": app}) where the remote object has it, else postErrorString(text).
    static void postTaskErrorString(const QString &text);
    static void postDisconnect();

    static QString interfaceName() { return QStringLiteral("com.quenfield.QFClientCallback"); }
};
