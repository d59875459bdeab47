#include "engine/QFFolderWalk.h"

#include "foundation/QFLog.h"

#include <QDir>
#include <QFile>

#include <set>
#include <utility>

#include <sys/stat.h>

namespace {

const QStringList kPackageExtensions = { QStringLiteral("app"), QStringLiteral("bundle"), QStringLiteral("framework"),
    QStringLiteral("plugin"), QStringLiteral("fcpbundle"), QStringLiteral("logicx"), QStringLiteral("band"),
    QStringLiteral("rtfd"), QStringLiteral("sparsebundle") };

using Visited = std::set<std::pair<dev_t, ino_t>>;

// False when the walk was stopped.
bool walkFolder(
    const QString &folder, const QFFolderWalk::Options &options, const QFFolderWalk::Visitor &visit, Visited &visited)
{
    if (folder.isEmpty() || (options.skipFolder && options.skipFolder(folder)))
        return true;
    // Each folder once, however many links lead to it.
    struct stat st;
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0 || !visited.insert({ st.st_dev, st.st_ino }).second)
        return true;
    if (options.folderEntered)
        options.folderEntered(folder);
    const QStringList names
        = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
            options.nameOrder ? QDir::Name : QDir::Unsorted);
    bool going = true;
    for (const QString &name : names) {
        if (options.stopped && options.stopped()) {
            going = false;
            break;
        }
        if (!options.endMarker.isEmpty() && name == options.endMarker)
            break;
        const QString fullPath = QDir::cleanPath(folder + u'/' + name);
        const QFileInfo entry(fullPath);
        if (QFFolderWalk::entersFolder(entry)) {
            if (!options.subfolders)
                continue;
            // A linked folder is walked where it lies, so what it holds is known by its real paths.
            const QString target = entry.isSymLink() ? entry.canonicalFilePath() : fullPath;
            if (!walkFolder(target, options, visit, visited)) {
                going = false;
                break;
            }
            continue;
        }
        visit(folder, entry);
    }
    if (options.folderDone)
        options.folderDone(folder);
    return going;
}

} // namespace

bool QFFolderWalk::isPackage(const QFileInfo &info)
{
    return info.isDir() && kPackageExtensions.contains(info.suffix().toLower());
}

bool QFFolderWalk::isPackage(const QString &path)
{
    return isPackage(QFileInfo(path));
}

bool QFFolderWalk::entersFolder(const QFileInfo &entry)
{
    return entry.isDir() && (!isPackage(entry) || entry.suffix().toLower() == QLatin1String("fcpbundle"));
}

bool QFFolderWalk::isSkippedByWatchSearch(const QString &folder)
{
    const QString name = QFileInfo(folder).fileName();
    static const QStringList skipped = { QStringLiteral("Final Cut Projects - Hidden"),
        QStringLiteral("Final Cut Events - Hidden"), QStringLiteral("Final Cut Backups"),
        QStringLiteral("Final Cut Backups.localized"), QStringLiteral("Updated Projects") };
    return name.startsWith(u'.') || skipped.contains(name);
}

bool QFFolderWalk::isSkippedByImport(const QString &folder)
{
    static const QStringList skipped = { QStringLiteral("Backups"), QStringLiteral("Old Versions"), importEndMarker() };
    return skipped.contains(QFileInfo(folder).fileName());
}

QString QFFolderWalk::importEndMarker()
{
    return QStringLiteral(".fcpcache");
}

void QFFolderWalk::walk(const QString &folder, const Options &options, const Visitor &visit)
{
    Visited visited;
    walkFolder(folder, options, visit, visited);
}

QStringList QFFolderWalk::filesToImport(
    const QStringList &folders, bool onlyTypes, const QStringList &types, bool subfolders)
{
    Options options;
    options.skipFolder = isSkippedByImport;
    options.endMarker = importEndMarker();
    options.nameOrder = true;
    options.subfolders = subfolders;
    options.folderEntered
        = [](const QString &folder) { QFLog::appendLog("Adding projects from directory %@...", folder); };
    QStringList files;
    for (const QString &folder : folders) {
        walk(folder, options, [&](const QString &, const QFileInfo &entry) {
            if (!onlyTypes || types.contains(entry.suffix().toLower()))
                files << entry.absoluteFilePath();
        });
    }
    return files;
}
