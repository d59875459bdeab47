// The sync object with an rclone remote (syncService 2) against rclone's own WebDAV and SFTP servers on this
// machine: versions go up as archives beside the project's description and are listed by name without it,
// one goes again, a project folder goes with all it holds, a copy comes back through the swap, and rclone
// missing from the PATH fails the upload with its own text. The choice of store is read in one place.

#include "engine/QFDropboxRestore.h"
#include "engine/QFDropboxSync.h"
#include "engine/QFPreferenceKeys.h"
#include "engine/QFPreferenceSnapshot.h"
#include "engine/QFRcloneClient.h"
#include "engine/QFRemoteProjects.h"
#include "engine/QFTransferFolder.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFProgramRole.h"
#include "foundation/platform/QFPropertyList.h"
#include "tests/support/QFRcloneServer.h"
#include "tests/support/QFTempHome.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

using namespace qfrclone;

const QString kLog = QStringLiteral("rclone_sync_tests");

class RcloneSyncTest : public TempHomeTest {
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
        if (s_started) {
            writeFile(s_dir->filePath(QStringLiteral("rclone.conf")),
                (davSection(QStringLiteral("dav"), s_webdav->port, kPassword)
                    + sftpSection(QStringLiteral("sf"), s_sftp->port, kPassword))
                    .toUtf8());
        }
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
        QFProgram::declareRole(QFProgramRole::Application);
        QFLog::createNewLog(kLog);
        m_savedConfig = qgetenv("RCLONE_CONFIG");
        m_savedPath = qgetenv("PATH");
        qputenv("RCLONE_CONFIG", s_dir->filePath(QStringLiteral("rclone.conf")).toUtf8());
        sync()->removeRestClient();
    }
    void TearDown() override
    {
        sync()->removeRestClient();
        qputenv("RCLONE_CONFIG", m_savedConfig);
        qputenv("PATH", m_savedPath);
        QFProgram::declareRole(QFProgramRole::Unknown);
        QFLog::finishWriting();
    }

    static QFDropboxSync *sync() { return QFDropboxSync::shared(); }
    static QString served(const QString &relative) { return s_dir->filePath(relative); }
    QString log() const { return home.logMessages(kLog).join(u'\n'); }

    void useRemote(const QString &remote)
    {
        ASSERT_TRUE(QFPreferenceKeys::update({ { QStringLiteral("syncService"), 2 },
            { QStringLiteral("syncRemote"), remote }, { QStringLiteral("dropboxTimeout"), 20 } }));
    }

    // Uploads a version through the sync object and waits for its answer.
    bool upload(const QString &versionPath)
    {
        QSignalSpy done(sync(), &QFDropboxSync::syncComplete);
        QSignalSpy failed(sync(), &QFDropboxSync::syncFailed);
        sync()->uploadVersion(versionPath);
        return waitFor([&] { return done.size() + failed.size() == 1; }) && done.size() == 1;
    }

    QVariantMap listing(const QString &projectID)
    {
        QSignalSpy listed(sync(), &QFDropboxSync::syncedFiles);
        sync()->loadSyncedFileList(projectID);
        return waitFor([&] { return listed.size() == 1; }) ? listed.first().first().toMap()
                                                           : QVariantMap { { QStringLiteral("timedOut"), true } };
    }

    static QTemporaryDir *s_dir;
    static RcloneServer *s_webdav;
    static RcloneServer *s_sftp;
    static bool s_started;
    QByteArray m_savedConfig;
    QByteArray m_savedPath;
};

QTemporaryDir *RcloneSyncTest::s_dir = nullptr;
RcloneServer *RcloneSyncTest::s_webdav = nullptr;
RcloneServer *RcloneSyncTest::s_sftp = nullptr;
bool RcloneSyncTest::s_started = false;

TEST_F(RcloneSyncTest, TheStoreIsChosenBySyncServiceAlone)
{
    const auto set = [](int service) {
        ASSERT_TRUE(QFPreferenceKeys::update({ { QStringLiteral("syncService"), service } }));
    };
    set(0);
    EXPECT_EQ(QFDropboxSync::service(), QFDropboxSync::Service::None);
    EXPECT_FALSE(QFDropboxSync::isSyncOn());
    EXPECT_EQ(sync()->syncClient(), nullptr);
    set(1);
    EXPECT_EQ(QFDropboxSync::service(), QFDropboxSync::Service::Dropbox);
    EXPECT_TRUE(QFDropboxSync::isSyncOn());
    QString why;
    EXPECT_FALSE(QFDropboxSync::isReady(&why));
    EXPECT_TRUE(why.contains(QStringLiteral("no Dropbox account is linked"))) << why.toStdString();
    set(2);
    EXPECT_EQ(QFDropboxSync::service(), QFDropboxSync::Service::Rclone);
    EXPECT_TRUE(QFDropboxSync::isSyncOn());
    EXPECT_FALSE(QFDropboxSync::isReady(&why));
    EXPECT_TRUE(why.contains(QStringLiteral("tombrel prefs set syncRemote"))) << why.toStdString();
    EXPECT_EQ(sync()->syncClient(), nullptr);

    useRemote(QStringLiteral("dav:one"));
    EXPECT_TRUE(QFDropboxSync::isReady());
    EXPECT_EQ(QFDropboxSync::storeName(), QStringLiteral("dav:one"));
    auto *client = qobject_cast<QFRcloneClient *>(sync()->syncClient());
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->remote(), QStringLiteral("dav:one"));
    // An idle client follows the preference.
    useRemote(QStringLiteral("sf:two"));
    client = qobject_cast<QFRcloneClient *>(sync()->syncClient());
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->remote(), QStringLiteral("sf:two"));
    EXPECT_EQ(client->stallSeconds(), 20);
}

TEST_F(RcloneSyncTest, VersionsGoUpBesideTheProjectsDescriptionAndAreListedRemovedAndRestored)
{
    const struct {
        const char *remote;
        const char *folder;
    } cases[] = { { "dav:studio", "webdav/studio" }, { "sf:", "sftp" } };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.remote);
        const QString folder = QString::fromLatin1(c.folder);
        useRemote(QString::fromLatin1(c.remote));
        const QString project = home.write(QStringLiteral("Videos/Cut.kdenlive"), "now");
        const QString store = QFVersionStoreBuilder::addProject(project, QStringLiteral("CUT"));
        const QDateTime when = QDateTime::currentDateTime();
        QFVersionStoreBuilder::addVersions(store,
            { { QStringLiteral("Cut.00001.kdenlive"), when.addSecs(-60), "one" },
                { QStringLiteral("Cut.00002.kdenlive"), when, "two" } });
        const QString versions = store + QStringLiteral("/Versions/");

        ASSERT_TRUE(upload(versions + QStringLiteral("Cut.00001.kdenlive"))) << log().toStdString();
        ASSERT_TRUE(upload(versions + QStringLiteral("Cut.00002.kdenlive"))) << log().toStdString();
        EXPECT_TRUE(QFileInfo::exists(served(folder + QStringLiteral("/CUT/Cut.00001.kdenlive.zip"))));
        EXPECT_TRUE(QFileInfo::exists(served(folder + QStringLiteral("/CUT/Cut.00002.kdenlive.zip"))));
        // The description names the project as this machine knows it.
        const auto info = QFPropertyList::readDictionary(served(folder + QStringLiteral("/CUT/Project.plist")));
        ASSERT_TRUE(info.has_value());
        EXPECT_EQ(info->value(QStringLiteral("projectID")).toString(), QStringLiteral("CUT"));
        EXPECT_EQ(info->value(QStringLiteral("name")).toString(), QStringLiteral("Cut.kdenlive"));
        EXPECT_EQ(QFLocalPaths::expandTilde(info->value(QStringLiteral("path")).toString()), project);

        // Listed by the versions they hold; the description is no version and is not mentioned.
        const QVariantMap listed = listing(QStringLiteral("CUT"));
        EXPECT_EQ(listed.value(QStringLiteral("filenames")).toStringList(),
            (QStringList { QStringLiteral("Cut.00001.kdenlive"), QStringLiteral("Cut.00002.kdenlive") }));
        EXPECT_EQ(listed.value(QStringLiteral("remoteNames")).toStringList(),
            (QStringList { QStringLiteral("Cut.00001.kdenlive.zip"), QStringLiteral("Cut.00002.kdenlive.zip") }));
        EXPECT_FALSE(log().contains(QStringLiteral("Project.plist")));

        // A copy comes back in place of the project file through the swap.
        const QFTransferFolder transfer;
        const QString download = transfer.filePath(QStringLiteral("download"));
        QSignalSpy downloaded(sync(), &QFDropboxSync::fileDownloaded);
        QSignalSpy downloadFailed(sync(), &QFDropboxSync::fileDownloadFailed);
        sync()->downloadFile(QStringLiteral("/CUT/Cut.00001.kdenlive.zip"), download);
        ASSERT_TRUE(waitFor([&] { return downloaded.size() + downloadFailed.size() == 1; }));
        ASSERT_EQ(downloaded.size(), 1) << log().toStdString();
        QString reason;
        EXPECT_EQ(QFDropboxRestore::restoreCopy(download, QStringLiteral("Cut.00001.kdenlive.zip"),
                      listed.value(QStringLiteral("sizes")).toList().value(0).toLongLong(), project, &reason),
            QFDropboxRestore::Result::Restored)
            << reason.toStdString();
        EXPECT_EQ(readFile(project), QByteArray("one"));

        // One version goes, then the whole project folder.
        QSignalSpy removed(sync(), &QFDropboxSync::removeRemoteFile);
        QSignalSpy removeFailed(sync(), &QFDropboxSync::removeRemoteFileFailed);
        sync()->deleteRemoteCopies({ versions + QStringLiteral("Cut.00001.kdenlive") });
        ASSERT_TRUE(waitFor([&] { return removed.size() + removeFailed.size() == 1; }));
        ASSERT_EQ(removed.size(), 1) << log().toStdString();
        EXPECT_EQ(removed.first().first().toMap().value(QStringLiteral("filename")).toString(),
            QStringLiteral("/CUT/Cut.00001.kdenlive.zip"));
        EXPECT_FALSE(QFileInfo::exists(served(folder + QStringLiteral("/CUT/Cut.00001.kdenlive.zip"))));
        EXPECT_EQ(listing(QStringLiteral("CUT")).value(QStringLiteral("filenames")).toStringList(),
            QStringList { QStringLiteral("Cut.00002.kdenlive") });
        sync()->deleteRemoteCopies({ store });
        ASSERT_TRUE(waitFor([&] { return removed.size() + removeFailed.size() == 2; }));
        ASSERT_EQ(removed.size(), 2) << log().toStdString();
        EXPECT_FALSE(QFileInfo::exists(served(folder + QStringLiteral("/CUT"))));
        sync()->removeRestClient();
    }
}

TEST_F(RcloneSyncTest, TheStoresProjectsAreListedFromTheirDescriptions)
{
    useRemote(QStringLiteral("dav:listed"));
    const QString project = home.write(QStringLiteral("Videos/Trailer.kdenlive"), "now");
    const QString store = QFVersionStoreBuilder::addProject(project, QStringLiteral("TRAILER"));
    QFVersionStoreBuilder::addVersions(
        store, { { QStringLiteral("Trailer.00001.kdenlive"), QDateTime::currentDateTime(), "one" } });
    ASSERT_TRUE(upload(store + QStringLiteral("/Versions/Trailer.00001.kdenlive"))) << log().toStdString();
    // A folder some other program made, without a description, and one whose description is of another;
    // made through the server, whose listings are cached.
    const auto rclone = [](const QStringList &arguments) {
        QProcess process;
        process.start(QStringLiteral("rclone"), arguments);
        return process.waitForFinished(30000) && process.exitCode() == 0;
    };
    ASSERT_TRUE(rclone({ QStringLiteral("mkdir"), QStringLiteral("dav:listed/BARE") }));
    ASSERT_TRUE(rclone({ QStringLiteral("copyto"), QStringLiteral("dav:listed/TRAILER/Project.plist"),
        QStringLiteral("dav:listed/COPIED/Project.plist") }));

    QObject owner;
    QFSyncClient *client = sync()->newClient(&owner);
    ASSERT_NE(client, nullptr);
    QFRemoteProjectList list(client);
    QSignalSpy loaded(&list, &QFRemoteProjectList::loaded);
    QSignalSpy failed(&list, &QFRemoteProjectList::failed);
    list.load();
    ASSERT_TRUE(waitFor([&] { return loaded.size() + failed.size() == 1; }));
    ASSERT_EQ(loaded.size(), 1) << log().toStdString();
    const auto projects = loaded.first().first().value<QList<QFRemoteProject>>();
    ASSERT_EQ(projects.size(), 3);
    EXPECT_EQ(projects.at(0), (QFRemoteProject { QStringLiteral("BARE"), QString(), QString() }));
    EXPECT_EQ(projects.at(1), (QFRemoteProject { QStringLiteral("COPIED"), QString(), QString() }));
    EXPECT_EQ(projects.at(2).projectID, QStringLiteral("TRAILER"));
    EXPECT_EQ(projects.at(2).name, QStringLiteral("Trailer.kdenlive"));
    EXPECT_EQ(QFLocalPaths::expandTilde(projects.at(2).path), project);
}

TEST_F(RcloneSyncTest, RcloneMissingFromThePathFailsTheUploadWithItsOwnText)
{
    useRemote(QStringLiteral("dav:nowhere"));
    const QString project = home.write(QStringLiteral("Videos/Cut.kdenlive"), "now");
    const QString store = QFVersionStoreBuilder::addProject(project, QStringLiteral("CUT"));
    QFVersionStoreBuilder::addVersions(
        store, { { QStringLiteral("Cut.00001.kdenlive"), QDateTime::currentDateTime(), "one" } });
    qputenv("PATH", home.file(QStringLiteral("empty-bin")).toUtf8());

    QSignalSpy failed(sync(), &QFDropboxSync::syncFailed);
    sync()->uploadVersion(store + QStringLiteral("/Versions/Cut.00001.kdenlive"));
    ASSERT_TRUE(waitFor([&] { return failed.size() == 1; }));
    const QVariantMap info = failed.first().first().toMap();
    EXPECT_EQ(info.value(QStringLiteral("errorCode")).toInt(), QFRcloneClient::kRcloneMissing);
    const QFDropboxError error { QFDropboxError::Domain::URL, QFRcloneClient::kRcloneMissing,
        info.value(QStringLiteral("error")).toString(), {} };
    EXPECT_TRUE(QFDropboxSync::messageForError(error).startsWith(
        QStringLiteral("rclone is not installed - please install the package rclone.")))
        << QFDropboxSync::messageForError(error).toStdString();
    EXPECT_TRUE(log().contains(QStringLiteral("rclone is not installed"))) << log().toStdString();
    EXPECT_FALSE(QFileInfo::exists(served(QStringLiteral("webdav/nowhere"))));
}

} // namespace
