#include "tools/uninstaller/AppController.h"

#include "foundation/QFAlert.h"
#include "foundation/QFLog.h"
#include "foundation/ui/QFAlertPresenter.h"
#include "tests/tools/UninstallerTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

using namespace uninstalltest;

namespace {

// The Fusion style with a light or a dark palette, for renders.
void applyLook(bool dark)
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette palette = QApplication::style()->standardPalette();
    if (dark) {
        palette.setColor(QPalette::Window, QColor(0x2d, 0x2d, 0x30));
        palette.setColor(QPalette::WindowText, QColor(0xe8, 0xe8, 0xe8));
        palette.setColor(QPalette::Base, QColor(0x1f, 0x1f, 0x22));
        palette.setColor(QPalette::Text, QColor(0xe8, 0xe8, 0xe8));
        palette.setColor(QPalette::Button, QColor(0x38, 0x38, 0x3c));
        palette.setColor(QPalette::ButtonText, QColor(0xe8, 0xe8, 0xe8));
        for (const QPalette::ColorRole role : { QPalette::WindowText, QPalette::Text, QPalette::ButtonText })
            palette.setColor(QPalette::Disabled, role, QColor(0x78, 0x78, 0x7c));
    }
    palette.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xe4));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    QApplication::setPalette(palette);
}

void render(QWidget *window, const QString &name)
{
    // Widgets shown before a change of look take the new palette only from their own.
    window->setPalette(QApplication::palette());
    for (QWidget *child : window->findChildren<QWidget *>())
        child->setPalette(QApplication::palette());
    QApplication::processEvents();
    QDir().mkpath(QStringLiteral(QF_RENDER_DIR));
    EXPECT_TRUE(window->grab().save(QStringLiteral(QF_RENDER_DIR "/") + name + QStringLiteral(".png")))
        << name.toStdString();
}

QMessageBox *shownBox()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
            return box;
    }
    return nullptr;
}

class UninstallerWindowTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        qfInstallWidgetAlerts();
        applyLook(false);
    }
    void TearDown() override
    {
        QFAlert::setPresenter({});
        // The log's writer reads the environment; it must be idle before the next test's home changes it.
        QFLog::finishWriting();
    }

    // The worker waits in its first step until the test lets it go on.
    QFUninstaller::Setup setup(QFUninstallProduct product)
    {
        QFUninstaller::Setup s;
        s.product = product;
        s.folders = foldersIn(home);
        s.stopProcesses = [this](const QStringList &names) {
            {
                std::lock_guard lock(mutex);
                stoppedNames = names;
            }
            while (!release.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        };
        return s;
    }

    QString file(const QString &path)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        return path;
    }

    QStringList stopped()
    {
        std::lock_guard lock(mutex);
        return stoppedNames;
    }

    std::atomic<bool> release { true };
    std::mutex mutex;
    QStringList stoppedNames;
};

} // namespace

TEST_F(UninstallerWindowTest, UninstallShowsProgressThenTheFinalMessage)
{
    const QFUninstallFolders folders = foldersIn(home);
    const QString app = makeBundle(folders.localApplications + QStringLiteral("/Quenfield/Pro Tombrel.app"),
        QStringLiteral("com.quenfield.ProTombrel"));
    const QString prefs = file(folders.userPrefs + QStringLiteral("/com.quenfield.ProTombrel.plist"));
    const QString shared = file(folders.userAppSupport + QStringLiteral("/Quenfield/Shared Resources/a"));

    release = false;
    AppController controller(setup(QFUninstallProduct::ProTombrel));
    // Let a held worker go on when the test ends early, so the controller's end does not wait forever.
    const std::shared_ptr<void> letGo(nullptr, [this](void *) { release = true; });
    QSignalSpy quit(&controller, &AppController::quitRequested);
    controller.showMainWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller.windowMain()));
    EXPECT_EQ(controller.windowMain()->windowTitle(), QStringLiteral("Pro Tombrel Uninstaller"));
    EXPECT_TRUE(controller.removeSharedCheck()->isVisible());
    EXPECT_FALSE(controller.removeSharedCheck()->isChecked());
    EXPECT_FALSE(controller.removeConfigCheck()->isChecked());

    // The user ticks "preferences" and leaves the shared items alone.
    QTest::mouseClick(
        controller.removeConfigCheck(), Qt::LeftButton, {}, QPoint(8, controller.removeConfigCheck()->height() / 2));
    EXPECT_TRUE(controller.removeConfigCheck()->isChecked());
    render(controller.windowMain(), QStringLiteral("uninstaller-main-light"));
    applyLook(true);
    render(controller.windowMain(), QStringLiteral("uninstaller-main-dark"));
    applyLook(false);

    QTest::mouseClick(controller.uninstallButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller.windowProgress()->isVisible(); }, 5000));
    EXPECT_FALSE(controller.windowMain()->isVisible());
    EXPECT_EQ(controller.progressBar()->maximum(), 0); // moving on its own
    // The window answers while the worker is busy: its events are handled before the worker is let go.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !stopped().isEmpty(); }, 5000));
    bool answered = false;
    QMetaObject::invokeMethod(
        controller.windowProgress(), [&answered] { answered = true; }, Qt::QueuedConnection);
    EXPECT_TRUE(QTest::qWaitFor([&] { return answered; }, 5000));
    EXPECT_TRUE(controller.windowProgress()->isVisible());
    render(controller.windowProgress(), QStringLiteral("uninstaller-progress-light"));
    applyLook(true);
    render(controller.windowProgress(), QStringLiteral("uninstaller-progress-dark"));
    applyLook(false);
    EXPECT_TRUE(QFileInfo::exists(app));
    release = true;

    QMessageBox *box = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (box = shownBox()) != nullptr; }, 20000));
    EXPECT_EQ(box->text(), QStringLiteral("Uninstall complete"));
    EXPECT_EQ(box->informativeText(), QStringLiteral("Items have been placed in your Trash."));
    EXPECT_FALSE(controller.windowProgress()->isVisible());
    render(box, QStringLiteral("uninstaller-complete-light"));
    applyLook(true);
    render(box, QStringLiteral("uninstaller-complete-dark"));
    applyLook(false);
    EXPECT_TRUE(quit.isEmpty());
    QTest::keyClick(box, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !quit.isEmpty(); }, 5000));
    EXPECT_EQ(quit.first().first().toInt(), 0);

    EXPECT_EQ(stopped(), (QStringList { QStringLiteral("Pro Tombrel"), QStringLiteral("ProTombrelHelper") }));
    EXPECT_FALSE(QFileInfo::exists(app));
    EXPECT_FALSE(QFileInfo::exists(prefs));
    EXPECT_TRUE(QFileInfo::exists(shared));
    EXPECT_TRUE(controller.trashedItems().contains(app));
}

TEST_F(UninstallerWindowTest, CancelAndEscapeRemoveNothing)
{
    const QFUninstallFolders folders = foldersIn(home);
    const QString app = makeBundle(
        folders.localApplications + QStringLiteral("/Pro Tombrel.app"), QStringLiteral("com.quenfield.ProTombrel"));
    {
        SCOPED_TRACE("Cancel");
        AppController controller(setup(QFUninstallProduct::ProTombrel));
        QSignalSpy quit(&controller, &AppController::quitRequested);
        controller.showMainWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(controller.windowMain()));
        QTest::mouseClick(controller.cancelButton(), Qt::LeftButton);
        ASSERT_EQ(quit.size(), 1);
        EXPECT_EQ(quit.first().first().toInt(), 0);
    }
    {
        SCOPED_TRACE("Escape");
        AppController controller(setup(QFUninstallProduct::ProTombrel));
        QSignalSpy quit(&controller, &AppController::quitRequested);
        controller.showMainWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(controller.windowMain()));
        QTest::keyClick(controller.windowMain(), Qt::Key_Escape);
        ASSERT_EQ(quit.size(), 1);
    }
    EXPECT_TRUE(QFileInfo::exists(app));
    EXPECT_TRUE(stopped().isEmpty());
}

TEST_F(UninstallerWindowTest, PredecessorWindowAsksOnlyAboutPreferences)
{
    const QFUninstallFolders folders = foldersIn(home);
    const QString app = makeBundle(folders.localApplications + QStringLiteral("/Quenfield/FCP Tombrel.app"),
        QStringLiteral("com.quenfield.FCPTombrel"));
    const QString prefs = file(folders.userPrefs + QStringLiteral("/com.quenfield.FCPTombrel.plist"));

    AppController controller(setup(QFUninstallProduct::FCPTombrel));
    QSignalSpy quit(&controller, &AppController::quitRequested);
    controller.showMainWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller.windowMain()));
    EXPECT_EQ(controller.windowMain()->windowTitle(), QStringLiteral("FCP Tombrel Uninstaller"));
    EXPECT_FALSE(controller.removeSharedCheck()->isVisible());
    render(controller.windowMain(), QStringLiteral("fcp-uninstaller-main-light"));
    applyLook(true);
    render(controller.windowMain(), QStringLiteral("fcp-uninstaller-main-dark"));
    applyLook(false);

    // Return presses "Uninstall"; the preference box stays off.
    QTest::keyClick(controller.windowMain(), Qt::Key_Return);
    QMessageBox *box = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (box = shownBox()) != nullptr; }, 20000));
    EXPECT_EQ(box->text(), QStringLiteral("Uninstall complete"));
    for (QAbstractButton *button : box->buttons()) {
        if (button->text() == QLatin1String("OK"))
            QTest::mouseClick(button, Qt::LeftButton);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !quit.isEmpty(); }, 5000));
    EXPECT_EQ(stopped(), QStringList { QStringLiteral("FCP Tombrel") });
    EXPECT_FALSE(QFileInfo::exists(app));
    EXPECT_TRUE(QFileInfo::exists(prefs));
}
