#include "engine/QFXMLParser.h"

#include "foundation/QFLog.h"

#include <QByteArray>
#include <QFile>
#include <QtAlgorithms>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// Every query of the engine is one of a few dozen fixed texts; compiling each once keeps a walk over a
// large project from spending its time in the XPath parser.
const pugi::xpath_query *compiledQuery(const QString &query, QString *error)
{
    thread_local std::unordered_map<std::string, std::unique_ptr<pugi::xpath_query>> cache;
    const std::string text = query.toStdString();
    const auto found = cache.find(text);
    if (found != cache.end())
        return found->second.get();
    std::unique_ptr<pugi::xpath_query> compiled;
    try {
        compiled = std::make_unique<pugi::xpath_query>(text.c_str());
    } catch (const pugi::xpath_exception &e) {
        *error = QString::fromUtf8(e.what());
        return nullptr;
    } catch (const std::exception &e) {
        *error = QString::fromUtf8(e.what());
        return nullptr;
    }
    if (!*compiled) {
        *error = QString::fromUtf8(compiled->result().description());
        return nullptr;
    }
    if (cache.size() >= 256)
        cache.clear();
    return cache.emplace(text, std::move(compiled)).first->second.get();
}

// All results of a query in document order; false with error set when the query cannot be evaluated.
bool evaluate(const QString &query, const pugi::xml_node &node, QList<pugi::xpath_node> &results, QString *error)
{
    if (!node)
        return true;
    const pugi::xpath_query *compiled = compiledQuery(query, error);
    if (!compiled)
        return false;
    if (compiled->return_type() != pugi::xpath_type_node_set) {
        *error = QStringLiteral("The expression does not evaluate to a node set");
        return false;
    }
    try {
        pugi::xpath_node_set set = compiled->evaluate_node_set(node);
        set.sort();
        results.reserve(qsizetype(set.size()));
        for (const pugi::xpath_node &result : set)
            results.append(result);
    } catch (const std::exception &e) {
        *error = QString::fromUtf8(e.what());
        return false;
    }
    return true;
}

pugi::xpath_node firstResult(const QString &query, const pugi::xml_node &node)
{
    if (!node)
        return {};
    QString error;
    const pugi::xpath_query *compiled = compiledQuery(QFXMLParser::escapeQueryString(query), &error);
    if (!compiled || compiled->return_type() != pugi::xpath_type_node_set)
        return {};
    try {
        return compiled->evaluate_node(node);
    } catch (const std::exception &) {
        return {};
    }
}

bool isText(const pugi::xml_node &node)
{
    return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
}

using NodeRecord = QFXMLParser::NodeRecord;
using Records = QFXMLParser::Records;

// Depth first over a record and everything below it: enter(record) before its children, leave(record) after
// them. Without recursion: documents may be very deep.
template <typename Enter, typename Leave>
void eachRecord(const Records &read, NodeRecord *top, Enter enter, Leave leave)
{
    NodeRecord *current = top;
    while (current) {
        enter(current);
        if (NodeRecord *child = read.firstChild(current)) {
            current = child;
            continue;
        }
        for (;;) {
            leave(current);
            if (current == top)
                return;
            if (NodeRecord *sibling = read.nextSibling(current)) {
                current = sibling;
                break;
            }
            current = read.parent(current);
        }
    }
}

// Moves the texts of a document parsed in place to the front of its buffer, one after another in the order
// they stand in, so that the pages behind them can be given back. Element names and closing tags take much
// of an export's bytes, and the parser keeps the whole buffer: this leaves what the nodes point at. The
// texts keep their order, which the XPath engine reads as document order.
class TextPacker {
public:
    TextPacker(char *buffer, size_t size)
        : m_begin(buffer)
        , m_end(buffer + size)
        , m_cursor(buffer)
    {
    }

    bool inBuffer(const char *text) const
    {
        const auto at = reinterpret_cast<uintptr_t>(text);
        return at >= reinterpret_cast<uintptr_t>(m_begin) && at < reinterpret_cast<uintptr_t>(m_end);
    }

    // False, leaving the node's texts where they were, when one stands before texts already moved.
    bool pack(NodeRecord *record)
    {
        if (!move(record->name))
            return false;
        for (QFXMLParser::AttributeRecord *attribute = record->firstAttribute; attribute;
             attribute = attribute->nextAttribute) {
            if (!move(attribute->name) || !move(attribute->value))
                return false;
        }
        return move(record->value);
    }

    // The first byte behind the packed texts.
    char *end() const { return m_cursor; }

private:
    // Texts outside the buffer (none after a parse in place) stay where they are.
    bool move(char *&text)
    {
        if (!text || !inBuffer(text))
            return true;
        // Out of order: what lies below the cursor may be written over already.
        if (text < m_cursor)
            return false;
        char *const to = m_cursor;
        const char *from = text;
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        // Eight bytes at a time while the write cannot reach the text being read; the bytes written past a
        // text's end land below it, where nothing is left to read.
        if (size_t(from - to) >= sizeof(quint64)) {
            while (size_t(m_end - from) >= sizeof(quint64)) {
                quint64 word;
                std::memcpy(&word, from, sizeof word);
                std::memcpy(m_cursor, &word, sizeof word);
                // A bit set in the first byte that is zero, the text's end.
                if (const quint64 zeros = (word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull) {
                    m_cursor += qCountTrailingZeroBits(zeros) / 8 + 1;
                    text = to;
                    return true;
                }
                m_cursor += sizeof word;
                from += sizeof word;
            }
        }
#endif
        while ((*m_cursor++ = *from++) != 0) {
        }
        text = to;
        return true;
    }

    char *const m_begin;
    char *const m_end;
    char *m_cursor;
};

// Checks the nesting of a parsed document and, when it was parsed in place in buffer (size bytes read,
// allocated in all), packs its texts and releases the whole pages of the buffer behind them. One pass
// over the records does both.
bool finishRecords(const pugi::xml_document &document, char *buffer, size_t size, size_t allocated, QString *error)
{
    const Records read;
    NodeRecord *root = Records::of(document);
    const pugi::xml_node element = document.document_element();
    std::optional<TextPacker> packer;
    // A document the parser converted from another encoding points into a buffer of its own.
    if (buffer && QFXMLParser::recordsReadable() && element) {
        packer.emplace(buffer, size);
        if (!packer->inBuffer(element.name()))
            packer.reset();
    }
    int depth = -1;
    int deepest = 0;
    eachRecord(
        read, root,
        [&](NodeRecord *record) {
            deepest = std::max(deepest, ++depth);
            if (packer && !packer->pack(record))
                packer.reset();
        },
        [&](NodeRecord *) { --depth; });
    if (deepest > QFXMLParser::kMaximumNesting) {
        if (error)
            *error = qfFormat("Elements nested deeper than %i levels", QFXMLParser::kMaximumNesting);
        return false;
    }
#ifdef MADV_DONTNEED
    if (packer) {
        const auto pageSize = uintptr_t(::sysconf(_SC_PAGESIZE));
        if (pageSize != 0 && (pageSize & (pageSize - 1)) == 0) {
            const uintptr_t from = (reinterpret_cast<uintptr_t>(packer->end()) + pageSize - 1) & ~(pageSize - 1);
            const uintptr_t to = (reinterpret_cast<uintptr_t>(buffer) + allocated) & ~(pageSize - 1);
            // The pages stay the buffer's; they read as zeros if touched again, and nothing points into them.
            if (to > from)
                ::madvise(reinterpret_cast<void *>(from), to - from, MADV_DONTNEED);
        }
    }
#else
    Q_UNUSED(allocated);
#endif
    return true;
}

std::unique_ptr<pugi::xml_document> finishLoading(std::unique_ptr<pugi::xml_document> document,
    const pugi::xml_parse_result &result, QString *error, char *buffer = nullptr, size_t size = 0,
    size_t allocated = 0)
{
    if (!result) {
        if (error) {
            *error = qfFormat("%s at byte %lli", result.description(), static_cast<long long>(result.offset));
        }
        return nullptr;
    }
    if (!document->document_element()) {
        if (error)
            *error = QStringLiteral("No document element found");
        return nullptr;
    }
    if (!finishRecords(*document, buffer, size, allocated, error))
        return nullptr;
    return document;
}

// The records of the probe, each field against what the library's accessors give for it.
bool recordsMatchLibrary(const pugi::xml_node &node)
{
    const auto sameText = [](const char *field, const char *accessor) {
        return field ? field == accessor : *accessor == 0;
    };
    const auto *record = reinterpret_cast<const NodeRecord *>(node.internal_object());
    if (int(record->header & 15) != int(node.type()) || !sameText(record->name, node.name())
        || !sameText(record->value, node.value())
        || record->parent != reinterpret_cast<NodeRecord *>(node.parent().internal_object())
        || record->firstChild != reinterpret_cast<NodeRecord *>(node.first_child().internal_object())
        || record->nextSibling != reinterpret_cast<NodeRecord *>(node.next_sibling().internal_object())
        || record->firstAttribute
            != reinterpret_cast<QFXMLParser::AttributeRecord *>(node.first_attribute().internal_object()))
        return false;
    for (pugi::xml_attribute attribute = node.first_attribute(); attribute; attribute = attribute.next_attribute()) {
        const auto *attributeRecord = reinterpret_cast<const QFXMLParser::AttributeRecord *>(attribute.internal_object());
        if (!sameText(attributeRecord->name, attribute.name()) || !sameText(attributeRecord->value, attribute.value())
            || attributeRecord->nextAttribute
                != reinterpret_cast<QFXMLParser::AttributeRecord *>(attribute.next_attribute().internal_object()))
            return false;
    }
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (!recordsMatchLibrary(child))
            return false;
    }
    return true;
}

} // namespace

bool QFXMLParser::recordsReadable()
{
#ifdef PUGIXML_COMPACT
    return false;
#else
    // Every kind of node and attribute the parser makes, once.
    static const bool readable = [] {
        pugi::xml_document probe;
        const char *const text = "<a b=\"c\" d=\"\"><e>f &amp; g</e><![CDATA[h]]><!--i--><?j k?><l/>m</a>";
        if (!probe.load_string(text, pugi::parse_default | pugi::parse_comments | pugi::parse_pi))
            return false;
        return recordsMatchLibrary(probe);
    }();
    return readable;
#endif
}

QFXMLParser::Records::Records()
    : m_direct(recordsReadable())
{
}

QFXMLParser::NodeRecord *QFXMLParser::Records::of(const pugi::xml_node &node)
{
    return reinterpret_cast<NodeRecord *>(node.internal_object());
}

pugi::xml_node QFXMLParser::Records::node(const NodeRecord *record)
{
    return pugi::xml_node(reinterpret_cast<pugi::xml_node_struct *>(const_cast<NodeRecord *>(record)));
}

const char *QFXMLParser::Records::attribute(const NodeRecord *record, const char *name) const
{
    if (!m_direct) {
        const pugi::xml_attribute found = node(record).attribute(name);
        return found ? found.value() : nullptr;
    }
    for (const AttributeRecord *attribute = record->firstAttribute; attribute; attribute = attribute->nextAttribute) {
        if (attribute->name && std::strcmp(attribute->name, name) == 0)
            return attribute->value ? attribute->value : "";
    }
    return nullptr;
}

QFXMLParser::Order::Order(const pugi::xml_node &root)
{
    NodeRecord *top = Records::of(root);
    if (!top)
        return;
    size_t count = 0;
    eachRecord(m_read, top, [&count](NodeRecord *) { ++count; }, [](NodeRecord *) {});
    if (count >= size_t(std::numeric_limits<int>::max()))
        return;
    m_records.resize(count);
    m_ends.resize(count);
    m_parents.resize(count);

    // Positions whose subtree is still open, the innermost last.
    std::vector<int> open;
    int next = 0;
    eachRecord(
        m_read, top,
        [&](NodeRecord *record) {
            const int at = next++;
            m_records[size_t(at)] = record;
            if (open.empty()) {
                m_parents[size_t(at)] = 0;
            } else if (const int distance = at - open.back(); distance < kFar) {
                m_parents[size_t(at)] = quint16(distance);
            } else {
                m_parents[size_t(at)] = kFar;
                m_farParents.emplace_back(at, open.back());
            }
            open.push_back(at);
        },
        [&](NodeRecord *) {
            const int at = open.back();
            open.pop_back();
            if (const int distance = next - at; distance < kFar) {
                m_ends[size_t(at)] = quint16(distance);
            } else {
                m_ends[size_t(at)] = kFar;
                m_farEnds.emplace_back(at, next);
            }
        });
    std::sort(m_farEnds.begin(), m_farEnds.end());
    m_size = int(count);
}

int QFXMLParser::Order::farEnd(int at) const
{
    const auto found = std::lower_bound(m_farEnds.begin(), m_farEnds.end(), std::make_pair(at, 0));
    return found != m_farEnds.end() && found->first == at ? found->second : m_size;
}

int QFXMLParser::Order::farParent(int at) const
{
    const auto found = std::lower_bound(m_farParents.begin(), m_farParents.end(), std::make_pair(at, 0));
    return found != m_farParents.end() && found->first == at ? found->second : m_size;
}

namespace {

// The texts below a position of an order, a piece at a time as they stand in the document, so that two
// subtrees' texts are compared without copying either.
class TextPieces {
public:
    TextPieces(const QFXMLParser::Order &order, int root)
        : m_order(order)
        , m_at(root)
        , m_stop(order.end(root))
    {
        next();
    }

    bool atEnd() const { return m_at >= m_stop; }
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
    // On to the next text that is not empty.
    void next()
    {
        while (++m_at < m_stop) {
            if (m_order.isText(m_at)) {
                m_rest = m_order.text(m_at);
                m_size = std::strlen(m_rest);
                if (m_size != 0)
                    return;
            }
        }
        m_rest = "";
        m_size = 0;
    }

    const QFXMLParser::Order &m_order;
    int m_at;
    const int m_stop;
    const char *m_rest = "";
    size_t m_size = 0;
};

} // namespace

bool QFXMLParser::Order::textsDiffer(const Order &left, int leftAt, const Order &right, int rightAt)
{
    // Most often each is a leaf with its one text.
    const int leftEnd = left.end(leftAt);
    const int rightEnd = right.end(rightAt);
    const bool leftSimple = leftEnd == leftAt + 1 || (leftEnd == leftAt + 2 && left.isText(leftAt + 1));
    const bool rightSimple = rightEnd == rightAt + 1 || (rightEnd == rightAt + 2 && right.isText(rightAt + 1));
    if (leftSimple && rightSimple) {
        return std::strcmp(leftEnd == leftAt + 1 ? "" : left.text(leftAt + 1),
                   rightEnd == rightAt + 1 ? "" : right.text(rightAt + 1))
            != 0;
    }
    TextPieces a(left, leftAt);
    TextPieces b(right, rightAt);
    while (!a.atEnd() && !b.atEnd()) {
        const size_t length = std::min(a.restSize(), b.restSize());
        if (std::memcmp(a.rest(), b.rest(), length) != 0)
            return true;
        a.consume(length);
        b.consume(length);
    }
    return a.atEnd() != b.atEnd();
}

std::unique_ptr<pugi::xml_document> QFXMLParser::documentFromData(const QByteArray &data, QString *error)
{
    auto document = std::make_unique<pugi::xml_document>();
    pugi::xml_parse_result result;
    try {
        result = document->load_buffer(data.constData(), size_t(data.size()), pugi::parse_default);
    } catch (const std::exception &e) {
        if (error)
            *error = QString::fromUtf8(e.what());
        return nullptr;
    }
    return finishLoading(std::move(document), result, error);
}

std::unique_ptr<pugi::xml_document> QFXMLParser::documentFromFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        if (error)
            *error = file.errorString();
        return nullptr;
    }
    // Devices, pipes and folders are no exports: reading /dev/zero would never end.
    struct stat st;
    if (::fstat(file.handle(), &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error)
            *error = QStringLiteral("not a regular file");
        return nullptr;
    }

    // Parsed in place in a buffer the document then owns, so a large project is held in memory once.
    const size_t size = size_t(st.st_size);
    const size_t allocated = std::max<size_t>(size, 1);
    char *buffer = static_cast<char *>(pugi::get_memory_allocation_function()(allocated));
    if (!buffer) {
        if (error)
            *error = QStringLiteral("Out of memory");
        return nullptr;
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(file.handle(), buffer + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int readError = n < 0 ? errno : 0;
            pugi::get_memory_deallocation_function()(buffer);
            if (error)
                *error = readError ? QString::fromLocal8Bit(std::strerror(readError)) : QStringLiteral("Short read");
            return nullptr;
        }
        done += size_t(n);
    }
    auto document = std::make_unique<pugi::xml_document>();
    pugi::xml_parse_result result;
    try {
        result = document->load_buffer_inplace_own(buffer, size, pugi::parse_default);
    } catch (const std::exception &e) {
        if (error)
            *error = QString::fromUtf8(e.what());
        return nullptr;
    }
    return finishLoading(std::move(document), result, error, buffer, size, allocated);
}

namespace {

// The text of an element as appendText gives it, without building a string when it is its one text child.
QString textBelow(const Records &read, NodeRecord *element)
{
    NodeRecord *child = read.firstChild(element);
    if (!child)
        return QString::fromUtf8("");
    const pugi::xml_node_type type = read.type(child);
    if ((type == pugi::node_pcdata || type == pugi::node_cdata) && !read.firstChild(child) && !read.nextSibling(child))
        return QString::fromUtf8(read.value(child));
    std::string text;
    QFXMLParser::appendText(Records::node(element), text);
    return QString::fromStdString(text);
}

// Every element of the node and its descendants, in document order.
template <typename Visit> void eachElement(const pugi::xml_node &root, Visit visit)
{
    NodeRecord *top = Records::of(root);
    if (!top)
        return;
    const Records read;
    eachRecord(
        read, top,
        [&](NodeRecord *record) {
            if (read.type(record) == pugi::node_element)
                visit(read, record);
        },
        [](NodeRecord *) {});
}

} // namespace

void QFXMLParser::itemLists(const pugi::xml_node &node, QStringList &uuids, QStringList &ids)
{
    eachElement(node, [&uuids, &ids](const Records &read, NodeRecord *element) {
        const char *name = read.name(element);
        if (name[0] == 'u' && std::strcmp(name, "uuid") == 0)
            uuids.append(textBelow(read, element));
        if (const char *id = read.attribute(element, "id"))
            ids.append(QString::fromUtf8(id));
    });
}

QStringList QFXMLParser::uuidList(const pugi::xml_node &node)
{
    QStringList list;
    eachElement(node, [&list](const Records &read, NodeRecord *element) {
        if (std::strcmp(read.name(element), "uuid") == 0)
            list.append(textBelow(read, element));
    });
    return list;
}

QStringList QFXMLParser::idList(const pugi::xml_node &node)
{
    QStringList list;
    eachElement(node, [&list](const Records &read, NodeRecord *element) {
        if (const char *id = read.attribute(element, "id"))
            list.append(QString::fromUtf8(id));
    });
    return list;
}

QString QFXMLParser::escapeQueryString(const QString &query)
{
    QString escaped;
    escaped.reserve(query.size());
    const qsizetype length = query.size();
    for (qsizetype i = 0; i < length; ++i) {
        const char16_t unit = query.at(i).unicode();
        if (unit >= 160) {
            escaped += qfFormat("&#%i;", int(unit));
        } else if (unit == u'&') {
            if (i < length - 4 && QStringView(query).mid(i, 5) == QLatin1String("&amp;"))
                escaped += u'&';
            else
                escaped += QLatin1String("&amp;");
        } else if (unit == 13) {
            escaped += QLatin1String("&#13;");
        } else if (unit <= 19) {
            QFLog::appendLog("Stripped character %C", unit);
        } else {
            escaped += QChar(unit);
        }
    }
    return escaped;
}

QStringList QFXMLParser::stringValuesForQuery(const QString &query, const pugi::xml_node &node)
{
    QList<pugi::xpath_node> results;
    QString error;
    if (!evaluate(escapeQueryString(query), node, results, &error))
        return {};
    QStringList values;
    values.reserve(results.size());
    for (const pugi::xpath_node &result : results)
        values.append(stringValue(result));
    return values;
}

QString QFXMLParser::stringValueForQuery(const QString &query, const pugi::xml_node &inElement)
{
    const pugi::xpath_node first = firstResult(query, inElement);
    return first ? stringValue(first) : QString();
}

QList<pugi::xpath_node> QFXMLParser::nodesForQuery(const QString &query, const pugi::xml_node &inElement)
{
    QList<pugi::xpath_node> results;
    QString error;
    if (!evaluate(escapeQueryString(query), inElement, results, &error))
        QFLog::appendLog("XML parsing error: %@", error);
    return results;
}

pugi::xpath_node QFXMLParser::nodeForQuery(const QString &query, const pugi::xml_node &inElement)
{
    const QList<pugi::xpath_node> results = nodesForQuery(query, inElement);
    return results.isEmpty() ? pugi::xpath_node() : results.first();
}

QString QFXMLParser::nameForNode(const pugi::xml_node &node, bool immediateChildOnly)
{
    QString text = stringValueForQuery(QStringLiteral("./name[1]/text()"), node);
    if (text.isNull()) {
        if (immediateChildOnly)
            return {};
        text = stringValueForQuery(QStringLiteral(".//name[1]/text()"), node);
    }
    if (text.isNull()) {
        const pugi::xml_attribute id = node.attribute("id");
        if (id)
            text = QString::fromUtf8(id.value());
    }
    return text.isNull() ? text : percentUnescaped(text);
}

QString QFXMLParser::uuidForNode(const pugi::xml_node &node, bool immediateChildOnly)
{
    QString text = stringValueForQuery(QStringLiteral("./uuid[1]/text()"), node);
    if (text.isNull() && !immediateChildOnly)
        text = stringValueForQuery(QStringLiteral(".//uuid[1]/text()"), node);
    return text.isNull() ? text : percentUnescaped(text);
}

QString QFXMLParser::idAttributeForNode(const pugi::xml_node &node)
{
    const QString text = stringValueForQuery(QStringLiteral("./@id[1]"), node);
    return text.isNull() ? text : percentUnescaped(text);
}

pugi::xml_node QFXMLParser::node(const pugi::xml_node &node, const QString &parentWithName, const QStringList &limits)
{
    for (pugi::xml_node ancestor = node.parent(); ancestor; ancestor = ancestor.parent()) {
        const QString ancestorName = name(ancestor);
        if (ancestorName.isNull())
            continue;
        if (limits.contains(ancestorName))
            return {};
        if (ancestorName == parentWithName)
            return ancestor;
    }
    return {};
}

pugi::xml_node QFXMLParser::nextSiblingForNode(const pugi::xml_node &node)
{
    for (pugi::xml_node current = node; current; current = current.parent()) {
        if (const pugi::xml_node sibling = current.next_sibling())
            return sibling;
    }
    return {};
}

pugi::xml_node QFXMLParser::nextNode(const pugi::xml_node &node)
{
    if (!node)
        return {};
    if (const pugi::xml_node child = node.first_child())
        return child;
    return nextSiblingForNode(node);
}

pugi::xml_node QFXMLParser::previousNode(const pugi::xml_node &node)
{
    if (!node)
        return {};
    pugi::xml_node previous = node.previous_sibling();
    if (!previous)
        return node.parent();
    while (const pugi::xml_node last = previous.last_child())
        previous = last;
    return previous;
}

QString QFXMLParser::name(const pugi::xml_node &node)
{
    return node.type() == pugi::node_element ? QString::fromUtf8(node.name()) : QString();
}

QString QFXMLParser::stringValue(const pugi::xml_node &node)
{
    if (!node)
        return {};
    if (node.type() != pugi::node_element && node.type() != pugi::node_document)
        return QString::fromUtf8(node.value());
    std::string text;
    appendText(node, text);
    return QString::fromStdString(text);
}

void QFXMLParser::appendText(const pugi::xml_node &node, std::string &text)
{
    NodeRecord *top = Records::of(node);
    if (!top)
        return;
    const Records read;
    eachRecord(
        read, top,
        [&](NodeRecord *record) {
            const pugi::xml_node_type type = read.type(record);
            if (record != top && (type == pugi::node_pcdata || type == pugi::node_cdata))
                text += read.value(record);
        },
        [](NodeRecord *) {});
}

QString QFXMLParser::stringValue(const pugi::xpath_node &node)
{
    if (node.attribute())
        return QString::fromUtf8(node.attribute().value());
    return stringValue(node.node());
}

QString QFXMLParser::xPath(const pugi::xml_node &node)
{
    QStringList steps;
    for (pugi::xml_node current = node; current && current.type() != pugi::node_document; current = current.parent()) {
        int position = 1;
        if (current.type() == pugi::node_element) {
            for (pugi::xml_node sibling = current.previous_sibling(current.name()); sibling;
                 sibling = sibling.previous_sibling(current.name()))
                ++position;
            steps.prepend(qfFormat("%s[%i]", current.name(), position));
        } else {
            for (pugi::xml_node sibling = current.previous_sibling(); sibling; sibling = sibling.previous_sibling())
                position += isText(sibling) ? 1 : 0;
            steps.prepend(qfFormat("text()[%i]", position));
        }
    }
    return u'/' + steps.join(u'/');
}

QString QFXMLParser::percentUnescaped(const QString &text)
{
    if (!text.contains(u'%'))
        return text;
    const auto hexValue = [](QChar c) -> int {
        const char16_t u = c.unicode();
        if (u >= u'0' && u <= u'9')
            return u - u'0';
        if (u >= u'a' && u <= u'f')
            return u - u'a' + 10;
        if (u >= u'A' && u <= u'F')
            return u - u'A' + 10;
        return -1;
    };
    QString result;
    result.reserve(text.size());
    const qsizetype length = text.size();
    for (qsizetype i = 0; i < length; ++i) {
        if (text.at(i) != u'%') {
            result += text.at(i);
            continue;
        }
        if (i + 2 >= length)
            return text;
        const int high = hexValue(text.at(i + 1));
        const int low = hexValue(text.at(i + 2));
        // Only ASCII may be escaped; an escaped byte of a longer UTF-8 sequence is not ASCII.
        if (high < 0 || low < 0 || high >= 8)
            return text;
        result += QChar(char16_t(high * 16 + low));
        i += 2;
    }
    return result;
}
