// The parameters, filters and markers of two versions of one item: the lines that say what changed in them.

#include "engine/QFMLTComparison.h"

#include "engine/QFMLTModelReader.h"
#include "foundation/platform/QFFormat.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <unordered_map>

namespace QFMLTCompare {

namespace {

constexpr qsizetype kLongestValue = 40;

QString shortened(const std::string &value)
{
    const QString full = text(value);
    return full.size() > kLongestValue ? full.left(kLongestValue) + QChar(0x2026) : full;
}

// "0=0 0 1280 720 1" and "00:00:00.000=0 0 1280 720 1.000000" say the same: times as frames, numbers as numbers.
std::string normalised(const std::string &value, double fps)
{
    std::string result;
    size_t from = 0;
    while (from <= value.size()) {
        const size_t end = std::min(value.find(';', from), value.size());
        std::string_view keyframe(value.data() + from, end - from);
        const size_t equals = keyframe.find('=');
        if (equals != std::string_view::npos) {
            std::string_view time = keyframe.substr(0, equals);
            std::string type;
            while (!time.empty() && !std::isdigit(static_cast<unsigned char>(time.back()))) {
                type.insert(type.begin(), time.back());
                time.remove_suffix(1);
            }
            if (const auto frames = QFMLTRead::frames(time, fps)) {
                result += std::to_string(*frames) + type + '=';
                keyframe.remove_prefix(equals + 1);
            }
        }
        size_t at = 0;
        while (at < keyframe.size()) {
            const size_t space = std::min(keyframe.find(' ', at), keyframe.size());
            const std::string_view token = keyframe.substr(at, space - at);
            if (const auto n = QFMLTRead::number(token)) {
                char buffer[32];
                result.append(buffer, size_t(std::snprintf(buffer, sizeof buffer, "%.6g", *n)));
            } else {
                result += token;
            }
            if (space < keyframe.size())
                result += ' ';
            at = space + 1;
        }
        if (end >= value.size())
            break;
        result += ';';
        from = end + 1;
    }
    return result;
}

bool isKeyframed(const std::string &value)
{
    const size_t equals = value.find('=');
    if (equals == std::string::npos || equals == 0)
        return false;
    bool digit = false;
    for (size_t i = 0; i < equals; ++i) {
        const char c = value[i];
        if (std::isdigit(static_cast<unsigned char>(c)))
            digit = true;
        else if (c != ':' && c != '.' && c != ',' && c != ';' && i + 1 < equals)
            return false;
    }
    return digit;
}

QString frameText(const Model &model, qint64 frames)
{
    return frames < 0 ? QStringLiteral("none") : model.timecode(frames);
}

} // namespace

void Comparer::compareParameters(const std::vector<Model::Parameter> &older, const std::vector<Model::Parameter> &newer,
    const QString &lead, QStringList &lines) const
{
    // Both lists are by name: one merge. A parameter only one version writes is the editor's, not an edit.
    const double fps = double(std::max<qint64>(1, m_new.timebase));
    for (size_t i = 0, j = 0; i < older.size() && j < newer.size();) {
        if (older[i].name < newer[j].name) {
            ++i;
        } else if (newer[j].name < older[i].name) {
            ++j;
        } else {
            const std::string &was = older[i].value;
            const std::string &now = newer[j].value;
            if (was != now && normalised(was, fps) != normalised(now, fps))
                lines << lead
                        + qfFormat("%@ changed from %@ to %@", text(newer[j].name), shortened(was), shortened(now));
            ++i;
            ++j;
        }
    }
}

void Comparer::compareFilters(const std::vector<Model::Filter> &older, const std::vector<Model::Filter> &newer,
    const QString &subject, QStringList &lines, qint64 clipIn, qint64 clipOut, qint64 newClipIn,
    qint64 newClipOut) const
{
    // By kind, and by order among filters of one kind.
    std::unordered_map<std::string, std::deque<int>> oldByKind;
    for (size_t i = 0; i < older.size(); ++i)
        oldByKind[older[i].kind].push_back(int(i));
    std::vector<bool> oldTaken(older.size(), false);
    const double fps = double(std::max<qint64>(1, m_new.timebase));
    // A clip filter limited to the clip's own frames follows the clip.
    const auto zone = [](qint64 value, qint64 clipValue) { return value == clipValue ? -1 : value; };
    for (const Model::Filter &now : newer) {
        const QString kind = text(now.kind);
        auto found = oldByKind.find(now.kind);
        if (found == oldByKind.end() || found->second.empty()) {
            lines << qfFormat("Filter %@ added to %@", kind, subject);
            continue;
        }
        const Model::Filter &was = older[size_t(found->second.front())];
        oldTaken[size_t(found->second.front())] = true;
        found->second.pop_front();
        if (was.disabled != now.disabled)
            lines << qfFormat(now.disabled ? "Filter %@ of %@ turned off" : "Filter %@ of %@ turned on", kind, subject);
        bool keyframes = false;
        QStringList changed;
        for (size_t i = 0, j = 0; i < was.parameters.size() && j < now.parameters.size();) {
            const Model::Parameter &a = was.parameters[i];
            const Model::Parameter &b = now.parameters[j];
            if (a.name < b.name) {
                ++i;
                continue;
            }
            if (b.name < a.name) {
                ++j;
                continue;
            }
            if (a.value != b.value && normalised(a.value, fps) != normalised(b.value, fps)) {
                if (isKeyframed(a.value) || isKeyframed(b.value))
                    keyframes = true;
                else
                    changed << qfFormat("Filter %@ of %@: %@ changed from %@ to %@", kind, subject, text(b.name),
                        shortened(a.value), shortened(b.value));
            }
            ++i;
            ++j;
        }
        const qint64 wasIn = zone(was.in, clipIn);
        const qint64 nowIn = zone(now.in, newClipIn);
        const qint64 wasOut = zone(was.out, clipOut);
        const qint64 nowOut = zone(now.out, newClipOut);
        if (wasIn != nowIn)
            changed << qfFormat("Filter %@ of %@: %@ changed from %@ to %@", kind, subject, "in",
                frameText(m_old, wasIn), frameText(m_new, nowIn));
        if (wasOut != nowOut)
            changed << qfFormat("Filter %@ of %@: %@ changed from %@ to %@", kind, subject, "out",
                frameText(m_old, wasOut), frameText(m_new, nowOut));
        if (keyframes)
            lines << qfFormat("Keyframes of filter %@ of %@ changed", kind, subject);
        lines += changed;
    }
    for (size_t i = 0; i < older.size(); ++i) {
        if (!oldTaken[i])
            lines << qfFormat("Filter %@ removed from %@", text(older[i].kind), subject);
    }
}

void Comparer::compareMarkers(const std::vector<Model::Marker> &older, const std::vector<Model::Marker> &newer,
    const QString &clipName, QStringList &lines) const
{
    // By position and name; then the same position (renamed), then the same name (moved).
    std::vector<int> newToOld(newer.size(), -1);
    std::vector<bool> oldTaken(older.size(), false);
    const auto pass = [&](auto sameKey) {
        std::unordered_map<std::string, std::deque<int>> byKey;
        for (size_t i = 0; i < older.size(); ++i) {
            if (!oldTaken[i])
                byKey[sameKey(older[i])].push_back(int(i));
        }
        for (size_t j = 0; j < newer.size(); ++j) {
            if (newToOld[j] >= 0)
                continue;
            auto found = byKey.find(sameKey(newer[j]));
            if (found == byKey.end() || found->second.empty())
                continue;
            auto nearest = std::min_element(found->second.begin(), found->second.end(), [&](int a, int b) {
                return std::llabs(older[size_t(a)].position - newer[j].position)
                    < std::llabs(older[size_t(b)].position - newer[j].position);
            });
            newToOld[j] = *nearest;
            oldTaken[size_t(*nearest)] = true;
            found->second.erase(nearest);
        }
    };
    pass([](const Model::Marker &m) { return std::to_string(m.position) + '\n' + m.name; });
    pass([](const Model::Marker &m) { return std::to_string(m.position); });
    pass([](const Model::Marker &m) { return m.name; });

    std::vector<std::pair<qint64, QString>> told;
    const bool ofClip = !clipName.isNull();
    for (size_t j = 0; j < newer.size(); ++j) {
        const Model::Marker &now = newer[j];
        const QString name = text(now.name);
        const QString at = m_new.timecode(now.position);
        if (newToOld[j] < 0) {
            told.emplace_back(now.position,
                ofClip ? qfFormat("Marker %@ added to clip %@ at %@", name, clipName, at)
                       : qfFormat("Marker %@ added at %@", name, at));
            continue;
        }
        const Model::Marker &was = older[size_t(newToOld[j])];
        if (was.name != now.name)
            told.emplace_back(now.position,
                ofClip ? qfFormat("Marker %@ of clip %@ renamed to %@", text(was.name), clipName, name)
                       : qfFormat("Marker %@ renamed to %@", text(was.name), name));
        if (was.position != now.position) {
            const QString from = m_old.timecode(was.position);
            told.emplace_back(now.position,
                ofClip ? qfFormat("Marker %@ of clip %@ moved from %@ to %@ (%+i)", name, clipName, from, at,
                    now.position - was.position)
                       : qfFormat("Marker %@ moved from %@ to %@ (%+i)", name, from, at, now.position - was.position));
        }
    }
    for (size_t i = 0; i < older.size(); ++i) {
        if (oldTaken[i])
            continue;
        const Model::Marker &was = older[i];
        told.emplace_back(was.position,
            ofClip ? qfFormat("Marker %@ of clip %@ removed", text(was.name), clipName)
                   : qfFormat("Marker %@ removed at %@", text(was.name), m_old.timecode(was.position)));
    }
    std::stable_sort(told.begin(), told.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    for (auto &[time, line] : told)
        lines << std::move(line);
}

} // namespace QFMLTCompare
