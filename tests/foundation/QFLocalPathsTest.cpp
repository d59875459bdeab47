#include "foundation/QFLocalPaths.h"

#include "tests/support/QFTempHome.h"

#include <QDir>

#include <gtest/gtest.h>

class QFLocalPathsTest : public TempHomeTest { };

TEST_F(QFLocalPathsTest, UserFoldersFollowXdgAndUserDirs)
{
    EXPECT_EQ(QFLocalPaths::appSupportDirectory(true), home.file(QStringLiteral(".local/share")));
    EXPECT_EQ(QFLocalPaths::cacheDirectory(true), home.file(QStringLiteral(".cache")));
    EXPECT_EQ(QFLocalPaths::prefsDirectory(true), home.file(QStringLiteral(".config")));
    EXPECT_EQ(QFLocalPaths::logDirectory(true), home.file(QStringLiteral(".local/state")));
    EXPECT_EQ(QFLocalPaths::applicationDirectory(true), home.file(QStringLiteral("Applications")));
    EXPECT_EQ(QFLocalPaths::movieDirectory(), home.file(QStringLiteral("Videos")));

    home.write(QStringLiteral(".config/user-dirs.dirs"),
        "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\nXDG_VIDEOS_DIR=\"/srv/films\"\n");
    EXPECT_EQ(QFLocalPaths::desktopDirectory(), home.file(QStringLiteral("Schreibtisch")));
    EXPECT_EQ(QFLocalPaths::movieDirectory(), QStringLiteral("/srv/films"));
    EXPECT_EQ(QFLocalPaths::documentDirectory(true), home.file(QStringLiteral("Documents")));

    EXPECT_EQ(QFLocalPaths::expandTilde(QStringLiteral("~/Movies/Cut.fcp")), home.file(QStringLiteral("Movies/Cut.fcp")));
    EXPECT_EQ(QFLocalPaths::expandTilde(QStringLiteral("~")), home.path());
    EXPECT_EQ(QFLocalPaths::expandTilde(QStringLiteral("~ed/Cut.fcp")), QStringLiteral("~ed/Cut.fcp"));
    EXPECT_EQ(QFLocalPaths::expandTilde(QStringLiteral("/srv/~/Cut.fcp")), QStringLiteral("/srv/~/Cut.fcp"));

    EXPECT_EQ(QFLocalPaths::appSupportDirectory(false), QStringLiteral("/usr/local/share"));
    EXPECT_EQ(QFLocalPaths::logDirectory(false), QStringLiteral("/var/log"));
}

TEST_F(QFLocalPathsTest, SystemFolderAnswers)
{
    const struct {
        QString path;
        bool exact;
        bool expected;
    } cases[] = {
        { QStringLiteral("/"), true, true },
        { QStringLiteral("/a"), false, false },
        { QStringLiteral("/opt"), true, true },
        { QStringLiteral("/opt/"), true, true },
        { QStringLiteral("/home"), true, true },
        { QStringLiteral("/media"), true, true },
        { home.path(), true, true },
        { home.path() + u'/', true, true },
        { home.file(QStringLiteral(".local/share")), true, true },
        { home.file(QStringLiteral(".config")), true, true },
        { home.file(QStringLiteral("Desktop")), true, true },
        { home.file(QStringLiteral("Desktop/a.prproj")), false, false },
        { QStringLiteral("/usr/local/bin"), false, true },
        { QStringLiteral("/usr/local/bin"), true, false },
        { QStringLiteral("/etc/passwd"), false, true },
        { QStringLiteral("/etc/xdg"), true, true },
        { QStringLiteral("/srv/projects"), false, false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(qPrintable(c.path + (c.exact ? QStringLiteral(" exact") : QString())));
        EXPECT_EQ(QFLocalPaths::isPathSystemDirectory(c.path, c.exact), c.expected);
    }
}

TEST_F(QFLocalPathsTest, RootWorksInTheConsoleUsersFolders)
{
    QFLocalPaths::setRootOverride(true);
    const QString rootHome = QStringLiteral("/root");
    qputenv("HOME", rootHome.toUtf8());
    qunsetenv("XDG_DATA_HOME");
    qunsetenv("XDG_STATE_HOME");

    QFLocalPaths::setConsoleUserResolver([&] { return std::optional<QFConsoleUser>(QFConsoleUser { QStringLiteral("ed"), home.path() }); });
    EXPECT_EQ(QFLocalPaths::libraryDirectory(true), home.file(QStringLiteral(".local/share")));
    EXPECT_EQ(QFLocalPaths::logDirectory(true), home.file(QStringLiteral(".local/state")));
    EXPECT_EQ(QFLocalPaths::userDirectory(), home.path());
    EXPECT_EQ(QFLocalPaths::username(), QStringLiteral("ed"));
    EXPECT_EQ(QFLocalPaths::currentConsoleUser(), QStringLiteral("ed"));
    EXPECT_EQ(QFLocalPaths::libraryDirectory(false), QStringLiteral("/usr/local/share")) << "the machine's folders stay";
    EXPECT_EQ(QFLocalPaths::expandTilde(QStringLiteral("~/Movies/Cut.fcp")), home.file(QStringLiteral("Movies/Cut.fcp")));

    // Only the greeter at the console: nobody's home folder to use.
    QFLocalPaths::setConsoleUserResolver([] { return std::optional<QFConsoleUser>(); });
    EXPECT_TRUE(QFLocalPaths::currentConsoleUser().isNull());
    EXPECT_TRUE(QFLocalPaths::userDirectory().isNull());
    EXPECT_TRUE(QFLocalPaths::trashDirectory().startsWith(rootHome)) << "root keeps its own folders then";
    EXPECT_EQ(QFLocalPaths::expandTilde(QStringLiteral("~")), rootHome);
}

TEST_F(QFLocalPathsTest, FreshNamesAndVolumes)
{
    EXPECT_NE(QFLocalPaths::tempFile(), QFLocalPaths::tempFile());
    EXPECT_TRUE(QFLocalPaths::tempFile().startsWith(QFLocalPaths::tempDirectory() + u'/'));
    const QString id = QFLocalPaths::uuid();
    EXPECT_EQ(id.size(), 36);
    EXPECT_EQ(id, id.toUpper());
    const QString random = QFLocalPaths::randomString(32);
    EXPECT_EQ(random.size(), 32);
    for (QChar c : random)
        EXPECT_TRUE((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9'));

    EXPECT_EQ(QFLocalPaths::volumeRootForPath(QStringLiteral("/media/ed/Drive/Projects/a.fcp")), QStringLiteral("/media/ed/Drive"));
    EXPECT_EQ(QFLocalPaths::volumeRootForPath(QStringLiteral("/run/media/ed/Drive/x")), QStringLiteral("/run/media/ed/Drive"));
    EXPECT_EQ(QFLocalPaths::volumeRootForPath(QStringLiteral("/mnt/raid/x")), QStringLiteral("/mnt/raid"));
    EXPECT_TRUE(QFLocalPaths::volumeRootForPath(QStringLiteral("/media/ed")).isNull());
    EXPECT_TRUE(QFLocalPaths::volumeRootForPath(QStringLiteral("/home/ed/x")).isNull());
    EXPECT_TRUE(QFLocalPaths::isPathOnTimeMachineVolume(QStringLiteral("/media/ed/TM/Backups.backupdb/mac/a.fcp")));
    EXPECT_FALSE(QFLocalPaths::isPathOnTimeMachineVolume(QStringLiteral("/home/ed/Backups.backupdb/a.fcp")));
}
