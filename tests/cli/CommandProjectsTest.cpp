#include "tests/cli/CommandTestSupport.h"

#include "engine/QFProject.h"
#include "tests/support/QFTempHome.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

class CommandProjectsTest : public TempHomeTest {
protected:
    void SetUp() override { m_previousDir = QDir::currentPath(); }
    void TearDown() override { QDir::setCurrent(m_previousDir); }

    QString storageRoot() const { return home.file(QStringLiteral(".local/share/Quenfield/Pro Tombrel/Projects")); }
    QStringList storeContents() const
    {
        QStringList entries;
        QDirIterator it(
            storageRoot(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext())
            entries << QDir(storageRoot()).relativeFilePath(it.next());
        entries.sort();
        return entries;
    }

private:
    QString m_previousDir;
};

} // namespace

TEST_F(CommandProjectsTest, AddRegistersEachFileOnce)
{
    const QString edit = home.write(QStringLiteral("Edits/Edit.fcp"), "x");
    const QString bin = home.write(QStringLiteral("Edits/Bin.avb"), "x");
    CommandResult r = runTombrel({ QStringLiteral("add"), edit, bin });
    ASSERT_EQ(r.status, 0) << qPrintable(r.err);
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("added: %1 (").arg(edit))) << qPrintable(r.out);
    const auto projects = QFProject::projectsInStorageRoot();
    ASSERT_EQ(projects.size(), 2);
    QStringList paths { projects.at(0).path, projects.at(1).path };
    paths.sort();
    EXPECT_EQ(paths, QStringList({ bin, edit }));

    // Again, under another spelling of the same path: nothing changes.
    const QStringList before = storeContents();
    QDir::setCurrent(home.file(QStringLiteral("Edits")));
    r = runTombrel({ QStringLiteral("add"), QStringLiteral("Edit.fcp"), QStringLiteral("../Edits/./Bin.avb") });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.count(QStringLiteral("already registered: ")), 2) << qPrintable(r.out);
    EXPECT_EQ(storeContents(), before);

    // The same file twice in one call is added once.
    const QString cut = home.write(QStringLiteral("Edits/Cut.fcp"), "x");
    r = runTombrel({ QStringLiteral("add"), cut, cut });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.count(QStringLiteral("added: ")), 1);
    EXPECT_EQ(QFProject::projectsInStorageRoot().size(), 3);
}

TEST_F(CommandProjectsTest, AddingAMissingFileFailsAndNamesIt)
{
    const QString edit = home.write(QStringLiteral("Edits/Edit.fcp"), "x");
    const QString missing = home.file(QStringLiteral("Edits/Missing.fcp"));
    const CommandResult r = runTombrel({ QStringLiteral("add"), edit, missing });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, QStringLiteral("tombrel: add: no such file: %1\n").arg(missing));
    // Nothing of the call is registered.
    EXPECT_TRUE(QFProject::projectsInStorageRoot().isEmpty());

    EXPECT_EQ(runTombrel({ QStringLiteral("add") }).status, 2);
    EXPECT_EQ(runTombrel({ QStringLiteral("add"), QStringLiteral("--force"), edit }).status, 2);
}

TEST_F(CommandProjectsTest, ProjectsListsTheStoreAsJson)
{
    const QString edit = home.write(QStringLiteral("Edits/Edit.fcp"), "x");
    const QString bin = home.write(QStringLiteral("Edits/bin.avb"), "x");
    QFProject fcp = QFProject::projectWithPath(edit,
        QFProjectSequences { { QStringLiteral("Main"), QStringLiteral("UUID-1") },
            { QStringLiteral("Trailer"), QStringLiteral("UUID-2") } },
        QStringLiteral("FCP-ID"));
    fcp.setSelectedUUID(QStringLiteral("UUID-2"));
    ASSERT_TRUE(fcp.saveSettings());
    QFProject::projectWithPath(bin, std::nullopt, QStringLiteral("BIN-ID"));
    const QString versions = storageRoot() + QStringLiteral("/FCP-ID.localized/Versions/");
    home.write(QDir(home.path()).relativeFilePath(versions + QStringLiteral("Edit.00001.fcp")), "1");
    home.write(QDir(home.path()).relativeFilePath(versions + QStringLiteral("Edit.00001.xml")), "<x/>");
    home.write(QDir(home.path()).relativeFilePath(versions + QStringLiteral("Edit.00002.fcp")), "2");
    home.write(QDir(home.path()).relativeFilePath(versions + QStringLiteral(".hidden")), "");

    const CommandResult r = runTombrel({ QStringLiteral("projects"), QStringLiteral("--json") });
    ASSERT_EQ(r.status, 0) << qPrintable(r.err);
    const QJsonArray list = QJsonDocument::fromJson(r.out.toUtf8()).array();
    ASSERT_EQ(list.size(), 2) << qPrintable(r.out);
    // In name order, case ignored.
    const QJsonObject first = list.at(0).toObject();
    EXPECT_EQ(first,
        (QJsonObject { { QStringLiteral("friendlyName"), QStringLiteral("bin") },
            { QStringLiteral("projectPath"), bin }, { QStringLiteral("projectID"), QStringLiteral("BIN-ID") },
            { QStringLiteral("type"), 2 }, { QStringLiteral("versionCount"), 0 } }));
    const QJsonObject second = list.at(1).toObject();
    EXPECT_EQ(second.value(QStringLiteral("friendlyName")).toString(), QStringLiteral("Edit"));
    EXPECT_EQ(second.value(QStringLiteral("type")).toInt(-1), 0);
    EXPECT_EQ(second.value(QStringLiteral("selectedUUID")).toString(), QStringLiteral("UUID-2"));
    EXPECT_EQ(second.value(QStringLiteral("versionCount")).toInt(), 2);
    EXPECT_EQ(second.value(QStringLiteral("sequences")).toArray().at(1).toObject(),
        (QJsonObject { { QStringLiteral("name"), QStringLiteral("Trailer") },
            { QStringLiteral("uuid"), QStringLiteral("UUID-2") } }));
}

TEST_F(CommandProjectsTest, ProjectsPrintsAlignedRows)
{
    CommandResult r = runTombrel({ QStringLiteral("projects") });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, QStringLiteral("no projects\n"));

    const QString odd = home.write(QStringLiteral("Edits/Cut %1 final.fcp"), "x");
    QFProject::projectWithPath(odd, std::nullopt, QStringLiteral("ODD"));
    r = runTombrel({ QStringLiteral("projects") });
    ASSERT_EQ(r.status, 0);
    const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << qPrintable(r.out);
    EXPECT_TRUE(lines.at(0).startsWith(QStringLiteral("NAME         ")));
    EXPECT_TRUE(lines.at(1).startsWith(QStringLiteral("Cut %1 final  fcp          0  ODD"))) << qPrintable(lines.at(1));
    EXPECT_TRUE(lines.at(1).endsWith(odd));
    EXPECT_EQ(runTombrel({ QStringLiteral("projects"), QStringLiteral("--bogus") }).status, 2);
}

TEST_F(CommandProjectsTest, AFileNamedLikeAHiddenFileIsRefused)
{
    const QString hidden = home.write(QStringLiteral("Edits/.hidden.prproj"), "x");
    const QString edit = home.write(QStringLiteral("Edits/Edit.prproj"), "x");
    const CommandResult r = runTombrel({ QStringLiteral("add"), hidden, edit });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
        QStringLiteral(
            "tombrel: add: %1 cannot be versioned: its name begins with \".\", so its versions would be hidden. "
            "Rename it.\n")
            .arg(hidden));
    ASSERT_EQ(QFProject::projectsInStorageRoot().size(), 1);
    EXPECT_EQ(QFProject::projectsInStorageRoot().first().path, edit);
}
