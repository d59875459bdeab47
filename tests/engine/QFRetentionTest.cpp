#include "engine/QFTombrelBackup.h"

#include "foundation/QFClock.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFPropertyList.h"
#include "tests/support/QFTempHome.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <gtest/gtest.h>

#include <limits>

namespace {

using Builder = QFVersionStoreBuilder;

class QFRetentionTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        folder = Builder::addProject(home.file(QStringLiteral("Projects/Cut.prproj")), QStringLiteral("P1"));
    }

    // n versions, the newest now, each `spacing` seconds older than the next.
    void addSeries(int n, qint64 spacing, const QDateTime &newest = QDateTime::currentDateTime(), int firstNumber = 1)
    {
        QList<VersionSpec> list;
        for (int i = 0; i < n; ++i)
            list << VersionSpec { QStringLiteral("Cut.%1.prproj").arg(firstNumber + i, 5, 10, QLatin1Char('0')),
                newest.addSecs(-spacing * (n - 1 - i)) };
        Builder::addVersions(folder, list);
    }
    QStringList names() const { return Builder::versionNames(folder); }
    static QString name(int number) { return QStringLiteral("Cut.%1.prproj").arg(number, 5, 10, QLatin1Char('0')); }
    QStringList trashed() const
    {
        return QDir(home.file(QStringLiteral(".local/share/Trash/files"))).entryList(QDir::Files, QDir::Name);
    }

    QFTombrelBackup engine;
    QString folder;
};

} // namespace

TEST(QFRetentionRuleTest, ThinnedPeriodsKeepTheDescribedIndexes)
{
    EXPECT_EQ(QFTombrelBackup::indexesToKeep(10, 1), (std::set<qint64> { 0 }));
    EXPECT_EQ(QFTombrelBackup::indexesToKeep(10, 2), (std::set<qint64> { 0, 9 }));
    EXPECT_EQ(QFTombrelBackup::indexesToKeep(10, 3), (std::set<qint64> { 0, 5, 9 }));
    EXPECT_EQ(QFTombrelBackup::indexesToKeep(10, 4), (std::set<qint64> { 0, 5, 7, 9 }));
    EXPECT_EQ(QFTombrelBackup::indexesToKeep(10, 5), (std::set<qint64> { 0, 2, 5, 7, 9 }));
    for (qint64 n = 2; n < 40; ++n) {
        for (qint64 k = 1; k < n; ++k) {
            const auto keep = QFTombrelBackup::indexesToKeep(n, k);
            ASSERT_FALSE(keep.empty());
            EXPECT_LE(qint64(keep.size()), k) << n << " " << k;
            EXPECT_GE(*keep.begin(), 0);
            EXPECT_LT(*keep.rbegin(), n);
        }
    }
}

TEST_F(QFRetentionTest, SmallProjectsAreLeftAlone)
{
    // 25 versions, one a day: all older than a day, each its own day, but the project is small.
    addSeries(25, 86400 + 7);
    engine.manageBackups();
    EXPECT_EQ(names().size(), 25);

    // A 26th entry brings the rules in: versions older than a day stay one per day, so all stay.
    Builder::addVersions(folder, { VersionSpec { name(26), QDateTime::currentDateTime().addSecs(60) } });
    engine.manageBackups();
    EXPECT_EQ(names().size(), 26);
}

TEST_F(QFRetentionTest, OlderVersionsKeepTheOldestOfEachDayAndVeryOldOnesGo)
{
    // Four versions on each of 10 past days, plus 5 current ones, plus 3 older than 90 days.
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime noon(now.date(), QTime(12, 0));
    QList<VersionSpec> list;
    int number = 1;
    for (int d = 100; d >= 98; --d)
        list << VersionSpec { name(number++), noon.addDays(-d) };
    QStringList expected = {};
    for (int d = 12; d >= 3; --d) {
        for (int h = 0; h < 4; ++h) {
            if (h == 0)
                expected << name(number);
            list << VersionSpec { name(number++), noon.addDays(-d).addSecs(h * 600) };
        }
    }
    for (int i = 0; i < 5; ++i) {
        expected << name(number);
        list << VersionSpec { name(number++), now.addSecs(-3600 * (5 - i)) };
    }
    Builder::addVersions(folder, list);
    Builder::setPreferences({ { QStringLiteral("currentDayCount"), qint64(1) } });
    engine.manageBackups();
    EXPECT_EQ(names(), expected);
    EXPECT_EQ(trashed().size(), 3 + 10 * 3) << "removed versions go to the Trash by default";
}

TEST_F(QFRetentionTest, CurrentAndOlderCaps)
{
    Builder::setPreferences({ { QStringLiteral("currentBackupLimitSet"), qint64(1) },
        { QStringLiteral("currentBackupLimit"), qint64(30) } });
    addSeries(40, 60); // 40 versions within the last hour
    engine.manageBackups();
    QStringList expected;
    for (int i = 11; i <= 40; ++i)
        expected << name(i);
    EXPECT_EQ(names(), expected);

    // 40 older days, one version each: the 10 oldest days go, so 30 older versions remain.
    QDir(folder + QStringLiteral("/Versions")).removeRecursively();
    Builder::setPreferences({});
    const QDateTime newest = QDateTime::currentDateTime();
    QList<VersionSpec> list;
    for (int d = 0; d < 40; ++d)
        list << VersionSpec { name(d + 1), newest.addDays(-(45 - d)) };
    list << VersionSpec { name(41), newest };
    Builder::addVersions(folder, list);
    engine.manageBackups();
    expected.clear();
    for (int i = 11; i <= 41; ++i)
        expected << name(i);
    EXPECT_EQ(names(), expected);
}

TEST_F(QFRetentionTest, WeekKeysAreComparedAsText)
{
    // Week 10 sorts before week 9, so the older cap takes week 10's version first.
    Builder::setPreferences({ { QStringLiteral("backupManagementMinLimitSet"), qint64(0) },
        { QStringLiteral("deleteBackupSet"), qint64(0) }, { QStringLiteral("oldBackupType"), qint64(1) },
        { QStringLiteral("oldBackupLimit"), qint64(1) } });
    Builder::addVersions(folder,
        {
            VersionSpec { name(1), QDateTime(QDate(2014, 2, 25), QTime(12, 0)) }, // week 9
            VersionSpec { name(2), QDateTime(QDate(2014, 3, 4), QTime(12, 0)) }, // week 10
            VersionSpec { name(3), QDateTime::currentDateTime() },
        });
    engine.manageBackups();
    EXPECT_EQ(names(), (QStringList { name(1), name(3) }));
}

TEST_F(QFRetentionTest, RemovingAVersionTakesItsCompanionsAndKeepsTheCacheTelling)
{
    Builder::addVersions(folder,
        {
            VersionSpec { QStringLiteral("Cut.00001.fcp"), {} },
            VersionSpec { QStringLiteral("Cut.00001.xml"), {} },
            VersionSpec { QStringLiteral("Cut.00002.fcp"), {} },
            VersionSpec { QStringLiteral("Cut.00002.xml"), {} },
            VersionSpec { QStringLiteral("Cut.00003.fcp"), {} },
            VersionSpec { QStringLiteral("Cut.00003.xml"), {} },
            VersionSpec { QStringLiteral("Screenshots/Cut.00001.jpg"), {} },
            VersionSpec { QStringLiteral("Screenshots/Cut.00002.jpg"), {} },
        });
    const auto entry = [](const QStringList &lines) {
        QVariantList list;
        for (const QString &line : lines)
            list << line;
        return QVariantMap { { QStringLiteral("type"), QStringLiteral("xml") },
            { QStringLiteral("changelist"), list } };
    };
    const QString cache = QFTombrelBackup::cachesFolder() + QStringLiteral("/P1.localized.cache.plist");
    QDir().mkpath(QFTombrelBackup::cachesFolder());
    ASSERT_TRUE(QFPropertyList::write(cache,
        QVariantMap {
            { QStringLiteral("version"), qint64(1) },
            { QStringLiteral("Cut.00001.xml"), entry({ QStringLiteral("(Base version)") }) },
            { QStringLiteral("Cut.00002.xml"), entry({ QStringLiteral("New bin B added") }) },
            { QStringLiteral("Cut.00003.xml"), entry({ QStringLiteral("Clip C moved") }) },
        }));

    // The middle version: its lines move on to the next one.
    engine.removeBackup(folder + QStringLiteral("/Versions/Cut.00002.xml"), 0, false);
    EXPECT_EQ(names(),
        (QStringList { QStringLiteral("Cut.00001.fcp"), QStringLiteral("Cut.00001.xml"),
            QStringLiteral("Cut.00003.fcp"), QStringLiteral("Cut.00003.xml") }));
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/Screenshots/Cut.00002.jpg")));
    auto read = QFPropertyList::readDictionary(cache);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->value(QStringLiteral("Cut.00003.xml")).toMap().value(QStringLiteral("changelist")).toStringList(),
        (QStringList { QStringLiteral("Clip C moved"), QStringLiteral("New bin B added") }));
    EXPECT_EQ(read->value(QStringLiteral("version")).toLongLong(), 1);
    EXPECT_FALSE(read->contains(QStringLiteral("Cut.00002.xml")));

    // The first version, deleted for good: the next one becomes the base.
    engine.removeBackup(folder + QStringLiteral("/Versions/Cut.00001.xml"), 1, false);
    EXPECT_EQ(names(), (QStringList { QStringLiteral("Cut.00003.fcp"), QStringLiteral("Cut.00003.xml") }));
    read = QFPropertyList::readDictionary(cache);
    EXPECT_EQ(read->value(QStringLiteral("Cut.00003.xml")).toMap().value(QStringLiteral("changelist")).toStringList(),
        QStringList { QStringLiteral("(Base version)") });
    EXPECT_EQ(trashed(),
        (QStringList {
            QStringLiteral("Cut.00002.fcp"), QStringLiteral("Cut.00002.jpg"), QStringLiteral("Cut.00002.xml") }))
        << "removal type 1 does not use the Trash";

    // The last one: the Versions folder goes with it.
    engine.removeBackup(folder + QStringLiteral("/Versions/Cut.00003.fcp"), 1, false);
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/Versions")));
    engine.removeBackup(folder + QStringLiteral("/Versions/Cut.00009.fcp"), 1, false); // nothing there: nothing happens
}

TEST_F(QFRetentionTest, ARemovedVersionsLinesMoveOnToTheVersionMadeAfterIt)
{
    // Relinked from Zed to Alpha after the second version: Alpha's first version follows Zed's last.
    Builder::addVersions(folder,
        { VersionSpec { QStringLiteral("Zed.00001.xml"), {} }, VersionSpec { QStringLiteral("Zed.00002.xml"), {} },
            VersionSpec { QStringLiteral("Alpha.00003.xml"), {} } });
    const auto entry = [](const QString &line) {
        return QVariantMap { { QStringLiteral("type"), QStringLiteral("xml") },
            { QStringLiteral("changelist"), QVariantList { line } } };
    };
    const QString cache = QFTombrelBackup::cachesFolder() + QStringLiteral("/P1.localized.cache.plist");
    QDir().mkpath(QFTombrelBackup::cachesFolder());
    ASSERT_TRUE(QFPropertyList::write(cache,
        QVariantMap { { QStringLiteral("Zed.00001.xml"), entry(QStringLiteral("(Base version)")) },
            { QStringLiteral("Zed.00002.xml"), entry(QStringLiteral("New bin B added")) },
            { QStringLiteral("Alpha.00003.xml"), entry(QStringLiteral("Clip C moved")) } }));

    engine.removeBackup(folder + QStringLiteral("/Versions/Zed.00002.xml"), 1, false);
    const auto read = QFPropertyList::readDictionary(cache);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->value(QStringLiteral("Alpha.00003.xml")).toMap().value(QStringLiteral("changelist")).toStringList(),
        (QStringList { QStringLiteral("Clip C moved"), QStringLiteral("New bin B added") }));
    EXPECT_EQ(read->value(QStringLiteral("Zed.00001.xml")).toMap().value(QStringLiteral("changelist")).toStringList(),
        QStringList { QStringLiteral("(Base version)") });

    // The first one: the version made after it becomes the base, whatever its name.
    engine.removeBackup(folder + QStringLiteral("/Versions/Zed.00001.xml"), 1, false);
    EXPECT_EQ(QFPropertyList::readDictionary(cache)
                  ->value(QStringLiteral("Alpha.00003.xml"))
                  .toMap()
                  .value(QStringLiteral("changelist"))
                  .toStringList(),
        QStringList { QStringLiteral("(Base version)") });
}

TEST_F(QFRetentionTest, RetentionCanBeTurnedOffAndUnreadablePreferencesStopIt)
{
    addSeries(30, 86400 * 4); // 30 versions four days apart: some older than 90 days
    Builder::setPreferences({ { QStringLiteral("manageBackups"), qint64(0) } });
    EXPECT_TRUE(engine.manageBackups());
    EXPECT_EQ(names().size(), 30);

    // The user's rules are unknown: defaults in their place would remove what those rules keep.
    QFLog::createNewLog(QStringLiteral("RetentionTest"));
    for (const QByteArray &damaged : { QByteArray("<plist><dict><key>manageBackups</key>"), QByteArray() }) {
        SCOPED_TRACE(damaged.isEmpty() ? "emptied" : "truncated");
        QFile prefs(QFProject::preferenceFilePath());
        ASSERT_TRUE(prefs.open(QIODevice::WriteOnly | QIODevice::Truncate));
        prefs.write(damaged);
        prefs.close();
        EXPECT_FALSE(engine.manageBackups());
        EXPECT_EQ(names().size(), 30);
        EXPECT_TRUE(home.logMessages(QStringLiteral("RetentionTest"))
                        .contains(QStringLiteral("Backup management skipped: the preference file %1 cannot be read.")
                                      .arg(QFProject::preferenceFilePath())));
    }

    // Without a preference file the defaults are the rules.
    QFile::remove(QFProject::preferenceFilePath());
    EXPECT_TRUE(engine.manageBackups());
    EXPECT_EQ(names().size(), 23) << "versions older than 90 days are removed";
}

TEST_F(QFRetentionTest, DayCountsOfAnySizeNeverOverflow)
{
    addSeries(30, 86400); // one a day, the newest now: all current, none old enough to delete
    for (const qint64 days : { qint64(200000000000000), std::numeric_limits<qint64>::max() }) {
        SCOPED_TRACE(days);
        Builder::setPreferences({ { QStringLiteral("currentDayCount"), days },
            { QStringLiteral("deleteBackupCount"), days }, { QStringLiteral("removalType"), qint64(1) },
            { QStringLiteral("backupManagementMinLimitSet"), qint64(0) } });
        engine.manageBackups();
        EXPECT_EQ(names().size(), 30);
    }
}

TEST_F(QFRetentionTest, WithoutADayCountSettingVersionsOfTheLastThreeDaysAreCurrent)
{
    // Two versions of one day two days ago: with one current day the older of them would go.
    const QDateTime now = QDateTime::currentDateTime();
    const QDate day = now.date().addDays(-2);
    Builder::addVersions(folder,
        { VersionSpec { name(1), QDateTime(day, QTime(10, 0)) }, VersionSpec { name(2), QDateTime(day, QTime(11, 0)) },
            VersionSpec { name(3), now } });
    Builder::setPreferences({ { QStringLiteral("backupManagementMinLimitSet"), qint64(0) } });
    engine.manageBackups();
    EXPECT_EQ(names(), (QStringList { name(1), name(2), name(3) }));
}
TEST_F(QFRetentionTest, OutsideTheApplicationCloudWorkIsHandedToIt)
{
    // A helper bundle inside an application whose executable records how it was started.
    const QString macos = home.file(QStringLiteral("Apps/Pro Tombrel.app/Contents/MacOS"));
    const QString helper = macos + QStringLiteral("/ProTombrelHelper.app");
    home.write(QStringLiteral("Apps/Pro Tombrel.app/Contents/MacOS/ProTombrelHelper.app/Contents/Info.plist"),
        QFPropertyList::toXml(QVariantMap {
            { QStringLiteral("CFBundleIdentifier"), QStringLiteral("com.quenfield.ProTombrelHelper") } }));
    const QString record = home.file(QStringLiteral("requests.txt"));
    const QString app = home.write(QStringLiteral("Apps/Pro Tombrel.app/Contents/MacOS/Pro Tombrel"),
        "#!/bin/sh\nfor a; do printf '%s\\n' \"$a\"; done >> '" + QFile::encodeName(record) + "'\n");
    QFile::setPermissions(app, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFBundle::setMainBundlePath(helper);
    const auto recorded = [&] {
        QFile file(record);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
                                              : QStringList();
    };

    Builder::addVersions(
        folder, { VersionSpec { name(1), {} }, VersionSpec { QStringLiteral("Cut, final.00002.prproj"), {} } });
    engine.uploadFileToCloud(folder + QStringLiteral("/Versions/") + name(1));
    engine.removeBackup(folder + QStringLiteral("/Versions/Cut, final.00002.prproj"), 1, true);
    EXPECT_TRUE(recorded().isEmpty()) << "nothing is sent while syncing is off";

    Builder::setPreferences({ { QStringLiteral("syncService"), qint64(1) } });
    engine.uploadFileToCloud(folder + QStringLiteral("/Versions/") + name(1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorded().size() == 2; }, 10000));
    EXPECT_EQ(recorded(), (QStringList { QStringLiteral("-upload"), folder + QStringLiteral("/Versions/") + name(1) }));

    Builder::addVersions(folder, { VersionSpec { QStringLiteral("Cut, final.00002.prproj"), {} } });
    engine.removeBackup(folder + QStringLiteral("/Versions/Cut, final.00002.prproj"), 1, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorded().size() == 4; }, 10000));
    EXPECT_EQ(recorded().at(2), QStringLiteral("-removeRemote"));
    EXPECT_EQ(recorded().at(3), QString(folder + QStringLiteral("/Versions/Cut%2C final.00002.prproj")));
    QFBundle::setMainBundlePath(QString());
}

TEST_F(QFRetentionTest, AgesAreMeasuredFromTheSystemsClock)
{
    const QDateTime now = QDateTime::fromString(QStringLiteral("2014-06-01T12:00:00"), Qt::ISODate);
    QFClock::setSource([&] { return now.toMSecsSinceEpoch(); });
    Builder::addVersions(folder,
        { VersionSpec { name(1), now.addDays(-137) }, VersionSpec { name(2), now.addDays(-31) },
            VersionSpec { name(3), now.addSecs(-3600) } });
    Builder::setPreferences({ { QStringLiteral("backupManagementMinLimitSet"), qint64(0) },
        { QStringLiteral("currentDayCount"), qint64(1) } });
    engine.manageBackups();
    QFClock::setSource({});
    EXPECT_EQ(names(), (QStringList { name(2), name(3) })) << "only the version older than 90 days goes";
}

TEST_F(QFRetentionTest, AnnotatedVersionsStayWhenTheUserAsksForIt)
{
    // 30 versions a day apart: the oldest beyond 90 days would go, and so would all but one a day.
    const QDateTime now = QDateTime::currentDateTime();
    QList<VersionSpec> list;
    for (int i = 1; i <= 30; ++i)
        list << VersionSpec { name(i), now.addDays(-(30 - i) * 4).addSecs(-(i % 3) * 60) };
    Builder::addVersions(folder, list);
    // Notes on a version that would be aged out, on one past the current days, and an empty note.
    ASSERT_TRUE(QFPropertyList::write(folder + QStringLiteral("/Annotations.plist"),
        QVariantMap { { name(1), QStringLiteral("First cut for the client") },
            { name(20), QStringLiteral("Picture lock") }, { name(2), QString() } }));
    Builder::setPreferences(
        { { QStringLiteral("keepAnnotatedVersions"), qint64(1) }, { QStringLiteral("oldBackupLimit"), qint64(5) } });
    engine.manageBackups();
    const QStringList kept = names();
    EXPECT_TRUE(kept.contains(name(1))) << qPrintable(kept.join(u' '));
    EXPECT_TRUE(kept.contains(name(20))) << qPrintable(kept.join(u' '));
    EXPECT_FALSE(kept.contains(name(2))) << "an empty note keeps nothing";

    // Off (the default): the same rules remove them (the project is small now: that rule is off too).
    Builder::setPreferences(
        { { QStringLiteral("keepAnnotatedVersions"), qint64(0) }, { QStringLiteral("oldBackupLimit"), qint64(5) },
            { QStringLiteral("backupManagementMinLimitSet"), qint64(0) } });
    engine.manageBackups();
    EXPECT_FALSE(names().contains(name(1)));
    EXPECT_FALSE(names().contains(name(20)));
}
