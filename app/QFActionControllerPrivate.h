#pragma once

// Helpers that the files of QFActionController share; nothing outside the controller uses them.

#include <QVariant>

namespace QFActionControllerPrivate {

// The application's preferences, else the key's registered default; as an integer, else 0.
QVariant preference(const char *key);
qint64 integerPreference(const char *key);

} // namespace QFActionControllerPrivate
