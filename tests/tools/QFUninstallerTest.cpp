#include "tools/uninstaller/QFUninstaller.h"

#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "tests/tools/UninstallerTestSupport.h"
#include "tools/QFInstallReceipt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace uninstalltest;

namespace {

class QFUninstallerTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        folders = foldersIn(home);
        QFLog::createNewLog(QStringLiteral("uninstaller_tests"));
    }
    // The log's writer reads the environment; it must be idle before the next test's home changes it.
    void TearDown() override { QFLog::finishWriting(); }

    QFUninstaller::Setup setup(QFUninstallProduct product = QFUninstallProduct::ProTombrel)
    {
        QFUninstaller::Setup s;
        s.product = product;
        s.folders = folders;
        s.stopProcesses = stops.stopper();
        return s;
    }

    QString file(const QString &path, const QByteArray &contents = "x")
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
        f.write(contents);
        return path;
    }

    QString link(const QString &path, const QString &target)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        EXPECT_TRUE(QFile::link(target, path)) << path.toStdString();
        return path;
    }

    // A desktop entry as the installer writes it for that bundle.
    static QByteArray desktopEntry(const QString &bundle)
    {
        return QStringLiteral(
            "[Desktop Entry]\nType=Application\nName=Pro Tombrel\nExec=\"%1/Contents/MacOS/Pro Tombrel\" %F\n")
            .arg(bundle)
            .toUtf8();
    }

    QString systemctlLog() const
    {
        QFile log(home.file(QStringLiteral("systemctl.log")));
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    }

    // The names in the Trash (files/), sorted.
    QStringList trashNames() const
    {
        QStringList names = QDir(QFLocalPaths::trashDirectory() + QStringLiteral("/files"))
                                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        names.sort();
        return names;
    }

    // The whole product installed: what every uninstall removes, what only the boxes remove, and the
    // user's own files that no uninstall touches.
    struct Installation {
        QStringList always;
        QStringList preferences;
        QStringList shared;
        QStringList kept;
    };

    Installation installProTombrel()
    {
        Installation in;
        const QFUninstallFolders &f = folders;
        const QString id = QStringLiteral("com.quenfield.ProTombrel");
        // Applications at their standard places, and one where a user installation put it.
        in.always << makeBundle(f.localApplications + QStringLiteral("/Quenfield/Pro Tombrel.app"), id)
                  << makeBundle(f.localApplications + QStringLiteral("/Pro Tombrel.app"), id);
        const QString userBundle = makeBundle(f.userApplications + QStringLiteral("/Quenfield/Pro Tombrel.app"), id);
        in.always << userBundle;
        // Its desktop pieces and the receipt naming them.
        QFInstallReceipt receipt;
        receipt.identifier = id;
        receipt.bundlePath = userBundle;
        receipt.desktopEntry
            = file(home.file(QStringLiteral("Desktop entries/pro-tombrel.desktop")), desktopEntry(userBundle));
        receipt.iconPath = file(home.file(QStringLiteral("Icons/pro-tombrel.svg")));
        receipt.commandLink
            = link(home.file(QStringLiteral("bin/tombrel")), userBundle + QStringLiteral("/Contents/MacOS/tombrel"));
        const QString receiptFile = QFInstallReceipt::pathInFolder(f.userAppSupport, id);
        EXPECT_TRUE(receipt.write(receiptFile));
        in.always << receipt.desktopEntry << receipt.iconPath << receipt.commandLink << receiptFile;
        // Desktop pieces of a machine installation at their standard names.
        in.always << file(f.localAppSupport + QStringLiteral("/applications/pro-tombrel.desktop"))
                  << file(f.localAppSupport + QStringLiteral("/icons/hicolor/scalable/apps/pro-tombrel.svg"))
                  << link(f.localBin + QStringLiteral("/tombrel"),
                         f.localApplications + QStringLiteral("/Quenfield/Pro Tombrel.app/Contents/MacOS/tombrel"));
        // Caches.
        in.always << file(f.userAppSupport + QStringLiteral("/Quenfield/Pro Tombrel/Caches/ABC.cache.plist"))
                  << file(f.userCaches + QStringLiteral("/com.quenfield.BugReporter/a"))
                  << file(f.userCaches + QStringLiteral("/com.quenfield.ProTombrel/a"))
                  << file(f.userCaches + QStringLiteral("/com.quenfield.ProTombrelHelper/a"));
        // The updater at its standard place.
        in.always << makeBundle(f.localApplications + QStringLiteral("/Quenfield/Quenfield Software Update.app"),
            QStringLiteral("com.quenfield.SoftwareUpdate"));
        // The service manager's units, enabled.
        for (const char *unit : { "com.quenfield.ProTombrel.service", "com.quenfield.ProTombrel.autosave.service",
                 "com.quenfield.ProTombrel.autosave.timer" })
            in.always << file(f.launchAgents + u'/' + QLatin1String(unit), "[Unit]\n");
        in.always << link(f.launchAgents + QStringLiteral("/default.target.wants/com.quenfield.ProTombrel.service"),
            f.launchAgents + QStringLiteral("/com.quenfield.ProTombrel.service"));
        in.always << link(
            f.launchAgents + QStringLiteral("/timers.target.wants/com.quenfield.ProTombrel.autosave.timer"),
            f.launchAgents + QStringLiteral("/com.quenfield.ProTombrel.autosave.timer"));
        // Receipts of the machine's installer.
        in.always << file(f.localLibrary + QStringLiteral("/Receipts/Pro Tombrel 1.0.pkg"))
                  << file(f.localLibrary + QStringLiteral("/Receipts/install pro tombrel.pkg"))
                  << file(QFInstallReceipt::pathInFolder(f.localAppSupport, id));
        // Preference files of both domains.
        for (const QString &prefs : { f.userPrefs, f.localPrefs }) {
            in.preferences << file(prefs + QStringLiteral("/com.quenfield.ProTombrel.plist"))
                           << file(prefs + QStringLiteral("/com.quenfield.ProTombrelHelper.plist"));
            in.shared << file(prefs + QStringLiteral("/com.quenfield.SoftwareUpdate.plist"));
        }
        // The maker's shared pieces.
        in.shared << makeBundle(f.userApplications + QStringLiteral("/Quenfield Software Update.app"),
            QStringLiteral("com.quenfield.SoftwareUpdate"))
                  << file(f.userAppSupport + QStringLiteral("/Quenfield/Shared Resources/logo.png"))
                  << file(f.userCaches + QStringLiteral("/com.quenfield.SoftwareUpdate/a"));
        // What belongs to the user or to others.
        in.kept << file(f.userAppSupport + QStringLiteral("/Quenfield/Pro Tombrel/Projects/P.localized/Settings.plist"))
                << file(f.localLibrary + QStringLiteral("/Receipts/Other Product.pkg"))
                << file(f.userCaches + QStringLiteral("/com.quenfield.Other/a"))
                << file(f.launchAgents + QStringLiteral("/other.service"))
                << file(f.userPrefs + QStringLiteral("/com.quenfield.global.plist"));
        return in;
    }

    static void expectGone(const QStringList &paths, const char *what)
    {
        for (const QString &path : paths)
            EXPECT_FALSE(exists(path)) << what << " still there: " << path.toStdString();
    }
    static void expectThere(const QStringList &paths, const char *what)
    {
        for (const QString &path : paths)
            EXPECT_TRUE(exists(path)) << what << " gone: " << path.toStdString();
    }

    QFUninstallFolders folders;
    StopRecorder stops;
};

} // namespace

TEST_F(QFUninstallerTest, TrashFileRefusesReleaseStructureAndTheTrash)
{
    QFUninstaller uninstaller(setup());
    const QString release = makeBundle(
        home.file(QStringLiteral("build/Release/Pro Tombrel.app")), QStringLiteral("com.quenfield.ProTombrel"));
    const QString structure = makeBundle(home.file(QStringLiteral("Projects/Structure/Applications/Pro Tombrel.app")),
        QStringLiteral("com.quenfield.ProTombrel"));
    const QString insideStructure = file(home.file(QStringLiteral("x/Structure/Applications/Quenfield/notes.txt")));
    const QString inTrash = file(QFLocalPaths::trashDirectory() + QStringLiteral("/files/Pro Tombrel.app/x"));
    {
        SCOPED_TRACE("a holder named Release");
        EXPECT_FALSE(uninstaller.trashFile(release));
        EXPECT_TRUE(exists(release));
        // "Release" further up is no reason.
        const QString deeper = file(home.file(QStringLiteral("Release/Quenfield/a.txt")));
        EXPECT_TRUE(uninstaller.trashFile(deeper));
        EXPECT_FALSE(exists(deeper));
    }
    {
        SCOPED_TRACE("under /Structure/Applications/");
        EXPECT_FALSE(uninstaller.trashFile(structure));
        EXPECT_FALSE(uninstaller.trashFile(insideStructure));
        EXPECT_TRUE(exists(structure));
        EXPECT_TRUE(exists(insideStructure));
    }
    {
        SCOPED_TRACE("inside the Trash");
        EXPECT_FALSE(uninstaller.trashFile(inTrash));
        EXPECT_FALSE(uninstaller.trashFile(QFileInfo(inTrash).absolutePath()));
        EXPECT_FALSE(uninstaller.trashFile(QFLocalPaths::trashDirectory()));
        EXPECT_TRUE(exists(inTrash));
    }
    {
        SCOPED_TRACE("no path; nothing there");
        EXPECT_FALSE(uninstaller.trashFile(QString()));
        EXPECT_TRUE(uninstaller.trashFile(home.file(QStringLiteral("nothing here"))));
    }
    {
        SCOPED_TRACE("an ordinary item goes to the Trash");
        const QString item = makeBundle(
            home.file(QStringLiteral("Applications/Pro Tombrel.app")), QStringLiteral("com.quenfield.ProTombrel"));
        EXPECT_TRUE(uninstaller.trashFile(item));
        EXPECT_FALSE(exists(item));
        EXPECT_TRUE(trashNames().contains(QStringLiteral("Pro Tombrel.app")));
    }
    EXPECT_EQ(uninstaller.trashedItems().size(), 2);
}

TEST_F(QFUninstallerTest, GuardsHoldForEveryPathOfTheList)
{
    // The machine's applications folder lies under a work tree's Structure/Applications, and the receipt
    // points into a build tree's Release folder: the uninstall leaves both alone.
    folders.localApplications = home.file(QStringLiteral("work/Structure/Applications"));
    const QString id = QStringLiteral("com.quenfield.ProTombrel");
    const QString structured = makeBundle(folders.localApplications + QStringLiteral("/Quenfield/Pro Tombrel.app"), id);
    const QString updater
        = makeBundle(folders.localApplications + QStringLiteral("/Quenfield/Quenfield Software Update.app"),
            QStringLiteral("com.quenfield.SoftwareUpdate"));
    QFInstallReceipt receipt;
    receipt.identifier = id;
    receipt.bundlePath = makeBundle(home.file(QStringLiteral("build/Release/Pro Tombrel.app")), id);
    ASSERT_TRUE(receipt.write(QFInstallReceipt::pathInFolder(folders.userAppSupport, id)));

    QFUninstaller uninstaller(setup());
    uninstaller.beginUninstall({ true, true });
    expectThere({ structured, updater, receipt.bundlePath }, "guarded item");
    EXPECT_TRUE(exists(folders.localApplications + QStringLiteral("/Quenfield")));
    EXPECT_FALSE(exists(QFInstallReceipt::pathInFolder(folders.userAppSupport, id)));
}

TEST_F(QFUninstallerTest, WithBothBoxesOffRemovesTheInstallationButNoPreferenceFile)
{
    const Installation in = installProTombrel();

    QFUninstaller uninstaller(setup());
    uninstaller.beginUninstall({});

    expectGone(in.always, "installed item");
    expectThere(in.preferences, "preference file");
    expectThere(in.shared, "shared item");
    expectThere(in.kept, "user's item");
    EXPECT_EQ(stops.recorded(), (QStringList { QStringLiteral("Pro Tombrel"), QStringLiteral("ProTombrelHelper") }));
    // The service manager was told to stop both jobs, and to forget their units.
    const QString calls = systemctlLog();
    EXPECT_TRUE(calls.contains(QStringLiteral("--user disable --now com.quenfield.ProTombrel.service")))
        << calls.toStdString();
    EXPECT_TRUE(calls.contains(QStringLiteral(
        "--user disable --now com.quenfield.ProTombrel.autosave.timer com.quenfield.ProTombrel.autosave.service")))
        << calls.toStdString();
    EXPECT_TRUE(calls.contains(QStringLiteral("--user daemon-reload"))) << calls.toStdString();
    // Nothing vanished: every item is in the Trash, and the emptied Quenfield folders are gone.
    EXPECT_FALSE(exists(folders.localApplications + QStringLiteral("/Quenfield")));
    EXPECT_FALSE(exists(folders.userApplications + QStringLiteral("/Quenfield")));
    EXPECT_FALSE(exists(folders.userAppSupport + QStringLiteral("/Quenfield/Receipts")));
    EXPECT_GE(uninstaller.trashedItems().size(), 20);
    EXPECT_TRUE(trashNames().contains(QStringLiteral("Quenfield Software Update.app")));
}

TEST_F(QFUninstallerTest, TheBoxesAddPreferencesAndSharedItems)
{
    {
        SCOPED_TRACE("preferences only");
        const Installation in = installProTombrel();
        QFUninstaller(setup()).beginUninstall({ false, true });
        expectGone(in.always, "installed item");
        expectGone(in.preferences, "preference file");
        expectThere(in.shared, "shared item");
        expectThere(in.kept, "user's item");
        for (const QString &prefs : in.shared)
            QFile::remove(prefs);
        QDir(folders.userApplications + QStringLiteral("/Quenfield Software Update.app")).removeRecursively();
        QDir(folders.userAppSupport + QStringLiteral("/Quenfield/Shared Resources")).removeRecursively();
        QDir(folders.userCaches + QStringLiteral("/com.quenfield.SoftwareUpdate")).removeRecursively();
    }
    {
        SCOPED_TRACE("both boxes");
        const Installation in = installProTombrel();
        QFUninstaller(setup()).beginUninstall({ true, true });
        expectGone(in.always, "installed item");
        expectGone(in.preferences, "preference file");
        expectGone(in.shared, "shared item");
        expectThere(in.kept, "user's item");
    }
}

TEST_F(QFUninstallerTest, QuenfieldApplicationsFolderSurvivesWhileAnotherProductLivesInIt)
{
    const QString id = QStringLiteral("com.quenfield.ProTombrel");
    const QString local = folders.localApplications + QStringLiteral("/Quenfield");
    const QString user = folders.userApplications + QStringLiteral("/Quenfield");
    makeBundle(local + QStringLiteral("/Pro Tombrel.app"), id);
    const QString otherLocal
        = makeBundle(local + QStringLiteral("/Quenfield Compressor.app"), QStringLiteral("com.quenfield.Compressor"));
    QFInstallReceipt receipt;
    receipt.identifier = id;
    receipt.bundlePath = makeBundle(user + QStringLiteral("/Pro Tombrel.app"), id);
    ASSERT_TRUE(receipt.write(QFInstallReceipt::pathInFolder(folders.userAppSupport, id)));
    const QString otherUser
        = makeBundle(user + QStringLiteral("/Quenfield Compressor.app"), QStringLiteral("com.quenfield.Compressor"));

    QFUninstaller(setup()).beginUninstall({});
    EXPECT_FALSE(exists(local + QStringLiteral("/Pro Tombrel.app")));
    EXPECT_FALSE(exists(receipt.bundlePath));
    EXPECT_EQ(treeBelow(local), treeBelow(QFileInfo(otherLocal).absolutePath()));
    EXPECT_TRUE(exists(otherLocal + QStringLiteral("/Contents/Info.plist")));
    EXPECT_TRUE(exists(otherUser + QStringLiteral("/Contents/Info.plist")));

    // Once the other product is gone too, the next uninstall takes the empty folder away.
    QDir(otherLocal).removeRecursively();
    makeBundle(local + QStringLiteral("/Pro Tombrel.app"), id);
    QFUninstaller(setup()).beginUninstall({});
    EXPECT_FALSE(exists(local));
    EXPECT_TRUE(exists(user));
}

TEST_F(QFUninstallerTest, ReceiptPiecesThatAreNotTheInstallationsAreLeftAlone)
{
    const QString id = QStringLiteral("com.quenfield.ProTombrel");
    QFInstallReceipt receipt;
    receipt.identifier = id;
    receipt.bundlePath
        = makeBundle(home.file(QStringLiteral("Applications/Other.app")), QStringLiteral("com.example.Other"));
    receipt.desktopEntry = file(home.file(QStringLiteral("Documents/notes.txt")));
    receipt.iconPath = home.path();
    receipt.commandLink = file(home.file(QStringLiteral("bin/tombrel")));
    ASSERT_TRUE(receipt.write(QFInstallReceipt::pathInFolder(folders.userAppSupport, id)));
    // A "tombrel" on the PATH that leads elsewhere is someone else's.
    const QString foreignLink = link(folders.userBin + QStringLiteral("/tombrel"), QStringLiteral("/usr/bin/true"));

    QFUninstaller(setup()).beginUninstall({});
    expectThere({ receipt.bundlePath, receipt.desktopEntry, receipt.iconPath, receipt.commandLink, foreignLink },
        "foreign item");
    EXPECT_FALSE(exists(QFInstallReceipt::pathInFolder(folders.userAppSupport, id)));
}

TEST_F(QFUninstallerTest, SoftwareUpdateIsFoundByItsIdentifierWhenSharedItemsGo)
{
    const QString renamed = makeBundle(folders.userApplications + QStringLiteral("/Quenfield/Updates.app"),
        QStringLiteral("com.quenfield.SoftwareUpdate"));
    QFUninstaller(setup()).beginUninstall({});
    EXPECT_TRUE(exists(renamed));
    QFUninstaller(setup()).beginUninstall({ true, false });
    EXPECT_FALSE(exists(renamed));
}

TEST_F(QFUninstallerTest, PredecessorUninstallerRemovesFCPTombrel)
{
    const QFUninstallFolders &f = folders;
    const QStringList always {
        makeBundle(f.localApplications + QStringLiteral("/Quenfield/FCP Tombrel.app"),
            QStringLiteral("com.quenfield.FCPTombrel")),
        makeBundle(
            f.localApplications + QStringLiteral("/FCP Tombrel.app"), QStringLiteral("com.quenfield.FCPTombrel")),
        file(f.userAppSupport + QStringLiteral("/Quenfield/FCP Tombrel/Caches/a")),
        file(f.userCaches + QStringLiteral("/com.quenfield.fcptombrel/a")),
        file(f.launchAgents + QStringLiteral("/com.quenfield.FCPTombrel.service")),
        file(f.launchAgents + QStringLiteral("/com.quenfield.FCPTombrelProjectWatcher.service")),
        file(f.launchAgents + QStringLiteral("/com.quenfield.FCPTombrel.autosave.service")),
        file(f.launchAgents + QStringLiteral("/com.quenfield.FCPTombrel.autosave.timer")),
        file(f.launchAgents + QStringLiteral("/com.quenfield.ProTombrelProjectWatcher.service")),
    };
    QStringList preferences;
    for (const QString &prefs : { f.userPrefs, f.localPrefs }) {
        preferences << file(prefs + QStringLiteral("/com.quenfield.FCPTombrel.plist"))
                    << file(prefs + QStringLiteral("/com.quenfield.fcptombrel.plist"));
    }
    const QStringList kept { makeBundle(f.localApplications + QStringLiteral("/Quenfield/Pro Tombrel.app"),
                                 QStringLiteral("com.quenfield.ProTombrel")),
        file(f.userAppSupport + QStringLiteral("/Quenfield/FCP Tombrel/Versions/a")),
        file(f.launchAgents + QStringLiteral("/com.quenfield.ProTombrel.service")),
        file(f.userPrefs + QStringLiteral("/com.quenfield.ProTombrel.plist")) };

    // The shared box means nothing to this uninstaller.
    QFUninstaller(setup(QFUninstallProduct::FCPTombrel)).beginUninstall({ true, false });
    expectGone(always, "installed item");
    expectThere(preferences, "preference file");
    expectThere(kept, "other item");
    EXPECT_EQ(stops.recorded(), QStringList { QStringLiteral("FCP Tombrel") });
    EXPECT_TRUE(exists(f.localApplications + QStringLiteral("/Quenfield")));

    QFUninstaller(setup(QFUninstallProduct::FCPTombrel)).beginUninstall({ false, true });
    expectGone(preferences, "preference file");
    expectThere(kept, "other item");
}

TEST_F(QFUninstallerTest, UnattendedRunTakesItsBoxesFromTheArguments)
{
    const QString program = QStringLiteral("Pro Tombrel Uninstaller");
    EXPECT_FALSE(QFUninstaller::runCommandLine({ program }, setup()).has_value());
    EXPECT_FALSE(
        QFUninstaller::runCommandLine({ program, QStringLiteral("-unattended"), QStringLiteral("NO") }, setup())
            .has_value());
    const QFUninstallOptions parsed = QFUninstaller::optionsFromArguments({ program, QStringLiteral("-unattended"),
        QStringLiteral("YES"), QStringLiteral("-removeShared"), QStringLiteral("1") });
    EXPECT_TRUE(parsed.removeShared);
    EXPECT_FALSE(parsed.removeConfig);

    const Installation in = installProTombrel();
    const std::optional<int> status = QFUninstaller::runCommandLine(
        { program, QStringLiteral("-unattended"), QStringLiteral("YES"), QStringLiteral("-removeConfig"),
            QStringLiteral("YES"), QStringLiteral("-removeShared"), QStringLiteral("NO") },
        setup());
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0);
    expectGone(in.always, "installed item");
    expectGone(in.preferences, "preference file");
    expectThere(in.shared, "shared item");
    expectThere(in.kept, "user's item");
}

TEST_F(QFUninstallerTest, AReceiptTakesAwayOnlyWhatTheInstallerMade)
{
    const QString id = QStringLiteral("com.quenfield.ProTombrel");
    const QString receiptFile = QFInstallReceipt::pathInFolder(folders.userAppSupport, id);
    {
        SCOPED_TRACE("a user's folder, a picture, another program's entry and a link that leads elsewhere");
        QFInstallReceipt receipt;
        receipt.identifier = id;
        receipt.bundlePath = home.file(QStringLiteral("Videos/Wedding Edit.app"));
        file(receipt.bundlePath + QStringLiteral("/Cut.prproj"));
        receipt.desktopEntry = file(folders.userAppSupport + QStringLiteral("/applications/editor.desktop"),
            "[Desktop Entry]\nType=Application\nName=Editor\nExec=/usr/bin/editor %F\n");
        receipt.iconPath = file(home.file(QStringLiteral("Pictures/wedding.png")), "\x89PNG");
        receipt.commandLink = link(home.file(QStringLiteral("bin/tombrel")), QStringLiteral("/usr/bin/true"));
        ASSERT_TRUE(receipt.write(receiptFile));
        QFUninstaller(setup()).beginUninstall({});
        expectThere({ receipt.bundlePath + QStringLiteral("/Cut.prproj"), receipt.desktopEntry, receipt.iconPath,
                        receipt.commandLink },
            "foreign item");
        const QStringList log = home.logMessages(QStringLiteral("uninstaller_tests"));
        for (const QString &piece : { receipt.bundlePath, receipt.desktopEntry, receipt.iconPath, receipt.commandLink })
            EXPECT_TRUE(log.contains(
                QStringLiteral("The receipt names %1, which is not a piece of the installation; left alone.")
                    .arg(piece)))
                << piece.toStdString();
    }
    {
        SCOPED_TRACE("pieces named like the installer's that lead elsewhere, next to the product's own bundle");
        QFInstallReceipt receipt;
        receipt.identifier = id;
        receipt.bundlePath = makeBundle(folders.userApplications + QStringLiteral("/Pro Tombrel.app"), id);
        file(receipt.bundlePath + QStringLiteral("/Contents/Resources/pro-tombrel.svg"), "<svg>ours</svg>");
        receipt.desktopEntry = file(home.file(QStringLiteral("entries/pro-tombrel.desktop")),
            desktopEntry(home.file(QStringLiteral("Other.app"))));
        receipt.iconPath = file(home.file(QStringLiteral("icons/pro-tombrel.svg")), "<svg>someone else's</svg>");
        receipt.commandLink = link(
            home.file(QStringLiteral("bin2/tombrel")), home.file(QStringLiteral("Other.app/Contents/MacOS/tombrel")));
        ASSERT_TRUE(receipt.write(receiptFile));
        QFUninstaller(setup()).beginUninstall({});
        EXPECT_FALSE(exists(receipt.bundlePath));
        expectThere({ receipt.desktopEntry, receipt.iconPath, receipt.commandLink }, "foreign item");
    }
    {
        SCOPED_TRACE("the installer's own pieces go, also once their bundle is gone");
        QFInstallReceipt receipt;
        receipt.identifier = id;
        receipt.bundlePath = folders.userApplications + QStringLiteral("/Pro Tombrel.app");
        receipt.desktopEntry
            = file(home.file(QStringLiteral("entries/pro-tombrel.desktop")), desktopEntry(receipt.bundlePath));
        receipt.iconPath = file(home.file(QStringLiteral("icons/pro-tombrel.svg")), "<svg>ours</svg>");
        QFile::remove(home.file(QStringLiteral("bin2/tombrel")));
        receipt.commandLink = link(
            home.file(QStringLiteral("bin2/tombrel")), receipt.bundlePath + QStringLiteral("/Contents/MacOS/tombrel"));
        ASSERT_TRUE(receipt.write(receiptFile));
        QFUninstaller(setup()).beginUninstall({});
        expectGone({ receipt.desktopEntry, receipt.iconPath, receipt.commandLink, receiptFile }, "installed item");
    }
}

TEST_F(QFUninstallerTest, AnInstallationOfTheDebianPackageIsLeftToThePackageManager)
{
    const QString id = QStringLiteral("com.quenfield.ProTombrel");
    folders.packageDatabase = home.file(QStringLiteral("machine/var/lib/dpkg"));
    const QString packaged = makeBundle(folders.localApplications + QStringLiteral("/Pro Tombrel.app"), id);
    file(folders.packageDatabase + QStringLiteral("/info/pro-tombrel.list"),
        ("/.\n" + folders.localApplications + "\n" + packaged + "\n" + packaged + "/Contents\n/usr/bin/tombrel\n")
            .toUtf8());
    // The user's own pieces are not the package's: they go as always.
    const QString cache = file(folders.userCaches + QStringLiteral("/com.quenfield.ProTombrel/a"));
    const QString unit = file(folders.launchAgents + QStringLiteral("/com.quenfield.ProTombrel.service"), "[Unit]\n");

    const std::optional<int> status = QFUninstaller::runCommandLine(
        { QStringLiteral("Pro Tombrel Uninstaller"), QStringLiteral("-unattended"), QStringLiteral("YES") }, setup());
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0);
    EXPECT_TRUE(exists(packaged + QStringLiteral("/Contents/Info.plist")));
    EXPECT_FALSE(trashNames().contains(QStringLiteral("Pro Tombrel.app")));
    expectGone({ cache, unit }, "user's piece of the installation");
    const QStringList log = home.logMessages(QStringLiteral("uninstaller_tests"));
    EXPECT_TRUE(log.contains(
        QStringLiteral("%1 belongs to the package pro-tombrel; left to the package manager.").arg(packaged)))
        << log.join(u'\n').toStdString();

    QFUninstaller uninstaller(setup());
    uninstaller.beginUninstall({});
    ASSERT_EQ(uninstaller.packageNotes().size(), 1);
    EXPECT_TRUE(uninstaller.packageNotes().first().contains(QStringLiteral("sudo apt remove pro-tombrel")));
    EXPECT_TRUE(QFUninstaller::completeInformative(uninstaller.packageNotes())
                    .startsWith(QLatin1String(QFUninstaller::kCompleteInformative)));
    EXPECT_EQ(uninstaller.owningPackage(packaged + QStringLiteral("/")), QStringLiteral("pro-tombrel"));
    EXPECT_TRUE(
        uninstaller.owningPackage(folders.localApplications + QStringLiteral("/Quenfield/Pro Tombrel.app")).isEmpty());
}
