#pragma once

// The reading of one MLT document into a QFMLTModel, shared by QFMLTModel.cpp (the document and its bin),
// QFMLTModelTexts.cpp (the texts of its elements: times, properties, filters, markers) and
// QFMLTModelTimeline.cpp (sequences, tracks and clips). Internal to the engine.

#include "engine/QFMLTModel.h"

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace QFMLTRead {

// Times beyond this many frames (about 1,400 years at 25 fps) are taken as this many: no document needs
// more, and sums of them cannot overflow.
constexpr qint64 kTimeLimit = qint64(1) << 50;

bool startsWith(std::string_view text, std::string_view prefix);
qint64 saturatedAdd(qint64 a, qint64 b);
// Digits with an optional sign and fraction, as MLT's own conversions read them; none when anything else.
std::optional<double> number(std::string_view text);
// An MLT time: frames, "HH:MM:SS.mmm" (clock) or "HH:MM:SS:FF"; none when empty or not a time.
std::optional<qint64> frames(std::string_view text, double fps);
std::string_view attribute(const pugi::xml_node &node, const char *name);
bool isProperty(const pugi::xml_node &node);
std::string_view propertyName(const pugi::xml_node &property);
// The text of a property element.
std::string_view text(const pugi::xml_node &property);
bool isIgnoredParameter(std::string_view name);

// The property elements of one element, read once.
class Properties {
public:
    explicit Properties(const pugi::xml_node &node);
    std::string_view value(std::string_view name) const;
    bool has(std::string_view name) const;
    bool hasPrefix(std::string_view prefix) const;
    const std::vector<std::pair<std::string_view, std::string_view>> &all() const { return m_all; }

private:
    std::vector<std::pair<std::string_view, std::string_view>> m_all;
};

// Values by a text of the document: open addressing over hashes, for the tens of thousands of lookups a
// long timeline makes. The first value given for a text is kept.
template <typename Value> class TextIndex {
public:
    void reserve(size_t count)
    {
        size_t size = 16;
        while (size < count * 2)
            size *= 2;
        std::vector<Slot> old = std::move(m_slots);
        m_slots.assign(size, Slot());
        m_count = 0;
        for (const Slot &slot : old) {
            if (slot.text.data())
                insert(slot.text, slot.value);
        }
    }
    void insert(std::string_view text, const Value &value)
    {
        if ((m_count + 1) * 2 > m_slots.size())
            reserve(m_count + 1);
        const std::uint64_t hash = hashOf(text);
        for (size_t at = hash & (m_slots.size() - 1);; at = (at + 1) & (m_slots.size() - 1)) {
            Slot &slot = m_slots[at];
            if (!slot.text.data()) {
                slot = { hash, text, value };
                ++m_count;
                return;
            }
            if (slot.hash == hash && slot.text == text)
                return;
        }
    }
    const Value *find(std::string_view text) const
    {
        if (m_slots.empty())
            return nullptr;
        const std::uint64_t hash = hashOf(text);
        for (size_t at = hash & (m_slots.size() - 1);; at = (at + 1) & (m_slots.size() - 1)) {
            const Slot &slot = m_slots[at];
            if (!slot.text.data())
                return nullptr;
            if (slot.hash == hash && slot.text == text)
                return &slot.value;
        }
    }

private:
    struct Slot {
        std::uint64_t hash = 0;
        std::string_view text;
        Value value {};
    };
    static std::uint64_t hashOf(std::string_view text)
    {
        std::uint64_t hash = 14695981039346656037ull;
        for (unsigned char c : text) {
            hash ^= c;
            hash *= 1099511628211ull;
        }
        return hash;
    }
    std::vector<Slot> m_slots;
    size_t m_count = 0;
};

// The properties a producer is known by, found in one pass over its property elements.
struct ProducerFields {
    explicit ProducerFields(const pugi::xml_node &node);
    std::string_view resource, service, clipName, caption, fileHash, shotcutHash, controlUuid, uuid, kdenliveId,
        warpSpeed, warpResource, xmldata, text, folderId, markers, shotcutBin, length;
    bool shotcutTransition = false;
};

class Reader {
public:
    Reader(const pugi::xml_node &root, QFMLTModel &model);
    bool read(QString *error);

private:
    // QFMLTModel.cpp
    void indexElements();
    void readProfile();
    void readDialect();
    void readBin();
    int folderForId(std::string_view id);
    int folderForName(std::string_view name);
    // What an entry needs of its producer, read once for each producer.
    struct ProducerFacts {
        int source = -1;
        double speed = 1.0;
        bool shotcutTransition = false;
        bool ownFilters = false; // Shotcut and melt: the producer's filters are its clip's
        std::optional<qint64> length;
    };
    const ProducerFacts &factsOf(
        const pugi::xml_node &producer, std::string_view producerId, const pugi::xml_node &entry);
    int sourceFor(const pugi::xml_node &producer, std::string_view producerId, const pugi::xml_node &entry,
        const ProducerFields &fields);
    int missingSource(std::string_view producerId);
    int newSource(
        const pugi::xml_node &producer, std::string_view producerId, bool inBin, const ProducerFields &fields);
    std::string absolute(std::string_view resource) const;
    QFMLTModel::Filter filter(const pugi::xml_node &element) const;
    std::vector<QFMLTModel::Filter> filters(const pugi::xml_node &element, bool trackOrSequence) const;
    std::vector<QFMLTModel::Parameter> parameters(const Properties &properties) const;
    std::vector<QFMLTModel::Marker> kdenliveMarkers(std::string_view json) const;
    std::vector<QFMLTModel::Marker> shotcutMarkers(const pugi::xml_node &tractor) const;
    pugi::xml_node element(std::string_view id) const;

    // QFMLTModelTimeline.cpp
    void readSequences();
    QFMLTModel::Sequence sequence(const pugi::xml_node &tractor, const Properties &properties);
    void readTrack(QFMLTModel::Track &track, const pugi::xml_node &trackElement, const pugi::xml_node &producer);
    struct PendingMix {
        QFMLTModel::Mix mix;
        int leftOrdinal = -1;
        int rightOrdinal = -1;
        bool byPosition = false; // a mix of the tractor: its clips are found by time
    };
    void readPlaylist(QFMLTModel::Track &track, const pugi::xml_node &playlist, std::vector<PendingMix> &mixes);
    void finishTrack(QFMLTModel::Track &track, std::vector<PendingMix> &mixes);
    bool isBackground(const pugi::xml_node &producer) const;
    void mixFromTractor(const pugi::xml_node &tractor, QFMLTModel::Mix &mix) const;

    const pugi::xml_node m_root;
    QFMLTModel &m_model;
    double m_fps = 25;
    std::string m_rootFolder;
    pugi::xml_node m_bin;
    TextIndex<pugi::xml_node> m_byId;
    TextIndex<int> m_binByKdenliveId;
    std::unordered_map<std::string, int> m_binSequence; // by uuid
    std::unordered_map<const void *, int> m_sourceOfProducer;
    std::unordered_map<const void *, ProducerFacts> m_facts;
    std::unordered_map<std::string, int> m_folderById;
    std::unordered_map<std::string, int> m_missing;
    std::vector<pugi::xml_node> m_binSequenceCopies; // the sequence copies main_bin refers to, first reference first
};

} // namespace QFMLTRead
