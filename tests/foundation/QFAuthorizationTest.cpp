#include "foundation/QFAuthorization.h"

#include "foundation/QFFileManager.h"
#include "foundation/QFLocalPaths.h"
#include "tests/support/QFTempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

struct Command {
    QString program;
    QStringList arguments;
};

class QFAuthorizationTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        m_display = qgetenv("DISPLAY");
        m_wayland = qgetenv("WAYLAND_DISPLAY");
        qunsetenv("DISPLAY");
        qunsetenv("WAYLAND_DISPLAY");
        auth()->setCommandRunner([this](const QString &program, const QStringList &arguments, bool) {
            commands.push_back({ program, arguments });
            return 0;
        });
    }
    void TearDown() override
    {
        auth()->setCommandRunner({});
        auth()->authEnd();
        if (!m_display.isEmpty())
            qputenv("DISPLAY", m_display);
        if (!m_wayland.isEmpty())
            qputenv("WAYLAND_DISPLAY", m_wayland);
    }
    static QFAuthorization *auth() { return QFAuthorization::sharedController(); }

    std::vector<Command> commands;
    QByteArray m_display;
    QByteArray m_wayland;
};

} // namespace

TEST_F(QFAuthorizationTest, SystemFoldersAreRefusedBeforeAnythingRuns)
{
    QFLocalPaths::setRootOverride(true);
    const QString targets[] = { home.path(), QStringLiteral("/etc"), QStringLiteral("/"),
        home.file(QStringLiteral(".local/share")), QStringLiteral("/media"), QStringLiteral("/usr/local/share") };
    for (const QString &target : targets) {
        SCOPED_TRACE(qPrintable(target));
        EXPECT_FALSE(auth()->authRemoveFile(target));
        EXPECT_FALSE(auth()->authTrashFile(target, true));
        EXPECT_FALSE(auth()->authMoveFile(target, home.file(QStringLiteral("x"))));
    }
    EXPECT_TRUE(commands.empty());
}

TEST_F(QFAuthorizationTest, WithoutAGraphicalSessionEveryFallbackFails)
{
    QFLocalPaths::setRootOverride(false);
    const QString file = home.write(QStringLiteral("Desktop/a.prproj"), "x");
    EXPECT_FALSE(auth()->authStart());
    EXPECT_FALSE(auth()->authRemoveFile(file));
    EXPECT_FALSE(auth()->authMoveFile(file, home.file(QStringLiteral("b"))));
    EXPECT_FALSE(auth()->authCopyFile(file, home.file(QStringLiteral("b"))));
    EXPECT_FALSE(auth()->authCreateDir(home.file(QStringLiteral("d"))));
    EXPECT_EQ(auth()->authExecTask(QStringLiteral("/bin/rm"), { file }), -1);
    EXPECT_EQ(auth()->authExecTask(home.file(QStringLiteral("no-such-tool")), {}), -2);
    EXPECT_TRUE(commands.empty());
    EXPECT_TRUE(QFileInfo::exists(file));
}

TEST_F(QFAuthorizationTest, CommandsKeepPathsAsSingleArguments)
{
    QFLocalPaths::setRootOverride(true);
    const QString file = home.write(QStringLiteral("-odd name.fcp"), "x");
    ASSERT_TRUE(auth()->authRemoveFile(file));
    ASSERT_TRUE(auth()->authCopyFile(file, home.file(QStringLiteral("copy"))));
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].program, QStringLiteral("/bin/rm"));
    EXPECT_EQ(commands[0].arguments, (QStringList { QStringLiteral("-Rdf"), QStringLiteral("--"), file }));
    EXPECT_EQ(commands[1].program, QStringLiteral("/bin/cp"));
    EXPECT_EQ(commands[1].arguments.last(), home.file(QStringLiteral("copy")));
}

TEST_F(QFAuthorizationTest, TrashingOverAnExistingNameAddsATimeStamp)
{
    QFLocalPaths::setRootOverride(true);
    const QString file = home.write(QStringLiteral("Desktop/a.prproj"), "new");
    home.write(QStringLiteral(".local/share/Trash/files/a.prproj"), "old");
    ASSERT_TRUE(auth()->authTrashFile(file));
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].program, QStringLiteral("/bin/mv"));
    const QString target = commands[0].arguments.last();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("/Trash/files/a_\\d{14}\\.prproj$")).match(target).hasMatch())
        << qPrintable(target);
    EXPECT_TRUE(QFileInfo::exists(home.file(QStringLiteral(".local/share/Trash/info/")) + QFileInfo(target).fileName()
        + QStringLiteral(".trashinfo")));
}

TEST_F(QFAuthorizationTest, TrashingNeverOverwritesTheEntryOfAnotherTrashing)
{
    QFLocalPaths::setRootOverride(true);
    const QString file = home.write(QStringLiteral("Desktop/b.prproj"), "new");
    // Another trashing has claimed the name and not yet moved its item.
    const QString claimed = home.write(
        QStringLiteral(".local/share/Trash/info/b.prproj.trashinfo"), "[Trash Info]\nPath=/elsewhere/b.prproj\n");
    ASSERT_TRUE(auth()->authTrashFile(file));
    ASSERT_EQ(commands.size(), 1u);
    const QString target = commands[0].arguments.last();
    EXPECT_NE(QFileInfo(target).fileName(), QStringLiteral("b.prproj"));
    QFile info(claimed);
    ASSERT_TRUE(info.open(QIODevice::ReadOnly));
    EXPECT_EQ(info.readAll(), QByteArray("[Trash Info]\nPath=/elsewhere/b.prproj\n"));
    EXPECT_TRUE(QFileInfo::exists(home.file(QStringLiteral(".local/share/Trash/info/")) + QFileInfo(target).fileName()
        + QStringLiteral(".trashinfo")));
}

TEST_F(QFAuthorizationTest, TheGuardComparesPathsNotSpellings)
{
    QFLocalPaths::setRootOverride(true);
    QString up;
    for (qsizetype i = 0; i < home.path().split(u'/', Qt::SkipEmptyParts).size(); ++i)
        up += QStringLiteral("../");
    ASSERT_TRUE(QFile::link(QStringLiteral("/etc"), home.file(QStringLiteral("settings"))));
    ASSERT_TRUE(QFile::link(QStringLiteral("/"), home.file(QStringLiteral("top"))));
    const QString spellings[]
        = { QStringLiteral("/usr//"), QStringLiteral("/./etc"), QStringLiteral("~/") + up + QStringLiteral("usr"),
              home.path() + QStringLiteral("/./"), home.file(QStringLiteral("top/usr")),
              home.file(QStringLiteral("settings")) + u'/', home.file(QStringLiteral(".local/share/../share")) };
    const QString elsewhere = home.write(QStringLiteral("Desktop/a.prproj"), "x");
    for (const QString &spelling : spellings) {
        SCOPED_TRACE(qPrintable(spelling));
        EXPECT_FALSE(auth()->authRemoveFile(spelling));
        EXPECT_FALSE(auth()->authTrashFile(spelling, true));
        EXPECT_FALSE(auth()->authMoveFile(spelling, home.file(QStringLiteral("x"))));
        EXPECT_FALSE(auth()->authMoveFile(elsewhere, spelling));
        EXPECT_FALSE(auth()->authCopyFile(elsewhere, spelling));
    }
    EXPECT_TRUE(commands.empty());
}

TEST_F(QFAuthorizationTest, MovesAndCopiesNameTheirDestinationAsTheItemAsChecked)
{
    QFLocalPaths::setRootOverride(true);
    const QString file = home.write(QStringLiteral("real/a.prproj"), "x");
    ASSERT_TRUE(QFile::link(home.file(QStringLiteral("real")), home.file(QStringLiteral("linked"))));
    const QString real = QFileInfo(home.file(QStringLiteral("real"))).canonicalFilePath();
    ASSERT_TRUE(auth()->authMoveFile(
        home.file(QStringLiteral("linked/a.prproj")), home.file(QStringLiteral("linked/b.prproj"))));
    ASSERT_TRUE(auth()->authCopyFile(file, home.file(QStringLiteral("linked//c.prproj"))));
    ASSERT_TRUE(auth()->authRemoveFile(home.file(QStringLiteral("linked/./a.prproj"))));
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0].program, QStringLiteral("/bin/mv"));
    EXPECT_EQ(commands[0].arguments,
        (QStringList { QStringLiteral("-f"), QStringLiteral("-T"), QStringLiteral("--"),
            real + QStringLiteral("/a.prproj"), real + QStringLiteral("/b.prproj") }));
    EXPECT_EQ(commands[1].program, QStringLiteral("/bin/cp"));
    EXPECT_TRUE(commands[1].arguments.contains(QStringLiteral("-T")));
    EXPECT_EQ(commands[1].arguments.last(), real + QStringLiteral("/c.prproj"));
    EXPECT_EQ(commands[2].arguments.last(), real + QStringLiteral("/a.prproj"));
}

TEST_F(QFAuthorizationTest, AWaitedCommandAsRootReportsHowItEnded)
{
    QFLocalPaths::setRootOverride(true);
    auth()->setCommandRunner([this](const QString &program, const QStringList &arguments, bool) {
        commands.push_back({ program, arguments });
        return 3;
    });
    EXPECT_EQ(auth()->authExecTask(QStringLiteral("/bin/cp"), { QStringLiteral("a"), QStringLiteral("b") }, false), 3);
    EXPECT_EQ(auth()->authExecTask(QStringLiteral("/bin/cp"), { QStringLiteral("a"), QStringLiteral("b") }, true), 0)
        << "a started run tells nothing more";
    EXPECT_EQ(commands.size(), 2u);
}
