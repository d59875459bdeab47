#include "foundation/QFFileManager.h"

#include "foundation/QFAuthorization.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFFileCopy.h"
#include "foundation/platform/QFMountTable.h"
#include "foundation/platform/QFShutdown.h"
#include "tests/support/QFFrozenFolder.h"
#include "tests/support/QFTempHome.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QScopeGuard>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <list>
#include <optional>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <zip.h>

namespace {

class QFFileManagerTest : public TempHomeTest {
protected:
    void TearDown() override { QFFileManager::setMountTableReader({}); }

    QString make(const QString &relative, const QByteArray &contents = "data")
    {
        return home.write(relative, contents);
    }
    static QDateTime mtime(const QString &path) { return QFileInfo(path).fileTime(QFileDevice::FileModificationTime); }
    static void setMtime(const QString &path, const QDateTime &when)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(when, QFileDevice::FileModificationTime));
    }
    static QByteArray read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static QByteArray linkTarget(const QString &path)
    {
        QByteArray target(4096, '\0');
        const ssize_t n = ::readlink(QFile::encodeName(path).constData(), target.data(), size_t(target.size()));
        target.truncate(n < 0 ? 0 : n);
        return target;
    }
    // Every entry below a folder, with its kind, for comparing trees.
    static QStringList tree(const QString &root)
    {
        QStringList out;
        QDir dir(root);
        for (const QFileInfo &info :
            dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
            const QString kind = info.isSymLink()
                ? QStringLiteral("link->") + QFile::decodeName(linkTarget(info.filePath()))
                : info.isDir() ? QStringLiteral("dir")
                               : QString::fromUtf8(read(info.filePath()));
            out << info.fileName() + u' ' + kind + u' ' + QString::number(info.permissions(), 8);
            if (info.isDir() && !info.isSymLink()) {
                for (const QString &child : tree(info.filePath()))
                    out << info.fileName() + u'/' + child;
            }
        }
        return out;
    }
    // Names that have broken tools that went through a shell or read a dash as an option.
    static QStringList awkwardNames()
    {
        return { QStringLiteral("My Cut.prproj"), QStringLiteral("it's \"final\".fcp"),
            QStringLiteral("line\nbreak.fcp"), QStringLiteral("-rf"), QStringLiteral("Schnitt für Über.fcp"),
            QStringLiteral("$(touch pwned)") };
    }
};

} // namespace

TEST_F(QFFileManagerTest, UniqueFilenamesAndSizes)
{
    make(QStringLiteral("a/Cut.prproj"));
    EXPECT_EQ(QFFileManager::uniqueFilename(home.file(QStringLiteral("a/Cut.prproj"))),
        home.file(QStringLiteral("a/Cut 2.prproj")));
    make(QStringLiteral("a/Cut 2.prproj"));
    EXPECT_EQ(QFFileManager::uniqueFilename(home.file(QStringLiteral("a/Cut.prproj"))),
        home.file(QStringLiteral("a/Cut 3.prproj")));
    make(QStringLiteral("a/Notes"));
    EXPECT_EQ(
        QFFileManager::uniqueFilename(home.file(QStringLiteral("a/Notes"))), home.file(QStringLiteral("a/Notes 2")));
    EXPECT_EQ(QFFileManager::uniqueFilename(home.file(QStringLiteral("a/free.fcp"))),
        home.file(QStringLiteral("a/free.fcp")));
    make(QStringLiteral("a/.hidden"));
    EXPECT_EQ(QFFileManager::uniqueFilename(home.file(QStringLiteral("a/.hidden"))),
        home.file(QStringLiteral("a/.hidden 2")));

    EXPECT_EQ(QFFileManager::formatFileSize(1023), QStringLiteral("1023 B"));
    EXPECT_EQ(QFFileManager::formatFileSize(1024), QStringLiteral("1.00 KB"));
    EXPECT_EQ(QFFileManager::formatFileSize(1048576), QStringLiteral("1.00 MB"));
    EXPECT_EQ(QFFileManager::formatFileSize(1073741824), QStringLiteral("1.00 GB"));
    EXPECT_EQ(QFFileManager::formatFileSize(0), QStringLiteral("0 B"));

    make(QStringLiteral("sizes/a"), QByteArray(100, 'x'));
    make(QStringLiteral("sizes/sub/b"), QByteArray(28, 'y'));
    EXPECT_EQ(QFFileManager::fileSize(home.file(QStringLiteral("sizes"))), 128u);
    EXPECT_EQ(QFFileManager::fileSize(home.file(QStringLiteral("nothing"))), 0u);
}

TEST_F(QFFileManagerTest, FolderEmptiness)
{
    const QString folder = home.file(QStringLiteral("empty"));
    QDir().mkpath(folder + QStringLiteral("/sub/deeper"));
    EXPECT_TRUE(QFFileManager::isFolderEmpty(folder));
    make(QStringLiteral("empty/.DS_Store"));
    make(QStringLiteral("empty/sub/Icon\r"));
    EXPECT_TRUE(QFFileManager::isFolderEmpty(folder));
    make(QStringLiteral("empty/sub/deeper/.keep"), "");
    EXPECT_FALSE(QFFileManager::isFolderEmpty(folder));
    QFile::remove(folder + QStringLiteral("/sub/deeper/.keep"));
    EXPECT_TRUE(QFFileManager::removeFolderIfEmpty(folder));
    EXPECT_FALSE(QFileInfo::exists(folder));
}

TEST_F(QFFileManagerTest, DirectoriesOnVolumesThatAreNotMountedAreNeverCreated)
{
    QFFileManager::setMountTableReader([] {
        return QByteArray("22 1 8:1 / / rw,relatime - ext4 /dev/sda1 rw\n"
                          "40 22 8:17 / /mnt/Work\\040Drive rw - ext4 /dev/sdb1 rw\n");
    });
    EXPECT_TRUE(QFFileManager::isDriveMountedForPath(QStringLiteral("/mnt/Work Drive/Projects/a.fcp")));
    EXPECT_FALSE(QFFileManager::isDriveMountedForPath(QStringLiteral("/mnt/Missing/Projects")));
    EXPECT_FALSE(QFFileManager::isDriveMountedForPath(QStringLiteral("/media/ed/Missing/x")));
    EXPECT_TRUE(QFFileManager::isDriveMountedForPath(home.file(QStringLiteral("x"))));

    const QString missing = QStringLiteral("/mnt/qf-missing-volume-%1").arg(getpid());
    EXPECT_FALSE(QFFileManager::createDirectory(missing + QStringLiteral("/Projects"), false));
    EXPECT_FALSE(QFFileManager::createDirectory(missing + QStringLiteral("/Projects"), 2));
    EXPECT_FALSE(QFileInfo::exists(missing));

    EXPECT_TRUE(QFFileManager::createDirectory(home.file(QStringLiteral("made/deep/er")), 5));
    EXPECT_TRUE(QFileInfo(home.file(QStringLiteral("made/deep/er"))).isDir());
}

TEST_F(QFFileManagerTest, RemovingOrTrashingNothingSucceeds)
{
    EXPECT_TRUE(QFFileManager::removeFile(home.file(QStringLiteral("nothing")), false));
    EXPECT_TRUE(QFFileManager::trashFile(home.file(QStringLiteral("nothing")), false));
    EXPECT_TRUE(QFFileManager::removeFile(home.file(QStringLiteral("nothing")), 1));
}

TEST_F(QFFileManagerTest, TrashGoesToTheUsersTrashInAFreshHome)
{
    QDir(home.file(QStringLiteral(".local"))).removeRecursively();
    const QString file = make(QStringLiteral("Desktop/a.prproj"), "first");
    ASSERT_TRUE(QFFileManager::trashFile(file, 5));
    EXPECT_FALSE(QFileInfo::exists(file));
    EXPECT_EQ(read(home.file(QStringLiteral(".local/share/Trash/files/a.prproj"))), QByteArray("first"));
    EXPECT_FALSE(QFileInfo::exists(home.file(QStringLiteral("Desktop/files"))))
        << "never a Trash of the current folder";
}

TEST_F(QFFileManagerTest, ChangingOnlyTheLetterCaseRenames)
{
    const QString lower = make(QStringLiteral("a/edit.fcp"), "cut");
    const QString upper = home.file(QStringLiteral("a/Edit.fcp"));
    ASSERT_TRUE(QFFileManager::moveFile(lower, upper, 5));
    EXPECT_EQ(QDir(home.file(QStringLiteral("a"))).entryList(QDir::Files), QStringList { QStringLiteral("Edit.fcp") });
    EXPECT_EQ(read(upper), QByteArray("cut"));
}

TEST_F(QFFileManagerTest, MovingNeverReplacesAnExistingItem)
{
    const QString a = make(QStringLiteral("m/a"), "a");
    const QString b = make(QStringLiteral("m/b"), "b");
    EXPECT_FALSE(QFFileManager::moveFile(a, b, false));
    EXPECT_FALSE(QFFileManager::moveFile(a, b, true));
    EXPECT_EQ(read(a), QByteArray("a"));
    EXPECT_EQ(read(b), QByteArray("b"));
    ASSERT_TRUE(QFFileManager::moveFile(a, home.file(QStringLiteral("m/c")), 3));
    EXPECT_FALSE(QFileInfo::exists(a));
}

TEST_F(QFFileManagerTest, CopiesKeepTimesAndModesAndBundlesStayWhole)
{
    const QDateTime old
        = QDateTime::currentDateTime().addDays(-3).addMSecs(-QDateTime::currentDateTime().time().msec());
    const QString bundle = home.file(QStringLiteral("src/Edit.fcpbundle"));
    make(QStringLiteral("src/Edit.fcpbundle/Contents/project.xml"), "<xml/>");
    const QString tool = make(QStringLiteral("src/Edit.fcpbundle/Contents/run.sh"), "#!/bin/sh\n");
    ASSERT_TRUE(QFFileManager::setPosixPermissions(0750, tool));
    ASSERT_EQ(::symlink("project.xml", QFile::encodeName(bundle + QStringLiteral("/Contents/current")).constData()), 0);
    setMtime(tool, old);

    const QString copy = home.file(QStringLiteral("dst/Edit.fcpbundle"));
    QDir().mkpath(home.file(QStringLiteral("dst")));
    ASSERT_TRUE(QFFileManager::copyFile(bundle, copy, 5));
    EXPECT_EQ(tree(copy), tree(bundle));
    EXPECT_EQ(mtime(copy + QStringLiteral("/Contents/run.sh")), old);

    // The destination is never replaced, not even by the administrator's fallback.
    make(QStringLiteral("src/Edit.fcpbundle/Contents/new.xml"), "<new/>");
    EXPECT_FALSE(QFFileManager::copyFile(bundle, copy, false));
    EXPECT_FALSE(QFFileManager::copyFile(bundle, copy, true));
    EXPECT_FALSE(QFileInfo::exists(copy + QStringLiteral("/Contents/new.xml")));
    EXPECT_FALSE(QFileInfo::exists(copy + QStringLiteral("/Edit.fcpbundle")));
    EXPECT_TRUE(QFFileManager::copyFile(QStringLiteral(), copy, false) == false);
}

TEST_F(QFFileManagerTest, AFailedCopyLeavesNothingBehind)
{
    const QString bundle = home.file(QStringLiteral("src/Broken.fcpbundle"));
    make(QStringLiteral("src/Broken.fcpbundle/a.xml"), "<a/>");
    ASSERT_EQ(::mkfifo(QFile::encodeName(bundle + QStringLiteral("/pipe")).constData(), 0600), 0);
    QDir().mkpath(home.file(QStringLiteral("dst")));
    EXPECT_FALSE(QFFileManager::copyFile(bundle, home.file(QStringLiteral("dst/Broken.fcpbundle")), false));
    EXPECT_TRUE(QDir(home.file(QStringLiteral("dst")))
                    .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                    .isEmpty());
}

TEST_F(QFFileManagerTest, ZipRoundTripKeepsModesTimesAndLinks)
{
    const QDateTime old = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() - 86400 * 10);
    const QString bundle = home.file(QStringLiteral("src/My Cut.fcpbundle"));
    make(QStringLiteral("src/My Cut.fcpbundle/Contents/Info.plist"), "<plist/>");
    const QString tool = make(QStringLiteral("src/My Cut.fcpbundle/Contents/MacOS/run"), "#!/bin/sh\n");
    QDir().mkpath(bundle + QStringLiteral("/Contents/Empty"));
    ASSERT_TRUE(QFFileManager::setPosixPermissions(0755, tool));
    ASSERT_EQ(::symlink("MacOS/run", QFile::encodeName(bundle + QStringLiteral("/Contents/launcher")).constData()), 0);
    setMtime(tool, old);

    const QString archive = home.file(QStringLiteral("My Cut.zip"));
    ASSERT_TRUE(QFFileManager::compressFile(bundle, archive));
    const QString out = home.file(QStringLiteral("out"));
    ASSERT_TRUE(QFFileManager::decompressFile(archive, out));
    EXPECT_EQ(tree(out + QStringLiteral("/My Cut.fcpbundle")), tree(bundle));
    EXPECT_EQ(mtime(out + QStringLiteral("/My Cut.fcpbundle/Contents/MacOS/run")), old);

    // Without the parent, the archive holds the folder's contents.
    ASSERT_TRUE(QFFileManager::compressFile(bundle, archive, false));
    const QString flat = home.file(QStringLiteral("flat"));
    ASSERT_TRUE(QFFileManager::decompressFile(archive, flat));
    EXPECT_EQ(tree(flat), tree(bundle));
}

TEST_F(QFFileManagerTest, HostileArchivesAreRefusedWhole)
{
    const auto makeArchive = [&](const QString &name, const std::function<void(zip_t *)> &fill) {
        const QString path = home.file(name);
        int error = 0;
        zip_t *z = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        fill(z);
        zip_close(z);
        return path;
    };
    // The archive reads its entries' data when it is closed: keep every text until then.
    std::list<QByteArray> texts;
    const auto addFile = [&](zip_t *z, const char *name, const char *text) {
        const QByteArray &kept = texts.emplace_back(text);
        zip_source_t *s = zip_source_buffer(z, kept.constData(), zip_uint64_t(kept.size()), 0);
        zip_file_add(z, name, s, ZIP_FL_ENC_UTF_8);
    };
    const auto addLink = [&](zip_t *z, const char *name, const char *target) {
        const QByteArray &kept = texts.emplace_back(target);
        zip_source_t *s = zip_source_buffer(z, kept.constData(), zip_uint64_t(kept.size()), 0);
        const zip_int64_t i = zip_file_add(z, name, s, ZIP_FL_ENC_UTF_8);
        zip_file_set_external_attributes(z, zip_uint64_t(i), 0, ZIP_OPSYS_UNIX, zip_uint32_t(S_IFLNK | 0777) << 16);
    };
    const QString outside = home.file(QStringLiteral("outside"));
    QDir().mkpath(outside);
    const struct {
        const char *name;
        std::function<void(zip_t *)> fill;
    } cases[] = {
        { "dot-dot",
            [&](zip_t *z) {
                addFile(z, "ok.txt", "fine");
                addFile(z, "../outside/evil.txt", "evil");
            } },
        { "absolute",
            [&](zip_t *z) {
                addFile(z, QFile::encodeName(outside + QStringLiteral("/abs.txt")).constData(), "evil");
            } },
        { "nested dot-dot", [&](zip_t *z) { addFile(z, "a/b/../../../outside/evil.txt", "evil"); } },
        { "absolute link",
            [&](zip_t *z) {
                addLink(z, "link", QFile::encodeName(outside).constData());
                addFile(z, "link/evil.txt", "evil");
            } },
        { "escaping link", [&](zip_t *z) { addLink(z, "a/link", "../../outside"); } },
        { "file through a link",
            [&](zip_t *z) {
                addLink(z, "inner", "sub");
                addFile(z, "sub/x", "x");
                addFile(z, "inner/evil.txt", "evil");
            } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString archive = makeArchive(QStringLiteral("hostile.zip"), c.fill);
        const QString dest = home.file(QStringLiteral("dest/folder"));
        QDir().mkpath(home.file(QStringLiteral("dest")));
        EXPECT_FALSE(QFFileManager::decompressFile(archive, dest));
        EXPECT_FALSE(QFileInfo::exists(dest));
        EXPECT_TRUE(QDir(outside).isEmpty());
        EXPECT_TRUE(QDir(home.file(QStringLiteral("dest")))
                        .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                        .isEmpty());
    }
    // A link that stays inside is kept.
    const QString archive = makeArchive(QStringLiteral("fine.zip"), [&](zip_t *z) {
        addFile(z, "sub/x", "x");
        addLink(z, "sub/y", "../sub/x");
    });
    ASSERT_TRUE(QFFileManager::decompressFile(archive, home.file(QStringLiteral("fine"))));
    EXPECT_EQ(read(home.file(QStringLiteral("fine/sub/y"))), QByteArray("x"));
}

TEST_F(QFFileManagerTest, AwkwardNamesWorkInEveryOperation)
{
    for (const QString &name : awkwardNames()) {
        SCOPED_TRACE(qPrintable(name));
        QDir(home.file(QStringLiteral("w"))).removeRecursively();
        const QString original = make(QStringLiteral("w/") + name, "payload");
        const QString copy = home.file(QStringLiteral("w/copy of ") + name);
        ASSERT_TRUE(QFFileManager::copyFile(original, copy, 5));
        EXPECT_EQ(read(copy), QByteArray("payload"));
        const QString moved = home.file(QStringLiteral("w/moved ") + name);
        ASSERT_TRUE(QFFileManager::moveFile(copy, moved, 5));
        const QString archive = home.file(QStringLiteral("w/") + name + QStringLiteral(".zip"));
        ASSERT_TRUE(QFFileManager::compressFile(moved, archive));
        ASSERT_TRUE(QFFileManager::decompressFile(archive, home.file(QStringLiteral("w/unzipped"))));
        EXPECT_EQ(read(home.file(QStringLiteral("w/unzipped/moved ") + name)), QByteArray("payload"));
        EXPECT_TRUE(QFFileManager::touchFile(moved));
        ASSERT_TRUE(QFFileManager::trashFile(moved, 5));
        ASSERT_TRUE(QFFileManager::removeFile(original, 5));
        EXPECT_FALSE(QFileInfo::exists(original));
        EXPECT_FALSE(QFileInfo::exists(home.file(QStringLiteral("w/pwned"))));
    }
}

TEST_F(QFFileManagerTest, WaitingForWrites)
{
    QFLog::createNewLog(QStringLiteral("FileManagerTest"));
    const QString quiet = make(QStringLiteral("quiet.fcp"));
    setMtime(quiet, QDateTime::currentDateTime().addSecs(-10));
    EXPECT_TRUE(QFFileManager::waitForFileWrites(quiet));
    EXPECT_TRUE(QFFileManager::waitForFileWrites(home.file(QStringLiteral("missing.fcp"))));

    // A file that keeps looking freshly written is given up on after the longest wait.
    const QString busy = make(QStringLiteral("busy.fcp"));
    setMtime(busy, QDateTime::currentDateTime().addSecs(3600));
    EXPECT_FALSE(QFFileManager::waitForFileWrites(busy, 1));
    QFLog::finishWriting();
    const QByteArray log = read(QFLog::availableLogs().value(0));
    EXPECT_FALSE(log.contains("quiet.fcp"));
    EXPECT_TRUE(log.contains("File " + QFile::encodeName(busy) + " is currently being written to. Waiting..."));
    EXPECT_TRUE(log.contains("Skipping it for now."));
}

TEST_F(QFFileManagerTest, UnpackingOverAFolderTrashesItInTheUsersTrashFirst)
{
    const QString source = make(QStringLiteral("src/Cut.prproj"), "version 3");
    const QString archive = home.file(QStringLiteral("Cut.zip"));
    ASSERT_TRUE(QFFileManager::compressFile(source, archive));
    make(QStringLiteral("restore/Cut/old.prproj"), "what was there");
    QDir(home.file(QStringLiteral(".local"))).removeRecursively();

    ASSERT_TRUE(QFFileManager::decompressFile(archive, home.file(QStringLiteral("restore/Cut"))));
    EXPECT_EQ(read(home.file(QStringLiteral("restore/Cut/Cut.prproj"))), QByteArray("version 3"));
    EXPECT_EQ(read(home.file(QStringLiteral(".local/share/Trash/files/Cut/old.prproj"))), QByteArray("what was there"));
}

TEST_F(QFFileManagerTest, ACopyIsAbandonedWhenTheProgramIsEnding)
{
    const QString source = make(QStringLiteral("src/Cut.prproj"), QByteArray(1 << 20, 'x'));
    make(QStringLiteral("src/Bundle.fcpbundle/a"), "a");
    QFShutdown::request();
    QString reason;
    EXPECT_TRUE(
        qfCopyToTemporary(source, home.file(QStringLiteral("src")), QStringLiteral("Copy.prproj"), &reason).isEmpty());
    EXPECT_TRUE(reason.contains(QStringLiteral("abandoned"))) << qPrintable(reason);
    EXPECT_FALSE(QFFileManager::copyFile(
        home.file(QStringLiteral("src/Bundle.fcpbundle")), home.file(QStringLiteral("dst/Bundle.fcpbundle")), false));
    QFShutdown::reset();
    EXPECT_EQ(QDir(home.file(QStringLiteral("src"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        (QStringList { QStringLiteral("Bundle.fcpbundle"), QStringLiteral("Cut.prproj") }))
        << "no partial copy stays";
    EXPECT_FALSE(QFileInfo::exists(home.file(QStringLiteral("dst/Bundle.fcpbundle"))));
}

TEST_F(QFFileManagerTest, ADamagedMountTableLineGivesNoMountPoint)
{
    // Found by fuzzing: two blanks in a line gave an empty mount point, which contains every path.
    QFile file(fixturePath(QStringLiteral("fuzz/mountinfo-double-blank")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray table = file.readAll();
    EXPECT_EQ(QFMountTable::mountPoints(table), QStringList { QStringLiteral("/mnt/Drive") });
    QFFileManager::setMountTableReader([&] { return table; });
    EXPECT_FALSE(QFFileManager::isDriveMountedForPath(
        QStringLiteral("/media/") + QString::fromLocal8Bit(qgetenv("USER")) + QStringLiteral("/Other/Cut.fcp")));
}

TEST_F(QFFileManagerTest, TheAsynchronousFormsAnswerOnTheCallersThreadAfterTheCall)
{
    const QString folder = make(QStringLiteral("Old/Versions/Cut.00001.fcp"));
    const QString trashed = make(QStringLiteral("Old/Cut.prproj"));
    QObject window;
    std::optional<bool> removed;
    std::optional<bool> inTrash;
    QThread *answeredOn = nullptr;
    QFFileManager::removeFileAsync(QFileInfo(folder).absolutePath(), 5, &window, [&](bool ok) {
        removed = ok;
        answeredOn = QThread::currentThread();
    });
    QFFileManager::trashFileAsync(trashed, 5, &window, [&](bool ok) { inTrash = ok; });
    EXPECT_FALSE(removed.has_value());
    EXPECT_FALSE(inTrash.has_value());
    ASSERT_TRUE(QTest::qWaitFor([&] { return removed && inTrash; }, 10000));
    EXPECT_TRUE(*removed);
    EXPECT_TRUE(*inTrash);
    EXPECT_EQ(answeredOn, QThread::currentThread());
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(folder).absolutePath()));
    EXPECT_TRUE(QFileInfo::exists(home.file(QStringLiteral(".local/share/Trash/files/Cut.prproj"))));

    std::optional<bool> failed;
    QFFileManager::runAsync([] { return false; }, &window, [&](bool ok) { failed = ok; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return failed.has_value(); }, 10000));
    EXPECT_FALSE(*failed);
}

TEST_F(QFFileManagerTest, ARemovalThatWaitsForTheAdministratorRunsNoEventsAndHoldsUpNoOtherWork)
{
    const QString victim = make(QStringLiteral("Store/Frozen/Cut.00001.fcp"));
    FrozenFolder frozen(QFileInfo(victim).absolutePath());
    if (!frozen.frozen())
        GTEST_SKIP() << "this file system lets the folder be written whatever its mode";
    // The administrator's removal is started and takes its time: here it only does its work when let.
    QMutex lock;
    QStringList commands;
    const auto started = [&] {
        QMutexLocker locked(&lock);
        return commands;
    };
    QFLocalPaths::setRootOverride(true);
    QFAuthorization::sharedController()->setCommandRunner(
        [&](const QString &program, const QStringList &arguments, bool) {
            QMutexLocker locked(&lock);
            commands << (QStringList { program } + arguments).join(u' ');
            return 0;
        });
    const auto restore = qScopeGuard([] {
        QFAuthorization::sharedController()->setCommandRunner({});
        QFLocalPaths::setRootOverride(std::nullopt);
    });

    // The blocking form on this thread waits without handling an event.
    QObject caller;
    bool timerFired = false;
    QTimer::singleShot(0, &caller, [&] { timerFired = true; });
    EXPECT_FALSE(QFFileManager::removeFile(victim, 1));
    EXPECT_FALSE(timerFired);
    ASSERT_TRUE(QTest::qWaitFor([&] { return timerFired; }, 5000));

    // The asynchronous form waits on its own thread; other file work is done meanwhile.
    QObject window;
    std::optional<bool> removed;
    std::optional<bool> other;
    QFFileManager::removeFileAsync(victim, 30, &window, [&](bool ok) { removed = ok; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return started().size() == 2; }, 10000));
    QFFileManager::removeFileAsync(make(QStringLiteral("Other/Cut.prproj")), 5, &window, [&](bool ok) { other = ok; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return other.has_value(); }, 10000));
    EXPECT_TRUE(*other);
    EXPECT_FALSE(removed.has_value());
    frozen.whileThawed([&] { return QFile::remove(victim); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return removed.has_value(); }, 10000));
    EXPECT_TRUE(*removed);
    EXPECT_TRUE(started().last().startsWith(QStringLiteral("/bin/rm -Rdf -- "))) << qPrintable(started().last());
}
