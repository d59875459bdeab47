#pragma once

// The sentences of a change list: one for each changed leaf element, built by the group of elements it
// belongs to (names, points in time, frame formats, rates and states, filters), and the lines for items
// added or removed. Builds on any thread; nothing is kept between sentences but the uuid index below.

#include <pugixml.hpp>

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstring>
#include <initializer_list>
#include <vector>

class QFTombrelBackup;

// Questions about nodes that the walk asks at every node and the sentences ask of every change; the
// smallest are inline because the walk's loop lives on them.
namespace QFChangeNodes {

inline const char *nameOf(const pugi::xml_node &node)
{
    return node.type() == pugi::node_element ? node.name() : nullptr;
}

inline bool is(const char *name, const char *literal)
{
    return name && std::strcmp(name, literal) == 0;
}

inline bool isOneOf(const char *name, std::initializer_list<const char *> names)
{
    if (!name)
        return false;
    for (const char *candidate : names) {
        if (std::strcmp(name, candidate) == 0)
            return true;
    }
    return false;
}

// Names compared as the walk compares them: a text node's missing name equals nothing.
inline bool sameName(const char *a, const char *b)
{
    return a && b && std::strcmp(a, b) == 0;
}

pugi::xml_node ancestorNamed(const pugi::xml_node &node, const char *name);
// Whether the node's location path ("/xmeml[1]/…/video[2]/…") holds a step with the name.
bool pathContains(const pugi::xml_node &node, const char *name);
// "video ", "audio " or nothing, by the track the node stands in.
QString mediaPrefix(const pugi::xml_node &node);
// "subclip", "freeze frame" or "clip", by what the two queries find below the item.
QString itemKind(const pugi::xml_node &item, const char *subclipQuery, const char *stillQuery);
QString capitalizedItemKind(const pugi::xml_node &item, const char *subclipQuery, const char *stillQuery);
// " for sequence Main" when there is a value, nothing otherwise.
QString part(const char *format, const QString &value);
QString lastPathComponent(const QString &path);
// A number as the editor's texts hold it: leading blanks, a sign, digits; whatever follows is ignored.
long long intValue(const QString &text);
// Each word's first letter upper case, the rest lower case.
QString capitalized(const QString &text);
// Filters every clip carries; adding one of these is not news.
bool isStandardFilter(const QString &name);

} // namespace QFChangeNodes

class QFChangePhrases final {
public:
    // The sentence for a changed leaf element, or a null string when the change is not worth one (see
    // QFTombrelBackup::changeStringFromFCPNode). oldValue null: the text of oldNode. oldUUIDs: the uuid
    // texts of the older document, which tell renamed items from new ones.
    static QString forChangedLeaf(const QFTombrelBackup &engine, const pugi::xml_node &node, const QString &nodeName,
        const QString &nodeValue, const pugi::xml_node &nodeParent, const QString &nodeParentName,
        const pugi::xml_node &oldNode, const QString &oldValue, const QStringList &oldUUIDs);

    // Lines for items the newer document has where the older one has something else.
    static QString newClip(const QFTombrelBackup &engine, const pugi::xml_node &item);
    static QString newMulticlip(const QFTombrelBackup &engine, const pugi::xml_node &multiclip);
    static QString newBin(const pugi::xml_node &bin);
    static QString newGenerator(const QFTombrelBackup &engine, const pugi::xml_node &generator);
    static QString newTransition(const QFTombrelBackup &engine, const pugi::xml_node &transition);
    static QString newMarker(const QFTombrelBackup &engine, const pugi::xml_node &marker, const QString &name);
    // Null for the standard filters.
    static QString newFilter(const pugi::xml_node &effect);
    static QString newSequence(const QString &name);
    // The line for the name of a filter or generator standing where the older document had another; null for
    // the standard filters.
    static QString newEffectNamed(const pugi::xml_node &nameNode, const QString &name);
    static QString removedItem(const QFTombrelBackup &engine, const pugi::xml_node &item);

    // The texts of a list as a set, kept as positions in the list: contains() answers as a QSet of those
    // texts would, in four bytes a slot rather than a copy of every text. Holds a shared copy of the list.
    class TextIndex final {
    public:
        explicit TextIndex(const QStringList &texts);

        bool contains(QStringView text) const { return indexOf(text) >= 0; }
        // Where the text first stands in the list; -1 when it does not.
        qsizetype indexOf(QStringView text) const;
        const QStringList &list() const { return m_list; }

    private:
        const QStringList m_list;
        // Open addressing, at most half full: a position in the list plus one, 0 for an empty slot.
        std::vector<quint32> m_slots;
        size_t m_mask = 0;
    };

    // While one lives, sentences built on its thread answer "is this uuid in the list?" for the list it was
    // made from with its index: a walk asks about the same long list at every renamed item. The answers are
    // those of the list itself.
    class UUIDIndex final {
    public:
        explicit UUIDIndex(const QStringList &uuids);
        ~UUIDIndex();
        UUIDIndex(const UUIDIndex &) = delete;
        UUIDIndex &operator=(const UUIDIndex &) = delete;

        bool contains(QStringView uuid) const { return m_index.contains(uuid); }
        static bool listContains(const QStringList &list, const QString &uuid);

    private:
        // A shared copy: a list holding the same data is the same list.
        const TextIndex m_index;
        const UUIDIndex *const m_outer;
    };

private:
    QFChangePhrases(const QFTombrelBackup &engine, const pugi::xml_node &node, QByteArray nameBytes,
        const QString &nodeName, const QString &nodeValue, const pugi::xml_node &nodeParent,
        const QString &nodeParentName, const QString &oldValue, const QStringList &oldUUIDs);

    QString sentence() const;

    // One function a group of elements, in QFChangePhrases*.cpp by group.
    QString nameChanged() const;
    QString valueChanged() const;
    QString durationChanged() const;
    QString inOrOutChanged() const;
    QString inOrOutOfMediaChanged(bool in) const;
    QString startOrEndChanged() const;
    QString subclipOffsetChanged() const;
    QString frameFormatChanged() const;
    QString rateChanged() const;
    QString enabledChanged() const;
    QString alphaTypeChanged() const;
    QString filterParameterChanged() const;
    QString unlistedChanged() const;
    QString unknownChange() const;

    QString timecode(const QString &frames) const;
    // "removed" for a point of -1, else "changed to" its timecode.
    QString removedOrChangedTo() const;
    QString kindOfParent() const;
    bool isOldUUID(const QString &uuid) const;

    const QFTombrelBackup &m_engine;
    const pugi::xml_node m_node;
    const QByteArray m_nameBytes;
    const QByteArray m_parentBytes;
    // The element's and its parent's names; never null.
    const char *const m_n;
    const char *const m_p;
    const QString &m_nodeName;
    const QString &m_value;
    const pugi::xml_node m_parent;
    const QString &m_parentName;
    const QString m_oldValue;
    const QStringList &m_oldUUIDs;
    const pugi::xml_node m_grandparent;
    const pugi::xml_node m_greatGrandparent;
    const char *const m_a1;
    const char *const m_a2;
    // A point of -1 is a point taken away.
    const bool m_removed;
    const long long m_delta;
    const QString m_sign;
    const bool m_clipParent;
};
