#include "tests/cli/CommandTestSupport.h"

#include "engine/QFTombrelBackup.h"
#include "foundation/platform/QFPropertyList.h"
#include "tests/support/QFTempHome.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

using Builder = QFVersionStoreBuilder;

QByteArray exportWithClip(const QString &clip)
{
    return QStringLiteral("<xmeml version=\"5\"><bin><uuid>U-BIN</uuid><name>Bin</name><children>"
                          "<clip id=\"%1\"><uuid>U-%1</uuid><name>%1</name></clip></children></bin></xmeml>")
        .arg(clip)
        .toUtf8();
}

class CommandChangesTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        folder = Builder::addProject(home.file(QStringLiteral("Projects/Cut.fcp")), QStringLiteral("CH"));
        const QDateTime old = QDateTime::currentDateTime().addDays(-1);
        Builder::addVersions(folder,
            {
                VersionSpec { QStringLiteral("Cut.00001.fcp"), old, "one" },
                VersionSpec { QStringLiteral("Cut.00001.xml"), old, exportWithClip(QStringLiteral("Alpha")) },
                VersionSpec { QStringLiteral("Cut.00002.fcp"), old.addSecs(60), "two" },
                VersionSpec {
                    QStringLiteral("Cut.00002.xml"), old.addSecs(60), exportWithClip(QStringLiteral("Beta")) },
            });
        QFTombrelBackup engine;
        expected = engine
                       .changelistForFile(folder + QStringLiteral("/Versions/Cut.00002.xml"),
                           folder + QStringLiteral("/Versions/Cut.00001.xml"))
                       ->changelist;
    }
    QString folder;
    QStringList expected;
};

} // namespace

TEST_F(CommandChangesTest, VersionsShowTheirChangeLinesNewestFirst)
{
    ASSERT_FALSE(expected.isEmpty());
    CommandResult r = runTombrel({ QStringLiteral("versions"), QStringLiteral("CH"), QStringLiteral("--json") });
    ASSERT_EQ(r.status, 0) << qPrintable(r.err);
    const QJsonArray list = QJsonDocument::fromJson(r.out.toUtf8()).array();
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].toObject().value(QStringLiteral("version")).toString(), QStringLiteral("00002"));
    QStringList lines;
    for (const QJsonValue &line : list[0].toObject().value(QStringLiteral("changelist")).toArray())
        lines << line.toString();
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(list[1].toObject().value(QStringLiteral("changelist")).toArray().first().toString(),
        QStringLiteral("(Base version)"));
    EXPECT_EQ(list[1].toObject().value(QStringLiteral("host")).toString(), QStringLiteral("fcp"));
    EXPECT_TRUE(r.err.isEmpty()) << "no progress bar when standard error is no terminal";

    r = runTombrel({ QStringLiteral("versions"), QStringLiteral("CH") });
    EXPECT_TRUE(r.out.contains(QStringLiteral("        ") + expected.first())) << qPrintable(r.out);
    EXPECT_LT(r.out.indexOf(QStringLiteral("Cut.00002.fcp")), r.out.indexOf(QStringLiteral("Cut.00001.fcp")));
}

TEST_F(CommandChangesTest, ChangesOfOneVersionAndClearingTheCaches)
{
    for (const QString &number : { QStringLiteral("2"), QStringLiteral("00002") }) {
        const CommandResult r = runTombrel({ QStringLiteral("changes"), QStringLiteral("CH"), number });
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.split(u'\n', Qt::SkipEmptyParts), expected);
    }
    EXPECT_EQ(runTombrel({ QStringLiteral("changes"), QStringLiteral("CH"), QStringLiteral("9") }).status, 1);
    EXPECT_EQ(runTombrel({ QStringLiteral("changes"), QStringLiteral("CH"), QStringLiteral("two") }).status, 1)
        << "no such version, as restore says";
    EXPECT_EQ(runTombrel({ QStringLiteral("changes"), QStringLiteral("nobody"), QStringLiteral("2") }).status, 1);

    ASSERT_TRUE(QFileInfo::exists(QFTombrelBackup::cachesFolder() + QStringLiteral("/CH.localized.cache.plist")));
    EXPECT_EQ(runTombrel({ QStringLiteral("cache"), QStringLiteral("clear") }).status, 0);
    EXPECT_FALSE(QFileInfo::exists(QFTombrelBackup::cachesFolder() + QStringLiteral("/CH.localized.cache.plist")));
    EXPECT_EQ(runTombrel({ QStringLiteral("cache"), QStringLiteral("wipe") }).status, 2);
}

TEST_F(CommandChangesTest, DiffComparesAnyTwoVersionsInEitherOrder)
{
    QFTombrelBackup engine;
    Builder::addVersions(folder,
        { VersionSpec { QStringLiteral("Cut.00003.fcp"), QDateTime::currentDateTime().addSecs(-30), "three" },
            VersionSpec { QStringLiteral("Cut.00003.xml"), QDateTime::currentDateTime().addSecs(-30),
                exportWithClip(QStringLiteral("Gamma")) } });
    const QStringList oneToThree = engine
                                       .changelistForFile(folder + QStringLiteral("/Versions/Cut.00003.xml"),
                                           folder + QStringLiteral("/Versions/Cut.00001.xml"))
                                       ->changelist;
    ASSERT_FALSE(oneToThree.isEmpty());
    for (const QStringList &order : { QStringList { "1", "3" }, QStringList { "00003", "00001" } }) {
        const CommandResult r = runTombrel(QStringList { QStringLiteral("diff"), QStringLiteral("CH") } + order);
        ASSERT_EQ(r.status, 0) << r;
        EXPECT_EQ(r.out.split(u'\n', Qt::SkipEmptyParts), oneToThree) << "the older is the base, whichever comes first";
    }
    EXPECT_EQ(
        runTombrel({ QStringLiteral("diff"), QStringLiteral("CH"), QStringLiteral("1"), QStringLiteral("9") }).status,
        1);
}

TEST_F(CommandChangesTest, ReportIsTheApplicationsReportAsHTMLOrPDF)
{
    QFPropertyList::write(
        folder + QStringLiteral("/Annotations.plist"), QVariantMap { { "Cut.00002.xml", "<b>x</b> & \"y\"" } });
    CommandResult r = runTombrel({ QStringLiteral("report"), QStringLiteral("CH") });
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("<!DOCTYPE HTML PUBLIC")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("<h1>Cut</h1><h2>Version 00002</h2>")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("&lt;b&gt;x&lt;/b&gt; &amp; &quot;y&quot;")));
    EXPECT_LT(r.out.indexOf(QStringLiteral("Version 00002")), r.out.indexOf(QStringLiteral("Version 00001")));

    const QString html = home.file(QStringLiteral("report.html"));
    r = runTombrel({ QStringLiteral("report"), QStringLiteral("CH"), QStringLiteral("--html"), html });
    ASSERT_EQ(r.status, 0) << r;
    QFile written(html);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_TRUE(written.readAll().contains("Generated with Pro Tombrel by Quenfield"));
    EXPECT_EQ(runTombrel({ QStringLiteral("report"), QStringLiteral("CH"), QStringLiteral("--pdf"), home.file("a.pdf"),
                             QStringLiteral("--html"), html })
                  .status,
        2);

    // PDF files come from the program itself, which lays pages out with fonts.
    const QString pdf = home.file(QStringLiteral("report.pdf"));
    QProcess tombrel;
    tombrel.start(qEnvironmentVariable("QF_BUNDLE_DIR") + QStringLiteral("/Contents/MacOS/tombrel"),
        { QStringLiteral("report"), QStringLiteral("CH"), QStringLiteral("--pdf"), pdf });
    ASSERT_TRUE(tombrel.waitForFinished(60000));
    ASSERT_EQ(tombrel.exitCode(), 0) << tombrel.readAllStandardError().toStdString();
    QProcess text;
    text.start(QStringLiteral("pdftotext"), { pdf, QStringLiteral("-") });
    ASSERT_TRUE(text.waitForFinished(30000));
    const QString printed = QString::fromUtf8(text.readAllStandardOutput());
    EXPECT_TRUE(printed.contains(QStringLiteral("<b>x</b> & \"y\""))) << qPrintable(printed);
    EXPECT_TRUE(printed.contains(QStringLiteral("Version 00001")));
}
