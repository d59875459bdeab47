// tombrel sync against the local fake of Dropbox: linking across two runs, pushing what Dropbox lacks,
// listing, restoring in place of the project file, unlinking, and refusing while sync is off.

#include "tests/cli/CommandTestSupport.h"

#include "engine/QFDropboxAccount.h"
#include "engine/QFDropboxSync.h"
#include "tests/support/QFSyncTestSupport.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTest>

#include <cstdio>

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
    const CommandResult linked = runTombrel({ QStringLiteral("sync"), QStringLiteral("link"), QStringLiteral("--code"), dropbox.lastAuthorizationCode() });
    ASSERT_EQ(linked.status, 0) << linked;
    EXPECT_TRUE(linked.out.startsWith(QStringLiteral("Linked to Dropbox.")));
    EXPECT_TRUE(QFDropboxAccount::isLinked());

    // Push sends every version Dropbox lacks, then only what is new.
    CommandResult pushed = runTombrel({ QStringLiteral("sync"), QStringLiteral("push"), QStringLiteral("CUT") });
    ASSERT_EQ(pushed.status, 0) << pushed;
    EXPECT_EQ(dropbox.filePaths(), (QStringList { QStringLiteral("/CUT/Cut.00001.kdenlive.zip"), QStringLiteral("/CUT/Cut.00002.kdenlive.zip") }));
    QFVersionStoreBuilder::addVersions(folder, { { QStringLiteral("Cut.00003.kdenlive"), QDateTime::currentDateTime(), "three" } });
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

    const CommandResult restored = runTombrel({ QStringLiteral("sync"), QStringLiteral("restore"), QStringLiteral("CUT"), QStringLiteral("Cut.00001.kdenlive") });
    ASSERT_EQ(restored.status, 0) << restored;
    QFile file(project);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("one"));
    const CommandResult missing = runTombrel({ QStringLiteral("sync"), QStringLiteral("restore"), QStringLiteral("CUT"), QStringLiteral("Cut.00009.kdenlive") });
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.contains(QStringLiteral("could not be downloaded"))) << missing;

    const CommandResult unlinked = runTombrel({ QStringLiteral("sync"), QStringLiteral("unlink") });
    EXPECT_EQ(unlinked.out, QStringLiteral("Unlinked from Dropbox.\n"));
    EXPECT_EQ(dropbox.requestCount(QStringLiteral("/2/auth/token/revoke")), 1);
    EXPECT_FALSE(QFDropboxAccount::isLinked());
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
    EXPECT_EQ(runTombrel({ QStringLiteral("sync"), QStringLiteral("status"), QStringLiteral("--code"), QStringLiteral("x") }).status, 2);
    // A code without a link begun first says what to do.
    const CommandResult early = runTombrel({ QStringLiteral("sync"), QStringLiteral("link"), QStringLiteral("--code"), QStringLiteral("abc") });
    EXPECT_EQ(early.status, 1);
}

} // namespace
