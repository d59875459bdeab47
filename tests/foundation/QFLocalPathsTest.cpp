#include "foundation/QFLocalPaths.h"

#include "tests/support/QFTempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

    EXPECT_EQ(
        QFLocalPaths::expandTilde(QStringLiteral("~/Movies/Cut.fcp")), home.file(QStringLiteral("Movies/Cut.fcp")));
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

    QFLocalPaths::setConsoleUserResolver([&] {
        return std::optional<QFConsoleUser>(QFConsoleUser { QStringLiteral("ed"), home.path() });
    });
    EXPECT_EQ(QFLocalPaths::libraryDirectory(true), home.file(QStringLiteral(".local/share")));
    EXPECT_EQ(QFLocalPaths::logDirectory(true), home.file(QStringLiteral(".local/state")));
    EXPECT_EQ(QFLocalPaths::userDirectory(), home.path());
    EXPECT_EQ(QFLocalPaths::username(), QStringLiteral("ed"));
    EXPECT_EQ(QFLocalPaths::currentConsoleUser(), QStringLiteral("ed"));
    EXPECT_EQ(QFLocalPaths::libraryDirectory(false), QStringLiteral("/usr/local/share"))
        << "the machine's folders stay";
    EXPECT_EQ(
        QFLocalPaths::expandTilde(QStringLiteral("~/Movies/Cut.fcp")), home.file(QStringLiteral("Movies/Cut.fcp")));

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

    EXPECT_EQ(QFLocalPaths::volumeRootForPath(QStringLiteral("/media/ed/Drive/Projects/a.fcp")),
        QStringLiteral("/media/ed/Drive"));
    EXPECT_EQ(QFLocalPaths::volumeRootForPath(QStringLiteral("/run/media/ed/Drive/x")),
        QStringLiteral("/run/media/ed/Drive"));
    EXPECT_EQ(QFLocalPaths::volumeRootForPath(QStringLiteral("/mnt/raid/x")), QStringLiteral("/mnt/raid"));
    EXPECT_TRUE(QFLocalPaths::volumeRootForPath(QStringLiteral("/media/ed")).isNull());
    EXPECT_TRUE(QFLocalPaths::volumeRootForPath(QStringLiteral("/home/ed/x")).isNull());
    EXPECT_TRUE(QFLocalPaths::isPathOnTimeMachineVolume(QStringLiteral("/media/ed/TM/Backups.backupdb/mac/a.fcp")));
    EXPECT_FALSE(QFLocalPaths::isPathOnTimeMachineVolume(QStringLiteral("/home/ed/Backups.backupdb/a.fcp")));
}

TEST_F(QFLocalPathsTest, SystemFoldersAreKnownHoweverTheyAreSpelt)
{
    // "~/../../usr" from a home as deep as this one.
    QString up;
    for (qsizetype i = 0; i < home.path().split(u'/', Qt::SkipEmptyParts).size(); ++i)
        up += QStringLiteral("../");
    ASSERT_TRUE(QFile::link(QStringLiteral("/etc"), home.file(QStringLiteral("settings"))));
    ASSERT_TRUE(QFile::link(QStringLiteral("/"), home.file(QStringLiteral("top"))));
    const struct {
        QString path;
        bool expected;
    } cases[] = {
        { QStringLiteral("/usr//"), true },
        { QStringLiteral("/./etc"), true },
        { QStringLiteral("//etc/."), true },
        { QStringLiteral("/etc/xdg/../../usr"), true },
        { QStringLiteral("~/") + up + QStringLiteral("usr"), true },
        { QStringLiteral("~/"), true },
        { home.file(QStringLiteral("settings")), true },
        { home.file(QStringLiteral("top/var")), true },
        { home.file(QStringLiteral("top")) + QStringLiteral("/home/"), true },
        { home.file(QStringLiteral("./.local//share/")), true },
        { QStringLiteral("/usr/./local/bin"), false },
        { home.file(QStringLiteral("top/srv/projects")), false },
        { home.file(QStringLiteral("Desktop/../Desktop/a.prproj")), false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(qPrintable(c.path));
        EXPECT_EQ(QFLocalPaths::isPathSystemDirectory(c.path, true), c.expected);
    }
    // Without exact matching the prefixes hold for every spelling too.
    EXPECT_TRUE(QFLocalPaths::isPathSystemDirectory(home.file(QStringLiteral("top/usr/local/bin"))));
    EXPECT_TRUE(QFLocalPaths::isPathSystemDirectory(QStringLiteral("/srv/../etc/passwd")));
}

TEST_F(QFLocalPathsTest, ResolvedPathsFollowTheFoldersLinks)
{
    QDir().mkpath(home.file(QStringLiteral("real")));
    ASSERT_TRUE(QFile::link(home.file(QStringLiteral("real")), home.file(QStringLiteral("linked"))));
    const QString real = QFileInfo(home.file(QStringLiteral("real"))).canonicalFilePath();
    EXPECT_EQ(QFLocalPaths::resolvedPath(home.file(QStringLiteral("linked/a.fcp"))), real + QStringLiteral("/a.fcp"));
    EXPECT_EQ(
        QFLocalPaths::resolvedPath(home.file(QStringLiteral("linked/new/../b.fcp"))), real + QStringLiteral("/b.fcp"));
    // The item itself is not followed unless asked, or unless the path ends in a slash.
    EXPECT_EQ(QFileInfo(QFLocalPaths::resolvedPath(home.file(QStringLiteral("linked")))).fileName(),
        QStringLiteral("linked"));
    EXPECT_EQ(QFLocalPaths::resolvedPath(home.file(QStringLiteral("linked")), true), real);
    EXPECT_EQ(QFLocalPaths::resolvedPath(home.file(QStringLiteral("linked")) + u'/'), real);
    EXPECT_EQ(QFLocalPaths::resolvedPath(QStringLiteral("/usr//share/")),
        QFileInfo(QStringLiteral("/usr/share")).canonicalFilePath());
    EXPECT_TRUE(QFLocalPaths::resolvedPath(QString()).isEmpty());
}

TEST_F(QFLocalPathsTest, ProgramsOnThePathLieInTheHomeOfTheUserFolders)
{
    EXPECT_EQ(QFLocalPaths::pathForDirectory(QFLocalPaths::Directory::Binaries, true),
        home.file(QStringLiteral(".local/bin")));
    EXPECT_EQ(
        QFLocalPaths::pathForDirectory(QFLocalPaths::Directory::Binaries, false), QStringLiteral("/usr/local/bin"));
    EXPECT_EQ(QFLocalPaths::userDomainHome(), home.path());
    // A root process with nobody at the console keeps its own home, never the root of the file system.
    QFLocalPaths::setRootOverride(true);
    QFLocalPaths::setConsoleUserResolver([] { return std::optional<QFConsoleUser>(); });
    EXPECT_TRUE(QFLocalPaths::userDirectory().isNull());
    EXPECT_EQ(QFLocalPaths::userDomainHome(), home.path());
    EXPECT_EQ(QFLocalPaths::pathForDirectory(QFLocalPaths::Directory::Binaries, true),
        home.file(QStringLiteral(".local/bin")));
    qunsetenv("HOME");
    EXPECT_NE(QFLocalPaths::userDomainHome(), QStringLiteral("/"));
    EXPECT_NE(QFLocalPaths::pathForDirectory(QFLocalPaths::Directory::Binaries, true), QStringLiteral("/.local/bin"));
}
