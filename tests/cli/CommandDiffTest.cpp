#include "cli/TombrelCommand.h"

#include "tests/support/QFTempHome.h"
#include "tests/support/QFVersionStoreBuilder.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

struct Result {
    int status;
    QString out;
    QString err;
};

class CommandDiffTest : public TempHomeTest {
protected:
    Result diff(const QStringList &arguments)
    {
        QString out, err;
        QTextStream o(&out), e(&err);
        QStringList all { QStringLiteral("diff") };
        all += arguments;
        const int status = TombrelCommand(o, e).run(all);
        return { status, out, err };
    }
    QString markpWith(const QByteArray &from, const QByteArray &to)
    {
        QFile file(fixturePath(QStringLiteral("xmeml/markp.xml")));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        QByteArray text = file.readAll();
        text.replace(from, to);
        return home.write(QStringLiteral("edited.xml"), text);
    }
};

} // namespace

TEST_F(CommandDiffTest, PrintsOneChangeALine)
{
    const QString markp = fixturePath(QStringLiteral("xmeml/markp.xml"));
    Result r = diff({ markp, markp });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, QStringLiteral("No notable changes\n"));

    const QString edited = markpWith("<out>44275</out>", "<out>44305</out>");
    r = diff({ markp, edited });
    EXPECT_EQ(r.status, 0) << qPrintable(r.err);
    // The video item and both audio items moved alike: one line says it.
    EXPECT_EQ(r.out,
        QStringLiteral("Out Point of clip marc_phillipson_032310 changed from 01:24:37;09 to 01:24:38;09 (+30)\n"));
}

TEST_F(CommandDiffTest, UnreadableOrMalformedFilesFail)
{
    const QString markp = fixturePath(QStringLiteral("xmeml/markp.xml"));
    const QString broken = home.write(QStringLiteral("broken.xml"), QByteArray("<xmeml><sequence>"));
    const QString deep = home.write(QStringLiteral("deep.xml"), QByteArray("<a>").repeated(100000));
    for (const QStringList &arguments : { QStringList { markp, home.file(QStringLiteral("missing.xml")) },
             QStringList { broken, markp }, QStringList { markp, deep } }) {
        SCOPED_TRACE(qPrintable(arguments.join(u' ')));
        const Result r = diff(arguments);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("tombrel: cannot read "))) << qPrintable(r.err);
        EXPECT_EQ(r.err.count(u'\n'), 1);
    }
    EXPECT_EQ(diff({ markp }).status, 2);
    EXPECT_EQ(diff({ markp, markp, markp, markp }).status, 2);
    // Three arguments name a project and two of its versions: a file is no project.
    EXPECT_EQ(diff({ markp, markp, markp }).status, 1);
    EXPECT_EQ(diff({ QStringLiteral("--frobnicate"), markp, markp }).status, 2);
}

TEST_F(CommandDiffTest, OnlyRegularFilesAreCompared)
{
    const QString markp = fixturePath(QStringLiteral("xmeml/markp.xml"));
    // Reading a device such as /dev/zero would never end.
    for (const QString &other : { QStringLiteral("/dev/zero"), QStringLiteral("/dev/urandom") }) {
        SCOPED_TRACE(qPrintable(other));
        const Result r = diff({ markp, other });
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, QStringLiteral("tombrel: cannot read %1: not a regular file\n").arg(other));
    }
}

TEST_F(CommandDiffTest, ProjectsOfKdenliveShotcutAndMeltAreToldApartByTheirDocuments)
{
    const QString v1 = fixturePath(QStringLiteral("mlt/kdenlive/mix-luma.v1.kdenlive"));
    const QString v2 = fixturePath(QStringLiteral("mlt/kdenlive/mix-luma.v2.kdenlive"));
    Result r = diff({ v1, v2 });
    EXPECT_EQ(r.status, 0) << qPrintable(r.err);
    EXPECT_EQ(r.out,
        QStringLiteral(
            "Transition luma between clip Color Clip and clip Color Clip on track V1: alpha_over changed from 1 to 0\n"
            "Transition luma between clip Color Clip and clip Color Clip on track V1: alpha_over changed from 1 to "
            "0\n"));
    r = diff({ v1, v1 });
    EXPECT_EQ(r.out, QStringLiteral("No notable changes\n"));
    // The name says nothing: a Shotcut project saved as .xml is a project all the same.
    QFile shotcut(fixturePath(QStringLiteral("mlt/shotcut/shotcut.v2.mlt")));
    ASSERT_TRUE(shotcut.open(QIODevice::ReadOnly));
    const QString renamed = home.write(QStringLiteral("Edit.xml"), shotcut.readAll());
    r = diff({ fixturePath(QStringLiteral("mlt/shotcut/shotcut.v1.mlt")), renamed });
    EXPECT_EQ(r.status, 0) << qPrintable(r.err);
    EXPECT_EQ(r.out,
        QStringLiteral(
            "Filter blur_gaussian_av added to clip A.mp4 on track V1\nMarker Chapter 2 added at 00:00:12:00\n"));

    const QString markp = fixturePath(QStringLiteral("xmeml/markp.xml"));
    for (const QStringList &arguments : { QStringList { v1, markp }, QStringList { markp, v1 } }) {
        SCOPED_TRACE(qPrintable(arguments.join(u' ')));
        r = diff(arguments);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_EQ(r.err,
            QStringLiteral("tombrel: cannot compare %1 with %2: one is an MLT project and the other is not\n")
                .arg(arguments.at(0), arguments.at(1)));
    }
    QFile whole(v2);
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QString truncated = home.write(QStringLiteral("cut.kdenlive"), whole.readAll().left(5000));
    r = diff({ v1, truncated });
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("tombrel: cannot read %1: ").arg(truncated))) << qPrintable(r.err);
}

TEST_F(CommandDiffTest, VersionsOfAKdenliveProjectShowTheirChangeLines)
{
    const QString folder
        = QFVersionStoreBuilder::addProject(home.file(QStringLiteral("Projects/Luma.kdenlive")), QStringLiteral("LU"));
    QFile older(fixturePath(QStringLiteral("mlt/kdenlive/mix-luma.v1.kdenlive")));
    QFile newer(fixturePath(QStringLiteral("mlt/kdenlive/mix-luma.v2.kdenlive")));
    ASSERT_TRUE(older.open(QIODevice::ReadOnly) && newer.open(QIODevice::ReadOnly));
    const QDateTime when = QDateTime::currentDateTime().addDays(-1);
    QFVersionStoreBuilder::addVersions(folder,
        { VersionSpec { QStringLiteral("Luma.00001.kdenlive"), when, older.readAll() },
            VersionSpec { QStringLiteral("Luma.00002.kdenlive"), when.addSecs(60), newer.readAll() } });
    const QString line = QStringLiteral(
        "Transition luma between clip Color Clip and clip Color Clip on track V1: alpha_over changed from 1 to 0");

    QString out, err;
    QTextStream o(&out), e(&err);
    ASSERT_EQ(TombrelCommand(o, e).run({ QStringLiteral("changes"), QStringLiteral("LU"), QStringLiteral("2") }), 0)
        << qPrintable(err);
    EXPECT_EQ(out, line + u'\n' + line + u'\n');

    out.clear();
    ASSERT_EQ(
        TombrelCommand(o, e).run({ QStringLiteral("versions"), QStringLiteral("LU"), QStringLiteral("--json") }), 0)
        << qPrintable(err);
    const QJsonArray list = QJsonDocument::fromJson(out.toUtf8()).array();
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].toObject().value(QStringLiteral("type")).toString(), QStringLiteral("mlt"));
    EXPECT_EQ(list[0].toObject().value(QStringLiteral("host")).toString(), QStringLiteral("kdenlive"));
    EXPECT_EQ(list[0].toObject().value(QStringLiteral("changelist")).toArray().size(), 2);
    EXPECT_EQ(list[1].toObject().value(QStringLiteral("changelist")).toArray().at(0).toString(),
        QStringLiteral("(Base version)"));

    const Result r = diff({ QStringLiteral("LU"), QStringLiteral("2"), QStringLiteral("1") });
    EXPECT_EQ(r.status, 0) << qPrintable(r.err);
    EXPECT_EQ(r.out, line + u'\n' + line + u'\n');
}
