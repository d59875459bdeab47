// "Install Pro Tombrel" as a user meets it: the Version Check page passed by in the direction of travel
// unless FCP Tombrel is installed, its button unpacking the uninstaller afresh at every press, and what an
// installation lays out, all in a temporary home.

#include "tools/installer/PT_MessageViewPane.h"
#include "tools/installer/QFInstaller.h"
#include "tools/installer/QFInstallerWizard.h"
#include "tools/QFInstallReceipt.h"

#include "foundation/QFLocalPaths.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFUserDefaults.h"
#include "foundation/platform/QFZip.h"
#include "tests/support/QFTempHome.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QApplication>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class InstallerTest : public TempHomeTest {
protected:
    void TearDown() override
    {
        QFBundle::setMainBundlePath(QString());
        QFUserDefaults::standard().setArguments({});
    }
    // A bundle with that identifier and an executable script (body) named name.
    QString bundle(const QString &path, const QString &identifier, const QString &name, const QByteArray &body)
    {
        home.write(path + QStringLiteral("/Contents/Info.plist"),
            QStringLiteral(
                "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>%1</string>"
                "<key>CFBundleExecutable</key><string>%2</string><key>CFBundleShortVersionString</key><string>1.0.0</"
                "string>"
                "</dict></plist>")
                .arg(identifier, name)
                .toUtf8());
        const QString program = home.write(path + QStringLiteral("/Contents/MacOS/") + name, body);
        QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner);
        return home.file(path);
    }
    void click(QWizard &wizard, QWizard::WizardButton which)
    {
        QTest::mouseClick(wizard.button(which), Qt::LeftButton);
    }
    // Runs whatever the wizard queued for itself, and what that queued in turn: a page that moves on by
    // itself has moved on when this returns.
    static bool settle(QWizard &wizard)
    {
        for (int round = 0; round < 3; ++round) {
            bool reached = false;
            QMetaObject::invokeMethod(
                &wizard, [&reached] { reached = true; }, Qt::QueuedConnection);
            if (!QTest::qWaitFor([&] { return reached; }, 5000))
                return false;
        }
        return true;
    }
};

TEST_F(InstallerTest, TheVersionCheckIsPassedByInBothDirectionsWithoutThePredecessor)
{
    QFInstallerWizard wizard;
    wizard.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&wizard));
    EXPECT_EQ(wizard.currentId(), QFInstallerWizard::Welcome);
    click(wizard, QWizard::NextButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return wizard.currentId() == QFInstallerWizard::Destination; }, 5000));
    QDir().mkpath(QStringLiteral(QF_RENDER_DIR));
    EXPECT_TRUE(wizard.grab().save(QStringLiteral(QF_RENDER_DIR "/installer-destination.png")));
    click(wizard, QWizard::BackButton);
    // Backwards it leads to the page before it, not on again.
    ASSERT_TRUE(QTest::qWaitFor([&] { return wizard.currentId() == QFInstallerWizard::Welcome; }, 5000));
    ASSERT_TRUE(settle(wizard));
    EXPECT_EQ(wizard.currentId(), QFInstallerWizard::Welcome);
}

TEST_F(InstallerTest, WithThePredecessorInstalledThePageStaysAndEveryPressUnpacksTheUninstallerAfresh)
{
    bundle(QStringLiteral("Applications/FCP Tombrel.app"), QStringLiteral("com.quenfield.fcptombrel"),
        QStringLiteral("FCP Tombrel"), "#!/bin/sh\n");
    // The installer's bundle carries the uninstaller as a zip archive; the stand-in notes where it ran from.
    const QString uninstaller = bundle(QStringLiteral("made/FCP Tombrel Uninstaller.app"),
        QStringLiteral("com.quenfield.FCPTombrelUninstaller"), QStringLiteral("FCP Tombrel Uninstaller"),
        QStringLiteral("#!/bin/sh\necho \"$0\" >> '%1'\n").arg(home.file(QStringLiteral("opened.txt"))).toUtf8());
    const QString installer = home.file(QStringLiteral("Install Pro Tombrel.app"));
    QDir().mkpath(installer + QStringLiteral("/Contents/Resources"));
    QString reason;
    ASSERT_TRUE(qfZipItem(
        uninstaller, installer + QStringLiteral("/Contents/Resources/FCP Tombrel Uninstaller.zip"), true, &reason))
        << reason.toStdString();
    QFBundle::setMainBundlePath(installer);

    QFInstallerWizard wizard;
    wizard.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&wizard));
    click(wizard, QWizard::NextButton);
    ASSERT_EQ(wizard.currentId(), QFInstallerWizard::VersionCheck);
    ASSERT_TRUE(settle(wizard));
    EXPECT_EQ(wizard.currentId(), QFInstallerWizard::VersionCheck);
    auto *button = wizard.versionCheckPane()->findChild<QPushButton *>(QStringLiteral("uninstallBtn"));
    ASSERT_TRUE(button->isVisible());
    QDir().mkpath(QStringLiteral(QF_RENDER_DIR));
    EXPECT_TRUE(wizard.grab().save(QStringLiteral(QF_RENDER_DIR "/installer-version-check.png")));
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::mouseClick(button, Qt::LeftButton);
    const auto runsSoFar = [&] {
        QFile opened(home.file(QStringLiteral("opened.txt")));
        return opened.open(QIODevice::ReadOnly) ? QString::fromUtf8(opened.readAll()).trimmed().split(u'\n')
                                                : QStringList();
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return runsSoFar().size() == 2; }, 10000));
    const QStringList runs = runsSoFar();
    ASSERT_EQ(runs.size(), 2);
    EXPECT_NE(QFileInfo(runs.at(0)).path(), QFileInfo(runs.at(1)).path());
    for (const QString &run : runs)
        EXPECT_TRUE(run.startsWith(QFLocalPaths::tempDirectory() + u'/')) << run.toStdString();
}

TEST_F(InstallerTest, AnInstallationLaysOutTheBundleItsEntryItsLinkAndItsReceipt)
{
    const QString payload = bundle(QStringLiteral("payload/Pro Tombrel.app"),
        QStringLiteral("com.quenfield.ProTombrel"), QStringLiteral("tombrel"), "#!/bin/sh\necho tombrel 1.0.0\n");
    home.write(QStringLiteral("payload/Pro Tombrel.app/Contents/Resources/pro-tombrel.svg"), "<svg/>");
    QFUserDefaults::standard().setArguments({ QStringLiteral("installer"), QStringLiteral("-payload"), payload });
    const QString applications = QFInstaller::userDestination();
    QString error;
    ASSERT_TRUE(QFInstaller::install(applications, &error)) << error.toStdString();

    const QString installed = applications + QStringLiteral("/Pro Tombrel.app");
    EXPECT_EQ(QFBundle::bundleIdentifierOfBundle(installed), QStringLiteral("com.quenfield.ProTombrel"));
    const auto receipt
        = QFInstallReceipt::read(QFInstallReceipt::path(QStringLiteral("com.quenfield.ProTombrel"), true));
    ASSERT_TRUE(receipt);
    EXPECT_EQ(receipt->bundlePath, installed);
    EXPECT_EQ(QFileInfo(receipt->commandLink).symLinkTarget(), installed + QStringLiteral("/Contents/MacOS/tombrel"));
    QFile entry(receipt->desktopEntry);
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_TRUE(entry.readAll().contains(("Exec=\"" + installed + "/Contents/MacOS/Pro Tombrel\"").toUtf8()));
    EXPECT_TRUE(QFileInfo::exists(receipt->iconPath));

    // Installing again replaces the bundle; the old one goes to the Trash.
    ASSERT_TRUE(QFInstaller::install(applications, &error)) << error.toStdString();
    EXPECT_TRUE(QFileInfo::exists(home.file(QStringLiteral(".local/share/Trash/files/Pro Tombrel.app"))));
    // Nothing to install is said plainly.
    QFUserDefaults::standard().setArguments(
        { QStringLiteral("installer"), QStringLiteral("-payload"), home.file(QStringLiteral("none.app")) });
    EXPECT_FALSE(QFInstaller::install(applications, &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("The installer carries no application")));
}

TEST_F(InstallerTest, AsRootWithNobodyAtTheConsoleTheLinkGoesWhereTheOtherPiecesGo)
{
    const QString payload = bundle(QStringLiteral("payload/Pro Tombrel.app"),
        QStringLiteral("com.quenfield.ProTombrel"), QStringLiteral("tombrel"), "#!/bin/sh\n");
    QFUserDefaults::standard().setArguments({ QStringLiteral("installer"), QStringLiteral("-payload"), payload });
    QFLocalPaths::setRootOverride(true);
    QFLocalPaths::setConsoleUserResolver([] { return std::optional<QFConsoleUser>(); });
    const bool rootLinkBefore = QFileInfo(QStringLiteral("/.local/bin/tombrel")).isSymLink();

    const QString applications = QFInstaller::userDestination();
    ASSERT_TRUE(applications.startsWith(home.path() + u'/')) << "root's own folders, here the home of the test";
    QString error;
    ASSERT_TRUE(QFInstaller::install(applications, &error)) << error.toStdString();
    const auto receipt
        = QFInstallReceipt::read(QFInstallReceipt::path(QStringLiteral("com.quenfield.ProTombrel"), true));
    ASSERT_TRUE(receipt);
    for (const QString &piece : { receipt->bundlePath, receipt->desktopEntry, receipt->commandLink })
        EXPECT_TRUE(piece.startsWith(home.path() + u'/')) << piece.toStdString();
    EXPECT_EQ(receipt->commandLink, home.file(QStringLiteral(".local/bin/tombrel")));
    EXPECT_EQ(QFileInfo(receipt->commandLink).symLinkTarget(),
        receipt->bundlePath + QStringLiteral("/Contents/MacOS/tombrel"));
    EXPECT_EQ(QFileInfo(QStringLiteral("/.local/bin/tombrel")).isSymLink(), rootLinkBefore)
        << "nothing at the root of the file system";
}

TEST_F(InstallerTest, TheUnattendedProgramNeedsNoDisplay)
{
    const QString payload = bundle(QStringLiteral("payload/Pro Tombrel.app"),
        QStringLiteral("com.quenfield.ProTombrel"), QStringLiteral("tombrel"), "#!/bin/sh\n");
    QProcess installer;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        environment.remove(QString::fromLatin1(name));
    installer.setProcessEnvironment(environment);
    const QString destination = home.file(QStringLiteral("Applications"));
    installer.start(QStringLiteral(QF_INSTALLER_PROGRAM),
        { QStringLiteral("-unattended"), QStringLiteral("YES"), QStringLiteral("-destination"), destination,
            QStringLiteral("-payload"), payload });
    ASSERT_TRUE(installer.waitForFinished(60000));
    EXPECT_EQ(installer.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(installer.exitCode(), 0) << installer.readAllStandardError().toStdString();
    EXPECT_EQ(QFBundle::bundleIdentifierOfBundle(destination + QStringLiteral("/Pro Tombrel.app")),
        QStringLiteral("com.quenfield.ProTombrel"));
    EXPECT_TRUE(QFileInfo(home.file(QStringLiteral(".local/bin/tombrel"))).isSymLink());
}

TEST_F(InstallerTest, RenderThePagesLightAndDark)
{
    bundle(QStringLiteral("Applications/FCP Tombrel.app"), QStringLiteral("com.quenfield.fcptombrel"),
        QStringLiteral("FCP Tombrel"), "#!/bin/sh\n");
    QDir().mkpath(QStringLiteral(QF_RENDER_DIR));
    const QPalette original = QApplication::palette();
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    for (const bool dark : { false, true }) {
        QPalette palette = QApplication::style()->standardPalette();
        if (dark) {
            palette.setColor(QPalette::Window, QColor(0x2d, 0x2d, 0x30));
            palette.setColor(QPalette::Base, QColor(0x1f, 0x1f, 0x22));
            palette.setColor(QPalette::Button, QColor(0x38, 0x38, 0x3c));
            for (const QPalette::ColorRole role : { QPalette::WindowText, QPalette::Text, QPalette::ButtonText })
                palette.setColor(role, QColor(0xe8, 0xe8, 0xe8));
        }
        palette.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xe4));
        QApplication::setPalette(palette);
        QFInstallerWizard wizard;
        wizard.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&wizard));
        const QString suffix = dark ? QStringLiteral("-dark.png") : QStringLiteral("-light.png");
        EXPECT_TRUE(wizard.grab().save(QStringLiteral(QF_RENDER_DIR "/installer-welcome") + suffix));
        click(wizard, QWizard::NextButton);
        ASSERT_EQ(wizard.currentId(), QFInstallerWizard::VersionCheck);
        EXPECT_TRUE(wizard.grab().save(QStringLiteral(QF_RENDER_DIR "/installer-version-check") + suffix));
        click(wizard, QWizard::NextButton);
        ASSERT_EQ(wizard.currentId(), QFInstallerWizard::Destination);
        EXPECT_TRUE(wizard.grab().save(QStringLiteral(QF_RENDER_DIR "/installer-destination") + suffix));
    }
    QApplication::setPalette(original);
}

} // namespace
