#include "cli/TombrelCommand.h"

#include "tests/support/QFTempHome.h"

#include <QFile>

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
    EXPECT_EQ(r.out, QStringLiteral("Out Point of clip marc_phillipson_032310 changed from 01:24:37;09 to 01:24:38;09 (+30)\n"));
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
