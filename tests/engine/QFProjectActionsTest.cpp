#include "engine/QFProjectActions.h"

#include "engine/QFProject.h"
#include "engine/QFTombrelBackup.h"
#include "foundation/QFAppRequest.h"
#include "foundation/QFAuthorization.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFPropertyList.h"
#include "tests/support/QFFrozenFolder.h"
#include "tests/support/QFRecordingApplication.h"
#include "tests/support/QFTempHome.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using Builder = QFVersionStoreBuilder;

// Polls until the condition holds or the deadline passes.
bool waitUntil(const std::function<bool()> &condition, int milliseconds)
{
    const QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
    return true;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

class QFProjectActionsTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        // A failed copy must not turn into an administrator prompt.
        QFAuthorization::sharedController()->setHasGUI(false);
        projectPath = home.file(QStringLiteral("Edits/Cut.prproj"));
        folder = Builder::addProject(projectPath, QStringLiteral("P1"), "current");
        Builder::addVersions(folder,
            { { QStringLiteral("Cut.00001.prproj"), {}, "one" }, { QStringLiteral("Cut.00002.prproj"), {}, "two" } });
    }
    void TearDown() override
    {
        QFAuthorization::sharedController()->setHasGUI(true);
        QFFileManager::setMountTableReader({});
    }

    QFProject project() const { return QFProject::recordWithPath(projectPath, std::nullopt, QStringLiteral("P1")); }
    QString version(const QString &name) const { return folder + QStringLiteral("/Versions/") + name; }
    QStringList trashed() const
    {
        return QDir(home.file(QStringLiteral(".local/share/Trash/files")))
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    }
    QStringList editsFolder() const
    {
        return QDir(home.file(QStringLiteral("Edits")))
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    static QVariantMap preferences()
    {
        return QFPropertyList::readDictionary(QFProject::preferenceFilePath()).value_or(QVariantMap());
    }

    QString projectPath;
    QString folder;
};

} // namespace

TEST_F(QFProjectActionsTest, RestoreCopiesTheVersionAndTrashesTheReplacedFile)
{
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
    const auto result = QFProjectActions::restoreVersion(project(), version(QStringLiteral("Cut.00001.prproj")));
    ASSERT_TRUE(result.succeeded()) << qPrintable(result.message);
    EXPECT_EQ(result.title, QStringLiteral("Backup restored"));
    EXPECT_EQ(result.message, QStringLiteral("The backup was restored successfully."));
    EXPECT_TRUE(result.keptOldFile.isEmpty());
    EXPECT_EQ(contents(projectPath), "one");
    EXPECT_EQ(editsFolder(), QStringList { QStringLiteral("Cut.prproj") });
    ASSERT_EQ(trashed(), QStringList { QStringLiteral("Cut 2.prproj") });
    EXPECT_EQ(contents(home.file(QStringLiteral(".local/share/Trash/files/Cut 2.prproj"))), "current");
    // The version itself stays.
    EXPECT_EQ(Builder::versionNames(folder),
        QStringList({ QStringLiteral("Cut.00001.prproj"), QStringLiteral("Cut.00002.prproj") }));

    const QVariantMap prefs = preferences();
    EXPECT_EQ(prefs.value(QStringLiteral("lastRestoredProject")).toString(), projectPath);
    const QDateTime restored = prefs.value(QStringLiteral("lastRestoreDate")).toDateTime();
    EXPECT_GE(restored, before);
    EXPECT_LE(restored, QDateTime::currentDateTimeUtc().addSecs(1));
}

TEST_F(QFProjectActionsTest, RestoreNotesItselfForTheHelperBeforeTouchingTheProject)
{
    Builder::setPreferences({ { QStringLiteral("currentDayCount"), qint64(4) } });
    QFProjectActions::RestoreOperations operations;
    bool copied = false;
    operations.copy = [&](const QString &source, const QString &destination) {
        // By now the old file is aside and the helper can already tell this restore's events.
        EXPECT_FALSE(QFileInfo::exists(destination));
        EXPECT_EQ(preferences().value(QStringLiteral("lastRestoredProject")).toString(), projectPath);
        copied = true;
        return QFFileManager::copyFile(source, destination, 10);
    };
    ASSERT_TRUE(QFProjectActions::restoreVersion(project(), version(QStringLiteral("Cut.00002.prproj")), operations)
                    .succeeded());
    EXPECT_TRUE(copied);
    EXPECT_EQ(contents(projectPath), "two");
    // Other settings are kept.
    EXPECT_EQ(preferences().value(QStringLiteral("currentDayCount")).toLongLong(), 4);
}

TEST_F(QFProjectActionsTest, AFailedCopyRenamesTheOldFileBack)
{
    QFProjectActions::RestoreOperations operations;
    operations.copy = [](const QString &, const QString &) { return false; };
    const auto result
        = QFProjectActions::restoreVersion(project(), version(QStringLiteral("Cut.00001.prproj")), operations);
    EXPECT_EQ(result.status, QFProjectActions::RestoreStatus::CopyFailed);
    EXPECT_EQ(result.title, QStringLiteral("Failed to restore project"));
    EXPECT_EQ(result.message, QStringLiteral("Unable to copy file."));
    EXPECT_TRUE(result.keptOldFile.isEmpty());
    EXPECT_EQ(contents(projectPath), "current");
    EXPECT_EQ(editsFolder(), QStringList { QStringLiteral("Cut.prproj") });
    EXPECT_TRUE(trashed().isEmpty());
}

TEST_F(QFProjectActionsTest, AFailedCopyNeverReplacesAFileThatAppearedMeanwhile)
{
    // The editor saves the project while the copy fails: both files must survive.
    QFProjectActions::RestoreOperations operations;
    operations.copy = [](const QString &, const QString &destination) {
        QFile file(destination);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("saved meanwhile");
        return false;
    };
    const auto result
        = QFProjectActions::restoreVersion(project(), version(QStringLiteral("Cut.00001.prproj")), operations);
    EXPECT_EQ(result.status, QFProjectActions::RestoreStatus::CopyFailed);
    EXPECT_EQ(result.keptOldFile, home.file(QStringLiteral("Edits/Cut 2.prproj")));
    EXPECT_EQ(contents(projectPath), "saved meanwhile");
    EXPECT_EQ(contents(result.keptOldFile), "current");
}

TEST_F(QFProjectActionsTest, RestoreWithoutAProjectFileOnlyCopies)
{
    ASSERT_TRUE(QFile::remove(projectPath));
    ASSERT_TRUE(QFProjectActions::restoreVersion(project(), version(QStringLiteral("Cut.00002.prproj"))).succeeded());
    EXPECT_EQ(contents(projectPath), "two");
    EXPECT_TRUE(trashed().isEmpty());
}

TEST_F(QFProjectActionsTest, AnXMLCompanionRestoresItsFinalCutProFile)
{
    const QString fcpPath = home.file(QStringLiteral("Edits/Edit.fcp"));
    const QString fcpFolder = Builder::addProject(fcpPath, QStringLiteral("P2"), "current");
    Builder::addVersions(fcpFolder,
        { { QStringLiteral("Edit.00004.fcp"), {}, "binary" }, { QStringLiteral("Edit.00004.xml"), {}, "<xmeml/>" },
            { QStringLiteral("Take.00005"), {}, "plain" }, { QStringLiteral("Take.00005.xml"), {}, "<xmeml/>" },
            { QStringLiteral("Lone.00006.xml"), {}, "<xmeml/>" } });
    const QString versions = fcpFolder + QStringLiteral("/Versions/");
    EXPECT_EQ(QFProjectActions::restoreSource(versions + QStringLiteral("Edit.00004.xml")),
        versions + QStringLiteral("Edit.00004.fcp"));
    EXPECT_EQ(QFProjectActions::restoreSource(versions + QStringLiteral("Edit.00004.XML")),
        versions + QStringLiteral("Edit.00004.fcp"));
    EXPECT_EQ(QFProjectActions::restoreSource(versions + QStringLiteral("Take.00005.xml")),
        versions + QStringLiteral("Take.00005"));
    EXPECT_EQ(QFProjectActions::restoreSource(versions + QStringLiteral("Lone.00006.xml")),
        versions + QStringLiteral("Lone.00006.xml"));
    EXPECT_EQ(QFProjectActions::restoreSource(versions + QStringLiteral("Edit.00004.fcp")),
        versions + QStringLiteral("Edit.00004.fcp"));

    const QFProject record = QFProject::recordWithPath(fcpPath, std::nullopt, QStringLiteral("P2"));
    const auto result = QFProjectActions::restoreVersion(record, versions + QStringLiteral("Edit.00004.xml"));
    ASSERT_TRUE(result.succeeded());
    EXPECT_EQ(result.source, versions + QStringLiteral("Edit.00004.fcp"));
    EXPECT_EQ(contents(fcpPath), "binary");
}

TEST_F(QFProjectActionsTest, AnXMLCopyWhoseBinaryVersionIsGoneNeverReplacesTheProjectFile)
{
    const QString fcpPath = home.file(QStringLiteral("Edits/Edit.fcp"));
    const QString fcpFolder = Builder::addProject(fcpPath, QStringLiteral("P2"), "current binary");
    Builder::addVersions(fcpFolder, { { QStringLiteral("Edit.00006.xml"), {}, "<xmeml/>" } });
    const QFProject record = QFProject::recordWithPath(fcpPath, std::nullopt, QStringLiteral("P2"));
    const QString xml = fcpFolder + QStringLiteral("/Versions/Edit.00006.xml");

    const auto result = QFProjectActions::restoreVersion(record, xml);
    EXPECT_EQ(result.status, QFProjectActions::RestoreStatus::OnlyXMLCopyLeft);
    EXPECT_EQ(result.title, QStringLiteral("Unable to restore project"));
    EXPECT_EQ(result.message,
        QStringLiteral(
            "Only the XML copy of this version is left (%1). It cannot take the place of the project file %2; "
            "import it into the editor instead.")
            .arg(xml, fcpPath));
    EXPECT_EQ(contents(fcpPath), "current binary");
    EXPECT_TRUE(trashed().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(QFProject::preferenceFilePath()))
        << "nothing noted for a restore that did not happen";
    EXPECT_EQ(editsFolder(), QStringList({ QStringLiteral("Cut.prproj"), QStringLiteral("Edit.fcp") }))
        << "nothing set aside";

    // A project that is an XML file itself takes its XML versions back.
    const QString xmlProject = home.file(QStringLiteral("Edits/Sequence.xml"));
    const QString xmlFolder = Builder::addProject(xmlProject, QStringLiteral("P5"), "<current/>");
    Builder::addVersions(xmlFolder, { { QStringLiteral("Sequence.00002.xml"), {}, "<two/>" } });
    EXPECT_TRUE(
        QFProjectActions::restoreVersion(QFProject::recordWithPath(xmlProject, std::nullopt, QStringLiteral("P5")),
            xmlFolder + QStringLiteral("/Versions/Sequence.00002.xml"))
            .succeeded());
    EXPECT_EQ(contents(xmlProject), "<two/>");
}

TEST_F(QFProjectActionsTest, ARestoreToAnUnmountedVolumeChangesNothing)
{
    // The volume's folder may exist; only a mount point counts.
    QFFileManager::setMountTableReader([] { return QByteArray("22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"); });
    const QString offline = QStringLiteral("/mnt/QFNotMountedMedia/Edit.prproj");
    const QFProject record = QFProject::projectWithPath(offline, std::nullopt, QStringLiteral("P3"));
    Builder::addVersions(record.destinationPath(), { { QStringLiteral("Edit.00001.prproj"), {}, "one" } });
    const QString prefsBefore = QFProject::preferenceFilePath();

    const auto result = QFProjectActions::restoreVersion(
        record, record.destinationPath() + QStringLiteral("/Versions/Edit.00001.prproj"));
    EXPECT_EQ(result.status, QFProjectActions::RestoreStatus::VolumeNotMounted);
    EXPECT_EQ(result.title, QStringLiteral("Unable to restore project"));
    EXPECT_EQ(result.message, QStringLiteral("The destination is on a volume that is not mounted."));
    EXPECT_FALSE(QFileInfo::exists(QFProject::preferenceFilePath()));
    EXPECT_FALSE(QFileInfo::exists(offline));
    EXPECT_EQ(Builder::versionNames(record.destinationPath()), QStringList { QStringLiteral("Edit.00001.prproj") });
    EXPECT_TRUE(trashed().isEmpty());
}

TEST_F(QFProjectActionsTest, AFinalCutProXProjectIsNotRestoredWhileTheEditorRuns)
{
    const QString bundleFile = home.file(QStringLiteral("Movies/Film.fcpproject/CurrentVersion.fcpproject"));
    const QString bundleFolder = Builder::addProject(bundleFile, QStringLiteral("P4"), "current");
    Builder::addVersions(bundleFolder, { { QStringLiteral("CurrentVersion.00001.fcpproject"), {}, "one" } });
    const QFProject record = QFProject::recordWithPath(bundleFile, std::nullopt, QStringLiteral("P4"));
    QStringList asked;
    QFProjectActions::RestoreOperations operations;
    operations.isApplicationRunning = [&](const QString &identifier) {
        asked << identifier;
        return identifier == QLatin1String("com.apple.FinalCutTrial");
    };
    const auto result = QFProjectActions::restoreVersion(
        record, bundleFolder + QStringLiteral("/Versions/CurrentVersion.00001.fcpproject"), operations);
    EXPECT_EQ(result.status, QFProjectActions::RestoreStatus::EditorRunning);
    EXPECT_EQ(result.title, QStringLiteral("Final Cut Pro X is running"));
    EXPECT_EQ(result.message, QStringLiteral("You must close Final Cut Pro X before restoring this file."));
    EXPECT_EQ(asked, QStringList({ QStringLiteral("com.apple.FinalCut"), QStringLiteral("com.apple.FinalCutTrial") }));
    EXPECT_EQ(contents(bundleFile), "current");
    EXPECT_FALSE(QFileInfo::exists(QFProject::preferenceFilePath()));

    // Other project types do not wait for that editor.
    asked.clear();
    EXPECT_TRUE(QFProjectActions::restoreVersion(project(), version(QStringLiteral("Cut.00001.prproj")), operations)
                    .succeeded());
    EXPECT_TRUE(asked.isEmpty());
}

TEST_F(QFProjectActionsTest, AMissingVersionIsNotRestored)
{
    const auto result = QFProjectActions::restoreVersion(project(), version(QStringLiteral("Cut.00009.prproj")));
    EXPECT_EQ(result.status, QFProjectActions::RestoreStatus::MissingVersion);
    EXPECT_EQ(contents(projectPath), "current");
    EXPECT_FALSE(QFileInfo::exists(QFProject::preferenceFilePath()));
}

TEST_F(QFProjectActionsTest, VersionsAreFoundByNumberWithOrWithoutZerosOrByName)
{
    Builder::addVersions(folder,
        { { QStringLiteral("Cut.00012.prproj"), {} }, { QStringLiteral(".Cut.00013.prproj.part-1-x"), {} },
            { QStringLiteral("Cut.00014.fcp"), {} }, { QStringLiteral("Cut.00014.xml"), {} },
            { QStringLiteral("Old.00012.prproj"), {} }, { QStringLiteral("Bare.00015"), {} } });
    const QString versions = folder + QStringLiteral("/Versions");
    EXPECT_EQ(QFProjectActions::versionFiles(versions),
        QStringList({ QStringLiteral("Bare.00015"), QStringLiteral("Cut.00001.prproj"),
            QStringLiteral("Cut.00002.prproj"), QStringLiteral("Cut.00012.prproj"), QStringLiteral("Cut.00014.fcp"),
            QStringLiteral("Old.00012.prproj") }));
    for (const QString &written : { QStringLiteral("2"), QStringLiteral("00002"), QStringLiteral("0000002") }) {
        SCOPED_TRACE(written.toStdString());
        EXPECT_EQ(QFProjectActions::findVersion(versions, written), version(QStringLiteral("Cut.00002.prproj")));
    }
    // The version file, not its XML companion.
    EXPECT_EQ(QFProjectActions::findVersion(versions, QStringLiteral("14")), version(QStringLiteral("Cut.00014.fcp")));
    EXPECT_EQ(QFProjectActions::findVersion(versions, QStringLiteral("15")), version(QStringLiteral("Bare.00015")));
    EXPECT_EQ(QFProjectActions::findVersion(versions, QStringLiteral("Cut.00014.xml")),
        version(QStringLiteral("Cut.00014.xml")));

    QString error;
    EXPECT_FALSE(QFProjectActions::findVersion(versions, QStringLiteral("12"), &error));
    EXPECT_EQ(
        error, QStringLiteral("version 12 names 2 files (Cut.00012.prproj, Old.00012.prproj); give the file name"));
    EXPECT_FALSE(QFProjectActions::findVersion(versions, QStringLiteral("13"), &error));
    EXPECT_EQ(error, QStringLiteral("there is no version 13"));
    EXPECT_FALSE(QFProjectActions::findVersion(versions, QStringLiteral("../Settings.plist"), &error));
    EXPECT_FALSE(QFProjectActions::findVersion(versions, QStringLiteral("seven"), &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("there is no version 'seven'")));
}

TEST_F(QFProjectActionsTest, NotesAreOneLineAndTheFileGoesWithTheLastNote)
{
    const QString notes = folder + QStringLiteral("/Annotations.plist");
    ASSERT_TRUE(QFProjectActions::annotateVersion(
        version(QStringLiteral("Cut.00001.prproj")), QStringLiteral("rough\ncut\r\nfor Anna\rtoday")));
    ASSERT_TRUE(
        QFProjectActions::annotateVersion(version(QStringLiteral("Cut.00002.prproj")), QStringLiteral("fine cut")));
    EXPECT_EQ(QFPropertyList::readDictionary(notes),
        (QVariantMap { { QStringLiteral("Cut.00001.prproj"), QStringLiteral("rough cut for Anna today") },
            { QStringLiteral("Cut.00002.prproj"), QStringLiteral("fine cut") } }));
    EXPECT_EQ(QFTombrelBackup::annotationForFile(version(QStringLiteral("Cut.00001.prproj"))),
        QStringLiteral("rough cut for Anna today"));

    ASSERT_TRUE(QFProjectActions::annotateVersion(version(QStringLiteral("Cut.00001.prproj")), QString()));
    EXPECT_EQ(QFPropertyList::readDictionary(notes),
        (QVariantMap { { QStringLiteral("Cut.00002.prproj"), QStringLiteral("fine cut") } }));
    ASSERT_TRUE(QFProjectActions::annotateVersion(version(QStringLiteral("Cut.00002.prproj")), QString()));
    EXPECT_FALSE(QFileInfo::exists(notes));
    // Removing a note that is not there leaves no file behind either.
    ASSERT_TRUE(QFProjectActions::annotateVersion(version(QStringLiteral("Cut.00002.prproj")), QString()));
    EXPECT_FALSE(QFileInfo::exists(notes));
}

TEST_F(QFProjectActionsTest, AnUnreadableNotesFileIsNeverReplaced)
{
    const QString notes
        = home.write(QStringLiteral(".local/share/Quenfield/Pro Tombrel/Projects/P1.localized/Annotations.plist"),
            "<plist><dict><key>");
    QString error;
    EXPECT_FALSE(
        QFProjectActions::annotateVersion(version(QStringLiteral("Cut.00001.prproj")), QStringLiteral("note"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("cannot be read"))) << qPrintable(error);
    EXPECT_EQ(contents(notes), "<plist><dict><key>");
}

TEST_F(QFProjectActionsTest, DeletingAVersionTakesItsCompanionsAndKeepsTheCacheTelling)
{
    Builder::addVersions(folder,
        { { QStringLiteral("Cut.00003.fcp"), {} }, { QStringLiteral("Cut.00003.xml"), {} },
            { QStringLiteral("Screenshots/Cut.00003.jpg"), {} } });
    const QString cache = QFTombrelBackup::cachesFolder() + QStringLiteral("/P1.localized.cache.plist");
    QDir().mkpath(QFTombrelBackup::cachesFolder());
    const auto entry = [](const QString &line) {
        return QVariantMap { { QStringLiteral("type"), QStringLiteral("xml") },
            { QStringLiteral("changelist"), QVariantList { line } } };
    };
    ASSERT_TRUE(QFPropertyList::write(cache,
        QVariantMap { { QStringLiteral("Cut.00001.prproj"), entry(QStringLiteral("(Base version)")) },
            { QStringLiteral("Cut.00002.prproj"), entry(QStringLiteral("Bin added")) },
            { QStringLiteral("Cut.00003.fcp"), entry(QStringLiteral("Clip moved")) } }));

    int calls = 0;
    const QStringList remaining = QFProjectActions::deleteVersions(
        { version(QStringLiteral("Cut.00002.prproj")), version(QStringLiteral("Cut.00003.xml")) },
        [&](int done) { calls = done; });
    EXPECT_TRUE(remaining.isEmpty());
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(Builder::versionNames(folder), QStringList { QStringLiteral("Cut.00001.prproj") });
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/Screenshots/Cut.00003.jpg")));
    EXPECT_EQ(trashed(),
        QStringList({ QStringLiteral("Cut.00002.prproj"), QStringLiteral("Cut.00003.fcp"),
            QStringLiteral("Cut.00003.jpg"), QStringLiteral("Cut.00003.xml") }));
    const auto after = QFPropertyList::readDictionary(cache);
    ASSERT_TRUE(after);
    EXPECT_FALSE(after->contains(QStringLiteral("Cut.00002.prproj")));
    EXPECT_EQ(after->value(QStringLiteral("Cut.00003.fcp")).toMap().value(QStringLiteral("changelist")).toList(),
        (QVariantList { QStringLiteral("Clip moved"), QStringLiteral("Bin added") }));
}

TEST_F(QFProjectActionsTest, RemovingAProjectTrashesItsFolderAndCacheOnly)
{
    const QString other = Builder::addProject(home.file(QStringLiteral("Edits/Other.prproj")), QStringLiteral("P9"));
    QDir().mkpath(QFTombrelBackup::cachesFolder());
    const QString cache = QFTombrelBackup::cachesFolder() + QStringLiteral("/P1.localized.cache.plist");
    const QString otherCache = QFTombrelBackup::cachesFolder() + QStringLiteral("/P9.localized.cache.plist");
    ASSERT_TRUE(QFPropertyList::write(cache, QVariantMap()));
    ASSERT_TRUE(QFPropertyList::write(otherCache, QVariantMap()));

    ASSERT_TRUE(QFProjectActions::removeProject(folder));
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_FALSE(QFileInfo::exists(cache));
    EXPECT_EQ(trashed(), QStringList { QStringLiteral("P1.localized") });
    EXPECT_TRUE(QFileInfo::exists(projectPath));
    EXPECT_TRUE(QFileInfo::exists(other));
    EXPECT_TRUE(QFileInfo::exists(otherCache));
    ASSERT_EQ(QFProject::projectsInStorageRoot().size(), 1);
    EXPECT_EQ(QFProject::projectsInStorageRoot().first().projectID, QStringLiteral("P9"));
}

TEST_F(QFProjectActionsTest, RelinkingPointsTheProjectAtAnExistingFileOfItsOwn)
{
    const QString moved = home.write(QStringLiteral("Moved/Cut v2.prproj"), "x");
    Builder::addProject(home.file(QStringLiteral("Edits/Other.prproj")), QStringLiteral("P9"));
    QFProject record = project();
    QString error;
    EXPECT_FALSE(QFProjectActions::relinkProject(record, home.file(QStringLiteral("Moved/none.prproj")), &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("no such file: ")));
    EXPECT_FALSE(QFProjectActions::relinkProject(record, home.file(QStringLiteral("Edits/Other.prproj")), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("P9"))) << qPrintable(error);
    EXPECT_EQ(QFProject::readProjectFolder(folder)->path, projectPath);

    ASSERT_TRUE(QFProjectActions::relinkProject(record, moved, &error)) << qPrintable(error);
    EXPECT_EQ(record.projectPath(), moved);
    EXPECT_EQ(record.friendlyName(), QStringLiteral("Cut v2"));
    EXPECT_EQ(QFProject::readProjectFolder(folder)->path, moved);
    // Its versions stay where they are.
    EXPECT_EQ(Builder::versionNames(folder).size(), 2);
}

TEST_F(QFProjectActionsTest, ADeletedVersionTakesItsNoteAlong)
{
    const QString notes = folder + QStringLiteral("/Annotations.plist");
    ASSERT_TRUE(
        QFProjectActions::annotateVersion(version(QStringLiteral("Cut.00001.prproj")), QStringLiteral("first")));
    ASSERT_TRUE(
        QFProjectActions::annotateVersion(version(QStringLiteral("Cut.00002.prproj")), QStringLiteral("second")));
    EXPECT_TRUE(QFProjectActions::deleteVersions({ version(QStringLiteral("Cut.00002.prproj")) }).isEmpty());
    EXPECT_EQ(QFPropertyList::readDictionary(notes),
        (QVariantMap { { QStringLiteral("Cut.00001.prproj"), QStringLiteral("first") } }));

    // The next backup takes the freed number and shows no note of the deleted version.
    Builder::setModified(projectPath, QDateTime::currentDateTime().addSecs(-60));
    QFTombrelBackup engine;
    QString created;
    ASSERT_FALSE(engine.backupProjectFile(projectPath, folder + QStringLiteral("/Versions"), 2, &created).has_value());
    EXPECT_EQ(QFileInfo(created).fileName(), QStringLiteral("Cut.00002.prproj"));
    EXPECT_EQ(QFTombrelBackup::annotationForFile(created), QString());

    // Retention removes notes the same way; the file goes with its last note.
    EXPECT_TRUE(engine.removeBackup(version(QStringLiteral("Cut.00001.prproj")), 1, false));
    EXPECT_FALSE(QFileInfo::exists(notes));
}

TEST_F(QFProjectActionsTest, AVersionThatStaysKeepsItsNoteCacheAndSyncedCopy)
{
    ASSERT_TRUE(
        QFProjectActions::annotateVersion(version(QStringLiteral("Cut.00001.prproj")), QStringLiteral("keep me")));
    const QString cache = QFTombrelBackup::cachesFolder() + QStringLiteral("/P1.localized.cache.plist");
    QDir().mkpath(QFTombrelBackup::cachesFolder());
    const QVariantMap entries { { QStringLiteral("Cut.00001.prproj"),
                                    QVariantMap { { QStringLiteral("type"), QStringLiteral("file") } } },
        { QStringLiteral("Cut.00002.prproj"), QVariantMap { { QStringLiteral("type"), QStringLiteral("file") } } } };
    ASSERT_TRUE(QFPropertyList::write(cache, entries));
    // Every version is older than 90 days, and removals would reach the synced copies.
    Builder::setModified(version(QStringLiteral("Cut.00001.prproj")), QDateTime::currentDateTime().addDays(-200));
    Builder::setModified(version(QStringLiteral("Cut.00002.prproj")), QDateTime::currentDateTime().addDays(-100));
    Builder::setPreferences(
        { { QStringLiteral("syncService"), qint64(1) }, { QStringLiteral("currentDayCount"), qint64(1) },
            { QStringLiteral("backupManagementMinLimitSet"), qint64(0) } });

    QFLog::createNewLog(QStringLiteral("ActionsTest"));
    QFLocalPaths::setRootOverride(false); // no administrator's command to fall back on
    {
        const FrozenFolder frozen(folder + QStringLiteral("/Versions"));
        if (!frozen.frozen())
            GTEST_SKIP() << "no folder here refuses removals";
        QFTombrelBackup engine;
        EXPECT_FALSE(engine.removeBackup(version(QStringLiteral("Cut.00001.prproj")), 0, true));
        engine.manageBackups();
    }
    QFLocalPaths::setRootOverride(std::nullopt);
    EXPECT_EQ(Builder::versionNames(folder),
        (QStringList { QStringLiteral("Cut.00001.prproj"), QStringLiteral("Cut.00002.prproj") }));
    EXPECT_EQ(
        QFTombrelBackup::annotationForFile(version(QStringLiteral("Cut.00001.prproj"))), QStringLiteral("keep me"));
    EXPECT_EQ(QFPropertyList::readDictionary(cache), entries);
    for (const QString &line : home.logMessages(QStringLiteral("ActionsTest")))
        EXPECT_FALSE(line.startsWith(QStringLiteral("Removing files from Dropbox"))) << qPrintable(line);
}

TEST_F(QFProjectActionsTest, ARemovalThatFailsIsReportedAndAsksNothingOfTheSyncService)
{
    Builder::setPreferences({ { QStringLiteral("syncService"), qint64(1) } });
    QFLocalPaths::setRootOverride(false); // no administrator's command to fall back on
    QFProjectActions::RemovalReport report;
    {
        const FrozenFolder frozen(folder + QStringLiteral("/Versions"));
        if (!frozen.frozen())
            GTEST_SKIP() << "no folder here refuses removals";
        report = QFProjectActions::removeVersions(
            { version(QStringLiteral("Cut.00001.prproj")), version(QStringLiteral("Cut.00002.prproj")) });
    }
    QFLocalPaths::setRootOverride(std::nullopt);
    EXPECT_FALSE(report.succeeded());
    EXPECT_TRUE(report.removed.isEmpty());
    EXPECT_EQ(report.remaining,
        (QStringList { version(QStringLiteral("Cut.00001.prproj")), version(QStringLiteral("Cut.00002.prproj")) }));
    ASSERT_EQ(report.failures.size(), 2);
    EXPECT_TRUE(report.failures.first().contains(version(QStringLiteral("Cut.00001.prproj"))))
        << qPrintable(report.failures.first());
    EXPECT_TRUE(report.syncedCopiesAsked.isEmpty()) << "a version that stays keeps its synced copy";
    EXPECT_EQ(Builder::versionNames(folder).size(), 2);
}

TEST_F(QFProjectActionsTest, RemovedVersionsAndProjectsHaveTheirSyncedCopiesAskedFor)
{
    // Programs but the application hand the removal to it; this one writes its arguments down.
    std::optional<QFRecordingApplication> application(std::in_place, home);
    const auto requested = [&] {
        QStringList paths;
        const QStringList lines = application->arguments();
        for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
            if (lines.at(i) == QLatin1String("-removeRemote"))
                paths += QFAppRequest::decodeRemotePathList(lines.at(i + 1));
        }
        return paths;
    };
    const QString other = Builder::addProject(home.file(QStringLiteral("Edits/Other.prproj")), QStringLiteral("P9"));
    const QString third = Builder::addProject(home.file(QStringLiteral("Edits/Third.prproj")), QStringLiteral("P8"));

    {
        SCOPED_TRACE("sync off: nothing is asked");
        const auto report = QFProjectActions::removeVersions({ version(QStringLiteral("Cut.00001.prproj")) });
        EXPECT_EQ(report.removed, QStringList { version(QStringLiteral("Cut.00001.prproj")) });
        EXPECT_TRUE(report.syncedCopiesAsked.isEmpty());
    }
    Builder::setPreferences({ { QStringLiteral("syncService"), qint64(1) } });
    {
        SCOPED_TRACE("a version");
        const auto report = QFProjectActions::removeVersions({ version(QStringLiteral("Cut.00002.prproj")) });
        EXPECT_TRUE(report.succeeded());
        EXPECT_EQ(report.syncedCopiesAsked, QStringList { version(QStringLiteral("Cut.00002.prproj")) });
        ASSERT_TRUE(waitUntil([&] { return requested().size() == 1; }, 10000));
        EXPECT_EQ(requested(), report.syncedCopiesAsked);
    }
    {
        SCOPED_TRACE("a project");
        const auto report = QFProjectActions::removeProjects({ other });
        EXPECT_EQ(report.removed, QStringList { other });
        EXPECT_FALSE(QFileInfo::exists(other));
        EXPECT_EQ(report.syncedCopiesAsked, QStringList { other });
        ASSERT_TRUE(waitUntil([&] { return requested().size() == 2; }, 10000));
        EXPECT_EQ(requested().last(), other);
    }
    Builder::setPreferences(
        { { QStringLiteral("syncService"), qint64(1) }, { QStringLiteral("syncDeleteRemoteFiles"), qint64(0) } });
    {
        SCOPED_TRACE("removals kept from the sync service, unless asked whenever sync is on");
        EXPECT_TRUE(QFProjectActions::removeProjects({ third }, QFProjectActions::SyncedCopies::Keep)
                        .syncedCopiesAsked.isEmpty());
        EXPECT_TRUE(QFProjectActions::removeProjects({ folder }).syncedCopiesAsked.isEmpty());
        const QString fourth
            = Builder::addProject(home.file(QStringLiteral("Edits/Fourth.prproj")), QStringLiteral("P7"));
        EXPECT_EQ(QFProjectActions::removeProjects({ fourth }, QFProjectActions::SyncedCopies::WhenSyncIsOn)
                      .syncedCopiesAsked,
            QStringList { fourth });
        ASSERT_TRUE(waitUntil([&] { return requested().size() == 3; }, 10000));
        EXPECT_EQ(requested().last(), fourth);
    }
    application.reset();
    {
        SCOPED_TRACE("a project folder that cannot go is reported");
        const QString fifth
            = Builder::addProject(home.file(QStringLiteral("Edits/Fifth.prproj")), QStringLiteral("P6"));
        QFLocalPaths::setRootOverride(false); // no administrator's command to fall back on
        QFProjectActions::RemovalReport report;
        {
            const FrozenFolder frozen(QFileInfo(fifth).absolutePath());
            if (!frozen.frozen())
                GTEST_SKIP() << "no folder here refuses removals";
            report = QFProjectActions::removeProjects({ fifth }, QFProjectActions::SyncedCopies::WhenSyncIsOn);
        }
        QFLocalPaths::setRootOverride(std::nullopt);
        EXPECT_FALSE(report.succeeded());
        EXPECT_EQ(report.remaining, QStringList { fifth });
        ASSERT_EQ(report.failures.size(), 1);
        EXPECT_TRUE(report.failures.first().contains(fifth)) << qPrintable(report.failures.first());
        EXPECT_TRUE(report.syncedCopiesAsked.isEmpty());
        EXPECT_TRUE(QFileInfo::exists(fifth));
    }
}
