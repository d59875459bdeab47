// tombrel sync with an rclone remote, against "rclone serve webdav" on this machine: push, list and restore
// in place, then from a second, fresh home with the same rclone configuration the store's projects and a
// restore to a chosen path; the refusals when no remote is chosen.

#include "tests/cli/CommandTestSupport.h"

#include "engine/QFDropboxSync.h"
#include "engine/QFPreferenceKeys.h"
#include "tests/support/QFRcloneServer.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace {

using namespace qfrclone;

class CommandSyncRcloneTest : public TempHomeTest {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        s_server = new RcloneServer;
        QDir().mkpath(s_dir->filePath(QStringLiteral("webdav")));
        s_started = s_server->start(QStringLiteral("webdav"), s_dir->filePath(QStringLiteral("webdav")),
            s_dir->filePath(QStringLiteral("cache")));
        if (s_started)
            writeFile(s_dir->filePath(QStringLiteral("rclone.conf")),
                davSection(QStringLiteral("dav"), s_server->port, kPassword).toUtf8());
    }
    static void TearDownTestSuite()
    {
        delete s_server;
        delete s_dir;
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_started) << "rclone server did not start";
        m_savedConfig = qgetenv("RCLONE_CONFIG");
        qputenv("RCLONE_CONFIG", s_dir->filePath(QStringLiteral("rclone.conf")).toUtf8());
        QFDropboxSync::shared()->removeRestClient();
    }
    void TearDown() override
    {
        QFDropboxSync::shared()->removeRestClient();
        qputenv("RCLONE_CONFIG", m_savedConfig);
    }

    static void useRemote(const QString &remote)
    {
        ASSERT_TRUE(QFPreferenceKeys::update(
            { { QStringLiteral("syncService"), 2 }, { QStringLiteral("syncRemote"), remote } }));
    }
    static QString served(const QString &relative) { return s_dir->filePath(QStringLiteral("webdav/") + relative); }

    static QTemporaryDir *s_dir;
    static RcloneServer *s_server;
    static bool s_started;
    QByteArray m_savedConfig;
};

QTemporaryDir *CommandSyncRcloneTest::s_dir = nullptr;
RcloneServer *CommandSyncRcloneTest::s_server = nullptr;
bool CommandSyncRcloneTest::s_started = false;

TEST_F(CommandSyncRcloneTest, PushListRestoreAndFromASecondHomeTheProjectsAndARestoreToAChosenPath)
{
    const QString project = home.file(QStringLiteral("Videos/Cut.kdenlive"));
    const QString folder = QFVersionStoreBuilder::addProject(project, QStringLiteral("CUT"), "now");
    QFVersionStoreBuilder::addVersions(folder,
        { { QStringLiteral("Cut.00001.kdenlive"), QDateTime::currentDateTime().addSecs(-7200), "one" },
            { QStringLiteral("Cut.00002.kdenlive"), QDateTime::currentDateTime().addSecs(-3600), "two" } });
    useRemote(QStringLiteral("dav:studio"));

    EXPECT_EQ(runTombrel({ QStringLiteral("sync"), QStringLiteral("status") }).out,
        QStringLiteral("Sync: to the rclone remote dav:studio\n"));
    const CommandResult pushed = runTombrel({ QStringLiteral("sync"), QStringLiteral("push"), QStringLiteral("CUT") });
    ASSERT_EQ(pushed.status, 0) << pushed;
    EXPECT_EQ(pushed.out,
        QStringLiteral("Uploaded Cut.00001.kdenlive to dav:studio/CUT/Cut.00001.kdenlive.zip\n"
                       "Uploaded Cut.00002.kdenlive to dav:studio/CUT/Cut.00002.kdenlive.zip\n"));
    EXPECT_EQ(QDir(served(QStringLiteral("studio/CUT"))).entryList(QDir::Files, QDir::Name),
        (QStringList { QStringLiteral("Cut.00001.kdenlive.zip"), QStringLiteral("Cut.00002.kdenlive.zip"),
            QStringLiteral("Project.plist") }));
    EXPECT_EQ(runTombrel({ QStringLiteral("sync"), QStringLiteral("push"), QStringLiteral("CUT") }).out,
        QStringLiteral("Every version is in the remote dav:studio already.\n"));

    const CommandResult listed = runTombrel(
        { QStringLiteral("sync"), QStringLiteral("list"), QStringLiteral("CUT"), QStringLiteral("--json") });
    ASSERT_EQ(listed.status, 0) << listed;
    const QJsonArray copies = QJsonDocument::fromJson(listed.out.toUtf8()).array();
    ASSERT_EQ(copies.size(), 2) << listed;
    EXPECT_EQ(copies.at(0).toObject().value(QStringLiteral("file")).toString(), QStringLiteral("Cut.00001.kdenlive"));

    const CommandResult restored = runTombrel({ QStringLiteral("sync"), QStringLiteral("restore"),
        QStringLiteral("CUT"), QStringLiteral("Cut.00001.kdenlive") });
    ASSERT_EQ(restored.status, 0) << restored;
    EXPECT_EQ(readFile(project), QByteArray("one"));

    // Another machine: nothing of the first home, the same rclone configuration.
    QFDropboxSync::shared()->removeRestClient();
    {
        QFTempHome second;
        useRemote(QStringLiteral("dav:studio"));
        const CommandResult projects = runTombrel({ QStringLiteral("sync"), QStringLiteral("projects") });
        ASSERT_EQ(projects.status, 0) << projects;
        const QStringList lines = projects.out.split(u'\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 2) << projects;
        EXPECT_TRUE(lines.at(0).startsWith(QStringLiteral("NAME"))) << projects;
        EXPECT_TRUE(lines.at(1).startsWith(QStringLiteral("Cut.kdenlive  CUT"))) << projects;
        EXPECT_TRUE(lines.at(1).contains(QStringLiteral("Videos/Cut.kdenlive"))) << projects;

        const CommandResult json
            = runTombrel({ QStringLiteral("sync"), QStringLiteral("projects"), QStringLiteral("--json") });
        ASSERT_EQ(json.status, 0) << json;
        EXPECT_EQ(QJsonDocument::fromJson(json.out.toUtf8())
                      .array()
                      .at(0)
                      .toObject()
                      .value(QStringLiteral("projectID"))
                      .toString(),
            QStringLiteral("CUT"));

        // Not a project here: its copies are listed by its name there.
        const CommandResult copies
            = runTombrel({ QStringLiteral("sync"), QStringLiteral("list"), QStringLiteral("Cut.kdenlive") });
        ASSERT_EQ(copies.status, 0) << copies;
        EXPECT_EQ(copies.out.count(u'\n'), 3) << copies;
        EXPECT_TRUE(copies.out.contains(QStringLiteral("Cut.00002.kdenlive "))) << copies;

        // Without --to there is nowhere to put it.
        const CommandResult nowhere = runTombrel({ QStringLiteral("sync"), QStringLiteral("restore"),
            QStringLiteral("Cut.kdenlive"), QStringLiteral("Cut.00002.kdenlive") });
        EXPECT_EQ(nowhere.status, 1) << nowhere;
        const QString target = second.file(QStringLiteral("Restored/Cut.kdenlive"));
        const CommandResult noFolder = runTombrel({ QStringLiteral("sync"), QStringLiteral("restore"),
            QStringLiteral("Cut.kdenlive"), QStringLiteral("Cut.00002.kdenlive"), QStringLiteral("--to"), target });
        EXPECT_EQ(noFolder.status, 1) << noFolder;
        EXPECT_TRUE(noFolder.err.contains(QStringLiteral("there is no folder"))) << noFolder;
        QDir().mkpath(QFileInfo(target).absolutePath());
        // By its name as sync projects shows it, and by its identifier.
        const CommandResult byName = runTombrel({ QStringLiteral("sync"), QStringLiteral("restore"),
            QStringLiteral("Cut.kdenlive"), QStringLiteral("Cut.00002.kdenlive"), QStringLiteral("--to"), target });
        ASSERT_EQ(byName.status, 0) << byName;
        EXPECT_EQ(readFile(target), QByteArray("two"));
        const CommandResult byID = runTombrel({ QStringLiteral("sync"), QStringLiteral("restore"),
            QStringLiteral("CUT"), QStringLiteral("Cut.00001.kdenlive"), QStringLiteral("--to"), target });
        ASSERT_EQ(byID.status, 0) << byID;
        EXPECT_EQ(readFile(target), QByteArray("one"));
        QFDropboxSync::shared()->removeRestClient();
    }
}

TEST_F(CommandSyncRcloneTest, WithoutARemoteOrWithAnEmptyOneTheCommandsSaySo)
{
    ASSERT_TRUE(QFPreferenceKeys::update({ { QStringLiteral("syncService"), 2 } }));
    const CommandResult refused = runTombrel({ QStringLiteral("sync"), QStringLiteral("projects") });
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("tombrel prefs set syncRemote NAME:path"))) << refused;

    useRemote(QStringLiteral("dav:empty-store"));
    const CommandResult none = runTombrel({ QStringLiteral("sync"), QStringLiteral("projects") });
    EXPECT_EQ(none.status, 0) << none;
    EXPECT_EQ(none.out, QStringLiteral("no projects in the remote dav:empty-store\n"));

    useRemote(QStringLiteral("nosuchremote:x"));
    const CommandResult missing = runTombrel({ QStringLiteral("sync"), QStringLiteral("projects") });
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.contains(QStringLiteral("rclone config"))) << missing;

    ASSERT_TRUE(QFPreferenceKeys::update({ { QStringLiteral("syncService"), 0 } }));
    const CommandResult off = runTombrel({ QStringLiteral("sync"), QStringLiteral("list"), QStringLiteral("CUT") });
    EXPECT_EQ(off.status, 1);
    EXPECT_TRUE(off.err.contains(QStringLiteral("sync is off"))) << off;
}

} // namespace
