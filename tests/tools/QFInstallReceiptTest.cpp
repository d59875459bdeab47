#include "tools/QFInstallReceipt.h"

#include "foundation/QFLog.h"
#include "tests/support/QFTempHome.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

class QFInstallReceiptTest : public TempHomeTest {
protected:
    // The log's writer reads the environment; it must be idle before the next test's home changes it.
    void TearDown() override { QFLog::finishWriting(); }
};

} // namespace

TEST_F(QFInstallReceiptTest, LiesInTheQuenfieldReceiptsFolderOfEachDomain)
{
    EXPECT_EQ(QFInstallReceipt::path(QStringLiteral("com.quenfield.ProTombrel"), true),
        home.file(QStringLiteral(".local/share/Quenfield/Receipts/com.quenfield.ProTombrel.plist")));
    EXPECT_EQ(QFInstallReceipt::path(QStringLiteral("com.quenfield.ProTombrel"), false),
        QStringLiteral("/usr/local/share/Quenfield/Receipts/com.quenfield.ProTombrel.plist"));
    EXPECT_TRUE(QFInstallReceipt::path(QString(), true).isEmpty());
}

TEST_F(QFInstallReceiptTest, WrittenReceiptReadsBack)
{
    QFInstallReceipt receipt;
    receipt.identifier = QStringLiteral("com.quenfield.ProTombrel");
    receipt.version = QStringLiteral("1.0");
    receipt.bundlePath = home.file(QStringLiteral("Applications/Quenfield/Pro Tombrel.app"));
    receipt.desktopEntry = home.file(QStringLiteral(".local/share/applications/pro-tombrel.desktop"));
    receipt.iconPath = home.file(QStringLiteral(".local/share/icons/hicolor/scalable/apps/pro-tombrel.svg"));
    receipt.commandLink = home.file(QStringLiteral(".local/bin/tombrel"));
    const QString file = QFInstallReceipt::path(receipt.identifier, true);
    QString error;
    ASSERT_TRUE(receipt.write(file, &error)) << error.toStdString();

    const std::optional<QFInstallReceipt> read = QFInstallReceipt::read(file);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->identifier, receipt.identifier);
    EXPECT_EQ(read->version, receipt.version);
    EXPECT_EQ(read->bundlePath, receipt.bundlePath);
    EXPECT_EQ(read->desktopEntry, receipt.desktopEntry);
    EXPECT_EQ(read->iconPath, receipt.iconPath);
    EXPECT_EQ(read->commandLink, receipt.commandLink);
    QFile text(file);
    ASSERT_TRUE(text.open(QIODevice::ReadOnly));
    EXPECT_TRUE(text.readAll().contains("<key>QFBundlePath</key>"));
}

TEST_F(QFInstallReceiptTest, WhatIsNotAReceiptReadsAsNone)
{
    {
        SCOPED_TRACE("missing file");
        EXPECT_FALSE(QFInstallReceipt::read(home.file(QStringLiteral("none.plist"))).has_value());
    }
    {
        SCOPED_TRACE("no identifier");
        EXPECT_FALSE(
            QFInstallReceipt::fromDictionary({ { QStringLiteral("QFBundlePath"), QStringLiteral("/opt/X.app") } })
                .has_value());
    }
    {
        SCOPED_TRACE("not a property list");
        EXPECT_FALSE(QFInstallReceipt::read(home.write(QStringLiteral("bad.plist"), "not a plist")).has_value());
    }
    {
        SCOPED_TRACE("relative paths are dropped");
        const auto receipt = QFInstallReceipt::fromDictionary(
            { { QStringLiteral("CFBundleIdentifier"), QStringLiteral("com.quenfield.ProTombrel") },
                { QStringLiteral("QFBundlePath"), QStringLiteral("Pro Tombrel.app") },
                { QStringLiteral("QFCommandLink"), QStringLiteral("/usr/local/bin/../bin/tombrel") } });
        ASSERT_TRUE(receipt.has_value());
        EXPECT_TRUE(receipt->bundlePath.isEmpty());
        EXPECT_EQ(receipt->commandLink, QStringLiteral("/usr/local/bin/tombrel"));
    }
}
