#include "foundation/platform/QFPropertyList.h"

#include "foundation/platform/QFFileLock.h"
#include "tests/support/QFFullDisk.h"
#include "tests/support/QFTempHome.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSize>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <thread>
#include <unistd.h>

namespace {

class QFPropertyListTest : public TempHomeTest {
protected:
    static QVariantMap notes(int count, const QString &prefix = QStringLiteral("note"))
    {
        QVariantMap map;
        for (int i = 0; i < count; ++i)
            map.insert(QStringLiteral("Cut.%1.prproj").arg(i, 5, 10, QLatin1Char('0')), prefix + QString::number(i));
        return map;
    }
    // The entries of a folder other than the file itself and lock files: what a failed write left behind.
    static QStringList leftovers(const QString &folder, const QString &file)
    {
        QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        names.removeAll(file);
        names.removeIf([](const QString &name) { return name.endsWith(QLatin1String(".lock")); });
        return names;
    }
};

} // namespace

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

TEST_F(QFPropertyListTest, AFullDiskKeepsTheOldFileAndReportsTheFailure)
{
    const QString folder = home.file(QStringLiteral("Project"));
    QDir().mkpath(folder);
    const QString path = folder + QStringLiteral("/Annotations.plist");
    ASSERT_TRUE(QFPropertyList::write(path, notes(100)));
    const qint64 before = QFileInfo(path).size();
    {
        const QFFullDisk full(512);
        QString error;
        EXPECT_FALSE(QFPropertyList::write(path, notes(120), &error));
        EXPECT_FALSE(error.isEmpty());
        error.clear();
        EXPECT_FALSE(QFPropertyList::updateDictionary(
            path,
            [](QVariantMap &map) {
                map.insert(QStringLiteral("Cut.99999.prproj"), QStringLiteral("lost?"));
                return QFPropertyList::Change::Write;
            },
            &error));
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_EQ(QFileInfo(path).size(), before);
    EXPECT_EQ(QFPropertyList::readDictionary(path), notes(100));
    EXPECT_EQ(leftovers(folder, QStringLiteral("Annotations.plist")), QStringList()) << "no temporary file stays";
}

TEST_F(QFPropertyListTest, AFullFileSystemKeepsTheOldFile)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small file system needs root";
    const QString mountPoint = home.file(QStringLiteral("small"));
    QDir().mkpath(mountPoint);
    const QByteArray native = QFile::encodeName(mountPoint);
    if (::mount("tmpfs", native.constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "no tmpfs could be mounted here";
    struct Unmount {
        QByteArray path;
        ~Unmount() { ::umount2(path.constData(), MNT_DETACH); }
    } unmount { native };

    const QString path = mountPoint + QStringLiteral("/com.quenfield.ProTombrel.plist");
    ASSERT_TRUE(QFPropertyList::write(path, notes(20)));
    QFile filler(mountPoint + QStringLiteral("/filler"));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    const QByteArray block(4096, 'x');
    while (filler.write(block) == block.size() && filler.flush()) { }
    filler.close();

    QString error;
    EXPECT_FALSE(QFPropertyList::write(path, notes(200), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("No space left"))) << qPrintable(error);
    EXPECT_EQ(QFPropertyList::readDictionary(path), notes(20));
    EXPECT_EQ(leftovers(mountPoint, QStringLiteral("com.quenfield.ProTombrel.plist")),
        QStringList { QStringLiteral("filler") });
}

TEST_F(QFPropertyListTest, AWriteThroughALinkReplacesTheFileItNames)
{
    const QString target = home.file(QStringLiteral("dotfiles/prefs.plist"));
    QDir().mkpath(QFileInfo(target).absolutePath());
    ASSERT_TRUE(QFPropertyList::write(target, notes(1)));
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
    const QString link = home.file(QStringLiteral("prefs.plist"));
    ASSERT_TRUE(QFile::link(target, link));

    ASSERT_TRUE(QFPropertyList::write(link, notes(2)));
    EXPECT_TRUE(QFileInfo(link).isSymLink()) << "the link stays a link";
    EXPECT_EQ(QFPropertyList::readDictionary(target), notes(2));
    EXPECT_FALSE(QFile::permissions(target) & (QFile::ReadGroup | QFile::ReadOther)) << "the file keeps its mode";
}

TEST_F(QFPropertyListTest, ChangesUnderTheLockAreNeverLost)
{
    const QString path = home.file(QStringLiteral("shared.plist"));
    constexpr int kThreads = 4, kChanges = 40;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < kChanges; ++i) {
                QFPropertyList::updateDictionary(path, [&](QVariantMap &map) {
                    map.insert(QStringLiteral("%1-%2").arg(t).arg(i), qint64(i));
                    return QFPropertyList::Change::Write;
                });
            }
        });
    }
    for (std::thread &writer : writers)
        writer.join();
    EXPECT_EQ(QFPropertyList::readDictionary(path).value_or(QVariantMap()).size(), kThreads * kChanges);

    // A damaged file is never replaced, and a change may remove the file.
    QFile damaged(path);
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
    damaged.write("<plist><dict><key>a</key>");
    damaged.close();
    EXPECT_FALSE(QFPropertyList::updateDictionary(path, [](QVariantMap &) { return QFPropertyList::Change::Write; }));
    EXPECT_EQ(QFileInfo(path).size(), 25);
    const QString other = home.file(QStringLiteral("other.plist"));
    ASSERT_TRUE(QFPropertyList::write(other, notes(1)));
    EXPECT_TRUE(QFPropertyList::updateDictionary(other, [](QVariantMap &map) {
        map.clear();
        return QFPropertyList::Change::Remove;
    }));
    EXPECT_FALSE(QFileInfo::exists(other));
    EXPECT_EQ(QFFileLock::lockFilePath(other), home.file(QStringLiteral(".other.plist.lock")));
}

TEST_F(QFPropertyListTest, AStringHoldingANulCharacterIsReadWhole)
{
    // Found by fuzzing: the library's own string reader ended the program on such a file.
    QFile file(fixturePath(QStringLiteral("fuzz/plist-string-with-nul.plist")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto value = QFPropertyList::parse(file.readAll());
    ASSERT_TRUE(value);
    // The library keeps the text up to the NUL character.
    EXPECT_EQ(value->toMap().value(QStringLiteral("name")).toString(), QStringLiteral("Cut"));
}
