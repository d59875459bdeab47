// The Sync pane on its own, offscreen, with rclone's WebDAV server on this machine and a temporary rclone
// configuration: the remotes come from rclone listremotes, choosing the rclone remote shows its rows and
// writes syncRemote as NAME:path, Test lists the folder and says what it holds or why it cannot, and a
// wrong password reads as a refused login. Rendered light and dark.

#include "app/QFSyncPane.h"
#include "engine/QFPreferenceKeys.h"
#include "engine/QFPreferenceSnapshot.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/QFRcloneServer.h"
#include "tests/support/QFTempHome.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using namespace qfrclone;

class SyncPaneTest : public TempHomeTest {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        s_server = new RcloneServer;
        QDir().mkpath(s_dir->filePath(QStringLiteral("webdav/studio/CUT")));
        writeFile(s_dir->filePath(QStringLiteral("webdav/studio/CUT/Project.plist")), "<plist/>");
        s_started = s_server->start(QStringLiteral("webdav"), s_dir->filePath(QStringLiteral("webdav")),
            s_dir->filePath(QStringLiteral("cache")));
        if (s_started) {
            writeFile(s_dir->filePath(QStringLiteral("rclone.conf")),
                (davSection(QStringLiteral("dav"), s_server->port, kPassword)
                    + davSection(QStringLiteral("locked"), s_server->port, kWrongPassword))
                    .toUtf8());
        }
    }
    static void TearDownTestSuite()
    {
        delete s_server;
        delete s_dir;
    }
    void SetUp() override
    {
        ASSERT_TRUE(s_started) << "rclone server did not start";
        m_savedConfig = qgetenv("RCLONE_CONFIG");
        qputenv("RCLONE_CONFIG", s_dir->filePath(QStringLiteral("rclone.conf")).toUtf8());
    }
    void TearDown() override { qputenv("RCLONE_CONFIG", m_savedConfig); }

    static QVariant stored(const QString &key) { return QFPreferenceSnapshot::read().value(key); }

    // A pane in a window of its own, its values read and rclone's remotes listed.
    std::unique_ptr<QFSyncPane> openPane()
    {
        auto pane = std::make_unique<QFSyncPane>(nullptr);
        pane->resize(640, 330);
        QSignalSpy listed(pane.get(), &QFSyncPane::remotesListed);
        pane->loadValues();
        pane->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(pane.get()));
        EXPECT_TRUE(QTest::qWaitFor([&] { return listed.size() >= 1; }, 20000));
        return pane;
    }

    template <typename T> static T *control(QWidget *pane, const QString &name)
    {
        T *found = pane->findChild<T *>(name);
        EXPECT_TRUE(found) << "no control " << name.toStdString();
        return found;
    }

    static QTemporaryDir *s_dir;
    static RcloneServer *s_server;
    static bool s_started;
    QByteArray m_savedConfig;
};

QTemporaryDir *SyncPaneTest::s_dir = nullptr;
RcloneServer *SyncPaneTest::s_server = nullptr;
bool SyncPaneTest::s_started = false;

TEST_F(SyncPaneTest, ChoosingAnRcloneRemoteWritesItAndTestListsItsFolder)
{
    const auto pane = openPane();
    auto *service = control<QComboBox>(pane.get(), QStringLiteral("syncService"));
    auto *remote = control<QComboBox>(pane.get(), QStringLiteral("syncRemoteName"));
    auto *path = control<QLineEdit>(pane.get(), QStringLiteral("syncRemotePath"));
    auto *test = control<QPushButton>(pane.get(), QStringLiteral("syncRemoteTest"));
    auto *result = control<QLabel>(pane.get(), QStringLiteral("syncRemoteResult"));
    auto *link = control<QPushButton>(pane.get(), QStringLiteral("linkUnlink"));
    ASSERT_TRUE(service && remote && path && test && result && link);
    EXPECT_EQ(service->count(), 3);
    EXPECT_EQ(service->currentIndex(), 0);
    EXPECT_FALSE(remote->isVisible());
    EXPECT_TRUE(link->isVisible());
    EXPECT_FALSE(link->isEnabled());
    // The remotes of rclone config, in its order.
    ASSERT_EQ(remote->count(), 2);
    EXPECT_EQ(remote->itemText(0), QStringLiteral("dav"));
    EXPECT_EQ(remote->itemText(1), QStringLiteral("locked"));

    service->setFocus();
    QTest::keyClick(service, Qt::Key_Down);
    QTest::keyClick(service, Qt::Key_Down);
    EXPECT_EQ(stored(QStringLiteral("syncService")).toLongLong(), 2);
    EXPECT_TRUE(remote->isVisible());
    EXPECT_TRUE(path->isVisible());
    EXPECT_FALSE(link->isVisible());
    // The first remote is taken until another is chosen.
    EXPECT_EQ(stored(QStringLiteral("syncRemote")).toString(), QStringLiteral("dav:"));

    QTest::mouseClick(path, Qt::LeftButton);
    QTest::keyClicks(path, QStringLiteral("studio/"));
    QTest::keyClick(path, Qt::Key_Return);
    EXPECT_EQ(stored(QStringLiteral("syncRemote")).toString(), QStringLiteral("dav:studio"));

    QSignalSpy tested(pane.get(), &QFSyncPane::testFinished);
    ASSERT_TRUE(test->isEnabled());
    QTest::mouseClick(test, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tested.size() == 1; }, 30000));
    EXPECT_TRUE(tested.first().first().toBool());
    EXPECT_EQ(result->text(), QStringLiteral("dav:studio can be reached; it holds 1 item: CUT."));

    QDir().mkpath(QStringLiteral(QF_RENDER_DIR));
    const QPalette original = QApplication::palette();
    for (const bool dark : { false, true }) {
        apptest::applyLook(dark);
        pane->setPalette(QApplication::palette());
        pane->refreshStatus();
        QCoreApplication::processEvents();
        EXPECT_TRUE(pane->grab().save(QStringLiteral(QF_RENDER_DIR "/sync-pane-rclone")
            + (dark ? QStringLiteral("-dark.png") : QStringLiteral("-light.png"))));
    }
    QApplication::setPalette(original);

    // A folder not made yet is what the first copy makes.
    QTest::mouseClick(path, Qt::LeftButton);
    QTest::keyClick(path, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(path, QStringLiteral("new/place"));
    QTest::keyClick(path, Qt::Key_Return);
    EXPECT_EQ(stored(QStringLiteral("syncRemote")).toString(), QStringLiteral("dav:new/place"));
    QTest::mouseClick(test, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tested.size() == 2; }, 30000));
    EXPECT_TRUE(tested.last().first().toBool());
    EXPECT_TRUE(result->text().contains(QStringLiteral("made with the first copy"))) << result->text().toStdString();

    // The other remote's password is wrong: the login is refused, in words.
    remote->setFocus();
    QTest::keyClick(remote, Qt::Key_Down);
    EXPECT_EQ(stored(QStringLiteral("syncRemote")).toString(), QStringLiteral("locked:new/place"));
    QTest::mouseClick(test, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tested.size() == 3; }, 30000));
    EXPECT_FALSE(tested.last().first().toBool());
    EXPECT_TRUE(result->text().startsWith(QStringLiteral("Login refused"))) << result->text().toStdString();
    for (const bool dark : { false, true }) {
        apptest::applyLook(dark);
        pane->setPalette(QApplication::palette());
        pane->refreshStatus();
        QCoreApplication::processEvents();
        EXPECT_TRUE(pane->grab().save(QStringLiteral(QF_RENDER_DIR "/sync-pane-rclone-refused")
            + (dark ? QStringLiteral("-dark.png") : QStringLiteral("-light.png"))));
    }
    QApplication::setPalette(original);

    // Back to nowhere: the remote stays written for another time.
    service->setFocus();
    QTest::keyClick(service, Qt::Key_Up);
    QTest::keyClick(service, Qt::Key_Up);
    EXPECT_EQ(stored(QStringLiteral("syncService")).toLongLong(), 0);
    EXPECT_FALSE(remote->isVisible());
    EXPECT_EQ(stored(QStringLiteral("syncRemote")).toString(), QStringLiteral("locked:new/place"));
}

TEST_F(SyncPaneTest, AStoredRemoteIsShownAndOneRcloneNoLongerNamesStays)
{
    ASSERT_TRUE(QFPreferenceKeys::update({ { QStringLiteral("syncService"), 2 },
        { QStringLiteral("syncRemote"), QStringLiteral("gone:Archive/Cuts") } }));
    const auto pane = openPane();
    auto *remote = control<QComboBox>(pane.get(), QStringLiteral("syncRemoteName"));
    auto *path = control<QLineEdit>(pane.get(), QStringLiteral("syncRemotePath"));
    ASSERT_TRUE(remote && path);
    EXPECT_EQ(remote->currentText(), QStringLiteral("gone"));
    EXPECT_EQ(remote->count(), 3);
    EXPECT_EQ(path->text(), QStringLiteral("Archive/Cuts"));
    EXPECT_EQ(stored(QStringLiteral("syncRemote")).toString(), QStringLiteral("gone:Archive/Cuts"));

    QSignalSpy tested(pane.get(), &QFSyncPane::testFinished);
    QTest::mouseClick(control<QPushButton>(pane.get(), QStringLiteral("syncRemoteTest")), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tested.size() == 1; }, 30000));
    EXPECT_FALSE(tested.first().first().toBool());
    EXPECT_TRUE(control<QLabel>(pane.get(), QStringLiteral("syncRemoteResult"))
                    ->text()
                    .contains(QStringLiteral("rclone config")));
}

} // namespace
