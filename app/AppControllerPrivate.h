#pragma once

// Helpers that the files of AppController share; nothing outside the controller uses them.

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

namespace AppControllerPrivate {

// The application's preference file, else the key's registered default.
QVariant preference(const QString &key);
bool setPreferences(const QVariantMap &values);

// The version files a population lists, oldest first: names beginning with "." are left out, and so is a
// binary version whose XML copy lies beside it (the copy stands for it).
struct ListedVersions {
    QStringList names;
    bool fcpRemains = false;
};

ListedVersions listVersions(const QString &versionsFolder);

} // namespace AppControllerPrivate
