#include "cli/TombrelCommand.h"

#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/QFBugReporter.h"
#include "foundation/platform/QFPropertyList.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

const char kUsage[] = "usage: tombrel COMMAND [options] [arguments]\n"
                      "\n"
                      "commands:\n"
                      "  paths [--json]     the folders in use: storage root, preference file, caches, logs\n"
                      "\n"
                      "options:\n"
                      "  --help             this text; COMMAND --help for one command\n"
                      "  --version          the version of tombrel\n";

const char kPathsUsage[] = "usage: tombrel paths [--json]\n"
                           "Prints the folders in use: storage root, preference file, caches, logs.\n";

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

TombrelCommand::TombrelCommand(QTextStream &out, QTextStream &err)
    : m_out(out)
    , m_err(err)
{
}

QString TombrelCommand::version()
{
    return QStringLiteral(QF_VERSION);
}

int TombrelCommand::usageError(const QString &message)
{
    m_err << "tombrel: " << message << "\n";
    m_err.flush();
    return 2;
}

int TombrelCommand::fail(const QString &message)
{
    m_err << "tombrel: " << message << "\n";
    m_err.flush();
    return 1;
}

void TombrelCommand::printHelp()
{
    m_out << kUsage;
    m_out.flush();
}

int TombrelCommand::run(const QStringList &arguments)
{
    if (arguments.isEmpty())
        return usageError(QStringLiteral("no command given; see tombrel --help"));
    const QString command = arguments.first();
    const QStringList rest = arguments.mid(1);
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        printHelp();
        return 0;
    }
    if (command == QLatin1String("--version")) {
        m_out << "tombrel " << version() << "\n";
        m_out.flush();
        return 0;
    }
    if (command == QLatin1String("paths"))
        return commandPaths(rest);
    return usageError(QStringLiteral("unknown command '%1'; see tombrel --help").arg(command));
}

int TombrelCommand::commandPaths(const QStringList &arguments)
{
    bool json = false;
    for (const QString &arg : arguments) {
        if (arg == QLatin1String("--help")) {
            m_out << kPathsUsage;
            m_out.flush();
            return 0;
        }
        if (arg == QLatin1String("--json"))
            json = true;
        else
            return usageError(QStringLiteral("paths: unexpected argument '%1'").arg(arg));
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
        m_out << QJsonDocument(object).toJson(QJsonDocument::Indented);
    } else {
        for (const auto &row : rows)
            m_out << QStringLiteral("%1  %2\n").arg(row.first + u':', -16).arg(row.second);
    }
    m_out.flush();
    return 0;
}
