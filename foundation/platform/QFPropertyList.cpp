#include "foundation/platform/QFPropertyList.h"

#include "foundation/platform/QFFileCopy.h"
#include "foundation/platform/QFFileLock.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>

#include <plist/plist.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <memory>

namespace {

// Property-list dates count seconds from 2001-01-01 00:00:00 UTC.
constexpr qint64 kReferenceDateOffset = 978307200;
// Nothing the system stores comes near this; larger files are not property lists of ours.
constexpr qint64 kMaximumFileSize = 512ll * 1024 * 1024;
constexpr int kMaximumDepth = 256;

struct PlistDeleter {
    void operator()(void *node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

std::optional<QVariant> fromNode(plist_t node, int depth)
{
    if (!node || depth > kMaximumDepth)
        return std::nullopt;
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return QVariant(b != 0);
    }
    case PLIST_UINT: {
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        return QVariant(static_cast<qint64>(v));
    }
    case PLIST_REAL: {
        double v = 0;
        plist_get_real_val(node, &v);
        return QVariant(v);
    }
    case PLIST_STRING: {
        // By pointer and length: the copying reader asserts (ending the program) on a string that holds a
        // NUL character, which a damaged or hostile file can.
        uint64_t length = 0;
        const char *s = plist_get_string_ptr(node, &length);
        return QVariant(s ? QString::fromUtf8(s, qsizetype(strnlen(s, size_t(length)))) : QString(u""_qs));
    }
    case PLIST_KEY:
        // A key where a value belongs is no property list (and its reader has the same assertion).
        return std::nullopt;
    case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        const qint64 ms = (qint64(sec) + kReferenceDateOffset) * 1000 + usec / 1000;
        return QVariant(QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc()));
    }
    case PLIST_DATA: {
        char *d = nullptr;
        uint64_t len = 0;
        plist_get_data_val(node, &d, &len);
        QByteArray bytes(d, qsizetype(len));
        free(d);
        return QVariant(bytes);
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t n = plist_array_get_size(node);
        list.reserve(n);
        for (uint32_t i = 0; i < n; ++i) {
            auto v = fromNode(plist_array_get_item(node, i), depth + 1);
            if (!v)
                return std::nullopt;
            list.append(*v);
        }
        return QVariant(list);
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        if (!it)
            return QVariant(map);
        for (;;) {
            char *key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!value) {
                free(key);
                break;
            }
            auto v = fromNode(value, depth + 1);
            const QString k = key ? QString::fromUtf8(key) : QString();
            free(key);
            if (!v) {
                free(it);
                return std::nullopt;
            }
            map.insert(k, *v);
        }
        free(it);
        return QVariant(map);
    }
    default:
        return std::nullopt;
    }
}

plist_t toNode(const QVariant &value, int depth)
{
    if (depth > kMaximumDepth)
        return nullptr;
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        return plist_new_bool(value.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar:
        return plist_new_uint(static_cast<uint64_t>(value.toLongLong()));
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar:
        return plist_new_uint(value.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return plist_new_real(value.toDouble());
    case QMetaType::QString:
        return plist_new_string(value.toString().toUtf8().constData());
    case QMetaType::QByteArray: {
        const QByteArray b = value.toByteArray();
        return plist_new_data(b.constData(), uint64_t(b.size()));
    }
    case QMetaType::QDateTime: {
        const qint64 ms = value.toDateTime().toMSecsSinceEpoch() - kReferenceDateOffset * 1000;
        qint64 sec = ms / 1000;
        qint64 rest = ms % 1000;
        if (rest < 0) {
            rest += 1000;
            --sec;
        }
        return plist_new_date(int32_t(sec), int32_t(rest * 1000));
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        plist_t array = plist_new_array();
        for (const QVariant &item : value.toList()) {
            plist_t child = toNode(item, depth + 1);
            if (!child) {
                plist_free(array);
                return nullptr;
            }
            plist_array_append_item(array, child);
        }
        return array;
    }
    case QMetaType::QVariantMap: {
        plist_t dict = plist_new_dict();
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            plist_t child = toNode(it.value(), depth + 1);
            if (!child) {
                plist_free(dict);
                return nullptr;
            }
            plist_dict_set_item(dict, it.key().toUtf8().constData(), child);
        }
        return dict;
    }
    default:
        return nullptr;
    }
}

bool looksLikeXml(const QByteArray &data)
{
    for (char c : data) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            continue;
        return c == '<';
    }
    return false;
}

} // namespace

std::optional<QVariant> QFPropertyList::parse(const QByteArray &data)
{
    if (data.isEmpty() || data.size() > kMaximumFileSize)
        return std::nullopt;
    plist_t root = nullptr;
    if (data.startsWith("bplist00"))
        plist_from_bin(data.constData(), uint32_t(data.size()), &root);
    else if (data.startsWith("\xEF\xBB\xBF") || looksLikeXml(data))
        plist_from_xml(data.constData(), uint32_t(data.size()), &root);
    else
        return std::nullopt;
    PlistPtr guard(root);
    return fromNode(root, 0);
}

std::optional<QVariant> QFPropertyList::read(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    if (file.size() > kMaximumFileSize)
        return std::nullopt;
    return parse(file.readAll());
}

std::optional<QVariantMap> QFPropertyList::readDictionary(const QString &path)
{
    auto value = read(path);
    if (!value || value->metaType().id() != QMetaType::QVariantMap)
        return std::nullopt;
    return value->toMap();
}

QByteArray QFPropertyList::toXml(const QVariant &value)
{
    PlistPtr root(toNode(value, 0));
    if (!root)
        return {};
    char *xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(static_cast<plist_t>(root.get()), &xml, &length);
    QByteArray out(xml, qsizetype(length));
    free(xml);
    return out;
}

bool QFPropertyList::write(const QString &path, const QVariant &value, QString *error)
{
    const QByteArray xml = toXml(value);
    if (xml.isEmpty()) {
        if (error)
            *error = QStringLiteral("value cannot be stored in a property list");
        return false;
    }
    QString reason;
    if (!qfWriteFileAtomically(path, xml, &reason)) {
        if (error)
            *error = reason;
        return false;
    }
    return true;
}

bool QFPropertyList::updateDictionary(
    const QString &path, const std::function<Change(QVariantMap &)> &change, QString *error)
{
    const QFFileLock lock(path);
    QVariantMap contents;
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0) {
        auto read = readDictionary(path);
        if (!read) {
            if (error)
                *error = QStringLiteral("%1 cannot be read as a property list; it was left as it is").arg(path);
            return false;
        }
        contents = std::move(*read);
    }
    switch (change(contents)) {
    case Change::Keep:
        return true;
    case Change::Write:
        return write(path, contents, error);
    case Change::Remove:
        if (::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT)
            return true;
        if (error)
            *error = QStringLiteral("cannot remove %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return false;
}

std::optional<qint64> QFPropertyList::integerValue(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        return value.toBool() ? 1 : 0;
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::Double: {
        return value.toLongLong();
    }
    case QMetaType::QString: {
        bool ok = false;
        const qint64 v = value.toString().trimmed().toLongLong(&ok);
        return ok ? std::optional<qint64>(v) : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}
