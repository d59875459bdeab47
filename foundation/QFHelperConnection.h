#pragma once

// The helper's service on the session bus as the other programs reach it: whether a helper runs, and
// its three requests, each in two forms. The asynchronous form is for a thread that shows windows: the
// request is sent, nothing waits, and the answer reaches a callback on the context object's thread (not at
// all once the context is gone). The blocking form is for programs without windows and for worker threads:
// it waits until the helper's main thread has answered (updateConfiguration until its whole set-up has
// run) or the time-out has passed, without running the caller's event loop meanwhile. Without a helper
// either form fails at once, changes nothing and logs nothing, since the helper reads the preference file
// itself when it next starts. Also the announcement of new versions that any program posts.

#include <QString>

#include <functional>
#include <optional>

class QObject;

class QFHelperConnection final {
public:
    // com.quenfield.ProTombrelHelper, object "/", interface com.quenfield.ProTombrelHelper.
    static QString serviceName();
    static QString objectPath();
    static QString interfaceName();

    // The process id of the helper that owns the service, or nothing when none does.
    static std::optional<qint64> runningHelper();

    // The helper's answer: true when it handled the request; otherwise why not ("the helper is not
    // running" when no helper owns the service).
    using Answer = std::function<void(bool handled, const QString &error)>;

    // Asynchronous forms: call them on the context's thread; done may be empty (the request is then only
    // sent). done is always called later, never from within the call.
    static void updateConfiguration(QObject *context, Answer done = {}, int timeoutMs = 120000);
    static void startBackupScan(QObject *context, Answer done = {}, int timeoutMs = 25000);
    static void filesBackedUp(QObject *context, Answer done = {}, int timeoutMs = 25000);

    // Blocking forms, never on the main thread of a program with windows. Set-up can walk large folders,
    // so its default wait is long.
    static bool updateConfiguration(QString *error = nullptr, int timeoutMs = 120000);
    static bool startBackupScan(QString *error = nullptr, int timeoutMs = 25000);
    static bool filesBackedUp(QString *error = nullptr, int timeoutMs = 25000);

    // Posts the signal QFProTombrelFilesBackedUp (interface com.quenfield.ProTombrel, object
    // /com/quenfield/ProTombrel) on which the application reloads its lists. False without a bus.
    static bool postFilesBackedUp();
};
