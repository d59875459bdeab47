#pragma once

// One comparison of two exports of a project: both documents walked in step, node by node, each difference
// told as a sentence (QFChangePhrases). A walk serves one call of QFTombrelBackup::changeListForFCPXMLDoc,
// on the caller's thread, and holds references to the documents and lists it was given. It moves over the
// documents' orders (QFXMLParser::Order), so every step, skip and look-back costs the same however far it goes.

#include "engine/QFChangePhrases.h"
#include "engine/QFXMLParser.h"

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
    // A position in one document for the single steps the engine offers (QFTombrelBackup::nextBaseNode): on a
    // node, or just before one.
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

    // Steps in document order for those single steps, remembering where long climbs to an ancestor's next
    // sibling ended.
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
    // A walk's place in one document's order: on a position, or just before one, as the single-step cursor
    // above. Position size() is none; before none stays before none, as before a missing node.
    struct Place {
        int at = 0;
        bool before = false;

        void setAt(int position)
        {
            at = position;
            before = false;
        }
        void setBefore(int position)
        {
            at = position;
            before = true;
        }
        bool operator==(const Place &other) const { return at == other.at && before == other.before; }
    };

    // The document order of one side, and the steps over it.
    struct Side {
        explicit Side(const pugi::xml_document &document);

        int none() const { return order.size(); }
        int next(int at) const { return at < order.size() ? at + 1 : at; }
        // The node before in document order: none before the document itself.
        int previous(int at) const { return at > 0 && at < order.size() ? at - 1 : order.size(); }
        // The next sibling of the node or of its nearest ancestor that has one.
        int nextSibling(int at) const { return order.end(at); }
        int parent(int at) const { return order.parent(at); }
        const char *name(int at) const { return order.name(at); }
        pugi::xml_node node(int at) const { return order.node(at); }

        int peekNext(const Place &place) const { return place.before ? place.at : next(place.at); }
        void advance(Place &place) const
        {
            if (place.before)
                place.before = false;
            else
                place.at = next(place.at);
        }
        void stepBack(Place &place) const
        {
            if (place.before)
                place.at = previous(place.at);
            else
                place.before = true;
        }
        void skipSubtree(Place &place, int at) const { place.setBefore(nextSibling(at)); }

        const QFXMLParser::Order order;
        // Where the document element stands.
        int root;
    };

    // nextBase over the orders: oldAt in the base document, newAt in the newer one.
    Place nextBase(int oldAt, int newAt) const;
    bool valuesDiffer(int newAt, int oldAt);

    // What the walk does after an element that stands where the older document has another.
    enum class Next { Stay, PassItem, PassItemAndRealign, Realign };

    const QSet<QString> &baseMarkerNames();
    bool isNewItem(const pugi::xml_node &node, const char *name);
    void structuralDifference(int newAt, int oldAt);
    Next tellNewItem(const pugi::xml_node &newNode, const char *name);
    void valueChange(int newAt, int oldAt);
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

    // Both documents' orders, made once the walk knows it compares them node by node.
    std::optional<Side> m_newSide;
    std::optional<Side> m_oldSide;
    Place m_new;
    Place m_old;
    QStringList m_list;
    const char *m_lastReported = nullptr;
    // The last two elements whose texts were compared. An element that is the only child of its parent
    // carries the parent's text, so down a chain of only children the answer is known already.
    struct {
        int newAt = -1;
        int oldAt = -1;
        bool differ = false;
    } m_lastCompared;
};
