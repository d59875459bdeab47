#include "engine/QFChangeListWalk.h"

#include "engine/QFTombrelBackup.h"
#include "engine/QFXMLParser.h"
#include "foundation/QFLog.h"

#include <QHash>

#include <algorithm>
#include <cstring>

using Node = pugi::xml_node;
using namespace QFChangeNodes;

namespace {

bool hasFewerThanTwoChildren(const Node &node)
{
    const Node first = node.first_child();
    return !first || !first.next_sibling();
}

// The texts below an element in document order, a piece at a time as they stand in the document, so that
// two elements' texts are compared without copying either.
class TextPieces {
public:
    explicit TextPieces(const Node &root)
        : m_root(root)
        , m_current(root)
    {
        next();
    }

    bool atEnd() const { return !m_current; }
    // What is left of the current piece.
    const char *rest() const { return m_rest; }
    size_t restSize() const { return m_size; }

    void consume(size_t length)
    {
        m_rest += length;
        m_size -= length;
        if (m_size == 0)
            next();
    }

private:
    // On to the next text that is not empty, depth first as QFXMLParser::appendText goes.
    void next()
    {
        do {
            if (const Node child = m_current.first_child()) {
                m_current = child;
            } else {
                while (m_current && m_current != m_root && !m_current.next_sibling())
                    m_current = m_current.parent();
                m_current = m_current && m_current != m_root ? m_current.next_sibling() : Node();
            }
            if (m_current && (m_current.type() == pugi::node_pcdata || m_current.type() == pugi::node_cdata)) {
                m_rest = m_current.value();
                m_size = std::strlen(m_rest);
            } else {
                m_size = 0;
            }
        } while (m_current && m_size == 0);
    }

    const Node m_root;
    Node m_current;
    const char *m_rest = "";
    size_t m_size = 0;
};

bool textsDiffer(const Node &a, const Node &b)
{
    TextPieces left(a);
    TextPieces right(b);
    while (!left.atEnd() && !right.atEnd()) {
        const size_t length = std::min(left.restSize(), right.restSize());
        if (std::memcmp(left.rest(), right.rest(), length) != 0)
            return true;
        left.consume(length);
        right.consume(length);
    }
    return left.atEnd() != right.atEnd();
}

} // namespace

void QFChangeListWalk::Cursor::stepBack()
{
    if (before)
        node = QFXMLParser::previousNode(node);
    else
        before = true;
}

Node QFChangeListWalk::Cursor::resolved() const
{
    return before ? QFXMLParser::previousNode(node) : node;
}

Node QFChangeListWalk::Climbs::nextSibling(const Node &node)
{
    if (!node)
        return {};
    if (const Node sibling = node.next_sibling())
        return sibling;
    m_path.clear();
    Node result;
    for (Node current = node; current; current = current.parent()) {
        if (const Node sibling = current.next_sibling()) {
            result = sibling;
            break;
        }
        const auto known = m_ends.find(current.internal_object());
        if (known != m_ends.end()) {
            result = Node(known->second);
            break;
        }
        m_path.push_back(current.internal_object());
    }
    // Only long climbs are remembered: short ones cost less than the entries.
    if (m_path.size() > 16) {
        for (pugi::xml_node_struct *passed : m_path)
            m_ends.emplace(passed, result.internal_object());
    }
    return result;
}

Node QFChangeListWalk::Climbs::nextNode(const Node &node)
{
    if (!node)
        return {};
    if (const Node child = node.first_child())
        return child;
    return nextSibling(node);
}

QFChangeListWalk::QFChangeListWalk(QFTombrelBackup &engine, const pugi::xml_document &doc,
    const pugi::xml_document &baseDoc, const QStringList &oldUUIDList, const QStringList &oldIDList,
    const QStringList &newUUIDList, const QStringList &newIDList)
    : m_engine(engine)
    , m_doc(doc)
    , m_baseDoc(baseDoc)
    , m_oldUUIDList(oldUUIDList)
    , m_oldIDList(oldIDList)
    , m_oldUUIDs(oldUUIDList)
    , m_oldIDs(oldIDList)
    , m_newUUIDs(newUUIDList)
    , m_newIDs(newIDList)
{
}

QFChangeListWalk::Cursor QFChangeListWalk::nextBase(const Node &oldNode, const Node &newNode, Climbs &climbs)
{
    Cursor result;
    if (!sameName(nameOf(newNode), nameOf(oldNode))) {
        const Node first = climbs.nextSibling(oldNode);
        if (sameName(nameOf(first), nameOf(newNode))) {
            result.setAt(first);
            return result;
        }
        const Node second = climbs.nextSibling(oldNode.parent());
        if (sameName(nameOf(second), nameOf(newNode))) {
            result.setAt(second);
            return result;
        }
    }
    result.setBefore(oldNode);
    return result;
}

Node QFChangeListWalk::peekNext(const Cursor &cursor)
{
    return cursor.before ? cursor.node : m_climbs.nextNode(cursor.node);
}

void QFChangeListWalk::advance(Cursor &cursor)
{
    if (cursor.before)
        cursor.before = false;
    else
        cursor.node = m_climbs.nextNode(cursor.node);
}

void QFChangeListWalk::skipSubtree(Cursor &cursor, const Node &node)
{
    cursor.setBefore(m_climbs.nextSibling(node));
}

bool QFChangeListWalk::valuesDiffer(const Node &newNode, const Node &oldNode)
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
        differ = textsDiffer(newNode, oldNode);
    }
    m_lastCompared = { newNode, oldNode, differ };
    return differ;
}

std::optional<QStringList> QFChangeListWalk::run()
{
    QFLog::appendLog("Getting changelist from XML doc...");

    const Node newRoot = m_doc.document_element();
    const Node oldRoot = m_baseDoc.document_element();
    const Node firstNew = m_climbs.nextNode(newRoot);
    const Node firstOld = m_climbs.nextNode(oldRoot);
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
                m_old = nextBase(oldNode, peekNext(m_new), m_climbs);
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

const QSet<QString> &QFChangeListWalk::baseMarkerNames()
{
    if (!m_baseMarkerNames) {
        const QStringList names = QFXMLParser::stringValuesForQuery(QStringLiteral("//marker/name[1]"), m_baseDoc);
        m_baseMarkerNames.emplace(names.begin(), names.end());
    }
    return *m_baseMarkerNames;
}

bool QFChangeListWalk::isNewItem(const Node &node, const char *name)
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

void QFChangeListWalk::structuralDifference(const Node &newNode, const Node &oldNode)
{
    const char *n = nameOf(newNode);
    const char *o = nameOf(oldNode);
    const Node parent = newNode.parent();
    const char *p = nameOf(parent);

    const auto passItem = [&] {
        skipSubtree(m_new, newNode);
        m_old = nextBase(oldNode, peekNext(m_new), m_climbs);
    };
    if (is(p, "timecode") || (is(n, "angle") && is(p, "multiclip"))) {
        passItem();
        return;
    }

    // How the two documents line up again after an inserted or a removed node.
    int realignment = -1;
    if (sameName(nameOf(m_climbs.nextNode(newNode)), o))
        realignment = 0;
    else if (sameName(nameOf(m_climbs.nextSibling(parent)), o))
        realignment = 1;
    else if (sameName(nameOf(m_climbs.nextNode(oldNode)), n))
        realignment = 2;
    else if (sameName(nameOf(m_climbs.nextSibling(oldNode.parent())), n))
        realignment = 3;

    const Next next = tellNewItem(newNode, n);
    if (next == Next::PassItem || next == Next::PassItemAndRealign)
        passItem();
    if (next != Next::Realign && next != Next::PassItemAndRealign)
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

// Items that are new by their id or uuid get a line; markers and filters get one unless the older document
// has one of that name or every clip has them.
QFChangeListWalk::Next QFChangeListWalk::tellNewItem(const Node &newNode, const char *name)
{
    if (is(name, "multiclip")) {
        if (!isNewItem(newNode, name))
            return Next::Stay;
        m_list.append(QFChangePhrases::newMulticlip(m_engine, newNode));
        return Next::PassItem;
    }
    if (is(name, "clipitem")) {
        if (isNewItem(newNode, name))
            m_list.append(QFChangePhrases::newClip(m_engine, newNode));
        return Next::PassItem;
    }
    if (is(name, "bin")) {
        if (!isNewItem(newNode, name))
            return Next::Stay;
        m_list.append(QFChangePhrases::newBin(newNode));
        return Next::PassItem;
    }
    if (is(name, "generatoritem")) {
        if (isNewItem(newNode, name))
            m_list.append(QFChangePhrases::newGenerator(m_engine, newNode));
        return Next::PassItem;
    }
    if (is(name, "transitionitem")) {
        if (isNewItem(newNode, name))
            m_list.append(QFChangePhrases::newTransition(m_engine, newNode));
        return Next::PassItem;
    }
    if (is(name, "marker")) {
        const QString markerName = QFXMLParser::nameForNode(newNode);
        if (!markerName.isNull() && baseMarkerNames().contains(markerName))
            return Next::Stay;
        m_list.append(QFChangePhrases::newMarker(m_engine, newNode, markerName));
        return Next::PassItem;
    }
    if (is(name, "effect")) {
        if (const QString line = QFChangePhrases::newFilter(newNode); !line.isNull())
            m_list.append(line);
        return Next::PassItem;
    }
    if (is(name, "sequence")) {
        if (isNewItem(newNode, name))
            m_list.append(QFChangePhrases::newSequence(QFXMLParser::nameForNode(newNode)));
        return Next::PassItemAndRealign;
    }
    return Next::Realign;
}

void QFChangeListWalk::valueChange(const Node &newNode, const Node &oldNode)
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
            if (const QString line = QFChangePhrases::newEffectNamed(newNode, value); !line.isNull())
                m_list.append(line);
        } else {
            const QString uuid = QFXMLParser::uuidForNode(newNode);
            if (!uuid.isNull() && !m_oldUUIDs.contains(uuid))
                m_list.append(QFChangePhrases::newSequence(value));
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
    if (((is(n, "start") && is(m_lastReported, "in")) || (is(n, "end") && is(m_lastReported, "out")))
        && !m_list.isEmpty())
        m_list.removeLast();

    // The engine's own entry, given the older node and lists: the older text is read there only when a
    // sentence needs it.
    const QString sentence = m_engine.changeStringFromFCPNode(newNode, QString::fromUtf8(n), value, parent,
        QString::fromUtf8(p ? p : ""), oldNode, QString(), m_oldUUIDList, m_oldIDList);
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

void QFChangeListWalk::appendRemovedItems()
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
    const QFChangePhrases::TextIndex wantedUUIDs(removedUUIDs);
    const QFChangePhrases::TextIndex wantedIDs(removedIDs);
    QHash<QString, Node> uuidElements;
    QHash<QString, Node> idElements;
    Node current = m_baseDoc.first_child();
    while (current) {
        if (current.type() == pugi::node_element) {
            if (!removedUUIDs.isEmpty() && is(current.name(), "uuid")) {
                for (const Node child : current.children()) {
                    if (child.type() != pugi::node_pcdata && child.type() != pugi::node_cdata)
                        continue;
                    const QString text = QString::fromUtf8(child.value());
                    if (wantedUUIDs.contains(text) && !uuidElements.contains(text))
                        uuidElements.insert(text, current);
                }
            }
            if (const pugi::xml_attribute id = current.attribute("id"); id && !removedIDs.isEmpty()) {
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
        m_list.append(QFChangePhrases::removedItem(m_engine, item));
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
