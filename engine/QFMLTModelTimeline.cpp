// The timelines of an MLT document: which tractors are sequences, their tracks in order, the clips of each
// track with their places, and the transitions between them.

#include "engine/QFMLTModelReader.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace QFMLTRead {

namespace {

int hideBits(std::string_view hide)
{
    if (hide == "video")
        return 1;
    if (hide == "audio")
        return 2;
    if (hide == "both")
        return 3;
    return 0;
}

bool isNamed(const pugi::xml_node &node, const char *name)
{
    return std::strcmp(node.name(), name) == 0;
}

bool isOn(std::string_view value)
{
    return !value.empty() && value != "0";
}

// The track elements of a tractor, also those of an older file's multitrack.
std::vector<pugi::xml_node> trackElements(const pugi::xml_node &tractor)
{
    std::vector<pugi::xml_node> tracks;
    for (pugi::xml_node child = tractor.first_child(); child; child = child.next_sibling()) {
        if (isNamed(child, "track")) {
            tracks.push_back(child);
        } else if (isNamed(child, "multitrack")) {
            for (pugi::xml_node track = child.child("track"); track; track = track.next_sibling("track"))
                tracks.push_back(track);
        }
    }
    return tracks;
}

// Compositing the editors do by themselves: nothing the user placed.
bool isAutomaticTransition(const Properties &properties, QFMLTModel::Dialect dialect)
{
    if (properties.has("internal_added"))
        return true;
    if (dialect != QFMLTModel::Dialect::Shotcut)
        return false;
    const std::string_view service = properties.value("mlt_service");
    for (std::string_view blend :
        { "mix", "frei0r.cairoblend", "movit.overlay", "qtblend", "composite", "frei0r.overlay" }) {
        if (service == blend)
            return true;
    }
    return false;
}

} // namespace

bool Reader::isBackground(const pugi::xml_node &producer) const
{
    const std::string_view id = attribute(producer, "id");
    if (id == "black_track" || (id == "background" && m_model.dialect != QFMLTModel::Dialect::Kdenlive))
        return true;
    return m_model.dialect == QFMLTModel::Dialect::Kdenlive
        && Properties(producer).value("kdenlive:playlistid") == "black_track";
}

void Reader::readSequences()
{
    // Kdenlive keeps each sequence as a tractor with a uuid, sometimes more than once: the copy the bin
    // refers to first stands for it, else the first in the document.
    std::unordered_map<std::string, pugi::xml_node> chosen;
    for (const pugi::xml_node &copy : m_binSequenceCopies)
        chosen.emplace(std::string(Properties(copy).value("kdenlive:uuid")), copy);
    pugi::xml_node lastTractor;
    pugi::xml_node lastShotcut;
    pugi::xml_node lastPlaylist;
    std::unordered_map<const void *, int> ordinal; // of the tractors with a uuid, in the document
    for (pugi::xml_node child = m_root.first_child(); child; child = child.next_sibling()) {
        if (isNamed(child, "playlist") && child != m_bin) {
            lastPlaylist = child;
            continue;
        }
        if (!isNamed(child, "tractor"))
            continue;
        const Properties properties(child);
        const std::string_view uuid = properties.value("kdenlive:uuid");
        if (!uuid.empty()) {
            chosen.emplace(std::string(uuid), child);
            ordinal.emplace(child.internal_object(), int(ordinal.size()));
        } else if (properties.has("shotcut"))
            lastShotcut = child;
        else if (!properties.has("shotcut:transition"))
            lastTractor = child;
    }
    std::vector<pugi::xml_node> timelines;
    for (const auto &[uuid, node] : chosen)
        timelines.push_back(node);
    std::sort(timelines.begin(), timelines.end(), [&ordinal](const pugi::xml_node &a, const pugi::xml_node &b) {
        return ordinal.at(a.internal_object()) < ordinal.at(b.internal_object());
    });
    if (timelines.empty()) {
        const pugi::xml_node timeline = lastShotcut ? lastShotcut : lastTractor;
        if (timeline) {
            timelines.push_back(timeline);
        } else if (lastPlaylist) {
            // A playlist alone: a timeline of one track.
            QFMLTModel::Sequence sequence;
            sequence.name = "Timeline";
            QFMLTModel::Track track;
            readTrack(track, pugi::xml_node(), lastPlaylist);
            track.label = "V1";
            sequence.tracks.push_back(std::move(track));
            m_model.sequences.push_back(std::move(sequence));
            return;
        }
    }
    for (const pugi::xml_node &timeline : timelines)
        m_model.sequences.push_back(sequence(timeline, Properties(timeline)));
}

QFMLTModel::Sequence Reader::sequence(const pugi::xml_node &tractor, const Properties &properties)
{
    const bool kdenlive = m_model.dialect == QFMLTModel::Dialect::Kdenlive;
    QFMLTModel::Sequence sequence;
    sequence.uuid = std::string(properties.value("kdenlive:uuid"));
    sequence.name = std::string(properties.value("kdenlive:clipname"));
    if (sequence.name.empty())
        sequence.name = "Timeline";

    const std::vector<pugi::xml_node> elements = trackElements(tractor);
    std::vector<int> tractorTrackToTrack(elements.size(), -1);
    for (size_t i = 0; i < elements.size(); ++i) {
        const std::string_view id = attribute(elements[i], "producer");
        const pugi::xml_node producer = element(id);
        if (!producer || isBackground(producer) || producer == tractor)
            continue;
        QFMLTModel::Track track;
        readTrack(track, elements[i], producer);
        tractorTrackToTrack[i] = int(sequence.tracks.size());
        sequence.tracks.push_back(std::move(track));
    }
    // Video tracks count upward; Kdenlive counts its audio tracks from the video ones outward.
    const qsizetype audioTracks
        = std::count_if(sequence.tracks.cbegin(), sequence.tracks.cend(), [](const auto &t) { return t.audio; });
    int video = 0;
    int audio = 0;
    for (QFMLTModel::Track &track : sequence.tracks) {
        const int number = track.audio ? (kdenlive ? int(audioTracks) - audio++ : ++audio) : ++video;
        track.label = track.name.empty() ? (track.audio ? "A" : "V") + std::to_string(number) : track.name;
    }

    sequence.filters = filters(tractor, true);
    for (pugi::xml_node child = tractor.child("transition"); child; child = child.next_sibling("transition")) {
        const Properties transition(child);
        if (isAutomaticTransition(transition, m_model.dialect))
            continue;
        QFMLTModel::Composition composition;
        std::string_view kind = transition.value("kdenlive_id");
        composition.kind = std::string(kind.empty() ? transition.value("mlt_service") : kind);
        const auto trackIndex = [&](std::string_view value) {
            const auto index = frames(value, 1);
            return index && *index >= 0 && *index < qint64(tractorTrackToTrack.size())
                ? tractorTrackToTrack[size_t(*index)]
                : -1;
        };
        composition.onto = trackIndex(transition.value("a_track"));
        composition.from = trackIndex(transition.value("b_track"));
        composition.start = frames(attribute(child, "in"), m_fps).value_or(0);
        const auto out = frames(attribute(child, "out"), m_fps);
        composition.length = out ? std::max<qint64>(0, *out - composition.start + 1) : 0;
        composition.parameters = parameters(transition);
        sequence.compositions.push_back(std::move(composition));
    }
    if (kdenlive) {
        sequence.markers
            = kdenliveMarkers(sequence.uuid.empty() && m_bin ? Properties(m_bin).value("kdenlive:docproperties.guides")
                                                             : properties.value("kdenlive:sequenceproperties.guides"));
    } else {
        sequence.markers = shotcutMarkers(tractor);
        if (m_model.notes.empty())
            m_model.notes = std::string(properties.value("shotcut:projectNote"));
    }
    return sequence;
}

void Reader::readTrack(QFMLTModel::Track &track, const pugi::xml_node &trackElement, const pugi::xml_node &producer)
{
    const QFMLTModel::Dialect dialect = m_model.dialect;
    int bits = hideBits(attribute(trackElement, "hide"));
    std::vector<PendingMix> mixes;
    const auto readNames = [&](const Properties &properties) {
        if (isOn(properties.value("kdenlive:audio_track")) || isOn(properties.value("shotcut:audio")))
            track.audio = true;
        for (std::string_view key : { "kdenlive:track_name", "shotcut:name" }) {
            if (track.name.empty())
                track.name = std::string(properties.value(key));
        }
        if (isOn(properties.value("kdenlive:locked_track")) || isOn(properties.value("shotcut:lock")))
            track.locked = true;
    };
    if (isNamed(producer, "tractor")) {
        // A Kdenlive track: a tractor of two playlists, the second holding the clips that overlap in a mix.
        readNames(Properties(producer));
        track.filters = filters(producer, true);
        for (const pugi::xml_node &inner : trackElements(producer)) {
            const pugi::xml_node playlist = element(attribute(inner, "producer"));
            if (!playlist || playlist == producer || !isNamed(playlist, "playlist"))
                continue;
            bits |= hideBits(attribute(inner, "hide"));
            readNames(Properties(playlist));
            readPlaylist(track, playlist, mixes);
        }
        for (pugi::xml_node child = producer.child("transition"); child; child = child.next_sibling("transition")) {
            const Properties properties(child);
            if (properties.has("internal_added"))
                continue;
            PendingMix pending;
            pending.byPosition = true;
            std::string_view kind = properties.value("kdenlive_id");
            pending.mix.kind = std::string(kind.empty() ? properties.value("mlt_service") : kind);
            pending.mix.start = frames(attribute(child, "in"), m_fps).value_or(0);
            const auto out = frames(attribute(child, "out"), m_fps);
            pending.mix.length = out ? std::max<qint64>(0, *out - pending.mix.start + 1) : 0;
            pending.mix.parameters = parameters(properties);
            mixes.push_back(std::move(pending));
        }
    } else if (isNamed(producer, "playlist")) {
        const Properties properties(producer);
        readNames(properties);
        track.filters = filters(producer, true);
        readPlaylist(track, producer, mixes);
    } else {
        // A producer placed on a track by itself.
        QFMLTModel::Clip clip;
        clip.source = factsOf(producer, attribute(producer, "id"), pugi::xml_node()).source;
        clip.in = frames(attribute(trackElement, "in"), m_fps)
                      .value_or(frames(attribute(producer, "in"), m_fps).value_or(0));
        clip.out = frames(attribute(trackElement, "out"), m_fps)
                       .value_or(frames(attribute(producer, "out"), m_fps).value_or(clip.in));
        track.clips.push_back(std::move(clip));
    }
    if (dialect == QFMLTModel::Dialect::Plain && bits == 1)
        track.audio = true;
    if (dialect == QFMLTModel::Dialect::Kdenlive) {
        // Kdenlive hides a video track's audio and an audio track's video as a matter of course.
        track.hidden = !track.audio && (bits & 1);
        track.muted = track.audio && (bits & 2);
    } else {
        track.hidden = !track.audio && (bits & 1);
        track.muted = (bits & 2) != 0;
    }
    finishTrack(track, mixes);
}

void Reader::mixFromTractor(const pugi::xml_node &tractor, QFMLTModel::Mix &mix) const
{
    for (pugi::xml_node child = tractor.child("transition"); child; child = child.next_sibling("transition")) {
        const Properties properties(child);
        const std::string_view service = properties.value("mlt_service");
        if (mix.kind.empty() && service != "mix" && !service.empty())
            mix.kind = std::string(service);
        for (QFMLTModel::Parameter &parameter : parameters(properties)) {
            const bool known = std::any_of(mix.parameters.cbegin(), mix.parameters.cend(),
                [&](const QFMLTModel::Parameter &p) { return p.name == parameter.name; });
            if (!known)
                mix.parameters.push_back(std::move(parameter));
        }
    }
    if (mix.kind.empty())
        mix.kind = "mix";
    std::sort(
        mix.parameters.begin(), mix.parameters.end(), [](const auto &a, const auto &b) { return a.name < b.name; });
}

void Reader::readPlaylist(QFMLTModel::Track &track, const pugi::xml_node &playlist, std::vector<PendingMix> &mixes)
{
    qint64 position = 0;
    int lastClip = -1;
    int waitingMix = -1;
    for (pugi::xml_node child = playlist.first_child(); child; child = child.next_sibling()) {
        if (isNamed(child, "blank")) {
            position
                = saturatedAdd(position, std::max<qint64>(0, frames(attribute(child, "length"), m_fps).value_or(0)));
            continue;
        }
        if (!isNamed(child, "entry"))
            continue;
        const std::string_view id = attribute(child, "producer");
        pugi::xml_node producer = element(id);
        if (producer == playlist)
            producer = pugi::xml_node();
        const ProducerFacts *facts = producer ? &factsOf(producer, id, child) : nullptr;
        const auto in = frames(attribute(child, "in"), m_fps);
        const auto out = frames(attribute(child, "out"), m_fps);
        QFMLTModel::Clip clip;
        clip.in = in ? *in : frames(attribute(producer, "in"), m_fps).value_or(0);
        if (out) {
            clip.out = *out;
        } else if (const auto producerOut = frames(attribute(producer, "out"), m_fps)) {
            clip.out = *producerOut;
        } else {
            clip.out = saturatedAdd(clip.in, (facts && facts->length ? *facts->length : 1) - 1);
        }
        const qint64 length = std::max<qint64>(0, saturatedAdd(clip.out, 1 - clip.in));
        if (facts && facts->shotcutTransition) {
            // Shotcut's mix: a tractor of the two clips' overlap between them in the playlist.
            PendingMix pending;
            mixFromTractor(producer, pending.mix);
            pending.mix.start = position;
            pending.mix.length = length;
            pending.leftOrdinal = lastClip;
            mixes.push_back(std::move(pending));
            waitingMix = int(mixes.size() - 1);
            position = saturatedAdd(position, length);
            continue;
        }
        clip.source = facts ? facts->source : missingSource(id);
        clip.start = position;
        clip.speed = facts ? facts->speed : 1.0;
        clip.filters = filters(child, false);
        if (facts && facts->ownFilters) {
            std::vector<QFMLTModel::Filter> own = filters(producer, false);
            clip.filters.insert(
                clip.filters.end(), std::make_move_iterator(own.begin()), std::make_move_iterator(own.end()));
        }
        track.clips.push_back(std::move(clip));
        lastClip = int(track.clips.size() - 1);
        if (waitingMix >= 0) {
            mixes[size_t(waitingMix)].rightOrdinal = lastClip;
            waitingMix = -1;
        }
        position = saturatedAdd(position, length);
    }
}

void Reader::finishTrack(QFMLTModel::Track &track, std::vector<PendingMix> &mixes)
{
    std::vector<int> order(track.clips.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
        [&](int a, int b) { return track.clips[size_t(a)].start < track.clips[size_t(b)].start; });
    std::vector<int> placeOf(order.size());
    std::vector<QFMLTModel::Clip> sorted;
    sorted.reserve(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        placeOf[size_t(order[i])] = int(i);
        sorted.push_back(std::move(track.clips[size_t(order[i])]));
    }
    track.clips = std::move(sorted);
    for (PendingMix &pending : mixes) {
        QFMLTModel::Mix mix = std::move(pending.mix);
        if (pending.byPosition) {
            // The clip that starts where the mix starts, and the one before it.
            const auto right = std::lower_bound(track.clips.cbegin(), track.clips.cend(), mix.start,
                [](const QFMLTModel::Clip &clip, qint64 start) { return clip.start < start; });
            if (right != track.clips.cend() && right->start <= saturatedAdd(mix.start, mix.length))
                mix.right = int(right - track.clips.cbegin());
            const int left = int(right - track.clips.cbegin()) - 1;
            if (left >= 0)
                mix.left = left;
        } else {
            mix.left = pending.leftOrdinal >= 0 ? placeOf[size_t(pending.leftOrdinal)] : -1;
            mix.right = pending.rightOrdinal >= 0 ? placeOf[size_t(pending.rightOrdinal)] : -1;
        }
        track.mixes.push_back(std::move(mix));
    }
}

} // namespace QFMLTRead
