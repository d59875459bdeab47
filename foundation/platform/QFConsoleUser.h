#pragma once

// Who is logged in at the machine's console: the user of the active logind session on seat0.
// Nobody (empty) when no session is active, when only the greeter is, or when logind cannot be asked.

#include <QString>

#include <optional>

struct QFConsoleUser {
    QString name;
    QString home;
};

std::optional<QFConsoleUser> qfLogindConsoleUser();
// The home folder of a named user from the password database, or a null string.
QString qfHomeOfUser(const QString &name);
