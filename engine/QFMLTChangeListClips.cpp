// The clips of two versions of a sequence, matched by what they show and then by order, and the lines
// that tell what became of each: added, removed, moved in time or to another track, rippled, trimmed,
// slipped, split, replaced, sped up, its filters; and the mixes between neighbouring clips.

#include "engine/QFMLTComparison.h"

#include "foundation/platform/QFFormat.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace QFMLTCompare {

namespace {

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
        std::stable_sort(m_entries.begin(), m_entries.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        m_up.resize(m_entries.size() + 1);
        m_down.resize(m_entries.size() + 1);
        std::iota(m_up.begin(), m_up.end(), 0);
        std::iota(m_down.begin(), m_down.end(), 0);
    }
    template <typename Alive, typename Accept> int takeNearest(qint64 start, Alive alive, Accept accept)
    {
        const int n = int(m_entries.size());
        const int p = int(std::lower_bound(m_entries.cbegin(), m_entries.cend(), start,
                              [](const auto &e, qint64 s) { return e.first < s; })
            - m_entries.cbegin());
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

qint64 lengthOf(const Model::Clip &clip)
{
    return std::max<qint64>(0, clip.out - clip.in + 1);
}

QString percent(double speed)
{
    QString text = QString::number(speed * 100, 'f', 2);
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    return text;
}

// The indexes of values that form a longest strictly increasing subsequence (patience sorting).
std::vector<bool> longestIncreasing(const std::vector<int> &values)
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
    void pair(const std::vector<Ref> &olds, const std::vector<Ref> &news, OldKey oldBucket, NewKey newBucket, Accept accept, How how);
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

template <typename OldKey, typename NewKey, typename Accept>
void Matcher::pair(const std::vector<Ref> &olds, const std::vector<Ref> &news, OldKey oldBucket, NewKey newBucket, Accept accept, How how)
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
            newClip(n).start, [&](int o) { return !oldMatched(olds[size_t(o)]); }, [&](int o) { return accept(olds[size_t(o)], n); });
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
    pair(olds, news, [&](const Ref &r) { return BucketKey { oldKey(r), oldClip(r).in, oldClip(r).out }; },
        [&](const Ref &r) { return BucketKey { newKey(r), newClip(r).in, newClip(r).out }; }, always,
        how == How::Moved ? How::Moved : How::Same);
    if (how != How::Moved) {
        // A clip cut in two: pieces that touch, inside the old clip.
        const int oldTrack = olds.empty() ? -1 : olds.front().track;
        const int newTrack = news.empty() ? -1 : news.front().track;
        if (oldTrack >= 0 && newTrack >= 0)
            splits(oldTrack, newTrack);
    }
    const How trim = how == How::Moved ? How::Moved : How::Trim;
    pair(olds, news, [&](const Ref &r) { return BucketKey { oldKey(r), oldClip(r).in, -1 }; },
        [&](const Ref &r) { return BucketKey { newKey(r), newClip(r).in, -1 }; }, always, trim);
    pair(olds, news, [&](const Ref &r) { return BucketKey { oldKey(r), -1, oldClip(r).out }; },
        [&](const Ref &r) { return BucketKey { newKey(r), -1, newClip(r).out }; }, always, trim);
    pair(olds, news, [&](const Ref &r) { return BucketKey { oldKey(r), 0, 0 }; },
        [&](const Ref &r) { return BucketKey { newKey(r), 0, 0 }; },
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
                [&](int o) { return oldClip(olds[size_t(o)]).in <= clips[i].in && oldClip(olds[size_t(o)]).out >= clips[j].out; });
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
        std::stable_sort(news.begin(), news.end(), [&](const Ref &a, const Ref &b) { return newClip(a).start < newClip(b).start; });
        if (!olds.empty() && !news.empty())
            passes(olds, news, How::Moved);
    }
    // What is left at the same place with something else in it was replaced.
    for (const auto &[o, n] : m_alignment) {
        if (o < 0 || n < 0)
            continue;
        pair(clipsOf(m_old, o), clipsOf(m_new, n), [&](const Ref &r) { return BucketKey { oldClip(r).start, 0, 0 }; },
            [&](const Ref &r) { return BucketKey { newClip(r).start, 0, 0 }; }, [](const Ref &, const Ref &) { return true; },
            How::Replaced);
    }
}

void Matcher::clipLines(int track, int clip, const QString &position, std::vector<Event> &events, int order)
{
    const Model::Clip &now = m_new.tracks[size_t(track)].clips[size_t(clip)];
    const Counterpart &counterpart = m_newMatch[size_t(track)][size_t(clip)];
    const int last = m_splitLast[size_t(track)][size_t(clip)];
    if (counterpart.how == How::SplitPiece)
        return;
    // Most clips of a long project did not change: they cost no text.
    if (counterpart.how == How::Same && position.isEmpty() && last < 0) {
        const Model::Clip &was = m_old.tracks[size_t(counterpart.track)].clips[size_t(counterpart.clip)];
        if (was.speed == now.speed && was.filters == now.filters)
            return;
    }
    const QString label = clipLabel(true, track);
    const QString where = m_comparer.where(m_new);
    const QString name = m_comparer.newName(now.source);
    const qint64 at = now.start;
    const Model &model = m_comparer.newer();
    if (counterpart.how == How::None) {
        add(events, at, order, qfFormat("Clip %@ added to track %@ at %@", name, label, model.timecode(now.start)) + where);
        return;
    }
    const Model::Clip &was = m_old.tracks[size_t(counterpart.track)].clips[size_t(counterpart.clip)];
    if (counterpart.how == How::Replaced) {
        add(events, at, order, qfFormat("Clip %@ on track %@ replaced by %@", m_comparer.oldName(was.source), label, name) + where);
        return;
    }
    if (counterpart.how == How::Moved)
        add(events, at, order,
            qfFormat("Clip %@ moved from track %@ to track %@ at %@", name, clipLabel(false, counterpart.track), label, model.timecode(now.start)) + where);
    if (!position.isEmpty())
        add(events, at, order, position);
    const Model &oldModel = m_comparer.older();
    if (std::abs(was.speed - now.speed) > 1e-9) {
        // The source times change with the speed: the speed says it.
        add(events, at, order,
            qfFormat("Speed of clip %@ on track %@ changed from %@%% to %@%%", name, label, percent(was.speed), percent(now.speed)) + where);
    } else {
        const qint64 out = last >= 0 ? m_new.tracks[size_t(track)].clips[size_t(last)].out : now.out;
        const qint64 inShift = now.in - was.in;
        const qint64 outShift = out - was.out;
        if (inShift != 0 && inShift == outShift) {
            add(events, at, order, qfFormat("Clip %@ on track %@ slipped (%+i)", name, label, inShift) + where);
        } else {
            if (inShift != 0)
                add(events, at, order,
                    qfFormat("In Point of clip %@ on track %@ changed from %@ to %@ (%+i)", name, label, oldModel.timecode(was.in),
                        model.timecode(now.in), inShift)
                        + where);
            if (outShift != 0)
                add(events, at, order,
                    qfFormat("Out Point of clip %@ on track %@ changed from %@ to %@ (%+i)", name, label, oldModel.timecode(was.out),
                        model.timecode(out), outShift)
                        + where);
        }
        for (int piece = clip + 1; last >= 0 && piece <= last; ++piece) {
            const qint64 cut = m_new.tracks[size_t(track)].clips[size_t(piece)].start;
            add(events, at, order, qfFormat("Clip %@ on track %@ split at %@", name, label, model.timecode(cut)) + where);
        }
    }
    if (was.filters == now.filters)
        return;
    QStringList filters;
    m_comparer.compareFilters(was.filters, now.filters, qfFormat("clip %@ on track %@", name, label), filters, was.in, was.out, now.in, now.out);
    for (const QString &line : filters)
        add(events, at, order, line + where);
}

void Matcher::mixLines(int oldTrack, int newTrack, std::vector<Event> &events, int order)
{
    const QString where = m_comparer.where(m_new);
    const auto nameOf = [&](bool newer, int track, int clip) {
        const Model::Sequence &sequence = newer ? m_new : m_old;
        if (clip < 0)
            return QStringLiteral("none");
        const int source = sequence.tracks[size_t(track)].clips[size_t(clip)].source;
        return newer ? m_comparer.newName(source) : m_comparer.oldName(source);
    };
    // A side without a clip (a broken file) is -1 on both; an old clip that went elsewhere matches nothing.
    const auto counterpartOf = [&](int clip) {
        if (clip < 0)
            return -1;
        const Counterpart &c = m_oldMatch[size_t(oldTrack)][size_t(clip)];
        return c.track == newTrack && c.how != How::None ? c.clip : -2;
    };
    const auto keyOf = [](int left, int right, qint64 start) { return BucketKey { left, right, left < 0 && right < 0 ? start : 0 }; };
    std::unordered_map<BucketKey, std::vector<int>, BucketHash> oldMixes;
    if (oldTrack >= 0 && newTrack >= 0) {
        const std::vector<Model::Mix> &mixes = m_old.tracks[size_t(oldTrack)].mixes;
        for (size_t i = 0; i < mixes.size(); ++i) {
            const int left = counterpartOf(mixes[i].left);
            const int right = counterpartOf(mixes[i].right);
            if (left != -2 && right != -2)
                oldMixes[keyOf(left, right, mixes[i].start)].push_back(int(i));
        }
    }
    std::vector<bool> oldTaken(oldTrack >= 0 ? m_old.tracks[size_t(oldTrack)].mixes.size() : 0, false);
    if (newTrack >= 0) {
        const QString label = clipLabel(true, newTrack);
        for (const Model::Mix &now : m_new.tracks[size_t(newTrack)].mixes) {
            const QString kind = text(now.kind);
            const QString left = nameOf(true, newTrack, now.left);
            const QString right = nameOf(true, newTrack, now.right);
            const qint64 at = now.left >= 0 ? m_new.tracks[size_t(newTrack)].clips[size_t(now.left)].start : now.start;
            const Model::Mix *was = nullptr;
            {
                auto found = oldMixes.find(keyOf(now.left, now.right, now.start));
                if (found != oldMixes.end()) {
                    for (int i : found->second) {
                        if (!oldTaken[size_t(i)] && m_old.tracks[size_t(oldTrack)].mixes[size_t(i)].kind == now.kind) {
                            oldTaken[size_t(i)] = true;
                            was = &m_old.tracks[size_t(oldTrack)].mixes[size_t(i)];
                            break;
                        }
                    }
                }
            }
            if (!was) {
                add(events, at, order, qfFormat("Transition %@ added between clip %@ and clip %@ on track %@", kind, left, right, label) + where);
                continue;
            }
            if (was->length != now.length)
                add(events, at, order,
                    qfFormat("Transition %@ between clip %@ and clip %@ on track %@ changed from %i to %i frames", kind, left, right, label,
                        was->length, now.length)
                        + where);
            QStringList changed;
            m_comparer.compareParameters(was->parameters, now.parameters,
                qfFormat("Transition %@ between clip %@ and clip %@ on track %@: ", kind, left, right, label), changed);
            for (const QString &line : changed)
                add(events, at, order, line + where);
        }
    }
    if (oldTrack < 0)
        return;
    const QString label = clipLabel(false, oldTrack);
    const std::vector<Model::Mix> &mixes = m_old.tracks[size_t(oldTrack)].mixes;
    for (size_t i = 0; i < mixes.size(); ++i) {
        if (oldTaken[i])
            continue;
        add(events, mixes[i].start, order,
            qfFormat("Transition %@ removed between clip %@ and clip %@ on track %@", text(mixes[i].kind), nameOf(false, oldTrack, mixes[i].left),
                nameOf(false, oldTrack, mixes[i].right), label)
                + where);
    }
}

std::vector<Event> Matcher::events()
{
    std::vector<Event> events;
    const QString where = m_comparer.where(m_new);
    const Model &oldModel = m_comparer.older();
    const Model &model = m_comparer.newer();
    for (size_t order = 0; order < m_alignment.size(); ++order) {
        const auto [o, n] = m_alignment[order];
        if (o >= 0) {
            // A removed clip is told at its old place, before what came there.
            const std::vector<Model::Clip> &clips = m_old.tracks[size_t(o)].clips;
            for (size_t c = 0; c < clips.size(); ++c) {
                if (m_oldMatch[size_t(o)][c].how == How::None)
                    add(events, clips[c].start, int(order),
                        qfFormat("Clip %@ removed from track %@ at %@", m_comparer.oldName(clips[c].source), clipLabel(false, o),
                            oldModel.timecode(clips[c].start))
                            + where);
            }
        }
        if (n < 0) {
            mixLines(o, -1, events, int(order));
            continue;
        }
        const std::vector<Model::Clip> &clips = m_new.tracks[size_t(n)].clips;
        std::vector<QString> position(clips.size());
        if (o >= 0) {
            // Among clips that stayed on this track, those outside the longest run in order moved; the others
            // shifted, and neighbours shifted alike rippled.
            std::vector<std::pair<int, int>> pairs;
            for (size_t c = 0; c < clips.size(); ++c) {
                const Counterpart &counterpart = m_newMatch[size_t(n)][c];
                if (counterpart.track == o && counterpart.how != How::None && counterpart.how != How::SplitPiece && counterpart.how != How::Moved)
                    pairs.emplace_back(counterpart.clip, int(c));
            }
            std::sort(pairs.begin(), pairs.end());
            std::vector<int> values;
            values.reserve(pairs.size());
            for (const auto &p : pairs)
                values.push_back(p.second);
            const std::vector<bool> inOrder = longestIncreasing(values);
            const QString label = clipLabel(true, n);
            std::vector<std::pair<int, int>> shifted; // new clip, old clip, by new place
            for (size_t i = 0; i < pairs.size(); ++i) {
                const Model::Clip &was = m_old.tracks[size_t(o)].clips[size_t(pairs[i].first)];
                const Model::Clip &now = clips[size_t(pairs[i].second)];
                if (inOrder[i])
                    shifted.emplace_back(pairs[i].second, pairs[i].first);
                else
                    position[size_t(pairs[i].second)] = qfFormat("Clip %@ on track %@ moved from %@ to %@ (%+i)", m_comparer.newName(now.source), label,
                                                            oldModel.timecode(was.start), model.timecode(now.start), now.start - was.start)
                        + where;
            }
            std::sort(shifted.begin(), shifted.end());
            for (size_t i = 0; i < shifted.size();) {
                const auto shift = [&](size_t k) {
                    return clips[size_t(shifted[k].first)].start - m_old.tracks[size_t(o)].clips[size_t(shifted[k].second)].start;
                };
                const qint64 by = shift(i);
                size_t j = i + 1;
                while (j < shifted.size() && shift(j) == by)
                    ++j;
                if (by != 0) {
                    const Model::Clip &now = clips[size_t(shifted[i].first)];
                    const Model::Clip &was = m_old.tracks[size_t(o)].clips[size_t(shifted[i].second)];
                    const QString name = m_comparer.newName(now.source);
                    position[size_t(shifted[i].first)] = j - i > 1
                        ? qfFormat("Clip %@ and the %i clips after it on track %@ moved (%+i)", name, qint64(j - i - 1), label, by) + where
                        : qfFormat("Clip %@ on track %@ moved from %@ to %@ (%+i)", name, label, oldModel.timecode(was.start),
                              model.timecode(now.start), by)
                            + where;
                }
                i = j;
            }
        }
        for (size_t c = 0; c < clips.size(); ++c)
            clipLines(n, int(c), position[c], events, int(order));
        mixLines(o, n, events, int(order));
    }
    return events;
}

} // namespace

std::vector<Event> clipEvents(const Comparer &comparer, const Model::Sequence &older, const Model::Sequence &newer,
    const std::vector<std::pair<int, int>> &alignment)
{
    Matcher matcher(comparer, older, newer, alignment);
    matcher.match();
    return matcher.events();
}

} // namespace QFMLTCompare
