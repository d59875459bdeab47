// The Dropbox client over a network that answers from memory: the service's answers are chosen request by
// request, so deletions of many paths, a connection lost on one upload of several, an expired token and
// replies that never end are tried without sockets and without waiting for time-outs.

#include "engine/QFDropboxAccount.h"
#include "engine/QFDropboxClient.h"
#include "engine/QFPreferenceKeys.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "tests/support/QFMemoryNetwork.h"
#include "tests/support/QFTempHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <memory>

namespace {

const QString kLog = QStringLiteral("dropbox_client_memory_tests");

QJsonObject bodyOf(const QFMemoryRequest &request)
{
    return QJsonDocument::fromJson(request.body).object();
}

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QFDropboxError errorOf(const QSignalSpy &spy, qsizetype index)
{
    return spy.at(index).first().value<QFDropboxError>();
}

class DropboxClientMemoryTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        QFLog::createNewLog(kLog);
        // Loopback addresses the memory network answers for; nothing listens there.
        ASSERT_TRUE(QFPreferenceKeys::update({ { QStringLiteral("syncService"), 1 },
            { QStringLiteral("dropboxAPIURL"), QStringLiteral("http://127.0.0.1:9") },
            { QStringLiteral("dropboxContentURL"), QStringLiteral("http://127.0.0.1:9") },
            { QStringLiteral("dropboxAppKey"), QStringLiteral("k7testappkey0001") },
            { QStringLiteral("dropboxTimeout"), 60 } }));
        const QString record
            = QFLocalPaths::appSupportDirectory(true) + QStringLiteral("/Quenfield/Pro Tombrel/Dropbox.json");
        QDir().mkpath(QFileInfo(record).absolutePath());
        QFile file(record);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(json({ { QStringLiteral("account_id"), QStringLiteral("dbid:test") },
            { QStringLiteral("store"), QStringLiteral("file") },
            { QStringLiteral("refresh_token"), QStringLiteral("refresh-1") } }));
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        file.close();

        network.setHandler([this](const QFMemoryRequest &request) { return answer(request); });
        account = std::make_unique<QFDropboxAccount>(&network);
        client = std::make_unique<QFDropboxClient>(account.get());
    }

    // The token endpoint always grants; everything else goes to the test's own function.
    QFMemoryAnswer answer(const QFMemoryRequest &request)
    {
        if (request.path() == QLatin1String("/oauth2/token")) {
            ++tokensGiven;
            return QFMemoryAnswer::json(json({ { QStringLiteral("access_token"),
                                                   QStringLiteral("access-%1").arg(tokensGiven) },
                { QStringLiteral("token_type"), QStringLiteral("bearer") }, { QStringLiteral("expires_in"), 14400 } }));
        }
        return service ? service(request) : QFMemoryAnswer::json("{}", 404);
    }

    QString localFile(const QString &name, const QByteArray &content)
    {
        return home.write(QStringLiteral("local/") + name, content);
    }

    QFMemoryNetwork network;
    std::function<QFMemoryAnswer(const QFMemoryRequest &)> service;
    int tokensGiven = 0;
    std::unique_ptr<QFDropboxAccount> account;
    std::unique_ptr<QFDropboxClient> client;
};

} // namespace

TEST_F(DropboxClientMemoryTest, ManyDeletionsGoThroughBatchesAndEveryPathIsAnswered)
{
    QStringList paths;
    QSet<QString> stored;
    for (int i = 1; i <= 1200; ++i) {
        paths << QStringLiteral("/M/Cut.%1.fcp.zip").arg(i, 5, 10, QLatin1Char('0'));
        stored.insert(paths.last().toLower());
    }
    bool refusedOnce = false;
    QHash<QString, QJsonArray> jobs;
    QHash<QString, int> polls;
    auto deleteOne = [&](const QString &path) {
        QJsonObject result;
        if (path == paths.at(7).toLower() && !refusedOnce) {
            refusedOnce = true;
            result = { { QStringLiteral(".tag"), QStringLiteral("failure") },
                { QStringLiteral("failure"),
                    QJsonObject { { QStringLiteral(".tag"), QStringLiteral("too_many_write_operations") } } } };
        } else if (stored.remove(path)) {
            result = { { QStringLiteral(".tag"), QStringLiteral("success") },
                { QStringLiteral("metadata"), QJsonObject { { QStringLiteral("path_display"), path } } } };
        } else {
            result = { { QStringLiteral(".tag"), QStringLiteral("failure") },
                { QStringLiteral("failure"),
                    QJsonObject { { QStringLiteral(".tag"), QStringLiteral("path_lookup") },
                        { QStringLiteral("path_lookup"),
                            QJsonObject { { QStringLiteral(".tag"), QStringLiteral("not_found") } } } } } };
        }
        return result;
    };
    service = [&](const QFMemoryRequest &request) {
        if (request.path() == QLatin1String("/2/files/delete_batch")) {
            QJsonArray entries;
            for (const QJsonValue &entry : bodyOf(request).value(QStringLiteral("entries")).toArray())
                entries.append(deleteOne(entry.toObject().value(QStringLiteral("path")).toString().toLower()));
            const QString job = QStringLiteral("job-%1").arg(jobs.size() + 1);
            jobs.insert(job, entries);
            return QFMemoryAnswer::json(json({ { QStringLiteral(".tag"), QStringLiteral("async_job_id") },
                { QStringLiteral("async_job_id"), job } }));
        }
        if (request.path() == QLatin1String("/2/files/delete_batch/check")) {
            const QString job = bodyOf(request).value(QStringLiteral("async_job_id")).toString();
            // Each job is still under way at its first two checks.
            if (++polls[job] <= 2)
                return QFMemoryAnswer::json(json({ { QStringLiteral(".tag"), QStringLiteral("in_progress") } }));
            return QFMemoryAnswer::json(json({ { QStringLiteral(".tag"), QStringLiteral("complete") },
                { QStringLiteral("entries"), jobs.value(job) } }));
        }
        if (request.path() == QLatin1String("/2/files/delete_v2")) {
            const QJsonObject result = deleteOne(bodyOf(request).value(QStringLiteral("path")).toString().toLower());
            if (result.value(QStringLiteral(".tag")) == QLatin1String("success"))
                return QFMemoryAnswer::json(
                    json({ { QStringLiteral("metadata"), result.value(QStringLiteral("metadata")) } }));
            return QFMemoryAnswer::json(
                json({ { QStringLiteral("error_summary"), QStringLiteral("path_lookup/not_found/") } }), 409);
        }
        return QFMemoryAnswer::json("{}", 404);
    };

    QSignalSpy deleted(client.get(), &QFDropboxClient::deletedPath);
    QSignalSpy failed(client.get(), &QFDropboxClient::deletePathFailed);
    for (const QString &path : std::as_const(paths))
        client->deletePath(path);
    // Asked twice, answered twice; a path that is not there fails on its own.
    client->deletePath(paths.at(3));
    client->deletePath(QStringLiteral("/M/Missing.00001.fcp.zip"));

    ASSERT_TRUE(QTest::qWaitFor([&] { return deleted.size() + failed.size() == 1202; }, 60000))
        << deleted.size() << " " << failed.size();
    EXPECT_EQ(deleted.size(), 1201);
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(errorOf(failed, 0).path, QStringLiteral("/M/Missing.00001.fcp.zip"));
    EXPECT_EQ(errorOf(failed, 0).description, QStringLiteral("path_lookup/not_found/"));
    QStringList answered;
    for (const QList<QVariant> &signal : std::as_const(deleted))
        answered << signal.first().toString();
    EXPECT_EQ(answered.count(paths.at(3)), 2);
    EXPECT_EQ(answered.count(paths.at(7)), 1);
    EXPECT_TRUE(stored.isEmpty());
    // 1000 and 201 paths, and the one refused for overlapping writes once more on its own.
    EXPECT_EQ(network.count(QStringLiteral("/2/files/delete_batch")), 2);
    EXPECT_EQ(network.count(QStringLiteral("/2/files/delete_v2")), 1);
    EXPECT_EQ(network.count(QStringLiteral("/2/files/delete_batch/check")), 6);
    EXPECT_TRUE(QTest::qWaitFor([&] { return client->pendingRequests() == 0; }, 20000));
}

TEST_F(DropboxClientMemoryTest, AConnectionLostOnOneUploadFailsThatUploadAloneAndTheNextGoesUp)
{
    service = [&](const QFMemoryRequest &request) {
        if (request.path() != QLatin1String("/2/files/upload"))
            return QFMemoryAnswer::json("{}", 404);
        const QString path = QJsonDocument::fromJson(request.header("Dropbox-API-Arg"))
                                 .object()
                                 .value(QStringLiteral("path"))
                                 .toString();
        if (path.endsWith(QLatin1String("A.00001.fcp.zip"))) {
            QFMemoryAnswer lost = QFMemoryAnswer::failure(QNetworkReply::RemoteHostClosedError);
            return lost;
        }
        return QFMemoryAnswer::json(json(
            { { QStringLiteral("path_display"), path }, { QStringLiteral("size"), double(request.body.size()) } }));
    };
    const QString first = localFile(QStringLiteral("A.00001.fcp.zip"), QByteArray(5000, 'a'));
    const QString second = localFile(QStringLiteral("B.00001.fcp.zip"), QByteArray(7000, 'b'));
    QSignalSpy uploaded(client.get(), &QFDropboxClient::uploadedFile);
    QSignalSpy failed(client.get(), &QFDropboxClient::uploadFileFailed);
    client->uploadFile(QStringLiteral("A.00001.fcp.zip"), QStringLiteral("/A"), first);
    client->uploadFile(QStringLiteral("B.00001.fcp.zip"), QStringLiteral("/B"), second);

    ASSERT_TRUE(QTest::qWaitFor([&] { return uploaded.size() + failed.size() == 2; }, 20000));
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(errorOf(failed, 0).code, -1005);
    EXPECT_EQ(errorOf(failed, 0).description, QStringLiteral("The network connection was lost."));
    EXPECT_EQ(errorOf(failed, 0).path, first);
    ASSERT_EQ(uploaded.size(), 1);
    EXPECT_EQ(uploaded.at(0).at(1).toString(), second);
    // The whole file went out as the body, one request each: the lost one is not sent again by the client.
    EXPECT_EQ(network.count(QStringLiteral("/2/files/upload")), 2);
    EXPECT_EQ(network.requests().last().body, QByteArray(7000, 'b'));
}

TEST_F(DropboxClientMemoryTest, AnExpiredTokenIsRenewedAndTheRequestSentOnceMore)
{
    int listings = 0;
    bool refuseAlways = false;
    service = [&](const QFMemoryRequest &request) {
        if (request.path() != QLatin1String("/2/files/list_folder"))
            return QFMemoryAnswer::json("{}", 404);
        ++listings;
        // The first token has expired; a renewed one is good unless every token is refused.
        if (refuseAlways || request.header("Authorization") == "Bearer access-1")
            return QFMemoryAnswer::json(
                json({ { QStringLiteral("error_summary"), QStringLiteral("expired_access_token/") } }), 401);
        return QFMemoryAnswer::json(
            json({ { QStringLiteral("entries"),
                       QJsonArray { QJsonObject { { QStringLiteral(".tag"), QStringLiteral("file") },
                           { QStringLiteral("name"), QStringLiteral("Cut.00001.fcp.zip") },
                           { QStringLiteral("path_display"), QStringLiteral("/P/Cut.00001.fcp.zip") },
                           { QStringLiteral("size"), 12 },
                           { QStringLiteral("server_modified"), QStringLiteral("2026-12-01T10:00:00Z") } } } },
                { QStringLiteral("cursor"), QStringLiteral("c1") }, { QStringLiteral("has_more"), false } }));
    };
    QSignalSpy listed(client.get(), &QFDropboxClient::loadedMetadata);
    QSignalSpy failed(client.get(), &QFDropboxClient::loadMetadataFailed);
    client->loadMetadata(QStringLiteral("/P"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return listed.size() + failed.size() == 1; }, 20000));
    ASSERT_EQ(listed.size(), 1);
    const auto metadata = listed.at(0).first().value<QFDropboxMetadata>();
    ASSERT_EQ(metadata.contents.size(), 1);
    EXPECT_EQ(metadata.contents.first().name, QStringLiteral("Cut.00001.fcp.zip"));
    EXPECT_EQ(tokensGiven, 2);
    EXPECT_EQ(listings, 2);

    // A token refused again after its renewal is not renewed a second time for the same request.
    refuseAlways = true;
    client->loadMetadata(QStringLiteral("/P"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return failed.size() == 1; }, 20000));
    EXPECT_EQ(errorOf(failed, 0).code, 401);
    EXPECT_EQ(tokensGiven, 3);
    EXPECT_EQ(listings, 4);
}

TEST_F(DropboxClientMemoryTest, ARequestThatNeverEndsIsCancelledOrOutlivedWithoutAnAnswer)
{
    service = [&](const QFMemoryRequest &request) {
        if (request.path() == QLatin1String("/2/files/download") || request.path() == QLatin1String("/2/files/upload"))
            return QFMemoryAnswer::hanging();
        return QFMemoryAnswer::json("{}", 404);
    };
    const QString into = home.file(QStringLiteral("restore/Cut.00003.fcp.zip"));
    QDir().mkpath(QFileInfo(into).absolutePath());
    QSignalSpy loaded(client.get(), &QFDropboxClient::loadedFile);
    QSignalSpy loadFailed(client.get(), &QFDropboxClient::loadFileFailed);
    client->loadFile(QStringLiteral("/P/Cut.00003.fcp.zip"), into);
    ASSERT_TRUE(QTest::qWaitFor([&] { return network.hangingReplies() == 1; }, 20000));
    EXPECT_EQ(client->pendingRequests(), 1);

    // Cancelled: the reply is aborted, nothing is left where the file was to go, and no signal follows.
    client->cancelFileLoad(QStringLiteral("/P/Cut.00003.fcp.zip"));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return network.hangingReplies() == 0 && client->pendingRequests() == 0; }, 20000));
    QCoreApplication::processEvents();
    EXPECT_FALSE(QFileInfo::exists(into));
    EXPECT_TRUE(loaded.isEmpty());
    EXPECT_TRUE(loadFailed.isEmpty());

    // A client that goes away while its upload hangs aborts it; the answer reaches no one.
    client->uploadFile(QStringLiteral("Cut.00004.fcp.zip"), QStringLiteral("/P"),
        localFile(QStringLiteral("Cut.00004.fcp.zip"), "zip"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return network.hangingReplies() == 1; }, 20000));
    client.reset();
    EXPECT_EQ(network.hangingReplies(), 0);
    QCoreApplication::processEvents();
}
