#include "engine/QFMLTChangeList.h"

#include "engine/QFMLTComparison.h"
#include "foundation/platform/QFFormat.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <unordered_set>

namespace QFMLTCompare {

namespace {

// Tracks are aligned by a longest common subsequence; beyond this many pairs they are paired in order.
constexpr size_t kLargestAlignment = 1000000;
// Tracks are weighed by the clips they share when there are no more pairs than this.
constexpr size_t kSharedClipsAlignment = 1024;

} // namespace

QString text(const std::string &value)
{
    return QString::fromUtf8(value.data(), qsizetype(value.size()));
}

Comparer::Comparer(const Model &older, const Model &newer)
    : m_old(older)
    , m_new(newer)
{
    m_manySequences = older.sequences.size() > 1 || newer.sequences.size() > 1;
}

int Comparer::keyId(const std::string &key)
{
    return m_keyIds.emplace(key, int(m_keyIds.size())).first->second;
}

QString Comparer::oldName(int source) const
{
    return source >= 0 && size_t(source) < m_old.sources.size() ? text(m_old.sources[size_t(source)].name) : QString();
}

QString Comparer::newName(int source) const
{
    return source >= 0 && size_t(source) < m_new.sources.size() ? text(m_new.sources[size_t(source)].name) : QString();
}

QString Comparer::where(const Model::Sequence &sequence) const
{
    return m_manySequences ? qfFormat(" in sequence %@", text(sequence.name)) : QString();
}

QStringList Comparer::run()
{
    compareProject();
    compareBin();
    compareSequences();
    m_lines += m_markerLines;
    if (m_lines.size() > QFMLTChangeList::kLineLimit) {
        const qsizetype more = m_lines.size() - QFMLTChangeList::kLineLimit;
        m_lines.resize(QFMLTChangeList::kLineLimit);
        m_lines << qfFormat("%i more changes", qint64(more));
    }
    return m_lines;
}

void Comparer::compareProject()
{
    if (m_old.profile != m_new.profile)
        m_lines << qfFormat("Project profile changed from %@ to %@", text(m_old.profile), text(m_new.profile));
    if (m_old.notes != m_new.notes)
        m_lines << QStringLiteral("Project notes changed");
}

void Comparer::compareBin()
{
    const auto folderPath = [](const Model &model, int folder) {
        std::string path;
        for (int depth = 0; folder >= 0 && size_t(folder) < model.folders.size() && depth < 64; ++depth) {
            path = model.folders[size_t(folder)].name + '/' + path;
            folder = model.folders[size_t(folder)].parent;
        }
        return path;
    };
    // Folders: by their path of names; what is left, by id under the same parent (a rename).
    m_oldFolderToNew.assign(m_old.folders.size(), -1);
    std::vector<int> newToOld(m_new.folders.size(), -1);
    std::unordered_map<std::string, std::deque<int>> oldByPath;
    for (size_t i = 0; i < m_old.folders.size(); ++i)
        oldByPath[folderPath(m_old, int(i))].push_back(int(i));
    for (size_t i = 0; i < m_new.folders.size(); ++i) {
        auto found = oldByPath.find(folderPath(m_new, int(i)));
        if (found == oldByPath.end() || found->second.empty())
            continue;
        newToOld[i] = found->second.front();
        m_oldFolderToNew[size_t(found->second.front())] = int(i);
        found->second.pop_front();
    }
    for (size_t i = 0; i < m_new.folders.size(); ++i) {
        for (size_t j = 0; newToOld[i] < 0 && j < m_old.folders.size(); ++j) {
            if (m_oldFolderToNew[j] < 0 && m_old.folders[j].id == m_new.folders[i].id) {
                newToOld[i] = int(j);
                m_oldFolderToNew[j] = int(i);
            }
        }
    }
    for (size_t i = 0; i < m_new.folders.size(); ++i) {
        if (newToOld[i] < 0)
            m_lines << qfFormat("New bin %@ added", text(m_new.folders[i].name));
        else if (m_old.folders[size_t(newToOld[i])].name != m_new.folders[i].name)
            m_lines << qfFormat(
                "Bin %@ renamed to %@", text(m_old.folders[size_t(newToOld[i])].name), text(m_new.folders[i].name));
    }

    // Clips: by key, in bin order; then a file whose content changed (same media), then one moved (same content).
    std::vector<int> newToOldClip(m_new.sources.size(), -1);
    std::vector<bool> oldTaken(m_old.sources.size(), false);
    std::unordered_map<std::string, std::deque<int>> oldByKey;
    for (size_t i = 0; i < m_old.sources.size(); ++i) {
        if (m_old.sources[i].inBin)
            oldByKey[m_old.sources[i].key].push_back(int(i));
    }
    for (size_t i = 0; i < m_new.sources.size(); ++i) {
        if (!m_new.sources[i].inBin)
            continue;
        auto found = oldByKey.find(m_new.sources[i].key);
        if (found != oldByKey.end() && !found->second.empty()) {
            newToOldClip[i] = found->second.front();
            oldTaken[size_t(found->second.front())] = true;
            found->second.pop_front();
        }
    }
    const auto pairBy = [&](std::string Model::Source::*field) {
        std::unordered_map<std::string, std::deque<int>> byField;
        for (size_t i = 0; i < m_old.sources.size(); ++i) {
            const Model::Source &source = m_old.sources[i];
            if (source.inBin && !oldTaken[i] && !source.sequence && !(source.*field).empty())
                byField[source.*field].push_back(int(i));
        }
        for (size_t i = 0; i < m_new.sources.size(); ++i) {
            const Model::Source &source = m_new.sources[i];
            if (!source.inBin || newToOldClip[i] >= 0 || source.sequence || (source.*field).empty())
                continue;
            auto found = byField.find(source.*field);
            if (found == byField.end() || found->second.empty())
                continue;
            newToOldClip[i] = found->second.front();
            oldTaken[size_t(found->second.front())] = true;
            found->second.pop_front();
        }
    };
    pairBy(&Model::Source::resource);
    pairBy(&Model::Source::hash);

    // Timeline clips are told apart by the keys of what they show; a clip matched under another key keeps its own.
    std::unordered_map<std::string, std::string> renamedKeys;
    for (size_t i = 0; i < m_new.sources.size(); ++i) {
        if (newToOldClip[i] >= 0 && m_old.sources[size_t(newToOldClip[i])].key != m_new.sources[i].key)
            renamedKeys.emplace(m_old.sources[size_t(newToOldClip[i])].key, m_new.sources[i].key);
    }
    m_newKeys.reserve(m_new.sources.size());
    for (const Model::Source &source : m_new.sources)
        m_newKeys.push_back(keyId(source.key));
    m_oldKeys.reserve(m_old.sources.size());
    for (const Model::Source &source : m_old.sources) {
        const auto renamed = renamedKeys.find(source.key);
        m_oldKeys.push_back(keyId(renamed == renamedKeys.end() ? source.key : renamed->second));
    }

    for (size_t i = 0; i < m_new.sources.size(); ++i) {
        const Model::Source &now = m_new.sources[i];
        if (!now.inBin)
            continue;
        const QString name = text(now.name);
        if (newToOldClip[i] < 0) {
            if (!now.sequence)
                m_lines << qfFormat("New clip %@ added to the bin", name);
            continue;
        }
        const Model::Source &was = m_old.sources[size_t(newToOldClip[i])];
        // A sequence's own lines tell its name; a clip named after its file is renamed with the file.
        if (was.name != now.name && !now.sequence && !(was.namedByFile && now.namedByFile))
            m_lines << qfFormat("Clip %@ renamed to %@", text(was.name), name);
        const int folder = was.folder >= 0 && size_t(was.folder) < m_oldFolderToNew.size()
            ? m_oldFolderToNew[size_t(was.folder)]
            : -1;
        if (folder != now.folder || (was.folder >= 0 && folder < 0)) {
            if (now.folder >= 0)
                m_lines << qfFormat("Clip %@ moved to bin %@", name, text(m_new.folders[size_t(now.folder)].name));
            else
                m_lines << qfFormat("Clip %@ moved to the top of the bin", name);
        }
        if (!was.resource.empty() && !now.resource.empty() && was.resource != now.resource) {
            const size_t slash = now.resource.find_last_of('/');
            m_lines << qfFormat("Clip %@ now uses %@", text(was.name),
                text(slash == std::string::npos ? now.resource : now.resource.substr(slash + 1)));
        } else if (!was.hash.empty() && !now.hash.empty() && was.hash != now.hash) {
            m_lines << qfFormat("Media of clip %@ changed", text(was.name));
        }
        QStringList markers;
        compareMarkers(was.markers, now.markers, name, markers);
        m_markerLines += markers;
    }
    for (size_t i = 0; i < m_old.sources.size(); ++i) {
        if (m_old.sources[i].inBin && !oldTaken[i] && !m_old.sources[i].sequence)
            m_lines << qfFormat("Clip %@ removed from the bin", text(m_old.sources[i].name));
    }
    for (size_t i = 0; i < m_old.folders.size(); ++i) {
        if (m_oldFolderToNew[i] < 0)
            m_lines << qfFormat("Bin %@ removed", text(m_old.folders[i].name));
    }
}

void Comparer::compareSequences()
{
    std::vector<int> newToOld(m_new.sequences.size(), -1);
    std::vector<bool> oldTaken(m_old.sequences.size(), false);
    std::unordered_map<std::string, int> oldByUuid;
    for (size_t i = 0; i < m_old.sequences.size(); ++i)
        oldByUuid.emplace(m_old.sequences[i].uuid, int(i));
    for (size_t i = 0; i < m_new.sequences.size(); ++i) {
        const auto found = oldByUuid.find(m_new.sequences[i].uuid);
        if (found != oldByUuid.end() && !oldTaken[size_t(found->second)]) {
            newToOld[i] = found->second;
            oldTaken[size_t(found->second)] = true;
        }
    }
    // A project saved by an editor that numbers its sequences for the first time: its one timeline is the first.
    if (m_old.sequences.size() == 1 && !oldTaken[0] && m_old.sequences[0].uuid.empty() && !m_new.sequences.empty()
        && newToOld[0] < 0) {
        newToOld[0] = 0;
        oldTaken[0] = true;
    }
    for (size_t i = 0; i < m_new.sequences.size(); ++i) {
        if (newToOld[i] < 0)
            m_lines << qfFormat("New sequence %@ added", text(m_new.sequences[i].name));
        else
            compareSequence(m_old.sequences[size_t(newToOld[i])], m_new.sequences[i]);
    }
    for (size_t i = 0; i < m_old.sequences.size(); ++i) {
        if (!oldTaken[i])
            m_lines << qfFormat("Sequence %@ removed", text(m_old.sequences[i].name));
    }
}

std::vector<std::pair<int, int>> Comparer::alignTracks(const Model::Sequence &older, const Model::Sequence &newer) const
{
    const size_t n = older.tracks.size();
    const size_t m = newer.tracks.size();
    const auto same = [&](size_t i, size_t j) {
        return older.tracks[i].audio == newer.tracks[j].audio && older.tracks[i].name == newer.tracks[j].name;
    };
    // Tracks alike in kind and name (unnamed ones often are) are told apart by the clips they share.
    std::vector<std::vector<qint64>> shared;
    if (n * m <= kSharedClipsAlignment) {
        shared.assign(n, std::vector<qint64>(m, 0));
        const auto fingerprint = [](int key, const Model::Clip &clip) {
            return (std::uint64_t(std::uint32_t(key)) * 0x9E3779B97F4A7C15ull)
                ^ (std::uint64_t(clip.in) * 0xC2B2AE3D27D4EB4Full) ^ std::uint64_t(clip.out);
        };
        for (size_t i = 0; i < n; ++i) {
            std::unordered_set<std::uint64_t> clips;
            for (const Model::Clip &clip : older.tracks[i].clips)
                clips.insert(fingerprint(oldKey(clip.source), clip));
            for (size_t j = 0; j < m; ++j) {
                if (!same(i, j))
                    continue;
                for (const Model::Clip &clip : newer.tracks[j].clips)
                    shared[i][j] += clips.count(fingerprint(newKey(clip.source), clip));
            }
        }
    }
    // Anchors: the longest common subsequence of (kind, name), of the most shared clips among the longest.
    const auto weight = [&](size_t i, size_t j) { return (qint64(1) << 40) + (shared.empty() ? 0 : shared[i][j]); };
    std::vector<std::pair<int, int>> anchors;
    if (n * m <= kLargestAlignment) {
        std::vector<std::vector<qint64>> best(n + 1, std::vector<qint64>(m + 1, 0));
        for (size_t i = n; i-- > 0;) {
            for (size_t j = m; j-- > 0;) {
                best[i][j] = std::max(best[i + 1][j], best[i][j + 1]);
                if (same(i, j))
                    best[i][j] = std::max(best[i][j], weight(i, j) + best[i + 1][j + 1]);
            }
        }
        for (size_t i = 0, j = 0; i < n && j < m;) {
            if (same(i, j) && best[i][j] == weight(i, j) + best[i + 1][j + 1]) {
                anchors.emplace_back(int(i), int(j));
                ++i;
                ++j;
            } else if (best[i + 1][j] >= best[i][j + 1]) {
                ++i;
            } else {
                ++j;
            }
        }
    }
    anchors.emplace_back(int(n), int(m));
    // Between anchors, tracks of the same kind pair in order: a renamed or changed track.
    std::vector<std::pair<int, int>> alignment;
    int i = 0;
    int j = 0;
    for (const auto &[ai, aj] : anchors) {
        std::vector<int> olds;
        std::vector<int> news;
        for (; i < ai; ++i)
            olds.push_back(i);
        for (; j < aj; ++j)
            news.push_back(j);
        std::vector<bool> oldUsed(olds.size(), false);
        for (int nj : news) {
            bool paired = false;
            for (size_t k = 0; k < olds.size() && !paired; ++k) {
                if (!oldUsed[k] && older.tracks[size_t(olds[k])].audio == newer.tracks[size_t(nj)].audio) {
                    // Old tracks skipped over are gone.
                    for (size_t r = 0; r < k; ++r) {
                        if (!oldUsed[r]) {
                            alignment.emplace_back(olds[r], -1);
                            oldUsed[r] = true;
                        }
                    }
                    alignment.emplace_back(olds[k], nj);
                    oldUsed[k] = true;
                    paired = true;
                }
            }
            if (!paired)
                alignment.emplace_back(-1, nj);
        }
        for (size_t k = 0; k < olds.size(); ++k) {
            if (!oldUsed[k])
                alignment.emplace_back(olds[k], -1);
        }
        if (ai < int(n) && aj < int(m)) {
            alignment.emplace_back(ai, aj);
            i = ai + 1;
            j = aj + 1;
        }
    }
    return alignment;
}

void Comparer::compareSequence(const Model::Sequence &older, const Model::Sequence &newer)
{
    const QString sequenceName = text(newer.name);
    if (older.name != newer.name)
        m_lines << qfFormat("Sequence %@ renamed to %@", text(older.name), sequenceName);
    compareFilters(older.filters, newer.filters, qfFormat("sequence %@", sequenceName), m_lines);

    const QString in = where(newer);
    const std::vector<std::pair<int, int>> alignment = alignTracks(older, newer);
    for (const auto &[o, n] : alignment) {
        if (o < 0) {
            m_lines << qfFormat("Track %@ added", text(newer.tracks[size_t(n)].label)) + in;
            continue;
        }
        if (n < 0) {
            m_lines << qfFormat("Track %@ removed", text(older.tracks[size_t(o)].label)) + in;
            continue;
        }
        const Model::Track &was = older.tracks[size_t(o)];
        const Model::Track &now = newer.tracks[size_t(n)];
        const QString label = text(now.label);
        if (was.name != now.name && was.label != now.label)
            m_lines << qfFormat("Track %@ renamed to %@", text(was.label), label) + in;
        if (was.muted != now.muted)
            m_lines << qfFormat(now.muted ? "Track %@ muted" : "Track %@ unmuted", label) + in;
        if (was.hidden != now.hidden)
            m_lines << qfFormat(now.hidden ? "Track %@ hidden" : "Track %@ shown", label) + in;
        if (was.locked != now.locked)
            m_lines << qfFormat(now.locked ? "Track %@ locked" : "Track %@ unlocked", label) + in;
        QStringList filterLines;
        compareFilters(was.filters, now.filters, qfFormat("track %@", label), filterLines);
        for (const QString &line : filterLines)
            m_lines << line + in;
    }

    std::vector<Event> events = clipEvents(*this, older, newer, alignment);
    std::stable_sort(events.begin(), events.end(), [](const Event &a, const Event &b) {
        return a.time != b.time ? a.time < b.time : a.track != b.track ? a.track < b.track : a.serial < b.serial;
    });
    for (const Event &event : events)
        m_lines << event.line;

    compareCompositions(older, newer, alignment, m_lines);
    compareMarkers(older.markers, newer.markers, QString(), m_markerLines);
}

void Comparer::compareCompositions(const Model::Sequence &older, const Model::Sequence &newer,
    const std::vector<std::pair<int, int>> &alignment, QStringList &lines) const
{
    const QString in = where(newer);
    std::vector<int> oldTrackToNew(older.tracks.size(), -2);
    for (const auto &[o, n] : alignment) {
        if (o >= 0)
            oldTrackToNew[size_t(o)] = n < 0 ? -2 - o : n;
    }
    const auto mapped = [&](int track) {
        return track < 0 || size_t(track) >= oldTrackToNew.size() ? -1 : oldTrackToNew[size_t(track)];
    };
    const auto label = [](const Model::Sequence &sequence, int track) {
        return track >= 0 && size_t(track) < sequence.tracks.size() ? text(sequence.tracks[size_t(track)].label)
                                                                    : QStringLiteral("Black");
    };
    std::unordered_map<std::string, std::deque<int>> oldByKey;
    const auto keyOf = [](const Model::Composition &c, int from, int onto) {
        return c.kind + '\n' + std::to_string(from) + '\n' + std::to_string(onto);
    };
    for (size_t i = 0; i < older.compositions.size(); ++i) {
        const Model::Composition &c = older.compositions[i];
        oldByKey[keyOf(c, mapped(c.from), mapped(c.onto))].push_back(int(i));
    }
    std::vector<bool> oldTaken(older.compositions.size(), false);
    for (const Model::Composition &now : newer.compositions) {
        const QString kind = text(now.kind);
        const QString from = label(newer, now.from);
        const QString onto = label(newer, now.onto);
        auto found = oldByKey.find(keyOf(now, now.from, now.onto));
        if (found == oldByKey.end() || found->second.empty()) {
            lines << qfFormat("Transition %@ added from track %@ onto track %@ at %@", kind, from, onto,
                         m_new.timecode(now.start))
                    + in;
            continue;
        }
        // Of several alike, the nearest in time.
        auto nearest = std::min_element(found->second.begin(), found->second.end(), [&](int a, int b) {
            return std::llabs(older.compositions[size_t(a)].start - now.start)
                < std::llabs(older.compositions[size_t(b)].start - now.start);
        });
        const Model::Composition &was = older.compositions[size_t(*nearest)];
        oldTaken[size_t(*nearest)] = true;
        found->second.erase(nearest);
        if (was.start != now.start)
            lines << qfFormat("Transition %@ from track %@ onto track %@ moved from %@ to %@ (%+i)", kind, from, onto,
                         m_old.timecode(was.start), m_new.timecode(now.start), now.start - was.start)
                    + in;
        if (was.length != now.length)
            lines << qfFormat("Transition %@ from track %@ onto track %@ changed from %i to %i frames", kind, from,
                         onto, was.length, now.length)
                    + in;
        QStringList changed;
        compareParameters(was.parameters, now.parameters,
            qfFormat("Transition %@ from track %@ onto track %@: ", kind, from, onto), changed);
        for (const QString &line : changed)
            lines << line + in;
    }
    for (size_t i = 0; i < older.compositions.size(); ++i) {
        if (oldTaken[i])
            continue;
        const Model::Composition &was = older.compositions[i];
        lines << qfFormat("Transition %@ removed from track %@ onto track %@", text(was.kind), label(older, was.from),
                     label(older, was.onto))
                + in;
    }
}

} // namespace QFMLTCompare

QStringList QFMLTChangeList::changeLines(const QFMLTModel &older, const QFMLTModel &newer)
{
    return QFMLTCompare::Comparer(older, newer).run();
}
