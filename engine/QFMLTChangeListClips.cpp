// The clips of two versions of a sequence, matched by what they show and then by order: exact, trimmed,
// overlapping or split, on another track, replaced. What became of each (added, removed, moved in time or to
// another track, rippled, trimmed, slipped, split, replaced, sped up, its filters) is told by the lines of
// QFMLTChangeListClipLines.cpp.

#include "engine/QFMLTClipMatcher.h"
#include "engine/QFMLTComparison.h"

#include "foundation/platform/QFFormat.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace QFMLTCompare {

namespace ClipMatching {

template <typename OldKey, typename NewKey, typename Accept>
void Matcher::pair(const std::vector<Ref> &olds, const std::vector<Ref> &news, OldKey oldBucket, NewKey newBucket,
    Accept accept, How how)
{
    std::unordered_map<BucketKey, Pool, BucketHash> pools;
    for (size_t i = 0; i < olds.size(); ++i) {
        if (!oldMatched(olds[i]))
            pools[oldBucket(olds[i])].add(int(i), oldClip(olds[i]).start);
    }
    if (pools.empty())
        return;
    for (auto &[key, pool] : pools)
        pool.finish();
    for (const Ref &n : news) {
        if (newMatched(n))
            continue;
        const auto found = pools.find(newBucket(n));
        if (found == pools.end())
            continue;
        const int taken = found->second.takeNearest(
            newClip(n).start, [&](int o) { return !oldMatched(olds[size_t(o)]); },
            [&](int o) { return accept(olds[size_t(o)], n); });
        if (taken >= 0)
            link(olds[size_t(taken)], n, how);
    }
}

void Matcher::passes(const std::vector<Ref> &olds, const std::vector<Ref> &news, How how)
{
    const auto same = [&](const Ref &o, const Ref &n) {
        return oldKey(o) == newKey(n) && oldClip(o).in == newClip(n).in && oldClip(o).out == newClip(n).out;
    };
    if (how != How::Moved) {
        // What did not change at either end of a track pairs in order, without a search.
        size_t front = 0;
        while (front < olds.size() && front < news.size() && same(olds[front], news[front])) {
            link(olds[front], news[front], How::Same);
            ++front;
        }
        for (size_t back = 1; back + front <= olds.size() && back + front <= news.size()
             && same(olds[olds.size() - back], news[news.size() - back]);
             ++back)
            link(olds[olds.size() - back], news[news.size() - back], How::Same);
    }
    const auto always = [](const Ref &, const Ref &) { return true; };
    pair(
        olds, news,
        [&](const Ref &r) {
            return BucketKey { oldKey(r), oldClip(r).in, oldClip(r).out };
        },
        [&](const Ref &r) {
            return BucketKey { newKey(r), newClip(r).in, newClip(r).out };
        },
        always, how == How::Moved ? How::Moved : How::Same);
    if (how != How::Moved) {
        // A clip cut in two: pieces that touch, inside the old clip.
        const int oldTrack = olds.empty() ? -1 : olds.front().track;
        const int newTrack = news.empty() ? -1 : news.front().track;
        if (oldTrack >= 0 && newTrack >= 0)
            splits(oldTrack, newTrack);
    }
    const How trim = how == How::Moved ? How::Moved : How::Trim;
    pair(
        olds, news,
        [&](const Ref &r) {
            return BucketKey { oldKey(r), oldClip(r).in, -1 };
        },
        [&](const Ref &r) {
            return BucketKey { newKey(r), newClip(r).in, -1 };
        },
        always, trim);
    pair(
        olds, news,
        [&](const Ref &r) {
            return BucketKey { oldKey(r), -1, oldClip(r).out };
        },
        [&](const Ref &r) {
            return BucketKey { newKey(r), -1, newClip(r).out };
        },
        always, trim);
    pair(
        olds, news,
        [&](const Ref &r) {
            return BucketKey { oldKey(r), 0, 0 };
        },
        [&](const Ref &r) {
            return BucketKey { newKey(r), 0, 0 };
        },
        [&](const Ref &o, const Ref &n) { return oldClip(o).in <= newClip(n).out && newClip(n).in <= oldClip(o).out; },
        how == How::Moved ? How::Moved : How::Overlap);
}

void Matcher::splits(int oldTrack, int newTrack)
{
    const std::vector<Model::Clip> &clips = m_new.tracks[size_t(newTrack)].clips;
    const std::vector<Ref> olds = clipsOf(m_old, oldTrack);
    std::unordered_map<int, Pool> byKey;
    for (size_t i = 0; i < olds.size(); ++i) {
        if (!oldMatched(olds[i]))
            byKey[oldKey(olds[i])].add(int(i), oldClip(olds[i]).start);
    }
    for (auto &[key, pool] : byKey)
        pool.finish();
    const auto freeAt = [&](size_t c) { return !newMatched({ newTrack, int(c) }); };
    for (size_t i = 0; i < clips.size();) {
        if (!freeAt(i)) {
            ++i;
            continue;
        }
        const int key = newKey({ newTrack, int(i) });
        size_t j = i;
        while (j + 1 < clips.size() && freeAt(j + 1) && newKey({ newTrack, int(j + 1) }) == key
            && clips[j].out + 1 == clips[j + 1].in && clips[j].start + lengthOf(clips[j]) == clips[j + 1].start)
            ++j;
        const auto pool = byKey.find(key);
        if (j > i && pool != byKey.end()) {
            const int found = pool->second.takeNearest(
                clips[i].start, [&](int o) { return !oldMatched(olds[size_t(o)]); },
                [&](int o) {
                    return oldClip(olds[size_t(o)]).in <= clips[i].in && oldClip(olds[size_t(o)]).out >= clips[j].out;
                });
            if (found >= 0) {
                link(olds[size_t(found)], { newTrack, int(i) }, How::Split);
                for (size_t k = i + 1; k <= j; ++k)
                    m_newMatch[size_t(newTrack)][k] = { oldTrack, olds[size_t(found)].clip, How::SplitPiece };
                m_splitLast[size_t(newTrack)][i] = int(j);
            }
        }
        i = j + 1;
    }
}

void Matcher::match()
{
    // Within each pair of tracks first.
    for (const auto &[o, n] : m_alignment) {
        if (o >= 0 && n >= 0)
            passes(clipsOf(m_old, o), clipsOf(m_new, n), How::Same);
    }
    // Then between tracks of one kind.
    for (const bool audio : { false, true }) {
        std::vector<Ref> olds;
        std::vector<Ref> news;
        for (size_t t = 0; t < m_old.tracks.size(); ++t) {
            if (m_old.tracks[t].audio != audio)
                continue;
            for (const Ref &r : clipsOf(m_old, int(t))) {
                if (!oldMatched(r))
                    olds.push_back(r);
            }
        }
        for (size_t t = 0; t < m_new.tracks.size(); ++t) {
            if (m_new.tracks[t].audio != audio)
                continue;
            for (const Ref &r : clipsOf(m_new, int(t))) {
                if (!newMatched(r))
                    news.push_back(r);
            }
        }
        std::stable_sort(
            news.begin(), news.end(), [&](const Ref &a, const Ref &b) { return newClip(a).start < newClip(b).start; });
        if (!olds.empty() && !news.empty())
            passes(olds, news, How::Moved);
    }
    // What is left at the same place with something else in it was replaced.
    for (const auto &[o, n] : m_alignment) {
        if (o < 0 || n < 0)
            continue;
        pair(
            clipsOf(m_old, o), clipsOf(m_new, n),
            [&](const Ref &r) {
                return BucketKey { oldClip(r).start, 0, 0 };
            },
            [&](const Ref &r) {
                return BucketKey { newClip(r).start, 0, 0 };
            },
            [](const Ref &, const Ref &) { return true; }, How::Replaced);
    }
}

} // namespace ClipMatching

using ClipMatching::Matcher;

std::vector<Event> clipEvents(const Comparer &comparer, const Model::Sequence &older, const Model::Sequence &newer,
    const std::vector<std::pair<int, int>> &alignment)
{
    Matcher matcher(comparer, older, newer, alignment);
    matcher.match();
    return matcher.events();
}

} // namespace QFMLTCompare
