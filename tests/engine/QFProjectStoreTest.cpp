#include "engine/QFProjectStore.h"

#include "engine/QFPreferenceKeys.h"
#include "engine/QFWatchFolderSettings.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFPropertyList.h"
#include "foundation/platform/QFUserDefaults.h"
#include "tests/support/QFTempHome.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

class QFProjectStoreTest : public TempHomeTest {
protected:
    QString root() const { return home.file(QStringLiteral(".local/share/Quenfield/Pro Tombrel/Projects")); }
    static QVariantMap stored()
    {
        return QFPropertyList::readDictionary(QFProject::preferenceFilePath()).value_or(QVariantMap());
    }
    static QStringList names(const QList<QFProject> &projects)
    {
        QStringList out;
        for (const QFProject &project : projects)
            out << project.friendlyName();
        return out;
    }
};

} // namespace

TEST_F(QFProjectStoreTest, ProjectsAreRecordsInNameOrderWithTheSequenceChosenInTheirFile)
{
    const QString folder
        = QFVersionStoreBuilder::addProject(home.file(QStringLiteral("Edits/zebra Cut.fcp")), QStringLiteral("Z"));
    QFVersionStoreBuilder::addProject(home.file(QStringLiteral("Edits/Alpha.prproj")), QStringLiteral("A"));
    QFVersionStoreBuilder::addProject(home.file(QStringLiteral("Edits/Middle.kdenlive")), QStringLiteral("M"));
    auto settings = QFPropertyList::readDictionary(folder + QStringLiteral("/Settings.plist"));
    ASSERT_TRUE(settings);
    settings->insert(QStringLiteral("selectedUUID"), QStringLiteral("SEQ-2"));
    ASSERT_TRUE(QFPropertyList::write(folder + QStringLiteral("/Settings.plist"), *settings));
    // A folder whose settings name no project file is no project.
    QDir().mkpath(root() + QStringLiteral("/EMPTY.localized"));
    ASSERT_TRUE(QFPropertyList::write(
        root() + QStringLiteral("/EMPTY.localized/Settings.plist"), QVariantMap { { "selectedUUID", "X" } }));

    // The program keeps the log's first name.
    QFLog::createNewLog(QStringLiteral("ProjectStoreTest"));
    const QList<QFProject> projects = QFProjectStore::projects(QFProjectStore::Logging::Logged);
    EXPECT_EQ(names(projects), QStringList({ "Alpha", "Middle", "zebra Cut" }));
    EXPECT_EQ(projects.last().selectedUUID(), QStringLiteral("SEQ-2"));
    EXPECT_EQ(projects.last().type(), QFProject::FinalCutProProject);
    EXPECT_EQ(projects.last().destinationPath(), folder);
    const QStringList log = home.logMessages(QFLog::sharedController()->appName());
    EXPECT_TRUE(log.contains(QStringLiteral("Found EMPTY.localized..."))) << qPrintable(log.join(u'\n'));
    EXPECT_TRUE(
        log.contains(QStringLiteral("Linked project: %1.").arg(home.file(QStringLiteral("Edits/Alpha.prproj")))));
}

TEST_F(QFProjectStoreTest, TheListIsReadWhereProjectFoldersAreMade)
{
    // The program's own setting moves the store; a project made there is listed there.
    const QString own = QFUserDefaults::standard().filePath();
    ASSERT_NE(own, QFProject::preferenceFilePath());
    QDir().mkpath(QFileInfo(own).absolutePath());
    ASSERT_TRUE(QFPropertyList::write(
        own, QVariantMap { { QStringLiteral("storagePath"), home.file(QStringLiteral("Own")) } }));
    const QFProject made
        = QFProject::projectWithPath(home.write(QStringLiteral("Edits/Cut.prproj"), "x"), std::nullopt);
    ASSERT_TRUE(made.destinationPath().startsWith(home.file(QStringLiteral("Own/"))));
    const QList<QFProject> projects = QFProjectStore::projects();
    ASSERT_EQ(projects.size(), 1);
    EXPECT_EQ(projects.first().projectID(), made.projectID());
    ASSERT_EQ(QFProject::projectsInStorageRoot().size(), 1);
}

TEST_F(QFProjectStoreTest, AFirstRunAddsTheDefaultsToWhatWasSetBefore)
{
    EXPECT_TRUE(QFProjectStore::isFirstRun()) << "no preference file";
    const QString movies = QFLocalPaths::movieDirectory();
    const QString mine = home.file(QStringLiteral("Mine"));
    QFVersionStoreBuilder::setPreferences({ { "backupMinInterval", 5 },
        { "watchFolders",
            QVariantList { QVariantMap { { "folder", movies + QStringLiteral("/Cuts") }, { "extensions", "kdenlive" } },
                QVariantMap { { "folder", mine }, { "extensions", "blend" } } } } });
    EXPECT_TRUE(QFProjectStore::isFirstRun()) << "firstRun absent";
    ASSERT_TRUE(QFProjectStore::applyFirstRunSettings());
    const QVariantMap prefs = stored();
    EXPECT_FALSE(QFProjectStore::isFirstRun());
    EXPECT_EQ(prefs.value("firstRun"), QVariant(false));
    EXPECT_EQ(prefs.value("backupMinInterval").toInt(), 5);
    EXPECT_FALSE(prefs.contains("backupMinIntervalEnabled")) << "no Final Cut Pro X installed";
    QStringList folders;
    for (const QVariant &element : prefs.value("watchFolders").toList())
        folders << element.toMap().value("folder").toString();
    const QString documents = QFLocalPaths::documentDirectory(true);
    // The Movies folder itself is a default: the folder inside it watched before does not keep it out.
    EXPECT_EQ(folders,
        QStringList({ movies + QStringLiteral("/Cuts"), mine, movies, documents + QStringLiteral("/Avid Projects"),
            documents + QStringLiteral("/Adobe/Audition"), documents + QStringLiteral("/Adobe/Prelude/1.0/Projects"),
            documents + QStringLiteral("/Adobe/Premiere Pro") }));
    EXPECT_EQ(QFWatchFolderSettings::withDefaultWatchFolders(prefs.value("watchFolders").toList()),
        prefs.value("watchFolders").toList())
        << "a second merge adds nothing";
}

TEST_F(QFProjectStoreTest, FirstRunWithTheEditorInstalledWaitsFifteenMinutesUnlessAnIntervalWasChosen)
{
    home.write(QStringLiteral("Applications/Final Cut Pro.app/Contents/Info.plist"),
        "<?xml version=\"1.0\"?><plist "
        "version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>com.apple.FinalCut</string>"
        "<key>CFBundleShortVersionString</key><string>10.6</string></dict></plist>");
    ASSERT_TRUE(QFProjectStore::applyFirstRunSettings());
    EXPECT_EQ(stored().value("backupMinIntervalEnabled").toInt(), 1);
    EXPECT_EQ(stored().value("backupMinInterval").toInt(), 15);
    QFVersionStoreBuilder::setPreferences({ { "backupMinIntervalEnabled", 0 }, { "backupMinInterval", 3 } });
    ASSERT_TRUE(QFProjectStore::applyFirstRunSettings());
    EXPECT_EQ(stored().value("backupMinIntervalEnabled").toInt(), 0);
    EXPECT_EQ(stored().value("backupMinInterval").toInt(), 3);
}

TEST_F(QFProjectStoreTest, ThePredecessorsProjectsAreTakenOverOnceWithTheirVersions)
{
    EXPECT_EQ(QFProjectStore::convertPredecessorProjects(), 0) << "no predecessor";
    home.write(QStringLiteral("Videos/Old Cut.fcp"), "project");
    home.write(QStringLiteral("Videos/Known.prproj"), "project");
    QFVersionStoreBuilder::addProject(home.file(QStringLiteral("Videos/Known.prproj")), QStringLiteral("KNOWN"));
    home.write(QStringLiteral("Old Store/Old Cut.fcp/Old Cut.00001.fcp"), "one");
    home.write(QStringLiteral("Old Store/Old Cut.fcp/Old Cut.00002.fcp"), "two");
    QDir().mkpath(home.file(".config"));
    const QVariantMap sequence { { "name", "Main" }, { "uuid", "SEQ-1" } };
    ASSERT_TRUE(QFPropertyList::write(home.file(".config/com.quenfield.fcptombrel.plist"),
        QVariantMap { { "storagePath", "~/Old Store" },
            { "filelist",
                QVariantList { QVariantMap { { "path", "~/Videos/Old Cut.fcp" }, { "selectedUUID", "SEQ-1" },
                                   { "sequences", QVariantList { sequence } } },
                    QVariantMap { { "path", home.file("Videos/Known.prproj") } },
                    QVariantMap { { "selectedUUID", "no path" } } } } }));
    EXPECT_EQ(QFProjectStore::convertPredecessorProjects(), 1);
    const QList<QFProject> projects = QFProjectStore::projects();
    ASSERT_EQ(names(projects), QStringList({ "Known", "Old Cut" }));
    const QFProject old = projects.last();
    EXPECT_EQ(old.projectPath(), home.file(QStringLiteral("Videos/Old Cut.fcp")));
    EXPECT_EQ(old.selectedUUID(), QStringLiteral("SEQ-1"));
    EXPECT_EQ(old.sequences(), (QFProjectSequences { { QStringLiteral("Main"), QStringLiteral("SEQ-1") } }));
    EXPECT_EQ(QFVersionStoreBuilder::versionNames(old.destinationPath()),
        QStringList({ "Old Cut.00001.fcp", "Old Cut.00002.fcp" }));
    EXPECT_EQ(QFProjectStore::convertPredecessorProjects(), 0) << "taken over already";
}
