#include "engine/QFProject.h"

#include "foundation/platform/QFPropertyList.h"
#include "foundation/platform/QFUserDefaults.h"
#include "tests/support/QFTempHome.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every file below a folder with its contents, hidden ones included, for before/after comparisons.
QMap<QString, QByteArray> snapshot(const QString &root)
{
    QMap<QString, QByteArray> tree;
    QDirIterator it(
        root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        tree.insert(QDir(root).relativeFilePath(path), QFileInfo(path).isDir() ? QByteArray("<dir>") : readAll(path));
    }
    return tree;
}

bool setTypeCode(const QString &path, const QByteArray &code)
{
    QByteArray info(32, '\0');
    info.replace(0, code.size(), code);
    return ::setxattr(
               QFile::encodeName(path).constData(), "user.com.apple.FinderInfo", info.constData(), info.size(), 0)
        == 0;
}

class QFProjectTest : public TempHomeTest {
protected:
    QString storageRoot() const { return home.file(QStringLiteral(".local/share/Quenfield/Pro Tombrel/Projects")); }
    QString preferenceFile() const { return home.file(QStringLiteral(".config/com.quenfield.ProTombrel.plist")); }
    QString ownDefaultsFile() const { return QFUserDefaults::standard().filePath(); }
};

const QFProjectSequences kSequences = { { QStringLiteral("Main"), QStringLiteral("11111111-AAAA") },
    { QStringLiteral("Trailer"), QStringLiteral("22222222-BBBB") } };

} // namespace

TEST_F(QFProjectTest, RecognisesFinalCutProProjectsByExtensionOrTypeCode)
{
    const QString upper = home.write(QStringLiteral("Edits/Edit.FCP"), "x");
    const QString typed = home.write(QStringLiteral("Edits/Edit"), "x");
    const QString plain = home.write(QStringLiteral("Edits/Notes"), "x");
    const QString otherCode = home.write(QStringLiteral("Edits/Other"), "x");
    const QString premiere = home.write(QStringLiteral("Edits/My.Cut.prproj"), "x");
    if (!setTypeCode(typed, "FCPF") || !setTypeCode(otherCode, "TEXT"))
        GTEST_SKIP() << "the temporary folder keeps no user attributes";

    const struct {
        QString path;
        bool isProject;
    } cases[] = { { upper, true }, { typed, true }, { plain, false }, { otherCode, false }, { premiere, false },
        { home.file(QStringLiteral("Edits/Missing.fcp")), true },
        { home.file(QStringLiteral("Edits/Missing")), false } };
    for (const auto &c : cases) {
        SCOPED_TRACE(qPrintable(c.path));
        EXPECT_EQ(QFProject::isFinalCutProProject(c.path), c.isProject);
        const QFProject project = QFProject::recordWithPath(c.path, kSequences, QStringLiteral("ID"));
        EXPECT_EQ(project.type(), c.isProject ? QFProject::FinalCutProProject : QFProject::OtherFile);
        // Only a Final Cut Pro project keeps its sequences.
        EXPECT_EQ(project.sequences().has_value(), c.isProject);
        EXPECT_TRUE(project.selectedUUID().isNull());
    }
}

TEST_F(QFProjectTest, DisplayNames)
{
    const struct {
        const char *path;
        const char *name;
    } cases[] = {
        { "/Volumes/Work/My Film.fcpproject/CurrentVersion.fcpproject", "My Film.fcpproject" },
        { "/Volumes/Work/Dailies.fcpevent/CurrentVersion.fcpevent", "Dailies.fcpevent" },
        { "/Users/ed/My.Cut.prproj", "My.Cut" },
        { "/Users/ed/Edit.FCP", "Edit" },
        { "/Users/ed/Edit", "Edit" },
        { "~/Projects/Bin.avb", "Bin" },
        { "/Users/ed/.hidden", ".hidden" },
        { "/Users/ed/CurrentVersion.fcpproject.bak", "CurrentVersion.fcpproject" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(
            QFProject::recordWithPath(QString::fromUtf8(c.path), std::nullopt, QStringLiteral("ID")).friendlyName(),
            QString::fromUtf8(c.name));
    }
}

TEST_F(QFProjectTest, NewProjectGetsItsFolderSettingsAndShownName)
{
    const QString path = home.write(QStringLiteral("Edits/Edit.fcp"), "x");
    const QFProject project = QFProject::projectWithPath(path, kSequences);

    static const QRegularExpression uuid(
        QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    EXPECT_TRUE(uuid.match(project.projectID()).hasMatch()) << qPrintable(project.projectID());
    // The default storage root lies in the user's data folder.
    const QString folder = storageRoot() + u'/' + project.projectID() + QStringLiteral(".localized");
    EXPECT_EQ(project.destinationPath(), folder);
    EXPECT_EQ(project.friendlyName(), QStringLiteral("Edit"));

    // The lock file of Settings.plist, which writers of the file take in turn, stays beside it.
    EXPECT_EQ(snapshot(folder).keys(),
        QStringList({ QStringLiteral(".Settings.plist.lock"), QStringLiteral(".localized"),
            QStringLiteral(".localized/en.strings"), QStringLiteral("Settings.plist") }));
    EXPECT_EQ(readAll(folder + QStringLiteral("/.localized/en.strings")),
        QStringLiteral("\"%1\" = \"Edit\";").arg(project.projectID()).toUtf8());
    const auto settings = QFPropertyList::readDictionary(folder + QStringLiteral("/Settings.plist"));
    ASSERT_TRUE(settings.has_value());
    EXPECT_EQ(settings->keys(), QStringList({ QStringLiteral("projectPath"), QStringLiteral("sequences") }));
    EXPECT_EQ(settings->value(QStringLiteral("projectPath")).toString(), path);
    EXPECT_EQ(settings->value(QStringLiteral("sequences")).toList().size(), 2);
    EXPECT_EQ(settings->value(QStringLiteral("sequences")).toList().at(1).toMap(), kSequences.at(1).toDictionary());

    // What the store reads back is what was written.
    const auto entry = QFProject::readProjectFolder(folder);
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(*entry, (QFProjectListEntry { path, project.projectID(), kSequences, QString() }));
}

TEST_F(QFProjectTest, GivenIdentifierIsUsedUnchangedAndTildeIsExpandedInSettings)
{
    home.write(QStringLiteral("Edits/Bin.avb"), "x");
    const QFProject project
        = QFProject::projectWithPath(QStringLiteral("~/Edits/Bin.avb"), kSequences, QStringLiteral("my-id"));
    EXPECT_EQ(project.projectID(), QStringLiteral("my-id"));
    EXPECT_EQ(project.projectPath(), QStringLiteral("~/Edits/Bin.avb"));
    EXPECT_EQ(project.type(), QFProject::OtherFile);
    const auto settings
        = QFPropertyList::readDictionary(storageRoot() + QStringLiteral("/my-id.localized/Settings.plist"));
    ASSERT_TRUE(settings.has_value());
    EXPECT_EQ(
        *settings, (QVariantMap { { QStringLiteral("projectPath"), home.file(QStringLiteral("Edits/Bin.avb")) } }));
}

TEST_F(QFProjectTest, ExistingSettingsAndShownNameAreLeftAlone)
{
    const QString path = home.write(QStringLiteral("Edits/Edit.fcp"), "x");
    const QString folder = storageRoot() + QStringLiteral("/KEEP.localized");
    const QVariantMap chosen { { QStringLiteral("projectPath"), path },
        { QStringLiteral("selectedUUID"), QStringLiteral("22222222-BBBB") },
        { QStringLiteral("sequences"), QVariantList { kSequences.at(1).toDictionary() } } };
    QDir().mkpath(folder + QStringLiteral("/.localized"));
    ASSERT_TRUE(QFPropertyList::write(folder + QStringLiteral("/Settings.plist"), chosen));
    home.write(QStringLiteral(".local/share/Quenfield/Pro Tombrel/Projects/KEEP.localized/.localized/en.strings"),
        "\"KEEP\" = \"Old Name\";");
    const auto before = snapshot(folder);

    const QFProject project = QFProject::projectWithPath(path, kSequences, QStringLiteral("KEEP"));
    EXPECT_EQ(snapshot(folder), before);
    // The record itself starts without a selection; readers of the store set it from the file.
    EXPECT_TRUE(project.selectedUUID().isNull());
    EXPECT_EQ(project.sequences(), kSequences);
}

TEST_F(QFProjectTest, ShownNameIsEscapedForTheStringsFile)
{
    const QString path = home.write(QStringLiteral("Edits/The \"Best\" Cut.fcp"), "x");
    const QFProject project = QFProject::projectWithPath(path, std::nullopt, QStringLiteral("Q"));
    EXPECT_EQ(readAll(project.destinationPath() + QStringLiteral("/.localized/en.strings")),
        QByteArray("\"Q\" = \"The \\\"Best\\\" Cut\";"));
}

TEST_F(QFProjectTest, StorageRootResolution)
{
    SCOPED_TRACE("nothing set: the default");
    EXPECT_EQ(QFProject::storageRoot(), storageRoot());
    EXPECT_EQ(QFProject::storageRootFromPreferences(), storageRoot());

    {
        SCOPED_TRACE("a storagePath that is no path counts as none");
        ASSERT_TRUE(QFPropertyList::write(preferenceFile(), QVariantMap { { QStringLiteral("storagePath"), 42 } }));
        EXPECT_EQ(QFProject::storageRoot(), storageRoot());
        ASSERT_TRUE(
            QFPropertyList::write(preferenceFile(), QVariantMap { { QStringLiteral("storagePath"), QString() } }));
        EXPECT_EQ(QFProject::storageRoot(), storageRoot());
        home.write(
            QStringLiteral(".config/com.quenfield.ProTombrel.plist"), "<?xml version=\"1.0\"?><plist><dict><key>stor");
        EXPECT_EQ(QFProject::storageRoot(), storageRoot());
    }
    {
        SCOPED_TRACE("the main application's preference file");
        ASSERT_TRUE(QFPropertyList::write(
            preferenceFile(), QVariantMap { { QStringLiteral("storagePath"), QStringLiteral("~/Versions") } }));
        EXPECT_EQ(QFProject::storageRoot(), home.file(QStringLiteral("Versions")));
        EXPECT_EQ(QFProject::storageRootFromPreferences(), home.file(QStringLiteral("Versions")));
    }
    {
        SCOPED_TRACE("the program's own setting comes first, but not for the project list");
        ASSERT_NE(ownDefaultsFile(), preferenceFile());
        ASSERT_TRUE(QFPropertyList::write(
            ownDefaultsFile(), QVariantMap { { QStringLiteral("storagePath"), home.file(QStringLiteral("Own")) } }));
        EXPECT_EQ(QFProject::storageRoot(), home.file(QStringLiteral("Own")));
        EXPECT_EQ(QFProject::storageRootFromPreferences(), home.file(QStringLiteral("Versions")));
        EXPECT_EQ(
            QFProject::recordWithPath(QStringLiteral("/x/A.fcp"), std::nullopt, QStringLiteral("A")).destinationPath(),
            home.file(QStringLiteral("Own/A.localized")));
    }
}

TEST_F(QFProjectTest, ProjectListSkipsDamagedAndForeignFolders)
{
    const QString root = storageRoot();
    const auto folder = [&](const QString &name) { return root + u'/' + name; };
    const auto settings = [&](const QString &name, const QVariantMap &map) {
        QDir().mkpath(folder(name));
        ASSERT_TRUE(QFPropertyList::write(folder(name) + QStringLiteral("/Settings.plist"), map));
    };
    settings(QStringLiteral("B-FULL.localized"),
        { { QStringLiteral("projectPath"), QStringLiteral("/Edits/Full.fcp") },
            { QStringLiteral("sequences"), QVariantList { kSequences.at(0).toDictionary() } },
            { QStringLiteral("selectedUUID"), QStringLiteral("11111111-AAAA") } });
    settings(
        QStringLiteral("A-PLAIN.localized"), { { QStringLiteral("projectPath"), QStringLiteral("~/Edits/Bin.avb") } });
    settings(QStringLiteral("C-BADSEQ.localized"),
        { { QStringLiteral("projectPath"), QStringLiteral("/Edits/Odd.fcp") },
            { QStringLiteral("sequences"), QStringLiteral("Main") }, { QStringLiteral("selectedUUID"), 7 } });
    settings(QStringLiteral("WRONGTYPE.localized"),
        { { QStringLiteral("projectPath"), QVariantList { QStringLiteral("/Edits/A.fcp") } } });
    settings(QStringLiteral("NOPATH.localized"), { { QStringLiteral("selectedUUID"), QStringLiteral("X") } });
    settings(QStringLiteral("EMPTYPATH.localized"), { { QStringLiteral("projectPath"), QString() } });
    home.write(QStringLiteral(".local/share/Quenfield/Pro Tombrel/Projects/TRUNCATED.localized/Settings.plist"),
        QFPropertyList::toXml(QVariantMap { { QStringLiteral("projectPath"), QStringLiteral("/Edits/T.fcp") } })
            .left(60));
    home.write(QStringLiteral(".local/share/Quenfield/Pro Tombrel/Projects/GARBAGE.localized/Settings.plist"),
        QByteArray("bplist00\xff\xfe\x00\x01garbage\x00\x00\x00", 22));
    home.write(QStringLiteral(".local/share/Quenfield/Pro Tombrel/Projects/ARRAY.localized/Settings.plist"),
        QFPropertyList::toXml(QVariantList { QStringLiteral("projectPath") }));
    home.write(
        QStringLiteral(".local/share/Quenfield/Pro Tombrel/Projects/NOSETTINGS.localized/Versions/Cut.00001.fcp"),
        "v1");
    home.write(QStringLiteral(".local/share/Quenfield/Pro Tombrel/Projects/stray-file.txt"), "not a project");
    const auto before = snapshot(root);

    const QList<QFProjectListEntry> projects = QFProject::projectsInStorageRoot();
    ASSERT_EQ(projects.size(), 3);
    EXPECT_EQ(projects.at(0),
        (QFProjectListEntry { QStringLiteral("~/Edits/Bin.avb"), QStringLiteral("A-PLAIN"), std::nullopt, QString() }));
    EXPECT_EQ(projects.at(1),
        (QFProjectListEntry { QStringLiteral("/Edits/Full.fcp"), QStringLiteral("B-FULL"),
            QFProjectSequences { kSequences.at(0) }, QStringLiteral("11111111-AAAA") }));
    EXPECT_EQ(projects.at(2),
        (QFProjectListEntry { QStringLiteral("/Edits/Odd.fcp"), QStringLiteral("C-BADSEQ"), std::nullopt, QString() }));
    EXPECT_EQ(projects.at(1).toDictionary(),
        (QVariantMap { { QStringLiteral("path"), QStringLiteral("/Edits/Full.fcp") },
            { QStringLiteral("projectID"), QStringLiteral("B-FULL") },
            { QStringLiteral("sequences"), QVariantList { kSequences.at(0).toDictionary() } },
            { QStringLiteral("selectedUUID"), QStringLiteral("11111111-AAAA") } }));
    EXPECT_EQ(
        projects.at(0).toDictionary().keys(), QStringList({ QStringLiteral("path"), QStringLiteral("projectID") }));
    // Reading the list changes nothing on disk.
    EXPECT_EQ(snapshot(root), before);
}

TEST_F(QFProjectTest, ProjectListFollowsThePreferenceFileAndToleratesAMissingRoot)
{
    EXPECT_TRUE(QFProject::projectsInStorageRoot().isEmpty());
    ASSERT_TRUE(QFPropertyList::write(
        preferenceFile(), QVariantMap { { QStringLiteral("storagePath"), home.file(QStringLiteral("Store")) } }));
    const QString path = home.write(QStringLiteral("Edits/Edit.fcp"), "x");
    const QFProject project = QFProject::projectWithPath(path, std::nullopt);
    EXPECT_TRUE(project.destinationPath().startsWith(home.file(QStringLiteral("Store/"))));
    const auto projects = QFProject::projectsInStorageRoot();
    ASSERT_EQ(projects.size(), 1);
    EXPECT_EQ(projects.first().projectID, project.projectID());
}

TEST_F(QFProjectTest, NameCompareIgnoresCaseAndFallsBackToTheFileName)
{
    QFProject alpha = QFProject::recordWithPath(QStringLiteral("/e/alpha.fcp"), std::nullopt, QStringLiteral("1"));
    QFProject beta = QFProject::recordWithPath(QStringLiteral("/e/Beta.fcp"), std::nullopt, QStringLiteral("2"));
    QFProject upperAlpha
        = QFProject::recordWithPath(QStringLiteral("/e/ALPHA.prproj"), std::nullopt, QStringLiteral("3"));
    EXPECT_LT(alpha.nameCompare(beta), 0);
    EXPECT_GT(beta.nameCompare(alpha), 0);
    EXPECT_EQ(alpha.nameCompare(upperAlpha), 0);

    QFProject unnamed;
    unnamed.setProjectPath(QStringLiteral("/e/Zulu.fcp"));
    EXPECT_GT(unnamed.nameCompare(beta), 0);
    unnamed.setProjectPath(QStringLiteral("/e/aardvark.fcp"));
    EXPECT_LT(unnamed.nameCompare(alpha), 0);

    QList<QFProject> list { beta, unnamed, alpha };
    std::sort(list.begin(), list.end(), QFProject::nameLessThan);
    EXPECT_EQ(list.at(0).projectPath(), QStringLiteral("/e/aardvark.fcp"));
    EXPECT_EQ(list.at(2).friendlyName(), QStringLiteral("Beta"));
}

TEST_F(QFProjectTest, AFolderTheUserCannotWriteIsOpenedUp)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write everywhere";
    const QString folder = storageRoot() + QStringLiteral("/LOCKED.localized");
    QDir().mkpath(folder + QStringLiteral("/.localized"));
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0555), 0);
    const QString path = home.write(QStringLiteral("Edits/Edit.fcp"), "x");
    QFProject::projectWithPath(path, std::nullopt, QStringLiteral("LOCKED"));
    struct stat info { };
    ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0777u);
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/Settings.plist")));
}

TEST_F(QFProjectTest, AStorageRootOnAnAbsentDriveStillGivesARecord)
{
    ASSERT_TRUE(QFPropertyList::write(preferenceFile(),
        QVariantMap { { QStringLiteral("storagePath"), QStringLiteral("/mnt/QFNoSuchDrive/Store") } }));
    const QFProject project
        = QFProject::projectWithPath(QStringLiteral("/nowhere/Edit.fcp"), std::nullopt, QStringLiteral("X"));
    EXPECT_EQ(project.projectID(), QStringLiteral("X"));
    EXPECT_EQ(project.type(), QFProject::FinalCutProProject);
    EXPECT_FALSE(project.saveSettings());
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/mnt/QFNoSuchDrive")));
}
