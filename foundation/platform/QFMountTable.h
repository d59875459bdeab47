#pragma once

// The mount points of the running system, as /proc/self/mountinfo lists them.

#include <QByteArray>
#include <QStringList>

class QFMountTable final {
public:
    // The table as the kernel gives it (empty when it cannot be read).
    static QByteArray read();
    // The mount points of a table in mountinfo form, with their escapes (\040 …) decoded.
    static QStringList mountPoints(const QByteArray &table);
};
