#include "tests/cli/CommandTestSupport.h"

#include "engine/QFProject.h"
#include "foundation/platform/QFPropertyList.h"
#include "tests/support/QFFullDisk.h"
#include "tests/support/QFSyncTestSupport.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using Builder = QFVersionStoreBuilder;

class CommandVersionActionsTest : public CommandTest {
protected:
    void SetUp() override
    {
        CommandTest::SetUp();
        projectPath = home.file(QStringLiteral("Edits/Cut.prproj"));
        folder = Builder::addProject(projectPath, QStringLiteral("P1"), "current");
        Builder::addVersions(folder,
            { { QStringLiteral("Cut.00001.prproj"), {}, "one" }, { QStringLiteral("Cut.00002.prproj"), {}, "two" },
                { QStringLiteral("Cut.00003.prproj"), {}, "three" } });
    }
    QString version(const QString &name) const { return folder + QStringLiteral("/Versions/") + name; }
    QString notesFile() const { return folder + QStringLiteral("/Annotations.plist"); }

    QString projectPath;
    QString folder;
};

} // namespace

TEST_F(CommandVersionActionsTest, RestoreCopiesTheVersionInAndTheOldFileToTheTrash)
{
    const CommandResult r = runTombrel({ QStringLiteral("restore"), QStringLiteral("Cut"), QStringLiteral("00002") });
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_TRUE(r.err.isEmpty()) << r;
    EXPECT_EQ(r.out,
        QStringLiteral("The backup was restored successfully.\n  %1\n  -> %2\nThe replaced file is in the Trash.\n")
            .arg(version(QStringLiteral("Cut.00002.prproj")), projectPath));
    EXPECT_EQ(contents(projectPath), "two");
    EXPECT_EQ(trashed(), QStringList { QStringLiteral("Cut 2.prproj") });
    const auto prefs = QFPropertyList::readDictionary(QFProject::preferenceFilePath());
    ASSERT_TRUE(prefs);
    EXPECT_EQ(prefs->value(QStringLiteral("lastRestoredProject")).toString(), projectPath);
    EXPECT_EQ(prefs->value(QStringLiteral("lastRestoreDate")).metaType().id(), QMetaType::QDateTime);

    // By identifier or path, and with the number written plainly, too.
    ASSERT_EQ(runTombrel({ QStringLiteral("restore"), QStringLiteral("P1"), QStringLiteral("3") }).status, 0);
    EXPECT_EQ(contents(projectPath), "three");
    ASSERT_EQ(runTombrel({ QStringLiteral("restore"), projectPath, QStringLiteral("1") }).status, 0);
    EXPECT_EQ(contents(projectPath), "one");
    EXPECT_EQ(trashed().size(), 3);
}

TEST_F(CommandVersionActionsTest, RestoreBringsBackADeletedProjectFile)
{
    ASSERT_TRUE(QFile::remove(projectPath));
    const CommandResult r = runTombrel({ QStringLiteral("restore"), QStringLiteral("P1"), QStringLiteral("2") });
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_FALSE(r.out.contains(QStringLiteral("Trash"))) << r;
    EXPECT_EQ(contents(projectPath), "two");
    EXPECT_TRUE(trashed().isEmpty());
}

TEST_F(CommandVersionActionsTest, RestoringAnXMLCompanionRestoresItsFinalCutProFile)
{
    const QString edit = home.file(QStringLiteral("Edits/Edit.fcp"));
    const QString editFolder = Builder::addProject(edit, QStringLiteral("P2"), "current");
    Builder::addVersions(editFolder,
        { { QStringLiteral("Edit.00004.fcp"), {}, "binary" }, { QStringLiteral("Edit.00004.xml"), {}, "<xmeml/>" } });
    const CommandResult r
        = runTombrel({ QStringLiteral("restore"), QStringLiteral("P2"), QStringLiteral("Edit.00004.xml") });
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_TRUE(r.out.contains(editFolder + QStringLiteral("/Versions/Edit.00004.fcp\n"))) << r;
    EXPECT_EQ(contents(edit), "binary");
}

TEST_F(CommandVersionActionsTest, AnXMLCopyWhoseBinaryVersionIsGoneIsNotRestored)
{
    const QString edit = home.file(QStringLiteral("Edits/Edit.fcp"));
    const QString editFolder = Builder::addProject(edit, QStringLiteral("P2"), "current");
    Builder::addVersions(editFolder, { { QStringLiteral("Edit.00004.xml"), {}, "<xmeml/>" } });
    const CommandResult r
        = runTombrel({ QStringLiteral("restore"), QStringLiteral("P2"), QStringLiteral("Edit.00004.xml") });
    EXPECT_EQ(r.status, 1) << r;
    EXPECT_TRUE(r.err.startsWith(
        QStringLiteral("tombrel: restore: Unable to restore project. Only the XML copy of this version is left")))
        << r;
    EXPECT_EQ(contents(edit), "current");
    EXPECT_TRUE(trashed().isEmpty());
}

TEST_F(CommandVersionActionsTest, AFailedCopyLeavesTheProjectFileAsItWas)
{
    // A version nobody can copy (a named pipe), whatever the user's rights.
    const QString pipe = version(QStringLiteral("Cut.00004.prproj"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0644), 0);
    const QStringList editsBefore
        = QDir(home.file(QStringLiteral("Edits"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

    const CommandResult r = runTombrel({ QStringLiteral("restore"), QStringLiteral("Cut"), QStringLiteral("4") });
    EXPECT_EQ(r.status, 1) << r;
    EXPECT_EQ(r.err, QStringLiteral("tombrel: restore: Failed to restore project. Unable to copy file.\n"));
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_EQ(contents(projectPath), "current");
    EXPECT_EQ(
        QDir(home.file(QStringLiteral("Edits"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        editsBefore);
    EXPECT_TRUE(trashed().isEmpty());
}

TEST_F(CommandVersionActionsTest, ARestoreToAnUnmountedVolumeIsRefusedWithNothingChanged)
{
    QFFileManager::setMountTableReader([] { return QByteArray("22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"); });
    // Registered while the drive was there; its project file is out of reach now.
    const QFProject offline = QFProject::projectWithPath(
        QStringLiteral("/mnt/QFNotMountedMedia/Edit.prproj"), std::nullopt, QStringLiteral("P3"));
    Builder::addVersions(offline.destinationPath(), { { QStringLiteral("Edit.00001.prproj"), {}, "one" } });
    const QStringList before = homeTree();

    const CommandResult r = runTombrel({ QStringLiteral("restore"), QStringLiteral("P3"), QStringLiteral("1") });
    EXPECT_EQ(r.status, 1) << r;
    EXPECT_EQ(r.err,
        QStringLiteral(
            "tombrel: restore: Unable to restore project. The destination is on a volume that is not mounted.\n"));
    EXPECT_EQ(homeTree(), before);
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/mnt/QFNotMountedMedia")));
}

TEST_F(CommandVersionActionsTest, RestoreNamesWhatItCannotFind)
{
    const QStringList before = homeTree();
    CommandResult r = runTombrel({ QStringLiteral("restore"), QStringLiteral("Nope"), QStringLiteral("1") });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, QStringLiteral("tombrel: restore: no project 'Nope'; see tombrel projects\n"));
    r = runTombrel({ QStringLiteral("restore"), QStringLiteral("Cut"), QStringLiteral("9") });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, QStringLiteral("tombrel: restore: there is no version 9\n"));
    EXPECT_EQ(runTombrel({ QStringLiteral("restore"), QStringLiteral("Cut") }).status, 2);
    EXPECT_EQ(
        runTombrel({ QStringLiteral("restore"), QStringLiteral("Cut"), QStringLiteral("1"), QStringLiteral("--force") })
            .status,
        2);
    EXPECT_EQ(homeTree(), before);
}

TEST_F(CommandVersionActionsTest, AnnotateSetsOneLineNotesAndAnEmptyTextRemovesThem)
{
    CommandResult r = runTombrel({ QStringLiteral("annotate"), QStringLiteral("Cut"), QStringLiteral("2"),
        QStringLiteral("picture lock\nfor the client") });
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, QStringLiteral("note set on Cut.00002.prproj\n"));
    // A note that looks like an option comes after "--".
    r = runTombrel({ QStringLiteral("annotate"), QStringLiteral("Cut"), QStringLiteral("3"), QStringLiteral("--"),
        QStringLiteral("--draft--") });
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(QFPropertyList::readDictionary(notesFile()),
        (QVariantMap { { QStringLiteral("Cut.00002.prproj"), QStringLiteral("picture lock for the client") },
            { QStringLiteral("Cut.00003.prproj"), QStringLiteral("--draft--") } }));

    r = runTombrel({ QStringLiteral("versions"), QStringLiteral("Cut"), QStringLiteral("--json") });
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.contains(QStringLiteral("\"annotation\": \"picture lock for the client\""))) << r;

    r = runTombrel({ QStringLiteral("annotate"), QStringLiteral("Cut"), QStringLiteral("00002"), QString() });
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, QStringLiteral("note removed from Cut.00002.prproj\n"));
    ASSERT_EQ(
        runTombrel({ QStringLiteral("annotate"), QStringLiteral("Cut"), QStringLiteral("3"), QString() }).status, 0);
    EXPECT_FALSE(QFileInfo::exists(notesFile()));

    EXPECT_EQ(runTombrel({ QStringLiteral("annotate"), QStringLiteral("Cut"), QStringLiteral("3") }).status, 2);
    r = runTombrel({ QStringLiteral("annotate"), QStringLiteral("Cut"), QStringLiteral("8"), QStringLiteral("x") });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, QStringLiteral("tombrel: annotate: there is no version 8\n"));
}

TEST_F(CommandVersionActionsTest, AnnotateLeavesADamagedNotesFileAlone)
{
    const QString notes = home.write(
        QStringLiteral(".local/share/Quenfield/Pro Tombrel/Projects/P1.localized/Annotations.plist"), "garbage");
    const CommandResult r
        = runTombrel({ QStringLiteral("annotate"), QStringLiteral("Cut"), QStringLiteral("1"), QStringLiteral("x") });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, QStringLiteral("tombrel: annotate: %1 cannot be read; no note was changed\n").arg(notes));
    EXPECT_EQ(contents(notes), "garbage");
}

TEST_F(CommandVersionActionsTest, DeleteSendsVersionsWithTheirCompanionsToTheTrash)
{
    Builder::addVersions(folder,
        { { QStringLiteral("Cut.00004.fcp"), {} }, { QStringLiteral("Cut.00004.xml"), {} },
            { QStringLiteral("Screenshots/Cut.00004.jpg"), {} }, { QStringLiteral("Screenshots/Cut.00001.jpg"), {} } });
    const CommandResult r = runTombrel({ QStringLiteral("delete"), QStringLiteral("Cut"), QStringLiteral("1"),
        QStringLiteral("00004"), QStringLiteral("1") });
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, QStringLiteral("moved to the Trash: Cut.00001.prproj\nmoved to the Trash: Cut.00004.fcp\n"));
    EXPECT_EQ(Builder::versionNames(folder),
        QStringList({ QStringLiteral("Cut.00002.prproj"), QStringLiteral("Cut.00003.prproj") }));
    EXPECT_TRUE(QDir(folder + QStringLiteral("/Screenshots")).isEmpty());
    EXPECT_EQ(trashed(),
        QStringList({ QStringLiteral("Cut.00001.jpg"), QStringLiteral("Cut.00001.prproj"),
            QStringLiteral("Cut.00004.fcp"), QStringLiteral("Cut.00004.jpg"), QStringLiteral("Cut.00004.xml") }));
    EXPECT_EQ(contents(projectPath), "current");
}

TEST_F(CommandVersionActionsTest, DeleteWithAMistypedVersionDeletesNothing)
{
    const QStringList before = homeTree();
    const CommandResult r
        = runTombrel({ QStringLiteral("delete"), QStringLiteral("Cut"), QStringLiteral("1"), QStringLiteral("7") });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, QStringLiteral("tombrel: delete: there is no version 7; nothing was deleted\n"));
    EXPECT_EQ(homeTree(), before);
    EXPECT_EQ(runTombrel({ QStringLiteral("delete"), QStringLiteral("Cut") }).status, 2);
}

TEST_F(CommandVersionActionsTest, AnnotateOnAFullDiskFailsAndKeepsEveryNote)
{
    ASSERT_EQ(runTombrel({ QStringLiteral("annotate"), QStringLiteral("Cut"), QStringLiteral("1"),
                             QStringLiteral("rough cut") })
                  .status,
        0);
    const QByteArray before = contents(notesFile());
    CommandResult r;
    {
        const QFFullDisk full;
        r = runTombrel(
            { QStringLiteral("annotate"), QStringLiteral("Cut"), QStringLiteral("2"), QStringLiteral("fine cut") });
    }
    EXPECT_EQ(r.status, 1) << r;
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("tombrel: annotate: cannot write %1: ").arg(notesFile()))) << r;
    EXPECT_EQ(contents(notesFile()), before);
}

TEST_F(CommandVersionActionsTest, NotesOfProgramsWritingAtOnceAreAllKept)
{
    // Pairs of programs annotating two versions of one project at the same moment.
    constexpr int kRounds = 12;
    for (int i = 0; i < kRounds; ++i) {
        const std::vector<int> statuses = runTombrelProcessesTogether({
            { QStringLiteral("annotate"), QStringLiteral("Cut"), QStringLiteral("1"), QStringLiteral("one %1").arg(i) },
            { QStringLiteral("annotate"), QStringLiteral("P1"), QStringLiteral("2"), QStringLiteral("two %1").arg(i) },
        });
        ASSERT_EQ(statuses, (std::vector<int> { 0, 0 }));
        ASSERT_EQ(QFPropertyList::readDictionary(notesFile()),
            (QVariantMap { { QStringLiteral("Cut.00001.prproj"), QStringLiteral("one %1").arg(i) },
                { QStringLiteral("Cut.00002.prproj"), QStringLiteral("two %1").arg(i) } }))
            << "round " << i;
    }
}

TEST_F(CommandVersionActionsTest, EveryCommandNamesVersionsAlike)
{
    // A project file without an extension gives versions named "Edit.00007".
    const QString edit = home.file(QStringLiteral("Edits/Edit"));
    const QString editFolder = Builder::addProject(edit, QStringLiteral("P2"), "current");
    const auto addVersion = [&] {
        Builder::addVersions(editFolder, { { QStringLiteral("Edit.00007"), {}, "seven" } });
    };
    addVersion();
    const QStringList commands { QStringLiteral("changes"), QStringLiteral("annotate"), QStringLiteral("restore"),
        QStringLiteral("delete") };
    const auto run = [&](const QString &command, const QString &version) {
        QStringList arguments { command, QStringLiteral("P2"), version };
        if (command == QLatin1String("annotate"))
            arguments << QStringLiteral("a note");
        return runTombrel(arguments);
    };
    for (const QString &version : { QStringLiteral("7"), QStringLiteral("00007"), QStringLiteral("Edit.00007") }) {
        for (const QString &command : commands) {
            SCOPED_TRACE(qPrintable(command + u' ' + version));
            EXPECT_EQ(run(command, version).status, 0) << run(command, version);
        }
        addVersion();
    }
    for (const QString &version : { QStringLiteral("8"), QStringLiteral("+7"), QStringLiteral("7.0"),
             QStringLiteral("-1"), QStringLiteral("seven") }) {
        for (const QString &command : commands) {
            SCOPED_TRACE(qPrintable(command + u' ' + version));
            const CommandResult r = run(command, version);
            EXPECT_NE(r.status, 0) << r;
            EXPECT_TRUE(r.err.contains(QStringLiteral("no version"))) << r;
        }
    }
}

TEST_F(CommandVersionActionsTest, DeletingAVersionWithSyncOnRemovesItsDropboxCopyWithoutADisplay)
{
    QFFakeDropbox dropbox;
    ASSERT_TRUE(dropbox.listen());
    synctest::pointAtFake(dropbox);
    synctest::linkAccount(dropbox);
    dropbox.putFile(QStringLiteral("/P1/Cut.00001.prproj.zip"), "one");
    dropbox.putFile(QStringLiteral("/P1/Cut.00002.prproj.zip"), "two");

    // As on a server or over ssh: no display, and no session bus either.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS" })
        environment.remove(QString::fromLatin1(name));
    QProcess tombrel;
    tombrel.setProcessEnvironment(environment);
    tombrel.start(qEnvironmentVariable("QF_BUNDLE_DIR") + QStringLiteral("/Contents/MacOS/tombrel"),
        { QStringLiteral("delete"), QStringLiteral("Cut"), QStringLiteral("1") });
    ASSERT_TRUE(tombrel.waitForFinished(60000));
    EXPECT_EQ(tombrel.exitCode(), 0) << tombrel.readAllStandardError().toStdString();
    EXPECT_EQ(tombrel.readAllStandardOutput(), QByteArray("moved to the Trash: Cut.00001.prproj\n"));

    // The application, started for the removal, is served from this test's event loop.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dropbox.hasFile(QStringLiteral("/P1/Cut.00001.prproj.zip")); }, 30000))
        << qPrintable(dropbox.filePaths().join(u' '));
    EXPECT_EQ(dropbox.filePaths(), QStringList { QStringLiteral("/P1/Cut.00002.prproj.zip") });
}
