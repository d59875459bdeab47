#include "foundation/QFAppRequest.h"

#include "foundation/QFLog.h"
#include "engine/QFTombrelBackup.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFProgramRole.h"
#include "foundation/platform/QFPropertyList.h"
#include "tests/helper/HelperTestSupport.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class QFAppRequestTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        QFLog::createNewLog(QStringLiteral("HelperTest"));
        helperBundle = home.file(QStringLiteral("Pro Tombrel.app/Contents/MacOS/ProTombrelHelper.app"));
        QDir().mkpath(helperBundle + QStringLiteral("/Contents/MacOS"));
        QFBundle::setMainBundlePath(helperBundle);
    }
    void TearDown() override
    {
        QFBundle::setMainBundlePath(QString());
        QFProgram::declareRole(QFProgramRole::Unknown);
    }
    // A stand-in application that writes its arguments down into the returned file.
    QString installRecordingApplication(const QString &executable)
    {
        const QString record = home.file(QStringLiteral("arguments.txt"));
        const QString script = QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > '") + record + QStringLiteral(".tmp' && mv '") + record
            + QStringLiteral(".tmp' '") + record + QStringLiteral("'\n");
        home.write(executable, script.toUtf8());
        QFile::setPermissions(home.file(executable), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return record;
    }
    static QByteArray waitForRecord(const QString &record)
    {
        if (!QTest::qWaitFor([&] { return QFile::exists(record); }, 10000))
            return {};
        QFile file(record);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QString helperBundle;
};

} // namespace

TEST_F(QFAppRequestTest, PathListsKeepCommasAndPercentSignsAndPlainPathsReadAsBefore)
{
    const QStringList plain = { "/P/1.localized/Versions/Cut.00001.fcp", "/P/1.localized/Versions/Cut.00002.fcp" };
    EXPECT_EQ(QFAppRequest::encodeRemotePathList(plain), plain.join(u','));
    EXPECT_EQ(QFAppRequest::decodeRemotePathList(plain.join(u',')), plain);

    const QStringList awkward = { "/P/Smith, John/Cut.00001.fcp", "/P/100% done/Cut.00002.fcp", "/P/%2C literally,/x.fcp" };
    const QString list = QFAppRequest::encodeRemotePathList(awkward);
    EXPECT_EQ(list, QStringLiteral("/P/Smith%2C John/Cut.00001.fcp,/P/100%25 done/Cut.00002.fcp,/P/%252C literally%2C/x.fcp"));
    EXPECT_EQ(QFAppRequest::decodeRemotePathList(list), awkward);

    EXPECT_TRUE(QFAppRequest::decodeRemotePathList(QString()).isEmpty());
    EXPECT_TRUE(QFAppRequest::decodeRemotePathList(QStringLiteral(",,")).isEmpty());
    EXPECT_EQ(QFAppRequest::decodeRemotePathList(QStringLiteral("/a/50%off")), QStringList("/a/50%off")) << "a stray % stays";
}

TEST_F(QFAppRequestTest, TheMainExecutableIsTheSiblingOfTheHelpersBundle)
{
    EXPECT_EQ(QFAppRequest::mainExecutablePath(), home.file(QStringLiteral("Pro Tombrel.app/Contents/MacOS/Pro Tombrel")));
}

TEST_F(QFAppRequestTest, AMissingExecutableIsOnlyLogged)
{
    EXPECT_FALSE(QFAppRequest::requestUpload(QStringLiteral("/P/Cut.00001.fcp")));
    EXPECT_FALSE(QFAppRequest::requestRemoveRemote({ QStringLiteral("/P/a,b.fcp") }));
    const QString line = QStringLiteral("Error: %1 is not executable").arg(QFAppRequest::mainExecutablePath());
    EXPECT_EQ(helperLogMessages(home).count(line), 2);
}

TEST_F(QFAppRequestTest, TheApplicationIsStartedWithTheRequestAndTheEncodedList)
{
    const QString record = installRecordingApplication(QStringLiteral("Pro Tombrel.app/Contents/MacOS/Pro Tombrel"));
    ASSERT_TRUE(QFAppRequest::requestRemoveRemote({ QStringLiteral("/P/Smith, John/a.fcp"), QStringLiteral("/P/b.fcp") }));
    EXPECT_EQ(waitForRecord(record), QByteArray("-removeRemote\n/P/Smith%2C John/a.fcp,/P/b.fcp\n"));
    QFile::remove(record);

    ASSERT_TRUE(QFAppRequest::requestUpload(QStringLiteral("/P/Cut, final.00003.fcp")));
    EXPECT_EQ(waitForRecord(record), QByteArray("-upload\n/P/Cut, final.00003.fcp\n")) << "one path needs no encoding";
}

TEST_F(QFAppRequestTest, OnlyTheApplicationKeepsCloudWorkTheCommandLineToolHandsItToTheApplication)
{
    // The command-line tool lives in the application's own bundle and shares its identifier.
    const QString application = home.file(QStringLiteral("Pro Tombrel.app"));
    ASSERT_TRUE(QFPropertyList::write(application + QStringLiteral("/Contents/Info.plist"),
        QVariantMap { { "CFBundleIdentifier", "com.quenfield.ProTombrel" }, { "CFBundleExecutable", "Pro Tombrel" } }));
    QFBundle::setMainBundlePath(application);
    EXPECT_EQ(QFAppRequest::mainExecutablePath(), application + QStringLiteral("/Contents/MacOS/Pro Tombrel"));
    const QString record = installRecordingApplication(QStringLiteral("Pro Tombrel.app/Contents/MacOS/Pro Tombrel"));
    writePreferences({ { "syncService", 1 } });

    QFTombrelBackup engine;
    QFProgram::declareRole(QFProgramRole::Application);
    engine.uploadFileToCloud(QStringLiteral("/P/kept.00001.fcp"));
    engine.removeSyncedFiles({ QStringLiteral("/P/kept.00001.fcp") });
    QFProgram::declareRole(QFProgramRole::CommandLineTool);
    engine.uploadFileToCloud(QStringLiteral("/P/handed.00002.fcp"));
    EXPECT_EQ(waitForRecord(record), QByteArray("-upload\n/P/handed.00002.fcp\n")) << "the application starts nothing for itself";
    QFile::remove(record);
    engine.removeSyncedFiles({ QStringLiteral("/P/handed.00002.fcp") });
    EXPECT_EQ(waitForRecord(record), QByteArray("-removeRemote\n/P/handed.00002.fcp\n"));
}
