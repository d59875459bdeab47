#include "engine/QFChangeListWalk.h"

#include "engine/QFChangeListWalkTexts.h"
#include "engine/QFTombrelBackup.h"
#include "engine/QFXMLParser.h"
#include "foundation/QFLog.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>

struct QFChangeListWalk::BaseScan {
    QSet<QString> markerNames;
    // The uuids and ids the newer document no longer has, in the base document's order.
    QStringList uuids;
    QStringList ids;
    std::optional<WantedTexts> removedUUIDs;
    std::optional<WantedTexts> removedIDs;
    // The first uuid element holding each and the first element carrying each, by where it first stands.
    std::vector<Record *> uuidElements;
    std::vector<Record *> idElements;
};

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

template <typename Read> Record *QFChangeListWalk::Climbs::longClimb(const Read &read, Record *node)
{
    m_path.clear();
    Record *result = nullptr;
    for (Record *current = node; current; current = read.parent(current)) {
        if (Record *sibling = read.nextSibling(current)) {
            result = sibling;
            break;
        }
        const auto known = m_ends.find(current);
        if (known != m_ends.end()) {
            result = known->second;
            break;
        }
        m_path.push_back(current);
    }
    // Only long climbs are remembered: short ones cost less than the entries.
    if (m_path.size() > size_t(kShortClimb)) {
        for (Record *passed : m_path)
            m_ends.emplace(passed, result);
    }
    return result;
}

template <typename Read> Record *QFChangeListWalk::Climbs::previousNode(const Read &read, Record *node)
{
    if (!node)
        return nullptr;
    Record *previous = read.previousSibling(node);
    if (!previous)
        return read.parent(node);
    while (Record *last = read.lastChild(previous))
        previous = last;
    return previous;
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

QFChangeListWalk::~QFChangeListWalk() = default;

template <typename Read>
QFChangeListWalk::Place QFChangeListWalk::nextBase(const Read &read, Record *oldNode, Record *newNode, Climbs &climbs)
{
    Place result;
    const char *newName = read.elementName(newNode);
    if (!sameName(newName, read.elementName(oldNode))) {
        Record *first = climbs.nextSibling(read, oldNode);
        if (sameName(read.elementName(first), newName)) {
            result.setAt(first);
            return result;
        }
        Record *second = oldNode ? climbs.nextSibling(read, read.parent(oldNode)) : nullptr;
        if (sameName(read.elementName(second), newName)) {
            result.setAt(second);
            return result;
        }
    }
    result.setBefore(oldNode);
    return result;
}

QFChangeListWalk::Cursor QFChangeListWalk::nextBase(const Node &oldNode, const Node &newNode, Climbs &climbs)
{
    return QFXMLParser::withRecords([&](const auto &read) {
        const Place place = nextBase(read, QFXMLParser::recordOf(oldNode), QFXMLParser::recordOf(newNode), climbs);
        Cursor result;
        if (place.before)
            result.setBefore(QFXMLParser::nodeOf(place.node));
        else
            result.setAt(QFXMLParser::nodeOf(place.node));
        return result;
    });
}

template <typename Read> inline Record *QFChangeListWalk::peekNext(const Read &read, const Place &place)
{
    return place.before ? place.node : m_climbs.nextNode(read, place.node);
}

template <typename Read> inline void QFChangeListWalk::advance(const Read &read, Place &place)
{
    if (place.before)
        place.before = false;
    else
        place.node = m_climbs.nextNode(read, place.node);
}

template <typename Read> void QFChangeListWalk::stepBack(const Read &read, Place &place) const
{
    if (place.before)
        place.node = Climbs::previousNode(read, place.node);
    else
        place.before = true;
}

template <typename Read> inline void QFChangeListWalk::skipSubtree(const Read &read, Place &place, Record *node)
{
    place.setBefore(node ? m_climbs.nextSibling(read, node) : nullptr);
}

template <typename Read> bool QFChangeListWalk::valuesDiffer(const Read &read, Record *newNode, Record *oldNode)
{
    // Up a few levels of only children in both documents to the pair compared last.
    Record *newUp = newNode;
    Record *oldUp = oldNode;
    for (int level = 0; level < 4; ++level) {
        Record *newParent = read.parent(newUp);
        Record *oldParent = read.parent(oldUp);
        if (!newParent || !oldParent || read.nextSibling(newUp) || read.previousSibling(newUp)
            || read.nextSibling(oldUp) || read.previousSibling(oldUp))
            break;
        if (newParent == m_lastCompared.newNode && oldParent == m_lastCompared.oldNode) {
            m_lastCompared.newNode = newNode;
            m_lastCompared.oldNode = oldNode;
            return m_lastCompared.differ;
        }
        newUp = newParent;
        oldUp = oldParent;
    }
    const bool differ = textsDiffer(read, newNode, oldNode);
    m_lastCompared = { newNode, oldNode, differ };
    return differ;
}

std::optional<QStringList> QFChangeListWalk::run()
{
    return QFXMLParser::withRecords([this](const auto &read) { return walk(read); });
}

template <typename Read> std::optional<QStringList> QFChangeListWalk::walk(const Read &read)
{
    QFLog::appendLog("Getting changelist from XML doc...");

    Record *newRoot = QFXMLParser::recordOf(m_doc.document_element());
    Record *oldRoot = QFXMLParser::recordOf(m_baseDoc.document_element());
    Record *firstNew = m_climbs.nextNode(read, newRoot);
    Record *firstOld = m_climbs.nextNode(read, oldRoot);
    const char *firstNewName = read.elementName(firstNew);
    const char *firstOldName = read.elementName(firstOld);
    // A backup that switched between the whole project and one sequence says only that.
    const bool sameFirstName
        = firstNewName && firstOldName ? std::strcmp(firstNewName, firstOldName) == 0 : firstNewName == firstOldName;
    const Node firstNewNode = QFXMLParser::nodeOf(firstNew);
    if (sameFirstName) {
        if (is(firstNewName, "sequence")
            && QFXMLParser::uuidForNode(firstNewNode) != QFXMLParser::uuidForNode(QFXMLParser::nodeOf(firstOld)))
            return QStringList { qfFormat("Backup sequence changed to %@", QFXMLParser::nameForNode(firstNewNode)) };
    } else {
        if (is(firstNewName, "sequence"))
            return QStringList { qfFormat("Backup sequence changed to %@", QFXMLParser::nameForNode(firstNewNode)) };
        return QStringList { QStringLiteral("Backup type changed to Project") };
    }

    m_new.setAt(newRoot);
    m_old.setAt(oldRoot);

    for (;;) {
        Record *newNode = peekNext(read, m_new);
        if (!newNode)
            break;
        m_new.setAt(newNode);
        advance(read, m_old);
        Record *oldNode = m_old.node;
        QFXMLParser::readAhead(newNode);
        if (oldNode)
            QFXMLParser::readAhead(oldNode);
        const char *n = read.elementName(newNode);
        const char *o = read.elementName(oldNode);

        if (m_engine.cancelledWithGUI()) {
            QFLog::appendLog("Change log generation was cancelled");
            m_engine.endProgress();
            return std::nullopt;
        }
        if (!n && !o)
            continue;

        if (isPassedPart(n)) {
            skipSubtree(read, m_new, newNode);
            if (sameElementName(o, n))
                skipSubtree(read, m_old, oldNode);
            else
                m_old = nextBase(read, oldNode, peekNext(read, m_new), m_climbs);
            continue;
        }
        if (!sameElementName(n, o)) {
            structuralDifference(read, newNode, oldNode);
            // A step that leaves both cursors where they were would be taken again forever: move on.
            if (peekNext(read, m_new) == newNode && peekNext(read, m_old) == oldNode)
                m_new.setAt(newNode);
            continue;
        }
        // Elements with fewer than two children whose texts differ. Most often two leaves with their one
        // text each.
        Record *newChild = read.firstChild(newNode);
        Record *oldChild = read.firstChild(oldNode);
        if ((newChild && read.nextSibling(newChild)) || (oldChild && read.nextSibling(oldChild)))
            continue;
        if (newChild && oldChild && read.isText(newChild) && read.isText(oldChild)) {
            if (std::strcmp(read.value(newChild), read.value(oldChild)) != 0) {
                valueChange(read, newNode, oldNode);
            } else {
                // On to the two texts at once: the step there would find two nodes without names.
                m_new.setAt(newChild);
                m_old.setAt(oldChild);
            }
            continue;
        }
        if (valuesDiffer(read, newNode, oldNode))
            valueChange(read, newNode, oldNode);
    }

    appendRemovedItems(read);
    if (m_list.isEmpty())
        return QStringList { QStringLiteral("No notable changes") };
    return m_list;
}

template <typename Read> void QFChangeListWalk::scanBase(const Read &read)
{
    if (m_base)
        return;
    m_base = std::make_unique<BaseScan>();
    BaseScan &base = *m_base;
    for (const QString &uuid : m_oldUUIDList) {
        if (!m_newUUIDs.contains(uuid))
            base.uuids.append(uuid);
    }
    for (const QString &id : m_oldIDList) {
        if (!m_newIDs.contains(id))
            base.ids.append(id);
    }
    base.removedUUIDs.emplace(base.uuids);
    base.removedIDs.emplace(base.ids);
    const WantedTexts &wantedUUIDs = *base.removedUUIDs;
    const WantedTexts &wantedIDs = *base.removedIDs;
    base.uuidElements.assign(size_t(wantedUUIDs.size()), nullptr);
    base.idElements.assign(size_t(wantedIDs.size()), nullptr);
    const bool uuidsWanted = !wantedUUIDs.isEmpty();
    const bool idsWanted = !wantedIDs.isEmpty();
    eachElement(read, QFXMLParser::recordOf(m_baseDoc), [&](Record *current, const char *name) {
        // The texts "//marker/name[1]" finds: the first name element of every marker.
        if (name[0] == 'm' && QFXMLParser::isNamed(name, "marker")) {
            for (Record *child = read.firstChild(current); child; child = read.nextSibling(child)) {
                if (QFXMLParser::isNamed(read.elementName(child), "name")) {
                    base.markerNames.insert(QFXMLParser::stringValue(QFXMLParser::nodeOf(child)));
                    break;
                }
            }
        }
        // The first uuid element with the text, as ".//uuid[text()=\"%@\"][1]" finds it.
        if (name[0] == 'u' && uuidsWanted && QFXMLParser::isNamed(name, "uuid")) {
            for (Record *child = read.firstChild(current); child; child = read.nextSibling(child)) {
                if (!read.isText(child))
                    continue;
                const qsizetype position = wantedUUIDs.find(read.value(child));
                if (position >= 0 && !base.uuidElements[size_t(position)])
                    base.uuidElements[size_t(position)] = current;
            }
        }
        if (!idsWanted)
            return;
        if (const char *id = read.attribute(current, "id")) {
            const qsizetype position = wantedIDs.find(id);
            if (position >= 0 && !base.idElements[size_t(position)])
                base.idElements[size_t(position)] = current;
        }
    });
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

template <typename Read> void QFChangeListWalk::structuralDifference(const Read &read, Record *newNode, Record *oldNode)
{
    const char *n = read.elementName(newNode);
    const char *o = read.elementName(oldNode);
    Record *parent = read.parent(newNode);
    const char *p = read.elementName(parent);
    Record *oldParent = oldNode ? read.parent(oldNode) : nullptr;

    const auto passItem = [&] {
        skipSubtree(read, m_new, newNode);
        m_old = nextBase(read, oldNode, peekNext(read, m_new), m_climbs);
    };
    if (is(p, "timecode") || (is(n, "angle") && is(p, "multiclip"))) {
        passItem();
        return;
    }

    // How the two documents line up again after an inserted or a removed node.
    int realignment = -1;
    if (sameName(read.elementName(m_climbs.nextNode(read, newNode)), o))
        realignment = 0;
    else if (sameName(read.elementName(parent ? m_climbs.nextSibling(read, parent) : nullptr), o))
        realignment = 1;
    else if (sameName(read.elementName(m_climbs.nextNode(read, oldNode)), n))
        realignment = 2;
    else if (sameName(read.elementName(oldParent ? m_climbs.nextSibling(read, oldParent) : nullptr), n))
        realignment = 3;

    const Next next = n ? tellNewItem(read, QFXMLParser::nodeOf(newNode), n) : Next::Realign;
    if (next == Next::PassItem || next == Next::PassItemAndRealign)
        passItem();
    if (next != Next::Realign && next != Next::PassItemAndRealign)
        return;

    switch (realignment) {
    case 0:
        stepBack(read, m_old);
        break;
    case 1:
        stepBack(read, m_old);
        skipSubtree(read, m_new, parent);
        break;
    case 2:
        stepBack(read, m_new);
        break;
    case 3:
        skipSubtree(read, m_old, oldParent);
        stepBack(read, m_new);
        break;
    default:
        break;
    }
}

// Items that are new by their id or uuid get a line; markers and filters get one unless the older document
// has one of that name or every clip has them.
template <typename Read>
QFChangeListWalk::Next QFChangeListWalk::tellNewItem(const Read &read, const Node &newNode, const char *name)
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
        if (!markerName.isNull()) {
            scanBase(read);
            if (m_base->markerNames.contains(markerName))
                return Next::Stay;
        }
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

template <typename Read> void QFChangeListWalk::valueChange(const Read &read, Record *newNode, Record *oldNode)
{
    const char *n = read.elementName(newNode);
    Record *parent = read.parent(newNode);
    const char *p = read.elementName(parent);
    Record *oldParent = read.parent(oldNode);

    if (is(p, "timecode") || (is(n, "angle") && is(p, "multiclip"))) {
        skipSubtree(read, m_new, newNode);
        skipSubtree(read, m_old, oldNode);
        return;
    }
    const Node newElement = QFXMLParser::nodeOf(newNode);
    const QString value = QFXMLParser::stringValue(newElement);
    // A filter or a sequence appears as a new name where the old document had another item.
    if (is(n, "name") && (is(p, "effect") || is(p, "sequence"))) {
        if (is(p, "effect")) {
            if (const QString line = QFChangePhrases::newEffectNamed(newElement, value); !line.isNull())
                m_list.append(line);
        } else {
            const QString uuid = QFXMLParser::uuidForNode(newElement);
            if (!uuid.isNull() && !m_oldUUIDs.contains(uuid))
                m_list.append(QFChangePhrases::newSequence(value));
        }
        skipSubtree(read, m_new, parent ? read.parent(parent) : nullptr);
        skipSubtree(read, m_old, oldParent ? read.parent(oldParent) : nullptr);
        return;
    }
    // An item's start or end moves its in or out point too; one line says it.
    if ((is(n, "in") && is(m_lastReported, "start")) || (is(n, "out") && is(m_lastReported, "end"))) {
        advance(read, m_new);
        advance(read, m_old);
        return;
    }
    if (((is(n, "start") && is(m_lastReported, "in")) || (is(n, "end") && is(m_lastReported, "out")))
        && !m_list.isEmpty())
        m_list.removeLast();

    // The engine's own entry, given the older node and lists: the older text is read there only when a
    // sentence needs it.
    const QString sentence
        = m_engine.changeStringFromFCPNode(newElement, QString::fromUtf8(n), value, QFXMLParser::nodeOf(parent),
            QString::fromUtf8(p ? p : ""), QFXMLParser::nodeOf(oldNode), QString(), m_oldUUIDList, m_oldIDList);
    if (!sentence.isNull() && (m_list.isEmpty() || m_list.last() != sentence)) {
        m_list.append(sentence);
        m_lastReported = n;
    }
    if (is(n, "name") && is(p, "codec")) {
        skipSubtree(read, m_old, oldParent);
        skipSubtree(read, m_new, parent);
    } else {
        advance(read, m_new);
        advance(read, m_old);
    }
}

template <typename Read> void QFChangeListWalk::appendRemovedItems(const Read &read)
{
    // Nothing to look for when every uuid and id of the base document is still there.
    if (!m_base) {
        bool anyRemoved = false;
        for (const QString &uuid : m_oldUUIDList) {
            if (!m_newUUIDs.contains(uuid)) {
                anyRemoved = true;
                break;
            }
        }
        for (qsizetype i = 0; !anyRemoved && i < m_oldIDList.size(); ++i)
            anyRemoved = !m_newIDs.contains(m_oldIDList.at(i));
        if (!anyRemoved)
            return;
    }
    scanBase(read);
    const BaseScan &base = *m_base;

    QSet<Record *> reported;
    const auto report = [&](Record *item) {
        if (reported.contains(item))
            return;
        reported.insert(item);
        m_list.append(QFChangePhrases::removedItem(m_engine, QFXMLParser::nodeOf(item)));
    };
    for (qsizetype i = 0; i < base.uuids.size(); ++i) {
        Record *element = base.uuidElements[size_t(base.removedUUIDs->first(i))];
        if (element && !is(read.elementName(read.parent(element)), "itemhistory"))
            report(read.parent(element));
    }
    for (qsizetype i = 0; i < base.ids.size(); ++i) {
        if (Record *element = base.idElements[size_t(base.removedIDs->first(i))])
            report(element);
    }
}
