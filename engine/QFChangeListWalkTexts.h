#pragma once

// The walk's own helpers for texts: which parts of an item are passed by, element names compared, the texts
// below a record read a piece at a time, and the list of texts the base document is asked about. Included by
// the walk's source file only (its helpers keep internal linkage, as they are in its hot loop).

#include "engine/QFChangeListWalk.h"
#include "engine/QFXMLParser.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <vector>

using Node = pugi::xml_node;
using Record = QFXMLParser::NodeRecord;
using namespace QFChangeNodes;

namespace {

// Parts of an item that say nothing to an editor, or change with every export: "uuid", "itemhistory", "link",
// "linkclipref", "trackindex", "file", "mediatype". Asked at every element of the newer document.
Q_ALWAYS_INLINE bool isPassedPart(const char *name)
{
    if (!name)
        return false;
    switch (name[0]) {
    case 'u':
        return QFXMLParser::isNamed(name, "uuid");
    case 'i':
        return QFXMLParser::isNamed(name, "itemhistory");
    case 'l':
        return QFXMLParser::isNamed(name, "link") || QFXMLParser::isNamed(name, "linkclipref");
    case 't':
        return QFXMLParser::isNamed(name, "trackindex");
    case 'f':
        return QFXMLParser::isNamed(name, "file");
    case 'm':
        return QFXMLParser::isNamed(name, "mediatype");
    default:
        return false;
    }
}

// Names compared as sameName compares them, the first letters first.
bool sameElementName(const char *a, const char *b)
{
    return a && b && a[0] == b[0] && std::strcmp(a, b) == 0;
}

// The texts below a record in document order, a piece at a time as they stand in the document, so that two
// elements' texts are compared without copying either.
template <typename Read> class TextPieces {
public:
    TextPieces(const Read &read, Record *root)
        : m_read(read)
        , m_root(root)
        , m_current(root)
    {
        next();
    }

    bool atEnd() const { return !m_current; }
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
    // On to the next text that is not empty, depth first as QFXMLParser::appendText goes.
    void next()
    {
        do {
            if (Record *child = m_read.firstChild(m_current)) {
                m_current = child;
            } else {
                while (m_current != m_root && !m_read.nextSibling(m_current))
                    m_current = m_read.parent(m_current);
                m_current = m_current != m_root ? m_read.nextSibling(m_current) : nullptr;
            }
            if (m_current && m_read.isText(m_current)) {
                m_rest = m_read.value(m_current);
                m_size = std::strlen(m_rest);
            } else {
                m_size = 0;
            }
        } while (m_current && m_size == 0);
    }

    const Read &m_read;
    Record *const m_root;
    Record *m_current;
    const char *m_rest = "";
    size_t m_size = 0;
};

template <typename Read> bool textsDiffer(const Read &read, Record *a, Record *b)
{
    TextPieces<Read> left(read, a);
    TextPieces<Read> right(read, b);
    while (!left.atEnd() && !right.atEnd()) {
        const size_t length = std::min(left.restSize(), right.restSize());
        if (std::memcmp(left.rest(), right.rest(), length) != 0)
            return true;
        left.consume(length);
        right.consume(length);
    }
    return left.atEnd() != right.atEnd();
}

// Depth first over the elements of a record and everything below it: visit(element, name). Leaves are not
// entered: the one text of an element holds no element, and visit reads it if it needs it.
template <typename Read, typename Visit> void eachElement(const Read &read, Record *top, Visit visit)
{
    Record *current = top;
    while (current) {
        QFXMLParser::readAhead(current);
        Record *child = read.firstChild(current);
        if (const char *name = read.elementName(current)) {
            visit(current, name);
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
}

// A list of texts asked about by the bytes of a document's text: an ASCII text, as most are, is looked up by its
// bytes, never made a string; any other by the string it reads as.
class WantedTexts {
public:
    explicit WantedTexts(const QStringList &texts)
        : m_texts(texts)
    {
        size_t capacity = 2;
        while (capacity < size_t(texts.size()) * 2)
            capacity *= 2;
        m_slots.assign(capacity, Slot {});
        m_mask = capacity - 1;
        m_bytes.reserve(size_t(texts.size()));
        m_first.resize(size_t(texts.size()));
        for (qsizetype i = 0; i < texts.size(); ++i) {
            QByteArray bytes = texts.at(i).toUtf8();
            if (!isAscii(bytes.constData(), size_t(bytes.size()))) {
                m_first[size_t(i)] = m_texts.indexOf(texts.at(i));
                continue;
            }
            const size_t hash = bytesHash(bytes.constData(), size_t(bytes.size()));
            for (size_t slot = hash & m_mask;; slot = (slot + 1) & m_mask) {
                Slot &entry = m_slots[slot];
                if (entry.position < 0) {
                    entry = { bytes.constData(), size_t(bytes.size()), i };
                    m_bytes.push_back(std::move(bytes));
                    m_first[size_t(i)] = i;
                    break;
                }
                if (entry.length == size_t(bytes.size())
                    && std::memcmp(entry.bytes, bytes.constData(), entry.length) == 0) {
                    m_first[size_t(i)] = entry.position;
                    break;
                }
            }
        }
    }

    bool isEmpty() const { return m_texts.list().isEmpty(); }
    qsizetype size() const { return m_texts.list().size(); }
    // Where the first text of the list that reads as the document's text stands; -1 when none does.
    qsizetype find(const char *text) const
    {
        const size_t length = std::strlen(text);
        if (!isAscii(text, length))
            return m_texts.indexOf(QString::fromUtf8(text, qsizetype(length)));
        for (size_t slot = bytesHash(text, length) & m_mask;; slot = (slot + 1) & m_mask) {
            const Slot &entry = m_slots[slot];
            if (entry.position < 0)
                return -1;
            if (entry.length == length && std::memcmp(entry.bytes, text, length) == 0)
                return entry.position;
        }
    }
    // Where the first text of the list equal to the list's text at position stands.
    qsizetype first(qsizetype position) const { return m_first[size_t(position)]; }

private:
    struct Slot {
        const char *bytes = nullptr;
        size_t length = 0;
        qsizetype position = -1;
    };

    static bool isAscii(const char *text, size_t length)
    {
        for (size_t i = 0; i < length; ++i) {
            if (static_cast<unsigned char>(text[i]) >= 0x80)
                return false;
        }
        return true;
    }
    static size_t bytesHash(const char *text, size_t length)
    {
        quint64 hash = 14695981039346656037ull;
        for (size_t i = 0; i < length; ++i)
            hash = (hash ^ static_cast<unsigned char>(text[i])) * 1099511628211ull;
        return size_t(hash ^ (hash >> 29));
    }

    const QFChangePhrases::TextIndex m_texts;
    // The bytes of the ASCII texts, which the slots point into.
    std::vector<QByteArray> m_bytes;
    std::vector<Slot> m_slots;
    size_t m_mask = 0;
    std::vector<qsizetype> m_first;
};

} // namespace
