#include "foundation/QFAppleEvents.h"

#include "foundation/QFException.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFBundle.h"
#include "foundation/platform/QFSystemLog.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QUrl>
#include <QUuid>

#include <atomic>

namespace {

Q_LOGGING_CATEGORY(lcBridge, "quenfield.foundation.editor", QtWarningMsg)

const QString kEditorIdentifier = QStringLiteral("com.apple.FinalCutPro");
const QString kBridgeObject = QStringLiteral("/");
const QString kBridgeInterface = QStringLiteral("com.quenfield.EditorBridge");
const QString kBridgeMethod = QStringLiteral("HandleEvent");
const QString kEditorEventClass = QStringLiteral("KeyG");
const QString kCoreEventClass = QStringLiteral("aevt");

std::atomic<int> s_replyTimeout { QFAppleEvents::kDefaultReplyTimeout };

template <typename T, typename Work> T guarded(const char *method, T fallback, Work &&work)
{
    T result = fallback;
    if (!QFException::guard(method, [&] { result = work(); }))
        return fallback;
    return result;
}

QVariant plainValue(const QVariant &value);

// Bus values arrive wrapped (variants, marshalled containers); the callers want plain Qt values.
QVariant fromArgument(const QDBusArgument &argument)
{
    switch (argument.currentType()) {
    case QDBusArgument::BasicType:
    case QDBusArgument::VariantType:
        return plainValue(argument.asVariant());
    case QDBusArgument::ArrayType: {
        if (argument.currentSignature() == QLatin1String("ay")) {
            QByteArray bytes;
            argument >> bytes;
            return bytes;
        }
        QVariantList list;
        argument.beginArray();
        while (!argument.atEnd())
            list << fromArgument(argument);
        argument.endArray();
        return list;
    }
    case QDBusArgument::StructureType: {
        QVariantList list;
        argument.beginStructure();
        while (!argument.atEnd())
            list << fromArgument(argument);
        argument.endStructure();
        return list;
    }
    case QDBusArgument::MapType: {
        QVariantMap map;
        argument.beginMap();
        while (!argument.atEnd()) {
            argument.beginMapEntry();
            const QVariant key = fromArgument(argument);
            const QVariant value = fromArgument(argument);
            argument.endMapEntry();
            map.insert(key.toString(), value);
        }
        argument.endMap();
        return map;
    }
    case QDBusArgument::MapEntryType:
    case QDBusArgument::UnknownType:
        break;
    }
    return {};
}

QVariant plainValue(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<QDBusVariant>())
        return plainValue(value.value<QDBusVariant>().variant());
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return fromArgument(value.value<QDBusArgument>());
    return value;
}

QString expandedPath(const QString &path)
{
    return path.isEmpty() ? QString() : QDir::cleanPath(QFLocalPaths::expandTilde(path));
}

// The editor is given the path only of a file that exists, as a file reference could only be made to one.
QString fileReference(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isAbsolute() || !info.exists())
        return {};
    return info.absoluteFilePath();
}

QByteArray fileURLBytes(const QString &path)
{
    return QUrl::toPercentEncoding(path, "/");
}

QDBusMessage bridgeCall(const QString &eventClass, const QString &eventID, const QVariantMap &params)
{
    QDBusMessage call
        = QDBusMessage::createMethodCall(kEditorIdentifier, kBridgeObject, kBridgeInterface, kBridgeMethod);
    call << eventClass << eventID << params;
    return call;
}

// Sends one event and waits for the reply parameters. Nothing when the editor could not be reached,
// answered with an error, or did not answer in time. mayStart lets a pending launch take the event.
std::optional<QVariantMap> sendEvent(const QString &eventID, const QVariantMap &params, bool mayStart)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCDebug(lcBridge) << "no session bus for" << eventID;
        return std::nullopt;
    }
    QDBusMessage call = bridgeCall(kEditorEventClass, eventID, params);
    call.setAutoStartService(mayStart);
    const QDBusMessage reply = bus.call(call, QDBus::Block, QFAppleEvents::replyTimeout());
    if (reply.type() != QDBusMessage::ReplyMessage)
        qCDebug(lcBridge) << eventID << "failed:" << reply.errorName() << reply.errorMessage();
    return QFAppleEvents::replyParameters(reply);
}

// Asks the editor to open a project, starting it by bus activation when it is not running. Like opening a
// document from the desktop, this does not wait: the editor's later answers show whether it worked.
void openWithEditor(const QString &path, bool activate)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QVariantMap params { { QStringLiteral("----"), path } };
    if (!activate)
        params.insert(QStringLiteral("actv"), false);
    QDBusMessage call = bridgeCall(kCoreEventClass, QStringLiteral("odoc"), params);
    call.setAutoStartService(true);
    if (!bus.send(call))
        qCDebug(lcBridge) << "could not ask the editor to open" << path;
}

bool isOpenInEditor(const std::optional<QStringList> &openProjects, const QString &path)
{
    if (!openProjects)
        return false;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    for (const QString &open : *openProjects) {
        const QString cleaned = QDir::cleanPath(open);
        if (cleaned == path || (!canonical.isEmpty() && QFileInfo(cleaned).canonicalFilePath() == canonical))
            return true;
    }
    return false;
}

enum class OpenStyle { CloseAfterwardsIfOpened, Background };

// The export requests share one road: launch when allowed, make sure the project is open, send, read xmlD.
std::optional<QByteArray> exportRequest(const QString &eventID, const QString &projectPath,
    const std::optional<QString> &itemID, bool launch, bool close, OpenStyle style)
{
    const QString path = expandedPath(projectPath);
    bool mayStart = false;
    if (!QFAppleEvents::isFCPRunning()) {
        if (!launch)
            return std::nullopt;
        openWithEditor(path, true);
        mayStart = true;
    }

    bool openedHere = false;
    if (!isOpenInEditor(QFAppleEvents::listOfOpenFCPProjects(), path)) {
        if (!launch) {
            if (style != OpenStyle::Background)
                QFLog::appendLog("Error: project is not open.");
            return std::nullopt;
        }
        openWithEditor(path, style != OpenStyle::Background);
        mayStart = true;
        openedHere = true;
    }

    // Without a project the editor would answer for whichever project is in front, so never send it bare.
    const QString reference = fileReference(path);
    if (reference.isNull()) {
        QFLog::appendLog("Error adding project file to AppleEvent query");
        return std::nullopt;
    }
    QVariantMap params { { QStringLiteral("fcpP"), reference } };
    if (itemID) {
        if (itemID->isEmpty()) {
            QFLog::appendLog("Error adding destination project file to AppleEvent query");
            return std::nullopt;
        }
        params.insert(QStringLiteral("fcIU"), *itemID);
    }

    const auto reply = sendEvent(eventID, params, mayStart);
    if (!reply) {
        QFLog::appendLog("Error sending AppleEvent");
        return std::nullopt;
    }
    auto data = QFAppleEvents::xmlFromReply(*reply);
    if (!data)
        return std::nullopt;
    if (data->isEmpty())
        QFLog::appendLog("Unable to communicate with Final Cut Pro. Please make sure it is running.");

    if (openedHere && close && style == OpenStyle::CloseAfterwardsIfOpened)
        QFAppleEvents::closeProject(path, true);
    return data;
}

QString asString(const std::optional<QByteArray> &data)
{
    if (!data)
        return {};
    return data->isEmpty() ? QStringLiteral("") : QString::fromUtf8(*data);
}

// The project parameters of save and close; nothing when the project cannot be named.
std::optional<QVariantMap> projectParameters(const QString &projectPath)
{
    const QString reference = fileReference(expandedPath(projectPath));
    if (reference.isNull()) {
        QFLog::appendLog("Error adding source project file to AppleEvent query");
        return std::nullopt;
    }
    return QVariantMap { { QStringLiteral("fcpP"), reference }, { QStringLiteral("fcpU"), fileURLBytes(reference) } };
}

QString editorBundlePath()
{
    if (const QString installed = QFBundle::installedBundleWithIdentifier(kEditorIdentifier); !installed.isEmpty())
        return installed;
    const QString local = QFLocalPaths::applicationDirectory(false);
    const QString studio = local + QStringLiteral("/Final Cut Studio/Final Cut Pro.app");
    if (QFileInfo::exists(studio))
        return studio;
    return local + QStringLiteral("/Final Cut Pro.app");
}

} // namespace

QString QFAppleEvents::editorBundleIdentifier()
{
    return kEditorIdentifier;
}

int QFAppleEvents::replyTimeout()
{
    return s_replyTimeout.load();
}

void QFAppleEvents::setReplyTimeout(int milliseconds)
{
    s_replyTimeout.store(milliseconds > 0 ? milliseconds : kDefaultReplyTimeout);
}

bool QFAppleEvents::isFCPRunning()
{
    return guarded("QFAppleEvents::isFCPRunning", false, [] {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected() || !bus.interface())
            return false;
        const QDBusReply<bool> registered = bus.interface()->isServiceRegistered(kEditorIdentifier);
        return registered.isValid() && registered.value();
    });
}

std::optional<QStringList> QFAppleEvents::listOfOpenFCPProjects()
{
    return guarded(
        "QFAppleEvents::listOfOpenFCPProjects", std::optional<QStringList>(), []() -> std::optional<QStringList> {
            if (!isFCPRunning()) {
                qfSystemLog(QStringLiteral("Error: Final Cut Pro is not running."));
                return std::nullopt;
            }
            const auto reply = sendEvent(QStringLiteral("fcLP"), {}, false);
            if (!reply)
                return QStringList();
            return openProjectsFromReply(*reply);
        });
}

std::optional<QByteArray> QFAppleEvents::getProjectXMLData(
    const QString &projectPath, bool launchFCP, bool closeProject)
{
    return guarded("QFAppleEvents::getProjectXMLData", std::optional<QByteArray>(), [&] {
        return exportRequest(QStringLiteral("eXML"), projectPath, std::nullopt, launchFCP, closeProject,
            OpenStyle::CloseAfterwardsIfOpened);
    });
}

QString QFAppleEvents::getProjectXML(const QString &projectPath, bool launchFCP, bool closeProject)
{
    return asString(getProjectXMLData(projectPath, launchFCP, closeProject));
}

std::optional<QByteArray> QFAppleEvents::getItemXMLData(
    const QString &itemID, const QString &projectPath, bool launchFCP, bool closeProject)
{
    return guarded("QFAppleEvents::getItemXMLData", std::optional<QByteArray>(), [&] {
        return exportRequest(
            QStringLiteral("gXML"), projectPath, itemID, launchFCP, closeProject, OpenStyle::CloseAfterwardsIfOpened);
    });
}

QString QFAppleEvents::getItemXML(const QString &itemID, const QString &projectPath, bool launchFCP, bool closeProject)
{
    return asString(getItemXMLData(itemID, projectPath, launchFCP, closeProject));
}

std::optional<QByteArray> QFAppleEvents::getTOCData(const QString &projectPath, bool launchFCP)
{
    return guarded("QFAppleEvents::getTOCData", std::optional<QByteArray>(), [&] {
        return exportRequest(
            QStringLiteral("eTCX"), projectPath, std::nullopt, launchFCP, false, OpenStyle::Background);
    });
}

QString QFAppleEvents::getTOC(const QString &projectPath, bool launchFCP)
{
    return asString(getTOCData(projectPath, launchFCP));
}

bool QFAppleEvents::saveProject(const QString &projectPath)
{
    return guarded("QFAppleEvents::saveProject", false, [&] {
        if (!isFCPRunning()) {
            QFLog::appendLog("Error: Final Cut Pro is not running.");
            return false;
        }
        auto params = projectParameters(projectPath);
        if (!params)
            return false;
        params->insert(QStringLiteral("fsOF"), true);
        if (!sendEvent(QStringLiteral("sfcP"), *params, false)) {
            QFLog::appendLog("Error sending AppleEvent");
            return false;
        }
        return true;
    });
}

bool QFAppleEvents::closeProject(const QString &projectPath, bool saveChanges)
{
    return guarded("QFAppleEvents::closeProject", false, [&] {
        if (!isFCPRunning()) {
            QFLog::appendLog("Error: Final Cut Pro is not running.");
            return false;
        }
        auto params = projectParameters(projectPath);
        if (!params)
            return false;
        params->insert(QStringLiteral("fcCF"), qint32(saveChanges ? 0 : 1));
        if (!sendEvent(QStringLiteral("cfcP"), *params, false)) {
            QFLog::appendLog("Error sending AppleEvent");
            return false;
        }
        return true;
    });
}

bool QFAppleEvents::isFinalCutInstalled()
{
    return guarded("QFAppleEvents::isFinalCutInstalled", false, [] {
        return !QFBundle::installedBundleWithIdentifier(QStringLiteral("com.apple.FinalCut")).isEmpty()
            || !QFBundle::installedBundleWithIdentifier(QStringLiteral("com.apple.FinalCutTrial")).isEmpty();
    });
}

QString QFAppleEvents::finalCutProVersionString()
{
    return guarded("QFAppleEvents::finalCutProVersionString", QStringLiteral("7.0"), [] {
        const QVariant version
            = QFBundle::infoDictionaryOfBundle(editorBundlePath()).value(QStringLiteral("CFBundleShortVersionString"));
        return version.metaType().id() == QMetaType::QString ? version.toString() : QStringLiteral("7.0");
    });
}

int QFAppleEvents::majorVersionFromString(const QString &version)
{
    if (version.isEmpty())
        return 7;
    // All leading digits count, so that a two-digit major version is not read as its first digit.
    qsizetype digits = 0;
    while (digits < version.size() && version.at(digits).isDigit() && version.at(digits).unicode() < 128)
        ++digits;
    return digits == 0 ? 0 : version.left(digits).toInt();
}

int QFAppleEvents::finalCutProMajorVersion()
{
    return majorVersionFromString(finalCutProVersionString());
}

std::optional<QVariantMap> QFAppleEvents::replyParameters(const QDBusMessage &reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage)
        return std::nullopt;
    if (reply.arguments().isEmpty())
        return QVariantMap();
    const QVariant result = plainValue(reply.arguments().constFirst());
    return result.metaType().id() == QMetaType::QVariantMap ? result.toMap() : QVariantMap();
}

std::optional<QByteArray> QFAppleEvents::xmlFromReply(const QVariantMap &reply)
{
    const auto xml = reply.constFind(QStringLiteral("xmlD"));
    if (xml == reply.constEnd()) {
        QFLog::appendLog("Error getting XML information");
        return std::nullopt;
    }
    QByteArray data;
    if (xml->metaType().id() == QMetaType::QByteArray)
        data = xml->toByteArray();
    else if (xml->metaType().id() == QMetaType::QString)
        data = xml->toString().toUtf8();
    else {
        QFLog::appendLog("Error retrieving XML data");
        return std::nullopt;
    }
    return formatData(data);
}

QStringList QFAppleEvents::openProjectsFromReply(const QVariantMap &reply)
{
    QStringList paths;
    for (const QVariant &item : reply.value(QStringLiteral("fcOP")).toList()) {
        const QVariant file = item.toMap().value(QStringLiteral("fcPf"));
        if (file.metaType().id() != QMetaType::QString || file.toString().isEmpty())
            break;
        paths << file.toString();
    }
    return paths;
}

QByteArray QFAppleEvents::formatData(const QByteArray &data)
{
    if (!data.isEmpty() && data.back() == '\0')
        return data.first(data.size() - 1);
    return data;
}

QString QFAppleEvents::generateUUID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}
