#pragma once

// One comparison of two exports of a project: both documents walked in step, node by node, each difference
// told as a sentence (QFChangePhrases). A walk serves one call of QFTombrelBackup::changeListForFCPXMLDoc,
// on the caller's thread, and holds references to the documents and lists it was given.

#include "engine/QFChangePhrases.h"

#include <pugixml.hpp>

#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>
#include <unordered_map>
#include <vector>

class QFTombrelBackup;

class QFChangeListWalk final {
public:
    // A position in one document: on a node, or just before one. Stepping back is kept as "before" until the
    // cursor moves on, so a walk that steps back and forth never searches a deep subtree for its last node.
    struct Cursor {
        pugi::xml_node node;
        bool before = false;

        void setAt(const pugi::xml_node &at)
        {
            node = at;
            before = false;
        }
        void setBefore(const pugi::xml_node &next)
        {
            node = next;
            before = true;
        }
        void stepBack();
        // The node the position stands for: the one it is on, or the one before it.
        pugi::xml_node resolved() const;
        bool operator==(const Cursor &other) const { return node == other.node && before == other.before; }
    };

    // Steps in document order that remember where long climbs to an ancestor's next sibling ended.
    class Climbs {
    public:
        // The next sibling of the node or of its nearest ancestor that has one.
        pugi::xml_node nextSibling(const pugi::xml_node &node);
        pugi::xml_node nextNode(const pugi::xml_node &node);

    private:
        std::unordered_map<pugi::xml_node_struct *, pugi::xml_node_struct *> m_ends;
        std::vector<pugi::xml_node_struct *> m_path;
    };

    QFChangeListWalk(QFTombrelBackup &engine, const pugi::xml_document &doc, const pugi::xml_document &baseDoc,
        const QStringList &oldUUIDList, const QStringList &oldIDList, const QStringList &newUUIDList,
        const QStringList &newIDList);
    QFChangeListWalk(const QFChangeListWalk &) = delete;
    QFChangeListWalk &operator=(const QFChangeListWalk &) = delete;

    // The change lines; none when cancelled.
    std::optional<QStringList> run();

    // Where the base document's walk goes on when it stands at oldNode and the newer one's next node is
    // newNode: to the next node of that name after oldNode or after its parent, else back to just before
    // oldNode, so that both documents meet again.
    static Cursor nextBase(const pugi::xml_node &oldNode, const pugi::xml_node &newNode, Climbs &climbs);

private:
    pugi::xml_node peekNext(const Cursor &cursor);
    void advance(Cursor &cursor);
    void skipSubtree(Cursor &cursor, const pugi::xml_node &node);
    bool valuesDiffer(const pugi::xml_node &newNode, const pugi::xml_node &oldNode);

    // What the walk does after an element that stands where the older document has another.
    enum class Next { Stay, PassItem, PassItemAndRealign, Realign };

    const QSet<QString> &baseMarkerNames();
    bool isNewItem(const pugi::xml_node &node, const char *name);
    void structuralDifference(const pugi::xml_node &newNode, const pugi::xml_node &oldNode);
    Next tellNewItem(const pugi::xml_node &newNode, const char *name);
    void valueChange(const pugi::xml_node &newNode, const pugi::xml_node &oldNode);
    void appendRemovedItems();

    QFTombrelBackup &m_engine;
    const pugi::xml_document &m_doc;
    const pugi::xml_document &m_baseDoc;
    const QStringList &m_oldUUIDList;
    const QStringList &m_oldIDList;
    // Also answers the sentences' questions about the older uuids while the walk runs.
    const QFChangePhrases::UUIDIndex m_oldUUIDs;
    const QFChangePhrases::TextIndex m_oldIDs;
    const QFChangePhrases::TextIndex m_newUUIDs;
    const QFChangePhrases::TextIndex m_newIDs;
    // The names of the base document's markers, read when a marker first stands where the base has none.
    std::optional<QSet<QString>> m_baseMarkerNames;

    Cursor m_new;
    Cursor m_old;
    QStringList m_list;
    const char *m_lastReported = nullptr;
    Climbs m_climbs;
    // The last two elements whose texts were compared. An element that is the only child of its parent
    // carries the parent's text, so down a chain of only children the answer is known already.
    struct {
        pugi::xml_node newNode;
        pugi::xml_node oldNode;
        bool differ = false;
    } m_lastCompared;
};
