// tombrel sync link|unlink|status|projects|list|push|restore: sync to Dropbox or an rclone remote from a
// terminal, through the same engine object the application uses (the account link, the uploads as archives,
// the listing, the swap of a downloaded copy). projects lists what a store holds, read from the projects'
// descriptions there, so a machine that never saw them can restore one to a path of its choosing.

#include "cli/CommandSupport.h"
#include "cli/ProjectLookup.h"
#include "cli/TombrelCommand.h"

#include "engine/QFDropboxRestore.h"
#include "engine/QFDropboxSync.h"
#include "engine/QFProject.h"
#include "engine/QFProjectActions.h"
#include "engine/QFRcloneClient.h"
#include "engine/QFRemoteProjects.h"
#include "engine/QFTransferFolder.h"
#include "foundation/QFFileManager.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/platform/QFFormat.h"

#include <QEventLoop>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <cstdio>

namespace {

// Runs the event loop until finish() is called.
class Wait final {
public:
    void finish()
    {
        m_finished = true;
        m_loop.quit();
    }
    // An answer given at once (before run) needs no loop.
    void run()
    {
        if (!m_finished)
            m_loop.exec();
    }

private:
    QEventLoop m_loop;
    bool m_finished = false;
};

bool requireSync(CommandContext &context, const QString &command)
{
    QString why;
    if (!QFDropboxSync::isReady(&why)) {
        context.fail(QStringLiteral("sync %1: %2").arg(command, why));
        return false;
    }
    return true;
}

// "Dropbox" or "the remote NAME:path", for lines about the store.
QString store()
{
    return QFDropboxSync::service() == QFDropboxSync::Service::Rclone
        ? QStringLiteral("the remote ") + QFDropboxSync::syncRemote()
        : QStringLiteral("Dropbox");
}

int link(CommandContext &context, const CommandArguments &args)
{
    QFDropboxAccount *account = QFDropboxSync::shared()->account();
    QString error;
    QString code = args.values.value(QStringLiteral("--code")).trimmed();
    if (code.isEmpty()) {
        const QString address = account->beginLink(&error);
        if (address.isEmpty())
            return context.fail(QStringLiteral("sync link: %1").arg(error));
        context.out << "Open this address in a web browser, allow access, and paste the code Dropbox shows:\n\n  "
                    << address << "\n\nCode: ";
        context.out.flush();
        QTextStream in(stdin);
        code = in.readLine().trimmed();
        if (code.isEmpty()) {
            context.out << "\nWhen Dropbox shows the code, finish with: tombrel sync link --code CODE\n";
            context.out.flush();
            return 0;
        }
    }
    bool linked = false;
    Wait wait;
    account->finishLink(code, [&](bool ok, const QString &reason) {
        linked = ok;
        error = reason;
        wait.finish();
    });
    wait.run();
    if (!linked)
        return context.fail(QStringLiteral("sync link: Dropbox did not accept the code: %1").arg(error));
    context.out << "Linked to Dropbox. The link is kept in "
                << (QFDropboxAccount::tokenStorage() == QLatin1String("Secret Service")
                           ? QStringLiteral("the Secret Service")
                           : QFDropboxAccount::tokenStorage())
                << ".\n";
    context.out.flush();
    notifyHelperOfChange(context);
    return 0;
}

int unlink(CommandContext &context)
{
    if (!QFDropboxAccount::isLinked()) {
        context.out << "No Dropbox account is linked.\n";
        context.out.flush();
        return 0;
    }
    Wait wait;
    QFDropboxSync::shared()->account()->unlink([&] { wait.finish(); });
    wait.run();
    QFDropboxSync::shared()->removeRestClient();
    context.out << "Unlinked from Dropbox.\n";
    context.out.flush();
    notifyHelperOfChange(context);
    return 0;
}

int status(CommandContext &context)
{
    if (QFDropboxSync::service() == QFDropboxSync::Service::Rclone) {
        const QString remote = QFDropboxSync::syncRemote();
        context.out << "Sync: to the rclone remote "
                    << (remote.isEmpty() ? QStringLiteral("(none chosen: set syncRemote)") : remote) << "\n";
        context.out.flush();
        return 0;
    }
    context.out << "Dropbox sync: " << (QFDropboxSync::isSyncOn() ? "on" : "off") << "\n";
    if (QFDropboxAccount::isLinked())
        context.out << "Account: linked (kept in " << QFDropboxAccount::tokenStorage() << ")\n";
    else
        context.out << "Account: not linked\n";
    context.out.flush();
    return 0;
}

struct Listing {
    bool ok = false;
    bool missing = false;
    QString error;
    QStringList names;
    QStringList remoteNames;
    QVariantList sizes;
    QVariantList dates;
};

// The project's remote folder; a folder that does not exist yet lists as empty.
Listing listRemote(const QString &projectID)
{
    Listing listing;
    QFDropboxSync *sync = QFDropboxSync::shared();
    Wait wait;
    QObject context;
    QObject::connect(sync, &QFDropboxSync::syncedFiles, &context, [&](const QVariantMap &info) {
        listing.ok = true;
        listing.names = info.value(QStringLiteral("filenames")).toStringList();
        listing.remoteNames = info.value(QStringLiteral("remoteNames")).toStringList();
        listing.sizes = info.value(QStringLiteral("sizes")).toList();
        listing.dates = info.value(QStringLiteral("dates")).toList();
        wait.finish();
    });
    QObject::connect(sync, &QFDropboxSync::metadataError, &context, [&](const QVariantMap &info) {
        listing.error = info.value(QStringLiteral("error")).toString();
        listing.missing = listing.error.contains(QStringLiteral("not_found"));
        listing.ok = listing.missing;
        wait.finish();
    });
    sync->loadSyncedFileList(projectID);
    wait.run();
    return listing;
}

std::optional<QString> storedProjectID(const QString &name, QString localError, QString *error);

int list(CommandContext &context, const CommandArguments &args)
{
    if (args.positional.size() != 1)
        return context.usageError(QStringLiteral("sync list: give a project; see tombrel sync --help"));
    if (!requireSync(context, QStringLiteral("list")))
        return 1;
    QString error;
    // A project of this machine's, else one of the store's (on a machine that is to restore it).
    const auto project = findProject(args.positional.first(), &error);
    const auto projectID = project ? std::optional<QString>(project->projectID)
                                   : storedProjectID(args.positional.first(), error, &error);
    if (!projectID)
        return context.fail(QStringLiteral("sync list: %1").arg(error));
    const Listing listing = listRemote(*projectID);
    if (!listing.ok)
        return context.fail(QStringLiteral("sync list: %1").arg(QFDropboxSync::printableName(listing.error)));
    if (args.has(QStringLiteral("--json"))) {
        // The names as Dropbox holds them; JSON escapes whatever needs it.
        QJsonArray copies;
        for (int i = 0; i < listing.names.size(); ++i) {
            copies.append(QJsonObject { { QStringLiteral("file"), listing.names.at(i) },
                { QStringLiteral("size"), listing.sizes.value(i).toLongLong() },
                { QStringLiteral("date"), listing.dates.value(i).toDateTime().toUTC().toString(Qt::ISODate) } });
        }
        context.out << QJsonDocument(copies).toJson(QJsonDocument::Indented);
        context.out.flush();
        return 0;
    }
    if (listing.names.isEmpty()) {
        context.out << "no copies in " << store() << "\n";
        context.out.flush();
        return 0;
    }
    // A long name pushes the columns of its own row only.
    constexpr qsizetype kWidest = 60;
    QStringList shown;
    qsizetype width = 7;
    for (const QString &name : listing.names) {
        shown << QFDropboxSync::printableName(name);
        width = std::max(width, std::min(shown.last().size(), kWidest));
    }
    context.out << QStringLiteral("VERSION").leftJustified(width) << "  " << QStringLiteral("SIZE").rightJustified(10)
                << "  MODIFIED\n";
    for (int i = 0; i < shown.size(); ++i) {
        context.out << shown.at(i).leftJustified(width) << "  "
                    << QFFileManager::formatFileSize(listing.sizes.value(i).toDouble()).rightJustified(10) << "  "
                    << listing.dates.value(i).toDateTime().toLocalTime().toString(Qt::ISODate) << "\n";
    }
    context.out.flush();
    return 0;
}

int push(CommandContext &context, const CommandArguments &args)
{
    if (args.positional.isEmpty() || args.positional.size() > 2)
        return context.usageError(
            QStringLiteral("sync push: give a project and at most one version; see tombrel sync --help"));
    if (!requireSync(context, QStringLiteral("push")))
        return 1;
    QString error;
    const auto project = findProject(args.positional.first(), &error);
    if (!project)
        return context.fail(QStringLiteral("sync push: %1").arg(error));
    const QString versions = versionsFolderOf(*project);
    QStringList files;
    if (args.positional.size() == 2) {
        const auto version = QFProjectActions::findVersion(versions, args.positional.at(1), &error);
        if (!version)
            return context.fail(QStringLiteral("sync push: %1").arg(error));
        files << *version;
    } else {
        // Every version the listing does not show yet: one made while offline is not left behind.
        const Listing listing = listRemote(project->projectID);
        if (!listing.ok)
            return context.fail(QStringLiteral("sync push: %1").arg(listing.error));
        files << QFProjectActions::versionsMissingRemotely(versions, listing.names);
    }
    if (files.isEmpty()) {
        context.out << "Every version is in " << store() << " already.\n";
        context.out.flush();
        return 0;
    }

    QFDropboxSync *sync = QFDropboxSync::shared();
    QFSyncClient *client = sync->syncClient();
    if (!client) {
        QFDropboxSync::isReady(&error);
        return context.fail(QStringLiteral("sync push: %1").arg(error));
    }
    int sent = 0;
    for (const QString &file : std::as_const(files)) {
        const QString name = QFileInfo(file).fileName();
        Wait wait;
        QObject observer;
        bool failed = false;
        QFDropboxError failure;
        int shown = -1;
        const auto endLine = [&] {
            if (shown >= 0)
                context.err << "\n";
            shown = -1;
        };
        QObject::connect(sync, &QFDropboxSync::uploadProgress, &observer, [&](const QVariantMap &info) {
            const int percent = int(qBound(0.0, info.value(QStringLiteral("progress")).toDouble(), 1.0) * 100);
            if (percent != shown) {
                shown = percent;
                context.err << "\rUploading " << name << ": " << percent << "%";
                context.err.flush();
            }
        });
        QObject::connect(client, &QFSyncClient::waitingToRetry, &observer, [&](int seconds, const QString &) {
            endLine();
            if (QFDropboxSync::service() == QFDropboxSync::Service::Rclone)
                context.err << "The upload failed; it is tried again in " << seconds << " seconds.\n";
            else
                context.err << "Dropbox asks to wait " << seconds << " seconds before trying again.\n";
            context.err.flush();
        });
        QObject::connect(client, &QFSyncClient::uploadFileFailed, &observer, [&](const QFDropboxError &error) {
            // The project's description goes up beside the version; its failure is not the version's.
            if (QFDropboxSync::isVersionUpload(error))
                failure = error;
        });
        QObject::connect(sync, &QFDropboxSync::syncComplete, &observer, [&](const QVariantMap &) { wait.finish(); });
        QObject::connect(sync, &QFDropboxSync::syncFailed, &observer, [&](const QVariantMap &info) {
            failed = true;
            if (failure.isNull())
                failure = QFDropboxError::http(
                    info.value(QStringLiteral("errorCode")).toInt(), info.value(QStringLiteral("error")).toString());
            wait.finish();
        });
        sync->uploadVersion(file);
        wait.run();
        endLine();
        if (failed) {
            // The versions after it would meet the same refusal: the push ends here.
            const QString lead = QFDropboxSync::leadTextForError(failure);
            const qsizetype left = files.size() - sent - 1;
            context.err << "tombrel: sync push: " << name << ": " << (lead.isEmpty() ? QString() : lead + u' ')
                        << failure.description;
            if (left > 0)
                context.err << " (" << left << (left == 1 ? " more version was" : " more versions were")
                            << " not sent)";
            context.err << "\n";
            context.out.flush();
            context.err.flush();
            return 1;
        }
        ++sent;
        const QString remotePath = QFDropboxSync::remotePathForVersion(file);
        const auto *rclone = qobject_cast<QFRcloneClient *>(client);
        context.out << "Uploaded " << name << " to " << (rclone ? rclone->location(remotePath) : remotePath) << "\n";
        context.out.flush();
        context.err.flush();
    }
    return 0;
}

// The projects of the store, or nothing (with the reason).
std::optional<QList<QFRemoteProject>> remoteProjects(QString *error)
{
    QObject owner;
    QFSyncClient *client = QFDropboxSync::shared()->newClient(&owner, error);
    if (!client)
        return std::nullopt;
    QFRemoteProjectList list(client);
    std::optional<QList<QFRemoteProject>> projects;
    Wait wait;
    QObject::connect(&list, &QFRemoteProjectList::loaded, &owner, [&](const QList<QFRemoteProject> &found) {
        projects = found;
        wait.finish();
    });
    QObject::connect(&list, &QFRemoteProjectList::failed, &owner, [&](const QFDropboxError &failure) {
        *error = QFDropboxSync::messageForError(failure).replace(QStringLiteral("\n\n"), QStringLiteral(" "));
        wait.finish();
    });
    list.load();
    wait.run();
    return projects;
}

int projects(CommandContext &context, const CommandArguments &args)
{
    if (!args.positional.isEmpty())
        return context.usageError(QStringLiteral("sync projects: takes no operands; see tombrel sync --help"));
    if (!requireSync(context, QStringLiteral("projects")))
        return 1;
    QString error;
    const auto found = remoteProjects(&error);
    if (!found)
        return context.fail(QStringLiteral("sync projects: %1").arg(QFDropboxSync::printableName(error)));
    if (args.has(QStringLiteral("--json"))) {
        QJsonArray list;
        for (const QFRemoteProject &project : *found) {
            list.append(QJsonObject { { QStringLiteral("projectID"), project.projectID },
                { QStringLiteral("name"), project.name }, { QStringLiteral("path"), project.path } });
        }
        context.out << QJsonDocument(list).toJson(QJsonDocument::Indented);
        context.out.flush();
        return 0;
    }
    if (found->isEmpty()) {
        context.out << "no projects in " << store() << "\n";
        context.out.flush();
        return 0;
    }
    qsizetype width = 4;
    for (const QFRemoteProject &project : *found)
        width = std::max(width, std::min<qsizetype>(QFDropboxSync::printableName(project.name).size(), 40));
    context.out << QStringLiteral("NAME").leftJustified(width) << "  " << QStringLiteral("ID").leftJustified(36)
                << "  PATH\n";
    for (const QFRemoteProject &project : *found) {
        const QString name = project.name.isEmpty() ? QStringLiteral("-") : QFDropboxSync::printableName(project.name);
        context.out << name.leftJustified(width) << "  "
                    << QFDropboxSync::printableName(project.projectID).leftJustified(36) << "  "
                    << (project.path.isEmpty() ? QStringLiteral("-") : QFDropboxSync::printableName(project.path))
                    << "\n";
    }
    context.out.flush();
    return 0;
}

// The identifier of a project of the store that is no project here, by its identifier or its name as sync
// projects shows them; localError is why it is no project here.
std::optional<QString> storedProjectID(const QString &name, QString localError, QString *error)
{
    const auto found = remoteProjects(error);
    if (!found)
        return std::nullopt;
    QList<QFRemoteProject> matches;
    for (const QFRemoteProject &project : *found) {
        if (project.projectID == name)
            return project.projectID;
        if (!project.name.isEmpty() && project.name.compare(name, Qt::CaseInsensitive) == 0)
            matches.append(project);
    }
    if (matches.isEmpty()) {
        *error = QStringLiteral("%1, and %2 holds no project of that name or identifier (see tombrel sync projects)")
                     .arg(localError, store());
        return std::nullopt;
    }
    if (matches.size() > 1) {
        *error = QStringLiteral("%1 holds %2 projects named %3; give its identifier (see tombrel sync projects)")
                     .arg(store())
                     .arg(matches.size())
                     .arg(QFDropboxSync::printableName(name));
        return std::nullopt;
    }
    return matches.first().projectID;
}

// What a restore takes from and writes to: a project of this machine's, or with a path to write to one the
// store holds.
struct RestoreSource {
    QString projectID;
    QString target;
};

std::optional<RestoreSource> restoreSource(const QString &name, const QString &to, QString *error)
{
    const auto local = findProject(name, error);
    if (local)
        return RestoreSource { local->projectID, to.isEmpty() ? QFLocalPaths::expandTilde(local->path) : to };
    if (to.isEmpty())
        return std::nullopt;
    const auto stored = storedProjectID(name, *error, error);
    if (!stored)
        return std::nullopt;
    return RestoreSource { *stored, to };
}

int restore(CommandContext &context, const CommandArguments &args)
{
    if (args.positional.size() != 2)
        return context.usageError(
            QStringLiteral("sync restore: give a project and a file as sync list shows it; see tombrel sync --help"));
    if (!requireSync(context, QStringLiteral("restore")))
        return 1;
    QString error;
    QString to = args.values.value(QStringLiteral("--to"));
    if (args.values.contains(QStringLiteral("--to"))) {
        if (to.trimmed().isEmpty())
            return context.usageError(QStringLiteral("sync restore: --to takes the path of the file to write"));
        to = QFileInfo(QFLocalPaths::expandTilde(to)).absoluteFilePath();
        if (QFileInfo(to).isDir())
            return context.fail(
                QStringLiteral("sync restore: %1 is a folder; give the path of the file to write").arg(to));
        if (!QFileInfo(QFileInfo(to).absolutePath()).isDir())
            return context.fail(QStringLiteral("sync restore: there is no folder %1 to restore into")
                                    .arg(QFileInfo(to).absolutePath()));
    }
    const auto source = restoreSource(args.positional.at(0), to, &error);
    if (!source)
        return context.fail(QStringLiteral("sync restore: %1").arg(error));
    const QString projectID = source->projectID;
    // The name is checked before anything is asked of the store or made on disk from it.
    const QString file = args.positional.at(1);
    if (!QFDropboxSync::remotePathInProject(projectID, file, &error))
        return context.fail(QStringLiteral("sync restore: %1").arg(error));

    // The listing says which file holds the version (an archive, or the version itself) and how large it is.
    const Listing listing = listRemote(projectID);
    if (!listing.ok)
        return context.fail(QStringLiteral("sync restore: %1").arg(QFDropboxSync::printableName(listing.error)));
    const qsizetype index = listing.names.indexOf(file);
    if (index < 0) {
        return context.fail(
            QStringLiteral("sync restore: %1 could not be downloaded: %2 holds no such copy (see tombrel sync list)")
                .arg(qfFormat("/%@/%@", projectID, file), store()));
    }
    const QString remoteName = listing.remoteNames.value(index);
    const std::optional<QString> remote = QFDropboxSync::remotePathInProject(projectID, remoteName, &error);
    if (!remote)
        return context.fail(QStringLiteral("sync restore: %1").arg(error));
    const qint64 listedSize = listing.sizes.value(index, -1).toLongLong();

    QFDropboxSync *sync = QFDropboxSync::shared();
    if (!sync->syncClient()) {
        QFDropboxSync::isReady(&error);
        return context.fail(QStringLiteral("sync restore: %1").arg(error));
    }
    // The download and what it unpacks to stay in a folder of this run's own, gone when it ends.
    const QFTransferFolder folder;
    if (!folder.isValid())
        return context.fail(
            QStringLiteral("sync restore: no folder for the download in %1").arg(QFLocalPaths::tempDirectory()));
    const QString download = folder.filePath(QStringLiteral("download"));
    Wait wait;
    QObject observer;
    bool downloaded = false;
    QObject::connect(sync, &QFDropboxSync::fileDownloaded, &observer, [&](const QVariantMap &info) {
        if (info.value(QStringLiteral("filename")).toString() != download)
            return;
        downloaded = true;
        wait.finish();
    });
    QObject::connect(sync, &QFDropboxSync::fileDownloadFailed, &observer, [&](const QString &, const QString &reason) {
        error = reason;
        wait.finish();
    });
    sync->downloadFile(*remote, download);
    wait.run();
    if (!downloaded)
        return context.fail(QStringLiteral("sync restore: %1 could not be downloaded: %2")
                                .arg(*remote, QFDropboxSync::printableName(error)));

    const QString target = source->target;
    QString reason;
    const QFDropboxRestore::Result result
        = QFDropboxRestore::restoreCopy(download, remoteName, listedSize, target, &reason);
    if (result != QFDropboxRestore::Result::Restored) {
        return context.fail(
            QStringLiteral("sync restore: %1. %2%3")
                .arg(QFDropboxRestore::titleForResult(result), QFDropboxRestore::messageForResult(result),
                    reason.isEmpty() ? QString() : u' ' + reason + u'.'));
    }
    context.out << QFDropboxRestore::messageForResult(result) << "\n  " << *remote << "\n  -> " << target << "\n";
    context.out.flush();
    return 0;
}

} // namespace

int commandSync(CommandContext &context, const QStringList &arguments)
{
    const QString sub = arguments.value(0);
    const auto args = parseArguments(context, QStringLiteral("sync"), arguments.mid(1), { QStringLiteral("--json") },
        { QStringLiteral("--code"), QStringLiteral("--to") });
    if (!args)
        return 2;
    if (args->has(QStringLiteral("--json")) && sub != QLatin1String("list") && sub != QLatin1String("projects"))
        return context.usageError(QStringLiteral("sync %1: --json is for sync list and sync projects").arg(sub));
    if (args->values.contains(QStringLiteral("--to")) && sub != QLatin1String("restore"))
        return context.usageError(QStringLiteral("sync %1: --to is for sync restore").arg(sub));
    if (args->values.contains(QStringLiteral("--code")) && sub != QLatin1String("link"))
        return context.usageError(QStringLiteral("sync %1: --code is for sync link").arg(sub));
    if (sub == QLatin1String("link"))
        return link(context, *args);
    if (sub == QLatin1String("unlink"))
        return unlink(context);
    if (sub == QLatin1String("status"))
        return status(context);
    if (sub == QLatin1String("list"))
        return list(context, *args);
    if (sub == QLatin1String("push"))
        return push(context, *args);
    if (sub == QLatin1String("projects"))
        return projects(context, *args);
    if (sub == QLatin1String("restore"))
        return restore(context, *args);
    return context.usageError(sub.isEmpty()
            ? QStringLiteral("sync: give link, unlink, status, projects, list, push or restore")
            : QStringLiteral("sync: unknown command '%1'").arg(sub));
}
