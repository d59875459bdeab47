// The rclone client against rclone's own servers on this machine: "rclone serve webdav" and "rclone serve
// sftp" over temporary folders, reached through remotes of a temporary rclone configuration, with the
// passwords obscured as rclone config writes them. Also a wrong password, remotes and programs that are
// not there, and a server that goes away in the middle of an upload.

#include "engine/QFPreferenceKeys.h"
#include "engine/QFRcloneClient.h"
#include "foundation/QFLog.h"
#include "tests/support/QFRcloneServer.h"
#include "tests/support/QFTempHome.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <csignal>
#include <unistd.h>
#include <functional>
#include <memory>

namespace {

using namespace qfrclone;

const QString kLog = QStringLiteral("rclone_client_tests");

QFDropboxError errorOf(const QSignalSpy &spy, qsizetype index = 0)
{
    return spy.at(index).first().value<QFDropboxError>();
}

class RcloneClientTest : public TempHomeTest {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        s_webdav = new RcloneServer;
        s_sftp = new RcloneServer;
        QDir().mkpath(s_dir->filePath(QStringLiteral("webdav")));
        QDir().mkpath(s_dir->filePath(QStringLiteral("sftp")));
        s_started = s_webdav->start(QStringLiteral("webdav"), s_dir->filePath(QStringLiteral("webdav")),
                        s_dir->filePath(QStringLiteral("cache")))
            && s_sftp->start(QStringLiteral("sftp"), s_dir->filePath(QStringLiteral("sftp")),
                s_dir->filePath(QStringLiteral("cache")));
        if (!s_started)
            return;
        const QString config = davSection(QStringLiteral("dav"), s_webdav->port, kPassword)
            + sftpSection(QStringLiteral("sf"), s_sftp->port, kPassword)
            + davSection(QStringLiteral("davbad"), s_webdav->port, kWrongPassword)
            + sftpSection(QStringLiteral("sfbad"), s_sftp->port, kWrongPassword);
        writeFile(s_dir->filePath(QStringLiteral("rclone.conf")), config.toUtf8());
    }

    static void TearDownTestSuite()
    {
        delete s_webdav;
        delete s_sftp;
        delete s_dir;
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_started) << "rclone servers did not start";
        QFLog::createNewLog(kLog);
        m_savedConfig = qgetenv("RCLONE_CONFIG");
        m_savedPath = qgetenv("PATH");
        qputenv("RCLONE_CONFIG", s_dir->filePath(QStringLiteral("rclone.conf")).toUtf8());
    }

    void TearDown() override
    {
        qputenv("RCLONE_CONFIG", m_savedConfig);
        qputenv("PATH", m_savedPath);
        qunsetenv("RCLONE_BWLIMIT");
        QFLog::finishWriting();
    }

    QString log() const { return home.logMessages(kLog).join(u'\n'); }

    static QString served(const QString &kind, const QString &relative)
    {
        return s_dir->filePath(kind + u'/' + relative);
    }

    static QTemporaryDir *s_dir;
    static RcloneServer *s_webdav;
    static RcloneServer *s_sftp;
    static bool s_started;

    QByteArray m_savedConfig;
    QByteArray m_savedPath;
};

QTemporaryDir *RcloneClientTest::s_dir = nullptr;
RcloneServer *RcloneClientTest::s_webdav = nullptr;
RcloneServer *RcloneClientTest::s_sftp = nullptr;
bool RcloneClientTest::s_started = false;

TEST_F(RcloneClientTest, VersionsGoUpListedByNameComeBackAndAreRemovedWithTheirProjectFolder)
{
    const struct {
        const char *remote;
        const char *folder;
    } cases[] = { { "dav:", "webdav" }, { "sf:base", "sftp/base" } };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.remote);
        const QString remote = QString::fromLatin1(c.remote);
        const QString folder = QString::fromLatin1(c.folder);
        QFRcloneClient client(remote);
        QSignalSpy uploaded(&client, &QFRcloneClient::uploadedFile);
        QSignalSpy uploadFailed(&client, &QFRcloneClient::uploadFileFailed);
        QSignalSpy progress(&client, &QFRcloneClient::uploadProgress);
        QSignalSpy deleted(&client, &QFRcloneClient::deletedPath);
        QSignalSpy deleteFailed(&client, &QFRcloneClient::deletePathFailed);

        const QByteArray first = randomBytes(300 * 1024);
        const QByteArray second = randomBytes(200 * 1024);
        const QString firstZip = home.file(QStringLiteral("tmp/Cut.00001.fcp.zip"));
        const QString secondZip = home.file(QStringLiteral("tmp/Cut.00002.fcp.zip"));
        ASSERT_TRUE(writeFile(firstZip, first));
        ASSERT_TRUE(writeFile(secondZip, second));

        // Writes go in the order asked for: the first archive is gone again before the listing.
        client.uploadFile(QStringLiteral("Cut.00001.fcp.zip"), QStringLiteral("/PROJ1"), firstZip);
        client.uploadFile(QStringLiteral("Cut.00002.fcp.zip"), QStringLiteral("/PROJ1"), secondZip);
        client.uploadFile(QStringLiteral("Cut.00003.fcp.zip"), QStringLiteral("/PROJ1"), firstZip);
        client.deletePath(QStringLiteral("/PROJ1/Cut.00003.fcp.zip"));
        EXPECT_EQ(client.pendingRequests(), 4);
        ASSERT_TRUE(waitFor([&] { return deleted.size() + deleteFailed.size() == 1; })) << log().toStdString();
        ASSERT_EQ(uploadFailed.size(), 0) << errorOf(uploadFailed).description.toStdString();
        ASSERT_EQ(uploaded.size(), 3);
        EXPECT_EQ(uploaded.at(0).at(0).toString(), QStringLiteral("/PROJ1/Cut.00001.fcp.zip"));
        EXPECT_EQ(uploaded.at(0).at(1).toString(), firstZip);
        EXPECT_EQ(uploaded.at(1).at(0).toString(), QStringLiteral("/PROJ1/Cut.00002.fcp.zip"));
        ASSERT_EQ(deleted.size(), 1);
        EXPECT_EQ(deleted.first().first().toString(), QStringLiteral("/PROJ1/Cut.00003.fcp.zip"));
        for (const QList<QVariant> &report : std::as_const(progress)) {
            EXPECT_GE(report.at(0).toDouble(), 0.0);
            EXPECT_LE(report.at(0).toDouble(), 1.0);
        }
        EXPECT_EQ(readFile(served(folder, QStringLiteral("PROJ1/Cut.00001.fcp.zip"))), first);
        EXPECT_TRUE(waitFor([&] { return client.pendingRequests() == 0; }));

        // The listing names each archive with its size; no staging file is left or listed.
        QSignalSpy listed(&client, &QFRcloneClient::loadedMetadata);
        client.loadMetadata(QStringLiteral("/PROJ1"));
        ASSERT_TRUE(waitFor([&] { return listed.size() == 1; })) << log().toStdString();
        const QFDropboxMetadata metadata = listed.first().first().value<QFDropboxMetadata>();
        EXPECT_EQ(metadata.path, QStringLiteral("/PROJ1"));
        QStringList names;
        for (const QFDropboxEntry &entry : metadata.contents) {
            names.append(entry.name);
            EXPECT_FALSE(entry.isDirectory);
            EXPECT_EQ(entry.path, QStringLiteral("/PROJ1/") + entry.name);
            EXPECT_TRUE(entry.lastModifiedDate.isValid());
            EXPECT_EQ(
                entry.totalBytes, entry.name == QLatin1String("Cut.00001.fcp.zip") ? first.size() : second.size());
        }
        names.sort();
        EXPECT_EQ(names, QStringList({ QStringLiteral("Cut.00001.fcp.zip"), QStringLiteral("Cut.00002.fcp.zip") }));
        EXPECT_EQ(QDir(served(folder, QStringLiteral("PROJ1"))).entryList(QDir::Files | QDir::Hidden).size(), 2);

        // A version comes back whole; a later upload under its name replaces it.
        QSignalSpy loaded(&client, &QFRcloneClient::loadedFile);
        QSignalSpy loadFailed(&client, &QFRcloneClient::loadFileFailed);
        const QString restored = home.file(QStringLiteral("restore/Cut.00002.fcp.zip"));
        QDir().mkpath(QFileInfo(restored).absolutePath());
        client.loadFile(QStringLiteral("/PROJ1/Cut.00002.fcp.zip"), restored);
        ASSERT_TRUE(waitFor([&] { return loaded.size() + loadFailed.size() == 1; }));
        ASSERT_EQ(loaded.size(), 1) << errorOf(loadFailed).description.toStdString();
        EXPECT_EQ(loaded.first().first().toString(), restored);
        EXPECT_EQ(readFile(restored), second);
        EXPECT_FALSE(QFileInfo::exists(restored + QStringLiteral(".partial")));
        client.uploadFile(QStringLiteral("Cut.00001.fcp.zip"), QStringLiteral("/PROJ1"), secondZip);
        ASSERT_TRUE(waitFor([&] { return uploaded.size() + uploadFailed.size() == 4; }));
        ASSERT_EQ(uploadFailed.size(), 0) << errorOf(uploadFailed).description.toStdString();
        EXPECT_EQ(readFile(served(folder, QStringLiteral("PROJ1/Cut.00001.fcp.zip"))), second);

        // A file that is not there is a failure saying so; a download of it leaves nothing.
        client.deletePath(QStringLiteral("/PROJ1/Cut.00009.fcp.zip"));
        ASSERT_TRUE(waitFor([&] { return deleteFailed.size() == 1; }));
        EXPECT_EQ(errorOf(deleteFailed).path, QStringLiteral("/PROJ1/Cut.00009.fcp.zip"));
        EXPECT_EQ(errorOf(deleteFailed).code, 409);
        EXPECT_TRUE(errorOf(deleteFailed).description.contains(QStringLiteral("not_found")))
            << errorOf(deleteFailed).description.toStdString();
        const QString missing = home.file(QStringLiteral("restore/Cut.00009.fcp.zip"));
        client.loadFile(QStringLiteral("/PROJ1/Cut.00009.fcp.zip"), missing);
        ASSERT_TRUE(waitFor([&] { return loadFailed.size() == 1; }));
        EXPECT_EQ(errorOf(loadFailed).path, missing);
        EXPECT_FALSE(QFileInfo::exists(missing));
        EXPECT_FALSE(QFileInfo::exists(missing + QStringLiteral(".partial")));

        // The project folder goes whole, and the remote's root never.
        client.deletePath(QStringLiteral("/PROJ1"));
        client.deletePath(QStringLiteral("/"));
        ASSERT_TRUE(waitFor([&] { return deleted.size() == 2 && deleteFailed.size() == 2; })) << log().toStdString();
        EXPECT_EQ(deleted.at(1).first().toString(), QStringLiteral("/PROJ1"));
        EXPECT_FALSE(QFileInfo::exists(served(folder, QStringLiteral("PROJ1"))));
        EXPECT_TRUE(QFileInfo::exists(served(folder, QString())));
        QSignalSpy listFailed(&client, &QFRcloneClient::loadMetadataFailed);
        client.loadMetadata(QStringLiteral("/PROJ1"));
        ASSERT_TRUE(waitFor([&] { return listFailed.size() == 1; }));
        EXPECT_TRUE(errorOf(listFailed).description.contains(QStringLiteral("not_found")))
            << errorOf(listFailed).description.toStdString();
        EXPECT_FALSE(log().contains(kPassword));
    }
}

TEST_F(RcloneClientTest, DownloadsReportProgressAndACancelledOneLeavesNothing)
{
    // Put there through the server, which keeps its own picture of the folders it serves.
    const QByteArray contents = randomBytes(3 * 1024 * 1024);
    const QString source = home.file(QStringLiteral("Cut.00004.fcp.zip"));
    ASSERT_TRUE(writeFile(source, contents));
    QFRcloneClient client(QStringLiteral("dav:"));
    QSignalSpy uploaded(&client, &QFRcloneClient::uploadedFile);
    client.uploadFile(QStringLiteral("Cut.00004.fcp.zip"), QStringLiteral("/LOAD"), source);
    ASSERT_TRUE(waitFor([&] { return uploaded.size() == 1; })) << log().toStdString();
    qputenv("RCLONE_BWLIMIT", "1M");
    QSignalSpy progress(&client, &QFRcloneClient::loadProgress);
    QSignalSpy loaded(&client, &QFRcloneClient::loadedFile);
    QSignalSpy failed(&client, &QFRcloneClient::loadFileFailed);

    const QString cancelled = home.file(QStringLiteral("cancelled.zip"));
    client.loadFile(QStringLiteral("/LOAD/Cut.00004.fcp.zip"), cancelled);
    ASSERT_TRUE(waitFor([&] { return !progress.isEmpty(); })) << log().toStdString();
    client.cancelFileLoad(QStringLiteral("/LOAD/Cut.00004.fcp.zip"));
    ASSERT_TRUE(waitFor([&] { return client.pendingRequests() == 0; }));
    EXPECT_EQ(loaded.size() + failed.size(), 0);
    EXPECT_FALSE(QFileInfo::exists(cancelled));
    EXPECT_FALSE(QFileInfo::exists(cancelled + QStringLiteral(".partial")));

    progress.clear();
    const QString whole = home.file(QStringLiteral("whole.zip"));
    client.loadFile(QStringLiteral("/LOAD/Cut.00004.fcp.zip"), whole);
    ASSERT_TRUE(waitFor([&] { return loaded.size() + failed.size() == 1; })) << log().toStdString();
    ASSERT_EQ(loaded.size(), 1) << errorOf(failed).description.toStdString();
    EXPECT_EQ(readFile(whole), contents);
    ASSERT_FALSE(progress.isEmpty());
    double last = 0.0;
    for (const QList<QVariant> &report : std::as_const(progress)) {
        EXPECT_EQ(report.at(1).toString(), whole);
        EXPECT_GE(report.at(0).toDouble(), last);
        EXPECT_LE(report.at(0).toDouble(), 1.0);
        last = report.at(0).toDouble();
    }
}

TEST_F(RcloneClientTest, AWrongPasswordIsALoginRefusedAndNotTriedAgain)
{
    for (const char *remote : { "davbad:", "sfbad:" }) {
        SCOPED_TRACE(remote);
        QFRcloneClient client(QString::fromLatin1(remote));
        client.setRetryPause(0);
        QSignalSpy failed(&client, &QFRcloneClient::uploadFileFailed);
        QSignalSpy retries(&client, &QFRcloneClient::waitingToRetry);
        QSignalSpy listFailed(&client, &QFRcloneClient::loadMetadataFailed);
        const QString zip = home.file(QStringLiteral("Cut.00001.fcp.zip"));
        ASSERT_TRUE(writeFile(zip, randomBytes(1000)));
        client.uploadFile(QStringLiteral("Cut.00001.fcp.zip"), QStringLiteral("/REFUSED"), zip);
        client.loadMetadata(QStringLiteral("/REFUSED"));
        ASSERT_TRUE(waitFor([&] { return failed.size() == 1 && listFailed.size() == 1; })) << log().toStdString();
        for (const QFDropboxError &error : { errorOf(failed), errorOf(listFailed) }) {
            EXPECT_EQ(error.domain, QFDropboxError::Domain::HTTP);
            EXPECT_EQ(error.code, 401);
            EXPECT_TRUE(error.description.contains(QStringLiteral("refused the login")))
                << error.description.toStdString();
        }
        EXPECT_EQ(errorOf(failed).path, zip);
        EXPECT_EQ(QFRcloneClient::leadTextForError(errorOf(failed)),
            QStringLiteral("Login refused - please check the remote's login with rclone config."));
        EXPECT_EQ(retries.size(), 0);
        EXPECT_FALSE(log().contains(kWrongPassword));
        EXPECT_FALSE(log().contains(obscured(kWrongPassword)));
    }
    EXPECT_FALSE(QFileInfo::exists(served(QStringLiteral("webdav"), QStringLiteral("REFUSED"))));
    EXPECT_FALSE(QFileInfo::exists(served(QStringLiteral("sftp"), QStringLiteral("REFUSED"))));
}

TEST_F(RcloneClientTest, AMissingRemoteOrAMissingRcloneIsSaidPlainly)
{
    const QString zip = home.file(QStringLiteral("Cut.00001.fcp.zip"));
    ASSERT_TRUE(writeFile(zip, randomBytes(1000)));
    {
        SCOPED_TRACE("remote not in the configuration");
        QFRcloneClient client(QStringLiteral("nosuch:folder"));
        QSignalSpy failed(&client, &QFRcloneClient::uploadFileFailed);
        client.uploadFile(QStringLiteral("Cut.00001.fcp.zip"), QStringLiteral("/ID"), zip);
        ASSERT_TRUE(waitFor([&] { return failed.size() == 1; }));
        EXPECT_EQ(errorOf(failed).code, QFRcloneClient::kRemoteMissing);
        EXPECT_EQ(errorOf(failed).description,
            QStringLiteral(
                "The rclone remote \"nosuch\" is not in rclone's configuration; set it up with rclone config."));
    }
    {
        SCOPED_TRACE("rclone not on the PATH");
        QTemporaryDir empty;
        qputenv("PATH", empty.path().toUtf8());
        ASSERT_TRUE(QStandardPaths::findExecutable(QStringLiteral("rclone")).isEmpty());
        QFRcloneClient client(QStringLiteral("dav:"));
        client.setRetryPause(0);
        QSignalSpy failed(&client, &QFRcloneClient::uploadFileFailed);
        QSignalSpy listFailed(&client, &QFRcloneClient::loadMetadataFailed);
        QSignalSpy loadFailed(&client, &QFRcloneClient::loadFileFailed);
        QSignalSpy deleteFailed(&client, &QFRcloneClient::deletePathFailed);
        QSignalSpy retries(&client, &QFRcloneClient::waitingToRetry);
        client.uploadFile(QStringLiteral("Cut.00001.fcp.zip"), QStringLiteral("/ID"), zip);
        client.loadMetadata(QStringLiteral("/ID"));
        client.loadFile(QStringLiteral("/ID/Cut.00001.fcp.zip"), home.file(QStringLiteral("back.zip")));
        client.deletePath(QStringLiteral("/ID"));
        ASSERT_TRUE(
            waitFor([&] { return failed.size() + listFailed.size() + loadFailed.size() + deleteFailed.size() == 4; }));
        for (const QSignalSpy *spy : { &failed, &listFailed, &loadFailed, &deleteFailed }) {
            ASSERT_EQ(spy->size(), 1);
            EXPECT_EQ(errorOf(*spy).code, QFRcloneClient::kRcloneMissing);
            EXPECT_EQ(
                errorOf(*spy).description, QStringLiteral("rclone is not installed: no program rclone on the PATH."));
        }
        EXPECT_EQ(QFRcloneClient::leadTextForError(errorOf(failed)),
            QStringLiteral("rclone is not installed - please install the package rclone."));
        EXPECT_EQ(retries.size(), 0);
        EXPECT_TRUE(log().contains(QStringLiteral("rclone is not installed: no program rclone on the PATH.")))
            << log().toStdString();
    }
}

TEST_F(RcloneClientTest, AServerStoppedMidUploadIsALostConnectionAfterOneMoreTry)
{
    QTemporaryDir folder;
    RcloneServer server;
    ASSERT_TRUE(server.start(QStringLiteral("webdav"), folder.path(), s_dir->filePath(QStringLiteral("cache"))));
    const QString config = home.write(
        QStringLiteral("rclone-stop.conf"), davSection(QStringLiteral("gone"), server.port, kPassword).toUtf8());
    qputenv("RCLONE_CONFIG", config.toUtf8());
    // The user's own rclone settings reach the transfers: slow enough to be caught half-way.
    qputenv("RCLONE_BWLIMIT", "1M");

    QFRcloneClient client(QStringLiteral("gone:"));
    client.setRetryPause(1);
    QSignalSpy progress(&client, &QFRcloneClient::uploadProgress);
    QSignalSpy uploaded(&client, &QFRcloneClient::uploadedFile);
    QSignalSpy failed(&client, &QFRcloneClient::uploadFileFailed);
    QSignalSpy retries(&client, &QFRcloneClient::waitingToRetry);
    const QString zip = home.file(QStringLiteral("Cut.00001.fcp.zip"));
    ASSERT_TRUE(writeFile(zip, randomBytes(8 * 1024 * 1024)));
    client.uploadFile(QStringLiteral("Cut.00001.fcp.zip"), QStringLiteral("/ID"), zip);
    ASSERT_TRUE(waitFor([&] { return !progress.isEmpty() && progress.last().first().toDouble() > 0.0; }))
        << log().toStdString();
    server.stop();
    ASSERT_TRUE(waitFor([&] { return failed.size() + uploaded.size() == 1; }, 60000)) << log().toStdString();
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(retries.size(), 1);
    EXPECT_EQ(errorOf(failed).domain, QFDropboxError::Domain::URL);
    EXPECT_EQ(errorOf(failed).code, -1005);
    EXPECT_TRUE(errorOf(failed).description.startsWith(QStringLiteral("The remote gone cannot be reached: ")))
        << errorOf(failed).description.toStdString();
    EXPECT_EQ(errorOf(failed).path, zip);
    EXPECT_TRUE(log().contains(QStringLiteral("it is tried once more in 1 seconds"))) << log().toStdString();
    EXPECT_TRUE(log().contains(QStringLiteral("The connection to the remote gone was lost: "))) << log().toStdString();
    // Only a whole upload is put under the version's name.
    EXPECT_FALSE(QFileInfo::exists(folder.filePath(QStringLiteral("ID/Cut.00001.fcp.zip"))));
    EXPECT_EQ(client.pendingRequests(), 0);
}

TEST_F(RcloneClientTest, ATransferWithoutProgressIsEndedAfterTheStallTime)
{
    QTemporaryDir folder;
    RcloneServer server;
    ASSERT_TRUE(server.start(QStringLiteral("sftp"), folder.path(), s_dir->filePath(QStringLiteral("cache"))));
    const QString config = home.write(
        QStringLiteral("rclone-stall.conf"), sftpSection(QStringLiteral("frozen"), server.port, kPassword).toUtf8());
    qputenv("RCLONE_CONFIG", config.toUtf8());
    qputenv("RCLONE_BWLIMIT", "1M");

    QFRcloneClient client(QStringLiteral("frozen:"));
    client.setStallSeconds(3);
    client.setRetryPause(0);
    QSignalSpy progress(&client, &QFRcloneClient::uploadProgress);
    QSignalSpy failed(&client, &QFRcloneClient::uploadFileFailed);
    QSignalSpy retries(&client, &QFRcloneClient::waitingToRetry);
    const QString zip = home.file(QStringLiteral("Cut.00001.fcp.zip"));
    ASSERT_TRUE(writeFile(zip, randomBytes(8 * 1024 * 1024)));
    client.uploadFile(QStringLiteral("Cut.00001.fcp.zip"), QStringLiteral("/ID"), zip);
    ASSERT_TRUE(waitFor([&] { return !progress.isEmpty(); })) << log().toStdString();
    // The server still holds its connections but answers nothing.
    ASSERT_EQ(::kill(pid_t(server.pid()), SIGSTOP), 0);
    ASSERT_TRUE(waitFor([&] { return failed.size() == 1; }, 60000)) << log().toStdString();
    EXPECT_EQ(retries.size(), 1);
    EXPECT_EQ(errorOf(failed).domain, QFDropboxError::Domain::URL);
    // Whichever notices first, this client or rclone's own idle time-out, the transfer ends as a failure.
    EXPECT_TRUE(errorOf(failed).code == -1001 || errorOf(failed).code == -1005)
        << errorOf(failed).description.toStdString();
    EXPECT_FALSE(QFileInfo::exists(folder.filePath(QStringLiteral("ID/Cut.00001.fcp.zip"))));
    server.stop();
}

// A small file system mounted over a folder for the life of the object; only root can mount one.
class SmallDisk {
public:
    explicit SmallDisk(const QString &folder)
        : m_folder(folder)
    {
        if (::geteuid() != 0)
            return;
        int exitCode = -1;
        QProcess mount;
        mount.start(QStringLiteral("mount"),
            { QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"), QStringLiteral("size=1m"),
                QStringLiteral("tmpfs"), folder });
        if (mount.waitForFinished(30000))
            exitCode = mount.exitCode();
        m_mounted = exitCode == 0;
    }
    ~SmallDisk()
    {
        if (!m_mounted)
            return;
        QProcess umount;
        umount.start(QStringLiteral("umount"), { m_folder });
        umount.waitForFinished(30000);
    }
    Q_DISABLE_COPY_MOVE(SmallDisk)

    bool isMounted() const { return m_mounted; }

private:
    QString m_folder;
    bool m_mounted = false;
};

TEST_F(RcloneClientTest, AFullRemoteFailsTheUploadAndKeepsNothingOfIt)
{
    QTemporaryDir folder;
    SmallDisk disk(folder.path());
    if (!disk.isMounted())
        GTEST_SKIP() << "a small file system can be mounted only as root";
    RcloneServer sftp;
    RcloneServer webdav;
    ASSERT_TRUE(sftp.start(QStringLiteral("sftp"), folder.path(), s_dir->filePath(QStringLiteral("cache"))));
    ASSERT_TRUE(webdav.start(QStringLiteral("webdav"), folder.path(), s_dir->filePath(QStringLiteral("cache"))));
    const QString config = home.write(QStringLiteral("rclone-full.conf"),
        (sftpSection(QStringLiteral("full"), sftp.port, kPassword)
            + davSection(QStringLiteral("fulldav"), webdav.port, kPassword))
            .toUtf8());
    qputenv("RCLONE_CONFIG", config.toUtf8());
    // Filled before the upload: a disk that runs full half-way through a write makes rclone's SFTP server
    // drop the connection at times instead of saying why.
    EXPECT_FALSE(writeFile(folder.filePath(QStringLiteral("filler")), QByteArray(2 * 1024 * 1024, '\0')));
    const QString zip = home.file(QStringLiteral("Cut.00001.fcp.zip"));
    ASSERT_TRUE(writeFile(zip, randomBytes(200 * 1024)));
    {
        SCOPED_TRACE("sftp");
        QFRcloneClient client(QStringLiteral("full:"));
        client.setRetryPause(0);
        QSignalSpy failed(&client, &QFRcloneClient::uploadFileFailed);
        QSignalSpy retries(&client, &QFRcloneClient::waitingToRetry);
        client.uploadFile(QStringLiteral("Cut.00001.fcp.zip"), QStringLiteral("/ID"), zip);
        ASSERT_TRUE(waitFor([&] { return failed.size() == 1; })) << log().toStdString();
        EXPECT_EQ(errorOf(failed).domain, QFDropboxError::Domain::HTTP);
        EXPECT_EQ(errorOf(failed).code, 507);
        EXPECT_TRUE(errorOf(failed).description.startsWith(QStringLiteral("The remote full is full: ")))
            << errorOf(failed).description.toStdString();
        EXPECT_EQ(QFRcloneClient::leadTextForError(errorOf(failed)), QStringLiteral("The remote is full."));
        EXPECT_EQ(retries.size(), 0) << log().toStdString();
    }
    {
        // rclone's WebDAV server answers a failed write with 405 whatever the cause, so only the failure shows.
        SCOPED_TRACE("webdav");
        QFRcloneClient client(QStringLiteral("fulldav:"));
        client.setRetryPause(0);
        QSignalSpy failed(&client, &QFRcloneClient::uploadFileFailed);
        QSignalSpy uploaded(&client, &QFRcloneClient::uploadedFile);
        client.uploadFile(QStringLiteral("Cut.00001.fcp.zip"), QStringLiteral("/ID"), zip);
        ASSERT_TRUE(waitFor([&] { return failed.size() + uploaded.size() == 1; })) << log().toStdString();
        EXPECT_EQ(failed.size(), 1);
    }
    EXPECT_TRUE(QDir(folder.filePath(QStringLiteral("ID"))).entryList(QDir::Files | QDir::Hidden).isEmpty());
    sftp.stop();
    webdav.stop();
}

TEST_F(RcloneClientTest, RemotesAndTheServiceAreCheckedAsPreferences)
{
    const auto parse = [](const char *name, const QString &text, QString *error = nullptr) {
        return QFPreferenceKeys::parse(*QFPreferenceKeys::find(QString::fromLatin1(name)), text, error);
    };
    const struct {
        const char *text;
        bool accepted;
    } cases[] = {
        { "nas:Versions/Pro Tombrel", true },
        { "my-drive:", true },
        { "s3.backup:bucket/tombrel", true },
        { "na/s:x", false },
        { "Versions/Pro Tombrel", false },
        { ":webdav,url=http://u:p@host/:x", false },
        { "-config:x", false },
        { "", false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        QString error;
        const auto value = parse("syncRemote", QString::fromLatin1(c.text), &error);
        EXPECT_EQ(value.has_value(), c.accepted) << error.toStdString();
        if (!c.accepted) {
            EXPECT_TRUE(error.startsWith(QStringLiteral("syncRemote: "))) << error.toStdString();
        }
    }
    EXPECT_EQ(parse("syncRemote", QStringLiteral(" nas:Versions ")), QVariant(QStringLiteral("nas:Versions")));
    EXPECT_EQ(parse("syncService", QStringLiteral("2"))->toLongLong(), 2);
    EXPECT_FALSE(parse("syncService", QStringLiteral("3")));
}

} // namespace
