// Finding and starting the maker's updater: the switch in the global file, which copy is used, and what
// is run, with stand-in updater bundles that record their arguments.

#include "app/QFSoftwareUpdate.h"

#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFPropertyList.h"
#include "tests/support/QFTempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <gtest/gtest.h>

namespace {

const QString kLog = QStringLiteral("software_update_tests");

class SoftwareUpdateTest : public TempHomeTest {
protected:
    void SetUp() override { QFLog::createNewLog(kLog); }

    // An updater bundle of that version whose program writes its arguments into a file of the home.
    QString updater(const QString &folder, int version, const QString &record)
    {
        const QString bundle = home.file(folder + QStringLiteral("/Quenfield Software Update.app"));
        home.write(folder + QStringLiteral("/Quenfield Software Update.app/Contents/Info.plist"),
            QStringLiteral("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                           "<key>CFBundleIdentifier</key><string>com.quenfield.SoftwareUpdate</string>"
                           "<key>CFBundleExecutable</key><string>Quenfield Software Update</string>"
                           "<key>CFBundleVersion</key><string>%1</string></dict></plist>")
                .arg(version)
                .toUtf8());
        const QString program = home.write(folder + QStringLiteral("/Quenfield Software Update.app/Contents/MacOS/Quenfield Software Update"),
            QStringLiteral("#!/bin/sh\necho \"$@\" > '%1'\n").arg(home.file(record)).toUtf8());
        QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner);
        return bundle;
    }
    QString recorded(const QString &record)
    {
        QFile file(home.file(record));
        if (!QTest::qWaitFor([&] { return file.exists() && file.size() > 0; }, 10000) || !file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).trimmed();
    }
};

TEST_F(SoftwareUpdateTest, OnlyAnExplicitNoTurnsTheCheckAtStartupOff)
{
    EXPECT_TRUE(QFSoftwareUpdate::checksAtStartup());
    const QString global = QFLocalPaths::prefsDirectory(true) + QStringLiteral("/com.quenfield.global.plist");
    ASSERT_TRUE(QFPropertyList::write(global, QVariantMap { { QStringLiteral("growlDisabled"), false } }));
    EXPECT_TRUE(QFSoftwareUpdate::checksAtStartup()) << "a file without the key leaves the check on";
    ASSERT_TRUE(QFPropertyList::write(global, QVariantMap { { QStringLiteral("SUCheckAtStartup"), true } }));
    EXPECT_TRUE(QFSoftwareUpdate::checksAtStartup());
    ASSERT_TRUE(QFPropertyList::write(global, QVariantMap { { QStringLiteral("SUCheckAtStartup"), false } }));
    EXPECT_FALSE(QFSoftwareUpdate::checksAtStartup());
}

TEST_F(SoftwareUpdateTest, ANewerCarriedUpdaterReplacesTheTemporaryCopyAndRunsFromThere)
{
    const QString installed = updater(QStringLiteral("opt/Quenfield"), 3, QStringLiteral("installed.txt"));
    const QString carried = updater(QStringLiteral("App.app/Contents/Resources"), 5, QStringLiteral("carried.txt"));
    // An older copy left in the temporary folder by an earlier run.
    const QString temporary = QFLocalPaths::tempDirectory() + QStringLiteral("/Quenfield Software Update.app");
    QFile::remove(temporary + QStringLiteral("/Contents/Info.plist"));
    updater(QStringLiteral("older"), 1, QStringLiteral("older.txt"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(temporary).absolutePath()));
    QDir(temporary).removeRecursively();
    ASSERT_TRUE(QDir().rename(home.file(QStringLiteral("older/Quenfield Software Update.app")), temporary));

    const QString chosen = QFSoftwareUpdate::updaterPath(installed, carried);
    EXPECT_EQ(chosen, temporary);
    EXPECT_EQ(QFBundle::infoDictionaryOfBundle(chosen).value(QStringLiteral("CFBundleVersion")).toString(), QStringLiteral("5"));
    ASSERT_TRUE(QFSoftwareUpdate::automaticallyCheckForUpdates(chosen));
    EXPECT_EQ(recorded(QStringLiteral("carried.txt")), (QStringLiteral("-checkpath ") + QFBundle::mainBundlePath()).trimmed());
    QDir(temporary).removeRecursively();

    // The same version or an older carried one: the installed updater, wherever it is.
    EXPECT_EQ(QFSoftwareUpdate::updaterPath(installed, updater(QStringLiteral("Old.app/Contents/Resources"), 3, QStringLiteral("old.txt"))), installed);
    EXPECT_EQ(QFSoftwareUpdate::updaterPath(home.file(QStringLiteral("nowhere.app")), home.file(QStringLiteral("neither.app"))),
        home.file(QStringLiteral("nowhere.app")));
    EXPECT_FALSE(QFileInfo::exists(temporary));
    ASSERT_TRUE(QFSoftwareUpdate::launchSoftwareUpdate(installed));
    EXPECT_EQ(recorded(QStringLiteral("installed.txt")), QString());
}

TEST_F(SoftwareUpdateTest, AnUpdaterThatCannotRunIsLoggedWithItsReason)
{
    EXPECT_FALSE(QFSoftwareUpdate::automaticallyCheckForUpdates(QString()));
    EXPECT_FALSE(QFSoftwareUpdate::automaticallyCheckForUpdates(home.file(QStringLiteral("missing.app"))));
    const QString broken = updater(QStringLiteral("broken"), 2, QStringLiteral("broken.txt"));
    QFile::remove(broken + QStringLiteral("/Contents/MacOS/Quenfield Software Update"));
    EXPECT_FALSE(QFSoftwareUpdate::launchSoftwareUpdate(broken));
    const QStringList log = home.logMessages(kLog);
    EXPECT_TRUE(log.contains(QStringLiteral("Unable to launch Software Update - path doesn't exist")));
    EXPECT_TRUE(log.contains(QStringLiteral("Unable to launch Software Update - updater bundle not found.")));
    EXPECT_TRUE(log.contains(QStringLiteral("Unable to launch Software Update - executable path doesn't exist")));
}

} // namespace
