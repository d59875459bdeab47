#include "foundation/platform/QFFormat.h"

#include <gtest/gtest.h>

TEST(QFFormatTest, FillsEveryConversionTheSystemUses)
{
    struct Case {
        QString got;
        const char *expected;
    };
    const Case cases[] = {
        { qfFormat("File %@ finished writing.", QStringLiteral("/a b/é.fcp")), "File /a b/é.fcp finished writing." },
        { qfFormat("%i of %li", 3, 12l), "3 of 12" },
        { qfFormat("%lu bytes", 18446744073709551615ull), "18446744073709551615 bytes" },
        { qfFormat("Exception in %s.", "main"), "Exception in main." },
        { qfFormat("char %C", QChar(u'é')), "char é" },
        { qfFormat("100%% sure"), "100% sure" },
        { qfFormat("%0.0f B", 1023.0), "1023 B" },
        { qfFormat("%0.2f KB", 1.0), "1.00 KB" },
        { qfFormat("%04x", 0x2a), "002a" },
        { qfFormat("%0.2li", 7l), "07" },
        { qfFormat("%@/%@.%li.log", QStringLiteral("/logs"), QStringLiteral("App"), 3l), "/logs/App.3.log" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(c.got, QString::fromUtf8(c.expected));
    }
}

TEST(QFFormatTest, PercentSignsInArgumentsAreNotFormats)
{
    EXPECT_EQ(qfFormat("%@ - %@", QStringLiteral("50%@ off"), QStringLiteral("%i")), QStringLiteral("50%@ off - %i"));
}

TEST(QFFormatTest, NullTextsAndMissingArgumentsStayVisible)
{
    EXPECT_EQ(qfFormat("name %@", QString()), QStringLiteral("name (null)"));
    EXPECT_EQ(qfFormat("%@ and %@", QStringLiteral("one")), QStringLiteral("one and %@"));
    EXPECT_EQ(qfFormat("trailing %"), QStringLiteral("trailing %"));
    EXPECT_EQ(qfFormat("odd %y here", 1), QStringLiteral("odd %y here"));
}
