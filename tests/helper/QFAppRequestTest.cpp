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

#include <atomic>
#include <thread>

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
        const QString script = QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > '") + record
            + QStringLiteral(".tmp' && mv '") + record + QStringLiteral(".tmp' '") + record + QStringLiteral("'\n");
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

    const QStringList awkward
        = { "/P/Smith, John/Cut.00001.fcp", "/P/100% done/Cut.00002.fcp", "/P/%2C literally,/x.fcp" };
    const QString list = QFAppRequest::encodeRemotePathList(awkward);
    EXPECT_EQ(list,
        QStringLiteral("/P/Smith%2C John/Cut.00001.fcp,/P/100%25 done/Cut.00002.fcp,/P/%252C literally%2C/x.fcp"));
    EXPECT_EQ(QFAppRequest::decodeRemotePathList(list), awkward);

    EXPECT_TRUE(QFAppRequest::decodeRemotePathList(QString()).isEmpty());
    EXPECT_TRUE(QFAppRequest::decodeRemotePathList(QStringLiteral(",,")).isEmpty());
    EXPECT_EQ(QFAppRequest::decodeRemotePathList(QStringLiteral("/a/50%off")), QStringList("/a/50%off"))
        << "a stray % stays";
}

TEST_F(QFAppRequestTest, TheMainExecutableIsTheSiblingOfTheHelpersBundle)
{
    EXPECT_EQ(
        QFAppRequest::mainExecutablePath(), home.file(QStringLiteral("Pro Tombrel.app/Contents/MacOS/Pro Tombrel")));
}

TEST_F(QFAppRequestTest, AStartThatFailsIsLoggedAndTriedAgainBeforeTheRequestIsGivenUp)
{
    QFAppRequest::setRetryPause(1);
    EXPECT_FALSE(QFAppRequest::requestUpload(QStringLiteral("/P/Cut.00001.fcp")));
    EXPECT_FALSE(QFAppRequest::requestRemoveRemote({ QStringLiteral("/P/a,b.fcp") }));
    QFAppRequest::setRetryPause(2000);
    const QString executable = QFAppRequest::mainExecutablePath();
    const QStringList log = helperLogMessages(home);
    EXPECT_EQ(
        log.count(QStringLiteral("Error: %1 is not executable").arg(executable)), 2 * QFAppRequest::kStartAttempts);
    const struct {
        const char *request;
    } cases[] = { { "upload /P/Cut.00001.fcp" }, { "remove the Dropbox copies of /P/a,b.fcp" } };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.request);
        const QString request = QString::fromUtf8(c.request);
        for (int attempt = 1; attempt < QFAppRequest::kStartAttempts; ++attempt) {
            EXPECT_TRUE(log.contains(QStringLiteral("Unable to start %1 to %2 (attempt %3 of %4); trying again.")
                                         .arg(executable, request)
                                         .arg(attempt)
                                         .arg(QFAppRequest::kStartAttempts)))
                << qPrintable(log.join(u'\n'));
        }
        EXPECT_TRUE(log.contains(QStringLiteral("Unable to start %1 to %2 after %3 attempts; giving up.")
                                     .arg(executable, request)
                                     .arg(QFAppRequest::kStartAttempts)));
    }
}

TEST_F(QFAppRequestTest, AnApplicationThatCanBeStartedAgainGetsTheRequest)
{
    // The bundle is being replaced (an update): the first start fails, the next one finds the new program.
    QFAppRequest::setRetryPause(3000);
    std::atomic<bool> handed { false };
    std::thread request([&] { handed = QFAppRequest::requestUpload(QStringLiteral("/P/Cut.00002.fcp")); });
    const QString first
        = QStringLiteral("Unable to start %1 to upload /P/Cut.00002.fcp (attempt 1 of %2); trying again.")
              .arg(QFAppRequest::mainExecutablePath())
              .arg(QFAppRequest::kStartAttempts);
    const bool failedOnce = QTest::qWaitFor([&] { return helperLogMessages(home).contains(first); }, 10000);
    const QString record = installRecordingApplication(QStringLiteral("Pro Tombrel.app/Contents/MacOS/Pro Tombrel"));
    request.join();
    QFAppRequest::setRetryPause(2000);
    EXPECT_TRUE(failedOnce);
    EXPECT_TRUE(handed);
    EXPECT_EQ(waitForRecord(record), QByteArray("-upload\n/P/Cut.00002.fcp\n"));
}

TEST_F(QFAppRequestTest, TheApplicationIsStartedWithTheRequestAndTheEncodedList)
{
    const QString record = installRecordingApplication(QStringLiteral("Pro Tombrel.app/Contents/MacOS/Pro Tombrel"));
    ASSERT_TRUE(
        QFAppRequest::requestRemoveRemote({ QStringLiteral("/P/Smith, John/a.fcp"), QStringLiteral("/P/b.fcp") }));
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
    EXPECT_EQ(waitForRecord(record), QByteArray("-upload\n/P/handed.00002.fcp\n"))
        << "the application starts nothing for itself";
    QFile::remove(record);
    engine.removeSyncedFiles({ QStringLiteral("/P/handed.00002.fcp") });
    EXPECT_EQ(waitForRecord(record), QByteArray("-removeRemote\n/P/handed.00002.fcp\n"));
}
