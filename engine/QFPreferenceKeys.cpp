#include "engine/QFPreferenceKeys.h"

#include "engine/QFDropboxAccount.h"
#include "engine/QFProject.h"
#include "engine/QFRcloneClient.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFPropertyList.h"
#include "foundation/QFLocalPaths.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace {

using Type = QFPreferenceKey::Type;
constexpr qint64 kNoMaximum = std::numeric_limits<qint64>::max();

QFPreferenceKey key(const char *name, Type type, QVariant registered, const char *meaning, qint64 minimum = 0,
    qint64 maximum = kNoMaximum)
{
    QFPreferenceKey k;
    k.name = QString::fromLatin1(name);
    k.type = type;
    k.registeredDefault = registered;
    k.meaning = QString::fromUtf8(meaning);
    if (type == Type::Switch) {
        k.minimum = 0;
        k.maximum = 1;
    } else if (type == Type::Integer) {
        k.minimum = minimum;
        k.maximum = maximum;
    }
    return k;
}

QVariant integer(qint64 value)
{
    return QVariant::fromValue(value);
}

} // namespace

QList<QFPreferenceKey> QFPreferenceKeys::table()
{
    // Made at each call: the default storage root follows the home folder.
    const QString storage = QFProject::defaultStorageRoot();
    const QList<QFPreferenceKey> keys = {
        key("storagePath", Type::Path, storage, "the storage root"),
        key("generateFCPXML", Type::Switch, integer(0),
            "keep XML copies of Final Cut Pro projects with their versions"),
        key("xmlLimit", Type::Integer, integer(5), "XML copies: 0 none, 1-7 gap and project-size limit", 0),
        key("currentDayCount", Type::Integer, integer(3), "versions within this many days of the newest are current", 0,
            36500),
        key("currentBackupLimitSet", Type::Switch, integer(0), "cap the number of current versions"),
        // A cap of 0 would remove the newest version too.
        key("currentBackupLimit", Type::Integer, integer(30), "that cap", 1),
        key("oldBackupLimitSet", Type::Switch, integer(1), "cap the number of older versions"),
        key("oldBackupLimit", Type::Integer, integer(30), "that cap, per project"),
        key("oldBackupType", Type::Integer, integer(0), "older versions grouped by 0 day, 1 week, 2 month", 0, 2),
        key("oldBackupCount", Type::Integer, integer(1), "versions each period keeps", 1),
        key("deleteBackupSet", Type::Switch, integer(1), "delete versions older than deleteBackupCount days"),
        key("deleteBackupCount", Type::Integer, integer(90), "that age in days", 0, 36500),
        key("deleteBackupType", Type::Integer, integer(0), "shown in the preference window only"),
        key("removalType", Type::Switch, integer(0),
            "retention: 1 deletes removed versions, 0 moves them to the Trash"),
        key("manageBackups", Type::Switch, integer(1), "apply the retention rules after backups"),
        key("keepAnnotatedVersions", Type::Switch, integer(0), "retention never removes a version that has a note"),
        key("backupManagementMinLimitSet", Type::Switch, integer(1), "leave small projects alone"),
        key("backupManagementMinLimit", Type::Integer, integer(25),
            "a project with at most this many versions is not pruned"),
        key("removeDuplicates", Type::Switch, integer(1), "drop a new version identical to the previous one"),
        key("backupMinIntervalEnabled", Type::Switch, integer(0), "enforce backupMinInterval"),
        key("backupMinInterval", Type::Integer, integer(15), "minutes between two backups of a project", 0, 525600),
        key("autosaveInterval", Type::Integer, integer(5), "minutes between autosaves of Final Cut Pro", 1, 525600),
        key("autosaveEnabled", Type::Switch, integer(0), "install the autosave agent"),
        key("takeScreenshots", Type::Switch, integer(1), "take a screenshot with every version"),
        key("SUCheckAtStartup", Type::Boolean, true, "check for software updates at start"),
        key("firstRun", Type::Boolean, true, "the first-run set-up is still to be done"),
        key("syncDeleteRemoteFiles", Type::Switch, integer(1), "removing versions also removes their synced copies"),
        key("showGrowlAlerts", Type::Switch, integer(1), "notifications of backups"),
        key("importFolderAction", Type::Switch, integer(0), "folder imports add only files of importFileTypes"),
        key("importFileTypes", Type::String, QStringLiteral("fcp,fcpproject,fcpevent,prproj,aep"),
            "comma-separated extensions for folder imports"),
        key("importSubdirs", Type::Switch, integer(1), "folder imports descend into subfolders"),
        key("watchFolders", Type::Array, {}, "folders watched for projects (tombrel watch)"),
        key("watchDriveFolders", Type::Array, {}, "folders watched on every drive (tombrel watch --drive)"),
        key("syncService", Type::Integer, {}, "copies of versions: 0 none, 1 Dropbox, 2 the rclone remote syncRemote",
            0, 2),
        key("syncRemote", Type::String, {},
            "the rclone remote versions are copied to (NAME:path, a remote of rclone config)"),
        key("dropboxAPIURL", Type::String, {}, "base address of the Dropbox API (absent: https://api.dropboxapi.com)"),
        key("dropboxContentURL", Type::String, {},
            "base address of Dropbox transfers (absent: https://content.dropboxapi.com)"),
        key("dropboxAuthorizeURL", Type::String, {},
            "page that links an account (absent: https://www.dropbox.com/oauth2/authorize)"),
        key("dropboxAppKey", Type::String, {}, "the Dropbox app key (absent: the one the program was built with)"),
        key("dropboxTimeout", Type::Integer, integer(60), "seconds a Dropbox request may go unanswered", 1, 3600),
        key("viewMode", Type::Integer, {}, "0 screenshot strip shown, above 0 collapsed"),
        key("lastProjectID", Type::String, {}, "identifier of the project selected last"),
        key("lastProject", Type::Path, {}, "project folder preselected for printing and deleting"),
        key("lastRestoredProject", Type::Path, {}, "project file of the last restore"),
        key("lastRestoreDate", Type::Date, {}, "time of the last restore"),
        key("lastSyncError", Type::Date, {}, "time of the last notified upload failure"),
        key("filterInPoints", Type::Switch, {}, "hide change lines of in points"),
        key("filterOutPoints", Type::Switch, {}, "hide change lines of out points"),
        key("filterMarkers", Type::Switch, {}, "hide change lines of markers"),
        key("filterFilters", Type::Switch, {}, "hide change lines of filters"),
        key("filterSequences", Type::Switch, {}, "hide change lines of sequences"),
        key("filterClips", Type::Switch, {}, "hide change lines of clips"),
        key("filterSubclips", Type::Switch, {}, "hide change lines of subclips"),
        key("filterFreezeFrames", Type::Switch, {}, "hide change lines of freeze frames"),
        key("filterBins", Type::Switch, {}, "hide change lines of bins"),
        key("filterMulticlips", Type::Switch, {}, "hide change lines of multiclips"),
    };
    return keys;
}

std::optional<QFPreferenceKey> QFPreferenceKeys::find(const QString &name)
{
    for (const QFPreferenceKey &k : table()) {
        if (k.name == name)
            return k;
    }
    return std::nullopt;
}

QVariant QFPreferenceKeys::registeredDefault(const QString &name)
{
    // The table without its one default that follows the home folder, made once: readers ask often.
    static const QHash<QString, QVariant> defaults = [] {
        QHash<QString, QVariant> byName;
        for (const QFPreferenceKey &k : table())
            byName.insert(k.name, k.registeredDefault);
        return byName;
    }();
    if (name == QLatin1String("storagePath"))
        return QFProject::defaultStorageRoot();
    const auto it = defaults.constFind(name);
    Q_ASSERT_X(it != defaults.cend(), "QFPreferenceKeys::registeredDefault",
        qPrintable(name + QStringLiteral(" is not in the key table")));
    return it != defaults.cend() ? *it : QVariant();
}

QString QFPreferenceKeys::typeName(QFPreferenceKey::Type type)
{
    switch (type) {
    case Type::Integer:
        return QStringLiteral("integer");
    case Type::Switch:
        return QStringLiteral("switch");
    case Type::Boolean:
        return QStringLiteral("boolean");
    case Type::String:
        return QStringLiteral("string");
    case Type::Path:
        return QStringLiteral("path");
    case Type::Date:
        return QStringLiteral("date");
    case Type::Array:
        return QStringLiteral("list");
    }
    return {};
}

std::optional<QVariant> QFPreferenceKeys::parse(const QFPreferenceKey &key, const QString &text, QString *error)
{
    const auto refuse = [&](const QString &reason) -> std::optional<QVariant> {
        if (error)
            *error = reason;
        return std::nullopt;
    };
    const QString value = text.trimmed();
    switch (key.type) {
    case Type::Integer:
    case Type::Switch: {
        bool ok = false;
        const qint64 number = value.toLongLong(&ok);
        if (!ok && key.type == Type::Switch)
            return refuse(QStringLiteral("%1 takes 0 (off) or 1 (on), not '%2'").arg(key.name, text));
        if (!ok)
            return refuse(QStringLiteral("%1 takes a whole number, not '%2'").arg(key.name, text));
        if (number < key.minimum || number > key.maximum) {
            if (key.type == Type::Switch)
                return refuse(QStringLiteral("%1 takes 0 (off) or 1 (on), not %2").arg(key.name).arg(number));
            if (key.maximum == kNoMaximum)
                return refuse(QStringLiteral("%1 takes a number of at least %2, not %3")
                                  .arg(key.name)
                                  .arg(key.minimum)
                                  .arg(number));
            return refuse(QStringLiteral("%1 takes a number from %2 to %3, not %4")
                              .arg(key.name)
                              .arg(key.minimum)
                              .arg(key.maximum)
                              .arg(number));
        }
        return QVariant::fromValue(number);
    }
    case Type::Boolean: {
        const QString lower = value.toLower();
        if (lower == QLatin1String("true") || lower == QLatin1String("yes") || lower == QLatin1String("1"))
            return QVariant(true);
        if (lower == QLatin1String("false") || lower == QLatin1String("no") || lower == QLatin1String("0"))
            return QVariant(false);
        return refuse(QStringLiteral("%1 takes true or false, not '%2'").arg(key.name, text));
    }
    case Type::String: {
        // The service's addresses carry the account's tokens.
        const bool address = key.name == QLatin1String("dropboxAPIURL")
            || key.name == QLatin1String("dropboxContentURL") || key.name == QLatin1String("dropboxAuthorizeURL");
        QString reason;
        if (address && !value.isEmpty() && !QFDropboxAccount::isAcceptableAddress(value, &reason))
            return refuse(QStringLiteral("%1: %2").arg(key.name, reason));
        if (key.name == QLatin1String("syncRemote") && !QFRcloneClient::isRemoteSpec(value, &reason))
            return refuse(QStringLiteral("%1: %2").arg(key.name, reason));
        if (key.name == QLatin1String("syncRemote"))
            return QVariant(value);
        return QVariant(text);
    }
    case Type::Path:
        if (value.isEmpty())
            return refuse(QStringLiteral("%1 takes a path, not an empty text").arg(key.name));
        return QVariant(QFLocalPaths::absolutePath(value));
    case Type::Date: {
        QDateTime date = QDateTime::fromString(value, Qt::ISODateWithMs);
        if (!date.isValid())
            date = QDateTime::fromString(value, Qt::ISODate);
        if (!date.isValid())
            return refuse(
                QStringLiteral("%1 takes a date in ISO 8601 (2014-03-07T12:00:00Z), not '%2'").arg(key.name, text));
        return QVariant(date.toUTC());
    }
    case Type::Array:
        return refuse(QStringLiteral("%1 is a list; change it with tombrel watch").arg(key.name));
    }
    return refuse(QStringLiteral("%1 cannot be set").arg(key.name));
}

bool QFPreferenceKeys::hasType(const QFPreferenceKey &key, const QVariant &value)
{
    const int id = value.metaType().id();
    switch (key.type) {
    case Type::Integer:
    case Type::Switch:
        return id == QMetaType::LongLong || id == QMetaType::Int || id == QMetaType::ULongLong || id == QMetaType::UInt
            || id == QMetaType::Bool;
    case Type::Boolean:
        return id == QMetaType::Bool || id == QMetaType::LongLong || id == QMetaType::Int;
    case Type::String:
    case Type::Path:
        return id == QMetaType::QString;
    case Type::Date:
        return id == QMetaType::QDateTime;
    case Type::Array:
        return id == QMetaType::QVariantList;
    }
    return false;
}

QString QFPreferenceKeys::format(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QMetaType::QDateTime:
        return value.toDateTime().toUTC().toString(Qt::ISODate);
    case QMetaType::QVariantList:
    case QMetaType::QVariantMap: {
        const QJsonValue json = toJson(value);
        const QJsonDocument document = json.isArray() ? QJsonDocument(json.toArray()) : QJsonDocument(json.toObject());
        return QString::fromUtf8(document.toJson(QJsonDocument::Compact));
    }
    case QMetaType::QByteArray:
        return QString::fromLatin1(value.toByteArray().toBase64());
    default:
        return value.toString();
    }
}

std::optional<QVariantMap> QFPreferenceKeys::readFile(QString *error)
{
    const QString path = QFProject::preferenceFilePath();
    if (!QFileInfo::exists(path))
        return QVariantMap();
    if (auto contents = QFPropertyList::readDictionary(path))
        return contents;
    if (error)
        *error = QStringLiteral("the preference file %1 cannot be read as a property list").arg(path);
    return std::nullopt;
}

bool QFPreferenceKeys::update(const QVariantMap &values, const QStringList &removals, QString *error)
{
    return modify(
        [&](QVariantMap &contents, QString *) {
            for (auto it = values.cbegin(); it != values.cend(); ++it)
                contents.insert(it.key(), it.value());
            for (const QString &key : removals)
                contents.remove(key);
            return true;
        },
        error);
}

bool QFPreferenceKeys::modify(const std::function<bool(QVariantMap &contents, QString *error)> &change, QString *error)
{
    const QString path = QFProject::preferenceFilePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    bool refused = false;
    QString reason;
    const bool done = QFPropertyList::updateDictionary(
        path,
        [&](QVariantMap &contents) {
            if (!change(contents, &reason)) {
                refused = true;
                return QFPropertyList::Change::Keep;
            }
            return QFPropertyList::Change::Write;
        },
        &reason);
    if (!done && !readFile(&reason))
        QFLog::appendLog("Unable to update the preference file %@: it cannot be read.", path);
    else if (!done)
        QFLog::appendLog("Unable to update the preference file %@: %@", path, reason);
    if ((!done || refused) && error)
        *error = reason;
    return done && !refused;
}

QJsonValue QFPreferenceKeys::toJson(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::QDateTime:
        return value.toDateTime().toUTC().toString(Qt::ISODate);
    case QMetaType::QByteArray:
        return QString::fromLatin1(value.toByteArray().toBase64());
    case QMetaType::QVariantList: {
        QJsonArray array;
        for (const QVariant &item : value.toList())
            array.append(toJson(item));
        return array;
    }
    case QMetaType::QVariantMap: {
        QJsonObject object;
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            object.insert(it.key(), toJson(it.value()));
        return object;
    }
    default:
        return QJsonValue::fromVariant(value);
    }
}
