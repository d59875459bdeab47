#pragma once

// The work of one QFMLTChangeList comparison, shared by QFMLTChangeList.cpp (project, bin, sequences,
// tracks, compositions), QFMLTChangeListFilters.cpp (parameters, filters, markers) and
// QFMLTChangeListClips.cpp (the matching of clips and their lines). Internal to the engine.

#include "engine/QFMLTModel.h"

#include <QString>
#include <QStringList>

#include <string>
#include <unordered_map>
#include <vector>

namespace QFMLTCompare {

using Model = QFMLTModel;

QString text(const std::string &value);

// One line of a sequence, placed by its time on the timeline, its track's place and the order it was made in.
struct Event {
    qint64 time = 0;
    int track = 0;
    int serial = 0;
    QString line;
};

// Where a clip went in the other version.
struct Counterpart {
    enum class How : char { None, Same, Trim, Overlap, Split, SplitPiece, Moved, Replaced };
    int track = -1;
    int clip = -1;
    How how = How::None;
};

class Comparer {
public:
    Comparer(const Model &older, const Model &newer);
    QStringList run();

    // Lines about one filter list; subject is "clip A on track V1", "track V1" or "sequence S".
    void compareFilters(const std::vector<Model::Filter> &older, const std::vector<Model::Filter> &newer,
        const QString &subject, QStringList &lines, qint64 clipIn = -1, qint64 clipOut = -1, qint64 newClipIn = -1,
        qint64 newClipOut = -1) const;
    // "Transition luma between clip A and clip B on track V1: " and the parameter lines after it.
    void compareParameters(const std::vector<Model::Parameter> &older, const std::vector<Model::Parameter> &newer,
        const QString &lead, QStringList &lines) const;

    const Model &older() const { return m_old; }
    const Model &newer() const { return m_new; }
    int oldKey(int source) const
    {
        return source >= 0 && size_t(source) < m_oldKeys.size() ? m_oldKeys[size_t(source)] : -1;
    }
    int newKey(int source) const
    {
        return source >= 0 && size_t(source) < m_newKeys.size() ? m_newKeys[size_t(source)] : -1;
    }
    QString oldName(int source) const;
    QString newName(int source) const;
    // " in sequence S" when the project has more than one sequence.
    QString where(const Model::Sequence &sequence) const;

private:
    void compareProject();
    void compareBin();
    void compareSequences();
    void compareSequence(const Model::Sequence &older, const Model::Sequence &newer);
    void compareMarkers(const std::vector<Model::Marker> &older, const std::vector<Model::Marker> &newer,
        const QString &clipName, QStringList &lines) const;
    std::vector<std::pair<int, int>> alignTracks(const Model::Sequence &older, const Model::Sequence &newer) const;
    void compareCompositions(const Model::Sequence &older, const Model::Sequence &newer,
        const std::vector<std::pair<int, int>> &alignment, QStringList &lines) const;
    int keyId(const std::string &key);

    const Model &m_old;
    const Model &m_new;
    QStringList m_lines;
    QStringList m_markerLines;
    std::unordered_map<std::string, int> m_keyIds;
    std::vector<int> m_oldKeys;
    std::vector<int> m_newKeys;
    std::vector<int> m_oldFolderToNew;
    bool m_manySequences = false;
};

// The clip lines of one pair of sequences, by time (QFMLTChangeListClips.cpp). alignment pairs old and new
// track indexes (-1 for a track only one side has), in the order tracks are told.
std::vector<Event> clipEvents(const Comparer &comparer, const Model::Sequence &older, const Model::Sequence &newer,
    const std::vector<std::pair<int, int>> &alignment);

} // namespace QFMLTCompare
