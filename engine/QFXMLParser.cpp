#include "engine/QFXMLParser.h"

#include "foundation/QFLog.h"

#include <QByteArray>
#include <QFile>
#include <QtAlgorithms>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

using NodeRecord = QFXMLParser::NodeRecord;
using AttributeRecord = QFXMLParser::AttributeRecord;
using DirectRecords = QFXMLParser::DirectRecords;

// A location path of the shape the engine asks most: "./a[1]/b[1]", ".//a[1]", ".//a[1]/text()", steps to
// the first child element of a name, from the node itself or from any node below it, and at the end perhaps
// the texts of the last. Such paths are answered from the records as the XPath engine would answer them, in
// document order; every other query goes to the XPath engine.
struct SimplePath {
    bool anyDepth = false;
    std::vector<std::string> steps;
    bool texts = false;
};

std::optional<SimplePath> parseSimplePath(const QString &query)
{
    SimplePath path;
    qsizetype at = 0;
    if (query.startsWith(QLatin1String(".//"))) {
        path.anyDepth = true;
        at = 3;
    } else if (query.startsWith(QLatin1String("./"))) {
        at = 2;
    } else {
        return std::nullopt;
    }
    const auto isNameStart
        = [](char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_'; };
    const auto isNamePart
        = [&](char16_t c) { return isNameStart(c) || (c >= u'0' && c <= u'9') || c == u'-' || c == u'.'; };
    for (;;) {
        if (!path.steps.empty() && QStringView(query).mid(at) == QLatin1String("text()")) {
            path.texts = true;
            return path;
        }
        const qsizetype start = at;
        if (at >= query.size() || !isNameStart(query.at(at).unicode()))
            return std::nullopt;
        while (at < query.size() && isNamePart(query.at(at).unicode()))
            ++at;
        path.steps.push_back(QStringView(query).mid(start, at - start).toLatin1().toStdString());
        if (QStringView(query).mid(at, 3) != QLatin1String("[1]"))
            return std::nullopt;
        at += 3;
        if (at == query.size())
            return path;
        if (query.at(at) != u'/')
            return std::nullopt;
        ++at;
    }
}

// The simple path a query reads as; null for any other query.
const SimplePath *simplePath(const QString &query)
{
    thread_local std::unordered_map<QString, std::optional<SimplePath>> cache;
    auto found = cache.find(query);
    if (found == cache.end()) {
        if (cache.size() >= 256)
            cache.clear();
        found = cache.emplace(query, parseSimplePath(query)).first;
    }
    return found->second ? &*found->second : nullptr;
}

// The nodes a simple path finds from context, in document order: found(record), which returns whether to go on.
template <typename Read, typename Found>
void eachMatch(const Read &read, NodeRecord *context, const SimplePath &path, Found found)
{
    const auto named = [&](NodeRecord *node, const std::string &name) {
        return read.type(node) == pugi::node_element && name == read.name(node);
    };
    // "name[1]": the first child element of that name.
    const auto firstNamed = [&](NodeRecord *element, const std::string &name) {
        if (!named(element, name))
            return false;
        for (NodeRecord *sibling = read.previousSibling(element); sibling; sibling = read.previousSibling(sibling)) {
            if (named(sibling, name))
                return false;
        }
        return true;
    };
    if (!path.anyDepth) {
        NodeRecord *current = context;
        for (const std::string &step : path.steps) {
            NodeRecord *next = nullptr;
            for (NodeRecord *child = read.firstChild(current); child && !next; child = read.nextSibling(child)) {
                if (named(child, step))
                    next = child;
            }
            if (!next)
                return;
            current = next;
        }
        if (!path.texts) {
            found(current);
            return;
        }
        for (NodeRecord *child = read.firstChild(current); child; child = read.nextSibling(child)) {
            if (read.isText(child) && !found(child))
                return;
        }
        return;
    }
    // Any depth: a node below the context matches when it and its ancestors, from the last step up, are each
    // the first of their step's name, all of them below the context.
    const auto matches = [&](NodeRecord *element) {
        for (size_t step = path.steps.size(); step-- > 0;) {
            if (element == context || !firstNamed(element, path.steps[step]))
                return false;
            if (step > 0)
                element = read.parent(element);
        }
        return true;
    };
    const std::string &last = path.steps.back();
    NodeRecord *current = context;
    for (;;) {
        if (NodeRecord *child = read.firstChild(current)) {
            current = child;
        } else {
            while (current != context && !read.nextSibling(current))
                current = read.parent(current);
            if (current == context)
                return;
            current = read.nextSibling(current);
        }
        const bool candidate
            = path.texts ? read.isText(current) && named(read.parent(current), last) : named(current, last);
        if (candidate && matches(path.texts ? read.parent(current) : current) && !found(current))
            return;
    }
}

template <typename Found> void eachMatch(const pugi::xml_node &context, const SimplePath &path, Found found)
{
    QFXMLParser::withRecords([&](const auto &read) { eachMatch(read, QFXMLParser::recordOf(context), path, found); });
}

// Every query of the engine is one of a few dozen fixed texts; compiling each once keeps a walk over a
// large project from spending its time in the XPath parser.
const pugi::xpath_query *compiledQuery(const QString &query, QString *error)
{
    thread_local std::unordered_map<QString, std::unique_ptr<pugi::xpath_query>> cache;
    const auto found = cache.find(query);
    if (found != cache.end())
        return found->second.get();
    const std::string text = query.toStdString();
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
    return cache.emplace(query, std::move(compiled)).first->second.get();
}

// All results of a query in document order; false with error set when the query cannot be evaluated.
bool evaluate(const QString &query, const pugi::xml_node &node, QList<pugi::xpath_node> &results, QString *error)
{
    if (!node)
        return true;
    if (const SimplePath *path = simplePath(query)) {
        eachMatch(node, *path, [&](NodeRecord *record) {
            results.append(pugi::xpath_node(QFXMLParser::nodeOf(record)));
            return true;
        });
        return true;
    }
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

// The first node a simple path finds; none when it finds nothing.
pugi::xpath_node firstMatch(const pugi::xml_node &context, const SimplePath &path)
{
    NodeRecord *first = nullptr;
    eachMatch(context, path, [&](NodeRecord *record) {
        first = record;
        return false;
    });
    return first ? pugi::xpath_node(QFXMLParser::nodeOf(first)) : pugi::xpath_node();
}

pugi::xpath_node firstResult(const QString &query, const pugi::xml_node &node)
{
    if (!node)
        return {};
    const QString escaped = QFXMLParser::escapeQueryString(query);
    if (const SimplePath *path = simplePath(escaped))
        return firstMatch(node, *path);
    QString error;
    const pugi::xpath_query *compiled = compiledQuery(escaped, &error);
    if (!compiled || compiled->return_type() != pugi::xpath_type_node_set)
        return {};
    try {
        return compiled->evaluate_node(node);
    } catch (const std::exception &) {
        return {};
    }
}

// Depth first over a record and everything below it, visit(record) on each, without recursion: documents may
// be very deep. Returns the depth of the deepest, the record's children being at depth 1.
template <typename Read, typename Visit> int eachRecord(const Read &read, NodeRecord *top, Visit visit)
{
    int depth = 0;
    int deepest = 0;
    NodeRecord *current = top;
    for (;;) {
        QFXMLParser::readAhead(current);
        visit(current);
        if (NodeRecord *child = read.firstChild(current)) {
            deepest = std::max(deepest, ++depth);
            current = child;
            continue;
        }
        for (;;) {
            if (current == top)
                return deepest;
            if (NodeRecord *sibling = read.nextSibling(current)) {
                current = sibling;
                break;
            }
            current = read.parent(current);
            --depth;
        }
    }
}

// Moves the texts of a document parsed in place to the front of its buffer, one after another in the order
// they stand in, so that the pages behind them can be given back. Element names, indentation and closing
// tags take most of an export's bytes, and the parser keeps the whole buffer: this leaves what the nodes
// point at. The texts keep their order, which the XPath engine reads as document order.
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
    Q_ALWAYS_INLINE bool pack(NodeRecord *record)
    {
        if (record->name && !move(record->name))
            return false;
        for (AttributeRecord *attribute = record->firstAttribute; attribute; attribute = attribute->nextAttribute) {
            if ((attribute->name && !move(attribute->name)) || (attribute->value && !move(attribute->value)))
                return false;
        }
        return !record->value || move(record->value);
    }

    // The first byte behind the packed texts.
    char *end() const { return m_cursor; }

private:
    // Texts outside the buffer (none after a parse in place) stay where they are; a text below the cursor is
    // out of order, and what lies there may be written over already.
    Q_ALWAYS_INLINE bool move(char *&text)
    {
        const auto from = reinterpret_cast<uintptr_t>(text);
        const auto to = reinterpret_cast<uintptr_t>(m_cursor);
        const auto end = reinterpret_cast<uintptr_t>(m_end);
        if (from - to >= end - to)
            return !inBuffer(text);
        const char *read = text;
        char *write = m_cursor;
#ifdef __SSE2__
        // Sixteen bytes at a time while the write cannot reach the text being read; the bytes written past a
        // text's end land below it, where nothing is left to read.
        if (from - to >= 16) {
            while (end - reinterpret_cast<uintptr_t>(read) >= 16) {
                const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(read));
                _mm_storeu_si128(reinterpret_cast<__m128i *>(write), block);
                if (const int zeros = _mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_setzero_si128()))) {
                    text = m_cursor;
                    m_cursor = write + qCountTrailingZeroBits(quint32(zeros)) + 1;
                    return true;
                }
                read += 16;
                write += 16;
            }
        }
#endif
        while ((*write++ = *read++) != 0) { }
        text = m_cursor;
        m_cursor = write;
        return true;
    }

    char *const m_begin;
    char *const m_end;
    char *m_cursor;
};

// Checks the nesting of a parsed document and, when it was parsed in place in buffer (size bytes read,
// allocated in all), packs its texts and releases the whole pages of the buffer behind them: one pass over
// the records does both. A packing that met its texts out of order may have written over one of them: then
// the document is not given out and *unpacked is set, for the caller to parse the file again.
std::unique_ptr<pugi::xml_document> finishLoading(std::unique_ptr<pugi::xml_document> document,
    const pugi::xml_parse_result &result, QString *error, char *buffer = nullptr, size_t size = 0, size_t allocated = 0,
    bool *unpacked = nullptr)
{
    if (!result) {
        if (error) {
            *error = qfFormat("%s at byte %lli", result.description(), static_cast<long long>(result.offset));
        }
        return nullptr;
    }
    const pugi::xml_node element = document->document_element();
    if (!element) {
        if (error)
            *error = QStringLiteral("No document element found");
        return nullptr;
    }
    NodeRecord *root = QFXMLParser::recordOf(*document);
    int deepest = 0;
    char *packedEnd = nullptr;
    // A document the parser converted from another encoding points into a buffer of its own.
    TextPacker packer(buffer, size);
    if (buffer && QFXMLParser::recordsReadable() && packer.inBuffer(element.name())) {
        bool packing = true;
        deepest = eachRecord(DirectRecords(), root, [&](NodeRecord *record) {
            if (packing && !packer.pack(record))
                packing = false;
        });
        if (!packing) {
            if (unpacked)
                *unpacked = true;
            return nullptr;
        }
        packedEnd = packer.end();
    } else {
        QFXMLParser::withRecords([&](const auto &read) { deepest = eachRecord(read, root, [](NodeRecord *) {}); });
    }
    if (deepest > QFXMLParser::kMaximumNesting) {
        if (error)
            *error = qfFormat("Elements nested deeper than %i levels", QFXMLParser::kMaximumNesting);
        return nullptr;
    }
#ifdef MADV_DONTNEED
    if (packedEnd) {
        const auto pageSize = uintptr_t(::sysconf(_SC_PAGESIZE));
        if (pageSize != 0 && (pageSize & (pageSize - 1)) == 0) {
            const uintptr_t from = (reinterpret_cast<uintptr_t>(packedEnd) + pageSize - 1) & ~(pageSize - 1);
            const uintptr_t to = (reinterpret_cast<uintptr_t>(buffer) + allocated) & ~(pageSize - 1);
            // The pages stay the buffer's; they read as zeros if touched again, and nothing points into them.
            if (to > from)
                ::madvise(reinterpret_cast<void *>(from), to - from, MADV_DONTNEED);
        }
    }
#else
    Q_UNUSED(allocated);
#endif
    return document;
}

// The records of the probe, each field against what the library's accessors give for it.
bool recordsMatchLibrary(const pugi::xml_node &node)
{
    const auto sameText
        = [](const char *field, const char *accessor) { return field ? field == accessor : *accessor == 0; };
    const auto *record = reinterpret_cast<const NodeRecord *>(node.internal_object());
    if (int(record->header & 15) != int(node.type()) || !sameText(record->name, node.name())
        || !sameText(record->value, node.value())
        || record->parent != reinterpret_cast<NodeRecord *>(node.parent().internal_object())
        || record->firstChild != reinterpret_cast<NodeRecord *>(node.first_child().internal_object())
        || record->nextSibling != reinterpret_cast<NodeRecord *>(node.next_sibling().internal_object())
        || (node.parent()
            && record->previousSibling
                != reinterpret_cast<NodeRecord *>(
                    (node.previous_sibling() ? node.previous_sibling() : node.parent().last_child()).internal_object()))
        || record->firstAttribute
            != reinterpret_cast<QFXMLParser::AttributeRecord *>(node.first_attribute().internal_object()))
        return false;
    for (pugi::xml_attribute attribute = node.first_attribute(); attribute; attribute = attribute.next_attribute()) {
        const auto *attributeRecord
            = reinterpret_cast<const QFXMLParser::AttributeRecord *>(attribute.internal_object());
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

pugi::xml_node_type QFXMLParser::LibraryRecords::type(const NodeRecord *record)
{
    return nodeOf(record).type();
}

bool QFXMLParser::LibraryRecords::isText(const NodeRecord *record)
{
    const pugi::xml_node_type kind = type(record);
    return kind == pugi::node_pcdata || kind == pugi::node_cdata;
}

const char *QFXMLParser::LibraryRecords::name(const NodeRecord *record)
{
    return nodeOf(record).name();
}

const char *QFXMLParser::LibraryRecords::elementName(const NodeRecord *record)
{
    return record && type(record) == pugi::node_element ? name(record) : nullptr;
}

const char *QFXMLParser::LibraryRecords::value(const NodeRecord *record)
{
    return nodeOf(record).value();
}

QFXMLParser::NodeRecord *QFXMLParser::LibraryRecords::firstChild(const NodeRecord *record)
{
    return recordOf(nodeOf(record).first_child());
}

QFXMLParser::NodeRecord *QFXMLParser::LibraryRecords::nextSibling(const NodeRecord *record)
{
    return recordOf(nodeOf(record).next_sibling());
}

QFXMLParser::NodeRecord *QFXMLParser::LibraryRecords::parent(const NodeRecord *record)
{
    return recordOf(nodeOf(record).parent());
}

QFXMLParser::NodeRecord *QFXMLParser::LibraryRecords::previousSibling(const NodeRecord *record)
{
    return recordOf(nodeOf(record).previous_sibling());
}

QFXMLParser::NodeRecord *QFXMLParser::LibraryRecords::lastChild(const NodeRecord *record)
{
    return recordOf(nodeOf(record).last_child());
}

const char *QFXMLParser::LibraryRecords::attribute(const NodeRecord *record, const char *name)
{
    const pugi::xml_attribute found = nodeOf(record).attribute(name);
    return found ? found.value() : nullptr;
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
    bool unpacked = false;
    document = finishLoading(std::move(document), result, error, buffer, size, allocated, &unpacked);
    if (unpacked) {
        // The parser's texts stood out of the order packing relies on: the file read and parsed as it is.
        file.seek(0);
        return documentFromData(file.readAll(), error);
    }
    return document;
}

namespace {

// The text of an element as appendText gives it, without building a string when it is its one text child.
template <typename Read> QString textBelow(const Read &read, NodeRecord *element)
{
    NodeRecord *child = read.firstChild(element);
    if (!child)
        return QString::fromUtf8("");
    if (read.isText(child) && !read.firstChild(child) && !read.nextSibling(child))
        return QString::fromUtf8(read.value(child));
    std::string text;
    QFXMLParser::appendText(QFXMLParser::nodeOf(element), text);
    return QString::fromStdString(text);
}

// Every element of the node and its descendants, in document order: visit(reader, record). Leaves are not
// entered: the one text of an element holds no element.
template <typename Visit> void eachElement(const pugi::xml_node &root, Visit visit)
{
    NodeRecord *top = QFXMLParser::recordOf(root);
    if (!top)
        return;
    QFXMLParser::withRecords([&](const auto &read) {
        NodeRecord *current = top;
        while (current) {
            QFXMLParser::readAhead(current);
            NodeRecord *child = read.firstChild(current);
            if (read.type(current) == pugi::node_element) {
                visit(read, current);
                if (child && read.isText(child) && !read.nextSibling(child))
                    child = nullptr;
            }
            if (child) {
                current = child;
                continue;
            }
            while (current != top && !read.nextSibling(current))
                current = read.parent(current);
            current = current != top ? read.nextSibling(current) : nullptr;
        }
    });
}

} // namespace

void QFXMLParser::itemLists(const pugi::xml_node &node, QStringList &uuids, QStringList &ids)
{
    eachElement(node, [&uuids, &ids](const auto &read, NodeRecord *element) {
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
    eachElement(node, [&list](const auto &read, NodeRecord *element) {
        if (isNamed(read.name(element), "uuid"))
            list.append(textBelow(read, element));
    });
    return list;
}

QStringList QFXMLParser::idList(const pugi::xml_node &node)
{
    QStringList list;
    eachElement(node, [&list](const auto &read, NodeRecord *element) {
        if (const char *id = read.attribute(element, "id"))
            list.append(QString::fromUtf8(id));
    });
    return list;
}

QString QFXMLParser::escapeQueryString(const QString &query)
{
    // The engine's own queries have nothing to escape.
    const auto plain = [](QChar c) { return c.unicode() > 19 && c.unicode() < 160 && c != u'&'; };
    if (std::all_of(query.cbegin(), query.cend(), plain))
        return query;
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
    // The first of nodesForQuery, without gathering the others.
    const QString escaped = escapeQueryString(query);
    if (!inElement)
        return {};
    if (const SimplePath *path = simplePath(escaped))
        return firstMatch(inElement, *path);
    QString error;
    if (const pugi::xpath_query *compiled = compiledQuery(escaped, &error)) {
        if (compiled->return_type() != pugi::xpath_type_node_set) {
            error = QStringLiteral("The expression does not evaluate to a node set");
        } else {
            try {
                return compiled->evaluate_node(inElement);
            } catch (const std::exception &e) {
                error = QString::fromUtf8(e.what());
            }
        }
    }
    QFLog::appendLog("XML parsing error: %@", error);
    return {};
}

namespace {

// The text "./NAME[1]/text()" finds: the first text of the node's first child element of that name; null when
// that element has none, or when there is no such element.
template <typename Read> const char *firstChildText(const Read &read, NodeRecord *node, const char *name)
{
    for (NodeRecord *child = read.firstChild(node); child; child = read.nextSibling(child)) {
        if (read.type(child) != pugi::node_element || std::strcmp(read.name(child), name) != 0)
            continue;
        for (NodeRecord *text = read.firstChild(child); text; text = read.nextSibling(text)) {
            if (read.isText(text))
                return read.value(text);
        }
        return nullptr;
    }
    return nullptr;
}

// The text ".//NAME[1]/text()" finds: the first text, in document order, of an element of that name below the
// node that is the first of that name among its siblings.
template <typename Read> const char *firstDescendantText(const Read &read, NodeRecord *node, const char *name)
{
    const auto firstNamed = [&](NodeRecord *element) {
        for (NodeRecord *sibling = read.previousSibling(element); sibling; sibling = read.previousSibling(sibling)) {
            if (read.type(sibling) == pugi::node_element && std::strcmp(read.name(sibling), name) == 0)
                return false;
        }
        return true;
    };
    NodeRecord *current = node;
    while (current) {
        if (NodeRecord *child = read.firstChild(current)) {
            current = child;
        } else {
            while (current != node && !read.nextSibling(current))
                current = read.parent(current);
            current = current != node ? read.nextSibling(current) : nullptr;
        }
        if (!current || !read.isText(current))
            continue;
        NodeRecord *element = read.parent(current);
        if (element != node && read.type(element) == pugi::node_element && std::strcmp(read.name(element), name) == 0
            && firstNamed(element))
            return read.value(current);
    }
    return nullptr;
}

// The text of an element named name below the node, as nameForNode and uuidForNode look for it.
QString textNamed(const pugi::xml_node &node, const char *name, bool immediateChildOnly)
{
    NodeRecord *record = QFXMLParser::recordOf(node);
    if (!record)
        return {};
    const char *text = QFXMLParser::withRecords([&](const auto &read) {
        const char *found = firstChildText(read, record, name);
        return found || immediateChildOnly ? found : firstDescendantText(read, record, name);
    });
    return text ? QString::fromUtf8(text) : QString();
}

} // namespace

QString QFXMLParser::nameForNode(const pugi::xml_node &node, bool immediateChildOnly)
{
    QString text = textNamed(node, "name", immediateChildOnly);
    if (text.isNull() && immediateChildOnly)
        return {};
    if (text.isNull()) {
        const pugi::xml_attribute id = node.attribute("id");
        if (id)
            text = QString::fromUtf8(id.value());
    }
    return text.isNull() ? text : percentUnescaped(text);
}

QString QFXMLParser::uuidForNode(const pugi::xml_node &node, bool immediateChildOnly)
{
    const QString text = textNamed(node, "uuid", immediateChildOnly);
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
    NodeRecord *top = QFXMLParser::recordOf(node);
    if (!top)
        return;
    QFXMLParser::withRecords([&](const auto &read) {
        eachRecord(read, top, [&](NodeRecord *record) {
            const pugi::xml_node_type type = read.type(record);
            if (record != top && (type == pugi::node_pcdata || type == pugi::node_cdata))
                text += read.value(record);
        });
    });
}

QString QFXMLParser::stringValue(const pugi::xpath_node &node)
{
    if (node.attribute())
        return QString::fromUtf8(node.attribute().value());
    return stringValue(node.node());
}

QString QFXMLParser::xPath(const pugi::xml_node &node)
{
    return withRecords([&](const auto &read) {
        QStringList steps;
        for (NodeRecord *current = recordOf(node); current && read.type(current) != pugi::node_document;
             current = read.parent(current)) {
            int position = 1;
            if (read.type(current) == pugi::node_element) {
                const char *name = read.name(current);
                for (NodeRecord *sibling = read.previousSibling(current); sibling;
                     sibling = read.previousSibling(sibling)) {
                    const char *siblingName = read.name(sibling);
                    if (siblingName[0] == name[0] && std::strcmp(siblingName, name) == 0)
                        ++position;
                }
                steps.prepend(qfFormat("%s[%i]", name, position));
            } else {
                for (NodeRecord *sibling = read.previousSibling(current); sibling;
                     sibling = read.previousSibling(sibling))
                    position += read.isText(sibling) ? 1 : 0;
                steps.prepend(qfFormat("text()[%i]", position));
            }
        }
        return u'/' + steps.join(u'/');
    });
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
