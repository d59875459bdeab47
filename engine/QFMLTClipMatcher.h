#pragma once

// What the matching of two versions' clips and the writing of their lines share: references to clips, the
// pools of candidates, and the matcher itself. Private to the MLT comparison.

#include "engine/QFMLTComparison.h"

#include "foundation/platform/QFFormat.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <unordered_map>
#include <vector>

namespace QFMLTCompare::ClipMatching {

using How = Counterpart::How;

// Candidates for the search of the nearest start.
constexpr int kTries = 64;

struct Ref {
    int track = -1;
    int clip = -1;
};

struct BucketKey {
    qint64 a = 0;
    qint64 b = 0;
    qint64 c = 0;
    bool operator==(const BucketKey &) const = default;
};

struct BucketHash {
    size_t operator()(const BucketKey &k) const
    {
        std::uint64_t h = std::uint64_t(k.a) * 0x9E3779B97F4A7C15ull;
        h ^= std::uint64_t(k.b) + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
        h ^= std::uint64_t(k.c) + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
        return size_t(h);
    }
};

// The clips of one bucket by start; the nearest still free is taken first. Taken places are skipped
// through links that shorten as they are followed, so a bucket of many alike stays linear.
class Pool {
public:
    void add(int item, qint64 start) { m_entries.push_back({ start, item }); }
    void finish()
    {
        std::stable_sort(
            m_entries.begin(), m_entries.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        m_up.resize(m_entries.size() + 1);
        m_down.resize(m_entries.size() + 1);
        std::iota(m_up.begin(), m_up.end(), 0);
        std::iota(m_down.begin(), m_down.end(), 0);
    }
    template <typename Alive, typename Accept> int takeNearest(qint64 start, Alive alive, Accept accept)
    {
        const int n = int(m_entries.size());
        const int p = int(std::lower_bound(m_entries.cbegin(), m_entries.cend(), start, [](const auto &e, qint64 s) {
            return e.first < s;
        }) - m_entries.cbegin());
        int best = -1;
        int tries = 0;
        for (int q = up(p); q < n && tries < kTries; q = up(q + 1)) {
            if (!alive(m_entries[size_t(q)].second)) {
                kill(q);
                continue;
            }
            ++tries;
            if (accept(m_entries[size_t(q)].second)) {
                best = q;
                break;
            }
        }
        tries = 0;
        for (int q = down(p - 1); q >= 0 && tries < kTries; q = down(q - 1)) {
            if (!alive(m_entries[size_t(q)].second)) {
                kill(q);
                continue;
            }
            ++tries;
            if (accept(m_entries[size_t(q)].second)) {
                if (best < 0 || start - m_entries[size_t(q)].first <= m_entries[size_t(best)].first - start)
                    best = q;
                break;
            }
        }
        if (best < 0)
            return -1;
        kill(best);
        return m_entries[size_t(best)].second;
    }

private:
    int up(int i)
    {
        int root = i;
        while (m_up[size_t(root)] != root)
            root = m_up[size_t(root)];
        while (m_up[size_t(i)] != root) {
            const int next = m_up[size_t(i)];
            m_up[size_t(i)] = root;
            i = next;
        }
        return root;
    }
    // m_down[i + 1] stands for place i; 0 for none.
    int down(int i)
    {
        int root = i + 1;
        while (m_down[size_t(root)] != root)
            root = m_down[size_t(root)];
        int at = i + 1;
        while (m_down[size_t(at)] != root) {
            const int next = m_down[size_t(at)];
            m_down[size_t(at)] = root;
            at = next;
        }
        return root - 1;
    }
    void kill(int i)
    {
        m_up[size_t(i)] = i + 1;
        m_down[size_t(i) + 1] = i;
    }

    std::vector<std::pair<qint64, int>> m_entries;
    std::vector<int> m_up;
    std::vector<int> m_down;
};

inline qint64 lengthOf(const Model::Clip &clip)
{
    return std::max<qint64>(0, clip.out - clip.in + 1);
}

inline QString percent(double speed)
{
    QString text = QString::number(speed * 100, 'f', 2);
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    return text;
}

// The indexes of values that form a longest strictly increasing subsequence (patience sorting).
inline std::vector<bool> longestIncreasing(const std::vector<int> &values)
{
    std::vector<int> tails;
    std::vector<int> tailIndex;
    std::vector<int> previous(values.size(), -1);
    for (size_t i = 0; i < values.size(); ++i) {
        const size_t place = size_t(std::lower_bound(tails.begin(), tails.end(), values[i]) - tails.begin());
        if (place == tails.size()) {
            tails.push_back(values[i]);
            tailIndex.push_back(int(i));
        } else {
            tails[place] = values[i];
            tailIndex[place] = int(i);
        }
        previous[i] = place > 0 ? tailIndex[place - 1] : -1;
    }
    std::vector<bool> inSequence(values.size(), false);
    for (int i = tailIndex.empty() ? -1 : tailIndex.back(); i >= 0; i = previous[size_t(i)])
        inSequence[size_t(i)] = true;
    return inSequence;
}

class Matcher {
public:
    Matcher(const Comparer &comparer, const Model::Sequence &older, const Model::Sequence &newer,
        const std::vector<std::pair<int, int>> &alignment)
        : m_comparer(comparer)
        , m_old(older)
        , m_new(newer)
        , m_alignment(alignment)
    {
        m_oldMatch.resize(older.tracks.size());
        for (size_t t = 0; t < older.tracks.size(); ++t)
            m_oldMatch[t].resize(older.tracks[t].clips.size());
        m_newMatch.resize(newer.tracks.size());
        m_splitLast.resize(newer.tracks.size());
        for (size_t t = 0; t < newer.tracks.size(); ++t) {
            m_newMatch[t].resize(newer.tracks[t].clips.size());
            m_splitLast[t].assign(newer.tracks[t].clips.size(), -1);
        }
    }

    void match();
    std::vector<Event> events();

private:
    const Model::Clip &oldClip(const Ref &r) const { return m_old.tracks[size_t(r.track)].clips[size_t(r.clip)]; }
    const Model::Clip &newClip(const Ref &r) const { return m_new.tracks[size_t(r.track)].clips[size_t(r.clip)]; }
    bool oldMatched(const Ref &r) const { return m_oldMatch[size_t(r.track)][size_t(r.clip)].how != How::None; }
    bool newMatched(const Ref &r) const { return m_newMatch[size_t(r.track)][size_t(r.clip)].how != How::None; }
    int oldKey(const Ref &r) const { return m_comparer.oldKey(oldClip(r).source); }
    int newKey(const Ref &r) const { return m_comparer.newKey(newClip(r).source); }
    void link(const Ref &o, const Ref &n, How how)
    {
        m_oldMatch[size_t(o.track)][size_t(o.clip)] = { n.track, n.clip, how };
        m_newMatch[size_t(n.track)][size_t(n.clip)] = { o.track, o.clip, how };
    }
    static std::vector<Ref> clipsOf(const Model::Sequence &sequence, int track)
    {
        std::vector<Ref> refs;
        refs.reserve(sequence.tracks[size_t(track)].clips.size());
        for (size_t c = 0; c < sequence.tracks[size_t(track)].clips.size(); ++c)
            refs.push_back({ track, int(c) });
        return refs;
    }
    template <typename OldKey, typename NewKey, typename Accept>
    void pair(const std::vector<Ref> &olds, const std::vector<Ref> &news, OldKey oldBucket, NewKey newBucket,
        Accept accept, How how);
    void passes(const std::vector<Ref> &olds, const std::vector<Ref> &news, How how);
    void splits(int oldTrack, int newTrack);
    QString clipLabel(bool newer, int track) const
    {
        const Model::Sequence &sequence = newer ? m_new : m_old;
        return text(sequence.tracks[size_t(track)].label);
    }
    void clipLines(int track, int clip, const QString &position, std::vector<Event> &events, int order);
    void mixLines(int oldTrack, int newTrack, std::vector<Event> &events, int order);
    void add(std::vector<Event> &events, qint64 time, int order, const QString &line)
    {
        events.push_back({ time, order, m_serial++, line });
    }

    const Comparer &m_comparer;
    const Model::Sequence &m_old;
    const Model::Sequence &m_new;
    const std::vector<std::pair<int, int>> &m_alignment;
    std::vector<std::vector<Counterpart>> m_oldMatch;
    std::vector<std::vector<Counterpart>> m_newMatch;
    std::vector<std::vector<int>> m_splitLast; // the last piece of a split, by its first
    int m_serial = 0;
};

} // namespace QFMLTCompare::ClipMatching
