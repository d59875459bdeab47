#pragma once

// Points the programs' Dropbox sync at a local fake: the addresses, an app key and a short time-out in the
// preference file, and (when linked) an account whose refresh token the fake knows, kept in the private file
// the programs use where no Secret Service answers.

#include "engine/QFPreferenceKeys.h"
#include "foundation/QFLocalPaths.h"
#include "tests/support/QFFakeDropbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace synctest {

inline QString linkRecordPath()
{
    return QFLocalPaths::appSupportDirectory(true) + QStringLiteral("/Quenfield/Pro Tombrel/Dropbox.json");
}

inline void pointAtFake(QFFakeDropbox &fake, int syncService = 1, int timeoutSeconds = 5)
{
    ASSERT_TRUE(QFPreferenceKeys::update({ { QStringLiteral("syncService"), syncService },
        { QStringLiteral("dropboxAPIURL"), fake.baseUrl() }, { QStringLiteral("dropboxContentURL"), fake.baseUrl() },
        { QStringLiteral("dropboxAuthorizeURL"), fake.baseUrl() + QStringLiteral("/oauth2/authorize") },
        { QStringLiteral("dropboxAppKey"), QStringLiteral("k7testappkey0001") },
        { QStringLiteral("dropboxTimeout"), timeoutSeconds } }));
}

// Links an account the fake knows, as a finished link leaves it.
inline void linkAccount(QFFakeDropbox &fake)
{
    const QString path = linkRecordPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(QJsonObject { { QStringLiteral("account_id"), QStringLiteral("dbid:test") },
                                 { QStringLiteral("store"), QStringLiteral("file") },
                                 { QStringLiteral("refresh_token"), fake.addRefreshToken() } })
                   .toJson());
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace synctest
