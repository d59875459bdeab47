// Dropbox sync against a local fake of the HTTP API: linking, uploads of versions, listings, removals,
// downloads, the failures and how the engine reports them.

#include "engine/QFDropboxRestore.h"
#include "engine/QFDropboxSync.h"
#include "engine/QFPreferenceSnapshot.h"
#include "engine/QFProjectActions.h"
#include "engine/QFTombrelBackup.h"
#include "engine/QFTransferFolder.h"
#include "foundation/QFClock.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/QFNotificationCenter.h"
#include "foundation/platform/QFProgramRole.h"
#include "foundation/platform/QFZip.h"
#include "tests/support/QFFrozenFolder.h"
#include "tests/support/QFFullDisk.h"
#include "tests/support/QFHostileArchive.h"
#include "tests/support/QFSyncTestSupport.h"
#include "tests/support/QFTempHome.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString kLog = QStringLiteral("dropbox_sync_tests");

// What the shared temporary folder holds, but the test's own folders (the fake's storage).
QStringList temporaryEntries()
{
    QStringList entries
        = QDir(QFLocalPaths::tempDirectory())
              .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    entries.removeIf([](const QString &name) { return name.startsWith(QCoreApplication::applicationName() + u'-'); });
    return entries;
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// What an archive that arrived in Dropbox unpacks to.
QByteArray unpacked(const QByteArray &archive, const QString &name)
{
    QTemporaryDir folder;
    QFile zip(folder.filePath(QStringLiteral("got.zip")));
    if (!zip.open(QIODevice::WriteOnly))
        return "<no folder>";
    zip.write(archive);
    zip.close();
    QString reason;
    if (!qfUnzipArchive(zip.fileName(), folder.filePath(QStringLiteral("out")), &reason))
        return reason.toUtf8();
    return contentsOf(folder.filePath(QStringLiteral("out/") + name));
}

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

class DropboxSyncTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        QFProgram::declareRole(QFProgramRole::Application);
        QFLog::createNewLog(kLog);
        ASSERT_TRUE(fake.listen());
        synctest::pointAtFake(fake);
        sync()->removeRestClient();
        sync()->setUploadMode(false, {});
    }
    void TearDown() override
    {
        sync()->removeRestClient();
        sync()->setUploadMode(false, {});
        QFClock::setSource({});
        QFProgram::declareRole(QFProgramRole::Unknown);
    }

    static QFDropboxSync *sync() { return QFDropboxSync::shared(); }

    // A version file in the store: <root>/<id>.localized/Versions/<name>.
    QString version(const QString &projectID, const QString &name, const QByteArray &contents = "project data")
    {
        return home.write(QStringLiteral("Store/%1.localized/Versions/%2").arg(projectID, name), contents);
    }

    QFFakeDropbox fake;
};

TEST_F(DropboxSyncTest, LinkingExchangesTheCodeAndKeepsTheTokenOutOfThePreferences)
{
    QFDropboxAccount *account = sync()->account();
    QString error;
    const QString address = account->beginLink(&error);
    ASSERT_FALSE(address.isEmpty()) << error.toStdString();
    EXPECT_TRUE(address.contains(QStringLiteral("code_challenge_method=S256")));
    EXPECT_TRUE(address.contains(QStringLiteral("token_access_type=offline")));

    // The user opens the page and copies the code it shows.
    QNetworkAccessManager browser;
    QNetworkReply *page = browser.get(QNetworkRequest(QUrl(address)));
    ASSERT_TRUE(waitFor([page] { return page->isFinished(); }));
    const QString html = QString::fromUtf8(page->readAll());
    const QString code = QRegularExpression(QStringLiteral("<code>([^<]+)</code>")).match(html).captured(1);
    ASSERT_FALSE(code.isEmpty()) << html.toStdString();
    page->deleteLater();

    std::optional<bool> linked;
    account->finishLink(
        QStringLiteral("  ") + code + QStringLiteral("\n"), [&](bool ok, const QString &) { linked = ok; });
    ASSERT_TRUE(waitFor([&] { return linked.has_value(); }));
    EXPECT_TRUE(*linked);
    EXPECT_TRUE(QFDropboxAccount::isLinked());
    // No Secret Service on the test's bus: the private file holds the link, readable by the user alone.
    EXPECT_EQ(QFDropboxAccount::tokenStorage(), synctest::linkRecordPath());
    EXPECT_EQ(
        QFileInfo(synctest::linkRecordPath()).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0);
    const QByteArray prefs = [] {
        QFile file(QFProject::preferenceFilePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    EXPECT_FALSE(prefs.contains("refresh"));
    EXPECT_TRUE(home.logMessages(kLog).contains(QStringLiteral("App linked successfully!")));

    // A used code cannot link a second time.
    account->beginLink();
    std::optional<bool> again;
    account->finishLink(code, [&](bool ok, const QString &) { again = ok; });
    ASSERT_TRUE(waitFor([&] { return again.has_value(); }));
    EXPECT_FALSE(*again);
    EXPECT_TRUE(QFDropboxAccount::isLinked());

    bool unlinked = false;
    account->unlink([&] { unlinked = true; });
    ASSERT_TRUE(waitFor([&] { return unlinked; }));
    EXPECT_EQ(fake.requestCount(QStringLiteral("/2/auth/token/revoke")), 1);
    EXPECT_FALSE(QFDropboxAccount::isLinked());
    EXPECT_FALSE(QFileInfo::exists(synctest::linkRecordPath()));
    EXPECT_EQ(sync()->restClient(), nullptr);
}

TEST_F(DropboxSyncTest, SyncOffMakesNoArchiveAndStartsNothing)
{
    synctest::linkAccount(fake);
    synctest::pointAtFake(fake, 0);
    const QString path = version(QStringLiteral("X"), QStringLiteral("Cut.00005.fcp"));
    QFTombrelBackup engine;
    engine.uploadFileToCloud(path);
    engine.removeSyncedFiles({ path });
    engine.loadSyncedFileListForProjectUUID(QStringLiteral("X"));
    // A helper would hand the file to the application; with sync off it starts nothing either.
    QFProgram::declareRole(QFProgramRole::Helper);
    engine.uploadFileToCloud(path);
    QCoreApplication::processEvents();
    EXPECT_FALSE(QFileInfo::exists(QFLocalPaths::tempDirectory() + QStringLiteral("/Cut.00005.fcp.zip")));
    EXPECT_EQ(temporaryEntries(), QStringList());
    EXPECT_TRUE(fake.requests().isEmpty());
    const QString log = home.logMessages(kLog).join(u'\n');
    EXPECT_FALSE(log.contains(QStringLiteral("is not executable")));
}

TEST_F(DropboxSyncTest, AVersionGoesUpAsAnArchiveIsListedByItsNameAndLeavesWithIt)
{
    synctest::linkAccount(fake);
    const QString path = version(QStringLiteral("X"), QStringLiteral("Cut.00005.fcp"), "the fifth version");
    QFTombrelBackup engine;
    QSignalSpy complete(sync(), &QFDropboxSync::syncComplete);
    QVariantMap posted;
    QObject context;
    QFNotificationCenter::defaultCenter()->addObserver(&context, QStringLiteral("QFProTombrelSyncComplete"),
        [&](const QVariant &, const QVariantMap &info) { posted = info; });

    engine.uploadFileToCloud(path);
    ASSERT_TRUE(waitFor([&] { return !complete.isEmpty(); }));
    ASSERT_TRUE(fake.hasFile(QStringLiteral("/X/Cut.00005.fcp.zip")));
    const QString archive = complete.first().first().toMap().value(QStringLiteral("filename")).toString();
    EXPECT_EQ(QFileInfo(archive).fileName(), QStringLiteral("Cut.00005.fcp.zip"));
    EXPECT_EQ(QFileInfo(QFileInfo(archive).absolutePath()).absolutePath(), QFLocalPaths::tempDirectory());
    EXPECT_EQ(posted.value(QStringLiteral("filename")).toString(), archive);
    // The archive made for the upload is gone with its folder; what arrived unpacks to the version itself.
    EXPECT_FALSE(QFileInfo::exists(archive));
    EXPECT_EQ(temporaryEntries(), QStringList());
    QTemporaryDir unpack;
    QFile zip(unpack.filePath(QStringLiteral("got.zip")));
    ASSERT_TRUE(zip.open(QIODevice::WriteOnly));
    zip.write(fake.fileContent(QStringLiteral("/X/Cut.00005.fcp.zip")));
    zip.close();
    QString reason;
    ASSERT_TRUE(qfUnzipArchive(zip.fileName(), unpack.filePath(QStringLiteral("out")), &reason))
        << reason.toStdString();
    QFile unpacked(unpack.filePath(QStringLiteral("out/Cut.00005.fcp")));
    ASSERT_TRUE(unpacked.open(QIODevice::ReadOnly));
    EXPECT_EQ(unpacked.readAll(), QByteArray("the fifth version"));

    QSignalSpy listed(sync(), &QFDropboxSync::syncedFiles);
    engine.loadSyncedFileListForProjectUUID(QStringLiteral("X"));
    ASSERT_TRUE(waitFor([&] { return !listed.isEmpty(); }));
    const QVariantMap info = listed.first().first().toMap();
    EXPECT_EQ(info.value(QStringLiteral("filenames")).toStringList(), QStringList { QStringLiteral("Cut.00005.fcp") });
    EXPECT_EQ(info.value(QStringLiteral("sizes")).toList().value(0).toLongLong(),
        fake.fileSize(QStringLiteral("/X/Cut.00005.fcp.zip")));
    EXPECT_TRUE(info.value(QStringLiteral("dates")).toList().value(0).toDateTime().isValid());

    QSignalSpy removed(sync(), &QFDropboxSync::removeRemoteFile);
    ASSERT_TRUE(engine.removeBackup(path, 1, true));
    ASSERT_TRUE(waitFor([&] { return !removed.isEmpty(); }));
    EXPECT_EQ(removed.first().first().toMap().value(QStringLiteral("filename")).toString(),
        QStringLiteral("/X/Cut.00005.fcp.zip"));
    EXPECT_FALSE(fake.hasFile(QStringLiteral("/X/Cut.00005.fcp.zip")));
}

TEST_F(DropboxSyncTest, ListingsOfEmptyFoldersAndOfManyPages)
{
    // Pages of a thousand entries take the fake a while to write in a sanitized build: a time-out of its own.
    synctest::pointAtFake(fake, 1, 60);
    synctest::linkAccount(fake);
    QFTombrelBackup engine;

    // A folder whose only file was removed holds nothing: the notification carries no user information.
    fake.putFile(QStringLiteral("/E/Old.00001.fcp.zip"), "x");
    QSignalSpy removed(sync(), &QFDropboxSync::removeRemoteFile);
    sync()->deleteRemotePaths({ QStringLiteral("/E/Old.00001.fcp.zip") });
    ASSERT_TRUE(waitFor([&] { return !removed.isEmpty(); }));
    QSignalSpy listed(sync(), &QFDropboxSync::syncedFiles);
    QSignalSpy failed(sync(), &QFDropboxSync::metadataError);
    fake.putFile(QStringLiteral("/E/Sub/inner.zip"), "y");
    engine.loadSyncedFileListForProjectUUID(QStringLiteral("E"));
    ASSERT_TRUE(waitFor([&] { return !listed.isEmpty() || !failed.isEmpty(); }));
    ASSERT_EQ(listed.size(), 1);
    EXPECT_TRUE(listed.first().first().toMap().isEmpty());

    // 2,500 versions come over three pages, in one notification.
    for (int i = 1; i <= 2500; ++i)
        fake.putFile(QStringLiteral("/Big/Cut.%1.fcp.zip").arg(i, 5, 10, QLatin1Char('0')), "z");
    listed.clear();
    fake.clearRequests();
    engine.loadSyncedFileListForProjectUUID(QStringLiteral("Big"));
    ASSERT_TRUE(waitFor([&] { return !listed.isEmpty() || failed.size() > 0; }, 180000));
    ASSERT_FALSE(listed.isEmpty()) << qPrintable(failed.isEmpty() ? QString() : failed.first().first().toString());
    const QStringList names = listed.first().first().toMap().value(QStringLiteral("filenames")).toStringList();
    EXPECT_EQ(names.size(), 2500);
    EXPECT_TRUE(names.contains(QStringLiteral("Cut.02500.fcp")));
    EXPECT_EQ(fake.requestCount(QStringLiteral("/2/files/list_folder/continue")), 2);

    // A project never synced has no folder: a metadata error, nothing listed.
    listed.clear();
    engine.loadSyncedFileListForProjectUUID(QStringLiteral("Never"));
    ASSERT_TRUE(waitFor([&] { return !failed.isEmpty(); }));
    EXPECT_TRUE(listed.isEmpty());
}

TEST_F(DropboxSyncTest, ExpiredTokensAreRefreshedAndBusyAnswersWaitedFor)
{
    synctest::linkAccount(fake);
    QFTombrelBackup engine;
    QSignalSpy complete(sync(), &QFDropboxSync::syncComplete);
    engine.uploadFileToCloud(version(QStringLiteral("P"), QStringLiteral("A.00001.fcp")));
    ASSERT_TRUE(waitFor([&] { return complete.size() == 1; }));

    fake.expireAccessTokens();
    fake.clearRequests();
    engine.uploadFileToCloud(version(QStringLiteral("P"), QStringLiteral("A.00002.fcp")));
    ASSERT_TRUE(waitFor([&] { return complete.size() == 2; }));
    EXPECT_EQ(fake.requestCount(QStringLiteral("/oauth2/token")), 1);
    EXPECT_EQ(fake.requestCount(QStringLiteral("/2/files/upload")), 2);
    EXPECT_TRUE(fake.hasFile(QStringLiteral("/P/A.00002.fcp.zip")));

    fake.failNext(QStringLiteral("/2/files/upload"), 429, "{\"error_summary\": \"too_many_requests/..\"}",
        { { "Retry-After", "1" } });
    fake.clearRequests();
    ASSERT_TRUE(sync()->restClient());
    QSignalSpy waiting(sync()->restClient(), &QFDropboxClient::waitingToRetry);
    engine.uploadFileToCloud(version(QStringLiteral("P"), QStringLiteral("A.00003.fcp")));
    ASSERT_TRUE(waitFor([&] { return complete.size() == 3; }));
    // The upload waited the second the service asked for before it was sent again.
    ASSERT_EQ(waiting.size(), 1);
    EXPECT_EQ(waiting.first().first().toInt(), 1);
    EXPECT_EQ(fake.requestCount(QStringLiteral("/2/files/upload")), 2);

    // A second busy answer is the failure.
    QSignalSpy failed(sync(), &QFDropboxSync::syncFailed);
    fake.failNext(QStringLiteral("/2/files/upload"), 503, {}, { { "Retry-After", "0" } });
    fake.failNext(QStringLiteral("/2/files/upload"), 503, {}, { { "Retry-After", "0" } });
    engine.uploadFileToCloud(version(QStringLiteral("P"), QStringLiteral("A.00004.fcp")));
    ASSERT_TRUE(waitFor([&] { return !failed.isEmpty(); }));
    EXPECT_EQ(failed.first().first().toMap().value(QStringLiteral("errorCode")).toInt(), 503);
    EXPECT_EQ(failed.first().first().toMap().value(QStringLiteral("filename")).toString(), QString());
}

TEST_F(DropboxSyncTest, UploadModeReportsFailuresAtMostEveryHalfHour)
{
    synctest::linkAccount(fake);
    QDateTime now = QDateTime(QDate(2026, 12, 8), QTime(10, 0), Qt::UTC);
    QFClock::setSource([&] { return now.toMSecsSinceEpoch(); });
    int quits = 0;
    sync()->setUploadMode(true, [&] { ++quits; });
    QFTombrelBackup engine;

    fake.failNext(QStringLiteral("/2/files/upload"), 403, "{\"error_summary\": \"no_write_permission/..\"}");
    engine.uploadFileToCloud(version(QStringLiteral("X"), QStringLiteral("Cut.00005.fcp")));
    ASSERT_TRUE(waitFor([&] { return quits == 1; }));
    QStringList log = home.logMessages(kLog);
    // The message is the lead text, a blank line and the description (the log keeps one line a line).
    const int at
        = int(log.indexOf(QStringLiteral("Dropbox upload failed: Authentication error - please reauthorize Dropbox.")));
    ASSERT_GE(at, 0) << log.join(u'\n').toStdString();
    EXPECT_EQ(log.value(at + 1), QStringLiteral("no_write_permission/.."));
    EXPECT_EQ(QFPreferenceSnapshot::read().value(QStringLiteral("lastSyncError")).toDateTime(), now);
    EXPECT_FALSE(QFileInfo::exists(QFLocalPaths::tempDirectory() + QStringLiteral("/Cut.00005.fcp.zip")));
    EXPECT_EQ(temporaryEntries(), QStringList());

    // Ten minutes later: logged, not notified (the time of the last notice stays).
    const QDateTime first = now;
    now = now.addSecs(600);
    fake.failNext(QStringLiteral("/2/files/upload"), 403, "{\"error_summary\": \"no_write_permission/..\"}");
    engine.uploadFileToCloud(version(QStringLiteral("X"), QStringLiteral("Cut.00006.fcp")));
    ASSERT_TRUE(waitFor([&] { return quits == 2; }));
    log = home.logMessages(kLog);
    EXPECT_EQ(log.filter(QStringLiteral("Dropbox upload failed: Authentication error")).size(), 2);
    EXPECT_EQ(QFPreferenceSnapshot::read().value(QStringLiteral("lastSyncError")).toDateTime(), first);

    // A time-out leads with its own text; past half an hour it is notified again.
    now = now.addSecs(1800);
    synctest::pointAtFake(fake, 1, 1);
    sync()->removeRestClient();
    fake.stallNext(QStringLiteral("/2/files/upload"));
    engine.uploadFileToCloud(version(QStringLiteral("X"), QStringLiteral("Cut.00007.fcp")));
    ASSERT_TRUE(waitFor([&] { return quits == 3; }));
    log = home.logMessages(kLog);
    EXPECT_EQ(log.filter(QStringLiteral("Dropbox upload failed: Timed out. Please try again.")).size(), 1)
        << log.join(u'\n').toStdString();
    EXPECT_EQ(QFPreferenceSnapshot::read().value(QStringLiteral("lastSyncError")).toDateTime(), now);

    // Success ends the process too, and without an account there is nothing to wait for.
    engine.uploadFileToCloud(version(QStringLiteral("X"), QStringLiteral("Cut.00008.fcp")));
    ASSERT_TRUE(waitFor([&] { return quits == 4; }));
    EXPECT_TRUE(fake.hasFile(QStringLiteral("/X/Cut.00008.fcp.zip")));
    QFile::remove(synctest::linkRecordPath());
    sync()->removeRestClient();
    engine.uploadFileToCloud(version(QStringLiteral("X"), QStringLiteral("Cut.00009.fcp")));
    ASSERT_TRUE(waitFor([&] { return quits == 5; }));
}

TEST_F(DropboxSyncTest, LargeFilesGoThroughASessionAndDownloadsStreamToDisk)
{
    synctest::linkAccount(fake);
    QFDropboxClient *client = sync()->restClient();
    ASSERT_NE(client, nullptr);
    // 200 MB, sparse: the client must send it in parts, each streamed from disk.
    const QString big = home.file(QStringLiteral("big.bin"));
    {
        QFile file(big);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(200LL * 1024 * 1024));
        file.seek(200LL * 1024 * 1024 - 4);
        file.write("tail");
    }
    QSignalSpy uploaded(client, &QFDropboxClient::uploadedFile);
    QSignalSpy progress(client, &QFDropboxClient::uploadProgress);
    client->uploadFile(QStringLiteral("big.bin"), QStringLiteral("/L"), big);
    ASSERT_TRUE(waitFor([&] { return !uploaded.isEmpty(); }, 120000));
    EXPECT_EQ(fake.fileSize(QStringLiteral("/L/big.bin")), 200LL * 1024 * 1024);
    EXPECT_EQ(fake.requestCount(QStringLiteral("/2/files/upload")), 0);
    EXPECT_EQ(fake.requestCount(QStringLiteral("/2/files/upload_session/start")), 1);
    EXPECT_EQ(fake.requestCount(QStringLiteral("/2/files/upload_session/finish")), 1);
    EXPECT_GE(fake.requestCount(QStringLiteral("/2/files/upload_session/append_v2")), 1);
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_DOUBLE_EQ(progress.last().first().toDouble(), 1.0);

    // Downloads report progress and land whole; a cancelled one leaves nothing behind.
    fake.putFile(QStringLiteral("/D/Cut.00001.fcp.zip"), QByteArray(3 * 1024 * 1024, 'd'));
    fake.setDownloadChunkSize(64 * 1024);
    QSignalSpy downloaded(sync(), &QFDropboxSync::fileDownloaded);
    const QString target = home.file(QStringLiteral("download.zip"));
    QFTombrelBackup engine;
    engine.downloadFile(QStringLiteral("/D/Cut.00001.fcp.zip"), target);
    ASSERT_TRUE(waitFor([&] { return !downloaded.isEmpty(); }));
    EXPECT_EQ(downloaded.first().first().toMap().value(QStringLiteral("filename")).toString(), target);
    EXPECT_EQ(QFileInfo(target).size(), 3 * 1024 * 1024);

    fake.stallNext(QStringLiteral("/2/files/download"));
    const QString cancelled = home.file(QStringLiteral("cancelled.zip"));
    engine.downloadFile(QStringLiteral("/D/Cut.00001.fcp.zip"), cancelled);
    ASSERT_TRUE(waitFor(
        [&] { return fake.requestCount(QStringLiteral("/2/files/download")) == 2 || QFileInfo::exists(cancelled); }));
    sync()->cancelDownload(QStringLiteral("/D/Cut.00001.fcp.zip"));
    ASSERT_TRUE(waitFor([&] { return client->pendingRequests() == 0; }));
    EXPECT_FALSE(QFileInfo::exists(cancelled));
    EXPECT_EQ(downloaded.size(), 1);

    // A missing remote file is only logged: nothing is posted, nothing is left.
    engine.downloadFile(QStringLiteral("/D/missing.zip"), home.file(QStringLiteral("missing.zip")));
    ASSERT_TRUE(waitFor(
        [&] { return client->pendingRequests() == 0 && fake.requestCount(QStringLiteral("/2/files/download")) == 3; }));
    EXPECT_FALSE(QFileInfo::exists(home.file(QStringLiteral("missing.zip"))));
    EXPECT_EQ(downloaded.size(), 1);
}

TEST_F(DropboxSyncTest, EachArchiveIsMadeInAPrivateFolderOfItsOwnThatGoesWithTheUpload)
{
    synctest::linkAccount(fake);
    QFTombrelBackup engine;
    // Versions of one name in two projects, sent one right after the other.
    const QString x = version(QStringLiteral("X"), QStringLiteral("Cut.00005.fcp"), "the version of X");
    const QString y = version(QStringLiteral("Y"), QStringLiteral("Cut.00005.fcp"), "the version of Y");
    struct Seen {
        QString folder;
        mode_t mode = 0;
        uid_t owner = 0;
    };
    QList<Seen> seen;
    QObject context;
    QObject::connect(sync(), &QFDropboxSync::uploadProgress, &context, [&](const QVariantMap &info) {
        const QString folder = QFileInfo(info.value(QStringLiteral("filename")).toString()).absolutePath();
        if (std::any_of(seen.cbegin(), seen.cend(), [&](const Seen &s) { return s.folder == folder; }))
            return;
        struct stat st { };
        ::lstat(QFile::encodeName(folder).constData(), &st);
        seen.append({ folder, mode_t(st.st_mode), st.st_uid });
    });
    QSignalSpy complete(sync(), &QFDropboxSync::syncComplete);
    engine.uploadFileToCloud(x);
    engine.uploadFileToCloud(y);
    ASSERT_TRUE(waitFor([&] { return complete.size() == 2; }));
    EXPECT_EQ(unpacked(fake.fileContent(QStringLiteral("/X/Cut.00005.fcp.zip")), QStringLiteral("Cut.00005.fcp")),
        QByteArray("the version of X"));
    EXPECT_EQ(unpacked(fake.fileContent(QStringLiteral("/Y/Cut.00005.fcp.zip")), QStringLiteral("Cut.00005.fcp")),
        QByteArray("the version of Y"));
    ASSERT_EQ(seen.size(), 2);
    for (const Seen &folder : std::as_const(seen)) {
        SCOPED_TRACE(folder.folder.toStdString());
        EXPECT_NE(folder.folder, QFLocalPaths::tempDirectory());
        EXPECT_EQ(QFileInfo(folder.folder).absolutePath(), QFLocalPaths::tempDirectory());
        EXPECT_TRUE(S_ISDIR(folder.mode));
        EXPECT_EQ(folder.mode & 07777, mode_t(0700));
        EXPECT_EQ(folder.owner, ::getuid());
    }
    EXPECT_EQ(temporaryEntries(), QStringList());

    // A refused upload takes its folder along too.
    QSignalSpy failed(sync(), &QFDropboxSync::syncFailed);
    fake.failNext(QStringLiteral("/2/files/upload"), 403, "{\"error_summary\": \"no_write_permission/..\"}");
    engine.uploadFileToCloud(version(QStringLiteral("X"), QStringLiteral("Cut.00006.fcp")));
    ASSERT_TRUE(waitFor([&] { return !failed.isEmpty(); }));
    EXPECT_EQ(temporaryEntries(), QStringList());
}

TEST_F(DropboxSyncTest, AVersionsCopyGoesWithItWhicheverFileStandsForIt)
{
    synctest::linkAccount(fake);
    QFTombrelBackup engine;
    QSignalSpy removed(sync(), &QFDropboxSync::removeRemoteFile);
    QSignalSpy failed(sync(), &QFDropboxSync::removeRemoteFileFailed);
    const auto answers = [&] { return removed.size() + failed.size(); };
    {
        SCOPED_TRACE("a Final Cut Pro version removed by its XML copy, as the window lists it");
        version(QStringLiteral("X"), QStringLiteral("Cut.00005.fcp"));
        const QString xml = version(QStringLiteral("X"), QStringLiteral("Cut.00005.xml"), "<xmeml/>");
        fake.putFile(QStringLiteral("/X/Cut.00005.fcp.zip"), "archive");
        ASSERT_TRUE(engine.removeBackup(xml, 1, true));
        ASSERT_TRUE(waitFor([&] { return answers() == 1; }));
        EXPECT_EQ(removed.size(), 1);
        EXPECT_FALSE(fake.hasFile(QStringLiteral("/X/Cut.00005.fcp.zip")));
        EXPECT_EQ(removed.value(0).value(0).toMap().value(QStringLiteral("filename")).toString(),
            QStringLiteral("/X/Cut.00005.fcp.zip"));
    }
    {
        SCOPED_TRACE("a copy that went up uncompressed, removed as tombrel delete removes versions");
        const QString fcp = version(QStringLiteral("X"), QStringLiteral("Cut.00006.fcp"));
        fake.putFile(QStringLiteral("/X/Cut.00006.fcp"), "uncompressed");
        EXPECT_EQ(QFProjectActions::deleteVersions({ fcp }), QStringList());
        ASSERT_TRUE(waitFor([&] { return answers() == 2; }));
        EXPECT_EQ(removed.size(), 2);
        EXPECT_FALSE(fake.hasFile(QStringLiteral("/X/Cut.00006.fcp")));
    }
    {
        SCOPED_TRACE("the XML copy of a version removed already, as the helper hands it on");
        fake.putFile(QStringLiteral("/X/Cut.00007.fcp.zip"), "archive");
        sync()->deleteRemoteCopies({ home.file(QStringLiteral("Store/X.localized/Versions/Cut.00007.xml")) });
        ASSERT_TRUE(waitFor([&] { return answers() == 3; }));
        EXPECT_EQ(removed.size(), 3);
        EXPECT_FALSE(fake.hasFile(QStringLiteral("/X/Cut.00007.fcp.zip")));
    }
    {
        SCOPED_TRACE("a version Dropbox never held: one failure, logged once");
        sync()->deleteRemoteCopies({ home.file(QStringLiteral("Store/X.localized/Versions/Cut.00008.fcp")) });
        ASSERT_TRUE(waitFor([&] { return answers() == 4; }));
        EXPECT_EQ(failed.size(), 1);
        EXPECT_EQ(home.logMessages(kLog).filter(QStringLiteral("Failed to delete Dropbox file: ")).size(), 1);
    }
    {
        SCOPED_TRACE("a project's folder");
        fake.putFile(QStringLiteral("/X/Cut.00009.fcp.zip"), "archive");
        sync()->deleteRemoteCopies({ home.file(QStringLiteral("Store/X.localized")) });
        ASSERT_TRUE(waitFor([&] { return answers() == 5; }));
        EXPECT_EQ(removed.size(), 4);
        EXPECT_EQ(removed.value(3).value(0).toMap().value(QStringLiteral("filename")).toString(), QStringLiteral("/X"));
        EXPECT_EQ(fake.filePaths(), QStringList());
    }
}

TEST_F(DropboxSyncTest, ListingsLeaveOutNamesThatCannotBeVersionsOfTheProject)
{
    synctest::linkAccount(fake);
    fake.putFile(QStringLiteral("/X/Cut.00005.fcp.zip"), "five");
    fake.putFile(QStringLiteral("/X/Cut.00006.fcp"), "six, uncompressed");
    fake.putFile(QStringLiteral("/X/Cut.00007.fcp"), "seven, uncompressed");
    fake.putFile(QStringLiteral("/X/Cut.00007.fcp.zip"), "seven");
    fake.putFile(QStringLiteral("/X/notes.txt"), "not a version");
    const QStringList hostile
        = { QStringLiteral("../../secret.zip"), QStringLiteral("Cut.00009.prproj\n2030-01-01 Cut.00001.fcp.zip"),
              QStringLiteral("a/b.00001.fcp.zip"), QStringLiteral("..\\b.00001.fcp.zip"), QStringLiteral(".."),
              QString(300, u'A') + QStringLiteral(".00001.fcp.zip"), QStringLiteral("Cut.00010.fcp\x1b[2J.zip"),
              QStringLiteral("Cut.00011.fcp") + QChar(0x85) + QStringLiteral(".zip") };
    for (int i = 0; i < hostile.size(); ++i) {
        const QString path = QStringLiteral("/X/hostile%1.zip").arg(i);
        fake.putFile(path, "x");
        fake.listFileAs(path, hostile.at(i));
    }
    QSignalSpy listed(sync(), &QFDropboxSync::syncedFiles);
    QFTombrelBackup engine;
    engine.loadSyncedFileListForProjectUUID(QStringLiteral("X"));
    ASSERT_TRUE(waitFor([&] { return !listed.isEmpty(); }));
    const QVariantMap info = listed.first().first().toMap();
    EXPECT_EQ(info.value(QStringLiteral("filenames")).toStringList(),
        (QStringList {
            QStringLiteral("Cut.00005.fcp"), QStringLiteral("Cut.00006.fcp"), QStringLiteral("Cut.00007.fcp") }));
    EXPECT_EQ(info.value(QStringLiteral("remoteNames")).toStringList(),
        (QStringList { QStringLiteral("Cut.00005.fcp.zip"), QStringLiteral("Cut.00006.fcp"),
            QStringLiteral("Cut.00007.fcp.zip") }));
    const QVariantList sizes = info.value(QStringLiteral("sizes")).toList();
    ASSERT_EQ(sizes.size(), 3);
    EXPECT_EQ(sizes.at(1).toLongLong(), 17);
    EXPECT_EQ(sizes.at(2).toLongLong(), 5);
    EXPECT_EQ(info.value(QStringLiteral("dates")).toList().size(), 3);
    // The log names what was left out, and no control character reaches it.
    const QString log = home.logMessages(kLog).join(u'\n');
    EXPECT_TRUE(log.contains(
        QStringLiteral("Dropbox lists “../../secret.zip” in /X, which cannot be a version; it is left out.")));
    EXPECT_TRUE(log.contains(QStringLiteral("Cut.00009.prproj<U+000A>2030-01-01"))) << log.toStdString();
    EXPECT_FALSE(log.contains(QChar(0x1b)));
}

TEST_F(DropboxSyncTest, ANameThatLeavesTheProjectsFolderIsRefusedBeforeAnyRequest)
{
    for (const QString &name :
        { QString(), QStringLiteral("."), QStringLiteral(".."), QStringLiteral("../../secret.zip"),
            QStringLiteral("a/b.zip"), QStringLiteral("/etc/passwd"), QStringLiteral("a\\b.zip"),
            QStringLiteral("nul\0here.zip"), QStringLiteral("line\nbreak.zip"), QStringLiteral("tab\t.zip"),
            QStringLiteral("del\x7f.zip"), QStringLiteral("next") + QChar(0x85) + QStringLiteral("line.zip"),
            QStringLiteral("sep") + QChar(0x2028) + QStringLiteral(".zip"), QString(256, u'a') }) {
        SCOPED_TRACE(QFDropboxSync::printableName(name).toStdString());
        QString why;
        EXPECT_FALSE(QFDropboxSync::isRemoteName(name, &why));
        EXPECT_FALSE(why.isEmpty());
        EXPECT_FALSE(QFDropboxSync::remotePathInProject(QStringLiteral("X"), name));
        EXPECT_FALSE(QFDropboxSync::remotePathInProject(name, QStringLiteral("Cut.00001.fcp.zip")));
    }
    for (const QString &name :
        { QStringLiteral("Cut.00005.fcp.zip"), QStringLiteral("Wedding Cut, final ünï.00012.prproj"),
            QStringLiteral("Edit.00007"), QStringLiteral("..Cut.00001.fcp"), QString(255, u'a') }) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_TRUE(QFDropboxSync::isRemoteName(name));
        EXPECT_EQ(QFDropboxSync::remotePathInProject(QStringLiteral("X"), name),
            std::optional<QString>(QStringLiteral("/X/") + name));
    }
    EXPECT_TRUE(QFDropboxSync::isVersionFileName(QStringLiteral("Cut.00005.fcp")));
    EXPECT_TRUE(QFDropboxSync::isVersionFileName(QStringLiteral("Edit.00007")));
    EXPECT_TRUE(QFDropboxSync::isVersionFileName(QStringLiteral("Cut.v2.100000.kdenlive")));
    EXPECT_FALSE(QFDropboxSync::isVersionFileName(QStringLiteral("notes.txt")));
    EXPECT_FALSE(QFDropboxSync::isVersionFileName(QStringLiteral("Cut.0005.fcp")));
    EXPECT_FALSE(QFDropboxSync::isVersionFileName(QStringLiteral(".Cut.00005.fcp")));
    EXPECT_EQ(QFDropboxSync::printableName(QStringLiteral("a\nb") + QChar(0x202e) + u'c'),
        QStringLiteral("a<U+000A>b<U+202E>c"));

    // The engine itself downloads nothing from outside a project's folder.
    synctest::linkAccount(fake);
    fake.putFile(QStringLiteral("/secret.zip"), "not the project's");
    QSignalSpy refused(sync(), &QFDropboxSync::fileDownloadFailed);
    QSignalSpy downloaded(sync(), &QFDropboxSync::fileDownloaded);
    const QString target = home.file(QStringLiteral("got.zip"));
    for (const QString &remote : { QStringLiteral("/X/../../secret.zip"), QStringLiteral("/X/../secret.zip"),
             QStringLiteral("/secret.zip"), QStringLiteral("/X/a/b.zip"), QStringLiteral("X/secret.zip") })
        sync()->downloadFile(remote, target);
    ASSERT_TRUE(waitFor([&] { return refused.size() == 5; }));
    EXPECT_TRUE(downloaded.isEmpty());
    EXPECT_EQ(fake.requestCount(QStringLiteral("/2/files/download")), 0);
    EXPECT_FALSE(QFileInfo::exists(target));
}

TEST(DropboxErrors, LeadTextsFollowTheKindOfFailure)
{
    const auto lead = [](QFDropboxError error) { return QFDropboxClient::leadTextForError(error); };
    EXPECT_EQ(lead(QFDropboxError::url(-1001)), QStringLiteral("Timed out. Please try again."));
    EXPECT_EQ(lead(QFDropboxError::url(-1009)), QStringLiteral("You are not connected to the internet."));
    EXPECT_EQ(
        lead(QFDropboxError::url(-1003)), QStringLiteral("Cannot find host. Please check your network connection."));
    EXPECT_EQ(lead(QFDropboxError::url(-1005)), QStringLiteral("The network connection was interrupted."));
    EXPECT_EQ(
        lead(QFDropboxError::url(-1200)), QStringLiteral("Secure connection failed - please reauthorize Dropbox."));
    EXPECT_EQ(lead(QFDropboxError::url(-1202)),
        QStringLiteral("There was an error with the server certificate - please reauthorize Dropbox."));
    EXPECT_EQ(lead(QFDropboxError::http(507, {})), QStringLiteral("Dropbox disk quota exceeded."));
    EXPECT_EQ(lead(QFDropboxError::http(503, {})), QStringLiteral("App requests limited - please try again later."));
    EXPECT_EQ(
        lead(QFDropboxError::http(401, {})), QStringLiteral("Authentication error - please reauthorize Dropbox."));
    EXPECT_EQ(lead(QFDropboxError::http(502, {})), QStringLiteral("Server error - please try again later."));
    EXPECT_EQ(lead(QFDropboxError::http(409, {})), QString());
    EXPECT_EQ(lead(QFDropboxError::url(-1004)), QString());
    EXPECT_EQ(QFDropboxSync::messageForError(QFDropboxError::http(409, QStringLiteral("path/conflict/.."))),
        QStringLiteral("path/conflict/.."));
}

TEST_F(DropboxSyncTest, FailuresOfTheNetworkAndAFullDropboxHaveTheirCodes)
{
    synctest::linkAccount(fake);
    QFDropboxClient *client = sync()->restClient();
    QSignalSpy failed(client, &QFDropboxClient::uploadFileFailed);
    const QString path = home.write(QStringLiteral("small.bin"), "abc");
    fake.failNext(QStringLiteral("/2/files/upload"), 409,
        "{\"error_summary\": \"path/insufficient_space/..\", \"error\": {\".tag\": \"path\", \"reason\": {\".tag\": "
        "\"insufficient_space\"}}}");
    client->uploadFile(QStringLiteral("small.bin"), QStringLiteral("/Q"), path);
    ASSERT_TRUE(waitFor([&] { return failed.size() == 1; }));
    EXPECT_EQ(failed.last().first().value<QFDropboxError>().code, 507);

    // Two dropped connections in a row (the network layer resends once by itself) read as an interruption.
    fake.dropNext(QStringLiteral("/2/files/upload"));
    fake.dropNext(QStringLiteral("/2/files/upload"));
    client->uploadFile(QStringLiteral("small.bin"), QStringLiteral("/Q"), path);
    ASSERT_TRUE(waitFor([&] { return failed.size() == 2; }));
    EXPECT_EQ(failed.last().first().value<QFDropboxError>().code, -1005);

    // Nobody listening at the address.
    {
        QFFakeDropbox gone;
        ASSERT_TRUE(gone.listen());
        synctest::pointAtFake(gone);
    }
    sync()->removeRestClient();
    synctest::linkAccount(fake);
    client = sync()->restClient();
    QSignalSpy refused(client, &QFDropboxClient::uploadFileFailed);
    client->uploadFile(QStringLiteral("small.bin"), QStringLiteral("/Q"), path);
    ASSERT_TRUE(waitFor([&] { return refused.size() == 1; }));
    EXPECT_EQ(refused.last().first().value<QFDropboxError>().domain, QFDropboxError::Domain::URL);
    EXPECT_EQ(refused.last().first().value<QFDropboxError>().code, -1004);
}

class DropboxRestoreTest : public TempHomeTest { };

TEST_F(DropboxRestoreTest, TheSwapNeverLosesTheProjectFile)
{
    const QString project = home.write(QStringLiteral("Videos/Cut.fcp"), "current");
    const QString version = home.write(QStringLiteral("made/Cut.00002.fcp"), "restored");
    const QString archive = home.file(QStringLiteral("made/Cut.00002.fcp.zip"));
    QString reason;
    ASSERT_TRUE(qfZipItem(version, archive, false, &reason)) << reason.toStdString();
    const auto contents = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    };

    // An archive without the file: nothing is touched.
    EXPECT_EQ(
        QFDropboxRestore::swapIn(archive, QStringLiteral("Other.fcp"), project), QFDropboxRestore::Result::CopyFailed);
    EXPECT_EQ(contents(project), QByteArray("current"));
    EXPECT_EQ(
        QDir(home.file(QStringLiteral("Videos"))).entryList(QDir::Files), QStringList { QStringLiteral("Cut.fcp") });

    // A folder where the file cannot be set aside: the project file stays as it is.
    {
        FrozenFolder frozen(home.file(QStringLiteral("Videos")));
        if (frozen.frozen()) {
            EXPECT_EQ(QFDropboxRestore::swapIn(archive, QStringLiteral("Cut.00002.fcp"), project),
                QFDropboxRestore::Result::RenameFailed);
            EXPECT_EQ(contents(project), QByteArray("current"));
        }
    }

    EXPECT_EQ(QFDropboxRestore::swapIn(archive, QStringLiteral("Cut.00002.fcp"), project),
        QFDropboxRestore::Result::Restored);
    EXPECT_EQ(contents(project), QByteArray("restored"));
    EXPECT_EQ(contents(home.file(QStringLiteral(".local/share/Trash/files/Cut 2.fcp"))), QByteArray("current"));
    EXPECT_EQ(
        QDir(home.file(QStringLiteral("Videos"))).entryList(QDir::Files), QStringList { QStringLiteral("Cut.fcp") });
}

TEST_F(DropboxRestoreTest, OnlyARegularFileTakesThePlaceOfTheProject)
{
    const QString project = home.write(QStringLiteral("Videos/Cut.fcp"), "current");
    home.write(QStringLiteral("Videos/Other.fcp"), "another project");
    const QString archive = home.file(QStringLiteral("made/copy.zip"));
    QDir().mkpath(home.file(QStringLiteral("made")));
    const QByteArray name = "Cut.00002.fcp";
    const struct {
        const char *what;
        QList<hostilezip::Entry> entries;
    } cases[] = {
        { "a link to another file of the project's folder", { { name, "Other.fcp", 0120777 } } },
        { "a dangling link", { { name, "missing", 0120777 } } },
        { "a link to a file beside it in the archive", { { "target", "data" }, { name, "target", 0120777 } } },
        { "a link out of the folder", { { name, "/etc/passwd", 0120777 } } },
        { "a folder", { { name + '/', {}, 040755, true } } },
        { "a folder made by what it holds", { { name + "/inner", "inside" } } },
        { "a named pipe", { { name, {}, 010644 } } },
        { "a device", { { name, {}, 020644 } } },
        { "a socket", { { name, {}, 0140644 } } },
        { "two entries of that name", { { name, "one" }, { "./" + name, "two" } } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        QString reason;
        ASSERT_TRUE(hostilezip::write(archive, c.entries, &reason)) << reason.toStdString();
        reason.clear();
        EXPECT_EQ(QFDropboxRestore::restoreCopy(archive, QString::fromUtf8(name) + QStringLiteral(".zip"),
                      QFileInfo(archive).size(), project, &reason),
            QFDropboxRestore::Result::CopyFailed);
        EXPECT_FALSE(reason.isEmpty());
        EXPECT_FALSE(QFileInfo(project).isSymLink());
        EXPECT_TRUE(QFileInfo(project).isFile());
        EXPECT_EQ(contentsOf(project), QByteArray("current"));
        EXPECT_EQ(QDir(home.file(QStringLiteral("Videos")))
                      .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            (QStringList { QStringLiteral("Cut.fcp"), QStringLiteral("Other.fcp") }));
        EXPECT_EQ(temporaryEntries(), QStringList());
    }
}

TEST_F(DropboxRestoreTest, TheRestoredFileHasTheUsersModeNeverTheArchives)
{
    const QString project = home.write(QStringLiteral("Videos/Cut.fcp"), "current");
    const QString archive = home.file(QStringLiteral("made/copy.zip"));
    QDir().mkpath(home.file(QStringLiteral("made")));
    // Set-user-ID, set-group-ID, sticky and writable by everyone.
    ASSERT_TRUE(hostilezip::write(archive, { { "Cut.00002.fcp", "restored", 0107777 } }));
    const auto modeOf = [](const QString &path) {
        struct stat st { };
        ::lstat(QFile::encodeName(path).constData(), &st);
        return mode_t(st.st_mode & 07777);
    };
    {
        SCOPED_TRACE("the mode of the project file it replaces");
        ASSERT_EQ(::chmod(QFile::encodeName(project).constData(), 0640), 0);
        EXPECT_EQ(QFDropboxRestore::restoreCopy(
                      archive, QStringLiteral("Cut.00002.fcp.zip"), QFileInfo(archive).size(), project),
            QFDropboxRestore::Result::Restored);
        EXPECT_EQ(contentsOf(project), QByteArray("restored"));
        EXPECT_EQ(modeOf(project), mode_t(0640));
    }
    {
        SCOPED_TRACE("no project file: the ordinary mode under the user's umask");
        ASSERT_TRUE(QFile::remove(project));
        const mode_t saved = ::umask(027);
        const QFDropboxRestore::Result result
            = QFDropboxRestore::restoreCopy(archive, QStringLiteral("Cut.00002.fcp.zip"), -1, project);
        ::umask(saved);
        EXPECT_EQ(result, QFDropboxRestore::Result::Restored);
        EXPECT_EQ(modeOf(project), mode_t(0640));
        ASSERT_TRUE(QFile::remove(project));
        const mode_t open = ::umask(0);
        EXPECT_EQ(QFDropboxRestore::restoreCopy(archive, QStringLiteral("Cut.00002.fcp.zip"), -1, project),
            QFDropboxRestore::Result::Restored);
        ::umask(open);
        EXPECT_EQ(modeOf(project), mode_t(0666));
    }
    {
        SCOPED_TRACE("a copy that went up uncompressed is the version itself");
        ASSERT_EQ(::chmod(QFile::encodeName(project).constData(), 0600), 0);
        const QString download = home.write(QStringLiteral("made/download"), "uncompressed copy");
        ASSERT_EQ(::chmod(QFile::encodeName(download).constData(), 06777), 0);
        EXPECT_EQ(QFDropboxRestore::restoreCopy(download, QStringLiteral("Cut.00003.fcp"), 17, project),
            QFDropboxRestore::Result::Restored);
        EXPECT_EQ(contentsOf(project), QByteArray("uncompressed copy"));
        EXPECT_EQ(modeOf(project), mode_t(0600));
    }
    {
        SCOPED_TRACE("a remote name that is no file of the folder");
        const QString download = home.write(QStringLiteral("made/download"), "hostile");
        QString reason;
        EXPECT_EQ(QFDropboxRestore::restoreCopy(download, QStringLiteral("../../Cut.00004.fcp"), 7, project, &reason),
            QFDropboxRestore::Result::CopyFailed);
        EXPECT_TRUE(reason.contains(QStringLiteral("../../Cut.00004.fcp"))) << reason.toStdString();
        EXPECT_EQ(contentsOf(project), QByteArray("uncompressed copy"));
    }
}

TEST_F(DropboxRestoreTest, AZipBombIsStoppedAndLeavesNothingBehind)
{
    const QString project = home.write(QStringLiteral("Videos/Cut.fcp"), "current");
    const QString archive = home.file(QStringLiteral("made/bomb.zip"));
    QDir().mkpath(home.file(QStringLiteral("made")));
    const auto untouched = [&] {
        EXPECT_EQ(contentsOf(project), QByteArray("current"));
        EXPECT_EQ(QDir(home.file(QStringLiteral("Videos")))
                      .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            QStringList { QStringLiteral("Cut.fcp") });
        EXPECT_EQ(temporaryEntries(), QStringList());
    };
    ASSERT_TRUE(hostilezip::write(archive, { { "Cut.00002.fcp", QByteArray(64 * 1024 * 1024, '\0') } }));
    const qint64 listed = QFileInfo(archive).size();
    ASSERT_LT(listed, 1024 * 1024);
    {
        SCOPED_TRACE("far more than an archive of its listed size can honestly hold");
        QString reason;
        EXPECT_EQ(QFDropboxRestore::restoreCopy(archive, QStringLiteral("Cut.00002.fcp.zip"), listed, project, &reason),
            QFDropboxRestore::Result::CopyFailed);
        EXPECT_TRUE(reason.contains(QStringLiteral("its archive allows"))) << reason.toStdString();
        untouched();
    }
    {
        SCOPED_TRACE("more than the archive says, with no listed size");
        ASSERT_TRUE(hostilezip::declareSize(archive, 1000));
        QString reason;
        EXPECT_EQ(QFDropboxRestore::restoreCopy(archive, QStringLiteral("Cut.00002.fcp.zip"), -1, project, &reason),
            QFDropboxRestore::Result::CopyFailed);
        EXPECT_TRUE(reason.contains(QStringLiteral("declares"))) << reason.toStdString();
        untouched();
    }
    {
        SCOPED_TRACE("a disk that fills up while it is written");
        ASSERT_TRUE(hostilezip::write(archive, { { "Cut.00002.fcp", QByteArray(8 * 1024 * 1024, 'z') } }));
        QString reason;
        QFDropboxRestore::Result result;
        {
            const QFFullDisk full(1024 * 1024);
            result = QFDropboxRestore::restoreCopy(archive, QStringLiteral("Cut.00002.fcp.zip"), -1, project, &reason);
        }
        EXPECT_EQ(result, QFDropboxRestore::Result::CopyFailed);
        EXPECT_TRUE(reason.contains(QStringLiteral("cannot write"))) << reason.toStdString();
        untouched();
    }
    {
        SCOPED_TRACE("a project file that compresses well comes back whole");
        QByteArray xml;
        for (int i = 0; xml.size() < 4 * 1024 * 1024; ++i)
            xml += QStringLiteral(
                "<clipitem id=\"clip-%1\"><name>Interview %1</name><duration>1200</duration></clipitem>\n")
                       .arg(i)
                       .toUtf8();
        ASSERT_TRUE(hostilezip::write(archive, { { "Cut.00002.fcp", xml } }));
        EXPECT_EQ(QFDropboxRestore::restoreCopy(
                      archive, QStringLiteral("Cut.00002.fcp.zip"), QFileInfo(archive).size(), project),
            QFDropboxRestore::Result::Restored);
        EXPECT_EQ(contentsOf(project), xml);
        EXPECT_EQ(temporaryEntries(), QStringList());
    }
}

TEST_F(DropboxRestoreTest, FoldersOfTransfersWhoseProcessEndedAreSweptAway)
{
    const QString temp = QFLocalPaths::tempDirectory();
    // A process that no longer runs: a child that has been waited for.
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ASSERT_GT(child, 0);
    ::waitpid(child, nullptr, 0);
    const QString stale = temp + QStringLiteral("/ProTombrel-transfer-%1-abcdef").arg(child);
    ASSERT_TRUE(QDir().mkpath(stale + QStringLiteral("/inner")));
    home.write(QStringLiteral("tmp/ProTombrel-transfer-%1-abcdef/download").arg(child), "partial");
    // One of a process that runs (this one) stays, and so does anything else of that name but no folder.
    const QString running = temp + QStringLiteral("/ProTombrel-transfer-%1-ghijkl").arg(::getpid());
    ASSERT_TRUE(QDir().mkpath(running));
    home.write(QStringLiteral("tmp/ProTombrel-transfer-%1-file").arg(child), "a file");
    {
        const QFTransferFolder folder;
        ASSERT_TRUE(folder.isValid());
        EXPECT_FALSE(QFileInfo::exists(stale));
        EXPECT_TRUE(QFileInfo::exists(running));
        EXPECT_TRUE(QFileInfo(folder.path()).isDir());
        home.write(QStringLiteral("tmp/") + QFileInfo(folder.path()).fileName() + QStringLiteral("/left"), "anything");
    }
    QStringList left { QStringLiteral("ProTombrel-transfer-%1-file").arg(child), QFileInfo(running).fileName() };
    left.sort();
    EXPECT_EQ(temporaryEntries(), left);
}

} // namespace
