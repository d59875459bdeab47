#include "engine/QFChangeListWalk.h"

#include "engine/QFTombrelBackup.h"
#include "engine/QFXMLParser.h"
#include "foundation/QFLog.h"

#include <QHash>

#include <algorithm>
#include <cstring>

using Node = pugi::xml_node;
using namespace QFChangeNodes;

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

QFChangeListWalk::Side::Side(const pugi::xml_document &document)
    : order(document)
    , root(order.size())
{
    // The document element: the first element among the document's children.
    for (int at = 1; at < order.size(); at = order.end(at)) {
        if (order.name(at)) {
            root = at;
            break;
        }
    }
}

QFChangeListWalk::Place QFChangeListWalk::nextBase(int oldAt, int newAt) const
{
    const Side &older = *m_oldSide;
    const char *newName = m_newSide->name(newAt);
    Place result;
    if (!sameName(newName, older.name(oldAt))) {
        const int first = older.nextSibling(oldAt);
        if (sameName(older.name(first), newName)) {
            result.setAt(first);
            return result;
        }
        const int second = older.nextSibling(older.parent(oldAt));
        if (sameName(older.name(second), newName)) {
            result.setAt(second);
            return result;
        }
    }
    result.setBefore(oldAt);
    return result;
}

bool QFChangeListWalk::valuesDiffer(int newAt, int oldAt)
{
    const QFXMLParser::Order &newOrder = m_newSide->order;
    const QFXMLParser::Order &oldOrder = m_oldSide->order;
    // An only child right below the pair compared last: its text is theirs.
    if (newAt - 1 == m_lastCompared.newAt && oldAt - 1 == m_lastCompared.oldAt
        && newOrder.end(newAt) == newOrder.end(newAt - 1) && oldOrder.end(oldAt) == oldOrder.end(oldAt - 1)) {
        m_lastCompared.newAt = newAt;
        m_lastCompared.oldAt = oldAt;
        return m_lastCompared.differ;
    }
    const bool differ = QFXMLParser::Order::textsDiffer(newOrder, newAt, oldOrder, oldAt);
    m_lastCompared.newAt = newAt;
    m_lastCompared.oldAt = oldAt;
    m_lastCompared.differ = differ;
    return differ;
}

std::optional<QStringList> QFChangeListWalk::run()
{
    QFLog::appendLog("Getting changelist from XML doc...");

    const Node newRoot = m_doc.document_element();
    const Node oldRoot = m_baseDoc.document_element();
    const Node firstNew = QFXMLParser::nextNode(newRoot);
    const Node firstOld = QFXMLParser::nextNode(oldRoot);
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

    m_newSide.emplace(m_doc);
    m_oldSide.emplace(m_baseDoc);
    const Side &newer = *m_newSide;
    const Side &older = *m_oldSide;
    m_new.setAt(newer.root);
    m_old.setAt(older.root);

    while (newer.peekNext(m_new) != newer.none()) {
        newer.advance(m_new);
        older.advance(m_old);
        const int newAt = m_new.at;
        const int oldAt = m_old.at;
        const char *n = newer.name(newAt);
        const char *o = older.name(oldAt);

        if (m_engine.cancelledWithGUI()) {
            QFLog::appendLog("Change log generation was cancelled");
            m_engine.endProgress();
            return std::nullopt;
        }
        if (!n && !o)
            continue;

        // Parts of an item that say nothing to an editor, or change with every export.
        if (isOneOf(n, { "uuid", "itemhistory", "link", "linkclipref", "trackindex", "file", "mediatype" })) {
            newer.skipSubtree(m_new, newAt);
            if (sameName(o, n))
                older.skipSubtree(m_old, oldAt);
            else
                m_old = nextBase(oldAt, newer.peekNext(m_new));
            continue;
        }
        if (!sameName(n, o)) {
            structuralDifference(newAt, oldAt);
            // A step that leaves both cursors where they were would be taken again forever: move on.
            if (newer.peekNext(m_new) == newAt && older.peekNext(m_old) == oldAt)
                m_new.setAt(newAt);
            continue;
        }
        if (newer.order.hasFewerThanTwoChildren(newAt) && older.order.hasFewerThanTwoChildren(oldAt)
            && valuesDiffer(newAt, oldAt))
            valueChange(newAt, oldAt);
    }

    appendRemovedItems();
    m_newSide.reset();
    m_oldSide.reset();
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

void QFChangeListWalk::structuralDifference(int newAt, int oldAt)
{
    const Side &newer = *m_newSide;
    const Side &older = *m_oldSide;
    const char *n = newer.name(newAt);
    const char *o = older.name(oldAt);
    const int parent = newer.parent(newAt);
    const char *p = newer.name(parent);

    const auto passItem = [&] {
        newer.skipSubtree(m_new, newAt);
        m_old = nextBase(oldAt, newer.peekNext(m_new));
    };
    if (is(p, "timecode") || (is(n, "angle") && is(p, "multiclip"))) {
        passItem();
        return;
    }

    // How the two documents line up again after an inserted or a removed node.
    const int oldParent = older.parent(oldAt);
    int realignment = -1;
    if (sameName(newer.name(newer.next(newAt)), o))
        realignment = 0;
    else if (sameName(newer.name(newer.nextSibling(parent)), o))
        realignment = 1;
    else if (sameName(older.name(older.next(oldAt)), n))
        realignment = 2;
    else if (sameName(older.name(older.nextSibling(oldParent)), n))
        realignment = 3;

    const Next next = n ? tellNewItem(newer.node(newAt), n) : Next::Realign;
    if (next == Next::PassItem || next == Next::PassItemAndRealign)
        passItem();
    if (next != Next::Realign && next != Next::PassItemAndRealign)
        return;

    switch (realignment) {
    case 0:
        older.stepBack(m_old);
        break;
    case 1:
        older.stepBack(m_old);
        newer.skipSubtree(m_new, parent);
        break;
    case 2:
        newer.stepBack(m_new);
        break;
    case 3:
        older.skipSubtree(m_old, oldParent);
        newer.stepBack(m_new);
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

void QFChangeListWalk::valueChange(int newAt, int oldAt)
{
    const Side &newer = *m_newSide;
    const Side &older = *m_oldSide;
    const char *n = newer.name(newAt);
    const int parent = newer.parent(newAt);
    const char *p = newer.name(parent);
    const int oldParent = older.parent(oldAt);

    if (is(p, "timecode") || (is(n, "angle") && is(p, "multiclip"))) {
        newer.skipSubtree(m_new, newAt);
        older.skipSubtree(m_old, oldAt);
        return;
    }
    const Node newNode = newer.node(newAt);
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
        newer.skipSubtree(m_new, newer.parent(parent));
        older.skipSubtree(m_old, older.parent(oldParent));
        return;
    }
    // An item's start or end moves its in or out point too; one line says it.
    if ((is(n, "in") && is(m_lastReported, "start")) || (is(n, "out") && is(m_lastReported, "end"))) {
        newer.advance(m_new);
        older.advance(m_old);
        return;
    }
    if (((is(n, "start") && is(m_lastReported, "in")) || (is(n, "end") && is(m_lastReported, "out")))
        && !m_list.isEmpty())
        m_list.removeLast();

    // The engine's own entry, given the older node and lists: the older text is read there only when a
    // sentence needs it.
    const QString sentence = m_engine.changeStringFromFCPNode(newNode, QString::fromUtf8(n), value,
        newer.node(parent), QString::fromUtf8(p ? p : ""), older.node(oldAt), QString(), m_oldUUIDList, m_oldIDList);
    if (!sentence.isNull() && (m_list.isEmpty() || m_list.last() != sentence)) {
        m_list.append(sentence);
        m_lastReported = n;
    }
    if (is(n, "name") && is(p, "codec")) {
        older.skipSubtree(m_old, oldParent);
        newer.skipSubtree(m_new, parent);
    } else {
        newer.advance(m_new);
        older.advance(m_old);
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
    const QFXMLParser::Order &order = m_oldSide->order;
    const QFXMLParser::Records &read = order.records();
    QHash<QString, int> uuidElements;
    QHash<QString, int> idElements;
    for (int at = 1; at < order.size(); ++at) {
        const char *name = order.name(at);
        if (!name)
            continue;
        if (!removedUUIDs.isEmpty() && name[0] == 'u' && std::strcmp(name, "uuid") == 0) {
            for (int child = at + 1; child < order.end(at); child = order.end(child)) {
                if (!order.isText(child))
                    continue;
                const QString text = QString::fromUtf8(order.text(child));
                if (wantedUUIDs.contains(text) && !uuidElements.contains(text))
                    uuidElements.insert(text, at);
            }
        }
        if (removedIDs.isEmpty())
            continue;
        if (const char *id = read.attribute(order.record(at), "id")) {
            const QString text = QString::fromUtf8(id);
            if (wantedIDs.contains(text) && !idElements.contains(text))
                idElements.insert(text, at);
        }
    }

    QSet<int> reported;
    const auto report = [&](int item) {
        if (reported.contains(item))
            return;
        reported.insert(item);
        m_list.append(QFChangePhrases::removedItem(m_engine, order.node(item)));
    };
    for (const QString &uuid : removedUUIDs) {
        const auto found = uuidElements.constFind(uuid);
        if (found == uuidElements.constEnd())
            continue;
        const int item = order.parent(*found);
        if (!is(order.name(item), "itemhistory"))
            report(item);
    }
    for (const QString &id : removedIDs) {
        const auto found = idElements.constFind(id);
        if (found != idElements.constEnd())
            report(*found);
    }
}
