// The lines that tell what became of each clip of a sequence once the clips of two versions are matched, and
// of the mixes between neighbouring clips, in the order the user reads them.

#include "engine/QFMLTClipMatcher.h"

namespace QFMLTCompare::ClipMatching {

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
        add(events, at, order,
            qfFormat("Clip %@ added to track %@ at %@", name, label, model.timecode(now.start)) + where);
        return;
    }
    const Model::Clip &was = m_old.tracks[size_t(counterpart.track)].clips[size_t(counterpart.clip)];
    if (counterpart.how == How::Replaced) {
        add(events, at, order,
            qfFormat("Clip %@ on track %@ replaced by %@", m_comparer.oldName(was.source), label, name) + where);
        return;
    }
    if (counterpart.how == How::Moved)
        add(events, at, order,
            qfFormat("Clip %@ moved from track %@ to track %@ at %@", name, clipLabel(false, counterpart.track), label,
                model.timecode(now.start))
                + where);
    if (!position.isEmpty())
        add(events, at, order, position);
    const Model &oldModel = m_comparer.older();
    if (std::abs(was.speed - now.speed) > 1e-9) {
        // The source times change with the speed: the speed says it.
        add(events, at, order,
            qfFormat("Speed of clip %@ on track %@ changed from %@%% to %@%%", name, label, percent(was.speed),
                percent(now.speed))
                + where);
    } else {
        const qint64 out = last >= 0 ? m_new.tracks[size_t(track)].clips[size_t(last)].out : now.out;
        const qint64 inShift = now.in - was.in;
        const qint64 outShift = out - was.out;
        if (inShift != 0 && inShift == outShift) {
            add(events, at, order, qfFormat("Clip %@ on track %@ slipped (%+i)", name, label, inShift) + where);
        } else {
            if (inShift != 0)
                add(events, at, order,
                    qfFormat("In Point of clip %@ on track %@ changed from %@ to %@ (%+i)", name, label,
                        oldModel.timecode(was.in), model.timecode(now.in), inShift)
                        + where);
            if (outShift != 0)
                add(events, at, order,
                    qfFormat("Out Point of clip %@ on track %@ changed from %@ to %@ (%+i)", name, label,
                        oldModel.timecode(was.out), model.timecode(out), outShift)
                        + where);
        }
        for (int piece = clip + 1; last >= 0 && piece <= last; ++piece) {
            const qint64 cut = m_new.tracks[size_t(track)].clips[size_t(piece)].start;
            add(events, at, order,
                qfFormat("Clip %@ on track %@ split at %@", name, label, model.timecode(cut)) + where);
        }
    }
    if (was.filters == now.filters)
        return;
    QStringList filters;
    m_comparer.compareFilters(was.filters, now.filters, qfFormat("clip %@ on track %@", name, label), filters, was.in,
        was.out, now.in, now.out);
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
    const auto keyOf = [](int left, int right, qint64 start) {
        return BucketKey { left, right, left < 0 && right < 0 ? start : 0 };
    };
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
                add(events, at, order,
                    qfFormat("Transition %@ added between clip %@ and clip %@ on track %@", kind, left, right, label)
                        + where);
                continue;
            }
            if (was->length != now.length)
                add(events, at, order,
                    qfFormat("Transition %@ between clip %@ and clip %@ on track %@ changed from %i to %i frames", kind,
                        left, right, label, was->length, now.length)
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
            qfFormat("Transition %@ removed between clip %@ and clip %@ on track %@", text(mixes[i].kind),
                nameOf(false, oldTrack, mixes[i].left), nameOf(false, oldTrack, mixes[i].right), label)
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
                        qfFormat("Clip %@ removed from track %@ at %@", m_comparer.oldName(clips[c].source),
                            clipLabel(false, o), oldModel.timecode(clips[c].start))
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
                if (counterpart.track == o && counterpart.how != How::None && counterpart.how != How::SplitPiece
                    && counterpart.how != How::Moved)
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
                    position[size_t(pairs[i].second)]
                        = qfFormat("Clip %@ on track %@ moved from %@ to %@ (%+i)", m_comparer.newName(now.source),
                              label, oldModel.timecode(was.start), model.timecode(now.start), now.start - was.start)
                        + where;
            }
            std::sort(shifted.begin(), shifted.end());
            for (size_t i = 0; i < shifted.size();) {
                const auto shift = [&](size_t k) {
                    return clips[size_t(shifted[k].first)].start
                        - m_old.tracks[size_t(o)].clips[size_t(shifted[k].second)].start;
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
                        ? qfFormat("Clip %@ and the %i clips after it on track %@ moved (%+i)", name, qint64(j - i - 1),
                              label, by)
                            + where
                        : qfFormat("Clip %@ on track %@ moved from %@ to %@ (%+i)", name, label,
                              oldModel.timecode(was.start), model.timecode(now.start), by)
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

} // namespace QFMLTCompare::ClipMatching
