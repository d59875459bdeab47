#include "engine/QFWatchFolderSettings.h"

#include "engine/QFPreferenceKeys.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFFormat.h"
#include "foundation/QFLocalPaths.h"

#include <QDir>
#include <QPair>

#include <algorithm>
#include <functional>
#include <QFileInfo>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

namespace {

const QString kFolder = QStringLiteral("folder");
const QString kExtensions = QStringLiteral("extensions");

QString folderOf(const QVariant &element)
{
    if (element.metaType().id() != QMetaType::QVariantMap)
        return {};
    const QVariant folder = element.toMap().value(kFolder);
    return folder.metaType().id() == QMetaType::QString ? folder.toString() : QString();
}

QString cleaned(const QString &path)
{
    return QDir::cleanPath(QFLocalPaths::expandTilde(path));
}

bool liesInside(const QString &path, const QString &parent)
{
    if (parent == QLatin1String("/"))
        return path.startsWith(u'/') && path != parent;
    return path.startsWith(parent + u'/');
}

// Positions in the stored list of the dictionaries a table shows, in order.
QList<qsizetype> dictionaryPositions(const QVariantList &stored)
{
    QList<qsizetype> positions;
    for (qsizetype i = 0; i < stored.size(); ++i) {
        if (stored.at(i).metaType().id() == QMetaType::QVariantMap)
            positions << i;
    }
    return positions;
}

// The stored position of the element a table shows at row: there while it still holds what the table
// shows, else wherever an equal element now lies (another program changed the list); -1 when gone.
qsizetype positionOfShown(const QVariantList &stored, int row, const QVariantMap &shown)
{
    const QList<qsizetype> positions = dictionaryPositions(stored);
    if (row >= 0 && row < positions.size() && stored.at(positions.at(row)).toMap() == shown)
        return positions.at(row);
    for (const qsizetype position : positions) {
        if (stored.at(position).toMap() == shown)
            return position;
    }
    return -1;
}

} // namespace

QString QFWatchFolderSettings::key(List list)
{
    return list == List::Folders ? QStringLiteral("watchFolders") : QStringLiteral("watchDriveFolders");
}

QList<QFWatchFolderSettings::Entry> QFWatchFolderSettings::entries(List list)
{
    const auto file = QFPreferenceKeys::readFile();
    return file ? entriesOf(*file, list) : QList<Entry>();
}

QList<QFWatchFolderSettings::Entry> QFWatchFolderSettings::entriesOf(const QVariantMap &preferences, List list)
{
    QList<Entry> out;
    const QVariant value = preferences.value(key(list));
    if (value.metaType().id() != QMetaType::QVariantList)
        return out;
    for (const QVariant &element : value.toList()) {
        const QString folder = folderOf(element);
        if (folder.isEmpty())
            continue;
        const QVariant extensions = element.toMap().value(kExtensions);
        Entry entry { folder, std::nullopt };
        if (extensions.metaType().id() == QMetaType::QString)
            entry.extensions = extensions.toString();
        out << entry;
    }
    return out;
}

QString QFWatchFolderSettings::normalizedFolder(List list, const QString &folder)
{
    const QString trimmed = folder.trimmed();
    if (trimmed.isEmpty())
        return {};
    if (list == List::DriveFolders)
        return QDir::cleanPath(u'/' + trimmed);
    return QDir::cleanPath(QFileInfo(cleaned(trimmed)).absoluteFilePath());
}

QString QFWatchFolderSettings::normalizedExtensions(const QString &text)
{
    QStringList types;
    for (const QString &item : text.split(u',')) {
        QString type = item.trimmed().toLower();
        while (type.startsWith(u'.'))
            type.remove(0, 1);
        if (!type.isEmpty() && !types.contains(type))
            types << type;
    }
    return types.join(u',');
}

std::optional<QFWatchFolderSettings::Refusal> QFWatchFolderSettings::checkNewFolder(
    const QList<Entry> &entries, const QString &folder)
{
    const QString path = cleaned(folder);
    for (const Entry &entry : entries) {
        const QString watched = cleaned(entry.folder);
        if (path == watched)
            return Refusal { QStringLiteral("Duplicate watch folder"),
                qfFormat("%@ is already being watched", folder) };
        if (liesInside(path, watched)) {
            return Refusal { QStringLiteral("Parent already watched"),
                qfFormat(
                    "The parent folder %@ is already being watched. You do not need to add subfolders individually.",
                    entry.folder) };
        }
    }
    return std::nullopt;
}

bool QFWatchFolderSettings::addFolder(List list, const QString &folder, const std::optional<QString> &extensions,
    std::optional<Refusal> *refusal, QString *error)
{
    // The check and the write see one file: a folder added meanwhile by another program is neither lost
    // nor added twice.
    const bool added = QFPreferenceKeys::modify(
        [&](QVariantMap &contents, QString *reason) {
            if (auto refused = checkNewFolder(entriesOf(contents, list), folder)) {
                if (refusal)
                    *refusal = refused;
                *reason = refused->text;
                return false;
            }
            QVariantList elements = contents.value(key(list)).toList();
            QVariantMap element { { kFolder, folder } };
            if (extensions)
                element.insert(kExtensions, *extensions);
            elements << element;
            contents.insert(key(list), elements);
            return true;
        },
        error);
    if (added)
        QFLog::appendLog("Added watch folder %@ (%@)", folder, extensions.value_or(QString()));
    return added;
}

bool QFWatchFolderSettings::removeFolder(List list, const QString &folder, QString *error)
{
    const QString path = cleaned(folder);
    const bool removed = QFPreferenceKeys::modify(
        [&](QVariantMap &contents, QString *reason) {
            QVariantList elements = contents.value(key(list)).toList();
            const qsizetype before = elements.size();
            elements.erase(std::remove_if(elements.begin(), elements.end(),
                               [&](const QVariant &element) {
                                   const QString own = folderOf(element);
                                   return !own.isEmpty() && cleaned(own) == path;
                               }),
                elements.end());
            if (elements.size() == before) {
                *reason = QStringLiteral("%1 is not being watched").arg(folder);
                return false;
            }
            contents.insert(key(list), elements);
            return true;
        },
        error);
    if (removed)
        QFLog::appendLog("Removed watch folder %@", folder);
    return removed;
}

QList<QVariantMap> QFWatchFolderSettings::elements(List list)
{
    QList<QVariantMap> out;
    const auto file = QFPreferenceKeys::readFile();
    if (!file)
        return out;
    for (const QVariant &element : file->value(key(list)).toList()) {
        if (element.metaType().id() == QMetaType::QVariantMap)
            out << element.toMap();
    }
    return out;
}

bool QFWatchFolderSettings::appendElement(List list, const QVariantMap &element, QString *error)
{
    return QFPreferenceKeys::modify(
        [&](QVariantMap &contents, QString *) {
            QVariantList stored = contents.value(key(list)).toList();
            stored << element;
            contents.insert(key(list), stored);
            return true;
        },
        error);
}

bool QFWatchFolderSettings::setElementValue(
    List list, int row, const QVariantMap &shown, const QString &column, const QString &value, QString *error)
{
    const QString stored = column == kExtensions ? normalizedExtensions(value) : normalizedFolder(list, value);
    return QFPreferenceKeys::modify(
        [&](QVariantMap &contents, QString *reason) {
            QVariantList elements = contents.value(key(list)).toList();
            const qsizetype position = positionOfShown(elements, row, shown);
            if (position < 0) {
                *reason = QStringLiteral("the entry was changed by another program meanwhile");
                return false;
            }
            QVariantMap element = elements.at(position).toMap();
            element.insert(column, stored);
            elements[position] = element;
            contents.insert(key(list), elements);
            return true;
        },
        error);
}

bool QFWatchFolderSettings::removeElements(List list, const QList<QPair<int, QVariantMap>> &shownRows, QString *error)
{
    return QFPreferenceKeys::modify(
        [&](QVariantMap &contents, QString *) {
            QVariantList elements = contents.value(key(list)).toList();
            QList<qsizetype> doomed;
            for (const auto &[row, shown] : shownRows) {
                const qsizetype position = positionOfShown(elements, row, shown);
                if (position >= 0 && !doomed.contains(position))
                    doomed << position;
            }
            std::sort(doomed.begin(), doomed.end(), std::greater<>());
            for (const qsizetype position : std::as_const(doomed))
                elements.removeAt(position);
            contents.insert(key(list), elements);
            return true;
        },
        error);
}

QVariantList QFWatchFolderSettings::defaultWatchFolders()
{
    const QString documents = QFLocalPaths::documentDirectory(true);
    auto folder = [](const QString &path, const char *extensions) {
        return QVariantMap { { kFolder, path }, { kExtensions, QString::fromLatin1(extensions) } };
    };
    return {
        folder(QFLocalPaths::movieDirectory(), "fcpevent,fcpproject,kdenlive,mlt,blend,ardour,ove,drp"),
        folder(documents + QStringLiteral("/Avid Projects"), "avb,avp"),
        folder(documents + QStringLiteral("/Adobe/Audition"), "sesx"),
        folder(documents + QStringLiteral("/Adobe/Prelude/1.0/Projects"), "plproj"),
        folder(documents + QStringLiteral("/Adobe/Premiere Pro"), "prproj"),
    };
}

QVariantList QFWatchFolderSettings::withDefaultWatchFolders(const QVariantList &existing)
{
    QVariantList merged = existing;
    QList<Entry> entries;
    for (const QVariant &element : existing) {
        const QString folder = folderOf(element);
        if (!folder.isEmpty())
            entries << Entry { folder, std::nullopt };
    }
    for (const QVariant &element : defaultWatchFolders()) {
        const QString folder = folderOf(element);
        if (checkNewFolder(entries, folder))
            continue;
        merged << element;
        entries << Entry { folder, std::nullopt };
    }
    return merged;
}
