#include "cli/TombrelCommand.h"

#include "engine/QFProject.h"
#include "engine/QFTombrelBackup.h"
#include "foundation/QFBugReporter.h"
#include "foundation/QFLog.h"

#include <QJsonDocument>
#include <QJsonObject>

int commandPaths(CommandContext &context, const QStringList &arguments)
{
    bool json = false;
    for (const QString &arg : arguments) {
        if (arg == QLatin1String("--json"))
            json = true;
        else
            return context.usageError(QStringLiteral("paths: unexpected argument '%1'").arg(arg));
    }
    const QList<QPair<QString, QString>> rows = {
        { QStringLiteral("storage root"), QFProject::storageRoot() },
        { QStringLiteral("preference file"), QFProject::preferenceFilePath() },
        { QStringLiteral("caches"), QFTombrelBackup::cachesFolder() },
        { QStringLiteral("logs"), QFLog::sharedController()->logFolder() },
        { QStringLiteral("crash reports"), QFBugReporter::reportFolder() },
    };
    if (json) {
        QJsonObject object;
        for (const auto &row : rows)
            object.insert(QString(row.first).replace(u' ', u'_'), row.second);
        context.out << QJsonDocument(object).toJson(QJsonDocument::Indented);
    } else {
        for (const auto &row : rows)
            context.out << QStringLiteral("%1  %2\n").arg(row.first + u':', -16).arg(row.second);
    }
    context.out.flush();
    return 0;
}
