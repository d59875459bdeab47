// Change lists of Final Cut Pro XML: two exports of a project walked in step, each difference told as a
// sentence an editor understands.

#include "engine/QFTombrelBackup.h"

#include "engine/QFXMLParser.h"
#include "foundation/QFLog.h"

#include <QCoreApplication>
#include <QHash>
#include <QMetaObject>
#include <QSet>
#include <QThread>

#include <climits>
#include <cstring>
#include <initializer_list>
#include <unordered_map>
#include <vector>

using Node = pugi::xml_node;

namespace {

const char *nameOf(const Node &node)
{
    return node.type() == pugi::node_element ? node.name() : nullptr;
}

bool is(const char *name, const char *literal)
{
    return name && std::strcmp(name, literal) == 0;
}

bool isOneOf(const char *name, std::initializer_list<const char *> names)
{
    if (!name)
        return false;
    for (const char *candidate : names) {
        if (std::strcmp(name, candidate) == 0)
            return true;
    }
    return false;
}

// Names compared as the walk compares them: a text node's missing name equals nothing.
bool sameName(const char *a, const char *b)
{
    return a && b && std::strcmp(a, b) == 0;
}

Node ancestorNamed(const Node &node, const char *name)
{
    for (Node ancestor = node.parent(); ancestor; ancestor = ancestor.parent()) {
        if (is(nameOf(ancestor), name))
            return ancestor;
    }
    return {};
}

// Whether the node's location path ("/xmeml[1]/…/video[2]/…") holds a step with the name.
bool pathContains(const Node &node, const char *name)
{
    for (Node current = node; current; current = current.parent()) {
        if (is(nameOf(current), name))
            return true;
    }
    return false;
}

QString mediaPrefix(const Node &node)
{
    if (pathContains(node, "video"))
        return QStringLiteral("video ");
    if (pathContains(node, "audio"))
        return QStringLiteral("audio ");
    return QStringLiteral("");
}

QString itemKind(const Node &item, const char *subclipQuery, const char *stillQuery)
{
    if (QFXMLParser::nodeForQuery(QString::fromLatin1(subclipQuery), item))
        return QStringLiteral("subclip");
    if (QFXMLParser::nodeForQuery(QString::fromLatin1(stillQuery), item))
        return QStringLiteral("freeze frame");
    return QStringLiteral("clip");
}

QString capitalizedItemKind(const Node &item, const char *subclipQuery, const char *stillQuery)
{
    QString kind = itemKind(item, subclipQuery, stillQuery);
    kind[0] = kind[0].toUpper();
    return kind;
}

// " for sequence Main" when there is a value, nothing otherwise.
QString part(const char *format, const QString &value)
{
    return value.isNull() ? QStringLiteral("") : qfFormat(format, value);
}

QString lastPathComponent(const QString &path)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(u'/'))
        trimmed.chop(1);
    if (trimmed == QLatin1String("/"))
        return trimmed;
    return trimmed.mid(trimmed.lastIndexOf(u'/') + 1);
}

// A number as the editor's texts hold it: leading blanks, a sign, digits; whatever follows is ignored.
long long intValue(const QString &text)
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

// Each word's first letter upper case, the rest lower case.
QString capitalized(const QString &text)
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

// Filters every clip carries; adding one of these is not news.
bool isStandardFilter(const QString &name)
{
    static const QStringList standard = { QStringLiteral("Basic Motion"), QStringLiteral("Audio Levels"),
        QStringLiteral("Drop Shadow"), QStringLiteral("Motion Blur"), QStringLiteral("Crop"), QStringLiteral("Distort"),
        QStringLiteral("Opacity"), QStringLiteral("Audio Pan") };
    return standard.contains(name);
}

bool hasFewerThanTwoChildren(const Node &node)
{
    const Node first = node.first_child();
    return !first || !first.next_sibling();
}

void appendTextValue(const Node &node, std::string &text)
{
    Node current = node.first_child();
    while (current) {
        if (current.type() == pugi::node_pcdata || current.type() == pugi::node_cdata)
            text += current.value();
        if (current.first_child()) {
            current = current.first_child();
            continue;
        }
        while (current && current != node && !current.next_sibling())
            current = current.parent();
        if (!current || current == node)
            break;
        current = current.next_sibling();
    }
}

// A position in one document: on a node, or just before one. Stepping back is kept as "before" until the
// cursor moves on, so a walk that steps back and forth never searches a deep subtree for its last node.
struct Cursor {
    Node node;
    bool before = false;

    void setAt(const Node &at)
    {
        node = at;
        before = false;
    }
    void setBefore(const Node &next)
    {
        node = next;
        before = true;
    }
    void stepBack()
    {
        if (before)
            node = QFXMLParser::previousNode(node);
        else
            before = true;
    }
    Node resolved() const { return before ? QFXMLParser::previousNode(node) : node; }
    bool operator==(const Cursor &other) const { return node == other.node && before == other.before; }
};

} // namespace

// One comparison of two documents; lives for one call of changeListForFCPXMLDoc.
class QFTombrelBackup::ChangeListWalk {
public:
    ChangeListWalk(QFTombrelBackup &engine, const pugi::xml_document &doc, const pugi::xml_document &baseDoc,
        const QStringList &oldUUIDList, const QStringList &oldIDList, const QStringList &newUUIDList,
        const QStringList &newIDList)
        : m_engine(engine)
        , m_doc(doc)
        , m_baseDoc(baseDoc)
        , m_oldUUIDList(oldUUIDList)
        , m_oldIDList(oldIDList)
        , m_oldUUIDs(oldUUIDList.begin(), oldUUIDList.end())
        , m_oldIDs(oldIDList.begin(), oldIDList.end())
        , m_newUUIDs(newUUIDList.begin(), newUUIDList.end())
        , m_newIDs(newIDList.begin(), newIDList.end())
    {
    }

    std::optional<QStringList> run();

private:
    Node nextNode(const Node &node);
    Node nextSibling(const Node &node);
    Node peekNext(const Cursor &cursor) { return cursor.before ? cursor.node : nextNode(cursor.node); }
    void advance(Cursor &cursor)
    {
        if (cursor.before)
            cursor.before = false;
        else
            cursor.node = nextNode(cursor.node);
    }
    void skipSubtree(Cursor &cursor, const Node &node) { cursor.setBefore(nextSibling(node)); }
    Cursor nextBase(const Node &oldNode, const Node &newNode);
    bool valuesDiffer(const Node &newNode, const Node &oldNode);

    bool isNewItem(const Node &node, const char *name);
    void structuralDifference(const Node &newNode, const Node &oldNode);
    void valueChange(const Node &newNode, const Node &oldNode);
    QString clipLine(const Node &item);
    void appendRemovedItems();

    QFTombrelBackup &m_engine;
    const pugi::xml_document &m_doc;
    const pugi::xml_document &m_baseDoc;
    const QStringList &m_oldUUIDList;
    const QStringList &m_oldIDList;
    const QSet<QString> m_oldUUIDs;
    const QSet<QString> m_oldIDs;
    const QSet<QString> m_newUUIDs;
    const QSet<QString> m_newIDs;
    QSet<QString> m_baseMarkerNames;

    Cursor m_new;
    Cursor m_old;
    QStringList m_list;
    const char *m_lastReported = nullptr;

    // Where a climb to the next sibling of an ancestor ended, for nodes on long climbs only.
    std::unordered_map<pugi::xml_node_struct *, pugi::xml_node_struct *> m_climbs;
    std::vector<pugi::xml_node_struct *> m_climbPath;
    // The last two elements whose texts were compared. An element that is the only child of its parent
    // carries the parent's text, so down a chain of only children the answer is known already.
    struct {
        Node newNode;
        Node oldNode;
        bool differ = false;
    } m_lastCompared;
};

Node QFTombrelBackup::ChangeListWalk::nextSibling(const Node &node)
{
    if (!node)
        return {};
    if (const Node sibling = node.next_sibling())
        return sibling;
    m_climbPath.clear();
    Node result;
    for (Node current = node; current; current = current.parent()) {
        if (const Node sibling = current.next_sibling()) {
            result = sibling;
            break;
        }
        const auto known = m_climbs.find(current.internal_object());
        if (known != m_climbs.end()) {
            result = Node(known->second);
            break;
        }
        m_climbPath.push_back(current.internal_object());
    }
    if (m_climbPath.size() > 16) {
        for (pugi::xml_node_struct *passed : m_climbPath)
            m_climbs.emplace(passed, result.internal_object());
    }
    return result;
}

Node QFTombrelBackup::ChangeListWalk::nextNode(const Node &node)
{
    if (!node)
        return {};
    if (const Node child = node.first_child())
        return child;
    return nextSibling(node);
}

Cursor QFTombrelBackup::ChangeListWalk::nextBase(const Node &oldNode, const Node &newNode)
{
    Cursor result;
    if (!sameName(nameOf(newNode), nameOf(oldNode))) {
        const Node first = nextSibling(oldNode);
        if (sameName(nameOf(first), nameOf(newNode))) {
            result.setAt(first);
            return result;
        }
        const Node second = nextSibling(oldNode.parent());
        if (sameName(nameOf(second), nameOf(newNode))) {
            result.setAt(second);
            return result;
        }
    }
    result.setBefore(oldNode);
    return result;
}

bool QFTombrelBackup::ChangeListWalk::valuesDiffer(const Node &newNode, const Node &oldNode)
{
    // Up a few levels of only children in both documents to the pair compared last.
    Node newUp = newNode;
    Node oldUp = oldNode;
    for (int level = 0; level < 4 && newUp && oldUp; ++level) {
        const Node newParent = newUp.parent();
        const Node oldParent = oldUp.parent();
        if (!newParent || !oldParent || newUp.next_sibling() || newUp.previous_sibling() || oldUp.next_sibling()
            || oldUp.previous_sibling())
            break;
        if (newParent == m_lastCompared.newNode && oldParent == m_lastCompared.oldNode) {
            m_lastCompared.newNode = newNode;
            m_lastCompared.oldNode = oldNode;
            return m_lastCompared.differ;
        }
        newUp = newParent;
        oldUp = oldParent;
    }
    const Node newChild = newNode.first_child();
    const Node oldChild = oldNode.first_child();
    bool differ;
    if (!nameOf(newChild) && !nameOf(oldChild)) {
        differ = std::strcmp(newChild ? newChild.value() : "", oldChild ? oldChild.value() : "") != 0;
    } else {
        std::string newText, oldText;
        appendTextValue(newNode, newText);
        appendTextValue(oldNode, oldText);
        differ = newText != oldText;
    }
    m_lastCompared = { newNode, oldNode, differ };
    return differ;
}

std::optional<QStringList> QFTombrelBackup::ChangeListWalk::run()
{
    QFLog::appendLog("Getting changelist from XML doc...");

    const Node newRoot = m_doc.document_element();
    const Node oldRoot = m_baseDoc.document_element();
    const Node firstNew = nextNode(newRoot);
    const Node firstOld = nextNode(oldRoot);
    const char *firstNewName = nameOf(firstNew);
    const char *firstOldName = nameOf(firstOld);
    // A backup that switched between the whole project and one sequence says only that.
    const bool sameFirstName = firstNewName && firstOldName ? std::strcmp(firstNewName, firstOldName) == 0
                                                            : firstNewName == firstOldName;
    if (sameFirstName) {
        if (is(firstNewName, "sequence")
            && QFXMLParser::uuidForNode(firstNew) != QFXMLParser::uuidForNode(firstOld))
            return QStringList { qfFormat("Backup sequence changed to %@", QFXMLParser::nameForNode(firstNew)) };
    } else {
        if (is(firstNewName, "sequence"))
            return QStringList { qfFormat("Backup sequence changed to %@", QFXMLParser::nameForNode(firstNew)) };
        return QStringList { QStringLiteral("Backup type changed to Project") };
    }

    const QStringList markerNames = QFXMLParser::stringValuesForQuery(QStringLiteral("//marker/name[1]"), m_baseDoc);
    m_baseMarkerNames = QSet<QString>(markerNames.begin(), markerNames.end());
    m_new.setAt(newRoot);
    m_old.setAt(oldRoot);

    while (peekNext(m_new)) {
        advance(m_new);
        advance(m_old);
        const Node newNode = m_new.node;
        const Node oldNode = m_old.node;
        const char *n = nameOf(newNode);
        const char *o = nameOf(oldNode);

        if (m_engine.cancelledWithGUI()) {
            QFLog::appendLog("Change log generation was cancelled");
            m_engine.endProgress();
            return std::nullopt;
        }
        if (!n && !o)
            continue;

        // Parts of an item that say nothing to an editor, or change with every export.
        if (isOneOf(n, { "uuid", "itemhistory", "link", "linkclipref", "trackindex", "file", "mediatype" })) {
            skipSubtree(m_new, newNode);
            if (sameName(o, n))
                skipSubtree(m_old, oldNode);
            else
                m_old = nextBase(oldNode, peekNext(m_new));
            continue;
        }
        if (!sameName(n, o)) {
            structuralDifference(newNode, oldNode);
            // A step that leaves both cursors where they were would be taken again forever: move on.
            if (peekNext(m_new) == newNode && peekNext(m_old) == oldNode)
                m_new.setAt(newNode);
            continue;
        }
        if (hasFewerThanTwoChildren(newNode) && hasFewerThanTwoChildren(oldNode) && valuesDiffer(newNode, oldNode))
            valueChange(newNode, oldNode);
    }

    appendRemovedItems();
    if (m_list.isEmpty())
        return QStringList { QStringLiteral("No notable changes") };
    return m_list;
}

bool QFTombrelBackup::ChangeListWalk::isNewItem(const Node &node, const char *name)
{
    if (const pugi::xml_attribute id = node.attribute("id")) {
        const QString value = QString::fromUtf8(id.value());
        return !m_oldIDs.contains(value) && m_newIDs.contains(value);
    }
    if (!isOneOf(name, { "clip", "clipitem", "bin", "multiclip", "sequence" }))
        return false;
    const QString uuid = QFXMLParser::uuidForNode(node);
    if (uuid.isNull() || m_oldUUIDs.contains(uuid))
        return false;
    const QStringList history = m_engine.uuidHistoryForNode(node);
    for (const QString &earlier : history) {
        if (m_oldUUIDs.contains(earlier))
            return false;
    }
    return m_newUUIDs.contains(uuid);
}

QString QFTombrelBackup::ChangeListWalk::clipLine(const Node &item)
{
    const QString kind = itemKind(item, "./subclipinfo[1]", "./stillframeoffset[1]");
    const QString prefix = mediaPrefix(item);
    const Node sequence = pathContains(item, "sequence") ? ancestorNamed(item, "sequence") : Node();
    Node multiclip;
    if (pathContains(item, "multiclip")) {
        multiclip = ancestorNamed(item, "multiclip");
        if (!multiclip)
            multiclip = QFXMLParser::nodeForQuery(QStringLiteral(".//multiclip[1]"), item).node();
    }
    const QString multiclipPart = multiclip ? part(" to multiclip %@", QFXMLParser::nameForNode(multiclip)) : QStringLiteral("");
    const QString sequencePart = sequence ? part(" for sequence %@", QFXMLParser::nameForNode(sequence)) : QStringLiteral("");
    const QString timePart = part(" at %@", m_engine.startTimeForNode(item));

    if (const pugi::xpath_node url = QFXMLParser::nodeForQuery(QStringLiteral("./file[1]/pathurl[1]"), item)) {
        const QString file = QFXMLParser::percentUnescaped(lastPathComponent(QFXMLParser::stringValue(url)));
        return qfFormat("New %@%@ %@ added%@%@%@", prefix, kind, file, multiclipPart, sequencePart, timePart);
    }
    const QString name = QFXMLParser::nameForNode(item);
    if (!name.isNull())
        return qfFormat("New %@%@ %@ added%@%@%@", prefix, kind, name, multiclipPart, sequencePart, timePart);
    return qfFormat("New %@%@ added%@%@%@", prefix, kind, multiclipPart, sequencePart, timePart);
}

void QFTombrelBackup::ChangeListWalk::structuralDifference(const Node &newNode, const Node &oldNode)
{
    const char *n = nameOf(newNode);
    const char *o = nameOf(oldNode);
    const Node parent = newNode.parent();
    const char *p = nameOf(parent);

    const auto skipBoth = [&] {
        skipSubtree(m_new, newNode);
        m_old = nextBase(oldNode, peekNext(m_new));
    };
    if (is(p, "timecode") || (is(n, "angle") && is(p, "multiclip"))) {
        skipBoth();
        return;
    }

    // How the two documents line up again after an inserted or a removed node.
    int realignment = -1;
    if (sameName(nameOf(nextNode(newNode)), o))
        realignment = 0;
    else if (sameName(nameOf(nextSibling(parent)), o))
        realignment = 1;
    else if (sameName(nameOf(nextNode(oldNode)), n))
        realignment = 2;
    else if (sameName(nameOf(nextSibling(oldNode.parent())), n))
        realignment = 3;

    bool realign = false;
    if (is(n, "multiclip")) {
        if (!isNewItem(newNode, n))
            return;
        const QString at = part(" at %@", m_engine.startTimeForNode(newNode));
        const Node sequence = ancestorNamed(newNode, "sequence");
        const QString to = sequence ? part(" to sequence %@", QFXMLParser::nameForNode(sequence)) : QStringLiteral("");
        const QString name = QFXMLParser::nameForNode(newNode);
        if (const pugi::xpath_node url = QFXMLParser::nodeForQuery(QStringLiteral(".//pathurl[1]"), newNode)) {
            m_list.append(qfFormat("New multiclip added%@%@: %@", at, to,
                QFXMLParser::percentUnescaped(lastPathComponent(QFXMLParser::stringValue(url)))));
        } else if (!name.isNull()) {
            m_list.append(qfFormat("New multiclip added%@%@: %@", at, to, name));
        } else {
            m_list.append(qfFormat("New multiclip added%@%@", at, to));
        }
        skipBoth();
    } else if (is(n, "clipitem")) {
        if (isNewItem(newNode, n))
            m_list.append(clipLine(newNode));
        skipBoth();
    } else if (is(n, "bin")) {
        if (!isNewItem(newNode, n))
            return;
        m_list.append(qfFormat("New bin added: %@", QFXMLParser::nameForNode(newNode)));
        skipBoth();
    } else if (is(n, "generatoritem")) {
        if (isNewItem(newNode, n)) {
            const Node sequence = ancestorNamed(newNode, "sequence");
            m_list.append(qfFormat("New generator %@ added%@%@", QFXMLParser::nameForNode(newNode),
                sequence ? part(" to sequence %@", QFXMLParser::nameForNode(sequence)) : QStringLiteral(""),
                part(" at %@", m_engine.startTimeForNode(newNode))));
        }
        skipBoth();
    } else if (is(n, "transitionitem")) {
        if (isNewItem(newNode, n)) {
            const Node clip = ancestorNamed(newNode, "clipitem");
            const Node sequence = ancestorNamed(newNode, "sequence");
            m_list.append(qfFormat("New transition %@ added%@%@%@", QFXMLParser::nameForNode(newNode),
                clip ? part(" to clip %@", QFXMLParser::nameForNode(clip)) : QStringLiteral(""),
                sequence ? part(" for sequence %@", QFXMLParser::nameForNode(sequence)) : QStringLiteral(""),
                part(" at %@", m_engine.startTimeForNode(newNode))));
        }
        skipBoth();
    } else if (is(n, "marker")) {
        const QString name = QFXMLParser::nameForNode(newNode);
        if (!name.isNull() && m_baseMarkerNames.contains(name))
            return;
        const Node clip = ancestorNamed(newNode, "clipitem");
        const Node sequence = ancestorNamed(newNode, "sequence");
        m_list.append(qfFormat("New marker %@ added%@%@%@", name,
            clip ? qfFormat(" to %@clip %@", mediaPrefix(newNode), QFXMLParser::nameForNode(clip)) : QStringLiteral(""),
            sequence ? part(" for sequence %@", QFXMLParser::nameForNode(sequence)) : QStringLiteral(""),
            part(" at %@", m_engine.startTimeForNode(newNode))));
        skipBoth();
    } else if (is(n, "effect")) {
        QString clipName;
        if (pathContains(newNode, "clip"))
            clipName = QFXMLParser::nameForNode(ancestorNamed(newNode, "clip"));
        else if (pathContains(newNode, "clipitem"))
            clipName = QFXMLParser::nameForNode(ancestorNamed(newNode, "clipitem"));
        const QString name = QFXMLParser::nameForNode(newNode);
        if (!isStandardFilter(name)) {
            m_list.append(qfFormat("New filter added%@: %@", part(" for clip %@", clipName),
                name.isNull() ? name : lastPathComponent(name)));
        }
        skipBoth();
    } else if (is(n, "sequence")) {
        if (isNewItem(newNode, n))
            m_list.append(qfFormat("New sequence added: %@", QFXMLParser::nameForNode(newNode)));
        skipBoth();
        realign = true;
    } else {
        realign = true;
    }
    if (!realign)
        return;

    switch (realignment) {
    case 0:
        m_old.stepBack();
        break;
    case 1:
        m_old.stepBack();
        skipSubtree(m_new, parent);
        break;
    case 2:
        m_new.stepBack();
        break;
    case 3:
        skipSubtree(m_old, oldNode.parent());
        m_new.stepBack();
        break;
    default:
        break;
    }
}

void QFTombrelBackup::ChangeListWalk::valueChange(const Node &newNode, const Node &oldNode)
{
    const char *n = nameOf(newNode);
    const Node parent = newNode.parent();
    const char *p = nameOf(parent);
    const Node oldParent = oldNode.parent();

    if (is(p, "timecode") || (is(n, "angle") && is(p, "multiclip"))) {
        skipSubtree(m_new, newNode);
        skipSubtree(m_old, oldNode);
        return;
    }
    const QString value = QFXMLParser::stringValue(newNode);
    // A filter or a sequence appears as a new name where the old document had another item.
    if (is(n, "name") && (is(p, "effect") || is(p, "sequence"))) {
        if (is(p, "effect")) {
            if (const Node generator = ancestorNamed(newNode, "generatoritem"))
                m_list.append(qfFormat("New generator added: %@", QFXMLParser::nameForNode(generator)));
            else if (!isStandardFilter(value))
                m_list.append(qfFormat("New filter added: %@", value));
        } else {
            const QString uuid = QFXMLParser::uuidForNode(newNode);
            if (!uuid.isNull() && !m_oldUUIDs.contains(uuid))
                m_list.append(qfFormat("New sequence added: %@", value));
        }
        skipSubtree(m_new, parent.parent());
        skipSubtree(m_old, oldParent.parent());
        return;
    }
    // An item's start or end moves its in or out point too; one line says it.
    if ((is(n, "in") && is(m_lastReported, "start")) || (is(n, "out") && is(m_lastReported, "end"))) {
        advance(m_new);
        advance(m_old);
        return;
    }
    if (((is(n, "start") && is(m_lastReported, "in")) || (is(n, "end") && is(m_lastReported, "out"))) && !m_list.isEmpty())
        m_list.removeLast();

    const QString sentence = m_engine.changeString(newNode, QString::fromUtf8(n), value, parent,
        QString::fromUtf8(p ? p : ""), QFXMLParser::stringValue(oldNode),
        [this](const QString &uuid) { return m_oldUUIDs.contains(uuid); });
    if (!sentence.isNull() && (m_list.isEmpty() || m_list.last() != sentence)) {
        m_list.append(sentence);
        m_lastReported = n;
    }
    if (is(n, "name") && is(p, "codec")) {
        skipSubtree(m_old, oldParent);
        skipSubtree(m_new, parent);
    } else {
        advance(m_new);
        advance(m_old);
    }
}

void QFTombrelBackup::ChangeListWalk::appendRemovedItems()
{
    QStringList removedUUIDs;
    for (const QString &uuid : m_oldUUIDList) {
        if (!m_newUUIDs.contains(uuid))
            removedUUIDs.append(uuid);
    }
    QStringList removedIDs;
    for (const QString &id : m_oldIDList) {
        if (!m_newIDs.contains(id))
            removedIDs.append(id);
    }
    if (removedUUIDs.isEmpty() && removedIDs.isEmpty())
        return;

    // One pass over the base document finds the first uuid element holding each removed text and the
    // first element carrying each removed id, so that thousands of removed items cost no more than one.
    const QSet<QString> wantedUUIDs(removedUUIDs.begin(), removedUUIDs.end());
    const QSet<QString> wantedIDs(removedIDs.begin(), removedIDs.end());
    QHash<QString, Node> uuidElements;
    QHash<QString, Node> idElements;
    Node current = m_baseDoc.first_child();
    while (current) {
        if (current.type() == pugi::node_element) {
            if (!wantedUUIDs.isEmpty() && is(current.name(), "uuid")) {
                for (const Node child : current.children()) {
                    const QString text = QString::fromUtf8(child.value());
                    if ((child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
                        && wantedUUIDs.contains(text) && !uuidElements.contains(text))
                        uuidElements.insert(text, current);
                }
            }
            if (const pugi::xml_attribute id = current.attribute("id"); id && !wantedIDs.isEmpty()) {
                const QString text = QString::fromUtf8(id.value());
                if (wantedIDs.contains(text) && !idElements.contains(text))
                    idElements.insert(text, current);
            }
        }
        if (current.first_child()) {
            current = current.first_child();
            continue;
        }
        while (current && !current.next_sibling())
            current = current.parent();
        if (current)
            current = current.next_sibling();
    }

    QSet<pugi::xml_node_struct *> reported;
    const auto report = [&](const Node &item) {
        if (reported.contains(item.internal_object()))
            return;
        reported.insert(item.internal_object());
        m_list.append(qfFormat("%@ %@ removed", m_engine.typeOfNode(item), QFXMLParser::nameForNode(item)));
    };
    for (const QString &uuid : removedUUIDs) {
        const Node element = uuidElements.value(uuid);
        if (element && !is(nameOf(element.parent()), "itemhistory"))
            report(element.parent());
    }
    for (const QString &id : removedIDs) {
        if (const Node element = idElements.value(id))
            report(element);
    }
}

bool QFTombrelBackup::processingCancelled() const
{
    return m_processingCancelled;
}

void QFTombrelBackup::setProcessingCancelled(bool processingCancelled)
{
    m_processingCancelled = processingCancelled;
}

bool QFTombrelBackup::hasGUI() const
{
    return m_hasGUI;
}

void QFTombrelBackup::setHasGUI(bool hasGUI)
{
    m_hasGUI = hasGUI;
}

void QFTombrelBackup::setEndProgressHandler(std::function<void()> handler)
{
    m_endProgressHandler = std::move(handler);
}

void QFTombrelBackup::endProgress()
{
    if (!m_endProgressHandler)
        return;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread())
        m_endProgressHandler();
    else
        QMetaObject::invokeMethod(app, m_endProgressHandler, Qt::BlockingQueuedConnection);
}

bool QFTombrelBackup::cancelledWithGUI() const
{
    return m_processingCancelled && m_hasGUI;
}

std::optional<QStringList> QFTombrelBackup::changeListForFCPXMLDoc(const pugi::xml_document *doc,
    const pugi::xml_document *baseDoc, const QStringList &oldUUIDList, const QStringList &oldIDList,
    const QStringList &newUUIDList, const QStringList &newIDList)
{
    if (!doc || !baseDoc)
        return QStringList();
    if (doc == baseDoc)
        return QStringList { QStringLiteral("No change") };
    return ChangeListWalk(*this, *doc, *baseDoc, oldUUIDList, oldIDList, newUUIDList, newIDList).run();
}

pugi::xml_node QFTombrelBackup::nextBaseNode(const pugi::xml_node &oldNode, const pugi::xml_node &newNode) const
{
    if (!sameName(nameOf(newNode), nameOf(oldNode))) {
        const Node first = QFXMLParser::nextSiblingForNode(oldNode);
        if (sameName(nameOf(first), nameOf(newNode)))
            return first;
        const Node second = QFXMLParser::nextSiblingForNode(oldNode.parent());
        if (sameName(nameOf(second), nameOf(newNode)))
            return second;
    }
    return QFXMLParser::previousNode(oldNode);
}

QString QFTombrelBackup::timecodeFromFrames(const QString &frames, const pugi::xml_node &withNode) const
{
    const Node sequence = ancestorNamed(withNode, "sequence");
    const QString timebaseText = QFXMLParser::stringValueForQuery(QStringLiteral("./rate[1]/timebase[1]"),
        sequence ? sequence : withNode);
    long long timebase = timebaseText.isNull() ? 30 : intValue(timebaseText);
    // A rate of zero or less cannot count frames; such a document gets the usual rate.
    if (timebase <= 0)
        timebase = 30;
    long long count = intValue(frames);
    bool dropFrame = true;
    if (sequence) {
        const QString start = QFXMLParser::stringValueForQuery(QStringLiteral("./timecode[1]/frame[1]"), sequence);
        // One hour at 29.97 frames per second, drop frame: where sequences start by default.
        count += start.isNull() ? 107892 : intValue(start);
        dropFrame = QFXMLParser::stringValueForQuery(QStringLiteral("./timecode[1]/displayformat[1]"), sequence)
            != QLatin1String("NDF");
    }
    if (dropFrame) {
        const long long minutes = (count / timebase) / 60;
        count += 2 * (minutes - minutes / 10);
    }
    const long long frame = count % timebase;
    const long long totalSeconds = count / timebase;
    const long long seconds = totalSeconds % 60;
    const long long minutes = (totalSeconds / 60) % 60;
    const long long hours = (totalSeconds / 3600) % 24;
    if (dropFrame)
        return qfFormat("%0.2li:%0.2li:%0.2li;%0.2li", hours, minutes, seconds, frame);
    return qfFormat("%0.2li:%0.2li:%0.2li:%0.2li", hours, minutes, seconds, frame);
}

QString QFTombrelBackup::startTimeForNode(const pugi::xml_node &node) const
{
    for (const char *query : { "./start[1]/text()", "./in[1]/text()", ".//start[1]/text()", ".//in[1]/text()" }) {
        const QString frames = QFXMLParser::stringValueForQuery(QString::fromLatin1(query), node);
        if (!frames.isNull())
            return timecodeFromFrames(frames, node);
    }
    return {};
}

QStringList QFTombrelBackup::uuidHistoryForNode(const pugi::xml_node &node) const
{
    QStringList history = QFXMLParser::stringValuesForQuery(QStringLiteral("./itemhistory[1]/uuid[1]"), node);
    if (history.isEmpty())
        history = QFXMLParser::stringValuesForQuery(QStringLiteral(".//itemhistory[1]/uuid[1]"), node);
    history.removeAll(QStringLiteral(""));
    return history;
}

QString QFTombrelBackup::typeOfNode(const pugi::xml_node &node) const
{
    const QString name = QFXMLParser::name(node);
    if (name.isNull())
        return name;
    return capitalized(QString(name).replace(QLatin1String("clipitem"), QLatin1String("clip")));
}

QString QFTombrelBackup::capitalizeFirstLetter(const QString &string) const
{
    if (string.isEmpty())
        return string;
    return string.left(1).toUpper() + string.mid(1);
}

QString QFTombrelBackup::changeStringFromFCPNode(const pugi::xml_node &node, const QString &nodeName,
    const QString &nodeValue, const pugi::xml_node &nodeParent, const QString &nodeParentName,
    const pugi::xml_node &oldNode, const QString &oldValue, const QStringList &withUUIDList,
    const QStringList &withIDList)
{
    return changeString(node, nodeName, nodeValue, nodeParent, nodeParentName, oldValue,
        [&withUUIDList](const QString &uuid) { return withUUIDList.contains(uuid); });
}

QString QFTombrelBackup::changeString(const pugi::xml_node &node, const QString &nodeName, const QString &nodeValue,
    const pugi::xml_node &nodeParent, const QString &nodeParentName, const QString &oldValue,
    const std::function<bool(const QString &)> &isOldUUID)
{
    if (cancelledWithGUI()) {
        endProgress();
        return {};
    }
    const QByteArray nameBytes = nodeName.toUtf8();
    const QByteArray parentBytes = nodeParentName.toUtf8();
    const char *n = nameBytes.constData();
    const char *p = parentBytes.constData();
    if (isOneOf(n, { "children", "project", "video", "audio", "media", "track", "filter", "effectid", "effectcategory",
                       "effecttype", "masterclipid", "ismasterclip", "privatestate", "outputchannelindex", "data" }))
        return {};

    const QString &value = nodeValue;
    const Node grandparent = nodeParent.parent();
    const Node greatGrandparent = grandparent.parent();
    const char *a1 = nameOf(grandparent);
    const char *a2 = nameOf(greatGrandparent);
    const bool removed = value == QLatin1String("-1");
    const auto nameOfNode = [](const Node &item) { return QFXMLParser::nameForNode(item); };
    const auto tc = [&](const QString &frames) { return timecodeFromFrames(frames, node); };
    const long long delta = intValue(value) - intValue(oldValue);
    const QString sign = delta > 0 ? QStringLiteral("+") : QStringLiteral("");
    const auto changePhrase = [&] { return removed ? QStringLiteral("removed") : qfFormat("changed to %@", tc(value)); };
    const auto kindOfParent = [&] { return itemKind(nodeParent, ".//subclipinfo[1]", ".//stillframeoffset[1]"); };
    const bool clipParent = isOneOf(p, { "clipitem", "clip" });
    const auto fallback = [&] {
        QFLog::appendLog("Unknown change: %@ changed to %@. XPath: %@", capitalizeFirstLetter(nodeName), value,
            QFXMLParser::xPath(node));
        return qfFormat("%@ changed to %@", capitalizeFirstLetter(nodeName), value);
    };

    if (is(n, "name")) {
        if (is(p, "project"))
            return qfFormat("Project name changed to %@", value);
        if (clipParent) {
            const QString uuid = QFXMLParser::uuidForNode(nodeParent);
            if (uuid.isNull())
                return fallback();
            const QString kind = itemKind(nodeParent, ".//subclipinfo[1]/text()", ".//stillframeoffset[1]/text()");
            if (isOldUUID(uuid)) {
                const QString itemName = nameOfNode(nodeParent);
                if (itemName == value)
                    return {};
                return qfFormat("%@ %@ name changed to %@", itemName, kind, value);
            }
            const Node multiclip = ancestorNamed(node, "multiclip");
            const Node sequence = ancestorNamed(node, "sequence");
            return qfFormat("New %@%@ added%@%@: %@", mediaPrefix(node), kind,
                multiclip ? part(" to multiclip %@", nameOfNode(multiclip)) : QStringLiteral(""),
                sequence ? part(" for sequence %@", nameOfNode(sequence)) : QStringLiteral(""), value);
        }
        if (is(p, "bin")) {
            const QString uuid = QFXMLParser::uuidForNode(nodeParent);
            if (uuid.isNull())
                return fallback();
            if (isOldUUID(uuid))
                return qfFormat("%@ bin name changed to %@", oldValue, value);
            return qfFormat("New bin added: %@", value);
        }
        if (is(p, "codec")) {
            if (pathContains(node, "clipitem"))
                return qfFormat("Clip codec changed to %@", value);
            if (pathContains(node, "sequence"))
                return qfFormat("Sequence codec changed to %@", value);
            return {};
        }
        if (is(p, "marker")) {
            const Node clip = ancestorNamed(node, "clipitem");
            const Node sequence = ancestorNamed(node, "sequence");
            return qfFormat("Marker %@ added%@%@", value, clip ? part(" to clip %@", nameOfNode(clip)) : QStringLiteral(""),
                sequence ? part(" for sequence %@", nameOfNode(sequence)) : QStringLiteral(""));
        }
        return {};
    }

    if (is(n, "value")) {
        if (is(a1, "effect"))
            return qfFormat("%@ set to %@ for %@ Filter", capitalizeFirstLetter(nameOfNode(nodeParent)), value,
                nameOfNode(grandparent));
        if (is(p, "keyframe")) {
            const Node effect = ancestorNamed(node, "effect");
            const Node clip = ancestorNamed(node, "clipitem");
            return qfFormat("Keyframe at %@ set to %@%@%@", QFXMLParser::stringValue(QFXMLParser::previousNode(node)),
                value, effect ? part(" for filter %@", nameOfNode(effect)) : QStringLiteral(""),
                clip ? part(" on clip %@", nameOfNode(clip)) : QStringLiteral(""));
        }
        return fallback();
    }

    if (is(n, "duration")) {
        if (is(p, "sequence"))
            return qfFormat("%@ sequence duration changed from %@ to %@ (%@%li)", nameOfNode(nodeParent), tc(oldValue),
                tc(value), sign, delta);
        if (clipParent)
            return qfFormat("%@ %@ duration changed from %@ to %@ (%@%i)", nameOfNode(nodeParent), kindOfParent(),
                tc(oldValue), tc(value), sign, delta);
        if (is(p, "generatoritem"))
            return qfFormat("Duration changed to %@ for %@ generator", tc(value), nameOfNode(nodeParent));
        return fallback();
    }

    if (is(n, "in") || is(n, "out")) {
        const bool in = is(n, "in");
        if (is(p, "sequence")) {
            if (removed)
                return qfFormat(in ? "In Point of sequence %@ removed" : "Out Point of sequence %@ removed",
                    nameOfNode(nodeParent));
            return qfFormat(in ? "In Point of sequence %@ changed from %@ to %@ (%@%i)"
                               : "Out Point of sequence %@ changed from %@ to %@ (%@%i)",
                nameOfNode(nodeParent), tc(oldValue), tc(value), sign, delta);
        }
        if (clipParent) {
            if (removed)
                return qfFormat(in ? "In Point of %@ %@ removed" : "Out Point of %@ %@ removed", kindOfParent(),
                    nameOfNode(nodeParent));
            return qfFormat(in ? "In Point of %@ %@ changed from %@ to %@ (%@%i)"
                               : "Out Point of %@ %@ changed from %@ to %@ (%@%i)",
                kindOfParent(), nameOfNode(nodeParent), tc(oldValue), tc(value), sign, delta);
        }
        if (is(p, "generatoritem"))
            return qfFormat(in ? "In Point of generator %@ %@" : "Out Point of generator %@ %@", nameOfNode(nodeParent),
                changePhrase());
        if (is(p, "effect"))
            return qfFormat(in ? "In Point of filter %@ %@" : "Out Point of filter %@ %@", nameOfNode(nodeParent),
                changePhrase());
        if (is(p, "transitionitem"))
            return qfFormat(in ? "In Point of transition %@ %@" : "Out Point of transition %@ %@",
                nameOfNode(nodeParent), changePhrase());
        if (is(p, "marker"))
            return qfFormat(in ? "In Point of marker %@ %@" : "Out Point of marker %@ %@", nameOfNode(nodeParent),
                changePhrase());
        if (in && isOneOf(p, { "audio", "video" })) {
            if (isOneOf(a2, { "clip", "clipitem" })) {
                if (removed)
                    return qfFormat("In Point of %@ clip %@ removed", nodeParentName, nameOfNode(greatGrandparent));
                return qfFormat("In Point of %@ clip %@ changed from %@ to %@ (%@%i)", nodeParentName,
                    nameOfNode(greatGrandparent), tc(oldValue), tc(value), sign, delta);
            }
            if (is(a2, "sequence")) {
                if (removed)
                    return qfFormat("In Point of %@ track in sequence %@ removed", nodeParentName,
                        nameOfNode(greatGrandparent));
                return qfFormat("In Point of %@ track in sequence %@ changed from %@ to %@ (%@%i)", nodeParentName,
                    nameOfNode(greatGrandparent), tc(oldValue), tc(value), sign, delta);
            }
        }
        if (!in && is(p, "audio")) {
            if (isOneOf(a2, { "clip", "clipitem" })) {
                if (removed)
                    return qfFormat("Out Point of audio clip %@ removed", nameOfNode(greatGrandparent));
                return qfFormat("Out Point of audio clip %@ changed from %@ to %@ (%@%i)", nameOfNode(greatGrandparent),
                    tc(oldValue), tc(value), sign, delta);
            }
            if (is(a2, "sequence")) {
                if (removed)
                    return qfFormat("Out Point of %@ track in sequence %@ removed", nodeParentName,
                        nameOfNode(greatGrandparent));
                return qfFormat("Out Point of %@ track in sequence %@ changed from %@ to %@ (%@%i)", nodeParentName,
                    nameOfNode(greatGrandparent), tc(oldValue), tc(value), sign, delta);
            }
        }
        return fallback();
    }

    if (is(n, "start") || is(n, "end")) {
        const bool start = is(n, "start");
        if (is(p, "sequence"))
            return qfFormat(start ? "%@ sequence Start changed from %@ to %@ (%@%i)"
                                  : "%@ sequence End changed from %@ to %@ (%@%i)",
                nameOfNode(nodeParent), tc(oldValue), tc(value), sign, delta);
        if (clipParent) {
            if (removed)
                return qfFormat(start ? "Transition added at beginning of %@%@ %@" : "Transition added at end of %@%@ %@",
                    mediaPrefix(node), kindOfParent(), nameOfNode(nodeParent));
            return qfFormat(start ? "Start point of %@%@ %@ changed from %@ to %@ (%@%i)"
                                  : "End point of %@%@ %@ changed from %@ to %@ (%@%i)",
                mediaPrefix(node), kindOfParent(), nameOfNode(nodeParent), tc(oldValue), tc(value), sign, delta);
        }
        if (is(p, "generatoritem")) {
            if (removed)
                return qfFormat(start ? "Transition added at beginning of generator %@"
                                      : "Transition added at end of generator %@",
                    nameOfNode(nodeParent));
            return qfFormat(start ? "Start point of generator %@ changed from %@ to %@ (%@%i)"
                                  : "End point of generator %@ changed from %@ to %@ (%@%i)",
                nameOfNode(nodeParent), tc(oldValue), tc(value), sign, delta);
        }
        if (is(p, "transitionitem"))
            return qfFormat(start ? "Start point of transition %@ %@" : "End point of transition %@ %@",
                nameOfNode(nodeParent), changePhrase());
        if (is(p, "filter"))
            return qfFormat(start ? "Start point of filter %@ %@" : "End point of filter %@ %@", nameOfNode(nodeParent),
                changePhrase());
        if (is(p, "audio") && isOneOf(a2, { "clip", "clipitem" })) {
            if (removed)
                return qfFormat(start ? "Transition added at beginning of audio clip %@"
                                      : "Transition added at end of audio clip %@",
                    nameOfNode(greatGrandparent));
            return qfFormat(start ? "Start of audio clip %@ changed from %@ to %@ (%@%i)"
                                  : "End of audio clip %@ changed from %@ to %@ (%@%i)",
                nameOfNode(greatGrandparent), tc(oldValue), tc(value), sign, delta);
        }
        return fallback();
    }

    if (isOneOf(n, { "startoffset", "mediadelay" })) {
        if (is(p, "subclipinfo") && isOneOf(a1, { "clipitem", "clip" }))
            return qfFormat("Start point of subclip %@ changed from %@ to %@ (%@%i)", nameOfNode(grandparent),
                tc(oldValue), tc(value), sign, delta);
        return fallback();
    }
    if (is(n, "endoffset")) {
        if (is(p, "subclipinfo") && isOneOf(a1, { "clipitem", "clip" }))
            return qfFormat("End point of subclip %@ changed to %@", nameOfNode(grandparent), tc(value));
        return fallback();
    }

    if (isOneOf(n, { "width", "height", "pixelaspectratio", "fielddominance" })) {
        // The sequence or clip item whose format this is: parent, then four levels up.
        Node owner = nodeParent;
        for (int level = 0; level < 4 && owner; ++level)
            owner = owner.parent();
        const char *x = nameOf(owner);
        const int row = is(n, "width") ? 0 : is(n, "height") ? 1 : is(n, "pixelaspectratio") ? 2 : 3;
        if (is(x, "sequence")) {
            static const char *const formats[] = { "%@ sequence width changed to %@", "%@ sequence height changed to %@",
                "%@ sequence pixel aspect ratio changed to %@", "%@ sequence field dominance changed to %@" };
            return qfFormat(formats[row], nameOfNode(owner), value);
        }
        if (row == 3 && isOneOf(x, { "clipitem", "clip" }))
            return qfFormat("%@ %@ field dominance changed to %@",
                capitalizedItemKind(owner, ".//subclipinfo[1]", ".//stillframeoffset[1]"), nameOfNode(owner), value);
        if (row < 3 && is(x, "clipitem")) {
            static const char *const formats[] = { "%@ %@ width changed to %@", "%@ %@ height changed to %@",
                "%@ %@ pixel aspect ratio changed to %@" };
            return qfFormat(formats[row], capitalizedItemKind(owner, "./subclipinfo[1]", "./stillframeoffset[1]"),
                nameOfNode(owner), value);
        }
        return fallback();
    }

    if (isOneOf(n, { "timebase", "ntsc" })) {
        const bool ntsc = is(n, "ntsc");
        const QString isNTSC = value == QLatin1String("TRUE") ? QStringLiteral("is") : QStringLiteral("is not");
        if (is(a1, "sequence"))
            return ntsc ? qfFormat("%@ sequence %@ NTSC", nameOfNode(grandparent), isNTSC)
                        : qfFormat("%@ sequence timebase changed to %@", nameOfNode(grandparent), value);
        if (isOneOf(a1, { "clipitem", "clip" })) {
            const QString kind = capitalizedItemKind(grandparent, ".//subclipinfo[1]", ".//stillframeoffset[1]");
            return ntsc ? qfFormat("%@ %@ %@ NTSC", kind, nameOfNode(grandparent), isNTSC)
                        : qfFormat("%@ %@ timebase changed to %@", kind, nameOfNode(grandparent), value);
        }
        return fallback();
    }

    if (is(n, "enabled")) {
        const QString state = value == QLatin1String("FALSE") ? QStringLiteral("disabled") : QStringLiteral("enabled");
        if (is(p, "sequence"))
            return qfFormat("%@ sequence %@", nameOfNode(nodeParent), state);
        if (is(p, "clipitem"))
            return qfFormat("%@ %@ %@", capitalizedItemKind(nodeParent, "./subclipinfo[1]", "./stillframeoffset[1]"),
                nameOfNode(nodeParent), state);
        if (is(p, "filter"))
            return qfFormat("%@ filter for clip %@ %@", nameOfNode(nodeParent), nameOfNode(grandparent), state);
        return fallback();
    }

    if (is(n, "alphatype")) {
        if (is(p, "generatoritem"))
            return qfFormat("Alpha type for generator %@ set to %@", nameOfNode(nodeParent), value);
        if (is(p, "effect"))
            return qfFormat("Alpha type for filter %@ set to %@", nameOfNode(nodeParent), value);
        if (is(p, "clipitem"))
            return qfFormat("Alpha type for clip %@ set to %@", nameOfNode(nodeParent), value);
        return fallback();
    }

    if (pathContains(node, "effect")) {
        const Node effect = is(p, "effect") ? nodeParent
            : is(a1, "effect")              ? grandparent
            : is(a2, "effect")              ? greatGrandparent
                                            : Node();
        return qfFormat("%@ set to %@ for %@ Filter", capitalizeFirstLetter(nodeName), value,
            effect ? nameOfNode(effect) : QString());
    }
    if (is(n, "alignment") && is(p, "transitionitem"))
        return qfFormat("Transition aligment set to %@ for %@", value, nameOfNode(nodeParent));
    if (is(n, "comment") && is(p, "marker"))
        return qfFormat("%@ marker description changed to %@", nameOfNode(nodeParent), value);
    if (isOneOf(n, { "shottake", "scene" })) {
        const QString clipName = nameOfNode(QFXMLParser::node(nodeParent, QStringLiteral("clip")));
        return qfFormat(is(n, "shottake") ? "Shot changed to %@ for clip %@" : "Scene changed to %@ for clip %@", value,
            clipName);
    }
    return fallback();
}
