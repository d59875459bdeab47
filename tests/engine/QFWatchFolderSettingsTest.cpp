#include "engine/QFWatchFolderSettings.h"

#include "engine/QFProject.h"
#include "foundation/platform/QFPropertyList.h"
#include "tests/support/QFTempHome.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <gtest/gtest.h>

namespace {

using Settings = QFWatchFolderSettings;
using Entry = QFWatchFolderSettings::Entry;

class QFWatchFolderSettingsTest : public TempHomeTest { };

} // namespace

TEST_F(QFWatchFolderSettingsTest, DuplicatesAndFoldersInsideWatchedOnesAreRefused)
{
    const QList<Entry> entries { { QStringLiteral("/Users/me/Movies"), QStringLiteral("fcp") },
        { QStringLiteral("/srv/edits/"), std::nullopt } };
    auto refusal = Settings::checkNewFolder(entries, QStringLiteral("/Users/me/Movies"));
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->title, QStringLiteral("Duplicate watch folder"));
    EXPECT_EQ(refusal->text, QStringLiteral("/Users/me/Movies is already being watched"));

    refusal = Settings::checkNewFolder(entries, QStringLiteral("/Users/me/Movies/Old"));
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->title, QStringLiteral("Parent already watched"));
    EXPECT_EQ(refusal->text,
        QStringLiteral("The parent folder /Users/me/Movies is already being watched. You do not need to add subfolders "
                       "individually."));

    // A trailing "/" does not hide a duplicate or a parent.
    EXPECT_EQ(Settings::checkNewFolder(entries, QStringLiteral("/srv/edits"))->title,
        QStringLiteral("Duplicate watch folder"));
    EXPECT_EQ(Settings::checkNewFolder(entries, QStringLiteral("/srv/edits/a"))->title,
        QStringLiteral("Parent already watched"));
    // A sibling whose name only begins the same is no subfolder.
    EXPECT_FALSE(Settings::checkNewFolder(entries, QStringLiteral("/Users/me/Movies2")));
    EXPECT_FALSE(Settings::checkNewFolder(entries, QStringLiteral("/Users/me")));
    EXPECT_EQ(Settings::checkNewFolder({ { QStringLiteral("/"), std::nullopt } }, QStringLiteral("/srv"))->title,
        QStringLiteral("Parent already watched"));
}

TEST_F(QFWatchFolderSettingsTest, FoldersAndExtensionsAreStoredInOneSpelling)
{
    EXPECT_EQ(Settings::normalizedExtensions(QStringLiteral(" .AVB, avp,,avb ")), QStringLiteral("avb,avp"));
    EXPECT_EQ(Settings::normalizedFolder(Settings::List::Folders, QStringLiteral("~/Movies/")),
        home.file(QStringLiteral("Movies")));
    EXPECT_EQ(Settings::normalizedFolder(Settings::List::DriveFolders, QStringLiteral("Final Cut Events/")),
        QStringLiteral("/Final Cut Events"));
    EXPECT_EQ(Settings::normalizedFolder(Settings::List::DriveFolders, QStringLiteral("/Final Cut Projects")),
        QStringLiteral("/Final Cut Projects"));
}

TEST_F(QFWatchFolderSettingsTest, AddingAndRemovingKeepsWhatItDoesNotUnderstand)
{
    // Another program's element and a foreign key stay as they are.
    QFVersionStoreBuilder::setPreferences({ { QStringLiteral("watchFolders"), QVariantList { QStringLiteral("odd") } },
        { QStringLiteral("viewMode"), qint64(1) } });
    std::optional<Settings::Refusal> refusal;
    ASSERT_TRUE(
        Settings::addFolder(Settings::List::Folders, QStringLiteral("/srv/a"), QStringLiteral("fcp"), &refusal));
    ASSERT_TRUE(Settings::addFolder(Settings::List::Folders, QStringLiteral("/srv/b"), std::nullopt, &refusal));
    EXPECT_FALSE(
        Settings::addFolder(Settings::List::Folders, QStringLiteral("/srv/a/c"), QStringLiteral("fcp"), &refusal));
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->title, QStringLiteral("Parent already watched"));
    ASSERT_TRUE(Settings::addFolder(
        Settings::List::DriveFolders, QStringLiteral("/Final Cut Events"), QStringLiteral("fcpevent"), &refusal));

    EXPECT_EQ(Settings::entries(Settings::List::Folders),
        (QList<Entry> {
            { QStringLiteral("/srv/a"), QStringLiteral("fcp") }, { QStringLiteral("/srv/b"), std::nullopt } }));
    auto prefs = QFPropertyList::readDictionary(QFProject::preferenceFilePath());
    ASSERT_TRUE(prefs);
    EXPECT_EQ(prefs->value(QStringLiteral("watchFolders")).toList().first(), QVariant(QStringLiteral("odd")));
    EXPECT_EQ(prefs->value(QStringLiteral("watchFolders")).toList().at(2).toMap(),
        (QVariantMap { { QStringLiteral("folder"), QStringLiteral("/srv/b") } }));
    EXPECT_EQ(prefs->value(QStringLiteral("viewMode")).toLongLong(), 1);

    QString error;
    EXPECT_FALSE(Settings::removeFolder(Settings::List::Folders, QStringLiteral("/srv/zzz"), &error));
    EXPECT_EQ(error, QStringLiteral("/srv/zzz is not being watched"));
    ASSERT_TRUE(Settings::removeFolder(Settings::List::Folders, QStringLiteral("/srv/a/"), &error));
    EXPECT_EQ(
        Settings::entries(Settings::List::Folders), (QList<Entry> { { QStringLiteral("/srv/b"), std::nullopt } }));
    EXPECT_EQ(Settings::entries(Settings::List::DriveFolders),
        (QList<Entry> { { QStringLiteral("/Final Cut Events"), QStringLiteral("fcpevent") } }));
}
