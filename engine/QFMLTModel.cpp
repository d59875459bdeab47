#include "engine/QFMLTModel.h"

#include "engine/QFMLTModelReader.h"
#include "engine/QFXMLParser.h"
#include "foundation/platform/QFFormat.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace QFMLTRead {

namespace {

constexpr std::string_view kKdenlivePrefix = "kdenlive:";

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
    const int n
        = std::snprintf(buffer, sizeof buffer, "#%zu:%016llx", text.size(), static_cast<unsigned long long>(hash));
    return std::string(buffer, size_t(n));
}

std::string fileName(std::string_view path)
{
    const size_t slash = path.find_last_of('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

} // namespace

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
    if (resource.empty() || resource.front() == '/' || resource.find("://") != std::string_view::npos
        || m_rootFolder.empty())
        return std::string(resource);
    std::string path = m_rootFolder;
    if (path.back() != '/')
        path += '/';
    path += resource;
    return QDir::cleanPath(QString::fromUtf8(path.data(), qsizetype(path.size()))).toStdString();
}

int Reader::newSource(
    const pugi::xml_node &producer, std::string_view producerId, bool inBin, const ProducerFields &fields)
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
        } else if (const size_t colon = resource.find(':');
                   colon != std::string_view::npos && number(resource.substr(0, colon))) {
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
                + fingerprint(!xmldata.empty() ? xmldata
                        : !textValue.empty()   ? textValue
                                               : resource);
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

const Reader::ProducerFacts &Reader::factsOf(
    const pugi::xml_node &producer, std::string_view producerId, const pugi::xml_node &entry)
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
            for (pugi::xml_node child = producer.first_child(); child && (service.empty() || length.empty());
                 child = child.next_sibling()) {
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
            return name.size() == 4 && name.startsWith("mlt")
                && (name.at(3) == '>' || name.at(3) == '/' || name.at(3) == ' ' || name.at(3) == '\t'
                    || name.at(3) == '\r' || name.at(3) == '\n');
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
