#include "foundation/platform/QFUserDefaults.h"

#include "foundation/platform/QFPropertyList.h"
#include "tests/support/QFTempHome.h"

#include <gtest/gtest.h>

class QFUserDefaultsTest : public TempHomeTest { };

TEST_F(QFUserDefaultsTest, ArgumentsOverFileOverRegistered)
{
    QFUserDefaults defaults(QStringLiteral("com.quenfield.Test"));
    EXPECT_EQ(defaults.filePath(), home.file(QStringLiteral(".config/com.quenfield.Test.plist")));

    defaults.registerDefaults(
        { { QStringLiteral("interval"), qint64(10) }, { QStringLiteral("name"), QStringLiteral("r") } });
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("interval")), 10);

    ASSERT_TRUE(defaults.setObject(QStringLiteral("interval"), qint64(20)));
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("interval")), 20);
    EXPECT_EQ(QFPropertyList::readDictionary(defaults.filePath())->value(QStringLiteral("interval")).toLongLong(), 20)
        << "changes are on disk at once";

    defaults.setArguments(
        { QStringLiteral("prog"), QStringLiteral("-interval"), QStringLiteral("30"), QStringLiteral("-autosave") });
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("interval")), 30);
    EXPECT_EQ(defaults.stringForKey(QStringLiteral("name")), QStringLiteral("r"));

    ASSERT_TRUE(defaults.removeObject(QStringLiteral("interval")));
    defaults.setArguments({});
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("interval")), 10);
}

TEST_F(QFUserDefaultsTest, AnotherWritersChangeIsSeenAtOnce)
{
    QFUserDefaults defaults(QStringLiteral("com.quenfield.Shared"));
    QFUserDefaults other(QStringLiteral("com.quenfield.Shared"));
    ASSERT_TRUE(other.setObject(QStringLiteral("growlDisabled"), QStringLiteral("1")));
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("growlDisabled")));
    // A broken file counts as empty and is replaced whole by the next change.
    home.write(QStringLiteral(".config/com.quenfield.Shared.plist"), "<plist><dict><key>");
    EXPECT_FALSE(defaults.objectForKey(QStringLiteral("growlDisabled")).isValid());
    EXPECT_TRUE(defaults.setObject(QStringLiteral("a"), true));
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("a")));
}
