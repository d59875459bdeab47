#include "engine/QFVersionsFolder.h"

#include "tests/support/QFTempHome.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

using Builder = QFVersionStoreBuilder;

class QFVersionsFolderTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        folder = Builder::addProject(home.file(QStringLiteral("Edits/Cut.fcp")), QStringLiteral("V1"));
    }
    QString versions() const { return folder + QStringLiteral("/Versions"); }
    QStringList names() const
    {
        QStringList listed;
        for (const QFVersionsFolderEntry &entry : QFVersionsFolder::versions(versions()))
            listed << entry.name;
        return listed;
    }

    QString folder;
};

} // namespace

TEST_F(QFVersionsFolderTest, VersionsAreOrderedByNumberWhateverTheirNames)
{
    // Relinked to "Alpha.prproj" after two versions, and back to "Zed.prproj" after two more.
    Builder::addVersions(folder,
        { { QStringLiteral("Zed.00001.prproj"), {} }, { QStringLiteral("Zed.00002.prproj"), {} },
            { QStringLiteral("Alpha.00003.prproj"), {} }, { QStringLiteral("Alpha.00010.prproj"), {} },
            { QStringLiteral("Zed.00011.prproj"), {} } });
    EXPECT_EQ(names(),
        QStringList({ QStringLiteral("Zed.00001.prproj"), QStringLiteral("Zed.00002.prproj"),
            QStringLiteral("Alpha.00003.prproj"), QStringLiteral("Alpha.00010.prproj"),
            QStringLiteral("Zed.00011.prproj") }));
    EXPECT_EQ(QFVersionsFolder::entryNames(versions()), names());
    EXPECT_EQ(QFVersionsFolder::nextVersionNumber(versions()), 12);
    EXPECT_TRUE(QFVersionsFolder::lessThan(QStringLiteral("Zed.00002.prproj"), QStringLiteral("Alpha.00003.prproj")));
    EXPECT_FALSE(QFVersionsFolder::lessThan(QStringLiteral("Alpha.00003.prproj"), QStringLiteral("Zed.00002.prproj")));

    // Two files of one number by name; a name without a number after every numbered version.
    Builder::addVersions(folder, { { QStringLiteral("Alpha.00011.prproj"), {} }, { QStringLiteral("Cut.fcp"), {} } });
    EXPECT_EQ(names().mid(4),
        QStringList(
            { QStringLiteral("Alpha.00011.prproj"), QStringLiteral("Zed.00011.prproj"), QStringLiteral("Cut.fcp") }));
    // As the scan counts: after a last version without a number, the copy takes the first free number.
    EXPECT_EQ(QFVersionsFolder::nextVersionNumber(versions()), 1);
}

TEST_F(QFVersionsFolderTest, HiddenNamesAreNoVersions)
{
    EXPECT_TRUE(QFVersionsFolder::versions(versions()).isEmpty()) << "a missing folder has no versions";
    EXPECT_EQ(QFVersionsFolder::nextVersionNumber(versions()), 1);
    Builder::addVersions(folder,
        { { QStringLiteral(".Cut.00003.fcp.part-1-x"), {} }, { QStringLiteral(".DS_Store"), {} },
            { QStringLiteral(".Cut.00009.xml"), {} } });
    EXPECT_TRUE(QFVersionsFolder::versions(versions()).isEmpty());
    EXPECT_TRUE(QFVersionsFolder::entryNames(versions()).isEmpty());
    EXPECT_EQ(QFVersionsFolder::nextVersionNumber(versions()), 1);

    Builder::addVersions(folder, { { QStringLiteral("Cut.00002.fcp"), {} } });
    // A link whose file is gone is a version all the same: it has its place and its number.
    ASSERT_TRUE(QFile::link(home.file(QStringLiteral("gone")), versions() + QStringLiteral("/Cut.00004.fcp")));
    EXPECT_EQ(names(), QStringList({ QStringLiteral("Cut.00002.fcp"), QStringLiteral("Cut.00004.fcp") }));
    EXPECT_EQ(QFVersionsFolder::nextVersionNumber(versions()), 5);
}

TEST_F(QFVersionsFolderTest, AnXMLCopyIsPairedWithTheFinalCutProVersionBesideIt)
{
    Builder::addVersions(folder,
        { { QStringLiteral("Cut.00001.fcp"), {} }, { QStringLiteral("Cut.00001.xml"), {} },
            { QStringLiteral("Cut.00002.xml"), {} }, { QStringLiteral("Cut.00003.FCP"), {} },
            { QStringLiteral("Cut.00003.xml"), {} }, { QStringLiteral("Cut.00004.fcp"), {} },
            { QStringLiteral("Edit.00005.xml"), {} } });
    const QList<QFVersionsFolderEntry> entries = QFVersionsFolder::versions(versions());
    const QList<QFVersionsFolderEntry> expected {
        { QStringLiteral("Cut.00001.fcp"), QStringLiteral("Cut.00001.xml"), 1 },
        // Its version file is gone: the XML copy stands alone.
        { QStringLiteral("Cut.00002.xml"), QString(), 2 },
        { QStringLiteral("Cut.00003.FCP"), QStringLiteral("Cut.00003.xml"), 3 },
        { QStringLiteral("Cut.00004.fcp"), QString(), 4 },
        { QStringLiteral("Edit.00005.xml"), QString(), 5 },
    };
    EXPECT_EQ(entries, expected);
    ASSERT_EQ(entries.size(), 5);
    EXPECT_EQ(entries.at(0).listedName(), QStringLiteral("Cut.00001.xml"))
        << "the list and the cache know it by its XML copy";
    EXPECT_EQ(entries.at(3).listedName(), QStringLiteral("Cut.00004.fcp"));
    EXPECT_FALSE(entries.at(0).isFinalCutVersionWithoutXML());
    EXPECT_TRUE(entries.at(3).isFinalCutVersionWithoutXML());
    EXPECT_FALSE(entries.at(1).isFinalCutVersionWithoutXML());

    EXPECT_EQ(QFVersionsFolder::entryNames(versions()),
        QStringList({ QStringLiteral("Cut.00001.fcp"), QStringLiteral("Cut.00001.xml"), QStringLiteral("Cut.00002.xml"),
            QStringLiteral("Cut.00003.FCP"), QStringLiteral("Cut.00003.xml"), QStringLiteral("Cut.00004.fcp"),
            QStringLiteral("Edit.00005.xml") }));
    EXPECT_TRUE(QFVersionsFolder::isXMLCopy(versions(), QStringLiteral("Cut.00001.xml")));
    EXPECT_TRUE(QFVersionsFolder::isXMLCopy(versions(), QStringLiteral("Cut.00003.xml")));
    EXPECT_FALSE(QFVersionsFolder::isXMLCopy(versions(), QStringLiteral("Cut.00002.xml")));
    EXPECT_FALSE(QFVersionsFolder::isXMLCopy(versions(), QStringLiteral("Cut.00001.fcp")));
}

TEST_F(QFVersionsFolderTest, ANumberIsReadFromTheNameOnce)
{
    const struct {
        const char *name;
        std::optional<qint64> number;
    } cases[] = {
        { "Cut.00007.fcp", 7 },
        { "/a/b/Cut.00007.fcp", 7 },
        { "Edit.00007", 7 },
        { "My.Cut.00012.prproj", 12 },
        { "Cut.00007.7z", 7 },
        { "Cut.123456.fcp", 123456 },
        { "Cut.fcp", std::nullopt },
        { "Cut", std::nullopt },
        { "Cut.+7.fcp", std::nullopt },
        { "Cut.-1.fcp", std::nullopt },
        { "Cut. 7.fcp", std::nullopt },
        { "Cut..fcp", std::nullopt },
        { ".00007", std::nullopt },
        { "Cut.99999999999999999999.fcp", std::nullopt },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(QFVersionsFolder::versionNumber(QString::fromLatin1(c.name)), c.number);
    }
}
