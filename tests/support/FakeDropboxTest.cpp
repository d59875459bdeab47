#include "tests/support/QFFakeDropbox.h"

#include "tests/support/QFTempHome.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QUrlQuery>

#include <gtest/gtest.h>

namespace {

constexpr int kDeadline = 10000;

// A finished reply, read whole.
struct Answer {
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray body;
    QHash<QByteArray, QByteArray> headers; // lower-cased names

    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    QString errorTag() const
    {
        return json().value(QStringLiteral("error")).toObject().value(QStringLiteral(".tag")).toString();
    }
};

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString challengeOf(const QByteArray &verifier)
{
    return QString::fromLatin1(QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
                                   .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

} // namespace

class QFFakeDropboxTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(fake.listen());
        token = fake.addAccessToken();
    }

    QNetworkRequest request(const QString &path, const QString &bearer) const
    {
        QNetworkRequest request(QUrl(fake.baseUrl() + path));
        if (!bearer.isEmpty())
            request.setRawHeader("Authorization", "Bearer " + bearer.toUtf8());
        return request;
    }

    // Waits for the reply with a deadline, running the event loop (the fake answers from it).
    Answer wait(QNetworkReply *reply)
    {
        QSignalSpy finished(reply, &QNetworkReply::finished);
        if (!reply->isFinished()) {
            EXPECT_TRUE(finished.wait(kDeadline)) << "no answer for " << reply->url().toString().toStdString();
        }
        Answer answer;
        answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        answer.error = reply->error();
        answer.body = reply->readAll();
        for (const auto &[name, value] : reply->rawHeaderPairs())
            answer.headers.insert(name.toLower(), value);
        reply->deleteLater();
        return answer;
    }

    Answer rpc(const QString &endpoint, const QJsonObject &arg, const QString &bearer)
    {
        QNetworkRequest call = request(endpoint, bearer);
        call.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        return wait(network.post(call, json(arg)));
    }
    Answer rpc(const QString &endpoint, const QJsonObject &arg) { return rpc(endpoint, arg, token); }

    Answer content(const QString &endpoint, const QJsonObject &arg, const QByteArray &body)
    {
        QNetworkRequest call = request(endpoint, token);
        call.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/octet-stream"));
        call.setRawHeader("Dropbox-API-Arg", json(arg));
        return wait(network.post(call, body));
    }

    Answer upload(const QString &path, const QByteArray &body, const QString &mode = QStringLiteral("overwrite"),
        bool autorename = false)
    {
        return content(QStringLiteral("/2/files/upload"),
            { { QStringLiteral("path"), path }, { QStringLiteral("mode"), mode },
                { QStringLiteral("autorename"), autorename }, { QStringLiteral("mute"), true } },
            body);
    }

    Answer download(const QString &path)
    {
        QNetworkRequest call = request(QStringLiteral("/2/files/download"), token);
        call.setRawHeader("Dropbox-API-Arg", json({ { QStringLiteral("path"), path } }));
        return wait(network.post(call, QByteArray()));
    }

    Answer form(const QList<QPair<QString, QString>> &items)
    {
        QUrlQuery query;
        for (const auto &[name, value] : items)
            query.addQueryItem(name, QString::fromLatin1(QUrl::toPercentEncoding(value)));
        QNetworkRequest call = request(QStringLiteral("/oauth2/token"), QString());
        call.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
        return wait(network.post(call, query.toString(QUrl::FullyEncoded).toLatin1()));
    }

    QFFakeDropbox fake;
    QNetworkAccessManager network;
    QString token;
};

TEST_F(QFFakeDropboxTest, AuthorizationCodeWithPkceGivesTokensThatWork)
{
    const QByteArray verifier = "verifier-0123456789-0123456789-0123456789-0123456789";
    const QString challenge = challengeOf(verifier);
    const auto authorize = [&](const QList<QPair<QString, QString>> &items) {
        QUrl url(fake.baseUrl() + QStringLiteral("/oauth2/authorize"));
        QUrlQuery query;
        query.setQueryItems(items);
        url.setQuery(query);
        QNetworkRequest call(url);
        call.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        return wait(network.get(call));
    };
    const QList<QPair<QString, QString>> good { { QStringLiteral("client_id"), QStringLiteral("K") },
        { QStringLiteral("response_type"), QStringLiteral("code") }, { QStringLiteral("code_challenge"), challenge },
        { QStringLiteral("code_challenge_method"), QStringLiteral("S256") },
        { QStringLiteral("token_access_type"), QStringLiteral("offline") } };

    {
        SCOPED_TRACE("a page without a challenge is refused");
        QList<QPair<QString, QString>> missing = good;
        missing.removeAt(2);
        EXPECT_EQ(authorize(missing).status, 400);
    }

    const Answer page = authorize(good);
    ASSERT_EQ(page.status, 200);
    const QRegularExpressionMatch shown
        = QRegularExpression(QStringLiteral("<code>([^<]+)</code>")).match(QString::fromUtf8(page.body));
    ASSERT_TRUE(shown.hasMatch()) << page.body.toStdString();
    const QString code = shown.captured(1);
    EXPECT_EQ(code, fake.lastAuthorizationCode());

    const auto exchange = [&](const QString &code, const QByteArray &verifier) {
        return form({ { QStringLiteral("grant_type"), QStringLiteral("authorization_code") },
            { QStringLiteral("code"), code }, { QStringLiteral("code_verifier"), QString::fromLatin1(verifier) },
            { QStringLiteral("client_id"), QStringLiteral("K") } });
    };
    {
        SCOPED_TRACE("a wrong verifier");
        const Answer refused = exchange(code, "another-verifier-0123456789-0123456789-0123456789");
        EXPECT_EQ(refused.status, 400);
        EXPECT_EQ(refused.json().value(QStringLiteral("error")).toString(), QStringLiteral("invalid_grant"));
    }
    const Answer tokens = exchange(code, verifier);
    ASSERT_EQ(tokens.status, 200) << tokens.body.toStdString();
    const QJsonObject granted = tokens.json();
    EXPECT_EQ(granted.value(QStringLiteral("token_type")).toString(), QStringLiteral("bearer"));
    EXPECT_EQ(granted.value(QStringLiteral("expires_in")).toInt(), 14400);
    EXPECT_EQ(granted.value(QStringLiteral("account_id")).toString(), QStringLiteral("dbid:AAA"));
    EXPECT_FALSE(granted.value(QStringLiteral("refresh_token")).toString().isEmpty());
    {
        SCOPED_TRACE("a code is used once");
        EXPECT_EQ(exchange(code, verifier).status, 400);
    }
    const QString access = granted.value(QStringLiteral("access_token")).toString();
    EXPECT_EQ(
        rpc(QStringLiteral("/2/files/list_folder"), { { QStringLiteral("path"), QString() } }, access).status, 200);

    {
        SCOPED_TRACE("with a redirect address the code goes there");
        QList<QPair<QString, QString>> redirected = good;
        redirected << qMakePair(QStringLiteral("redirect_uri"), QStringLiteral("http://127.0.0.1:9/done"))
                   << qMakePair(QStringLiteral("state"), QStringLiteral("s1"));
        const Answer moved = authorize(redirected);
        EXPECT_EQ(moved.status, 302);
        const QUrlQuery target(QUrl::fromEncoded(moved.headers.value("location")));
        EXPECT_EQ(target.queryItemValue(QStringLiteral("code")), fake.lastAuthorizationCode());
        EXPECT_EQ(target.queryItemValue(QStringLiteral("state")), QStringLiteral("s1"));
    }
}

TEST_F(QFFakeDropboxTest, ExpiredTokensAreReplacedThroughTheRefreshToken)
{
    const QString refresh = fake.addRefreshToken();
    const QJsonObject root { { QStringLiteral("path"), QString() } };
    fake.expireAccessTokens();
    const Answer expired = rpc(QStringLiteral("/2/files/list_folder"), root);
    EXPECT_EQ(expired.status, 401);
    EXPECT_EQ(expired.errorTag(), QStringLiteral("expired_access_token"));
    EXPECT_TRUE(expired.json().value(QStringLiteral("error_summary")).toString().startsWith(u"expired_access_token/"));
    const Answer unknown = rpc(QStringLiteral("/2/files/list_folder"), root, QStringLiteral("nobody"));
    EXPECT_EQ(unknown.status, 401);
    EXPECT_EQ(unknown.errorTag(), QStringLiteral("invalid_access_token"));

    const Answer refreshed = form({ { QStringLiteral("grant_type"), QStringLiteral("refresh_token") },
        { QStringLiteral("refresh_token"), refresh }, { QStringLiteral("client_id"), QStringLiteral("K") } });
    ASSERT_EQ(refreshed.status, 200);
    EXPECT_FALSE(refreshed.json().contains(QStringLiteral("refresh_token")));
    EXPECT_EQ(refreshed.json().value(QStringLiteral("expires_in")).toInt(), 14400);
    const QString fresh = refreshed.json().value(QStringLiteral("access_token")).toString();
    EXPECT_EQ(rpc(QStringLiteral("/2/files/list_folder"), root, fresh).status, 200);

    const Answer wrongRefresh = form({ { QStringLiteral("grant_type"), QStringLiteral("refresh_token") },
        { QStringLiteral("refresh_token"), QStringLiteral("made-up") },
        { QStringLiteral("client_id"), QStringLiteral("K") } });
    EXPECT_EQ(wrongRefresh.status, 400);
    EXPECT_EQ(wrongRefresh.json().value(QStringLiteral("error")).toString(), QStringLiteral("invalid_grant"));

    // Revoking ends the access token and the refresh token it came from.
    QNetworkRequest revoke = request(QStringLiteral("/2/auth/token/revoke"), fresh);
    revoke.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    const Answer revoked = wait(network.post(revoke, QByteArray()));
    EXPECT_EQ(revoked.status, 200);
    EXPECT_EQ(revoked.body, "null");
    EXPECT_EQ(
        rpc(QStringLiteral("/2/files/list_folder"), root, fresh).errorTag(), QStringLiteral("invalid_access_token"));
    EXPECT_EQ(
        form({ { QStringLiteral("grant_type"), QStringLiteral("refresh_token") },
                 { QStringLiteral("refresh_token"), refresh }, { QStringLiteral("client_id"), QStringLiteral("K") } })
            .status,
        400);
}

TEST_F(QFFakeDropboxTest, UploadListDownloadDeleteRoundTrip)
{
    const QString path = QStringLiteral("/Projects/Cut \u00e9t\u00e9.00005.fcp.zip");
    const QByteArray data("zip contents\0with a zero", 24);
    const Answer uploaded = upload(path, data);
    ASSERT_EQ(uploaded.status, 200) << uploaded.body.toStdString();
    const QJsonObject metadata = uploaded.json();
    EXPECT_EQ(metadata.value(QStringLiteral(".tag")).toString(), QStringLiteral("file"));
    EXPECT_EQ(metadata.value(QStringLiteral("name")).toString(), QStringLiteral("Cut \u00e9t\u00e9.00005.fcp.zip"));
    EXPECT_EQ(metadata.value(QStringLiteral("path_display")).toString(), path);
    EXPECT_EQ(metadata.value(QStringLiteral("path_lower")).toString(), path.toLower());
    EXPECT_EQ(metadata.value(QStringLiteral("size")).toInteger(), data.size());
    EXPECT_TRUE(metadata.value(QStringLiteral("id")).toString().startsWith(u"id:"));
    EXPECT_FALSE(metadata.value(QStringLiteral("rev")).toString().isEmpty());
    EXPECT_TRUE(
        QDateTime::fromString(metadata.value(QStringLiteral("server_modified")).toString(), Qt::ISODate).isValid());
    EXPECT_TRUE(fake.hasFile(path.toUpper()));
    EXPECT_EQ(fake.fileContent(path), data);
    EXPECT_EQ(fake.filePaths(), QStringList { path });

    const QFFakeDropbox::Request logged = fake.requests().constLast();
    EXPECT_EQ(logged.path, QStringLiteral("/2/files/upload"));
    EXPECT_EQ(logged.method, "POST");
    EXPECT_EQ(logged.status, 200);
    EXPECT_EQ(logged.bodySize, data.size());
    EXPECT_EQ(logged.headers.value("content-type"), "application/octet-stream");
    EXPECT_EQ(QJsonDocument::fromJson(logged.arg).object().value(QStringLiteral("path")).toString(), path);

    const Answer inFolder
        = rpc(QStringLiteral("/2/files/list_folder"), { { QStringLiteral("path"), QStringLiteral("/projects") } });
    ASSERT_EQ(inFolder.status, 200);
    const QJsonArray entries = inFolder.json().value(QStringLiteral("entries")).toArray();
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries.at(0).toObject().value(QStringLiteral("rev")), metadata.value(QStringLiteral("rev")));
    const QJsonArray atRoot = rpc(QStringLiteral("/2/files/list_folder"), { { QStringLiteral("path"), QString() } })
                                  .json()
                                  .value(QStringLiteral("entries"))
                                  .toArray();
    ASSERT_EQ(atRoot.size(), 1);
    EXPECT_EQ(atRoot.at(0).toObject().value(QStringLiteral(".tag")).toString(), QStringLiteral("folder"));
    EXPECT_EQ(atRoot.at(0).toObject().value(QStringLiteral("path_display")).toString(), QStringLiteral("/Projects"));

    // The metadata header is ASCII, with everything else escaped.
    const Answer downloaded = download(path.toLower());
    ASSERT_EQ(downloaded.status, 200);
    EXPECT_EQ(downloaded.body, data);
    const QByteArray result = downloaded.headers.value("dropbox-api-result");
    EXPECT_TRUE(result.contains("\\u00e9")) << result.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(result).object().value(QStringLiteral("path_display")).toString(), path);
    {
        SCOPED_TRACE("the argument in the address instead of a header");
        QUrl url(fake.baseUrl() + QStringLiteral("/2/files/download"));
        url.setQuery(QStringLiteral("arg=")
            + QString::fromLatin1(
                QUrl::toPercentEncoding(QString::fromUtf8(json({ { QStringLiteral("path"), path } })))));
        QNetworkRequest call(url);
        call.setRawHeader("Authorization", "Bearer " + token.toUtf8());
        const Answer viaQuery = wait(network.get(call));
        EXPECT_EQ(viaQuery.status, 200);
        EXPECT_EQ(viaQuery.body, data);
    }

    {
        SCOPED_TRACE("adding where a file is");
        const Answer conflict = upload(path, "other", QStringLiteral("add"));
        EXPECT_EQ(conflict.status, 409);
        EXPECT_TRUE(
            conflict.json().value(QStringLiteral("error_summary")).toString().startsWith(u"path/conflict/file/"));
        EXPECT_EQ(conflict.json()
                      .value(QStringLiteral("error"))
                      .toObject()
                      .value(QStringLiteral("reason"))
                      .toObject()
                      .value(QStringLiteral(".tag"))
                      .toString(),
            QStringLiteral("conflict"));
        const Answer renamed = upload(path, "other", QStringLiteral("add"), true);
        EXPECT_EQ(renamed.json().value(QStringLiteral("path_display")).toString(),
            QStringLiteral("/Projects/Cut \u00e9t\u00e9.00005.fcp (1).zip"));
    }

    const Answer deleted = rpc(QStringLiteral("/2/files/delete_v2"), { { QStringLiteral("path"), path } });
    ASSERT_EQ(deleted.status, 200);
    EXPECT_EQ(deleted.json().value(QStringLiteral("metadata")).toObject().value(QStringLiteral("id")),
        metadata.value(QStringLiteral("id")));
    EXPECT_FALSE(fake.hasFile(path));
    const Answer gone = download(path);
    EXPECT_EQ(gone.status, 409);
    EXPECT_TRUE(gone.json().value(QStringLiteral("error_summary")).toString().startsWith(u"path/not_found/"));
    const Answer again = rpc(QStringLiteral("/2/files/delete_v2"), { { QStringLiteral("path"), path } });
    EXPECT_EQ(again.status, 409);
    EXPECT_EQ(again.errorTag(), QStringLiteral("path_lookup"));

    // Deleting a folder deletes what it holds.
    const Answer folderDeleted
        = rpc(QStringLiteral("/2/files/delete_v2"), { { QStringLiteral("path"), QStringLiteral("/projects") } });
    EXPECT_EQ(
        folderDeleted.json().value(QStringLiteral("metadata")).toObject().value(QStringLiteral(".tag")).toString(),
        QStringLiteral("folder"));
    EXPECT_TRUE(fake.filePaths().isEmpty());
    EXPECT_EQ(
        rpc(QStringLiteral("/2/files/list_folder"), { { QStringLiteral("path"), QStringLiteral("/projects") } }).status,
        409);
}

TEST_F(QFFakeDropboxTest, UploadSessionsTakeBodiesAtTheirEnd)
{
    const Answer started
        = content(QStringLiteral("/2/files/upload_session/start"), { { QStringLiteral("close"), false } }, "abc");
    ASSERT_EQ(started.status, 200) << started.body.toStdString();
    const QString session = started.json().value(QStringLiteral("session_id")).toString();
    ASSERT_FALSE(session.isEmpty());
    const auto cursor = [&](qint64 offset) {
        return QJsonObject { { QStringLiteral("session_id"), session }, { QStringLiteral("offset"), double(offset) } };
    };

    const Answer appended = content(QStringLiteral("/2/files/upload_session/append_v2"),
        { { QStringLiteral("cursor"), cursor(3) }, { QStringLiteral("close"), false } }, "defg");
    EXPECT_EQ(appended.status, 200);
    EXPECT_EQ(appended.body, "null");
    {
        SCOPED_TRACE("a wrong offset tells the right one");
        const Answer wrong = content(QStringLiteral("/2/files/upload_session/append_v2"),
            { { QStringLiteral("cursor"), cursor(3) }, { QStringLiteral("close"), false } }, "defg");
        EXPECT_EQ(wrong.status, 409);
        EXPECT_EQ(wrong.errorTag(), QStringLiteral("incorrect_offset"));
        EXPECT_EQ(
            wrong.json().value(QStringLiteral("error")).toObject().value(QStringLiteral("correct_offset")).toInteger(),
            7);
    }
    {
        SCOPED_TRACE("an unknown session");
        QJsonObject unknown = cursor(0);
        unknown.insert(QStringLiteral("session_id"), QStringLiteral("nope"));
        const Answer missing = content(
            QStringLiteral("/2/files/upload_session/append_v2"), { { QStringLiteral("cursor"), unknown } }, "x");
        EXPECT_EQ(missing.status, 409);
        EXPECT_TRUE(missing.json().value(QStringLiteral("error_summary")).toString().contains(u"not_found"));
    }

    const QJsonObject commit { { QStringLiteral("path"), QStringLiteral("/x/big.fcp.zip") },
        { QStringLiteral("mode"), QStringLiteral("overwrite") }, { QStringLiteral("autorename"), false },
        { QStringLiteral("mute"), true } };
    const Answer finished = content(QStringLiteral("/2/files/upload_session/finish"),
        { { QStringLiteral("cursor"), cursor(7) }, { QStringLiteral("commit"), commit } }, "hi");
    ASSERT_EQ(finished.status, 200) << finished.body.toStdString();
    EXPECT_EQ(finished.json().value(QStringLiteral("size")).toInteger(), 9);
    EXPECT_EQ(fake.fileContent(QStringLiteral("/X/BIG.fcp.zip")), "abcdefghi");

    const Answer finishedTwice = content(QStringLiteral("/2/files/upload_session/finish"),
        { { QStringLiteral("cursor"), cursor(9) }, { QStringLiteral("commit"), commit } }, QByteArray());
    EXPECT_EQ(finishedTwice.status, 409);
    EXPECT_EQ(finishedTwice.errorTag(), QStringLiteral("lookup_failed"));
}

TEST_F(QFFakeDropboxTest, OversizedSingleUploadsAreRefusedButSessionsCarryThem)
{
    fake.setUploadRequestLimit(1024 * 1024);
    const QByteArray piece(1024 * 1024, 'p');
    const Answer refused = upload(QStringLiteral("/big.bin"), piece + piece);
    EXPECT_EQ(refused.status, 400);
    EXPECT_TRUE(refused.headers.value("content-type").startsWith("text/plain"));
    EXPECT_FALSE(fake.hasFile(QStringLiteral("/big.bin")));

    const Answer started = content(QStringLiteral("/2/files/upload_session/start"), {}, piece);
    const QString session = started.json().value(QStringLiteral("session_id")).toString();
    const Answer tooMuch = content(QStringLiteral("/2/files/upload_session/append_v2"),
        { { QStringLiteral("cursor"),
            QJsonObject {
                { QStringLiteral("session_id"), session }, { QStringLiteral("offset"), double(piece.size()) } } } },
        piece + "x");
    EXPECT_EQ(tooMuch.status, 409);
    EXPECT_EQ(tooMuch.errorTag(), QStringLiteral("payload_too_large"));
    const Answer finished = content(QStringLiteral("/2/files/upload_session/finish"),
        { { QStringLiteral("cursor"),
              QJsonObject {
                  { QStringLiteral("session_id"), session }, { QStringLiteral("offset"), double(piece.size()) } } },
            { QStringLiteral("commit"), QJsonObject { { QStringLiteral("path"), QStringLiteral("/big.bin") } } } },
        piece);
    ASSERT_EQ(finished.status, 200) << finished.body.toStdString();
    EXPECT_EQ(fake.fileSize(QStringLiteral("/big.bin")), 2 * piece.size());
}

TEST_F(QFFakeDropboxTest, ListingsComeInPages)
{
    for (int i = 0; i < 5; ++i)
        fake.putFile(
            QStringLiteral("/P/cut.%1.fcp.zip").arg(i), "x", QDateTime(QDate(2026, 12, 8), QTime(10, 0), Qt::UTC));
    fake.putFile(QStringLiteral("/P/Sub/deep.txt"), "y");
    fake.setPageSize(2);

    QStringList seen;
    Answer page = rpc(QStringLiteral("/2/files/list_folder"),
        { { QStringLiteral("path"), QStringLiteral("/p") }, { QStringLiteral("recursive"), false } });
    for (int pages = 1;; ++pages) {
        ASSERT_EQ(page.status, 200) << page.body.toStdString();
        const QJsonArray entries = page.json().value(QStringLiteral("entries")).toArray();
        EXPECT_LE(entries.size(), 2);
        for (const QJsonValue &entry : entries) {
            seen << entry.toObject().value(QStringLiteral("path_display")).toString();
            if (entry.toObject().value(QStringLiteral(".tag")) == QStringLiteral("file")) {
                EXPECT_EQ(entry.toObject().value(QStringLiteral("client_modified")).toString(),
                    QStringLiteral("2026-12-08T10:00:00Z"));
            }
        }
        if (!page.json().value(QStringLiteral("has_more")).toBool()) {
            EXPECT_EQ(pages, 3);
            break;
        }
        page = rpc(QStringLiteral("/2/files/list_folder/continue"),
            { { QStringLiteral("cursor"), page.json().value(QStringLiteral("cursor")) } });
    }
    EXPECT_EQ(seen,
        QStringList({ QStringLiteral("/P/cut.0.fcp.zip"), QStringLiteral("/P/cut.1.fcp.zip"),
            QStringLiteral("/P/cut.2.fcp.zip"), QStringLiteral("/P/cut.3.fcp.zip"), QStringLiteral("/P/cut.4.fcp.zip"),
            QStringLiteral("/P/Sub") }));

    fake.setPageSize(1000);
    const Answer recursive = rpc(QStringLiteral("/2/files/list_folder"),
        { { QStringLiteral("path"), QString() }, { QStringLiteral("recursive"), true } });
    EXPECT_EQ(recursive.json().value(QStringLiteral("entries")).toArray().size(), 8);

    const Answer reset = rpc(
        QStringLiteral("/2/files/list_folder/continue"), { { QStringLiteral("cursor"), QStringLiteral("bogus") } });
    EXPECT_EQ(reset.status, 409);
    EXPECT_EQ(reset.errorTag(), QStringLiteral("reset"));
    const Answer missing
        = rpc(QStringLiteral("/2/files/list_folder"), { { QStringLiteral("path"), QStringLiteral("/nowhere") } });
    EXPECT_EQ(missing.status, 409);
    EXPECT_TRUE(missing.json().value(QStringLiteral("error_summary")).toString().startsWith(u"path/not_found/"));
}

TEST_F(QFFakeDropboxTest, InjectedFailuresAnswerOnceEach)
{
    fake.failNext(QStringLiteral("/2/files/upload"), 429, R"({"error_summary": "too_many_requests/.."})",
        { { "Retry-After", "1" } });
    fake.failNext(QStringLiteral("/2/files/upload"), 507,
        R"({"error_summary": "path/insufficient_space/..", )"
        R"("error": {".tag": "path", "reason": {".tag": "insufficient_space"}}})");
    const Answer throttled = upload(QStringLiteral("/a.txt"), "a");
    EXPECT_EQ(throttled.status, 429);
    EXPECT_EQ(throttled.headers.value("retry-after"), "1");
    EXPECT_FALSE(fake.hasFile(QStringLiteral("/a.txt")));
    const Answer full = upload(QStringLiteral("/a.txt"), "a");
    EXPECT_EQ(full.status, 507);
    EXPECT_EQ(full.json()
                  .value(QStringLiteral("error"))
                  .toObject()
                  .value(QStringLiteral("reason"))
                  .toObject()
                  .value(QStringLiteral(".tag"))
                  .toString(),
        QStringLiteral("insufficient_space"));
    EXPECT_EQ(upload(QStringLiteral("/a.txt"), "a").status, 200);
    EXPECT_EQ(fake.requestCount(QStringLiteral("/2/files/upload")), 3);
    EXPECT_EQ(rpc(QStringLiteral("/2/files/unknown"), {}).status, 404);
}

TEST_F(QFFakeDropboxTest, StalledRequestsStayOpenAndDroppedOnesClose)
{
    QSignalSpy handled(&fake, &QFFakeDropbox::requestHandled);
    fake.stallNext(QStringLiteral("/2/files/list_folder"));
    QNetworkRequest call = request(QStringLiteral("/2/files/list_folder"), token);
    call.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    QNetworkReply *stalled = network.post(call, json({ { QStringLiteral("path"), QString() } }));
    ASSERT_TRUE(handled.wait(kDeadline));
    EXPECT_EQ(handled.constLast().at(1).toInt(), 0);
    EXPECT_FALSE(stalled->isFinished());
    // The next request goes over another connection and is answered.
    EXPECT_EQ(rpc(QStringLiteral("/2/files/list_folder"), { { QStringLiteral("path"), QString() } }).status, 200);
    EXPECT_FALSE(stalled->isFinished());
    stalled->abort();
    stalled->deleteLater();

    // A dropped connection ends the request without an answer. Qt's client sends a request once more when
    // its connection closes before any answer, so it takes two drops in a row to reach the caller.
    fake.clearRequests();
    fake.dropNext(QStringLiteral("/2/files/list_folder"));
    fake.dropNext(QStringLiteral("/2/files/list_folder"));
    const Answer dropped = rpc(QStringLiteral("/2/files/list_folder"), { { QStringLiteral("path"), QString() } });
    EXPECT_EQ(dropped.error, QNetworkReply::RemoteHostClosedError);
    ASSERT_EQ(fake.requests().size(), 2);
    EXPECT_EQ(fake.requests().at(0).status, 0);
    EXPECT_EQ(fake.requests().at(1).status, 0);
    EXPECT_EQ(rpc(QStringLiteral("/2/files/list_folder"), { { QStringLiteral("path"), QString() } }).status, 200);
}

TEST_F(QFFakeDropboxTest, DownloadsAreWrittenAsTheClientReads)
{
    const qint64 size = 32 * 1024 * 1024;
    fake.putLargeFile(QStringLiteral("/large.bin"), size);
    fake.setDownloadChunkSize(64 * 1024);
    QSignalSpy handled(&fake, &QFFakeDropbox::requestHandled);
    QNetworkRequest call = request(QStringLiteral("/2/files/download"), token);
    call.setRawHeader("Dropbox-API-Arg", R"({"path": "/large.bin"})");
    QNetworkReply *reply = network.post(call, QByteArray());
    // The first bytes reach the client long before the fake has written the last ones.
    int pieces = 0;
    bool earlyPiece = false;
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [&] {
        earlyPiece = earlyPiece || (pieces == 0 && handled.isEmpty());
        ++pieces;
    });
    const Answer downloaded = wait(reply);
    EXPECT_EQ(downloaded.status, 200);
    EXPECT_EQ(downloaded.body.size(), size);
    EXPECT_EQ(downloaded.body.count('\0'), size);
    EXPECT_TRUE(earlyPiece);
    EXPECT_GT(pieces, 4);
    ASSERT_EQ(handled.size(), 1);
    EXPECT_EQ(handled.constFirst().at(1).toInt(), 200);
}

// Chunked request bodies and several requests on one kept-alive connection, spoken by hand.
TEST_F(QFFakeDropboxTest, ChunkedBodiesAndKeptAliveConnections)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, fake.port());
    ASSERT_TRUE(QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; }, kDeadline));
    const QByteArray auth = "Authorization: Bearer " + token.toUtf8() + "\r\n";
    socket.write("POST /2/files/upload HTTP/1.1\r\nHost: x\r\n" + auth
        + "Content-Type: application/octet-stream\r\nDropbox-API-Arg: {\"path\": \"/c.txt\"}\r\n"
          "Transfer-Encoding: chunked\r\n\r\n"
          "5\r\nhello\r\n7;ext=1\r\n, world\r\n0\r\n\r\n");
    socket.write("POST /2/files/download HTTP/1.1\r\nHost: x\r\n" + auth
        + "Dropbox-API-Arg: {\"path\": \"/C.TXT\"}\r\nContent-Length: 0\r\n\r\n");
    QByteArray received;
    const QByteArray tail = "\r\n\r\nhello, world";
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            received += socket.readAll();
            return received.endsWith(tail);
        },
        kDeadline))
        << received.toStdString();
    EXPECT_TRUE(received.startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(received.count("HTTP/1.1 200 OK\r\n"), 2);
    EXPECT_EQ(fake.fileContent(QStringLiteral("/c.txt")), "hello, world");
    EXPECT_EQ(socket.state(), QAbstractSocket::ConnectedState);
}

TEST_F(QFFakeDropboxTest, RevokingTakesNullAsJsonOnly)
{
    const QString fresh = fake.addAccessToken();
    {
        SCOPED_TRACE("an empty body without a type is not an argument the service reads");
        const Answer refused = wait(network.post(request(QStringLiteral("/2/auth/token/revoke"), fresh), QByteArray()));
        EXPECT_EQ(refused.status, 400);
        EXPECT_TRUE(refused.body.contains("Bad HTTP \"Content-Type\" header")) << refused.body.toStdString();
        QNetworkRequest form = request(QStringLiteral("/2/auth/token/revoke"), fresh);
        form.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
        EXPECT_EQ(wait(network.post(form, QByteArray())).status, 400);
        QNetworkRequest value = request(QStringLiteral("/2/auth/token/revoke"), fresh);
        value.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        EXPECT_EQ(wait(network.post(value, "{\"token\": \"x\"}")).status, 400);
        // Still a working token.
        EXPECT_EQ(
            rpc(QStringLiteral("/2/files/list_folder"), { { QStringLiteral("path"), QString() } }, fresh).status, 200);
    }
    QNetworkRequest revoke = request(QStringLiteral("/2/auth/token/revoke"), fresh);
    revoke.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    const Answer revoked = wait(network.post(revoke, "null"));
    EXPECT_EQ(revoked.status, 200);
    EXPECT_EQ(rpc(QStringLiteral("/2/files/list_folder"), { { QStringLiteral("path"), QString() } }, fresh).errorTag(),
        QStringLiteral("invalid_access_token"));
}

TEST_F(QFFakeDropboxTest, DownloadBodiesCanBeCutCorruptedOrTrickled)
{
    QByteArray data(64 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = char(i * 7);
    fake.putFile(QStringLiteral("/f/cut.zip"), data);
    const Answer whole = download(QStringLiteral("/f/cut.zip"));
    EXPECT_EQ(whole.body, data);
    const QString hash = QJsonDocument::fromJson(whole.headers.value("dropbox-api-result"))
                             .object()
                             .value(QStringLiteral("content_hash"))
                             .toString();
    {
        SCOPED_TRACE("the content hash is the service's: SHA-256 of the SHA-256 of each 4 MiB block");
        const QByteArray block = QCryptographicHash::hash(data, QCryptographicHash::Sha256);
        EXPECT_EQ(hash, QString::fromLatin1(QCryptographicHash::hash(block, QCryptographicHash::Sha256).toHex()));
        const QJsonArray listed
            = rpc(QStringLiteral("/2/files/list_folder"), { { QStringLiteral("path"), QStringLiteral("/f") } })
                  .json()
                  .value(QStringLiteral("entries"))
                  .toArray();
        ASSERT_EQ(listed.size(), 1);
        EXPECT_EQ(listed.at(0).toObject().value(QStringLiteral("content_hash")).toString(), hash);
    }
    {
        SCOPED_TRACE("cut: the status says 200, the connection ends before the announced length");
        fake.cutNext(QStringLiteral("/2/files/download"), 1000);
        const Answer cut = download(QStringLiteral("/f/cut.zip"));
        EXPECT_EQ(cut.status, 200);
        EXPECT_NE(cut.error, QNetworkReply::NoError);
        EXPECT_EQ(cut.headers.value("content-length"), QByteArray::number(data.size()));
        EXPECT_LT(cut.body.size(), data.size());
    }
    {
        SCOPED_TRACE("corrupt: every byte arrives, the first one flipped");
        fake.corruptNext(QStringLiteral("/2/files/download"));
        const Answer corrupt = download(QStringLiteral("/f/cut.zip"));
        EXPECT_EQ(corrupt.error, QNetworkReply::NoError);
        ASSERT_EQ(corrupt.body.size(), data.size());
        EXPECT_EQ(char(corrupt.body.at(0) ^ 0xff), data.at(0));
        EXPECT_EQ(corrupt.body.mid(1), data.mid(1));
    }
    {
        SCOPED_TRACE("trickle: a piece at a time, whole in the end");
        fake.trickleNext(QStringLiteral("/2/files/download"), 8 * 1024, 20);
        QNetworkRequest call = request(QStringLiteral("/2/files/download"), token);
        call.setRawHeader("Dropbox-API-Arg", json({ { QStringLiteral("path"), QStringLiteral("/f/cut.zip") } }));
        QNetworkReply *reply = network.post(call, QByteArray());
        QSignalSpy pieces(reply, &QNetworkReply::readyRead);
        const Answer trickled = wait(reply);
        EXPECT_EQ(trickled.body, data);
        EXPECT_GE(pieces.size(), 4);
    }
}

TEST_F(QFFakeDropboxTest, DeletionBatchesAreAskedAfterAndOverlappingWritesCounted)
{
    fake.putFile(QStringLiteral("/b/one.zip"), "1");
    fake.putFile(QStringLiteral("/b/two.zip"), "2");
    fake.putFile(QStringLiteral("/b/three.zip"), "3");
    fake.setDeleteBatchPolls(1);
    fake.failNextDeletionOf(QStringLiteral("/B/Three.zip"), QStringLiteral("too_many_write_operations"));
    QJsonArray entries;
    for (const char *path : { "/b/one.zip", "/b/missing.zip", "/b/two.zip", "/b/three.zip" })
        entries.append(QJsonObject { { QStringLiteral("path"), QString::fromLatin1(path) } });
    const Answer launched = rpc(QStringLiteral("/2/files/delete_batch"), { { QStringLiteral("entries"), entries } });
    ASSERT_EQ(launched.status, 200) << launched.body.toStdString();
    EXPECT_EQ(launched.json().value(QStringLiteral(".tag")).toString(), QStringLiteral("async_job_id"));
    const QJsonObject job { { QStringLiteral("async_job_id"), launched.json().value(QStringLiteral("async_job_id")) } };
    EXPECT_EQ(rpc(QStringLiteral("/2/files/delete_batch/check"), job).json().value(QStringLiteral(".tag")).toString(),
        QStringLiteral("in_progress"));
    const QJsonObject done = rpc(QStringLiteral("/2/files/delete_batch/check"), job).json();
    ASSERT_EQ(done.value(QStringLiteral(".tag")).toString(), QStringLiteral("complete"));
    const QJsonArray results = done.value(QStringLiteral("entries")).toArray();
    ASSERT_EQ(results.size(), 4);
    const auto tagOf = [&](int i) { return results.at(i).toObject().value(QStringLiteral(".tag")).toString(); };
    const auto failureOf = [&](int i) {
        return results.at(i)
            .toObject()
            .value(QStringLiteral("failure"))
            .toObject()
            .value(QStringLiteral(".tag"))
            .toString();
    };
    EXPECT_EQ(tagOf(0), QStringLiteral("success"));
    EXPECT_EQ(failureOf(1), QStringLiteral("path_lookup"));
    EXPECT_EQ(tagOf(2), QStringLiteral("success"));
    EXPECT_EQ(failureOf(3), QStringLiteral("too_many_write_operations"));
    EXPECT_EQ(fake.filePaths(), QStringList { QStringLiteral("/b/three.zip") });
    EXPECT_EQ(rpc(QStringLiteral("/2/files/delete_batch/check"),
                  { { QStringLiteral("async_job_id"), QStringLiteral("nope") } })
                  .errorTag(),
        QStringLiteral("invalid_async_job_id"));

    {
        SCOPED_TRACE("two uploads at once are two writes at once; a service that refuses that takes one");
        const auto sendTwo = [&] {
            QList<QNetworkReply *> replies;
            for (int i = 0; i < 2; ++i) {
                QNetworkRequest call = request(QStringLiteral("/2/files/upload"), token);
                call.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/octet-stream"));
                call.setRawHeader("Dropbox-API-Arg",
                    json({ { QStringLiteral("path"), QStringLiteral("/w/%1.zip").arg(i) },
                        { QStringLiteral("mode"), QStringLiteral("overwrite") } }));
                replies << network.post(call, QByteArray(4 * 1024 * 1024, 'w'));
            }
            QList<Answer> answers;
            for (QNetworkReply *reply : replies)
                answers << wait(reply);
            return answers;
        };
        QList<Answer> answers = sendTwo();
        EXPECT_EQ(answers.at(0).status, 200);
        EXPECT_EQ(answers.at(1).status, 200);
        EXPECT_EQ(fake.mostWritesAtOnce(), 2);
        fake.setRefuseOverlappingWrites(true);
        answers = sendTwo();
        QList<int> statuses { answers.at(0).status, answers.at(1).status };
        std::sort(statuses.begin(), statuses.end());
        EXPECT_EQ(statuses, (QList<int> { 200, 429 }));
        const Answer &refused = answers.at(0).status == 429 ? answers.at(0) : answers.at(1);
        EXPECT_TRUE(
            refused.json().value(QStringLiteral("error_summary")).toString().startsWith(u"too_many_write_operations/"));
    }
}
