#include "engine/QFChangeLines.h"

#include "engine/QFTombrelBackup.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFFormat.h"

#include <QFile>
#include <QFileInfo>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>
#include <QUrl>

#include <algorithm>
#include <array>

namespace {

struct IconRule {
    std::array<const char *, 3> words;
    const char *image;
};

// The first rule with a word the line contains gives its icon. Tracks are part of a sequence: a line about
// a track alone ("Track V2 muted") shows the sequence's icon; one that names a clip or a filter, theirs.
const std::array<IconRule, 10> kIconRules = { {
    { { "bin", nullptr, nullptr }, "bin.png" },
    { { "Out Point", nullptr, nullptr }, "outpoint.png" },
    { { "In Point", nullptr, nullptr }, "inpoint.png" },
    { { "Marker", nullptr, nullptr }, "marker.png" },
    { { "filter", "generator", "transition" }, "filter.png" },
    { { "subclip", nullptr, nullptr }, "subclip.png" },
    { { "multiclip", nullptr, nullptr }, "multiclip.png" },
    { { "clip", nullptr, nullptr }, "clip.png" },
    { { "sequence", nullptr, nullptr }, "sequence.png" },
    { { "track", nullptr, nullptr }, "sequence.png" },
} };

bool contains(const QString &line, const char *word)
{
    return line.contains(QLatin1String(word), Qt::CaseInsensitive);
}

// The word alone: between blanks, or at the start or the end of the line.
bool containsWord(const QString &line, const QString &word)
{
    return line.contains(u' ' + word + u' ', Qt::CaseInsensitive) || line.startsWith(word + u' ', Qt::CaseInsensitive)
        || line.endsWith(u' ' + word, Qt::CaseInsensitive);
}

using Hides = bool (*)(const QString &line);

struct FilterRule {
    const char *key;
    Hides hides;
};

const std::array<FilterRule, 10> kFilterRules = { {
    { "filterInPoints", [](const QString &l) { return contains(l, "In Point"); } },
    { "filterOutPoints", [](const QString &l) { return contains(l, "Out Point"); } },
    { "filterMarkers", [](const QString &l) { return contains(l, "marker"); } },
    { "filterFilters",
        [](const QString &l) {
            return contains(l, "filter") || contains(l, "generator") || contains(l, "transition");
        } },
    { "filterSequences",
        [](const QString &l) { return contains(l, "sequence") || l.startsWith(QLatin1String("Track ")); } },
    { "filterClips", [](const QString &l) { return containsWord(l, QStringLiteral("clip")); } },
    { "filterSubclips", [](const QString &l) { return contains(l, "subclip"); } },
    { "filterFreezeFrames", [](const QString &l) { return contains(l, "freeze frame"); } },
    { "filterBins", [](const QString &l) { return containsWord(l, QStringLiteral("bin")); } },
    { "filterMulticlips", [](const QString &l) { return contains(l, "multiclip"); } },
} };

} // namespace

QStringList QFChangeLines::filterKeys()
{
    QStringList keys;
    for (const FilterRule &rule : kFilterRules)
        keys << QString::fromLatin1(rule.key);
    return keys;
}

QStringList QFChangeLines::filterArray(const QStringList &lines, const QVariantMap &preferences)
{
    std::vector<Hides> active;
    bool anySet = false;
    for (const FilterRule &rule : kFilterRules) {
        const QVariant value = preferences.value(QString::fromLatin1(rule.key));
        if (!value.isValid())
            continue;
        bool isNumber = false;
        const qlonglong number = value.toLongLong(&isNumber);
        if (!isNumber) {
            QFLog::appendLog("Unable to filter change lines: %@ is not a number.", rule.key);
            return lines;
        }
        if (number == 0)
            continue;
        anySet = true;
        if (number == 1)
            active.push_back(rule.hides);
    }
    if (!anySet)
        return lines;
    if (active.empty()) {
        QFLog::appendLog("Unable to filter change lines: no filter is set to 1.");
        return lines;
    }
    QStringList kept;
    for (const QString &line : lines) {
        if (std::none_of(active.cbegin(), active.cend(), [&line](Hides hides) { return hides(line); }))
            kept << line;
    }
    return kept;
}

QString QFChangeLines::iconFilenameForString(const QString &line)
{
    for (const IconRule &rule : kIconRules) {
        for (const char *word : rule.words) {
            if (word && contains(line, word))
                return QString::fromLatin1(rule.image);
        }
    }
    return {};
}

bool QFChangeLines::isAboutProject(const QString &line)
{
    return contains(line, "project");
}

bool QFChangeLines::isXMLPlaceholder(const QString &line)
{
    return line.startsWith(QLatin1String("XML copy ")) && line.endsWith(QLatin1String(" not generated"));
}

QList<QFVersionEntry> QFChangeLines::searchVersions(const QList<QFVersionEntry> &entries, const QString &text)
{
    QList<QFVersionEntry> result;
    for (const QFVersionEntry &entry : entries) {
        QFVersionEntry copy = entry;
        copy.annotation.clear();
        QStringList matching;
        for (const QString &line : entry.changelist) {
            if (line.contains(text, Qt::CaseInsensitive))
                matching << line;
        }
        if (!matching.isEmpty())
            copy.changelist = matching;
        const bool noteMatches = !entry.annotation.isEmpty() && entry.annotation.contains(text, Qt::CaseInsensitive);
        if (noteMatches)
            copy.annotation = entry.annotation;
        if (!matching.isEmpty() || noteMatches)
            result << copy;
    }
    return result;
}

QString QFChangeLines::reportHTML(
    const QString &projectName, const QList<QFVersionEntry> &entries, bool complete, const QString &resourceFolder)
{
    QString html;
    if (complete) {
        html += QStringLiteral(
            "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\" \"http://www.w3.org/TR/html4/strict.dtd\">");
        html += QStringLiteral(
            "<html><head><style>body {margin: 0 0 0 0; padding: 0; font: 14px 'Lucida Grande', Geneva, Arial, Verdana, "
            "sans-serif; color: #000;} table {width:100%;} th {text-align:left;} td "
            "{padding:7px;}</style></head><body>");
    }
    // Names, notes and lines come from the editor's files and from people: they are text, never markup.
    html += qfFormat("<h1>%@</h1>", projectName.toHtmlEscaped());
    for (const QFVersionEntry &entry : entries) {
        html += qfFormat("<h2>Version %@</h2>", entry.version.toHtmlEscaped());
        // The date as it describes itself: "2026-12-06 11:37:16 +0000".
        html += qfFormat("<h3>%@</h3>", entry.date.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss +0000")));
        html += QStringLiteral("<table>");
        // The note spans the row and the lines' column takes the width, so that a note never widens the
        // column of icons: the lines stand where they stand in a version without one.
        if (!entry.annotation.isEmpty())
            html += qfFormat("<tr><td colspan=\"2\">%@</td></tr>", entry.annotation.toHtmlEscaped());
        for (const QString &line : entry.changelist) {
            html += QStringLiteral("<tr><td>");
            const QString image = iconFilenameForString(line);
            const QString path = resourceFolder + u'/' + image;
            if (!image.isEmpty() && QFileInfo::exists(path))
                html += qfFormat("<img src=\"file://%@\" />", QString::fromLatin1(QUrl::toPercentEncoding(path, "/")));
            html += QStringLiteral("</td><td width=\"100%\">") + line.toHtmlEscaped() + QStringLiteral("</td></tr>");
        }
        html += QStringLiteral("</table>");
    }
    html += QStringLiteral("<h5>Generated with Pro Tombrel by Quenfield</h5>");
    if (complete)
        html += QStringLiteral("</body></html>");
    return html;
}

std::optional<QStringList> QFChangeLines::compareVersions(
    const QString &versionFile, const QString &otherVersionFile, QString *error)
{
    // A binary version speaks through its XML copy when it has one.
    const auto comparable = [](const QString &file) {
        const QFileInfo info(file);
        const QString companion = info.absolutePath() + u'/' + info.completeBaseName() + QStringLiteral(".xml");
        return info.suffix().compare(QLatin1String("fcp"), Qt::CaseInsensitive) == 0 && QFileInfo::exists(companion)
            ? companion
            : file;
    };
    QString older = comparable(versionFile);
    QString newer = comparable(otherVersionFile);
    const qint64 a = QFTombrelBackup::versionNumberOfFile(QFileInfo(older).fileName()).value_or(0);
    const qint64 b = QFTombrelBackup::versionNumberOfFile(QFileInfo(newer).fileName()).value_or(0);
    if (a > b)
        std::swap(older, newer);
    for (const QString &file : { older, newer }) {
        if (!QFileInfo::exists(file)) {
            if (error)
                *error = qfFormat("%@ does not exist", file);
            return std::nullopt;
        }
    }
    QFTombrelBackup engine;
    const std::optional<QFVersionEntry> entry = engine.changelistForFile(newer, older);
    if (!entry) {
        if (error)
            *error = QStringLiteral("the versions cannot be compared");
        return std::nullopt;
    }
    return entry->changelist;
}

bool QFChangeLines::writeReportPDF(const QString &html, const QString &title, const QString &path, QString *error)
{
    QFile probe(path);
    if (!probe.open(QIODevice::WriteOnly)) {
        if (error)
            *error = probe.errorString();
        return false;
    }
    probe.close();
    QPdfWriter writer(path);
    writer.setTitle(title);
    writer.setCreator(QStringLiteral("Pro Tombrel"));
    // The report's style gives its text sizes in pixels: the page is laid out at screen resolution.
    writer.setResolution(96);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
    QTextDocument document;
    document.setHtml(html);
    document.print(&writer);
    return true;
}

QString QFChangeLines::imageFolder()
{
    const QString bundle = QFTombrelBackup::currentBundlePath();
    return bundle.isEmpty() ? QString() : bundle + QStringLiteral("/Contents/Resources");
}

QString QFChangeLines::reportJobTitle(const QString &lastProject)
{
    const QString name = QFileInfo(lastProject).completeBaseName();
    return name.isEmpty() ? QStringLiteral("Untitled Changelist") : name + QStringLiteral(" Changelist");
}
