#include "engine/QFXMLParser.h"

#include "foundation/QFLog.h"

#include <QByteArray>
#include <QFile>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <exception>
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

int deepestNesting(const pugi::xml_document &document)
{
    int depth = 0;
    int deepest = 0;
    pugi::xml_node node = document.first_child();
    while (node) {
        deepest = std::max(deepest, depth + 1);
        if (node.first_child()) {
            node = node.first_child();
            ++depth;
            continue;
        }
        while (node && !node.next_sibling()) {
            node = node.parent();
            --depth;
        }
        if (node)
            node = node.next_sibling();
    }
    return deepest;
}

// nestingBound: a depth no node of the document exceeds, known from its text; -1 when unknown.
std::unique_ptr<pugi::xml_document> finishLoading(std::unique_ptr<pugi::xml_document> document,
    const pugi::xml_parse_result &result, QString *error, int nestingBound = -1)
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
    if ((nestingBound < 0 || nestingBound > QFXMLParser::kMaximumNesting)
        && deepestNesting(*document) > QFXMLParser::kMaximumNesting) {
        if (error)
            *error = qfFormat("Elements nested deeper than %i levels", QFXMLParser::kMaximumNesting);
        return nullptr;
    }
    return document;
}

// Copies an export without the runs of blanks between markup that the parser would drop anyway, so that a
// large export, mostly indentation, is held in less memory. Fed block by block as the file is read: a token
// (a run of text, a tag, a comment, CDATA, a processing instruction) that reaches the end of a block is left
// for the next call, which is given it again with what follows. Only for byte encodings that keep ASCII as
// it is. On the way it counts how deep start tags nest, which bounds the depth of the parsed document.
class BlankRunFilter {
public:
    explicit BlankRunFilter(char *out)
        : m_out(out)
    {
    }

    // How many bytes of text were taken; all of them when last.
    size_t feed(const char *text, size_t size, bool last)
    {
        size_t read = 0;
        while (read < size) {
            const size_t token = read;
            if (text[read] != '<') {
                // Text up to the next markup: dropped when blank, kept whole otherwise.
                size_t end = read;
                bool blank = true;
                while (end < size && text[end] != '<') {
                    blank = blank && isBlank(text[end]);
                    ++end;
                }
                if (end == size && !last)
                    return token;
                if (!blank)
                    write(text + read, end - read);
                read = end;
                continue;
            }
            // Long enough to tell a comment or CDATA from a tag.
            if (size - read < 9 && !last)
                return token;
            const char *terminator = nullptr;
            if (startsWith(text + read, size - read, "<!--"))
                terminator = "-->";
            else if (startsWith(text + read, size - read, "<![CDATA["))
                terminator = "]]>";
            else if (startsWith(text + read, size - read, "<?"))
                terminator = "?>";
            if (terminator) {
                const size_t length = std::strlen(terminator);
                const char *found = static_cast<const char *>(memmem(text + read, size - read, terminator, length));
                if (!found && !last)
                    return token;
                const size_t stop = found ? size_t(found - text) + length : size;
                write(text + read, stop - read);
                read = stop;
                continue;
            }
            // A tag or a declaration: to its closing bracket outside quotes and internal subsets.
            char quote = 0;
            int depth = 0;
            size_t end = read + 1;
            for (; end < size; ++end) {
                const char c = text[end];
                if (quote) {
                    quote = c == quote ? 0 : quote;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '[') {
                    ++depth;
                } else if (c == ']') {
                    --depth;
                } else if (c == '>' && depth <= 0) {
                    break;
                }
            }
            if (end == size && !last)
                return token;
            countNesting(text + read, end - read);
            end = std::min(size, end + 1);
            write(text + read, end - read);
            read = end;
        }
        return read;
    }

    size_t written() const { return m_written; }
    // Elements nest no deeper than the start tags seen, and their text one level below; -1 (unknown) after a
    // declaration with quotes or an internal subset, which the parser may read otherwise than this filter.
    int nestingBound() const { return m_declarationRead ? -1 : m_deepestTag + 1; }

private:
    static bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

    static bool startsWith(const char *text, size_t size, const char *prefix)
    {
        const size_t length = std::strlen(prefix);
        return length <= size && std::memcmp(text, prefix, length) == 0;
    }

    void write(const char *text, size_t length)
    {
        std::memcpy(m_out + m_written, text, length);
        m_written += length;
    }

    // A tag from its '<' up to, not including, its '>'.
    void countNesting(const char *tag, size_t length)
    {
        if (length < 2)
            return;
        if (tag[1] == '!') {
            m_declarationRead = m_declarationRead || std::memchr(tag, '"', length) || std::memchr(tag, '\'', length)
                || std::memchr(tag, '[', length);
            return;
        }
        if (tag[1] == '/') {
            --m_depth;
            return;
        }
        m_deepestTag = std::max(m_deepestTag, ++m_depth);
        if (tag[length - 1] == '/')
            --m_depth;
    }

    char *const m_out;
    size_t m_written = 0;
    int m_depth = 0;
    int m_deepestTag = 0;
    bool m_declarationRead = false;
};

// Reads size bytes of the file into out, without blank runs unless the file is in a wider encoding. False
// when the file gives fewer bytes.
bool readWithoutBlankRuns(QFile &file, qint64 size, char *out, size_t &kept, int &nestingBound)
{
    constexpr size_t kBlockSize = 256 * 1024;
    std::vector<char> block(size_t(std::clamp<qint64>(size, 1, kBlockSize)));
    BlankRunFilter filter(out);
    size_t pending = 0;
    qint64 done = 0;
    std::optional<bool> wide;
    while (done < size) {
        // A token longer than the block: a larger block.
        if (pending == block.size())
            block.resize(block.size() * 2);
        const qint64 n = file.read(block.data() + pending, std::min(qint64(block.size() - pending), size - done));
        if (n <= 0)
            return false;
        done += n;
        pending += size_t(n);
        const bool last = done == size;
        if (!wide) {
            if (pending < 2 && !last)
                continue;
            wide = size >= 2
                && (block[0] == 0 || block[1] == 0 || static_cast<unsigned char>(block[0]) >= 0xfe);
        }
        if (*wide) {
            std::memcpy(out + kept, block.data(), pending);
            kept += pending;
            pending = 0;
            continue;
        }
        const size_t taken = filter.feed(block.data(), pending, last);
        std::memmove(block.data(), block.data() + taken, pending - taken);
        pending -= taken;
    }
    if (!wide || !*wide) {
        kept = filter.written();
        nestingBound = filter.nestingBound();
    }
    return true;
}

#ifndef PUGIXML_COMPACT
// The parser's own records of a node and of an attribute, as the library lays them out when it is not built
// compact. Only their text pointers are changed, and only after the library's accessors have confirmed the
// record field by field.
struct NodeRecord {
    uintptr_t header;
    char *name;
    char *value;
    void *parent;
    void *firstChild;
    void *previousSibling;
    void *nextSibling;
    void *firstAttribute;
};

struct AttributeRecord {
    uintptr_t header;
    char *name;
    char *value;
    void *previousAttribute;
    void *nextAttribute;
};

// A field of a record against what the accessor gives: the accessor answers "" for a missing text.
bool sameText(const char *field, const char *accessor)
{
    return field ? field == accessor : *accessor == 0;
}

// Moves the texts of a document parsed in place to the front of its buffer, one after another in the order
// they stand in, and gives the pages behind them back to the system. Element names and closing tags take
// much of an export's bytes, and the parser keeps the whole buffer: this leaves what the nodes point at.
// The texts keep their order, which the XPath engine reads as document order.
class TextPacker {
public:
    TextPacker(char *buffer, size_t kept)
        : m_begin(buffer)
        , m_end(buffer + kept)
        , m_cursor(buffer)
    {
    }

    // False, with the document as it was from the node that failed on, when a record is not as expected.
    bool pack(const pugi::xml_document &document)
    {
        const pugi::xml_node element = document.document_element();
        // A document the parser converted from another encoding points into a buffer of its own.
        if (!element || !inBuffer(element.name()))
            return false;
        pugi::xml_node current = document.first_child();
        while (current) {
            if (!packNode(current))
                return false;
            if (const pugi::xml_node child = current.first_child()) {
                current = child;
                continue;
            }
            while (current && !current.next_sibling())
                current = current.parent();
            if (current)
                current = current.next_sibling();
        }
        return true;
    }

    // The first byte behind the packed texts.
    char *end() const { return m_cursor; }

private:
    bool inBuffer(const char *text) const
    {
        const auto at = reinterpret_cast<uintptr_t>(text);
        return at >= reinterpret_cast<uintptr_t>(m_begin) && at < reinterpret_cast<uintptr_t>(m_end);
    }

    bool packNode(const pugi::xml_node &node)
    {
        auto *record = reinterpret_cast<NodeRecord *>(node.internal_object());
        if (!sameText(record->name, node.name()) || !sameText(record->value, node.value())
            || record->parent != node.parent().internal_object()
            || record->firstChild != node.first_child().internal_object()
            || record->nextSibling != node.next_sibling().internal_object()
            || record->firstAttribute != node.first_attribute().internal_object())
            return false;
        if (!move(record->name))
            return false;
        for (pugi::xml_attribute attribute = node.first_attribute(); attribute;
             attribute = attribute.next_attribute()) {
            auto *attributeRecord = reinterpret_cast<AttributeRecord *>(attribute.internal_object());
            if (!sameText(attributeRecord->name, attribute.name())
                || !sameText(attributeRecord->value, attribute.value())
                || attributeRecord->nextAttribute != attribute.next_attribute().internal_object())
                return false;
            if (!move(attributeRecord->name) || !move(attributeRecord->value))
                return false;
        }
        return move(record->value);
    }

    // Texts outside the buffer (none after a parse in place) stay where they are.
    bool move(char *&text)
    {
        if (!text || !inBuffer(text))
            return true;
        // Out of order: what lies below the cursor may be written over already.
        if (text < m_cursor)
            return false;
        const size_t size = std::strlen(text) + 1;
        if (text != m_cursor)
            std::memmove(m_cursor, text, size);
        text = m_cursor;
        m_cursor += size;
        return true;
    }

    char *const m_begin;
    char *const m_end;
    char *m_cursor;
};
#endif

// Packs the texts of a document parsed in place in buffer (allocated bytes, of which kept were read) and
// releases the whole pages of the buffer behind them.
void packTexts(const pugi::xml_document &document, char *buffer, size_t kept, size_t allocated)
{
#if defined(PUGIXML_COMPACT) || !defined(MADV_DONTNEED)
    Q_UNUSED(document);
    Q_UNUSED(buffer);
    Q_UNUSED(kept);
    Q_UNUSED(allocated);
#else
    TextPacker packer(buffer, kept);
    if (!packer.pack(document))
        return;
    const auto pageSize = uintptr_t(::sysconf(_SC_PAGESIZE));
    if (pageSize == 0 || (pageSize & (pageSize - 1)) != 0)
        return;
    const uintptr_t from = (reinterpret_cast<uintptr_t>(packer.end()) + pageSize - 1) & ~(pageSize - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(buffer) + allocated) & ~(pageSize - 1);
    // The pages stay the buffer's; they read as zeros if touched again, and nothing points into them.
    if (to > from)
        ::madvise(reinterpret_cast<void *>(from), to - from, MADV_DONTNEED);
#endif
}

} // namespace

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

    // Parsed in place in a buffer the document then owns, so a large project is held in memory once. The
    // file is read a block at a time into it: pages past what is kept are never written and take no memory.
    const qint64 size = file.size();
    const size_t allocated = size_t(std::max<qint64>(size, 1));
    char *buffer = static_cast<char *>(pugi::get_memory_allocation_function()(allocated));
    if (!buffer) {
        if (error)
            *error = QStringLiteral("Out of memory");
        return nullptr;
    }
    size_t kept = 0;
    int nestingBound = -1;
    if (!readWithoutBlankRuns(file, size, buffer, kept, nestingBound)) {
        pugi::get_memory_deallocation_function()(buffer);
        if (error)
            *error = file.errorString().isEmpty() ? QStringLiteral("Short read") : file.errorString();
        return nullptr;
    }
    auto document = std::make_unique<pugi::xml_document>();
    pugi::xml_parse_result result;
    try {
        result = document->load_buffer_inplace_own(buffer, kept, pugi::parse_default);
    } catch (const std::exception &e) {
        if (error)
            *error = QString::fromUtf8(e.what());
        return nullptr;
    }
    if (!result && error) {
        // Say where the fault is in the file as it stands.
        file.seek(0);
        return documentFromData(file.readAll(), error);
    }
    document = finishLoading(std::move(document), result, error, nestingBound);
    if (document)
        packTexts(*document, buffer, kept, allocated);
    return document;
}

namespace {

// Depth first over the node and its descendants. A depth count rather than comparisons with the root
// keeps the steps to the fewest calls into the parser's library: this pass runs over every node of an export.
template <typename Visit> void eachElement(const pugi::xml_node &root, Visit visit)
{
    pugi::xml_node current = root;
    int depth = 0;
    while (current) {
        if (current.type() == pugi::node_element)
            visit(current);
        if (pugi::xml_node child = current.first_child()) {
            current = child;
            ++depth;
            continue;
        }
        pugi::xml_node next;
        while (depth > 0) {
            next = current.next_sibling();
            if (next)
                break;
            current = current.parent();
            --depth;
        }
        current = next;
    }
}

} // namespace

void QFXMLParser::itemLists(const pugi::xml_node &node, QStringList &uuids, QStringList &ids)
{
    eachElement(node, [&uuids, &ids](const pugi::xml_node &element) {
        const char *name = element.name();
        if (name[0] == 'u' && std::strcmp(name, "uuid") == 0)
            uuids.append(stringValue(element));
        if (const pugi::xml_attribute id = element.attribute("id"))
            ids.append(QString::fromUtf8(id.value()));
    });
}

QStringList QFXMLParser::uuidList(const pugi::xml_node &node)
{
    QStringList list;
    eachElement(node, [&list](const pugi::xml_node &element) {
        if (std::strcmp(element.name(), "uuid") == 0)
            list.append(stringValue(element));
    });
    return list;
}

QStringList QFXMLParser::idList(const pugi::xml_node &node)
{
    QStringList list;
    eachElement(node, [&list](const pugi::xml_node &element) {
        if (const pugi::xml_attribute id = element.attribute("id"))
            list.append(QString::fromUtf8(id.value()));
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
    // Depth first without recursion: documents may be very deep.
    pugi::xml_node current = node.first_child();
    while (current) {
        if (isText(current))
            text += current.value();
        if (current.first_child()) {
            current = current.first_child();
            continue;
        }
        while (current && current != node && !current.next_sibling())
            current = current.parent();
        if (!current || current == node)
            break;
        current = current.next_sibling();
    }
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
