// Finding and starting the maker's updater: the switch in the global file, which copy is used, and what
// is run, with stand-in updater bundles that record their arguments.

#include "app/QFSoftwareUpdate.h"

#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFPropertyList.h"
#include "tests/support/QFFullDisk.h"
#include "tests/support/QFTempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kLog = QStringLiteral("software_update_tests");

class SoftwareUpdateTest : public TempHomeTest {
protected:
    void SetUp() override { QFLog::createNewLog(kLog); }

    // An updater bundle of that version whose program writes its arguments into a file of the home, and the
    // path it ran from into that file's name + ".program".
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
        const QString program = home.write(
            folder + QStringLiteral("/Quenfield Software Update.app/Contents/MacOS/Quenfield Software Update"),
            QStringLiteral("#!/bin/sh\necho \"$0\" > '%1.program'\necho \"$@\" > '%1'\n")
                .arg(home.file(record))
                .toUtf8());
        QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner);
        return bundle;
    }
    QString recorded(const QString &record)
    {
        QFile file(home.file(record));
        if (!QTest::qWaitFor([&] { return file.exists() && file.size() > 0; }, 10000)
            || !file.open(QIODevice::ReadOnly))
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

TEST_F(SoftwareUpdateTest, ANewerCarriedUpdaterRunsFromAPrivateCopyOfItsOwn)
{
    const QString installed = updater(QStringLiteral("opt/Quenfield"), 3, QStringLiteral("installed.txt"));
    const QString carried = updater(QStringLiteral("App.app/Contents/Resources"), 5, QStringLiteral("carried.txt"));
    // Another user got to the shared temporary folder first, under the name an updater copy would take.
    const QString planted = QFLocalPaths::tempDirectory() + QStringLiteral("/Quenfield Software Update.app");
    updater(QStringLiteral("planted"), 9, QStringLiteral("planted.txt"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(planted).absolutePath()));
    QDir(planted).removeRecursively();
    ASSERT_TRUE(QDir().rename(home.file(QStringLiteral("planted/Quenfield Software Update.app")), planted));

    const QString chosen = QFSoftwareUpdate::updaterPath(installed, carried);
    ASSERT_FALSE(chosen.isEmpty());
    EXPECT_NE(chosen, planted);
    const QString folder = QFileInfo(chosen).absolutePath();
    EXPECT_EQ(QFileInfo(folder).absolutePath(), QFLocalPaths::tempDirectory());
    struct stat st;
    ASSERT_EQ(::lstat(QFile::encodeName(folder).constData(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "only this user may enter it";
    EXPECT_EQ(st.st_uid, ::geteuid());
    EXPECT_EQ(QFBundle::infoDictionaryOfBundle(chosen).value(QStringLiteral("CFBundleVersion")).toString(),
        QStringLiteral("5"));
    ASSERT_TRUE(QFSoftwareUpdate::automaticallyCheckForUpdates(chosen));
    EXPECT_EQ(recorded(QStringLiteral("carried.txt")),
        (QStringLiteral("-checkpath ") + QFBundle::mainBundlePath()).trimmed());
    // What ran is the private copy, not the planted bundle nor the carried one where it lies.
    EXPECT_EQ(recorded(QStringLiteral("carried.txt.program")),
        chosen + QStringLiteral("/Contents/MacOS/Quenfield Software Update"));
    EXPECT_EQ(QFBundle::infoDictionaryOfBundle(planted).value(QStringLiteral("CFBundleVersion")).toString(),
        QStringLiteral("9"))
        << "somebody else's bundle is not ours to remove";

    // The next run makes a fresh folder and takes the earlier copy away.
    const QString again = QFSoftwareUpdate::updaterPath(installed, carried);
    EXPECT_NE(QFileInfo(again).absolutePath(), folder);
    EXPECT_FALSE(QFileInfo::exists(folder));
    QDir(QFileInfo(again).absolutePath()).removeRecursively();

    // The same version or an older carried one: the installed updater, wherever it is.
    EXPECT_EQ(QFSoftwareUpdate::updaterPath(
                  installed, updater(QStringLiteral("Old.app/Contents/Resources"), 3, QStringLiteral("old.txt"))),
        installed);
    EXPECT_EQ(QFSoftwareUpdate::updaterPath(
                  home.file(QStringLiteral("nowhere.app")), home.file(QStringLiteral("neither.app"))),
        home.file(QStringLiteral("nowhere.app")));
    ASSERT_TRUE(QFSoftwareUpdate::launchSoftwareUpdate(installed));
    EXPECT_EQ(recorded(QStringLiteral("installed.txt")), QString());
}

TEST_F(SoftwareUpdateTest, UpdaterVersionsWithDotsAreComparedNumberByNumberAndAZeroSwitchesTheCheckOff)
{
    EXPECT_GT(QFSoftwareUpdate::compareBundleVersions(QStringLiteral("1.0.10"), QStringLiteral("1.0.9")), 0);
    EXPECT_LT(QFSoftwareUpdate::compareBundleVersions(QStringLiteral("1.0.0"), QStringLiteral("1.0.1")), 0);
    EXPECT_EQ(QFSoftwareUpdate::compareBundleVersions(QStringLiteral("2"), QStringLiteral("2.0.0")), 0);
    EXPECT_GT(QFSoftwareUpdate::compareBundleVersions(QStringLiteral("10"), QStringLiteral("9.9.9")), 0);
    EXPECT_LT(QFSoftwareUpdate::compareBundleVersions(QString(), QStringLiteral("0.1")), 0);

    const QString installed = updater(QStringLiteral("opt/Quenfield"), 0, QStringLiteral("installed.txt"));
    const QString carried = updater(QStringLiteral("App.app/Contents/Resources"), 0, QStringLiteral("carried.txt"));
    const auto setVersion = [](const QString &bundle, const char *version) {
        ASSERT_TRUE(QFPropertyList::updateDictionary(
            bundle + QStringLiteral("/Contents/Info.plist"), [version](QVariantMap &info) {
                info.insert(QStringLiteral("CFBundleVersion"), QString::fromLatin1(version));
                return QFPropertyList::Change::Write;
            }));
    };
    setVersion(installed, "1.0.9");
    setVersion(carried, "1.0.10");
    const QString chosen = QFSoftwareUpdate::updaterPath(installed, carried);
    EXPECT_NE(chosen, installed) << "the carried updater is the newer one";
    EXPECT_EQ(QFBundle::infoDictionaryOfBundle(chosen).value(QStringLiteral("CFBundleVersion")).toString(),
        QStringLiteral("1.0.10"));
    QDir(QFileInfo(chosen).absolutePath()).removeRecursively();
    setVersion(installed, "1.1");
    EXPECT_EQ(QFSoftwareUpdate::updaterPath(installed, carried), installed);

    const QString global = QFLocalPaths::prefsDirectory(true) + QStringLiteral("/com.quenfield.global.plist");
    ASSERT_TRUE(QFPropertyList::write(global, QVariantMap { { QStringLiteral("SUCheckAtStartup"), 0 } }));
    EXPECT_FALSE(QFSoftwareUpdate::checksAtStartup()) << "switches are integers where 1 means on";
    ASSERT_TRUE(QFPropertyList::write(global, QVariantMap { { QStringLiteral("SUCheckAtStartup"), 1 } }));
    EXPECT_TRUE(QFSoftwareUpdate::checksAtStartup());
}

TEST_F(SoftwareUpdateTest, ACarriedUpdaterThatCannotBeCopiedWholeIsNotRun)
{
    const QString installed = updater(QStringLiteral("opt/Quenfield"), 3, QStringLiteral("installed.txt"));
    const QString carried = updater(QStringLiteral("App.app/Contents/Resources"), 5, QStringLiteral("carried.txt"));
    home.write(QStringLiteral("App.app/Contents/Resources/Quenfield Software Update.app/Contents/Resources/data"),
        QByteArray(2 << 20, 'x'));
    const QStringList before
        = QDir(QFLocalPaths::tempDirectory()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    QString chosen;
    {
        QFFullDisk full(1 << 20);
        chosen = QFSoftwareUpdate::updaterPath(installed, carried);
    }
    EXPECT_TRUE(chosen.isEmpty()) << chosen.toStdString();
    EXPECT_EQ(
        QDir(QFLocalPaths::tempDirectory()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before)
        << "nothing half copied is left behind";
    EXPECT_FALSE(QFSoftwareUpdate::automaticallyCheckForUpdates(chosen));
    EXPECT_TRUE(
        home.logMessages(kLog).contains(QStringLiteral("Unable to launch Software Update - path doesn't exist")));
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
