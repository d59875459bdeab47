#include "engine/QFPreferenceSnapshot.h"

#include "engine/QFPreferenceKeys.h"
#include "engine/QFProject.h"
#include "tests/support/QFTempHome.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <gtest/gtest.h>

namespace {

using QFPreferenceSnapshotTest = TempHomeTest;

} // namespace

TEST_F(QFPreferenceSnapshotTest, AnAbsentKeyReadsAsTheKeyTablesDefault)
{
    const QFPreferenceSnapshot none = QFPreferenceSnapshot::read();
    EXPECT_FALSE(none.fileExists());
    for (const QFPreferenceKey &key : QFPreferenceKeys::table()) {
        SCOPED_TRACE(key.name.toStdString());
        EXPECT_EQ(none.valueOrDefault(key.name), key.registeredDefault);
        EXPECT_EQ(QFPreferenceKeys::registeredDefault(key.name), key.registeredDefault);
    }
    EXPECT_EQ(none.intValue(QStringLiteral("backupMinInterval")), 15);
    EXPECT_EQ(none.intValue(QStringLiteral("currentDayCount")), 3);
    EXPECT_EQ(none.intValue(QStringLiteral("syncDeleteRemoteFiles")), 1);
    EXPECT_EQ(none.intValue(QStringLiteral("syncService")), 0) << "no default: 0";
    EXPECT_TRUE(none.boolValue(QStringLiteral("firstRun")));
    EXPECT_FALSE(none.boolValue(QStringLiteral("filterMarkers"))) << "no default: false";
    EXPECT_EQ(
        none.stringValue(QStringLiteral("importFileTypes")), QStringLiteral("fcp,fcpproject,fcpevent,prproj,aep"));
    EXPECT_EQ(none.stringValue(QStringLiteral("storagePath")), QFProject::defaultStorageRoot());
    EXPECT_TRUE(none.stringValue(QStringLiteral("lastProjectID")).isNull());
}

TEST_F(QFPreferenceSnapshotTest, StoredValuesOfTheWrongKindReadAsTheDefault)
{
    QFVersionStoreBuilder::setPreferences(
        { { "backupMinInterval", 5 }, { "xmlLimit", "2" }, { "removeDuplicates", true },
            { "oldBackupLimit", QVariantList { 1 } }, { "firstRun", "NO" }, { "SUCheckAtStartup", 0 },
            { "takeScreenshots", "often" }, { "importFileTypes", 7 }, { "lastProjectID", "WEDDING" } });
    const QFPreferenceSnapshot prefs = QFPreferenceSnapshot::read();
    EXPECT_EQ(prefs.intValue(QStringLiteral("backupMinInterval")), 5);
    EXPECT_EQ(prefs.intValue(QStringLiteral("xmlLimit")), 2);
    EXPECT_EQ(prefs.intValue(QStringLiteral("removeDuplicates")), 1);
    EXPECT_EQ(prefs.intValue(QStringLiteral("oldBackupLimit")), 30);
    EXPECT_EQ(prefs.intValue(QStringLiteral("takeScreenshots")), 1);
    EXPECT_FALSE(prefs.boolValue(QStringLiteral("firstRun")));
    EXPECT_FALSE(prefs.boolValue(QStringLiteral("SUCheckAtStartup")));
    EXPECT_EQ(
        prefs.stringValue(QStringLiteral("importFileTypes")), QStringLiteral("fcp,fcpproject,fcpevent,prproj,aep"));
    EXPECT_EQ(prefs.stringValue(QStringLiteral("lastProjectID")), QStringLiteral("WEDDING"));
    EXPECT_EQ(prefs.valueOrDefault(QStringLiteral("lastProjectID")), QVariant(QStringLiteral("WEDDING")));
}
