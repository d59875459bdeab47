#include "foundation/platform/QFPropertyList.h"

#include "tests/support/QFTempHome.h"

#include <QDateTime>
#include <QFile>
#include <QSize>
#include <QTimeZone>

#include <gtest/gtest.h>

class QFPropertyListTest : public TempHomeTest { };

TEST_F(QFPropertyListTest, RoundTripsEveryValueType)
{
    const QDateTime date(QDate(2026, 12, 8), QTime(4, 30, 5), QTimeZone::utc());
    QVariantMap map;
    map.insert(QStringLiteral("string"), QStringLiteral("Cut «ü» & <b>"));
    map.insert(QStringLiteral("integer"), qint64(-42));
    map.insert(QStringLiteral("big"), qint64(1) << 40);
    map.insert(QStringLiteral("real"), 2.5);
    map.insert(QStringLiteral("yes"), true);
    map.insert(QStringLiteral("no"), false);
    map.insert(QStringLiteral("date"), date);
    map.insert(QStringLiteral("data"), QByteArray("\x00\x01\xff", 3));
    map.insert(QStringLiteral("array"), QVariantList { QStringLiteral("a"), qint64(1) });
    map.insert(QStringLiteral("empty"), QVariantMap());

    const QString path = home.file(QStringLiteral("values.plist"));
    ASSERT_TRUE(QFPropertyList::write(path, map));
    const auto read = QFPropertyList::readDictionary(path);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->value(QStringLiteral("string")).toString(), map.value(QStringLiteral("string")).toString());
    EXPECT_EQ(read->value(QStringLiteral("integer")).toLongLong(), -42);
    EXPECT_EQ(read->value(QStringLiteral("big")).toLongLong(), qint64(1) << 40);
    EXPECT_DOUBLE_EQ(read->value(QStringLiteral("real")).toDouble(), 2.5);
    EXPECT_EQ(read->value(QStringLiteral("yes")).metaType().id(), QMetaType::Bool);
    EXPECT_TRUE(read->value(QStringLiteral("yes")).toBool());
    EXPECT_FALSE(read->value(QStringLiteral("no")).toBool());
    EXPECT_EQ(read->value(QStringLiteral("date")).toDateTime(), date);
    EXPECT_EQ(read->value(QStringLiteral("data")).toByteArray(), QByteArray("\x00\x01\xff", 3));
    EXPECT_EQ(read->value(QStringLiteral("array")).toList().size(), 2);
    EXPECT_EQ(read->value(QStringLiteral("empty")).metaType().id(), QMetaType::QVariantMap);
}

TEST_F(QFPropertyListTest, BadFilesReadAsAbsent)
{
    QVariantMap map { { QStringLiteral("projectPath"), QStringLiteral("/a/Edit.fcp") } };
    const QByteArray good = QFPropertyList::toXml(map);
    ASSERT_FALSE(good.isEmpty());

    QByteArray garbage(4096, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 7919 + 13) % 251);
    QByteArray badBinary("bplist00");
    badBinary += garbage.left(200);

    const struct {
        const char *name;
        QByteArray contents;
    } cases[] = {
        { "empty", QByteArray() },
        { "truncated", good.left(good.size() / 2) },
        { "garbage", garbage },
        { "binary header with garbage", badBinary },
        { "unclosed", QByteArray("<?xml version=\"1.0\"?><plist><dict><key>a</key><string>b") },
        { "bad nesting", QByteArray("<plist><dict><key>a</key></array></dict></plist>") },
        { "plain text", QByteArray("projectPath = /a/Edit.fcp;") },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = home.write(QStringLiteral("bad.plist"), c.contents);
        EXPECT_FALSE(QFPropertyList::readDictionary(path).has_value());
    }
    EXPECT_FALSE(QFPropertyList::read(home.file(QStringLiteral("missing.plist"))).has_value());
    EXPECT_FALSE(QFPropertyList::read(home.path()).has_value()) << "a folder is not a property list";
}

TEST_F(QFPropertyListTest, AnArrayIsNotADictionary)
{
    const QString path = home.file(QStringLiteral("array.plist"));
    ASSERT_TRUE(QFPropertyList::write(path, QVariantList { QStringLiteral("x") }));
    EXPECT_TRUE(QFPropertyList::read(path).has_value());
    EXPECT_FALSE(QFPropertyList::readDictionary(path).has_value());
}

TEST_F(QFPropertyListTest, FailedWriteKeepsTheOldFile)
{
    const QString path = home.file(QStringLiteral("keep.plist"));
    ASSERT_TRUE(QFPropertyList::write(path, QVariantMap { { QStringLiteral("a"), qint64(1) } }));
    // A value property lists cannot hold is refused without touching the file.
    EXPECT_FALSE(QFPropertyList::write(path, QVariant::fromValue(QSize(1, 2))));
    EXPECT_EQ(QFPropertyList::readDictionary(path)->value(QStringLiteral("a")).toLongLong(), 1);
}

TEST(QFPropertyListValueTest, IntegerValuesAcceptNumbersBooleansAndNumericStrings)
{
    EXPECT_EQ(QFPropertyList::integerValue(QVariant(true)), 1);
    EXPECT_EQ(QFPropertyList::integerValue(QVariant(qint64(7))), 7);
    EXPECT_EQ(QFPropertyList::integerValue(QVariant(QStringLiteral(" 12 "))), 12);
    EXPECT_FALSE(QFPropertyList::integerValue(QVariant(QStringLiteral("twelve"))).has_value());
    EXPECT_FALSE(QFPropertyList::integerValue(QVariant(QVariantList())).has_value());
}
