#pragma once

// XPath 1.0 queries over parsed XML documents, and the loading of those documents. All operations are
// stateless and may run on any thread; a document must not be changed while another thread queries it.
// "None" is a null QString or an empty node handle; query errors are logged, never thrown.

#include <pugixml.hpp>

#include <QList>
#include <QString>
#include <QStringList>

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
    // A file is read in blocks and never held whole beside its document; once parsed, its texts are packed
    // together at the front of the parser's buffer and the pages behind them released.
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
};
