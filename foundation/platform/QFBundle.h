#pragma once

// The application bundle the running program belongs to: the folder above "Contents" of the
// executable's real path (…/Pro Tombrel.app/Contents/MacOS/tombrel → …/Pro Tombrel.app), and the
// property list inside it. A program outside any bundle (a test binary) has no bundle and no
// identifier, unless a bundle is set for it.

#include <QString>
#include <QVariantMap>

class QFBundle final {
public:
    static QString executablePath();
    // The executable's file name without extension.
    static QString executableName();

    static QString mainBundlePath();
    static QVariantMap infoDictionary();
    static QString bundleIdentifier();
    static QVariant objectForInfoKey(const QString &key);

    // NAME.TYPE in the bundle's Contents/Resources when it exists, else a null string.
    static QString pathForResource(const QString &name, const QString &type);

    // The bundle containing a given executable or folder path, and any bundle's identifier.
    static QString bundlePathForExecutable(const QString &executable);
    static QVariantMap infoDictionaryOfBundle(const QString &bundlePath);
    static QString bundleIdentifierOfBundle(const QString &bundlePath);
    // An installed application with that identifier: the user's Applications before the machine's, at
    // most one folder deep; empty when there is none.
    static QString installedBundleWithIdentifier(const QString &identifier);

    // Seam: act as if the running program sat in this bundle (empty: use the real one).
    static void setMainBundlePath(const QString &bundlePath);
};
