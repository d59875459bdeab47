#pragma once

// Turns an exception caught at an entry point into one log line, and lets entry points run their work
// so that nothing thrown escapes them.

#include <QString>

#include <exception>
#include <functional>
#include <stdexcept>

// Raised when a call to another process gets no answer in time.
class QFPortTimeoutException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class QFException final {
public:
    // Logs "Exception in <method>. <name> - <reason>." (also to standard output) and returns the text.
    static QString logException(const std::exception &exception, const char *method);
    static bool didTimeout(const std::exception &exception);
    // The exception's type name, as shown in the log.
    static QString name(const std::exception &exception);

    // Runs work; an exception is logged for the method and swallowed. Returns false when one was thrown.
    static bool guard(const char *method, const std::function<void()> &work);
};
