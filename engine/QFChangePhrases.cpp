// The sentence of a changed leaf element: which group of the table it falls in, what every group needs to
// know, the names group and the elements no group lists.

#include "engine/QFChangePhrases.h"

#include "engine/QFTombrelBackup.h"
#include "engine/QFXMLParser.h"
#include "foundation/QFLog.h"

#include <climits>
#include <utility>

using Node = pugi::xml_node;
using namespace QFChangeNodes;

namespace {

// The one index in use on this thread, and the ones it hides.
thread_local const QFChangePhrases::UUIDIndex *s_currentIndex = nullptr;

} // namespace

Node QFChangeNodes::ancestorNamed(const Node &node, const char *name)
{
    for (Node ancestor = node.parent(); ancestor; ancestor = ancestor.parent()) {
        if (is(nameOf(ancestor), name))
            return ancestor;
    }
    return {};
}

bool QFChangeNodes::pathContains(const Node &node, const char *name)
{
    for (Node current = node; current; current = current.parent()) {
        if (is(nameOf(current), name))
            return true;
    }
    return false;
}

QString QFChangeNodes::mediaPrefix(const Node &node)
{
    if (pathContains(node, "video"))
        return QStringLiteral("video ");
    if (pathContains(node, "audio"))
        return QStringLiteral("audio ");
    return QStringLiteral("");
}

QString QFChangeNodes::itemKind(const Node &item, const char *subclipQuery, const char *stillQuery)
{
    if (QFXMLParser::nodeForQuery(QString::fromLatin1(subclipQuery), item))
        return QStringLiteral("subclip");
    if (QFXMLParser::nodeForQuery(QString::fromLatin1(stillQuery), item))
        return QStringLiteral("freeze frame");
    return QStringLiteral("clip");
}

QString QFChangeNodes::capitalizedItemKind(const Node &item, const char *subclipQuery, const char *stillQuery)
{
    QString kind = itemKind(item, subclipQuery, stillQuery);
    kind[0] = kind[0].toUpper();
    return kind;
}

QString QFChangeNodes::part(const char *format, const QString &value)
{
    return value.isNull() ? QStringLiteral("") : qfFormat(format, value);
}

QString QFChangeNodes::lastPathComponent(const QString &path)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(u'/'))
        trimmed.chop(1);
    if (trimmed == QLatin1String("/"))
        return trimmed;
    return trimmed.mid(trimmed.lastIndexOf(u'/') + 1);
}

long long QFChangeNodes::intValue(const QString &text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < n && (text.at(i) == u'-' || text.at(i) == u'+')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    long long value = 0;
    while (i < n && text.at(i) >= u'0' && text.at(i) <= u'9') {
        value = value * 10 + (text.at(i).unicode() - u'0');
        if (value > INT_MAX)
            return negative ? INT_MIN : INT_MAX;
        ++i;
    }
    return negative ? -value : value;
}

QString QFChangeNodes::capitalized(const QString &text)
{
    QString result = text;
    bool wordStart = true;
    for (QChar &c : result) {
        if (c.isSpace()) {
            wordStart = true;
            continue;
        }
        c = wordStart ? c.toUpper() : c.toLower();
        wordStart = false;
    }
    return result;
}

bool QFChangeNodes::isStandardFilter(const QString &name)
{
    static const QStringList standard = { QStringLiteral("Basic Motion"), QStringLiteral("Audio Levels"),
        QStringLiteral("Drop Shadow"), QStringLiteral("Motion Blur"), QStringLiteral("Crop"), QStringLiteral("Distort"),
        QStringLiteral("Opacity"), QStringLiteral("Audio Pan") };
    return standard.contains(name);
}

namespace {

// FNV-1a over the text's UTF-16 units, folded: the indexes hold tens of thousands of short texts, asked about at
// every item, where a general string hash costs more than the look-up it serves.
size_t textHash(QStringView text)
{
    quint64 hash = 14695981039346656037ull;
    for (const QChar c : text)
        hash = (hash ^ c.unicode()) * 1099511628211ull;
    return size_t(hash ^ (hash >> 29));
}

} // namespace

QFChangePhrases::TextIndex::TextIndex(const QStringList &texts)
    : m_list(texts)
{
    size_t capacity = 2;
    while (capacity < size_t(texts.size()) * 2)
        capacity *= 2;
    m_slots.assign(capacity, 0);
    m_mask = capacity - 1;
    for (qsizetype i = 0; i < texts.size(); ++i) {
        const QString &text = texts.at(i);
        for (size_t slot = textHash(text) & m_mask;; slot = (slot + 1) & m_mask) {
            if (m_slots[slot] == 0) {
                m_slots[slot] = quint32(i + 1);
                break;
            }
            if (texts.at(m_slots[slot] - 1) == text)
                break;
        }
    }
}

qsizetype QFChangePhrases::TextIndex::indexOf(QStringView text) const
{
    for (size_t slot = textHash(text) & m_mask;; slot = (slot + 1) & m_mask) {
        if (m_slots[slot] == 0)
            return -1;
        if (m_list.at(m_slots[slot] - 1) == text)
            return qsizetype(m_slots[slot] - 1);
    }
}

QFChangePhrases::UUIDIndex::UUIDIndex(const QStringList &uuids)
    : m_index(uuids)
    , m_outer(s_currentIndex)
{
    s_currentIndex = this;
}

QFChangePhrases::UUIDIndex::~UUIDIndex()
{
    s_currentIndex = m_outer;
}

bool QFChangePhrases::UUIDIndex::listContains(const QStringList &list, const QString &uuid)
{
    for (const UUIDIndex *index = s_currentIndex; index; index = index->m_outer) {
        if (list.isSharedWith(index->m_index.list()))
            return index->contains(uuid);
    }
    return list.contains(uuid);
}

QString QFChangePhrases::forChangedLeaf(const QFTombrelBackup &engine, const Node &node, const QString &nodeName,
    const QString &nodeValue, const Node &nodeParent, const QString &nodeParentName, const Node &oldNode,
    const QString &oldValue, const QStringList &oldUUIDs)
{
    QByteArray nameBytes = nodeName.toUtf8();
    // Containers, and parts that change with every export or say nothing an editor would read.
    if (isOneOf(nameBytes.constData(),
            { "children", "project", "video", "audio", "media", "track", "filter", "effectid", "effectcategory",
                "effecttype", "masterclipid", "ismasterclip", "privatestate", "outputchannelindex", "data" }))
        return {};
    // The older text is read only here, past the elements above, some of which hold long data.
    const QFChangePhrases phrases(engine, node, std::move(nameBytes), nodeName, nodeValue, nodeParent, nodeParentName,
        oldValue.isNull() ? QFXMLParser::stringValue(oldNode) : oldValue, oldUUIDs);
    return phrases.sentence();
}

QFChangePhrases::QFChangePhrases(const QFTombrelBackup &engine, const Node &node, QByteArray nameBytes,
    const QString &nodeName, const QString &nodeValue, const Node &nodeParent, const QString &nodeParentName,
    const QString &oldValue, const QStringList &oldUUIDs)
    : m_engine(engine)
    , m_node(node)
    , m_nameBytes(std::move(nameBytes))
    , m_parentBytes(nodeParentName.toUtf8())
    , m_n(m_nameBytes.constData())
    , m_p(m_parentBytes.constData())
    , m_nodeName(nodeName)
    , m_value(nodeValue)
    , m_parent(nodeParent)
    , m_parentName(nodeParentName)
    , m_oldValue(oldValue)
    , m_oldUUIDs(oldUUIDs)
    , m_grandparent(nodeParent.parent())
    , m_greatGrandparent(m_grandparent.parent())
    , m_a1(nameOf(m_grandparent))
    , m_a2(nameOf(m_greatGrandparent))
    , m_removed(nodeValue == QLatin1String("-1"))
    , m_delta(intValue(nodeValue) - intValue(m_oldValue))
    , m_sign(m_delta > 0 ? QStringLiteral("+") : QStringLiteral(""))
    , m_clipParent(isOneOf(m_p, { "clipitem", "clip" }))
{
}

// Elements are told by group; those no group lists, by what they stand in.
QString QFChangePhrases::sentence() const
{
    using Group = QString (QFChangePhrases::*)() const;
    static const struct {
        const char *name;
        Group build;
    } groups[] = {
        { "name", &QFChangePhrases::nameChanged },
        { "value", &QFChangePhrases::valueChanged },
        { "duration", &QFChangePhrases::durationChanged },
        { "in", &QFChangePhrases::inOrOutChanged },
        { "out", &QFChangePhrases::inOrOutChanged },
        { "start", &QFChangePhrases::startOrEndChanged },
        { "end", &QFChangePhrases::startOrEndChanged },
        { "startoffset", &QFChangePhrases::subclipOffsetChanged },
        { "mediadelay", &QFChangePhrases::subclipOffsetChanged },
        { "endoffset", &QFChangePhrases::subclipOffsetChanged },
        { "width", &QFChangePhrases::frameFormatChanged },
        { "height", &QFChangePhrases::frameFormatChanged },
        { "pixelaspectratio", &QFChangePhrases::frameFormatChanged },
        { "fielddominance", &QFChangePhrases::frameFormatChanged },
        { "timebase", &QFChangePhrases::rateChanged },
        { "ntsc", &QFChangePhrases::rateChanged },
        { "enabled", &QFChangePhrases::enabledChanged },
        { "alphatype", &QFChangePhrases::alphaTypeChanged },
    };
    for (const auto &group : groups) {
        if (is(m_n, group.name))
            return (this->*group.build)();
    }
    return unlistedChanged();
}

QString QFChangePhrases::timecode(const QString &frames) const
{
    return m_engine.timecodeFromFrames(frames, m_node);
}

QString QFChangePhrases::removedOrChangedTo() const
{
    return m_removed ? QStringLiteral("removed") : qfFormat("changed to %@", timecode(m_value));
}

QString QFChangePhrases::kindOfParent() const
{
    return itemKind(m_parent, ".//subclipinfo[1]", ".//stillframeoffset[1]");
}

bool QFChangePhrases::isOldUUID(const QString &uuid) const
{
    return UUIDIndex::listContains(m_oldUUIDs, uuid);
}

QString QFChangePhrases::unknownChange() const
{
    QFLog::appendLog("Unknown change: %@ changed to %@. XPath: %@", m_engine.capitalizeFirstLetter(m_nodeName), m_value,
        QFXMLParser::xPath(m_node));
    return qfFormat("%@ changed to %@", m_engine.capitalizeFirstLetter(m_nodeName), m_value);
}

QString QFChangePhrases::nameChanged() const
{
    if (is(m_p, "project"))
        return qfFormat("Project name changed to %@", m_value);
    if (m_clipParent) {
        const QString uuid = QFXMLParser::uuidForNode(m_parent);
        if (uuid.isNull())
            return unknownChange();
        const QString kind = itemKind(m_parent, ".//subclipinfo[1]/text()", ".//stillframeoffset[1]/text()");
        if (isOldUUID(uuid)) {
            const QString itemName = QFXMLParser::nameForNode(m_parent);
            if (itemName == m_value)
                return {};
            return qfFormat("%@ %@ name changed to %@", itemName, kind, m_value);
        }
        const Node multiclip = ancestorNamed(m_node, "multiclip");
        const Node sequence = ancestorNamed(m_node, "sequence");
        return qfFormat("New %@%@ added%@%@: %@", mediaPrefix(m_node), kind,
            multiclip ? part(" to multiclip %@", QFXMLParser::nameForNode(multiclip)) : QStringLiteral(""),
            sequence ? part(" for sequence %@", QFXMLParser::nameForNode(sequence)) : QStringLiteral(""), m_value);
    }
    if (is(m_p, "bin")) {
        const QString uuid = QFXMLParser::uuidForNode(m_parent);
        if (uuid.isNull())
            return unknownChange();
        if (isOldUUID(uuid))
            return qfFormat("%@ bin name changed to %@", m_oldValue, m_value);
        return qfFormat("New bin added: %@", m_value);
    }
    if (is(m_p, "codec")) {
        if (pathContains(m_node, "clipitem"))
            return qfFormat("Clip codec changed to %@", m_value);
        if (pathContains(m_node, "sequence"))
            return qfFormat("Sequence codec changed to %@", m_value);
        return {};
    }
    if (is(m_p, "marker")) {
        const Node clip = ancestorNamed(m_node, "clipitem");
        const Node sequence = ancestorNamed(m_node, "sequence");
        return qfFormat("Marker %@ added%@%@", m_value,
            clip ? part(" to clip %@", QFXMLParser::nameForNode(clip)) : QStringLiteral(""),
            sequence ? part(" for sequence %@", QFXMLParser::nameForNode(sequence)) : QStringLiteral(""));
    }
    return {};
}

QString QFChangePhrases::unlistedChanged() const
{
    if (pathContains(m_node, "effect"))
        return filterParameterChanged();
    if (is(m_n, "alignment") && is(m_p, "transitionitem"))
        return qfFormat("Transition aligment set to %@ for %@", m_value, QFXMLParser::nameForNode(m_parent));
    if (is(m_n, "comment") && is(m_p, "marker"))
        return qfFormat("%@ marker description changed to %@", QFXMLParser::nameForNode(m_parent), m_value);
    if (isOneOf(m_n, { "shottake", "scene" })) {
        const QString clipName = QFXMLParser::nameForNode(QFXMLParser::node(m_parent, QStringLiteral("clip")));
        return qfFormat(is(m_n, "shottake") ? "Shot changed to %@ for clip %@" : "Scene changed to %@ for clip %@",
            m_value, clipName);
    }
    return unknownChange();
}
