#pragma once

// The receipt an installation leaves behind, so that the uninstaller finds every piece it laid out,
// wherever it put them. The installer writes one receipt per product and domain:
//
//   user installation:    <Application Support of the user>/Quenfield/Receipts/<identifier>.plist
//                         (~/.local/share/Quenfield/Receipts/com.quenfield.ProTombrel.plist)
//   machine installation: <Application Support of the machine>/Quenfield/Receipts/<identifier>.plist
//                         (/usr/local/share/Quenfield/Receipts/com.quenfield.ProTombrel.plist)
//
// The file is an XML property list holding one dictionary; every path is absolute, and a piece that was
// not installed is left out:
//
//   CFBundleIdentifier          string  the product's bundle identifier (com.quenfield.ProTombrel)
//   CFBundleShortVersionString  string  the version installed
//   QFBundlePath                string  the bundle ("/opt/Quenfield/Pro Tombrel.app")
//   QFDesktopEntry              string  its desktop entry (".../applications/pro-tombrel.desktop")
//   QFIconPath                  string  its icon (".../icons/hicolor/scalable/apps/pro-tombrel.svg")
//   QFCommandLink               string  the symbolic link "tombrel" on the PATH ("~/.local/bin/tombrel")
//
// Write it with write() once everything is in place; read() answers nothing for a missing or unreadable
// file, and a receipt without an identifier is not one.

#include <QString>
#include <QVariantMap>

#include <optional>

struct QFInstallReceipt {
    QString identifier;
    QString version;
    QString bundlePath;
    QString desktopEntry;
    QString iconPath;
    QString commandLink;

    // Where the receipt of a product lies in the user's (true) or the machine's (false) folders.
    static QString path(const QString &identifier, bool userDomain);
    // The same inside a given Application Support folder.
    static QString pathInFolder(const QString &appSupport, const QString &identifier);

    static std::optional<QFInstallReceipt> read(const QString &file);
    bool write(const QString &file, QString *error = nullptr) const;

    QVariantMap toDictionary() const;
    static std::optional<QFInstallReceipt> fromDictionary(const QVariantMap &dictionary);
};
