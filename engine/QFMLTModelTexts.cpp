// The texts of an MLT document's elements as the model reads them: numbers and times, property elements,
// the properties a producer is known by, filters with their parameters, markers.

#include "engine/QFMLTModelReader.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace QFMLTRead {

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

namespace {

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
    if (text.size() == 12 && text[2] == ':' && text[5] == ':' && (text[8] == '.' || text[8] == ',')
        && digits(text, 0, 2, hours) && digits(text, 3, 2, minutes) && digits(text, 6, 2, seconds)
        && digits(text, 9, 3, milliseconds))
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
        { "resource", &ProducerFields::resource },
        { "mlt_service", &ProducerFields::service },
        { "kdenlive:clipname", &ProducerFields::clipName },
        { "shotcut:caption", &ProducerFields::caption },
        { "kdenlive:file_hash", &ProducerFields::fileHash },
        { "shotcut:hash", &ProducerFields::shotcutHash },
        { "kdenlive:control_uuid", &ProducerFields::controlUuid },
        { "kdenlive:uuid", &ProducerFields::uuid },
        { "kdenlive:id", &ProducerFields::kdenliveId },
        { "warp_speed", &ProducerFields::warpSpeed },
        { "warp_resource", &ProducerFields::warpResource },
        { "xmldata", &ProducerFields::xmldata },
        { "text", &ProducerFields::text },
        { "kdenlive:folderid", &ProducerFields::folderId },
        { "kdenlive:markers", &ProducerFields::markers },
        { "shotcut:bin", &ProducerFields::shotcutBin },
        { "length", &ProducerFields::length },
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
        if (trackOrSequence && m_model.dialect == QFMLTModel::Dialect::Kdenlive
            && properties.value("mlt_service") == "audiolevel")
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
            markers.push_back(
                { std::string(properties.value("text")), *start, std::string(properties.value("color")) });
        }
    }
    return markers;
}

} // namespace QFMLTRead
