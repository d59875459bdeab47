// Writes pairs of Final Cut Pro XML exports for the change-list benchmark, one element a line with tab
// indentation as the editor writes them:
//   base.xml     sequences with tens of thousands of clip items
//   edited.xml   the same after a few hundred edits of each kind at random places, and 200 clips inserted
//   spread.xml   the same after 400 edits spread evenly over the whole document: out and in points trimmed,
//                filter parameter values changed, clip items renamed, markers added and renamed
//   removed.xml  the same with 5,000 clip items removed
// usage: bench_gen_xmeml FOLDER [CLIPS] [long|dense]
// 22000 clips make about 50 MB a file in either shape. "long" (the default) gives every clip item its file
// in full, with long paths; "dense" is what editors' exports mostly look like: short names and numbers, a
// reference to a file described elsewhere, links and a filter with many small parameters.

#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

struct Clip {
    int number;
    std::string name;
    int in, out, start, end;
    bool enabled = true;
    bool blur = false;
    bool marker = false;
    bool audio = false;
    // Added to the values of the clip's filter parameters.
    int parameterShift = 0;
    // The marker's name when it is not the usual one.
    std::string markerName = {};
};

class Writer {
public:
    explicit Writer(FILE *file)
        : m_file(file)
    {
    }
    void open(const char *name, const std::string &attributes = {})
    {
        indent();
        std::fprintf(m_file, "<%s%s>\n", name, attributes.c_str());
        ++m_depth;
    }
    void close(const char *name)
    {
        --m_depth;
        indent();
        std::fprintf(m_file, "</%s>\n", name);
    }
    void leaf(const char *name, const std::string &value)
    {
        indent();
        if (value.empty())
            std::fprintf(m_file, "<%s/>\n", name);
        else
            std::fprintf(m_file, "<%s>%s</%s>\n", name, value.c_str(), name);
    }
    void leaf(const char *name, int value) { leaf(name, std::to_string(value)); }

private:
    void indent()
    {
        for (int i = 0; i < m_depth; ++i)
            std::fputc('\t', m_file);
    }
    FILE *m_file;
    int m_depth = 0;
};

void rate(Writer &w)
{
    w.open("rate");
    w.leaf("ntsc", "FALSE");
    w.leaf("timebase", 25);
    w.close("rate");
}

void parameter(Writer &w, const char *id, const char *name, int min, int max, int value)
{
    w.open("parameter");
    w.leaf("parameterid", id);
    w.leaf("name", name);
    w.leaf("valuemin", min);
    w.leaf("valuemax", max);
    w.leaf("value", value);
    w.close("parameter");
}

void filter(Writer &w, const char *name, const char *category, int shift)
{
    w.open("filter");
    w.leaf("enabled", "TRUE");
    w.leaf("start", -1);
    w.leaf("end", -1);
    w.open("effect");
    w.leaf("name", name);
    w.leaf("effectid", name);
    w.leaf("effectcategory", category);
    w.leaf("effecttype", "filter");
    w.leaf("mediatype", "video");
    parameter(w, "scale", "Scale", 0, 1000, 100 + shift);
    parameter(w, "rotation", "Rotation", -8640, 8640, shift);
    parameter(w, "opacity", "Opacity", 0, 100, 100 - shift / 4);
    w.close("effect");
    w.close("filter");
}

// Parameters as an editor's filters carry them: short names, numbers of a few digits.
void denseParameter(Writer &w, const char *id, int value)
{
    w.open("parameter");
    w.leaf("parameterid", id);
    w.leaf("name", id);
    w.leaf("valuemin", -value * 3);
    w.leaf("valuemax", value * 7 + 100);
    w.leaf("value", value);
    w.close("parameter");
}

void denseFilter(Writer &w, const char *name, const char *id, int seed, int shift)
{
    w.open("filter");
    w.leaf("enabled", "TRUE");
    w.leaf("start", -1);
    w.leaf("end", -1);
    w.open("effect");
    w.leaf("name", name);
    w.leaf("effectid", id);
    w.leaf("effectcategory", "motion");
    w.leaf("effecttype", "motion");
    w.leaf("mediatype", "video");
    static const char *const ids[] = { "scale", "rotation", "center" };
    for (int i = 0; i < 3; ++i)
        denseParameter(w, ids[i], (seed * (i + 3)) % 997 + 10 + shift);
    w.close("effect");
    w.close("filter");
}

void denseClipItem(Writer &w, const Clip &c)
{
    const std::string id = "clipitem-" + std::to_string(c.number);
    w.open("clipitem", " id=\"" + id + "\"");
    w.leaf("masterclipid", "masterclip-" + std::to_string(c.number % 400 + 1));
    w.leaf("name", c.name);
    w.leaf("enabled", c.enabled ? "TRUE" : "FALSE");
    w.leaf("duration", 3000 + c.number % 500);
    rate(w);
    w.leaf("start", c.start);
    w.leaf("end", c.end);
    w.leaf("in", c.in);
    w.leaf("out", c.out);
    w.leaf("pproTicksIn", c.in * 10160);
    w.leaf("pproTicksOut", c.out * 10160);
    w.leaf("alphatype", "none");
    w.leaf("pixelaspectratio", "square");
    w.leaf("anamorphic", "FALSE");
    // The file is described in full once, by the editor, and referred to after that.
    w.open("file", " id=\"file-" + std::to_string(c.number % 400 + 1) + "\"");
    w.close("file");
    w.open("sourcetrack");
    w.leaf("mediatype", c.audio ? "audio" : "video");
    w.leaf("trackindex", 1);
    w.close("sourcetrack");
    if (!c.audio) {
        denseFilter(w, "Basic Motion", "basic", c.number, c.parameterShift);
    } else {
        w.open("filter");
        w.open("effect");
        w.leaf("name", "Audio Levels");
        w.leaf("effectid", "audiolevels");
        w.leaf("effectcategory", "audiolevels");
        w.leaf("effecttype", "audiolevels");
        w.leaf("mediatype", "audio");
        denseParameter(w, "level", c.number % 90 + 10 + c.parameterShift);
        w.close("effect");
        w.close("filter");
    }
    if (c.blur)
        denseFilter(w, "Gaussian Blur", "blur", c.number + 3, 0);
    if (c.marker) {
        w.open("marker");
        w.leaf("name", c.markerName.empty() ? "Check " + c.name : c.markerName);
        w.leaf("comment", "");
        w.leaf("in", c.in + 10);
        w.leaf("out", -1);
        w.close("marker");
    }
    for (int link = 0; link < 2; ++link) {
        w.open("link");
        w.leaf("linkclipref", "clipitem-" + std::to_string(c.number + link));
        w.leaf("mediatype", link == 0 && !c.audio ? "video" : "audio");
        w.leaf("trackindex", link + 1);
        w.leaf("clipindex", c.number % 100 + 1);
        w.leaf("groupindex", 1);
        w.close("link");
    }
    w.open("logginginfo");
    w.leaf("description", "");
    w.leaf("scene", "");
    w.leaf("shottake", "");
    w.leaf("lognote", "");
    w.close("logginginfo");
    w.open("labels");
    w.leaf("label2", "Iris");
    w.close("labels");
    w.close("clipitem");
}

bool s_dense = false;

void clipItem(Writer &w, const Clip &c)
{
    if (s_dense) {
        denseClipItem(w, c);
        return;
    }
    char id[64];
    std::snprintf(id, sizeof id, " id=\"%s %d\"", c.name.c_str(), c.number);
    w.open("clipitem", id);
    w.leaf("name", c.name);
    w.leaf("duration", 3000 + c.number % 500);
    rate(w);
    w.leaf("in", c.in);
    w.leaf("out", c.out);
    w.leaf("start", c.start);
    w.leaf("end", c.end);
    w.leaf("pixelaspectratio", "Square");
    w.leaf("enabled", c.enabled ? "TRUE" : "FALSE");
    w.leaf("anamorphic", "FALSE");
    w.leaf("alphatype", "none");
    w.leaf("masterclipid", c.name + " 1");
    w.open("logginginfo");
    w.leaf("scene", "");
    w.leaf("shottake", "");
    w.leaf("lognote", "");
    w.leaf("good", "FALSE");
    w.close("logginginfo");
    w.open("labels");
    w.leaf("label2", "");
    w.close("labels");
    char fileId[64];
    std::snprintf(fileId, sizeof fileId, " id=\"%s file %d\"", c.name.c_str(), c.number);
    w.open("file", fileId);
    w.leaf("name", c.name + ".mov");
    w.leaf("pathurl",
        "file://localhost/Volumes/Media/Projects/Documentary%20Spring/Footage/Day%20"
            + std::to_string(c.number % 30 + 1) + "/" + c.name + ".mov");
    rate(w);
    w.leaf("duration", 3000 + c.number % 500);
    w.open("media");
    w.open(c.audio ? "audio" : "video");
    if (c.audio) {
        w.open("samplecharacteristics");
        w.leaf("samplerate", 48000);
        w.leaf("depth", 16);
        w.close("samplecharacteristics");
    } else {
        w.open("samplecharacteristics");
        w.leaf("width", 1920);
        w.leaf("height", 1080);
        w.close("samplecharacteristics");
    }
    w.close(c.audio ? "audio" : "video");
    w.close("media");
    w.close("file");
    if (!c.audio)
        filter(w, "Basic Motion", "motion", c.parameterShift);
    if (c.blur)
        filter(w, "Gaussian Blur", "Blur", 0);
    if (c.marker) {
        w.open("marker");
        w.leaf("name", c.markerName.empty() ? "Check " + c.name : c.markerName);
        w.leaf("comment", "");
        w.leaf("in", c.in + 10);
        w.leaf("out", -1);
        w.close("marker");
    }
    w.open("sourcetrack");
    w.leaf("mediatype", c.audio ? "audio" : "video");
    w.close("sourcetrack");
    w.open("link");
    w.leaf("linkclipref", c.name + " " + std::to_string(c.number));
    w.leaf("mediatype", c.audio ? "audio" : "video");
    w.leaf("trackindex", 1);
    w.leaf("clipindex", c.number % 100 + 1);
    w.close("link");
    w.open("itemhistory");
    char uuid[64];
    std::snprintf(uuid, sizeof uuid, "%08X-4A1B-4C2D-9E3F-%012X", c.number * 2654435761u, c.number);
    w.leaf("uuid", uuid);
    w.close("itemhistory");
    w.close("clipitem");
}

void sequence(Writer &w, int index, const std::vector<Clip> &clips)
{
    char id[32];
    std::snprintf(id, sizeof id, " id=\"Sequence %d \"", index + 1);
    w.open("sequence", id);
    char uuid[64];
    std::snprintf(uuid, sizeof uuid, "5EC0%04X-64F3-4CCD-A929-F8DDADB1D7FE", index);
    w.leaf("uuid", uuid);
    w.leaf("updatebehavior", "add");
    w.leaf("name", "Reel " + std::to_string(index + 1));
    w.leaf("duration", clips.empty() ? 0 : clips.back().end);
    rate(w);
    w.open("timecode");
    rate(w);
    w.leaf("string", "00:00:00:00");
    w.leaf("frame", 0);
    w.leaf("displayformat", "NDF");
    w.close("timecode");
    w.leaf("in", -1);
    w.leaf("out", -1);
    w.open("media");
    for (const bool audio : { false, true }) {
        w.open(audio ? "audio" : "video");
        for (int track = 0; track < 2; ++track) {
            w.open("track");
            for (const Clip &clip : clips) {
                if (clip.audio == audio && clip.number % 2 == track)
                    clipItem(w, clip);
            }
            w.leaf("enabled", "TRUE");
            w.leaf("locked", "FALSE");
            w.close("track");
        }
        w.close(audio ? "audio" : "video");
    }
    w.close("media");
    w.close("sequence");
}

bool write(const std::string &path, const std::vector<std::vector<Clip>> &sequences)
{
    FILE *file = std::fopen(path.c_str(), "w");
    if (!file) {
        std::perror(path.c_str());
        return false;
    }
    std::fputs("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE xmeml>\n", file);
    Writer w(file);
    w.open("xmeml", " version=\"5\"");
    w.open("project");
    w.leaf("name", "Documentary Spring");
    w.open("children");
    for (std::size_t i = 0; i < sequences.size(); ++i)
        sequence(w, int(i), sequences[i]);
    w.close("children");
    w.close("project");
    w.close("xmeml");
    return std::fclose(file) == 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER [CLIPS] [long|dense]\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    s_dense = argc > 3 && std::string(argv[3]) == "dense";
    const int count = argc > 2 && std::atoi(argv[2]) > 0 ? std::atoi(argv[2]) : 22000;
    // The second pair removes 5,000 of the clips, so there must be clearly more than that.
    if (count < 8000) {
        std::fprintf(stderr, "%s: CLIPS must be at least 8000\n", argv[0]);
        return 2;
    }
    const int sequenceCount = 4;
    std::mt19937 random(20240601);

    std::vector<std::vector<Clip>> base(sequenceCount);
    int number = 0;
    for (int s = 0; s < sequenceCount; ++s) {
        int at = 0;
        for (int i = 0; i < count / sequenceCount; ++i, ++number) {
            const int length = 50 + int(random() % 400);
            Clip c { number, "Shot_" + std::to_string(10000 + number), int(random() % 200), 0, at, at + length };
            c.out = c.in + length;
            c.audio = i % 3 == 2;
            c.marker = number % 97 == 0;
            at += length;
            base[s].push_back(c);
        }
    }

    // A few hundred edits of each kind a day of editing brings.
    std::vector<std::vector<Clip>> edited = base;
    const auto pick = [&](int s) -> Clip & { return edited[s][random() % edited[s].size()]; };
    for (int i = 0; i < 300; ++i) {
        const int s = i % sequenceCount;
        pick(s).out += 25;
        pick(s).in -= 5;
        pick(s).enabled = false;
        pick(s).blur = true;
        pick(s).name += "_v2";
        pick(s).marker = true;
    }
    for (int i = 0; i < 200; ++i) {
        auto &clips = edited[i % sequenceCount];
        Clip added = clips[random() % clips.size()];
        added.number = number++;
        added.name = "Insert_" + std::to_string(added.number);
        clips.insert(clips.begin() + long(random() % clips.size()), added);
    }

    // Edits at even distances through every sequence, so that the walk meets one every few hundred clips
    // from the start of the document to its end.
    std::vector<std::vector<Clip>> spread = base;
    const int perSequence = int(base[0].size());
    for (int i = 0; i < 400; ++i) {
        Clip &c = spread[i % sequenceCount][size_t((i / sequenceCount) * perSequence / 100 + 7) % spread[0].size()];
        switch ((i / sequenceCount) % 4) {
        case 0:
            c.out -= 12;
            c.in += 3;
            break;
        case 1:
            c.parameterShift = 15;
            break;
        case 2:
            c.name += "_alt";
            break;
        default:
            if (c.marker)
                c.markerName = "Recheck " + c.name;
            c.marker = true;
            break;
        }
    }

    std::vector<std::vector<Clip>> removed = base;
    std::set<int> gone;
    while (gone.size() < 5000)
        gone.insert(int(random() % number));
    for (auto &clips : removed) {
        std::vector<Clip> kept;
        for (const Clip &c : clips) {
            if (!gone.count(c.number))
                kept.push_back(c);
        }
        clips = kept;
    }

    const bool ok = write(folder + "/base.xml", base) && write(folder + "/edited.xml", edited)
        && write(folder + "/spread.xml", spread) && write(folder + "/removed.xml", removed);
    return ok ? 0 : 1;
}
