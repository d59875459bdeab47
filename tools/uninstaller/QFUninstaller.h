#pragma once

// What an uninstaller does, without its windows: stops the product's programs and services and moves
// every piece of an installation to the user's Trash. One class serves both uninstallers; the product
// decides the list. beginUninstall blocks its thread (run it on a worker); nothing here touches widgets.
// Nothing is reported per item: what is missing or refused is skipped, and the Trash itself reports
// the moves it could not make in the log.

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

enum class QFUninstallProduct { ProTombrel, FCPTombrel };

struct QFUninstallOptions {
    bool removeShared = false; // also the maker's shared pieces (the updater, its settings, shared resources)
    bool removeConfig = false; // also the preference files
};

// The folders the uninstaller works in, for the user and for the machine; standard() takes them from
// QFLocalPaths (the console user's under sudo).
struct QFUninstallFolders {
    QString userApplications;
    QString localApplications;
    QString userAppSupport;
    QString localAppSupport;
    QString userCaches;
    QString userPrefs;
    QString localPrefs;
    QString localLibrary;
    QString launchAgents;
    QString userBin; // where a user's installation links "tombrel" (~/.local/bin)
    QString localBin; // where the machine's does (/usr/local/bin)
    QString packageDatabase; // dpkg's administrative folder (/var/lib/dpkg), to tell the package's own files

    static QFUninstallFolders standard();
};

class QFUninstaller final {
public:
    // Ends the running programs with these executable names ("/usr/bin/killall NAME…").
    using ProcessStopper = std::function<void(const QStringList &names)>;

    struct Setup {
        QFUninstallProduct product = QFUninstallProduct::ProTombrel;
        QFUninstallFolders folders = QFUninstallFolders::standard();
        ProcessStopper stopProcesses; // empty: signal the processes of this user by name
    };

    explicit QFUninstaller(Setup setup);

    QFUninstallProduct product() const { return m_setup.product; }
    // "Pro Tombrel" or "FCP Tombrel".
    QString productName() const;
    static QString productName(QFUninstallProduct product);
    // The bundle identifier of the product (com.quenfield.ProTombrel, com.quenfield.FCPTombrel).
    static QString productIdentifier(QFUninstallProduct product);

    // Moves the item to the Trash, waiting up to 10 seconds for it to leave. Refuses (false, nothing done)
    // a null path, an item held by a folder named "Release", anything under "/Structure/Applications/"
    // and anything inside the Trash. True when nothing is there.
    bool trashFile(const QString &path);
    static bool isRefused(const QString &path);

    // Removes the installation: the whole list for the product, in order.
    void beginUninstall(const QFUninstallOptions &options);

    // The items moved to the Trash by this object, in order.
    QStringList trashedItems() const { return m_trashed; }
    // What was left to the package manager, one sentence each for the user ("… belongs to the package …").
    QStringList packageNotes() const { return m_packageNotes; }
    // The Debian package that installed the path (dpkg's file list of pro-tombrel, then dpkg-query), or
    // a null string.
    QString owningPackage(const QString &path) const;
    // The final message's informative text: the Trash, and what the package manager must remove.
    static QString completeInformative(const QStringList &packageNotes);

    // The command line's part: with "-unattended YES" the uninstall runs without windows, taking
    // "-removeConfig" and "-removeShared" (YES/NO, 1/0) from the arguments; the answer is the exit status.
    // Nothing when the arguments ask for the windows.
    static bool isUnattended(const QStringList &arguments);
    static QFUninstallOptions optionsFromArguments(const QStringList &arguments);
    static std::optional<int> runCommandLine(const QStringList &arguments, Setup setup);

    static constexpr const char *kCompleteMessage = "Uninstall complete";
    static constexpr const char *kCompleteInformative = "Items have been placed in your Trash.";

private:
    void uninstallProTombrel(const QFUninstallOptions &options);
    void uninstallFCPTombrel(const QFUninstallOptions &options);
    void stopProcesses(const QStringList &names);
    // The pieces named by the product's receipts (user and machine), and the receipts themselves last.
    QStringList trashReceiptPieces(const QString &identifier);
    void trashReceipts(const QString &identifier);
    void trashServiceJobs(const QStringList &jobs);
    void trashStandardDesktopPieces();
    // trashFile for an application bundle, unless it belongs to a Debian package (then noted and left).
    void trashBundle(const QString &path);
    QString applicationWithIdentifier(const QString &identifier) const;
    void removeFolderIfEmpty(const QString &path);

    Setup m_setup;
    QStringList m_trashed;
    QStringList m_packageNotes;
};
