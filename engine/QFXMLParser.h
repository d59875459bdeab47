#pragma once

// XPath 1.0 queries over parsed XML documents, and the loading of those documents. All operations are
// stateless and may run on any thread; a document must not be changed while another thread queries it.
// "None" is a null QString or an empty node handle; query errors are logged, never thrown.

#include <pugixml.hpp>

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

class QByteArray;

class QFXMLParser final {
public:
    QFXMLParser() = delete;

    // Documents deeper than this are refused when loaded: no editor nests its projects anywhere near it,
    // and it bounds the work of every walk up and down a tree.
    static constexpr int kMaximumNesting = 1000;

    // Parses without keeping whitespace-only text between elements, comments or processing instructions,
    // so that a leaf element has exactly one child, its text. Returns nullptr and sets error on failure.
    // A file is read whole into a buffer that the parser parses in place and the document then owns, as the
    // library's own file loader does.
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
    static pugi::xml_node node(
        const pugi::xml_node &node, const QString &parentWithName, const QStringList &limits = {});
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
        // The previous sibling; the first child's is the last child.
        NodeRecord *previousSibling;
        NodeRecord *nextSibling;
        AttributeRecord *firstAttribute;
    };
    // Whether the records of this library read as above, checked once against its accessors.
    static bool recordsReadable();

    // Whether a name reads as the literal, reading no further than the name's end; false for none.
    template <size_t N> static bool isNamed(const char *name, const char (&literal)[N])
    {
        if (!name)
            return false;
        for (size_t i = 0; i < N; ++i) {
            if (name[i] != literal[i])
                return false;
        }
        return true;
    }
    // Reads records as they lie in memory: only where recordsReadable(). Texts are never null; a null record
    // has no element name.
    struct DirectRecords {
        static pugi::xml_node_type type(const NodeRecord *record) { return pugi::xml_node_type(record->header & 15); }
        static bool isText(const NodeRecord *record)
        {
            const pugi::xml_node_type kind = type(record);
            return kind == pugi::node_pcdata || kind == pugi::node_cdata;
        }
        static const char *name(const NodeRecord *record) { return record->name ? record->name : ""; }
        static const char *elementName(const NodeRecord *record)
        {
            return record && type(record) == pugi::node_element ? name(record) : nullptr;
        }
        static const char *value(const NodeRecord *record) { return record->value ? record->value : ""; }
        static NodeRecord *firstChild(const NodeRecord *record) { return record->firstChild; }
        static NodeRecord *nextSibling(const NodeRecord *record) { return record->nextSibling; }
        static NodeRecord *parent(const NodeRecord *record) { return record->parent; }
        static NodeRecord *previousSibling(const NodeRecord *record)
        {
            return record->previousSibling && record->previousSibling->nextSibling ? record->previousSibling : nullptr;
        }
        static NodeRecord *lastChild(const NodeRecord *record)
        {
            return record->firstChild ? record->firstChild->previousSibling : nullptr;
        }
        // The value of the first attribute with the name; null when there is none.
        static const char *attribute(const NodeRecord *record, const char *name)
        {
            for (const AttributeRecord *attribute = record->firstAttribute; attribute;
                 attribute = attribute->nextAttribute) {
                if (attribute->name && std::strcmp(attribute->name, name) == 0)
                    return attribute->value ? attribute->value : "";
            }
            return nullptr;
        }
    };

    // The same answers from the library's accessors.
    struct LibraryRecords {
        static pugi::xml_node_type type(const NodeRecord *record);
        static bool isText(const NodeRecord *record);
        static const char *name(const NodeRecord *record);
        static const char *elementName(const NodeRecord *record);
        static const char *value(const NodeRecord *record);
        static NodeRecord *firstChild(const NodeRecord *record);
        static NodeRecord *nextSibling(const NodeRecord *record);
        static NodeRecord *parent(const NodeRecord *record);
        static NodeRecord *previousSibling(const NodeRecord *record);
        static NodeRecord *lastChild(const NodeRecord *record);
        static const char *attribute(const NodeRecord *record, const char *name);
    };

    static NodeRecord *recordOf(const pugi::xml_node &node)
    {
        return reinterpret_cast<NodeRecord *>(node.internal_object());
    }
    static pugi::xml_node nodeOf(const NodeRecord *record)
    {
        return pugi::xml_node(reinterpret_cast<pugi::xml_node_struct *>(const_cast<NodeRecord *>(record)));
    }

    // The parser lays a document's records out in document order, one after another as it reads them: a pass in
    // that order asks for the memory some records ahead of where it is, so that it seldom waits for it.
    static void readAhead(const NodeRecord *record)
    {
        __builtin_prefetch(reinterpret_cast<const char *>(record) + 32 * sizeof(NodeRecord));
    }

    // Runs pass(reader) with the reader this library allows, DirectRecords or LibraryRecords.
    template <typename Pass> static auto withRecords(Pass pass)
    {
        return recordsReadable() ? pass(DirectRecords()) : pass(LibraryRecords());
    }
};
