#pragma once

// One comparison of two exports of a project: both documents walked in step, node by node, each difference
// told as a sentence (QFChangePhrases). A walk serves one call of QFTombrelBackup::changeListForFCPXMLDoc,
// on the caller's thread, and holds references to the documents and lists it was given. It steps over the
// parser's records (QFXMLParser::DirectRecords where the library allows), so that a step costs a few reads
// and no call into the XML library, and it remembers where long climbs to an ancestor's next sibling ended, so
// that a climb costs a few levels or one look-up however deep the document.

#include "engine/QFChangePhrases.h"
#include "engine/QFXMLParser.h"

#include <pugixml.hpp>

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

class QFTombrelBackup;

class QFChangeListWalk final {
public:
    using Record = QFXMLParser::NodeRecord;

    // A position in one document for the single step the engine offers (QFTombrelBackup::nextBaseNode): on a
    // node, or just before one. Stepping back is kept as "before" until the cursor moves on, so a walk that
    // steps back and forth never searches a deep subtree for its last node.
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

    // Steps in document order over one document's records, remembering where long climbs to an ancestor's
    // next sibling ended. read is QFXMLParser::DirectRecords or QFXMLParser::LibraryRecords.
    class Climbs {
    public:
        // The next sibling of the node or of its nearest ancestor that has one.
        template <typename Read> Record *nextSibling(const Read &read, Record *node)
        {
            // Most climbs are a level or two, shorter than a look into what was remembered.
            Record *current = node;
            for (int level = 0; current && level < kShortClimb; ++level) {
                if (Record *sibling = read.nextSibling(current))
                    return sibling;
                current = read.parent(current);
            }
            return current ? longClimb(read, node) : nullptr;
        }
        template <typename Read> Record *nextNode(const Read &read, Record *node)
        {
            if (!node)
                return nullptr;
            if (Record *child = read.firstChild(node))
                return child;
            return nextSibling(read, node);
        }
        template <typename Read> static Record *previousNode(const Read &read, Record *node);

    private:
        static constexpr int kShortClimb = 16;
        template <typename Read> Record *longClimb(const Read &read, Record *node);

        std::unordered_map<Record *, Record *> m_ends;
        std::vector<Record *> m_path;
    };

    QFChangeListWalk(QFTombrelBackup &engine, const pugi::xml_document &doc, const pugi::xml_document &baseDoc,
        const QStringList &oldUUIDList, const QStringList &oldIDList, const QStringList &newUUIDList,
        const QStringList &newIDList);
    ~QFChangeListWalk();
    QFChangeListWalk(const QFChangeListWalk &) = delete;
    QFChangeListWalk &operator=(const QFChangeListWalk &) = delete;

    // The change lines; none when cancelled.
    std::optional<QStringList> run();

    // Where the base document's walk goes on when it stands at oldNode and the newer one's next node is
    // newNode: to the next node of that name after oldNode or after its parent, else back to just before
    // oldNode, so that both documents meet again.
    static Cursor nextBase(const pugi::xml_node &oldNode, const pugi::xml_node &newNode, Climbs &climbs);

private:
    // The walk's place in one document: on a record, or just before one, as Cursor is on a node.
    struct Place {
        Record *node = nullptr;
        bool before = false;

        void setAt(Record *at)
        {
            node = at;
            before = false;
        }
        void setBefore(Record *next)
        {
            node = next;
            before = true;
        }
    };

    template <typename Read> static Place nextBase(const Read &read, Record *oldNode, Record *newNode, Climbs &climbs);
    template <typename Read> std::optional<QStringList> walk(const Read &read);
    template <typename Read> Record *peekNext(const Read &read, const Place &place);
    template <typename Read> void advance(const Read &read, Place &place);
    template <typename Read> void stepBack(const Read &read, Place &place) const;
    template <typename Read> void skipSubtree(const Read &read, Place &place, Record *node);
    template <typename Read> bool valuesDiffer(const Read &read, Record *newNode, Record *oldNode);

    // What the walk does after an element that stands where the older document has another.
    enum class Next { Stay, PassItem, PassItemAndRealign, Realign };

    template <typename Read> void structuralDifference(const Read &read, Record *newNode, Record *oldNode);
    template <typename Read> Next tellNewItem(const Read &read, const pugi::xml_node &newNode, const char *name);
    template <typename Read> void valueChange(const Read &read, Record *newNode, Record *oldNode);
    bool isNewItem(const pugi::xml_node &node, const char *name);
    // One pass over the base document, made when either is first needed: the names of its markers, and the
    // elements holding the uuids and ids the newer document no longer has.
    template <typename Read> void scanBase(const Read &read);
    template <typename Read> void appendRemovedItems(const Read &read);

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

    // What scanBase found.
    struct BaseScan;
    std::unique_ptr<BaseScan> m_base;

    Climbs m_climbs;
    Place m_new;
    Place m_old;
    QStringList m_list;
    const char *m_lastReported = nullptr;
    // The last two elements whose texts were compared. An element that is the only child of its parent
    // carries the parent's text, so down a chain of only children the answer is known already.
    struct {
        Record *newNode = nullptr;
        Record *oldNode = nullptr;
        bool differ = false;
    } m_lastCompared;
};
