#include "cli/TombrelCommand.h"

#include "foundation/QFBugReporter.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFPropertyList.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString preferenceFile()
{
    return QFLocalPaths::prefsDirectory(true) + QStringLiteral("/com.quenfield.ProTombrel.plist");
}

QString storageRoot()
{
    const auto prefs = QFPropertyList::readDictionary(preferenceFile());
    if (prefs) {
        const QVariant stored = prefs->value(QStringLiteral("storagePath"));
        if (stored.metaType().id() == QMetaType::QString && !stored.toString().isEmpty())
            return stored.toString();
    }
    return QFLocalPaths::appSupportDirectory(true) + QStringLiteral("/Quenfield/Pro Tombrel/Projects");
}

} // namespace

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
        { QStringLiteral("storage root"), storageRoot() },
        { QStringLiteral("preference file"), preferenceFile() },
        { QStringLiteral("caches"), QFLocalPaths::appSupportDirectory(true) + QStringLiteral("/Quenfield/Pro Tombrel/Caches") },
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
