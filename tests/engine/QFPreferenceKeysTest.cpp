#include "engine/QFPreferenceKeys.h"

#include "engine/QFProject.h"
#include "engine/QFWatchFolderSettings.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/platform/QFConsoleUser.h"
#include "foundation/platform/QFPropertyList.h"
#include "tests/support/QFTempHome.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <gtest/gtest.h>

namespace {

class QFPreferenceKeysTest : public TempHomeTest {
protected:
    static QFPreferenceKey key(const char *name) { return *QFPreferenceKeys::find(QString::fromLatin1(name)); }
    static std::optional<QVariant> parse(const char *name, const QString &text, QString *error = nullptr)
    {
        return QFPreferenceKeys::parse(key(name), text, error);
    }
};

} // namespace

TEST_F(QFPreferenceKeysTest, TheTableNamesEachKeyOnceWithDefaultsOfItsType)
{
    QSet<QString> names;
    for (const QFPreferenceKey &k : QFPreferenceKeys::table()) {
        SCOPED_TRACE(k.name.toStdString());
        EXPECT_FALSE(names.contains(k.name));
        names.insert(k.name);
        if (k.registeredDefault.isValid()) {
            EXPECT_TRUE(QFPreferenceKeys::hasType(k, k.registeredDefault));
        }
    }
    for (const char *name : { "storagePath", "currentDayCount", "oldBackupCount", "watchFolders", "watchDriveFolders",
             "lastRestoredProject", "lastRestoreDate", "syncService", "SUCheckAtStartup", "filterMulticlips" })
        EXPECT_TRUE(names.contains(QString::fromLatin1(name))) << name;
    EXPECT_FALSE(QFPreferenceKeys::find(QStringLiteral("currentdaycount")));
    // The application shows 3 where the engine falls back to 1.
    EXPECT_EQ(key("currentDayCount").registeredDefault.toLongLong(), 3);
    EXPECT_EQ(key("storagePath").registeredDefault.toString(), QFProject::defaultStorageRoot());
}

TEST_F(QFPreferenceKeysTest, ValuesAreCheckedAgainstTheKeysTypeAndRange)
{
    EXPECT_EQ(parse("currentDayCount", QStringLiteral(" 7 "))->toLongLong(), 7);
    EXPECT_EQ(parse("currentDayCount", QStringLiteral("7"))->metaType().id(), QMetaType::LongLong);
    EXPECT_EQ(parse("manageBackups", QStringLiteral("0"))->toLongLong(), 0);
    EXPECT_EQ(parse("SUCheckAtStartup", QStringLiteral("no")), QVariant(false));
    EXPECT_EQ(parse("firstRun", QStringLiteral("TRUE")), QVariant(true));
    EXPECT_EQ(parse("importFileTypes", QStringLiteral("fcp,prproj")), QVariant(QStringLiteral("fcp,prproj")));
    EXPECT_EQ(parse("storagePath", QStringLiteral("~/Versions/")), QVariant(home.file(QStringLiteral("Versions"))));
    EXPECT_EQ(parse("lastRestoreDate", QStringLiteral("2014-03-07T12:00:00Z"))->toDateTime(),
        QDateTime(QDate(2014, 3, 7), QTime(12, 0), Qt::UTC));

    struct Case {
        const char *key;
        const char *text;
        const char *error;
    };
    const Case refused[] = {
        { "currentDayCount", "three", "currentDayCount takes a whole number, not 'three'" },
        { "currentDayCount", "1.5", "currentDayCount takes a whole number, not '1.5'" },
        { "currentDayCount", "-1", "currentDayCount takes a number from 0 to 36500, not -1" },
        { "currentDayCount", "200000000000000", "currentDayCount takes a number from 0 to 36500, not 200000000000000" },
        { "deleteBackupCount", "36501", "deleteBackupCount takes a number from 0 to 36500, not 36501" },
        { "oldBackupCount", "0", "oldBackupCount takes a number of at least 1, not 0" },
        { "currentBackupLimit", "0", "currentBackupLimit takes a number of at least 1, not 0" },
        { "oldBackupType", "3", "oldBackupType takes a number from 0 to 2, not 3" },
        { "manageBackups", "2", "manageBackups takes 0 (off) or 1 (on), not 2" },
        { "manageBackups", "yes", "manageBackups takes 0 (off) or 1 (on), not 'yes'" },
        { "firstRun", "maybe", "firstRun takes true or false, not 'maybe'" },
        { "storagePath", "  ", "storagePath takes a path, not an empty text" },
        { "lastRestoreDate", "yesterday",
            "lastRestoreDate takes a date in ISO 8601 (2014-03-07T12:00:00Z), not 'yesterday'" },
        { "watchFolders", "/x", "watchFolders is a list; change it with tombrel watch" },
    };
    for (const Case &c : refused) {
        SCOPED_TRACE(std::string(c.key) + " " + c.text);
        QString error;
        EXPECT_FALSE(parse(c.key, QString::fromUtf8(c.text), &error));
        EXPECT_EQ(error, QString::fromUtf8(c.error));
    }
}

TEST_F(QFPreferenceKeysTest, UpdatesKeepTheOtherKeysAndNeverEmptyADamagedFile)
{
    const QString path = QFProject::preferenceFilePath();
    ASSERT_TRUE(QFPreferenceKeys::update({ { QStringLiteral("manageBackups"), qint64(0) } }));
    ASSERT_TRUE(QFPreferenceKeys::update({ { QStringLiteral("oldBackupCount"), qint64(3) } }));
    EXPECT_EQ(QFPropertyList::readDictionary(path),
        (QVariantMap {
            { QStringLiteral("manageBackups"), qint64(0) }, { QStringLiteral("oldBackupCount"), qint64(3) } }));
    ASSERT_TRUE(QFPreferenceKeys::update({}, { QStringLiteral("manageBackups") }));
    EXPECT_EQ(QFPropertyList::readDictionary(path), (QVariantMap { { QStringLiteral("oldBackupCount"), qint64(3) } }));

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("<plist><dict><key>watchFolders");
    file.close();
    QString error;
    EXPECT_FALSE(QFPreferenceKeys::readFile(&error));
    EXPECT_FALSE(QFPreferenceKeys::update({ { QStringLiteral("manageBackups"), qint64(1) } }, {}, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("cannot be read"))) << qPrintable(error);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "<plist><dict><key>watchFolders");
}

TEST_F(QFPreferenceKeysTest, ValuesReadAsOneLine)
{
    EXPECT_EQ(QFPreferenceKeys::format(qint64(4)), QStringLiteral("4"));
    EXPECT_EQ(QFPreferenceKeys::format(true), QStringLiteral("true"));
    EXPECT_EQ(QFPreferenceKeys::format(QDateTime(QDate(2014, 3, 7), QTime(12, 0), Qt::UTC)),
        QStringLiteral("2014-03-07T12:00:00Z"));
    EXPECT_EQ(
        QFPreferenceKeys::format(QVariantList { QVariantMap { { QStringLiteral("folder"), QStringLiteral("/a") } } }),
        QStringLiteral("[{\"folder\":\"/a\"}]"));
}

TEST_F(QFPreferenceKeysTest, PathsTypedUnderSudoNameTheConsoleUsersHome)
{
    // Run as root for the console user "ed": "~" is ed's home, not root's.
    const QByteArray processHome = qgetenv("HOME");
    qputenv("HOME", "/root");
    QFLocalPaths::setRootOverride(true);
    QFLocalPaths::setConsoleUserResolver([&] {
        return std::optional<QFConsoleUser>(QFConsoleUser { QStringLiteral("ed"), home.path() });
    });
    const auto storage = QFPreferenceKeys::parse(
        *QFPreferenceKeys::find(QStringLiteral("storagePath")), QStringLiteral("~/Versions/../Store"));
    const QString watched
        = QFWatchFolderSettings::normalizedFolder(QFWatchFolderSettings::List::Folders, QStringLiteral("~/Movies/"));
    QFLocalPaths::setConsoleUserResolver({});
    QFLocalPaths::setRootOverride(std::nullopt);
    qputenv("HOME", processHome);

    ASSERT_TRUE(storage);
    EXPECT_EQ(storage->toString(), home.file(QStringLiteral("Store")));
    EXPECT_EQ(watched, home.file(QStringLiteral("Movies")));
}
