// tombrel sync against the local fake of Dropbox: linking across two runs, pushing what Dropbox lacks,
// listing, restoring in place of the project file, unlinking, and refusing while sync is off.

#include "tests/cli/CommandTestSupport.h"

#include "engine/QFDropboxAccount.h"
#include "engine/QFDropboxSync.h"
#include "foundation/platform/QFZip.h"
#include "tests/support/QFHostileArchive.h"
#include "tests/support/QFSyncTestSupport.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <cstdio>
#include <signal.h>
#include <sys/stat.h>

namespace {

class CommandSyncTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        // "sync link" reads the code from standard input: here there is none.
        ASSERT_TRUE(std::freopen("/dev/null", "r", stdin));
        ASSERT_TRUE(dropbox.listen());
        project = home.file(QStringLiteral("Videos/Cut.kdenlive"));
        folder = QFVersionStoreBuilder::addProject(project, QStringLiteral("CUT"));
        QFVersionStoreBuilder::addVersions(folder,
            { { QStringLiteral("Cut.00001.kdenlive"), QDateTime::currentDateTime().addSecs(-7200), "one" },
                { QStringLiteral("Cut.00002.kdenlive"), QDateTime::currentDateTime().addSecs(-3600), "two" } });
        synctest::pointAtFake(dropbox);
        QFDropboxSync::shared()->removeRestClient();
    }
    void TearDown() override { QFDropboxSync::shared()->removeRestClient(); }

    QByteArray projectContents() const
    {
        QFile file(project);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    // A zip of a version file as an upload leaves it in Dropbox.
    QByteArray archiveOf(const QString &name, const QByteArray &data)
    {
        const QString file = home.write(QStringLiteral("made/") + name, data);
        const QString archive = file + QStringLiteral(".zip");
        QString reason;
        EXPECT_TRUE(qfZipItem(file, archive, false, &reason)) << reason.toStdString();
        QFile zip(archive);
        return zip.open(QIODevice::ReadOnly) ? zip.readAll() : QByteArray();
    }
    // What the shared temporary folder holds, but the fake's storage.
    static QStringList temporaryEntries()
    {
        QStringList entries
            = QDir(QFLocalPaths::tempDirectory())
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        entries.removeIf(
            [](const QString &name) { return name.startsWith(QCoreApplication::applicationName() + u'-'); });
        return entries;
    }

    QFFakeDropbox dropbox;
    QString project;
    QString folder;
};

TEST_F(CommandSyncTest, LinkPushListRestoreAndUnlink)
{
    EXPECT_EQ(runTombrel({ QStringLiteral("sync"), QStringLiteral("status") }).out,
        QStringLiteral("Dropbox sync: on\nAccount: not linked\n"));
    EXPECT_EQ(runTombrel({ QStringLiteral("sync"), QStringLiteral("push"), QStringLiteral("CUT") }).status, 1);

    // First run: the address to open (no code on standard input); second run: the code the page showed.
    const CommandResult begun = runTombrel({ QStringLiteral("sync"), QStringLiteral("link") });
    ASSERT_EQ(begun.status, 0) << begun;
    const QString address = QRegularExpression(QStringLiteral("(http://\\S+)")).match(begun.out).captured(1);
    ASSERT_TRUE(address.startsWith(dropbox.baseUrl() + QStringLiteral("/oauth2/authorize?"))) << begun;
    EXPECT_TRUE(begun.out.contains(QStringLiteral("tombrel sync link --code CODE")));
    QNetworkAccessManager browser;
    QNetworkReply *page = browser.get(QNetworkRequest(QUrl(address)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->isFinished(); }, 5000));
    page->deleteLater();
    const CommandResult linked = runTombrel(
        { QStringLiteral("sync"), QStringLiteral("link"), QStringLiteral("--code"), dropbox.lastAuthorizationCode() });
    ASSERT_EQ(linked.status, 0) << linked;
    EXPECT_TRUE(linked.out.startsWith(QStringLiteral("Linked to Dropbox.")));
    EXPECT_TRUE(QFDropboxAccount::isLinked());

    // Push sends every version Dropbox lacks, then only what is new.
    CommandResult pushed = runTombrel({ QStringLiteral("sync"), QStringLiteral("push"), QStringLiteral("CUT") });
    ASSERT_EQ(pushed.status, 0) << pushed;
    EXPECT_EQ(dropbox.filePaths(),
        (QStringList { QStringLiteral("/CUT/Cut.00001.kdenlive.zip"), QStringLiteral("/CUT/Cut.00002.kdenlive.zip") }));
    QFVersionStoreBuilder::addVersions(
        folder, { { QStringLiteral("Cut.00003.kdenlive"), QDateTime::currentDateTime(), "three" } });
    dropbox.clearRequests();
    pushed = runTombrel({ QStringLiteral("sync"), QStringLiteral("push"), QStringLiteral("CUT") });
    ASSERT_EQ(pushed.status, 0) << pushed;
    EXPECT_EQ(pushed.out, QStringLiteral("Uploaded Cut.00003.kdenlive to /CUT/Cut.00003.kdenlive.zip\n"));
    EXPECT_EQ(dropbox.requestCount(QStringLiteral("/2/files/upload")), 1);
    EXPECT_EQ(runTombrel({ QStringLiteral("sync"), QStringLiteral("push"), QStringLiteral("CUT") }).out,
        QStringLiteral("Every version is in Dropbox already.\n"));

    const CommandResult listed = runTombrel({ QStringLiteral("sync"), QStringLiteral("list"), QStringLiteral("Cut") });
    ASSERT_EQ(listed.status, 0) << listed;
    EXPECT_EQ(listed.out.count(u'\n'), 4);
    EXPECT_TRUE(listed.out.contains(QStringLiteral("Cut.00002.kdenlive ")));

    const CommandResult restored = runTombrel({ QStringLiteral("sync"), QStringLiteral("restore"),
        QStringLiteral("CUT"), QStringLiteral("Cut.00001.kdenlive") });
    ASSERT_EQ(restored.status, 0) << restored;
    QFile file(project);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("one"));
    const CommandResult missing = runTombrel({ QStringLiteral("sync"), QStringLiteral("restore"), QStringLiteral("CUT"),
        QStringLiteral("Cut.00009.kdenlive") });
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.contains(QStringLiteral("could not be downloaded"))) << missing;

    const CommandResult unlinked = runTombrel({ QStringLiteral("sync"), QStringLiteral("unlink") });
    EXPECT_EQ(unlinked.out, QStringLiteral("Unlinked from Dropbox.\n"));
    EXPECT_EQ(dropbox.requestCount(QStringLiteral("/2/auth/token/revoke")), 1);
    EXPECT_FALSE(QFDropboxAccount::isLinked());
}

TEST_F(CommandSyncTest, RestoreRefusesANameOutsideTheProjectsFolderBeforeAnyRequest)
{
    synctest::linkAccount(dropbox);
    const QByteArray before = projectContents();
    // A file of the user's that a hostile listing names through "..".
    const QString secret = home.write(QStringLiteral("secret.kdenlive"), "the user's own file");
    dropbox.putFile(QStringLiteral("/CUT/x.zip"), archiveOf(QStringLiteral("secret.kdenlive"), "the attacker's"));
    dropbox.listFileAs(QStringLiteral("/CUT/x.zip"), QStringLiteral("../../secret.kdenlive.zip"));
    for (const QString &name : { QStringLiteral("../../secret.kdenlive"), QStringLiteral("../CUT/Cut.00001.kdenlive"),
             QStringLiteral("/etc/passwd"), QStringLiteral("a\\b"), QStringLiteral(".."),
             QStringLiteral("Cut\n.00001.kdenlive") }) {
        SCOPED_TRACE(QFDropboxSync::printableName(name).toStdString());
        dropbox.clearRequests();
        const CommandResult refused
            = runTombrel({ QStringLiteral("sync"), QStringLiteral("restore"), QStringLiteral("CUT"), name });
        EXPECT_EQ(refused.status, 1) << refused;
        EXPECT_TRUE(refused.err.contains(QFDropboxSync::printableName(name))) << refused;
        EXPECT_TRUE(refused.err.contains(QStringLiteral("is not a file of the project's folder in Dropbox")))
            << refused;
        // One line: no control character of the name reaches the terminal.
        EXPECT_EQ(refused.err.count(u'\n'), 1) << refused;
        EXPECT_TRUE(dropbox.requests().isEmpty());
        EXPECT_EQ(projectContents(), before);
    }
    QFile file(secret);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("the user's own file"));
    EXPECT_FALSE(QFileInfo::exists(home.file(QStringLiteral(".local/share/Trash/files"))));
}

TEST_F(CommandSyncTest, RestoreTakesAnUncompressedCopyAndRefusesAnythingButAFile)
{
    synctest::linkAccount(dropbox);
    dropbox.putFile(QStringLiteral("/CUT/Cut.00003.kdenlive"), "three, uncompressed");
    const CommandResult restored = runTombrel({ QStringLiteral("sync"), QStringLiteral("restore"),
        QStringLiteral("CUT"), QStringLiteral("Cut.00003.kdenlive") });
    ASSERT_EQ(restored.status, 0) << restored;
    EXPECT_EQ(projectContents(), QByteArray("three, uncompressed"));
    EXPECT_TRUE(restored.out.contains(QStringLiteral("/CUT/Cut.00003.kdenlive\n"))) << restored;

    const QString archive = home.file(QStringLiteral("made/link.zip"));
    QDir().mkpath(home.file(QStringLiteral("made")));
    ASSERT_TRUE(hostilezip::write(archive, { { "Cut.00004.kdenlive", "../../.ssh/id_rsa", 0120777 } }));
    QFile zip(archive);
    ASSERT_TRUE(zip.open(QIODevice::ReadOnly));
    dropbox.putFile(QStringLiteral("/CUT/Cut.00004.kdenlive.zip"), zip.readAll());
    const CommandResult link = runTombrel({ QStringLiteral("sync"), QStringLiteral("restore"), QStringLiteral("CUT"),
        QStringLiteral("Cut.00004.kdenlive") });
    EXPECT_EQ(link.status, 1) << link;
    EXPECT_TRUE(link.err.contains(QStringLiteral(
        "Failed to restore project. Unable to copy file. Cut.00004.kdenlive in the archive is a symbolic link")))
        << link;
    EXPECT_FALSE(QFileInfo(project).isSymLink());
    EXPECT_EQ(projectContents(), QByteArray("three, uncompressed"));
    EXPECT_EQ(temporaryEntries(), QStringList());
}

TEST_F(CommandSyncTest, ListShowsOnlyVersionsOfTheProjectAndJsonKeepsTheirNamesExact)
{
    synctest::linkAccount(dropbox);
    const QString quoted = QStringLiteral("Cut \"final\" ünï") + QChar(0x202e) + QStringLiteral(".00004.kdenlive");
    dropbox.putFile(
        QStringLiteral("/CUT/Cut.00001.kdenlive.zip"), "one", QDateTime(QDate(2026, 12, 1), QTime(9, 0), Qt::UTC));
    dropbox.putFile(QStringLiteral("/CUT/q.zip"), "four", QDateTime(QDate(2026, 12, 4), QTime(9, 0), Qt::UTC));
    dropbox.listFileAs(QStringLiteral("/CUT/q.zip"), quoted + QStringLiteral(".zip"));
    // A name that would forge a row, and one that would widen every row.
    dropbox.putFile(QStringLiteral("/CUT/f.zip"), "forged");
    dropbox.listFileAs(QStringLiteral("/CUT/f.zip"),
        QStringLiteral("Cut.00009.prproj  1.00 KB  2030-01-01T00:00:00\nCut.00002.kdenlive.zip"));
    dropbox.putFile(QStringLiteral("/CUT/w.zip"), "wide");
    dropbox.listFileAs(QStringLiteral("/CUT/w.zip"), QString(400, u'W') + QStringLiteral(".00005.kdenlive.zip"));
    dropbox.putFile(QStringLiteral("/CUT/readme.txt"), "not a version");

    const CommandResult listed = runTombrel({ QStringLiteral("sync"), QStringLiteral("list"), QStringLiteral("CUT") });
    ASSERT_EQ(listed.status, 0) << listed;
    const QStringList rows = listed.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 3) << listed;
    EXPECT_TRUE(rows.at(1).startsWith(QStringLiteral("Cut.00001.kdenlive "))) << listed;
    EXPECT_TRUE(rows.at(2).startsWith(QStringLiteral("Cut \"final\" ünï<U+202E>.00004.kdenlive  "))) << listed;
    for (const QChar c : listed.out)
        EXPECT_TRUE(c == u'\n' || (c.category() != QChar::Other_Control && c.category() != QChar::Other_Format))
            << listed;
    EXPECT_FALSE(listed.out.contains(QStringLiteral("2030")));

    const CommandResult json = runTombrel(
        { QStringLiteral("sync"), QStringLiteral("list"), QStringLiteral("CUT"), QStringLiteral("--json") });
    ASSERT_EQ(json.status, 0) << json;
    QJsonParseError error;
    const QJsonArray copies = QJsonDocument::fromJson(json.out.toUtf8(), &error).array();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json;
    ASSERT_EQ(copies.size(), 2) << json;
    EXPECT_EQ(copies.at(0).toObject().value(QStringLiteral("file")).toString(), QStringLiteral("Cut.00001.kdenlive"));
    EXPECT_EQ(copies.at(1).toObject().value(QStringLiteral("file")).toString(), quoted);
    EXPECT_EQ(copies.at(1).toObject().value(QStringLiteral("size")).toInt(), 4);
    EXPECT_EQ(copies.at(1).toObject().value(QStringLiteral("date")).toString(), QStringLiteral("2026-12-04T09:00:00Z"));
    EXPECT_EQ(runTombrel({ QStringLiteral("sync"), QStringLiteral("status"), QStringLiteral("--json") }).status, 2);
}

TEST_F(CommandSyncTest, AKilledRestoreLeavesNothingInTheSharedTemporaryFolder)
{
    synctest::linkAccount(dropbox);
    dropbox.putFile(QStringLiteral("/CUT/Cut.00001.kdenlive.zip"),
        archiveOf(QStringLiteral("Cut.00001.kdenlive"), "one, from Dropbox"));
    dropbox.stallNext(QStringLiteral("/2/files/download"));
    QProcess restore;
    restore.start(qEnvironmentVariable("QF_BUNDLE_DIR") + QStringLiteral("/Contents/MacOS/tombrel"),
        { QStringLiteral("sync"), QStringLiteral("restore"), QStringLiteral("CUT"),
            QStringLiteral("Cut.00001.kdenlive") });
    ASSERT_TRUE(restore.waitForStarted(10000));
    // The partial download exists once the request is under way; it lies in a folder of the run's own.
    const auto partial = [] {
        for (const QString &entry : temporaryEntries()) {
            if (QFileInfo::exists(QFLocalPaths::tempDirectory() + u'/' + entry + QStringLiteral("/download")))
                return true;
        }
        return false;
    };
    ASSERT_TRUE(QTest::qWaitFor(partial, 20000)) << temporaryEntries().join(u' ').toStdString();
    const QByteArray before = projectContents();
    ::kill(pid_t(restore.processId()), SIGKILL);
    ASSERT_TRUE(restore.waitForFinished(10000));
    // What the killed run left is a folder no other user can read or enter.
    const QStringList left = temporaryEntries();
    ASSERT_EQ(left.size(), 1);
    struct stat st { };
    ASSERT_EQ(::lstat(QFile::encodeName(QFLocalPaths::tempDirectory() + u'/' + left.first()).constData(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0077, 0u);
    EXPECT_EQ(st.st_uid, ::getuid());
    EXPECT_EQ(projectContents(), before);

    // The next run clears it away and leaves nothing of its own.
    const CommandResult again = runTombrel({ QStringLiteral("sync"), QStringLiteral("restore"), QStringLiteral("CUT"),
        QStringLiteral("Cut.00001.kdenlive") });
    ASSERT_EQ(again.status, 0) << again;
    EXPECT_EQ(projectContents(), QByteArray("one, from Dropbox"));
    EXPECT_EQ(temporaryEntries(), QStringList());
}

TEST_F(CommandSyncTest, NothingMovesWhileSyncIsOffAndUsageIsChecked)
{
    synctest::linkAccount(dropbox);
    synctest::pointAtFake(dropbox, 0);
    const CommandResult off = runTombrel({ QStringLiteral("sync"), QStringLiteral("push"), QStringLiteral("CUT") });
    EXPECT_EQ(off.status, 1);
    EXPECT_TRUE(off.err.contains(QStringLiteral("tombrel prefs set syncService 1"))) << off;
    EXPECT_TRUE(dropbox.requests().isEmpty());
    EXPECT_EQ(runTombrel({ QStringLiteral("sync"), QStringLiteral("fly") }).status, 2);
    EXPECT_EQ(runTombrel({ QStringLiteral("sync"), QStringLiteral("list") }).status, 2);
    EXPECT_EQ(
        runTombrel({ QStringLiteral("sync"), QStringLiteral("status"), QStringLiteral("--code"), QStringLiteral("x") })
            .status,
        2);
    // A code without a link begun first says what to do.
    const CommandResult early = runTombrel(
        { QStringLiteral("sync"), QStringLiteral("link"), QStringLiteral("--code"), QStringLiteral("abc") });
    EXPECT_EQ(early.status, 1);
}

} // namespace
