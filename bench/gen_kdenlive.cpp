// Writes a large Kdenlive project and two edited copies for the benchmark of MLT change lines, laid out as
// Kdenlive 24 saves them: bin clips as chains with their media properties and built-in effects, a copy of
// each bin clip for every track it is used on, tracks as tractors of two playlists, one sequence with a uuid,
// the bin playlist with folders and document properties. Element ids are numbered in writing order, so an
// edit renumbers what follows it, as a save does.
//   base.kdenlive        CLIPS timeline clips on TRACKS tracks (half audio), BIN bin clips, a filter on a tenth
//   one-edit.kdenlive    one clip inserted in the middle of V1
//   many-edits.kdenlive  a few hundred edits over the whole project: trims, moves, insertions, removals,
//                        filters added and changed
// usage: bench_gen_kdenlive FOLDER [CLIPS] [TRACKS] [BIN]

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 25;

struct Entry {
    int bin = 0;
    int in = 0;
    int out = 0;
    int gapBefore = 0; // blank frames before the clip
    int filter = -1; // the brightness filter's last level in hundredths, -1 for none
};

struct Track {
    bool audio = false;
    std::vector<Entry> entries;
};

struct Project {
    int bins = 0;
    std::vector<Track> tracks;
};

std::string clock(int frames)
{
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", frames / (3600 * kRate), (frames / (60 * kRate)) % 60,
        (frames / kRate) % 60, (frames % kRate) * (1000 / kRate));
    return text;
}

std::string uuid(int n)
{
    char text[48];
    std::snprintf(text, sizeof text, "{%08x-4b1c-4d2e-9f30-%012llx}", 0x5eed0000u + unsigned(n),
        0xabc000000ull + static_cast<unsigned long long>(n));
    return text;
}

class Writer {
public:
    explicit Writer(FILE *file)
        : m_file(file)
    {
    }
    void property(const char *name, const std::string &value, int indent = 2)
    {
        if (value.empty())
            std::fprintf(m_file, "%*s<property name=\"%s\"/>\n", indent, "", name);
        else
            std::fprintf(m_file, "%*s<property name=\"%s\">%s</property>\n", indent, "", name, value.c_str());
    }
    void line(const std::string &text) { std::fprintf(m_file, "%s\n", text.c_str()); }

    void chain(int bin, bool audioCopy)
    {
        const int length = 1500 + (bin * 37) % 9000;
        line(" <chain id=\"chain" + std::to_string(m_chains++) + "\" out=\"" + clock(length - 1) + "\">");
        property("length", std::to_string(length));
        property("eof", "pause");
        char resource[64];
        std::snprintf(resource, sizeof resource, "footage/day%02d/A%03d_C%04d_0412XY.mp4", bin % 12, bin % 97, bin);
        property("resource", resource);
        property("audio_index", "1");
        property("video_index", audioCopy ? "-1" : "0");
        property("mute_on_pause", "0");
        property("mlt_service", "avformat-novalidate");
        property("seekable", "1");
        property("aspect_ratio", "1");
        property("meta.media.nb_streams", "2");
        property("meta.media.0.stream.type", "video");
        property("meta.media.0.stream.frame_rate", "25");
        property("meta.media.0.stream.sample_aspect_ratio", "1");
        property("meta.media.0.codec.width", "1920");
        property("meta.media.0.codec.height", "1080");
        property("meta.media.0.codec.rotate", "0");
        property("meta.media.0.codec.frame_rate", "25");
        property("meta.media.0.codec.pix_fmt", "yuv420p");
        property("meta.media.0.codec.sample_aspect_ratio", "1");
        property("meta.media.0.codec.colorspace", "709");
        property("meta.media.0.codec.color_trc", "1");
        property("meta.media.0.codec.name", "h264");
        property("meta.media.0.codec.long_name", "H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10");
        property("meta.media.0.codec.bit_rate", std::to_string(24000000 + bin));
        property("meta.attr.0.stream.handler_name.markup", "VideoHandler");
        property("meta.media.1.stream.type", "audio");
        property("meta.media.1.codec.sample_fmt", "fltp");
        property("meta.media.1.codec.sample_rate", "48000");
        property("meta.media.1.codec.channels", "2");
        property("meta.media.1.codec.name", "aac");
        property("meta.media.1.codec.long_name", "AAC (Advanced Audio Coding)");
        property("meta.media.1.codec.bit_rate", "317375");
        property("meta.attr.1.stream.handler_name.markup", "SoundHandler");
        property("meta.attr.creation_time.markup", "2024-04-12T10:11:12.000000Z");
        property("meta.media.sample_aspect_num", "1");
        property("meta.media.sample_aspect_den", "1");
        property("meta.media.frame_rate_num", "25");
        property("meta.media.frame_rate_den", "1");
        property("meta.media.colorspace", "709");
        property("meta.media.color_trc", "1");
        property("meta.media.has_b_frames", "1");
        property("meta.media.width", "1920");
        property("meta.media.height", "1080");
        property("meta.media.top_field_first", "0");
        property("meta.media.progressive", "1");
        property("kdenlive:folderid", std::to_string(2 + bin % 10));
        property("kdenlive:id", std::to_string(20 + bin));
        property("kdenlive:control_uuid", uuid(bin));
        property("kdenlive:clip_type", "0");
        property("kdenlive:file_size", std::to_string(180000000 + bin * 7919));
        char hash[40];
        std::snprintf(hash, sizeof hash, "%08x%08x%08x%08x", 0x1234567u * unsigned(bin + 1), 0x9abcdefu + unsigned(bin),
            0xfeedu * unsigned(bin + 3), 0xc0ffeeu ^ unsigned(bin));
        property("kdenlive:file_hash", hash);
        property("kdenlive:monitorPosition", "0");
        builtinFilters();
        line(" </chain>");
    }

    void builtinFilters()
    {
        line("  <filter id=\"filter" + std::to_string(m_filters++) + "\">");
        property("window", "75", 3);
        property("max_gain", "20dB", 3);
        property("level", "0=0", 3);
        property("mlt_service", "volume", 3);
        property("kdenlive_id", "volume", 3);
        property("disable", "1", 3);
        property("kdenlive:builtin", "1", 3);
        property("kdenlive:collapsed", "0", 3);
        line("  </filter>");
        line("  <filter id=\"filter" + std::to_string(m_filters++) + "\">");
        property("rotate_center", "1", 3);
        property("mlt_service", "qtblend", 3);
        property("kdenlive_id", "qtblend", 3);
        property("rect", "0=0 0 1920 1080 1", 3);
        property("rotation", "0=0", 3);
        property("disable", "1", 3);
        property("kdenlive:builtin", "1", 3);
        line("  </filter>");
    }

    void trackFilters(bool audio)
    {
        if (!audio)
            return;
        line("  <filter id=\"filter" + std::to_string(m_filters++) + "\">");
        property("window", "75", 3);
        property("max_gain", "20dB", 3);
        property("mlt_service", "volume", 3);
        property("internal_added", "237", 3);
        property("disable", "1", 3);
        line("  </filter>");
        line("  <filter id=\"filter" + std::to_string(m_filters++) + "\">");
        property("channel", "-1", 3);
        property("mlt_service", "panner", 3);
        property("internal_added", "237", 3);
        property("start", "0.5", 3);
        property("disable", "1", 3);
        line("  </filter>");
        line("  <filter id=\"filter" + std::to_string(m_filters++) + "\">");
        property("iec_scale", "0", 3);
        property("mlt_service", "audiolevel", 3);
        property("dbpeak", "1", 3);
        property("disable", "0", 3);
        line("  </filter>");
    }

    void project(const Project &project)
    {
        line("<?xml version='1.0' encoding='utf-8'?>");
        line(
            "<mlt LC_NUMERIC=\"C\" producer=\"main_bin\" version=\"7.22.0\" root=\"/home/editor/Videos/Documentary\">");
        line(" <profile frame_rate_num=\"25\" sample_aspect_num=\"1\" display_aspect_den=\"9\" colorspace=\"709\" "
             "progressive=\"1\" "
             "description=\"HD 1080p 25 fps\" display_aspect_num=\"16\" frame_rate_den=\"1\" width=\"1920\" "
             "height=\"1080\" sample_aspect_den=\"1\"/>");
        std::vector<std::string> binChains;
        for (int bin = 0; bin < project.bins; ++bin) {
            binChains.push_back("chain" + std::to_string(m_chains));
            chain(bin, false);
        }
        line(" <producer id=\"producer0\" in=\"00:00:00.000\" out=\"04:00:00.000\">");
        property("length", "2147483647");
        property("eof", "continue");
        property("resource", "black");
        property("mlt_service", "color");
        property("kdenlive:playlistid", "black_track");
        property("mlt_image_format", "rgba");
        property("set.test_audio", "0");
        line(" </producer>");
        std::vector<std::string> trackTractors;
        for (const Track &track : project.tracks) {
            // A copy of each bin clip the track uses, before its playlist.
            std::map<int, std::string> copies;
            for (const Entry &entry : track.entries) {
                if (copies.count(entry.bin))
                    continue;
                copies[entry.bin] = "chain" + std::to_string(m_chains);
                chain(entry.bin, track.audio);
            }
            const std::string first = "playlist" + std::to_string(m_playlists++);
            const std::string second = "playlist" + std::to_string(m_playlists++);
            line(" <playlist id=\"" + first + "\">");
            if (track.audio)
                property("kdenlive:audio_track", "1");
            for (const Entry &entry : track.entries) {
                if (entry.gapBefore > 0)
                    line("  <blank length=\"" + clock(entry.gapBefore) + "\"/>");
                line("  <entry producer=\"" + copies[entry.bin] + "\" in=\"" + clock(entry.in) + "\" out=\""
                    + clock(entry.out) + "\">");
                property("kdenlive:id", std::to_string(20 + entry.bin), 3);
                if (entry.filter >= 0) {
                    char level[80];
                    std::snprintf(level, sizeof level, "%s=1;%s=%d.%02d", clock(entry.in).c_str(),
                        clock(entry.in + 50).c_str(), entry.filter / 100, entry.filter % 100);
                    line("   <filter id=\"filter" + std::to_string(m_filters++) + "\">");
                    property("start", "1", 4);
                    property("level", level, 4);
                    property("mlt_service", "brightness", 4);
                    property("kdenlive_id", "brightness", 4);
                    property("kdenlive:collapsed", "0", 4);
                    line("   </filter>");
                }
                line("  </entry>");
            }
            line(" </playlist>");
            line(" <playlist id=\"" + second + "\"/>");
            const std::string tractor = "tractor" + std::to_string(m_tractors++);
            trackTractors.push_back(tractor);
            line(" <tractor id=\"" + tractor + "\" in=\"00:00:00.000\">");
            if (track.audio)
                property("kdenlive:audio_track", "1");
            property("kdenlive:trackheight", "67");
            property("kdenlive:timeline_active", "1");
            property("kdenlive:collapsed", "0");
            property("kdenlive:thumbs_format", "");
            property("kdenlive:audio_rec", "");
            const char *hide = track.audio ? "video" : "audio";
            line(std::string("  <track hide=\"") + hide + "\" producer=\"" + first + "\"/>");
            line(std::string("  <track hide=\"") + hide + "\" producer=\"" + second + "\"/>");
            trackFilters(track.audio);
            line(" </tractor>");
        }
        const std::string sequence = uuid(999999);
        line(" <tractor id=\"" + sequence + "\" in=\"00:00:00.000\" out=\"04:00:00.000\">");
        property("kdenlive:uuid", sequence);
        property("kdenlive:clipname", "Documentary");
        property("kdenlive:sequenceproperties.hasAudio", "1");
        property("kdenlive:sequenceproperties.hasVideo", "1");
        property("kdenlive:sequenceproperties.activeTrack", "2");
        property("kdenlive:sequenceproperties.tracksCount", std::to_string(project.tracks.size()));
        property("kdenlive:id", "19");
        property("kdenlive:control_uuid", sequence);
        property("kdenlive:producer_type", "17");
        property("kdenlive:sequenceproperties.zoom", "8");
        property("kdenlive:sequenceproperties.position", "1200");
        property("kdenlive:sequenceproperties.guides",
            "[\n    {\n        \"comment\": \"Act 1\",\n        \"pos\": 0,\n        \"type\": 0\n    },\n    {\n      "
            "  \"comment\": \"Act 2\",\n"
            "        \"pos\": 90000,\n        \"type\": 1\n    }\n]\n");
        line("  <track producer=\"producer0\"/>");
        for (const std::string &tractor : trackTractors)
            line("  <track producer=\"" + tractor + "\"/>");
        for (size_t i = 0; i < project.tracks.size(); ++i) {
            line("  <transition id=\"transition" + std::to_string(i) + "\">");
            property("a_track", "0", 3);
            property("b_track", std::to_string(i + 1), 3);
            property("mlt_service", project.tracks[i].audio ? "mix" : "qtblend", 3);
            property("kdenlive_id", project.tracks[i].audio ? "mix" : "qtblend", 3);
            property("internal_added", "237", 3);
            property("always_active", "1", 3);
            line("  </transition>");
        }
        line(" </tractor>");
        line(" <playlist id=\"main_bin\">");
        for (int folder = 0; folder < 10; ++folder)
            property(("kdenlive:folder.-1." + std::to_string(2 + folder)).c_str(), "Day " + std::to_string(folder + 1));
        property("kdenlive:docproperties.audioChannels", "2");
        property("kdenlive:docproperties.kdenliveversion", "24.02.2");
        property("kdenlive:docproperties.profile", "atsc_1080p_25");
        property("kdenlive:docproperties.version", "1.1");
        property("kdenlive:docproperties.uuid", sequence);
        property("kdenlive:docproperties.activetimeline", sequence);
        property("kdenlive:docproperties.opensequences", sequence);
        property("kdenlive:documentnotes", "");
        property("xml_retain", "1");
        line("  <entry producer=\"" + sequence + "\" in=\"00:00:00.000\" out=\"04:00:00.000\"/>");
        for (const std::string &chain : binChains)
            line("  <entry producer=\"" + chain + "\" in=\"00:00:00.000\" out=\"00:00:59.960\"/>");
        line(" </playlist>");
        line(" <tractor id=\"tractor" + std::to_string(m_tractors++) + "\" in=\"00:00:00.000\" out=\"04:00:00.000\">");
        property("kdenlive:projectTractor", "1");
        line("  <track producer=\"" + sequence + "\" in=\"00:00:00.000\" out=\"04:00:00.000\"/>");
        line(" </tractor>");
        line("</mlt>");
    }

private:
    FILE *m_file;
    int m_chains = 0;
    int m_filters = 0;
    int m_playlists = 0;
    int m_tractors = 0;
};

bool write(const std::string &path, const Project &project)
{
    FILE *file = std::fopen(path.c_str(), "w");
    if (!file) {
        std::perror(path.c_str());
        return false;
    }
    Writer(file).project(project);
    return std::fclose(file) == 0;
}

Entry randomEntry(std::mt19937 &random, int bins)
{
    Entry entry;
    entry.bin = int(random() % unsigned(bins));
    entry.in = int(random() % 500);
    entry.out = entry.in + 25 + int(random() % 400);
    entry.gapBefore = random() % 8 == 0 ? 25 + int(random() % 100) : 0;
    entry.filter = random() % 10 == 0 ? 100 + int(random() % 200) : -1;
    return entry;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER [CLIPS] [TRACKS] [BIN]\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const int clips = argc > 2 ? std::atoi(argv[2]) : 20000;
    const int tracks = argc > 3 ? std::atoi(argv[3]) : 8;
    const int bins = argc > 4 ? std::atoi(argv[4]) : 2000;
    if (clips < 10 || tracks < 2 || bins < 10)
        return 2;
    std::mt19937 random(20240412);
    Project base;
    base.bins = bins;
    // Audio tracks first (A4 … A1 outward from the video), then V1 … V4.
    for (int t = 0; t < tracks; ++t) {
        Track track;
        track.audio = t < tracks / 2;
        for (int c = t; c < clips; c += tracks)
            track.entries.push_back(randomEntry(random, bins));
        base.tracks.push_back(std::move(track));
    }
    if (!write(folder + "/base.kdenlive", base))
        return 1;

    Project one = base;
    std::vector<Entry> &v1 = one.tracks[size_t(tracks / 2)].entries;
    Entry inserted { 7, 0, 49, 0, -1 };
    v1.insert(v1.begin() + std::ptrdiff_t(v1.size() / 2), inserted);
    if (!write(folder + "/one-edit.kdenlive", one))
        return 1;

    Project many = base;
    for (int edit = 0; edit < 300; ++edit) {
        Track &track = many.tracks[random() % many.tracks.size()];
        const size_t at = 1 + random() % (track.entries.size() - 2);
        Entry &entry = track.entries[at];
        switch (edit % 6) {
        case 0: // trimmed at its end, the clip after it left in place
            entry.out -= 10;
            track.entries[at + 1].gapBefore += 10;
            break;
        case 1: // a filter's level changed, or a filter added
            entry.filter = entry.filter >= 0 ? entry.filter + 17 : 150;
            break;
        case 2: // moved later into the gap after it
            entry.gapBefore += 25;
            if (track.entries[at + 1].gapBefore >= 25)
                track.entries[at + 1].gapBefore -= 25;
            else
                track.entries[at + 1].gapBefore = 0;
            break;
        case 3: // removed, leaving its place empty
            track.entries[at + 1].gapBefore += entry.gapBefore + (entry.out - entry.in + 1);
            track.entries.erase(track.entries.begin() + std::ptrdiff_t(at));
            break;
        case 4: // inserted, the clips after it pushed on
            track.entries.insert(track.entries.begin() + std::ptrdiff_t(at), randomEntry(random, bins));
            break;
        case 5: // slipped
            entry.in += 5;
            entry.out += 5;
            break;
        }
    }
    if (!write(folder + "/many-edits.kdenlive", many))
        return 1;
    return 0;
}
