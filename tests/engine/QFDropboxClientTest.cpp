// The Dropbox client against the local fake, where the service misbehaves: writes that overlap, busy
// answers with long waits, downloads cut off, corrupted or trickled, progress
// past the whole, addresses that would carry the tokens in the clear, and the revoking of a link.

#include "engine/QFDropboxAccount.h"
#include "engine/QFDropboxClient.h"
#include "engine/QFPreferenceKeys.h"
#include "foundation/QFLog.h"
#include "tests/support/QFSyncTestSupport.h"
#include "tests/support/QFTempHome.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSignalSpy>

#include <functional>
#include <memory>

namespace {

const QString kLog = QStringLiteral("dropbox_client_tests");

bool waitFor(const std::function<bool()> &condition, int milliseconds = 20000)
{
    QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

QFDropboxError errorOf(const QSignalSpy &spy, qsizetype index)
{
    return spy.at(index).first().value<QFDropboxError>();
}

const QByteArray kContended = "{\"error_summary\": \"path/too_many_write_operations/..\", \"error\": {\".tag\": "
                              "\"path\", \"reason\": {\".tag\": "
                              "\"too_many_write_operations\"}}}";

class DropboxClientTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        QFLog::createNewLog(kLog);
        ASSERT_TRUE(fake.listen());
        synctest::pointAtFake(fake);
        synctest::linkAccount(fake);
        makeClient();
    }

    void makeClient()
    {
        client.reset();
        account = std::make_unique<QFDropboxAccount>();
        client = std::make_unique<QFDropboxClient>(account.get());
    }

    QString log() const { return home.logMessages(kLog).join(u'\n'); }

    QFFakeDropbox fake;
    std::unique_ptr<QFDropboxAccount> account;
    std::unique_ptr<QFDropboxClient> client;
};

TEST_F(DropboxClientTest, WritesGoOneAtATimeAndRefusalsOfOverlappingWritesAreTriedAgain)
{
    QStringList sources;
    for (int i = 1; i <= 3; ++i)
        sources << home.write(QStringLiteral("up/Cut.0000%1.fcp.zip").arg(i), randomBytes(200 * 1024));
    fake.putFile(QStringLiteral("/W/Old.00001.fcp.zip"), "one");
    fake.putFile(QStringLiteral("/W/Old.00002.fcp.zip"), "two");
    QSignalSpy uploaded(client.get(), &QFDropboxClient::uploadedFile);
    QSignalSpy uploadFailed(client.get(), &QFDropboxClient::uploadFileFailed);
    QSignalSpy deleted(client.get(), &QFDropboxClient::deletedPath);
    QSignalSpy deleteFailed(client.get(), &QFDropboxClient::deletePathFailed);

    {
        SCOPED_TRACE("asked for all at once, they reach the service one after another");
        for (const QString &source : std::as_const(sources))
            client->uploadFile(QFileInfo(source).fileName(), QStringLiteral("/W"), source);
        client->deletePath(QStringLiteral("/W/Old.00001.fcp.zip"));
        client->deletePath(QStringLiteral("/W/Old.00002.fcp.zip"));
        ASSERT_TRUE(waitFor(
            [&] { return uploaded.size() + uploadFailed.size() == 3 && deleted.size() + deleteFailed.size() == 2; }));
        EXPECT_EQ(uploaded.size(), 3);
        EXPECT_EQ(deleted.size(), 2);
        EXPECT_EQ(fake.mostWritesAtOnce(), 1);
        EXPECT_TRUE(waitFor([&] { return client->pendingRequests() == 0; }));
    }

    {
        SCOPED_TRACE("a service that refuses overlapping writes takes every one of them");
        fake.setRefuseOverlappingWrites(true);
        uploaded.clear();
        for (const QString &source : std::as_const(sources))
            client->uploadFile(QFileInfo(source).fileName(), QStringLiteral("/W2"), source);
        ASSERT_TRUE(waitFor([&] { return uploaded.size() + uploadFailed.size() == 3; }));
        EXPECT_EQ(uploaded.size(), 3);
        EXPECT_TRUE(uploadFailed.isEmpty());
        EXPECT_EQ(fake.filePaths().filter(QStringLiteral("/W2/")).size(), 3);
    }

    {
        SCOPED_TRACE("a write refused because others are under way elsewhere waits longer each time");
        fake.setRefuseOverlappingWrites(false);
        QSignalSpy waits(client.get(), &QFDropboxClient::waitingToRetry);
        fake.failNext(QStringLiteral("/2/files/upload"), 409, kContended);
        fake.failNext(QStringLiteral("/2/files/upload"), 409, kContended);
        uploaded.clear();
        client->uploadFile(QStringLiteral("again.zip"), QStringLiteral("/W3"), sources.first());
        ASSERT_TRUE(waitFor([&] { return uploaded.size() + uploadFailed.size() == 1; }));
        EXPECT_EQ(uploaded.size(), 1);
        ASSERT_EQ(waits.size(), 2);
        EXPECT_EQ(waits.at(0).at(0).toInt(), 1);
        EXPECT_EQ(waits.at(1).at(0).toInt(), 2);
        EXPECT_TRUE(log().contains(
            QStringLiteral("Dropbox refused a write while others were under way; trying again in 2 seconds.")))
            << log().toStdString();
    }
}

TEST_F(DropboxClientTest, BusyAnswersWaitOnlyAsLongAsATransferMay)
{
    const QString source = home.write(QStringLiteral("up/Cut.00001.fcp.zip"), "archive");
    QSignalSpy uploaded(client.get(), &QFDropboxClient::uploadedFile);
    QSignalSpy failed(client.get(), &QFDropboxClient::uploadFileFailed);
    QSignalSpy waits(client.get(), &QFDropboxClient::waitingToRetry);

    {
        SCOPED_TRACE("a wait the transfer can afford is waited, said in the log and announced");
        fake.failNext(QStringLiteral("/2/files/upload"), 429, "{\"error_summary\": \"too_many_requests/..\"}",
            { { "Retry-After", "1" } });
        client->uploadFile(QStringLiteral("a.zip"), QStringLiteral("/B"), source);
        ASSERT_TRUE(waitFor([&] { return uploaded.size() + failed.size() == 1; }));
        EXPECT_EQ(uploaded.size(), 1);
        ASSERT_EQ(waits.size(), 1);
        EXPECT_EQ(waits.first().at(0).toInt(), 1);
        EXPECT_EQ(waits.first().at(1).toString(), source);
        EXPECT_TRUE(log().contains(QStringLiteral("Dropbox asks to wait 1 seconds before trying again.")));
    }

    {
        SCOPED_TRACE("a wait of more than the transfer may wait fails it at once, saying what was asked");
        waits.clear();
        fake.failNext(QStringLiteral("/2/files/upload"), 429, "{\"error_summary\": \"too_many_requests/..\"}",
            { { "Retry-After", "100000" } });
        client->uploadFile(QStringLiteral("b.zip"), QStringLiteral("/B"), source);
        ASSERT_TRUE(waitFor([&] { return uploaded.size() + failed.size() == 2; }, 10000));
        ASSERT_EQ(failed.size(), 1);
        const QFDropboxError error = errorOf(failed, 0);
        EXPECT_EQ(error.code, 429);
        EXPECT_TRUE(error.description.contains(QStringLiteral("Dropbox asked to wait 100000 seconds.")))
            << error.description.toStdString();
        EXPECT_EQ(
            QFDropboxClient::leadTextForError(error), QStringLiteral("App requests limited - please try again later."));
        EXPECT_TRUE(waits.isEmpty());
        EXPECT_TRUE(log().contains(QStringLiteral(
            "Dropbox asks to wait 100000 seconds, more than the 90 seconds left to wait for %1; it is given up.")
                                       .arg(source)))
            << log().toStdString();
        EXPECT_FALSE(fake.hasFile(QStringLiteral("/B/b.zip")));
    }

    {
        SCOPED_TRACE("a 429 that fails after its retry leads with the rate limit");
        fake.failNext(QStringLiteral("/2/files/upload"), 429, "{\"error_summary\": \"too_many_requests/..\"}",
            { { "Retry-After", "0" } });
        fake.failNext(QStringLiteral("/2/files/upload"), 429, "{\"error_summary\": \"too_many_requests/..\"}",
            { { "Retry-After", "0" } });
        client->uploadFile(QStringLiteral("c.zip"), QStringLiteral("/B"), source);
        ASSERT_TRUE(waitFor([&] { return failed.size() == 2; }));
        EXPECT_EQ(errorOf(failed, 1).code, 429);
        EXPECT_EQ(QFDropboxClient::leadTextForError(errorOf(failed, 1)),
            QStringLiteral("App requests limited - please try again later."));
    }

    {
        SCOPED_TRACE("overlapping writes still refused past the wait allowed read as the rate limit too");
        fake.failNext(QStringLiteral("/2/files/upload"), 429, kContended, { { "Retry-After", "100000" } });
        client->uploadFile(QStringLiteral("d.zip"), QStringLiteral("/B"), source);
        ASSERT_TRUE(waitFor([&] { return failed.size() == 3; }, 10000));
        EXPECT_EQ(errorOf(failed, 2).code, 429);
        EXPECT_EQ(QFDropboxClient::leadTextForError(errorOf(failed, 2)),
            QStringLiteral("App requests limited - please try again later."));
    }

    {
        SCOPED_TRACE("downloads keep to the same cap");
        fake.putFile(QStringLiteral("/B/e.zip"), "e");
        QSignalSpy loadFailed(client.get(), &QFDropboxClient::loadFileFailed);
        fake.failNext(QStringLiteral("/2/files/download"), 503, {}, { { "Retry-After", "100000" } });
        client->loadFile(QStringLiteral("/B/e.zip"), home.file(QStringLiteral("e.zip")));
        ASSERT_TRUE(waitFor([&] { return !loadFailed.isEmpty(); }, 10000));
        EXPECT_EQ(errorOf(loadFailed, 0).code, 503);
        EXPECT_FALSE(QFileInfo::exists(home.file(QStringLiteral("e.zip"))));
    }
}

TEST_F(DropboxClientTest, ADownloadCountsOnlyWhenWholeAndMatchingItsHash)
{
    const QByteArray content = randomBytes(300 * 1024);
    fake.putFile(QStringLiteral("/D/Cut.00001.fcp.zip"), content);
    fake.setDownloadChunkSize(16 * 1024);
    QSignalSpy loaded(client.get(), &QFDropboxClient::loadedFile);
    QSignalSpy failed(client.get(), &QFDropboxClient::loadFileFailed);
    const QString target = home.file(QStringLiteral("download.zip"));

    const auto expectLost = [&](const char *what) {
        SCOPED_TRACE(what);
        client->loadFile(QStringLiteral("/D/Cut.00001.fcp.zip"), target);
        ASSERT_TRUE(waitFor([&] { return !loaded.isEmpty() || !failed.isEmpty(); }));
        EXPECT_TRUE(loaded.isEmpty());
        ASSERT_EQ(failed.size(), 1);
        EXPECT_EQ(errorOf(failed, 0).domain, QFDropboxError::Domain::URL);
        EXPECT_EQ(errorOf(failed, 0).code, -1005);
        EXPECT_EQ(QFDropboxClient::leadTextForError(errorOf(failed, 0)),
            QStringLiteral("The network connection was interrupted."));
        EXPECT_FALSE(QFileInfo::exists(target));
        failed.clear();
    };
    fake.cutNext(QStringLiteral("/2/files/download"), 100 * 1024);
    expectLost("the connection drops before the announced length");
    fake.corruptNext(QStringLiteral("/2/files/download"));
    expectLost("every byte arrives but the content is not what the service holds");
    EXPECT_TRUE(log().contains(QStringLiteral("The download of /D/Cut.00001.fcp.zip does not match its content hash.")))
        << log().toStdString();

    {
        SCOPED_TRACE("a whole download lands as it is");
        client->loadFile(QStringLiteral("/D/Cut.00001.fcp.zip"), target);
        ASSERT_TRUE(waitFor([&] { return !loaded.isEmpty() || !failed.isEmpty(); }));
        ASSERT_EQ(loaded.size(), 1);
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), content);
    }

    {
        SCOPED_TRACE("the hash is the service's: 4 MiB blocks, then the hash of their hashes");
        QFDropboxContentHasher empty;
        EXPECT_EQ(empty.result(), QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
        const QByteArray big = randomBytes(QFDropboxContentHasher::kBlockSize + 10);
        QCryptographicHash overall(QCryptographicHash::Sha256);
        overall.addData(
            QCryptographicHash::hash(big.first(QFDropboxContentHasher::kBlockSize), QCryptographicHash::Sha256));
        overall.addData(
            QCryptographicHash::hash(big.sliced(QFDropboxContentHasher::kBlockSize), QCryptographicHash::Sha256));
        QFDropboxContentHasher pieces;
        for (qsizetype at = 0; at < big.size(); at += 1000003)
            pieces.addData(QByteArrayView(big).sliced(at, std::min<qsizetype>(1000003, big.size() - at)));
        EXPECT_EQ(pieces.result(), QString::fromLatin1(overall.result().toHex()));
    }
}

TEST_F(DropboxClientTest, ATricklingServerEndsInATimeOut)
{
    // One second of silence is a time-out; 64 KiB may take that second and two more.
    synctest::pointAtFake(fake, 1, 1);
    makeClient();
    fake.putFile(QStringLiteral("/T/Cut.00001.fcp.zip"), randomBytes(64 * 1024));
    fake.trickleNext(QStringLiteral("/2/files/download"), 256, 200);
    QSignalSpy loaded(client.get(), &QFDropboxClient::loadedFile);
    QSignalSpy failed(client.get(), &QFDropboxClient::loadFileFailed);
    QSignalSpy progress(client.get(), &QFDropboxClient::loadProgress);
    const QString target = home.file(QStringLiteral("slow.zip"));
    client->loadFile(QStringLiteral("/T/Cut.00001.fcp.zip"), target);
    ASSERT_TRUE(waitFor([&] { return !loaded.isEmpty() || !failed.isEmpty(); }, 25000));
    EXPECT_TRUE(loaded.isEmpty());
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(errorOf(failed, 0).code, -1001);
    EXPECT_EQ(QFDropboxClient::leadTextForError(errorOf(failed, 0)), QStringLiteral("Timed out. Please try again."));
    // It was not silent: bytes kept coming until the deadline.
    EXPECT_GE(progress.size(), 3);
    EXPECT_FALSE(QFileInfo::exists(target));
    EXPECT_TRUE(log().contains(
        QStringLiteral("The Dropbox request about /T/Cut.00001.fcp.zip did not end within 3 seconds; it is given up.")))
        << log().toStdString();
}

TEST_F(DropboxClientTest, ProgressStaysWithinTheWhole)
{
    QSignalSpy progress(client.get(), &QFDropboxClient::uploadProgress);
    QSignalSpy uploaded(client.get(), &QFDropboxClient::uploadedFile);
    QSignalSpy loadProgress(client.get(), &QFDropboxClient::loadProgress);
    QSignalSpy loaded(client.get(), &QFDropboxClient::loadedFile);
    {
        SCOPED_TRACE("a file smaller than the service's answer about it");
        const QString tiny = home.write(QStringLiteral("tiny.zip"), "0123456789");
        client->uploadFile(QStringLiteral("tiny.zip"), QStringLiteral("/P"), tiny);
        ASSERT_TRUE(waitFor([&] { return !uploaded.isEmpty(); }));
    }
    {
        SCOPED_TRACE("a part sent again after the service asked to wait");
        const QString part = home.write(QStringLiteral("part.zip"), randomBytes(512 * 1024));
        fake.failNext(QStringLiteral("/2/files/upload"), 503, {}, { { "Retry-After", "0" } });
        client->uploadFile(QStringLiteral("part.zip"), QStringLiteral("/P"), part);
        ASSERT_TRUE(waitFor([&] { return uploaded.size() == 2; }));
    }
    {
        SCOPED_TRACE("a download");
        client->loadFile(QStringLiteral("/P/part.zip"), home.file(QStringLiteral("back.zip")));
        ASSERT_TRUE(waitFor([&] { return !loaded.isEmpty(); }));
    }
    ASSERT_FALSE(progress.isEmpty());
    // Within one file the fraction never goes back.
    QHash<QString, double> last;
    for (const QList<QVariant> &signal : std::as_const(progress)) {
        const double value = signal.first().toDouble();
        const QString source = signal.at(2).toString();
        EXPECT_GE(value, 0.0);
        EXPECT_LE(value, 1.0);
        EXPECT_GE(value, last.value(source, 0.0)) << source.toStdString();
        last.insert(source, value);
    }
    EXPECT_DOUBLE_EQ(progress.last().first().toDouble(), 1.0);
    for (const QList<QVariant> &signal : std::as_const(loadProgress)) {
        EXPECT_GE(signal.first().toDouble(), 0.0);
        EXPECT_LE(signal.first().toDouble(), 1.0);
    }
}

TEST_F(DropboxClientTest, AddressesThatWouldSendTheTokensInTheClearAreRefused)
{
    {
        SCOPED_TRACE("what an address may be");
        for (const char *good :
            { "https://api.dropboxapi.com", "https://proxy.example.org:8443/dropbox", "http://127.0.0.1:8080",
                "http://127.45.6.7", "http://[::1]:9000/", "http://localhost:5000", "http://LOCALHOST." }) {
            SCOPED_TRACE(good);
            EXPECT_TRUE(QFDropboxAccount::isAcceptableAddress(QString::fromLatin1(good)));
        }
        for (const char *bad : { "http://api.dropboxapi.com", "http://10.0.0.1", "http://127.0.0.1.example.org",
                 "http://localhost.example.org", "ftp://127.0.0.1", "file:///etc/passwd", "https://",
                 "api.dropboxapi.com", "" }) {
            SCOPED_TRACE(bad);
            QString reason;
            EXPECT_FALSE(QFDropboxAccount::isAcceptableAddress(QString::fromLatin1(bad), &reason));
            EXPECT_FALSE(reason.isEmpty());
        }
    }

    {
        SCOPED_TRACE("a refused preference gives Dropbox's own address, with a log line");
        ASSERT_TRUE(QFPreferenceKeys::update(
            { { QStringLiteral("dropboxAPIURL"), QStringLiteral("http://dropbox.example.org") },
                { QStringLiteral("dropboxContentURL"), QStringLiteral("ftp://127.0.0.1") },
                { QStringLiteral("dropboxAuthorizeURL"), QStringLiteral("http://[::1]:4000/oauth2/authorize") } }));
        const QFDropboxAccount::Configuration config = QFDropboxAccount::configuration();
        EXPECT_EQ(config.apiURL, QUrl(QStringLiteral("https://api.dropboxapi.com")));
        EXPECT_EQ(config.contentURL, QUrl(QStringLiteral("https://content.dropboxapi.com")));
        EXPECT_EQ(config.authorizeURL, QUrl(QStringLiteral("http://[::1]:4000/oauth2/authorize")));
        const QString messages = log();
        EXPECT_TRUE(
            messages.contains(QStringLiteral("The preference dropboxAPIURL is refused: 'http://dropbox.example.org' "
                                             "would send the account's tokens unencrypted")))
            << messages.toStdString();
        EXPECT_TRUE(messages.contains(QStringLiteral("https://api.dropboxapi.com is used instead.")));
        EXPECT_TRUE(messages.contains(QStringLiteral("The preference dropboxContentURL is refused")));
    }

    {
        SCOPED_TRACE("tombrel prefs set refuses them as it parses them");
        for (const char *name : { "dropboxAPIURL", "dropboxContentURL", "dropboxAuthorizeURL" }) {
            SCOPED_TRACE(name);
            const auto key = QFPreferenceKeys::find(QString::fromLatin1(name));
            ASSERT_TRUE(key.has_value());
            QString error;
            EXPECT_FALSE(
                QFPreferenceKeys::parse(*key, QStringLiteral("http://dropbox.example.org"), &error).has_value());
            EXPECT_TRUE(error.startsWith(QString::fromLatin1(name) + QStringLiteral(": "))) << error.toStdString();
            EXPECT_EQ(
                QFPreferenceKeys::parse(*key, QStringLiteral("http://127.0.0.1:4000")).value_or(QVariant()).toString(),
                QStringLiteral("http://127.0.0.1:4000"));
            EXPECT_TRUE(QFPreferenceKeys::parse(*key, QStringLiteral("https://example.org")).has_value());
        }
        // Other texts are not addresses.
        EXPECT_TRUE(QFPreferenceKeys::parse(
            *QFPreferenceKeys::find(QStringLiteral("dropboxAppKey")), QStringLiteral("http://x"))
                        .has_value());
    }
}

TEST_F(DropboxClientTest, UnlinkingRevokesTheGrantAsTheServiceExpects)
{
    {
        SCOPED_TRACE("the revoke call is a POST of null as JSON with the token, and the whole grant ends");
        std::optional<bool> refreshed;
        account->refreshAccessToken([&](bool ok, int, const QString &) { refreshed = ok; });
        ASSERT_TRUE(waitFor([&] { return refreshed.has_value(); }));
        ASSERT_TRUE(*refreshed);
        const QString token = account->accessToken();
        QFile record(synctest::linkRecordPath());
        ASSERT_TRUE(record.open(QIODevice::ReadOnly));
        const QByteArray link = record.readAll();
        record.close();

        bool done = false;
        fake.clearRequests();
        account->unlink([&] { done = true; });
        ASSERT_TRUE(waitFor([&] { return done; }));
        ASSERT_EQ(fake.requestCount(QStringLiteral("/2/auth/token/revoke")), 1);
        const QFFakeDropbox::Request revoke = fake.requests().constLast();
        EXPECT_EQ(revoke.method, QByteArray("POST"));
        EXPECT_EQ(revoke.status, 200);
        EXPECT_EQ(revoke.headers.value("content-type"), QByteArray("application/json"));
        EXPECT_EQ(revoke.headers.value("authorization"), "Bearer " + token.toUtf8());
        EXPECT_EQ(revoke.arg, QByteArray("null"));
        EXPECT_FALSE(log().contains(QStringLiteral("Unable to revoke")));

        // Even a copy of the link kept elsewhere gives no access any more.
        ASSERT_TRUE(record.open(QIODevice::WriteOnly));
        record.write(link);
        record.close();
        std::optional<bool> again;
        std::optional<int> status;
        account->refreshAccessToken([&](bool ok, int code, const QString &) {
            again = ok;
            status = code;
        });
        ASSERT_TRUE(waitFor([&] { return again.has_value(); }));
        EXPECT_FALSE(*again);
        EXPECT_EQ(*status, 401);
    }

    {
        SCOPED_TRACE("a refusal to revoke is said in the log");
        synctest::linkAccount(fake);
        fake.failNext(QStringLiteral("/2/auth/token/revoke"), 500, "{\"error_summary\": \"internal_error/..\"}");
        bool done = false;
        account->unlink([&] { done = true; });
        ASSERT_TRUE(waitFor([&] { return done; }));
        EXPECT_TRUE(log().contains(QStringLiteral("Unable to revoke the Dropbox link (internal_error/..); it stays "
                                                  "valid until it is removed from the account's connected apps.")))
            << log().toStdString();
    }
}

} // namespace
