// tombrel sync push against the local fake of Dropbox when the service makes it wait or refuses: what the
// terminal says, that the push ends after the first version it could not send, and that progress stays
// within 0-100 %.

#include "tests/cli/CommandTestSupport.h"

#include "engine/QFDropboxSync.h"
#include "tests/support/QFSyncTestSupport.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QRegularExpression>

namespace {

class CommandSyncPushTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dropbox.listen());
        const QString project = home.file(QStringLiteral("Videos/Cut.kdenlive"));
        folder = QFVersionStoreBuilder::addProject(project, QStringLiteral("CUT"));
        QFVersionStoreBuilder::addVersions(folder,
            { { QStringLiteral("Cut.00001.kdenlive"), QDateTime::currentDateTime().addSecs(-7200), "one" },
                { QStringLiteral("Cut.00002.kdenlive"), QDateTime::currentDateTime().addSecs(-3600), "two" },
                { QStringLiteral("Cut.00003.kdenlive"), QDateTime::currentDateTime().addSecs(-1800), "three" } });
        synctest::pointAtFake(dropbox);
        synctest::linkAccount(dropbox);
        QFDropboxSync::shared()->removeRestClient();
    }
    void TearDown() override { QFDropboxSync::shared()->removeRestClient(); }

    QFFakeDropbox dropbox;
    QString folder;
};

TEST_F(CommandSyncPushTest, APushStopsAtTheFirstVersionItCannotSendAndSaysWhy)
{
    {
        SCOPED_TRACE("a refusal ends the push: the versions after it are not tried");
        dropbox.failNext(QStringLiteral("/2/files/upload"), 403, "{\"error_summary\": \"no_write_permission/..\"}");
        const CommandResult refused
            = runTombrel({ QStringLiteral("sync"), QStringLiteral("push"), QStringLiteral("CUT") });
        EXPECT_EQ(refused.status, 1) << refused;
        EXPECT_TRUE(refused.err.contains(QStringLiteral("tombrel: sync push: Cut.00001.kdenlive: Authentication error "
                                                        "- please reauthorize Dropbox. no_write_permission/.. "
                                                        "(2 more versions were not sent)\n")))
            << refused;
        EXPECT_EQ(dropbox.requestCount(QStringLiteral("/2/files/upload")), 1);
        EXPECT_TRUE(dropbox.filePaths().isEmpty());
        EXPECT_TRUE(refused.out.isEmpty()) << refused;
    }

    {
        SCOPED_TRACE("a wait longer than a transfer may wait is not waited, and the terminal says what was asked");
        dropbox.clearRequests();
        dropbox.failNext(QStringLiteral("/2/files/upload"), 429, "{\"error_summary\": \"too_many_requests/..\"}",
            { { "Retry-After", "100000" } });
        const CommandResult limited
            = runTombrel({ QStringLiteral("sync"), QStringLiteral("push"), QStringLiteral("CUT") });
        EXPECT_EQ(limited.status, 1) << limited;
        EXPECT_TRUE(limited.err.contains(
            QStringLiteral("tombrel: sync push: Cut.00001.kdenlive: App requests limited - please try again later. "
                           "too_many_requests/.. (Dropbox asked to wait 100000 seconds.)")))
            << limited;
        EXPECT_EQ(dropbox.requestCount(QStringLiteral("/2/files/upload")), 1);
    }

    {
        SCOPED_TRACE("a wait it can afford is waited and said on the terminal; then every version goes up");
        dropbox.clearRequests();
        dropbox.failNext(QStringLiteral("/2/files/upload"), 429, "{\"error_summary\": \"too_many_requests/..\"}",
            { { "Retry-After", "1" } });
        const CommandResult pushed
            = runTombrel({ QStringLiteral("sync"), QStringLiteral("push"), QStringLiteral("CUT") });
        EXPECT_EQ(pushed.status, 0) << pushed;
        EXPECT_TRUE(pushed.err.contains(QStringLiteral("Dropbox asks to wait 1 seconds before trying again.\n")))
            << pushed;
        EXPECT_EQ(pushed.out.count(QStringLiteral("Uploaded ")), 3) << pushed;
        EXPECT_EQ(dropbox.filePaths().size(), 3);
    }
}

TEST_F(CommandSyncPushTest, ProgressStaysWithinTheWhole)
{
    // Archives of a few bytes are smaller than the service's answer about them.
    const CommandResult pushed = runTombrel({ QStringLiteral("sync"), QStringLiteral("push"), QStringLiteral("CUT") });
    ASSERT_EQ(pushed.status, 0) << pushed;
    const QRegularExpression percent(QStringLiteral(": (\\d+)%"));
    int shown = 0;
    for (auto match = percent.globalMatch(pushed.err); match.hasNext();) {
        const int value = match.next().captured(1).toInt();
        EXPECT_GE(value, 0);
        EXPECT_LE(value, 100) << pushed;
        ++shown;
    }
    EXPECT_GT(shown, 0) << pushed;
}

TEST_F(CommandSyncPushTest, PrefsSetTakesTheServiceAddressesOnlyEncryptedOrOnThisMachine)
{
    const CommandResult clear = runTombrel({ QStringLiteral("prefs"), QStringLiteral("set"),
        QStringLiteral("dropboxAPIURL"), QStringLiteral("http://dropbox.example.org") });
    EXPECT_EQ(clear.status, 2) << clear;
    EXPECT_TRUE(clear.err.contains(QStringLiteral(
        "tombrel: prefs set: dropboxAPIURL: 'http://dropbox.example.org' would send the account's tokens unencrypted")))
        << clear;
    EXPECT_EQ(QFPreferenceKeys::readFile().value_or(QVariantMap()).value(QStringLiteral("dropboxAPIURL")).toString(),
        dropbox.baseUrl());

    const CommandResult local = runTombrel({ QStringLiteral("prefs"), QStringLiteral("set"),
        QStringLiteral("dropboxContentURL"), QStringLiteral("http://localhost:%1").arg(dropbox.port()) });
    EXPECT_EQ(local.status, 0) << local;
    const CommandResult secure = runTombrel({ QStringLiteral("prefs"), QStringLiteral("set"),
        QStringLiteral("dropboxAuthorizeURL"), QStringLiteral("https://www.dropbox.com/oauth2/authorize") });
    EXPECT_EQ(secure.status, 0) << secure;
}

} // namespace
