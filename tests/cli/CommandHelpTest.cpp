#include "tests/cli/CommandTestSupport.h"

#include "cli/ManPage.h"
#include "cli/Progress.h"

#include <gtest/gtest.h>

namespace {

class CommandHelpTest : public CommandTest { };

} // namespace

TEST_F(CommandHelpTest, EveryCommandHasHelpAndAPlaceInTheManualPage)
{
    const QString page = tombrelManPage();
    EXPECT_TRUE(page.startsWith(QStringLiteral(".TH TOMBREL 1 ")));
    const QString overview = runTombrel({ QStringLiteral("--help") }).out;
    for (const CommandSpec &command : TombrelCommand::commands()) {
        const QString name = QString::fromUtf8(command.name);
        SCOPED_TRACE(name.toStdString());
        const CommandResult r = runTombrel({ name, QStringLiteral("--help") });
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, QString::fromUtf8(command.usage));
        EXPECT_TRUE(r.out.startsWith(QStringLiteral("usage: tombrel ") + name));
        EXPECT_TRUE(overview.contains(QStringLiteral("  ") + name + u' '));
        EXPECT_TRUE(page.contains(QStringLiteral(".SS ") + name + u'\n'));
    }
    for (const char *command : { "restore", "annotate", "delete", "remove", "relink", "watch", "prefs" })
        EXPECT_TRUE(page.contains(QStringLiteral(".SS %1\n").arg(QString::fromLatin1(command)))) << command;
    // Dashes are minus signs and no text line is read as a request.
    EXPECT_TRUE(page.contains(QStringLiteral("\\-\\-json")));
    const QStringList requests { QStringLiteral(".TH"), QStringLiteral(".SH"), QStringLiteral(".SS"),
        QStringLiteral(".PP"), QStringLiteral(".TP"), QStringLiteral(".B"), QStringLiteral(".I"), QStringLiteral(".nf"),
        QStringLiteral(".fi"), QStringLiteral(".br") };
    for (const QString &line : page.split(u'\n')) {
        if (line.startsWith(u'.') || line.startsWith(u'\'')) {
            EXPECT_TRUE(requests.contains(line.section(u' ', 0, 0))) << line.toStdString();
        }
    }
}

TEST_F(CommandHelpTest, NoProgressBarIsDrawnOnAStreamThatIsNoTerminal)
{
    QString text;
    QTextStream stream(&text);
    EXPECT_FALSE(Progress::isTerminal(stream));
    bool ran = false;
    Progress::run(stream, QStringLiteral("Working"), [&] { ran = true; });
    EXPECT_TRUE(ran);
    {
        Progress bar(stream, QStringLiteral("Working"), 3);
        bar.setDone(1);
        bar.tick();
        bar.setDone(3);
    }
    EXPECT_TRUE(text.isEmpty());
}
