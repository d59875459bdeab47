#include "tests/cli/CommandTestSupport.h"

#include "tests/support/QFFullDisk.h"

#include "engine/QFProject.h"
#include "foundation/platform/QFPropertyList.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

class CommandPrefsTest : public CommandTest {
protected:
    static QVariantMap file()
    {
        return QFPropertyList::readDictionary(QFProject::preferenceFilePath()).value_or(QVariantMap());
    }
    static QJsonObject row(const QJsonArray &rows, const QString &key)
    {
        for (const QJsonValue &value : rows) {
            if (value.toObject().value(QStringLiteral("key")).toString() == key)
                return value.toObject();
        }
        return {};
    }
};

} // namespace

TEST_F(CommandPrefsTest, SetStoresTypedValuesAndGetReadsThemOrTheDefault)
{
    CommandResult r = runTombrel({ QStringLiteral("prefs"), QStringLiteral("get"), QStringLiteral("currentDayCount") });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, QStringLiteral("3\n"));

    r = runTombrel(
        { QStringLiteral("prefs"), QStringLiteral("set"), QStringLiteral("currentDayCount"), QStringLiteral("5") });
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, QStringLiteral("currentDayCount = 5\n"));
    ASSERT_EQ(runTombrel({ QStringLiteral("prefs"), QStringLiteral("set"), QStringLiteral("SUCheckAtStartup"),
                             QStringLiteral("no") })
                  .status,
        0);
    ASSERT_EQ(runTombrel({ QStringLiteral("prefs"), QStringLiteral("set"), QStringLiteral("storagePath"),
                             QStringLiteral("~/Versions") })
                  .status,
        0);
    ASSERT_EQ(runTombrel({ QStringLiteral("prefs"), QStringLiteral("set"), QStringLiteral("lastRestoreDate"),
                             QStringLiteral("2014-03-07T12:00:00Z") })
                  .status,
        0);
    ASSERT_EQ(runTombrel({ QStringLiteral("prefs"), QStringLiteral("set"), QStringLiteral("syncRemote"),
                             QStringLiteral("nas:Pro Tombrel") })
                  .status,
        0);
    const QVariantMap stored = file();
    EXPECT_EQ(stored.value(QStringLiteral("currentDayCount")).metaType().id(), QMetaType::LongLong);
    EXPECT_EQ(stored.value(QStringLiteral("currentDayCount")).toLongLong(), 5);
    EXPECT_EQ(stored.value(QStringLiteral("SUCheckAtStartup")), QVariant(false));
    EXPECT_EQ(stored.value(QStringLiteral("storagePath")), QVariant(home.file(QStringLiteral("Versions"))));
    EXPECT_EQ(stored.value(QStringLiteral("lastRestoreDate")).toDateTime(),
        QDateTime(QDate(2014, 3, 7), QTime(12, 0), Qt::UTC));
    EXPECT_EQ(stored.value(QStringLiteral("syncRemote")), QVariant(QStringLiteral("nas:Pro Tombrel")));

    EXPECT_EQ(runTombrel({ QStringLiteral("prefs"), QStringLiteral("get"), QStringLiteral("currentDayCount") }).out,
        QStringLiteral("5\n"));
    EXPECT_EQ(runTombrel({ QStringLiteral("prefs"), QStringLiteral("get"), QStringLiteral("SUCheckAtStartup") }).out,
        QStringLiteral("false\n"));
    EXPECT_EQ(runTombrel({ QStringLiteral("prefs"), QStringLiteral("get"), QStringLiteral("lastRestoreDate") }).out,
        QStringLiteral("2014-03-07T12:00:00Z\n"));
    // The engine follows at once.
    EXPECT_EQ(QFProject::storageRootFromPreferences(), home.file(QStringLiteral("Versions")));
    EXPECT_EQ(runTombrel({ QStringLiteral("paths") }).out.count(home.file(QStringLiteral("Versions"))), 1);

    r = runTombrel({ QStringLiteral("prefs"), QStringLiteral("get"), QStringLiteral("syncService") });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, QStringLiteral("tombrel: prefs get: syncService is not set\n"));
}

TEST_F(CommandPrefsTest, UnknownKeysAndValuesOfTheWrongTypeAreRefused)
{
    ASSERT_EQ(runTombrel({ QStringLiteral("prefs"), QStringLiteral("set"), QStringLiteral("oldBackupCount"),
                             QStringLiteral("2") })
                  .status,
        0);
    const QVariantMap before = file();
    struct Case {
        QStringList arguments;
        const char *error;
    };
    const QList<Case> cases = {
        { { QStringLiteral("set"), QStringLiteral("oldBackupCnt"), QStringLiteral("2") },
            "prefs set: unknown key 'oldBackupCnt'; see tombrel prefs list" },
        { { QStringLiteral("get"), QStringLiteral("nope") }, "prefs get: unknown key 'nope'; see tombrel prefs list" },
        { { QStringLiteral("set"), QStringLiteral("oldBackupCount"), QStringLiteral("two") },
            "prefs set: oldBackupCount takes a whole number, not 'two'" },
        { { QStringLiteral("set"), QStringLiteral("oldBackupCount"), QStringLiteral("0") },
            "prefs set: oldBackupCount takes a number of at least 1, not 0" },
        { { QStringLiteral("set"), QStringLiteral("manageBackups"), QStringLiteral("on") },
            "prefs set: manageBackups takes 0 (off) or 1 (on), not 'on'" },
        { { QStringLiteral("set"), QStringLiteral("firstRun"), QStringLiteral("2") },
            "prefs set: firstRun takes true or false, not '2'" },
        { { QStringLiteral("set"), QStringLiteral("watchFolders"), QStringLiteral("/x") },
            "prefs set: watchFolders is a list; change it with tombrel watch" },
        { { QStringLiteral("set"), QStringLiteral("syncService"), QStringLiteral("3") },
            "prefs set: syncService takes a number from 0 to 2, not 3" },
        { { QStringLiteral("set"), QStringLiteral("syncRemote"), QStringLiteral("/srv/versions") },
            "prefs set: syncRemote: a remote is written NAME:path, with the name of a remote of rclone config, not "
            "'/srv/versions'" },
        { { QStringLiteral("set"), QStringLiteral("oldBackupCount") },
            "prefs set: give a key and a value; see tombrel prefs --help" },
        { { QStringLiteral("remove") }, "prefs: unknown action 'remove'; see tombrel prefs --help" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.arguments.join(u' ').toStdString());
        const CommandResult r = runTombrel(QStringList { QStringLiteral("prefs") } + c.arguments);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, QStringLiteral("tombrel: %1\n").arg(QString::fromUtf8(c.error)));
    }
    EXPECT_EQ(file(), before);
}

TEST_F(CommandPrefsTest, ListShowsValuesDefaultsAndForeignKeys)
{
    QFPropertyList::write(QFProject::preferenceFilePath(),
        QVariantMap { { QStringLiteral("oldBackupType"), qint64(2) },
            { QStringLiteral("takeScreenshots"), QStringLiteral("yes") },
            { QStringLiteral("NSWindow Frame main"), QStringLiteral("0 0 800 600") } });
    CommandResult r = runTombrel({ QStringLiteral("prefs"), QStringLiteral("list") });
    ASSERT_EQ(r.status, 0) << r;
    const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.first().startsWith(QStringLiteral("KEY "))) << r;
    const auto line = [&](const QString &key) {
        for (const QString &l : lines) {
            if (l.startsWith(key + u' '))
                return l.simplified();
        }
        return QString();
    };
    EXPECT_EQ(line(QStringLiteral("oldBackupType")),
        QStringLiteral("oldBackupType integer 2 older versions grouped by 0 day, 1 week, 2 month"));
    EXPECT_TRUE(
        line(QStringLiteral("currentDayCount")).startsWith(QStringLiteral("currentDayCount integer 3 (default)")));
    EXPECT_TRUE(
        line(QStringLiteral("takeScreenshots"))
            .startsWith(QStringLiteral("takeScreenshots switch yes (not a switch: readers use their default)")));
    EXPECT_TRUE(line(QStringLiteral("syncService")).startsWith(QStringLiteral("syncService integer (not set)")));
    EXPECT_EQ(line(QStringLiteral("NSWindow Frame main")), QStringLiteral("NSWindow Frame main other 0 0 800 600"));

    r = runTombrel({ QStringLiteral("prefs"), QStringLiteral("list"), QStringLiteral("--json") });
    ASSERT_EQ(r.status, 0);
    const QJsonArray rows = QJsonDocument::fromJson(r.out.toUtf8()).array();
    EXPECT_EQ(row(rows, QStringLiteral("oldBackupType")).value(QStringLiteral("value")).toInteger(), 2);
    EXPECT_EQ(row(rows, QStringLiteral("oldBackupType")).value(QStringLiteral("default")).toInteger(), 0);
    EXPECT_EQ(
        row(rows, QStringLiteral("oldBackupType")).value(QStringLiteral("type")).toString(), QStringLiteral("integer"));
    EXPECT_FALSE(row(rows, QStringLiteral("syncService")).contains(QStringLiteral("value")));
    EXPECT_EQ(row(rows, QStringLiteral("SUCheckAtStartup")).value(QStringLiteral("default")), QJsonValue(true));
}

TEST_F(CommandPrefsTest, ADamagedPreferenceFileIsReportedAndKept)
{
    const QString path = home.write(QStringLiteral(".config/com.quenfield.ProTombrel.plist"), "<plist><dict>");
    CommandResult r = runTombrel(
        { QStringLiteral("prefs"), QStringLiteral("set"), QStringLiteral("manageBackups"), QStringLiteral("0") });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
        QStringLiteral("tombrel: prefs set: the preference file %1 cannot be read as a property list\n").arg(path));
    EXPECT_EQ(runTombrel({ QStringLiteral("prefs"), QStringLiteral("list") }).status, 1);
    r = runTombrel({ QStringLiteral("watch"), QStringLiteral("list") });
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.isEmpty()) << r;
    EXPECT_EQ(runTombrel({ QStringLiteral("watch"), QStringLiteral("add"), home.path(), QStringLiteral("--extensions"),
                             QStringLiteral("fcp") })
                  .status,
        1);
    // Retention does not guess the rules it cannot read.
    r = runTombrel({ QStringLiteral("prune") });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
        QStringLiteral("tombrel: prune: the preference file %1 cannot be read; no version was removed\n").arg(path));
    EXPECT_TRUE(r.out.isEmpty()) << r;
    EXPECT_EQ(contents(path), "<plist><dict>");
}

TEST_F(CommandPrefsTest, SetOnAFullDiskFailsAndKeepsEveryPreference)
{
    QDir().mkpath(home.file(QStringLiteral("Movies")));
    ASSERT_EQ(runTombrel({ QStringLiteral("watch"), QStringLiteral("add"), home.file(QStringLiteral("Movies")),
                             QStringLiteral("--extensions"), QStringLiteral("prproj") })
                  .status,
        0);
    ASSERT_EQ(runTombrel({ QStringLiteral("prefs"), QStringLiteral("set"), QStringLiteral("currentDayCount"),
                             QStringLiteral("5") })
                  .status,
        0);
    const QVariantMap before = file();
    CommandResult r;
    {
        const QFFullDisk full;
        r = runTombrel(
            { QStringLiteral("prefs"), QStringLiteral("set"), QStringLiteral("currentDayCount"), QStringLiteral("7") });
    }
    EXPECT_EQ(r.status, 1) << r;
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("tombrel: prefs set: cannot write "))) << r;
    EXPECT_EQ(file(), before);
    EXPECT_EQ(QDir(QFileInfo(QFProject::preferenceFilePath()).absolutePath())
                  .entryList(QStringList { QStringLiteral("*.part*") }, QDir::Files | QDir::Hidden),
        QStringList())
        << "no temporary file stays";
}

TEST_F(CommandPrefsTest, SettingsOfProgramsWritingAtOnceAreAllKept)
{
    for (const char *folder : { "A", "B", "C" })
        QDir().mkpath(home.file(QString::fromLatin1(folder)));
    const std::vector<int> statuses = runTombrelProcessesTogether({
        { QStringLiteral("prefs"), QStringLiteral("set"), QStringLiteral("currentDayCount"), QStringLiteral("4") },
        { QStringLiteral("prefs"), QStringLiteral("set"), QStringLiteral("oldBackupLimit"), QStringLiteral("12") },
        { QStringLiteral("prefs"), QStringLiteral("set"), QStringLiteral("xmlLimit"), QStringLiteral("2") },
        { QStringLiteral("watch"), QStringLiteral("add"), home.file(QStringLiteral("A")),
            QStringLiteral("--extensions"), QStringLiteral("prproj") },
        { QStringLiteral("watch"), QStringLiteral("add"), home.file(QStringLiteral("B")),
            QStringLiteral("--extensions"), QStringLiteral("prproj") },
        { QStringLiteral("watch"), QStringLiteral("add"), home.file(QStringLiteral("C")),
            QStringLiteral("--extensions"), QStringLiteral("prproj") },
    });
    EXPECT_EQ(statuses, std::vector<int>(6, 0));
    const QVariantMap prefs = file();
    EXPECT_EQ(prefs.value(QStringLiteral("currentDayCount")).toLongLong(), 4);
    EXPECT_EQ(prefs.value(QStringLiteral("oldBackupLimit")).toLongLong(), 12);
    EXPECT_EQ(prefs.value(QStringLiteral("xmlLimit")).toLongLong(), 2);
    EXPECT_EQ(prefs.value(QStringLiteral("watchFolders")).toList().size(), 3);
}
