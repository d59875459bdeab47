#pragma once

// The reading of one MLT document into a QFMLTModel, shared by QFMLTModel.cpp (the document, its bin and
// the texts of its elements) and QFMLTModelTimeline.cpp (sequences, tracks and clips). Internal to the engine.

#include "engine/QFMLTModel.h"

#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace QFMLTRead {

// Times beyond this many frames (about 1,400 years at 25 fps) are taken as this many: no document needs
// more, and sums of them cannot overflow.
constexpr qint64 kTimeLimit = qint64(1) << 50;

qint64 saturatedAdd(qint64 a, qint64 b);
// Digits with an optional sign and fraction, as MLT's own conversions read them; none when anything else.
std::optional<double> number(std::string_view text);
// An MLT time: frames, "HH:MM:SS.mmm" (clock) or "HH:MM:SS:FF"; none when empty or not a time.
std::optional<qint64> frames(std::string_view text, double fps);
std::string_view attribute(const pugi::xml_node &node, const char *name);
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
    int sourceFor(const pugi::xml_node &producer, std::string_view producerId, const pugi::xml_node &entry);
    int newSource(const pugi::xml_node &producer, std::string_view producerId, bool inBin);
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
    std::unordered_map<std::string_view, pugi::xml_node> m_byId;
    std::unordered_map<const void *, int> m_ordinal; // document position of each top-level element
    std::unordered_map<std::string_view, int> m_binByKdenliveId;
    std::unordered_map<std::string, int> m_binSequence; // by uuid
    std::unordered_map<const void *, int> m_sourceOfProducer;
    std::unordered_map<std::string, int> m_folderById;
    std::unordered_map<std::string, int> m_missing;
    std::vector<pugi::xml_node> m_binSequenceCopies; // the sequence copies main_bin refers to, first reference first
};

} // namespace QFMLTRead
