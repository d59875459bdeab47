#include "tests/tools/UninstallerTestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace uninstalltest {

QFUninstallFolders foldersIn(const QFTempHome &home)
{
    QFUninstallFolders folders = QFUninstallFolders::standard();
    const QString machine = home.file(QStringLiteral("machine"));
    folders.localApplications = machine + QStringLiteral("/opt");
    folders.localAppSupport = machine + QStringLiteral("/usr/local/share");
    folders.localLibrary = machine + QStringLiteral("/usr/local/share");
    folders.localPrefs = machine + QStringLiteral("/etc/xdg");
    folders.localBin = machine + QStringLiteral("/usr/local/bin");
    folders.packageDatabase = machine + QStringLiteral("/var/lib/dpkg");
    return folders;
}

QString makeBundle(const QString &path, const QString &identifier)
{
    QDir().mkpath(path + QStringLiteral("/Contents/MacOS"));
    QFile plist(path + QStringLiteral("/Contents/Info.plist"));
    if (plist.open(QIODevice::WriteOnly)) {
        plist.write(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                                   "<key>CFBundleIdentifier</key><string>%1</string></dict></plist>\n")
                        .arg(identifier)
                        .toUtf8());
    }
    QFile executable(path + QStringLiteral("/Contents/MacOS/") + QFileInfo(path).completeBaseName());
    if (executable.open(QIODevice::WriteOnly))
        executable.write("#!/bin/sh\n");
    return path;
}

bool exists(const QString &path)
{
    return QFileInfo(path).exists() || QFileInfo(path).isSymLink();
}

QStringList treeBelow(const QString &folder)
{
    QStringList out;
    QDirIterator it(
        folder, QDir::Files | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(folder).relativeFilePath(it.next());
    out.sort();
    return out;
}

QFUninstaller::ProcessStopper StopRecorder::stopper()
{
    return [this](const QStringList &names) {
        std::lock_guard lock(mutex);
        this->names << names;
    };
}

QStringList StopRecorder::recorded()
{
    std::lock_guard lock(mutex);
    return names;
}

} // namespace uninstalltest
