#pragma once

// XPath 1.0 queries over parsed XML documents, and the loading of those documents. All operations are
// stateless and may run on any thread; a document must not be changed while another thread queries it.
// "None" is a null QString or an empty node handle; query errors are logged, never thrown.

#include <pugixml.hpp>

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QByteArray;

class QFXMLParser final {
public:
    QFXMLParser() = delete;

    // Documents deeper than this are refused when loaded: no editor nests its projects anywhere near it,
    // and it bounds the work of every walk up and down a tree.
    static constexpr int kMaximumNesting = 1000;

    // Parses without keeping whitespace-only text between elements, comments or processing instructions,
    // so that a leaf element has exactly one child, its text. Returns nullptr and sets error on failure.
    // A file is read whole into the buffer the parser then parses in place, as the library's own file loader
    // does; once parsed, its texts are packed together at the front of that buffer and the pages behind them
    // released, which leaves most of the file's bytes (markup, indentation, closing tags) out of memory.
    static std::unique_ptr<pugi::xml_document> documentFromData(const QByteArray &data, QString *error = nullptr);
    static std::unique_ptr<pugi::xml_document> documentFromFile(const QString &path, QString *error = nullptr);

    // The texts of every uuid element and every id attribute in document order, as the queries "//uuid"
    // and "//@id" give them, found in one pass without building a node set of the whole document.
    static QStringList uuidList(const pugi::xml_node &node);
    static QStringList idList(const pugi::xml_node &node);
    // Both lists in one pass, appended to uuids and ids.
    static void itemLists(const pugi::xml_node &node, QStringList &uuids, QStringList &ids);
    // Appends the text and CDATA below an element, in document order.
    static void appendText(const pugi::xml_node &node, std::string &text);

    // Query strings pass through escapeQueryString first.
    static QString escapeQueryString(const QString &query);
    // The string values of the results; empty when the query finds nothing.
    static QStringList stringValuesForQuery(const QString &query, const pugi::xml_node &node);
    static QString stringValueForQuery(const QString &query, const pugi::xml_node &inElement);
    static QList<pugi::xpath_node> nodesForQuery(const QString &query, const pugi::xml_node &inElement);
    static pugi::xpath_node nodeForQuery(const QString &query, const pugi::xml_node &inElement);

    static QString nameForNode(const pugi::xml_node &node, bool immediateChildOnly = false);
    static QString uuidForNode(const pugi::xml_node &node, bool immediateChildOnly = false);
    static QString idAttributeForNode(const pugi::xml_node &node);
    // The nearest ancestor (not the node itself) with the name; none once an ancestor named in limits is met.
    static pugi::xml_node node(const pugi::xml_node &node, const QString &parentWithName, const QStringList &limits = {});
    // The next sibling of the node or of its nearest ancestor that has one.
    static pugi::xml_node nextSiblingForNode(const pugi::xml_node &node);

    // Document order over element and text nodes.
    static pugi::xml_node nextNode(const pugi::xml_node &node);
    static pugi::xml_node previousNode(const pugi::xml_node &node);
    // The element's name; null for text and document nodes.
    static QString name(const pugi::xml_node &node);
    static QString stringValue(const pugi::xml_node &node);
    static QString stringValue(const pugi::xpath_node &node);
    // "/xmeml[1]/sequence[1]/name[1]": the node's location as positions among same-named siblings.
    static QString xPath(const pugi::xml_node &node);
    // Percent escapes of ASCII characters replaced; the text as it stands when an escape is not one.
    static QString percentUnescaped(const QString &text);

    // The library's records of a node and of an attribute as it lays them out when not built compact. Passes
    // over every node of a large export read them directly, with no call into the library a step, where
    // recordsReadable() found the layout to be the library's; elsewhere they ask the library.
    struct AttributeRecord {
        uintptr_t header;
        char *name;
        char *value;
        AttributeRecord *previousAttribute;
        AttributeRecord *nextAttribute;
    };
    struct NodeRecord {
        uintptr_t header;
        char *name;
        char *value;
        NodeRecord *parent;
        NodeRecord *firstChild;
        NodeRecord *previousSibling;
        NodeRecord *nextSibling;
        AttributeRecord *firstAttribute;
    };
    // Whether the records of this library read as above, checked once against its accessors.
    static bool recordsReadable();

    // Reads records directly or, when they do not read as above, through the library. Texts are never null.
    class Records final {
    public:
        Records();

        static NodeRecord *of(const pugi::xml_node &node);
        static pugi::xml_node node(const NodeRecord *record);

        pugi::xml_node_type type(const NodeRecord *record) const
        {
            return m_direct ? pugi::xml_node_type(record->header & 15) : node(record).type();
        }
        const char *name(const NodeRecord *record) const
        {
            return m_direct ? (record->name ? record->name : "") : node(record).name();
        }
        const char *value(const NodeRecord *record) const
        {
            return m_direct ? (record->value ? record->value : "") : node(record).value();
        }
        NodeRecord *firstChild(const NodeRecord *record) const
        {
            return m_direct ? record->firstChild : of(node(record).first_child());
        }
        NodeRecord *nextSibling(const NodeRecord *record) const
        {
            return m_direct ? record->nextSibling : of(node(record).next_sibling());
        }
        NodeRecord *parent(const NodeRecord *record) const
        {
            return m_direct ? record->parent : of(node(record).parent());
        }
        // The value of the first attribute with the name; null when there is none.
        const char *attribute(const NodeRecord *record, const char *name) const;

    private:
        const bool m_direct;
    };

    // The nodes of a subtree in document order, the root first, for walks that step, skip and look back over
    // a large document: a node's position, its parent's and the position after its subtree are answered from
    // arrays built in one pass, never by climbing the tree. Position size() stands for none. Holds the nodes'
    // records: the document must outlive it unchanged.
    class Order final {
    public:
        explicit Order(const pugi::xml_node &root);
        Order(const Order &) = delete;
        Order &operator=(const Order &) = delete;

        int size() const { return m_size; }
        pugi::xml_node node(int at) const { return at < m_size ? Records::node(m_records[size_t(at)]) : pugi::xml_node(); }
        NodeRecord *record(int at) const { return at < m_size ? m_records[size_t(at)] : nullptr; }
        const Records &records() const { return m_read; }

        // The element's name; null for text, other nodes and none.
        const char *name(int at) const
        {
            if (at >= m_size)
                return nullptr;
            const NodeRecord *record = m_records[size_t(at)];
            return m_read.type(record) == pugi::node_element ? m_read.name(record) : nullptr;
        }
        bool isText(int at) const
        {
            if (at >= m_size)
                return false;
            const pugi::xml_node_type type = m_read.type(m_records[size_t(at)]);
            return type == pugi::node_pcdata || type == pugi::node_cdata;
        }
        // The text of a text node.
        const char *text(int at) const { return m_read.value(m_records[size_t(at)]); }

        // The position after the node's subtree: its next sibling's, or that of the nearest ancestor with one.
        int end(int at) const
        {
            if (at >= m_size)
                return m_size;
            const quint16 delta = m_ends[size_t(at)];
            return delta != kFar ? at + delta : farEnd(at);
        }
        // The parent's position; none for the root.
        int parent(int at) const
        {
            if (at <= 0 || at >= m_size)
                return m_size;
            const quint16 delta = m_parents[size_t(at)];
            return delta != kFar ? at - delta : farParent(at);
        }
        bool hasFewerThanTwoChildren(int at) const
        {
            const int after = end(at);
            return after == at + 1 || end(at + 1) == after;
        }
        // Whether the texts below the two nodes differ, each read as the text of its descendants in document
        // order.
        static bool textsDiffer(const Order &left, int leftAt, const Order &right, int rightAt);

    private:
        // Ends and parents at most this far off are kept as distances, in two bytes; the few farther ones
        // (the big containers and their children) in lists beside them.
        static constexpr quint16 kFar = 0xffff;
        int farEnd(int at) const;
        int farParent(int at) const;

        const Records m_read;
        int m_size = 0;
        std::vector<NodeRecord *> m_records;
        std::vector<quint16> m_ends;
        std::vector<quint16> m_parents;
        std::vector<std::pair<int, int>> m_farEnds;
        std::vector<std::pair<int, int>> m_farParents;
    };
};
