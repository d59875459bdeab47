#include "engine/QFMLTModel.h"

#include "engine/QFMLTModelReader.h"
#include "engine/QFXMLParser.h"
#include "foundation/platform/QFFormat.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace QFMLTRead {

namespace {

constexpr std::string_view kKdenlivePrefix = "kdenlive:";

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

qint64 clamped(double value)
{
    if (!(value == value)) // not a number
        return 0;
    return qint64(std::clamp(value, -double(kTimeLimit), double(kTimeLimit)));
}

} // namespace

std::optional<double> number(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    if (text.empty() || text.size() > 64)
        return std::nullopt;
    char buffer[65];
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    for (char &c : buffer) {
        if (c == ',')
            c = '.';
    }
    char *end = nullptr;
    const double value = std::strtod(buffer, &end);
    if (end == buffer || *end != '\0' || std::isinf(value))
        return std::nullopt;
    return value;
}

namespace {

// Generators show what their defining property says, not a file.
bool isGeneratorService(std::string_view service)
{
    for (std::string_view generator : { "color", "colour", "kdenlivetitle", "qtext", "pango", "count", "noise", "tone",
             "frei0r.test_pat_B", "frei0r.test_pat_C", "frei0r.test_pat_G", "frei0r.test_pat_I", "frei0r.test_pat_L",
             "frei0r.test_pat_R", "frei0r.plasma", "frei0r.ising0r", "frei0r.lissajous0r", "frei0r.nosync0r",
             "frei0r.onecol0r", "frei0r.partik0l", "frei0r.perlin" }) {
        if (service == generator)
            return true;
    }
    return false;
}

// A short fingerprint of long defining texts (titles), so that keys stay small.
std::string fingerprint(std::string_view text)
{
    if (text.size() <= 64)
        return std::string(text);
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char buffer[40];
    const int n = std::snprintf(buffer, sizeof buffer, "#%zu:%016llx", text.size(), static_cast<unsigned long long>(hash));
    return std::string(buffer, size_t(n));
}

std::string fileName(std::string_view path)
{
    const size_t slash = path.find_last_of('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

} // namespace

qint64 saturatedAdd(qint64 a, qint64 b)
{
    return std::clamp(a + std::clamp(b, -kTimeLimit, kTimeLimit), -4 * kTimeLimit, 4 * kTimeLimit);
}

namespace {

bool digits(std::string_view text, size_t from, size_t count, qint64 &value)
{
    value = 0;
    for (size_t i = from; i < from + count; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

// The two forms editors write, "123" and "HH:MM:SS.mmm", read without a library call; none for any other.
std::optional<qint64> commonFrames(std::string_view text, double fps)
{
    qint64 value = 0;
    if (!text.empty() && text.size() <= 15 && digits(text, 0, text.size(), value))
        return value;
    qint64 hours = 0, minutes = 0, seconds = 0, milliseconds = 0;
    if (text.size() == 12 && text[2] == ':' && text[5] == ':' && (text[8] == '.' || text[8] == ',') && digits(text, 0, 2, hours)
        && digits(text, 3, 2, minutes) && digits(text, 6, 2, seconds) && digits(text, 9, 3, milliseconds))
        return qint64(std::round((double(hours * 3600 + minutes * 60 + seconds) + double(milliseconds) / 1000) * fps));
    return std::nullopt;
}

} // namespace

std::optional<qint64> frames(std::string_view text, double fps)
{
    if (const auto common = commonFrames(text, fps))
        return common;
    if (text.find(':') == std::string_view::npos && text.find(';') == std::string_view::npos) {
        const auto value = number(text);
        if (!value)
            return std::nullopt;
        return clamped(std::trunc(*value));
    }
    // Up to four fields: hours, minutes, seconds and, without a fraction, frames.
    std::vector<std::string_view> fields;
    size_t from = 0;
    while (fields.size() < 5) {
        const size_t at = text.find_first_of(":;", from);
        fields.push_back(text.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
        if (at == std::string_view::npos)
            break;
        from = at + 1;
    }
    if (fields.size() > 4)
        return std::nullopt;
    const bool clock = fields.back().find_first_of(".,") != std::string_view::npos;
    double seconds = 0;
    double frameCount = 0;
    size_t timeFields = fields.size();
    if (!clock) {
        const auto f = number(fields.back());
        if (!f)
            return std::nullopt;
        frameCount = *f;
        --timeFields;
    }
    for (size_t i = 0; i < timeFields; ++i) {
        const auto value = number(fields[i]);
        if (!value)
            return std::nullopt;
        seconds = seconds * 60 + *value;
    }
    return clamped(std::round(seconds * fps) + frameCount);
}

std::string_view attribute(const pugi::xml_node &node, const char *name)
{
    return node.attribute(name).value();
}

std::string_view text(const pugi::xml_node &property)
{
    return property.child_value();
}

bool isIgnoredParameter(std::string_view name)
{
    // What an editor keeps for its own use: states of its panels, renumbered ids, caches, versions of the
    // software, and what is compared on its own (kind, switch, tracks).
    for (std::string_view ignored : { "mlt_service", "kdenlive_id", "shotcut:filter", "disable", "a_track", "b_track",
             "internal_added", "xml_retain", "ignore_points", "shotcut:scaleFactor", "shotcut:trackHeight",
             "creation_time", "xml", "kdenlive:file_size", "kdenlive:id", "kdenlive:collapsed", "kdenlive:kfrhidden",
             "kdenlive:builtin", "kdenlive:activeeffect", "kdenlive:monitorPosition", "kdenlive:kfrhandles", "version",
             "factory", "threads", "shotcut:transition" }) {
        if (name == ignored)
            return true;
    }
    return startsWith(name, "meta.");
}

bool isProperty(const pugi::xml_node &node)
{
    const char *name = node.name();
    return name[0] == 'p' && std::strcmp(name, "property") == 0;
}

std::string_view propertyName(const pugi::xml_node &property)
{
    // The name is a property's only attribute.
    const pugi::xml_attribute first = property.first_attribute();
    const char *name = first.name();
    if (name[0] == 'n' && std::strcmp(name, "name") == 0)
        return first.value();
    return attribute(property, "name");
}

Properties::Properties(const pugi::xml_node &node)
{
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (isProperty(child))
            m_all.emplace_back(propertyName(child), text(child));
    }
}

std::string_view Properties::value(std::string_view name) const
{
    for (const auto &[key, value] : m_all) {
        if (key == name)
            return value;
    }
    return {};
}

bool Properties::has(std::string_view name) const
{
    return std::any_of(m_all.cbegin(), m_all.cend(), [name](const auto &p) { return p.first == name; });
}

bool Properties::hasPrefix(std::string_view prefix) const
{
    return std::any_of(m_all.cbegin(), m_all.cend(), [prefix](const auto &p) { return startsWith(p.first, prefix); });
}

ProducerFields::ProducerFields(const pugi::xml_node &node)
{
    static const std::pair<std::string_view, std::string_view ProducerFields::*> kFields[] = {
        { "resource", &ProducerFields::resource }, { "mlt_service", &ProducerFields::service },
        { "kdenlive:clipname", &ProducerFields::clipName }, { "shotcut:caption", &ProducerFields::caption },
        { "kdenlive:file_hash", &ProducerFields::fileHash }, { "shotcut:hash", &ProducerFields::shotcutHash },
        { "kdenlive:control_uuid", &ProducerFields::controlUuid }, { "kdenlive:uuid", &ProducerFields::uuid },
        { "kdenlive:id", &ProducerFields::kdenliveId }, { "warp_speed", &ProducerFields::warpSpeed },
        { "warp_resource", &ProducerFields::warpResource }, { "xmldata", &ProducerFields::xmldata }, { "text", &ProducerFields::text },
        { "kdenlive:folderid", &ProducerFields::folderId }, { "kdenlive:markers", &ProducerFields::markers },
        { "shotcut:bin", &ProducerFields::shotcutBin }, { "length", &ProducerFields::length },
    };
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (!isProperty(child))
            continue;
        const std::string_view name = propertyName(child);
        // Most of a media clip's properties describe its streams.
        if (name.size() > 5 && name[0] == 'm' && name[4] == '.')
            continue;
        if (name == "shotcut:transition") {
            shotcutTransition = true;
            continue;
        }
        for (const auto &[fieldName, field] : kFields) {
            if (name == fieldName) {
                if ((this->*field).empty())
                    this->*field = QFMLTRead::text(child);
                break;
            }
        }
    }
}

Reader::Reader(const pugi::xml_node &root, QFMLTModel &model)
    : m_root(root)
    , m_model(model)
{
}

bool Reader::read(QString *error)
{
    if (std::strcmp(m_root.name(), "mlt") != 0) {
        if (error)
            *error = QStringLiteral("not an MLT document");
        return false;
    }
    m_rootFolder = std::string(attribute(m_root, "root"));
    indexElements();
    readProfile();
    readDialect();
    readBin();
    readSequences();
    return true;
}

void Reader::indexElements()
{
    size_t count = 0;
    for (pugi::xml_node child = m_root.first_child(); child; child = child.next_sibling())
        ++count;
    m_byId.reserve(count);
    m_facts.reserve(count);
    m_sourceOfProducer.reserve(count);
    for (pugi::xml_node child = m_root.first_child(); child; child = child.next_sibling()) {
        const char *name = child.name();
        if (std::strcmp(name, "producer") && std::strcmp(name, "chain") && std::strcmp(name, "playlist")
            && std::strcmp(name, "tractor"))
            continue;
        const std::string_view id = attribute(child, "id");
        // The first definition of an id is the one MLT uses.
        if (!id.empty())
            m_byId.insert(id, child);
        if (id == "main_bin" && !m_bin)
            m_bin = child;
    }
}

pugi::xml_node Reader::element(std::string_view id) const
{
    const pugi::xml_node *found = id.empty() ? nullptr : m_byId.find(id);
    return found ? *found : pugi::xml_node();
}

void Reader::readProfile()
{
    const pugi::xml_node profile = m_root.child("profile");
    const auto num = number(attribute(profile, "frame_rate_num"));
    const auto den = number(attribute(profile, "frame_rate_den"));
    if (num && den && *num > 0 && *den > 0 && *num / *den >= 1 && *num / *den <= 1000)
        m_fps = *num / *den;
    m_model.timebase = std::max<qint64>(1, std::llround(m_fps));
    const std::string_view description = attribute(profile, "description");
    if (!description.empty()) {
        m_model.profile = std::string(description);
    } else if (profile) {
        QString rate = QString::number(std::round(m_fps * 100) / 100, 'f', 2);
        while (rate.endsWith(u'0'))
            rate.chop(1);
        if (rate.endsWith(u'.'))
            rate.chop(1);
        m_model.profile = qfFormat("%@x%@ at %@ fps", QString::fromUtf8(attribute(profile, "width").data()),
            QString::fromUtf8(attribute(profile, "height").data()), rate)
                              .toStdString();
    }
}

void Reader::readDialect()
{
    if (m_bin && Properties(m_bin).hasPrefix(kKdenlivePrefix)) {
        m_model.dialect = QFMLTModel::Dialect::Kdenlive;
        return;
    }
    bool shotcut = startsWith(attribute(m_root, "title"), "Shotcut");
    for (pugi::xml_node child = m_root.first_child(); child; child = child.next_sibling()) {
        const Properties properties(child);
        if (properties.hasPrefix(kKdenlivePrefix)) {
            m_model.dialect = QFMLTModel::Dialect::Kdenlive;
            return;
        }
        if (std::strcmp(child.name(), "tractor") == 0 && properties.has("shotcut"))
            shotcut = true;
    }
    m_model.dialect = shotcut ? QFMLTModel::Dialect::Shotcut : QFMLTModel::Dialect::Plain;
}

int Reader::folderForId(std::string_view id)
{
    if (id.empty() || id == "-1")
        return -1;
    const auto found = m_folderById.find(std::string(id));
    return found == m_folderById.end() ? -1 : found->second;
}

int Reader::folderForName(std::string_view name)
{
    if (name.empty())
        return -1;
    const std::string key = "name:" + std::string(name);
    const auto found = m_folderById.find(key);
    if (found != m_folderById.end())
        return found->second;
    m_model.folders.push_back({ key, std::string(name), -1 });
    m_folderById.emplace(key, int(m_model.folders.size() - 1));
    return int(m_model.folders.size() - 1);
}

void Reader::readBin()
{
    if (!m_bin)
        return;
    const Properties properties(m_bin);
    const bool kdenlive = m_model.dialect == QFMLTModel::Dialect::Kdenlive;
    if (kdenlive) {
        // "kdenlive:folder.PARENT.ID" = name
        std::vector<std::pair<std::string, std::string>> parents;
        for (const auto &[name, value] : properties.all()) {
            if (!startsWith(name, "kdenlive:folder."))
                continue;
            const std::string_view rest = name.substr(std::strlen("kdenlive:folder."));
            const size_t dot = rest.rfind('.');
            if (dot == std::string_view::npos)
                continue;
            const std::string id(rest.substr(dot + 1));
            if (m_folderById.count(id))
                continue;
            m_model.folders.push_back({ id, std::string(value), -1 });
            m_folderById.emplace(id, int(m_model.folders.size() - 1));
            parents.emplace_back(id, std::string(rest.substr(0, dot)));
        }
        for (const auto &[id, parent] : parents) {
            const int folder = m_folderById.at(id);
            const int parentFolder = folderForId(parent);
            m_model.folders[size_t(folder)].parent = parentFolder == folder ? -1 : parentFolder;
        }
        m_model.notes = std::string(properties.value("kdenlive:documentnotes"));
    } else {
        m_model.notes = std::string(properties.value("shotcut:projectNote"));
    }
    for (pugi::xml_node entry = m_bin.child("entry"); entry; entry = entry.next_sibling("entry")) {
        const std::string_view id = attribute(entry, "producer");
        const pugi::xml_node producer = element(id);
        if (!producer || m_sourceOfProducer.count(producer.internal_object()))
            continue;
        const int source = newSource(producer, id, true, ProducerFields(producer));
        m_sourceOfProducer.emplace(producer.internal_object(), source);
        if (m_model.sources[size_t(source)].sequence)
            m_binSequenceCopies.push_back(producer);
    }
}

std::string Reader::absolute(std::string_view resource) const
{
    if (resource.empty() || resource.front() == '/' || resource.find("://") != std::string_view::npos || m_rootFolder.empty())
        return std::string(resource);
    std::string path = m_rootFolder;
    if (path.back() != '/')
        path += '/';
    path += resource;
    return QDir::cleanPath(QString::fromUtf8(path.data(), qsizetype(path.size()))).toStdString();
}

int Reader::newSource(const pugi::xml_node &producer, std::string_view producerId, bool inBin, const ProducerFields &fields)
{
    QFMLTModel::Source source;
    source.inBin = inBin;
    const bool tractor = std::strcmp(producer.name(), "tractor") == 0;
    const std::string_view uuid = fields.uuid;
    const std::string_view service = fields.service;
    std::string_view resource = fields.resource;
    if (service == "timewarp") {
        const std::string_view warped = fields.warpResource;
        if (!warped.empty()) {
            resource = warped;
        } else if (const size_t colon = resource.find(':'); colon != std::string_view::npos && number(resource.substr(0, colon))) {
            resource = resource.substr(colon + 1);
        }
    }
    const std::string_view name = !fields.clipName.empty() ? fields.clipName : fields.caption;
    source.hash = std::string(!fields.fileHash.empty() ? fields.fileHash : fields.shotcutHash);
    const std::string_view control = fields.controlUuid;
    if (tractor && !uuid.empty()) {
        source.sequence = true;
        source.key = "s:" + std::string(uuid);
        source.name = std::string(name.empty() ? uuid : name);
    } else if (tractor || std::strcmp(producer.name(), "playlist") == 0) {
        // A nested timeline of its own: known only by its id.
        source.key = "n:" + std::string(producerId);
        source.name = std::string(name.empty() ? producerId : name);
    } else {
        const std::string_view xmldata = fields.xmldata;
        const std::string_view textValue = fields.text;
        if (!xmldata.empty() || isGeneratorService(service) || resource.empty()) {
            source.key = "g:" + std::string(service) + '\n'
                + fingerprint(!xmldata.empty() ? xmldata : !textValue.empty() ? textValue : resource);
            source.name = std::string(name.empty() ? resource : name);
        } else {
            source.resource = std::string(resource);
            source.key = "m:" + absolute(resource) + '\n' + source.hash;
            source.name = name.empty() ? fileName(resource) : std::string(name);
            source.namedByFile = name.empty();
        }
    }
    if (!control.empty())
        source.key = "u:" + std::string(control);
    if (inBin) {
        if (m_model.dialect == QFMLTModel::Dialect::Kdenlive) {
            source.folder = folderForId(fields.folderId);
            source.markers = kdenliveMarkers(fields.markers);
        } else {
            source.folder = folderForName(fields.shotcutBin);
        }
    }
    m_model.sources.push_back(std::move(source));
    const int index = int(m_model.sources.size() - 1);
    if (inBin) {
        if (!fields.kdenliveId.empty())
            m_binByKdenliveId.insert(fields.kdenliveId, index);
        if (m_model.sources.back().sequence)
            m_binSequence.emplace(std::string(uuid), index);
    }
    return index;
}

int Reader::missingSource(std::string_view producerId)
{
    // An entry whose producer is not in the document: a clip all the same, named by what it asks for.
    const std::string id(producerId);
    const auto found = m_missing.find(id);
    if (found != m_missing.end())
        return found->second;
    QFMLTModel::Source source;
    source.key = "x:" + id;
    source.name = id;
    m_model.sources.push_back(std::move(source));
    m_missing.emplace(id, int(m_model.sources.size() - 1));
    return int(m_model.sources.size() - 1);
}

int Reader::sourceFor(const pugi::xml_node &producer, std::string_view producerId, const pugi::xml_node &entry,
    const ProducerFields &fields)
{
    const auto cached = m_sourceOfProducer.find(producer.internal_object());
    if (cached != m_sourceOfProducer.end())
        return cached->second;
    int source = -1;
    // Kdenlive gives the timeline copies of a bin clip the bin clip's id; a sequence is known by its uuid.
    std::string_view kdenliveId = fields.kdenliveId;
    if (kdenliveId.empty() && entry)
        kdenliveId = Properties(entry).value("kdenlive:id");
    if (std::strcmp(producer.name(), "tractor") == 0 && !fields.uuid.empty()) {
        const auto found = m_binSequence.find(std::string(fields.uuid));
        if (found != m_binSequence.end())
            source = found->second;
    } else if (!kdenliveId.empty()) {
        if (const int *found = m_binByKdenliveId.find(kdenliveId))
            source = *found;
    }
    if (source < 0)
        source = newSource(producer, producerId, false, fields);
    m_sourceOfProducer.emplace(producer.internal_object(), source);
    return source;
}

const Reader::ProducerFacts &Reader::factsOf(const pugi::xml_node &producer, std::string_view producerId, const pugi::xml_node &entry)
{
    const auto cached = m_facts.find(producer.internal_object());
    if (cached != m_facts.end())
        return cached->second;
    ProducerFacts facts;
    // Kdenlive names the bin clip on each entry: its copy on the track need not be read beyond its service.
    if (m_model.dialect == QFMLTModel::Dialect::Kdenlive && entry && std::strcmp(producer.name(), "tractor") != 0) {
        std::string_view kdenliveId;
        for (pugi::xml_node child = entry.first_child(); child && kdenliveId.empty(); child = child.next_sibling()) {
            if (isProperty(child) && propertyName(child) == "kdenlive:id")
                kdenliveId = text(child);
        }
        const int *bin = kdenliveId.empty() ? nullptr : m_binByKdenliveId.find(kdenliveId);
        if (bin) {
            std::string_view service;
            std::string_view length;
            for (pugi::xml_node child = producer.first_child(); child && (service.empty() || length.empty()); child = child.next_sibling()) {
                if (!isProperty(child))
                    continue;
                const std::string_view name = propertyName(child);
                if (name == "mlt_service")
                    service = text(child);
                else if (name == "length")
                    length = text(child);
            }
            if (service != "timewarp") {
                facts.source = *bin;
                facts.length = frames(length, m_fps);
                return m_facts.emplace(producer.internal_object(), facts).first->second;
            }
        }
    }
    const ProducerFields fields(producer);
    facts.shotcutTransition = fields.shotcutTransition && std::strcmp(producer.name(), "tractor") == 0;
    facts.length = frames(fields.length, m_fps);
    if (!facts.shotcutTransition) {
        facts.source = sourceFor(producer, producerId, entry, fields);
        if (fields.service == "timewarp") {
            facts.speed = number(fields.warpSpeed).value_or(1.0);
            if (facts.speed == 0)
                facts.speed = 1.0;
        }
        facts.ownFilters = !m_model.sources[size_t(facts.source)].inBin && std::strcmp(producer.name(), "tractor") != 0
            && std::strcmp(producer.name(), "playlist") != 0;
    }
    return m_facts.emplace(producer.internal_object(), facts).first->second;
}

std::vector<QFMLTModel::Parameter> Reader::parameters(const Properties &properties) const
{
    std::vector<QFMLTModel::Parameter> result;
    result.reserve(properties.all().size());
    for (const auto &[name, value] : properties.all()) {
        if (!isIgnoredParameter(name))
            result.push_back({ std::string(name), std::string(value) });
    }
    std::stable_sort(result.begin(), result.end(), [](const auto &a, const auto &b) { return a.name < b.name; });
    // A name written twice counts once, as MLT reads it: the last value.
    std::vector<QFMLTModel::Parameter> unique;
    for (auto &parameter : result) {
        if (!unique.empty() && unique.back().name == parameter.name)
            unique.back() = std::move(parameter);
        else
            unique.push_back(std::move(parameter));
    }
    return unique;
}

QFMLTModel::Filter Reader::filter(const pugi::xml_node &element) const
{
    const Properties properties(element);
    QFMLTModel::Filter filter;
    std::string_view kind = properties.value("kdenlive_id");
    if (kind.empty())
        kind = properties.value("shotcut:filter");
    if (kind.empty())
        kind = properties.value("mlt_service");
    filter.kind = std::string(kind);
    filter.disabled = number(properties.value("disable")).value_or(0) != 0;
    filter.in = frames(attribute(element, "in"), m_fps).value_or(-1);
    filter.out = frames(attribute(element, "out"), m_fps).value_or(-1);
    filter.parameters = parameters(properties);
    return filter;
}

std::vector<QFMLTModel::Filter> Reader::filters(const pugi::xml_node &element, bool trackOrSequence) const
{
    std::vector<QFMLTModel::Filter> result;
    for (pugi::xml_node child = element.child("filter"); child; child = child.next_sibling("filter")) {
        const Properties properties(child);
        // Filters the editor adds to every track and sequence by itself: its mixer and its level meters.
        if (properties.has("internal_added"))
            continue;
        if (trackOrSequence && m_model.dialect == QFMLTModel::Dialect::Kdenlive && properties.value("mlt_service") == "audiolevel")
            continue;
        result.push_back(filter(child));
    }
    return result;
}

std::vector<QFMLTModel::Marker> Reader::kdenliveMarkers(std::string_view json) const
{
    std::vector<QFMLTModel::Marker> markers;
    if (json.empty())
        return markers;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray(json.data(), qsizetype(json.size())));
    for (const QJsonValue &value : document.array()) {
        const QJsonObject object = value.toObject();
        if (!object.contains(QLatin1String("pos")))
            continue;
        QFMLTModel::Marker marker;
        marker.name = object.value(QLatin1String("comment")).toString().toStdString();
        marker.position = clamped(object.value(QLatin1String("pos")).toDouble());
        marker.category = QString::number(object.value(QLatin1String("type")).toInt()).toStdString();
        markers.push_back(std::move(marker));
    }
    return markers;
}

std::vector<QFMLTModel::Marker> Reader::shotcutMarkers(const pugi::xml_node &tractor) const
{
    std::vector<QFMLTModel::Marker> markers;
    for (pugi::xml_node set = tractor.child("properties"); set; set = set.next_sibling("properties")) {
        if (attribute(set, "name") != "shotcut:markers")
            continue;
        for (pugi::xml_node item = set.child("properties"); item; item = item.next_sibling("properties")) {
            const Properties properties(item);
            const auto start = frames(properties.value("start"), m_fps);
            if (!start)
                continue;
            markers.push_back({ std::string(properties.value("text")), *start, std::string(properties.value("color")) });
        }
    }
    return markers;
}

} // namespace QFMLTRead

bool QFMLTModel::isMLTDocument(const pugi::xml_document &document)
{
    return std::strcmp(document.document_element().name(), "mlt") == 0;
}

bool QFMLTModel::isMLTFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // Declarations, comments and a document type may come first; the first element follows within a few
    // kilobytes in every file an editor writes.
    const QByteArray head = file.read(65536);
    qsizetype at = head.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (at < head.size()) {
        const char c = head.at(at);
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++at;
            continue;
        }
        if (c != '<')
            return false;
        if (head.mid(at, 4) == "<!--") {
            const qsizetype end = head.indexOf("-->", at + 4);
            if (end < 0)
                return false;
            at = end + 3;
        } else if (head.mid(at, 2) == "<?" || head.mid(at, 2) == "<!") {
            const qsizetype end = head.indexOf('>', at);
            if (end < 0)
                return false;
            at = end + 1;
        } else {
            const QByteArray name = head.mid(at + 1, 4);
            return name.size() == 4 && name.startsWith("mlt") && (name.at(3) == '>' || name.at(3) == '/' || name.at(3) == ' '
                       || name.at(3) == '\t' || name.at(3) == '\r' || name.at(3) == '\n');
        }
    }
    return false;
}

std::optional<QFMLTModel> QFMLTModel::fromDocument(const pugi::xml_document &document, QString *error)
{
    QFMLTModel model;
    QFMLTRead::Reader reader(document.document_element(), model);
    if (!reader.read(error))
        return std::nullopt;
    return model;
}

std::optional<QFMLTModel> QFMLTModel::fromFile(const QString &path, QString *error)
{
    std::unique_ptr<pugi::xml_document> document = QFXMLParser::documentFromFile(path, error);
    if (!document)
        return std::nullopt;
    std::optional<QFMLTModel> model = fromDocument(*document, error);
    document.reset();
    return model;
}

QString QFMLTModel::hostName(Dialect dialect)
{
    switch (dialect) {
    case Dialect::Kdenlive:
        return QStringLiteral("kdenlive");
    case Dialect::Shotcut:
        return QStringLiteral("shotcut");
    case Dialect::Plain:
        break;
    }
    return QStringLiteral("mlt");
}

QFMLTModel::Dialect QFMLTModel::sniffDialect(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Dialect::Plain;
    const QByteArray head = file.read(262144);
    if (head.contains("name=\"kdenlive:"))
        return Dialect::Kdenlive;
    if (head.contains("title=\"Shotcut") || head.contains("name=\"shotcut\""))
        return Dialect::Shotcut;
    return Dialect::Plain;
}

QString QFMLTModel::timecode(qint64 frames) const
{
    const qint64 rate = std::max<qint64>(1, timebase);
    const bool negative = frames < 0;
    const qint64 count = negative ? -frames : frames;
    const qint64 seconds = count / rate;
    return qfFormat("%@%0.2lli:%0.2lli:%0.2lli:%0.2lli", negative ? "-" : "", seconds / 3600, (seconds / 60) % 60,
        seconds % 60, count % rate);
}
