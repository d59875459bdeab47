#pragma once

// The Dropbox link's refresh token in the desktop's Secret Service, through QtKeychain. Each keychain job
// runs on a thread of its own, so no caller's events run while the Secret Service takes its time (it may
// be waiting for the user to unlock it); it is given up after the time-out. The asynchronous forms are for
// the window's thread: the result reaches a callback on the context's thread afterwards (never within the
// call), and not at all once the context is gone. The blocking form is for programs without windows and for
// worker threads.

#include <QString>

#include <functional>

class QObject;

class QFDropboxKeychain final {
public:
    enum class Operation { Read, Write, Remove };
    struct Result {
        bool ok = false;
        QString token; // what was read
        QString error; // why not, when not ok
    };
    using Done = std::function<void(const Result &result)>;

    static constexpr int kTimeoutMs = 15000;

    static void read(QObject *context, Done done);
    static void write(const QString &token, QObject *context, Done done);
    static void remove(QObject *context, Done done);

    static Result readBlocking(int timeoutMs = kTimeoutMs);

    // Seam: answers in place of the Secret Service, on the operation's own thread, where it may block until
    // it has its answer. Empty: the Secret Service.
    using Backend = std::function<Result(Operation operation, const QString &token)>;
    static void setBackend(Backend backend);
};
