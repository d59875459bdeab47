#include "tests/cli/CommandTestSupport.h"

#include "engine/QFProject.h"
#include "foundation/platform/QFPropertyList.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

class CommandWatchTest : public CommandTest {
protected:
    static QVariant stored(const char *key)
    {
        return QFPropertyList::readDictionary(QFProject::preferenceFilePath())
            .value_or(QVariantMap())
            .value(QString::fromLatin1(key));
    }
};

} // namespace

TEST_F(CommandWatchTest, AddListAndRemoveWatchFolders)
{
    const QString movies = home.file(QStringLiteral("Movies"));
    const QString movies2 = home.file(QStringLiteral("Movies2"));
    QDir().mkpath(movies + QStringLiteral("/Old"));
    QDir().mkpath(movies2);

    EXPECT_EQ(
        runTombrel({ QStringLiteral("watch"), QStringLiteral("list") }).out, QStringLiteral("no watch folders\n"));
    CommandResult r = runTombrel({ QStringLiteral("watch"), QStringLiteral("add"), QStringLiteral("~/Movies/"),
        QStringLiteral("--extensions"), QStringLiteral(".FCP, prproj") });
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, QStringLiteral("watching %1 for fcp,prproj\n").arg(movies));
    // A neighbour whose name only begins the same is no subfolder.
    ASSERT_EQ(runTombrel({ QStringLiteral("watch"), QStringLiteral("add"), movies2, QStringLiteral("--extensions"),
                             QStringLiteral("avb") })
                  .status,
        0);

    r = runTombrel({ QStringLiteral("watch"), QStringLiteral("list") });
    ASSERT_EQ(r.status, 0);
    const int width = int(movies2.size());
    EXPECT_EQ(r.out,
        QStringLiteral("%1  EXTENSIONS\n%2  fcp,prproj\n%3  avb\n")
            .arg(QStringLiteral("FOLDER").leftJustified(width), movies.leftJustified(width), movies2));
    r = runTombrel({ QStringLiteral("watch"), QStringLiteral("list"), QStringLiteral("--json") });
    const QJsonArray list = QJsonDocument::fromJson(r.out.toUtf8()).array();
    ASSERT_EQ(list.size(), 2) << r;
    EXPECT_EQ(list.at(0).toObject(),
        (QJsonObject {
            { QStringLiteral("folder"), movies }, { QStringLiteral("extensions"), QStringLiteral("fcp,prproj") } }));

    r = runTombrel({ QStringLiteral("watch"), QStringLiteral("remove"), movies + QStringLiteral("/") });
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, QStringLiteral("no longer watching %1\n").arg(movies));
    EXPECT_EQ(stored("watchFolders"),
        QVariant(QVariantList { QVariantMap {
            { QStringLiteral("folder"), movies2 }, { QStringLiteral("extensions"), QStringLiteral("avb") } } }));
    r = runTombrel({ QStringLiteral("watch"), QStringLiteral("remove"), movies });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, QStringLiteral("tombrel: watch remove: %1 is not being watched\n").arg(movies));
}

TEST_F(CommandWatchTest, DuplicatesAndSubfoldersAreRefusedWithTheirMessages)
{
    const QString movies = home.file(QStringLiteral("Movies"));
    QDir().mkpath(movies + QStringLiteral("/Old"));
    ASSERT_EQ(runTombrel({ QStringLiteral("watch"), QStringLiteral("add"), movies, QStringLiteral("--extensions"),
                             QStringLiteral("fcp") })
                  .status,
        0);
    const QVariant before = stored("watchFolders");

    CommandResult r = runTombrel({ QStringLiteral("watch"), QStringLiteral("add"), movies,
        QStringLiteral("--extensions"), QStringLiteral("avb") });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(
        r.err, QStringLiteral("tombrel: watch add: Duplicate watch folder. %1 is already being watched\n").arg(movies));
    r = runTombrel({ QStringLiteral("watch"), QStringLiteral("add"), movies + QStringLiteral("/Old"),
        QStringLiteral("--extensions"), QStringLiteral("fcp") });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
        QStringLiteral("tombrel: watch add: Parent already watched. The parent folder %1 is already being watched. "
                       "You do not need to add subfolders individually.\n")
            .arg(movies));
    EXPECT_EQ(stored("watchFolders"), before);

    EXPECT_EQ(runTombrel({ QStringLiteral("watch"), QStringLiteral("add"), home.file(QStringLiteral("Nowhere")),
                             QStringLiteral("--extensions"), QStringLiteral("fcp") })
                  .status,
        1);
    EXPECT_EQ(runTombrel({ QStringLiteral("watch"), QStringLiteral("add"), movies }).status, 2);
    EXPECT_EQ(runTombrel({ QStringLiteral("watch"), QStringLiteral("add"), movies, QStringLiteral("--extensions"),
                             QStringLiteral(" , ") })
                  .status,
        2);
    EXPECT_EQ(
        runTombrel({ QStringLiteral("watch"), QStringLiteral("add"), movies, QStringLiteral("--extensions") }).status,
        2);
    EXPECT_EQ(runTombrel({ QStringLiteral("watch"), QStringLiteral("frob") }).status, 2);
    EXPECT_EQ(runTombrel({ QStringLiteral("watch") }).status, 2);
    EXPECT_EQ(stored("watchFolders"), before);
}

TEST_F(CommandWatchTest, DriveFoldersAreRelativeToEveryDrivesRoot)
{
    CommandResult r = runTombrel({ QStringLiteral("watch"), QStringLiteral("add"), QStringLiteral("Final Cut Events"),
        QStringLiteral("--drive"), QStringLiteral("--extensions"), QStringLiteral("fcpevent") });
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, QStringLiteral("watching on every drive /Final Cut Events for fcpevent\n"));
    EXPECT_EQ(stored("watchDriveFolders"),
        QVariant(QVariantList { QVariantMap { { QStringLiteral("folder"), QStringLiteral("/Final Cut Events") },
            { QStringLiteral("extensions"), QStringLiteral("fcpevent") } } }));
    EXPECT_FALSE(stored("watchFolders").isValid());
    r = runTombrel({ QStringLiteral("watch"), QStringLiteral("add"), QStringLiteral("/Final Cut Events"),
        QStringLiteral("--drive"), QStringLiteral("--extensions"), QStringLiteral("fcpevent") });
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("tombrel: watch add: Duplicate watch folder."))) << r;

    EXPECT_EQ(
        runTombrel({ QStringLiteral("watch"), QStringLiteral("list") }).out, QStringLiteral("no watch folders\n"));
    r = runTombrel({ QStringLiteral("watch"), QStringLiteral("list"), QStringLiteral("--drive") });
    EXPECT_EQ(r.out, QStringLiteral("FOLDER             EXTENSIONS\n/Final Cut Events  fcpevent\n"));
    ASSERT_EQ(runTombrel({ QStringLiteral("watch"), QStringLiteral("remove"), QStringLiteral("--drive"),
                             QStringLiteral("/Final Cut Events") })
                  .status,
        0);
    EXPECT_EQ(stored("watchDriveFolders"), QVariant(QVariantList()));
}

TEST_F(CommandWatchTest, AnEntryWithoutExtensionsIsShownAsFindingNothing)
{
    QFPropertyList::write(QFProject::preferenceFilePath(),
        QVariantMap { { QStringLiteral("watchFolders"),
            QVariantList { QVariantMap { { QStringLiteral("folder"), QStringLiteral("/srv/edits") } } } } });
    const CommandResult r = runTombrel({ QStringLiteral("watch"), QStringLiteral("list") });
    EXPECT_EQ(r.out, QStringLiteral("FOLDER      EXTENSIONS\n/srv/edits  (none: finds no project)\n"));
    const QJsonArray list = QJsonDocument::fromJson(
        runTombrel({ QStringLiteral("watch"), QStringLiteral("list"), QStringLiteral("--json") }).out.toUtf8())
                                .array();
    EXPECT_EQ(list.at(0).toObject(), (QJsonObject { { QStringLiteral("folder"), QStringLiteral("/srv/edits") } }));
}
