// Icons, filters, searches and the report of change lines.

#include "engine/QFChangeLines.h"

#include "tests/support/QFTempHome.h"

#include <QFile>
#include <QTimeZone>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

QFVersionEntry entry(const QString &version, const QStringList &lines, const QString &note = QString())
{
    QFVersionEntry e;
    e.version = version;
    e.changelist = lines;
    e.annotation = note;
    e.date = QDateTime(QDate(2026, 12, 6), QTime(11, 37, 16), Qt::UTC);
    return e;
}

} // namespace

TEST(QFChangeLinesTest, IconsAreTestedInTheirOrder)
{
    const QList<std::pair<const char *, const char *>> cases = {
        { "Subclip added to bin Selects", "bin.png" },
        { "Out Point of clip \"A\" moved", "outpoint.png" },
        { "In Point of clip \"A\" moved", "inpoint.png" },
        { "Marker \"Cue\" added", "marker.png" },
        { "Cross Dissolve transition added", "filter.png" },
        { "Generator \"Slug\" added", "filter.png" },
        { "Subclip added", "subclip.png" },
        { "Multiclip changed", "multiclip.png" },
        { "Clip added", "clip.png" },
        { "Sequence 1 renamed", "sequence.png" },
        { "Nothing to see", "" },
    };
    for (const auto &[line, image] : cases) {
        SCOPED_TRACE(line);
        EXPECT_EQ(QFChangeLines::iconFilenameForString(QString::fromUtf8(line)), QString::fromUtf8(image));
    }
    EXPECT_TRUE(QFChangeLines::isAboutProject(QStringLiteral("Project settings changed")));
    EXPECT_TRUE(QFChangeLines::isXMLPlaceholder(QStringLiteral("XML copy 00003 not generated")));
    EXPECT_FALSE(QFChangeLines::isXMLPlaceholder(QStringLiteral("XML copy 00003 generated")));
}

TEST(QFChangeLinesTest, FiltersHideTheirKindOfLineAndWholeWordsForClipsAndBins)
{
    const QStringList lines = { "Clip added", "Sequence clip", "Subclip added", "Multiclip changed", "New bin added",
        "Bins", "In Point moved", "Marker added", "Freeze Frame added" };
    EXPECT_EQ(QFChangeLines::filterArray(lines, {}), lines) << "nothing set: every line";
    EXPECT_EQ(QFChangeLines::filterArray(lines, { { "filterClips", 0 }, { "filterBins", 0 } }), lines);
    EXPECT_EQ(QFChangeLines::filterArray(lines, { { "filterClips", 1 } }),
        QStringList({ "Subclip added", "Multiclip changed", "New bin added", "Bins", "In Point moved", "Marker added",
            "Freeze Frame added" }));
    EXPECT_EQ(QFChangeLines::filterArray(lines, { { "filterBins", 1 } }),
        QStringList({ "Clip added", "Sequence clip", "Subclip added", "Multiclip changed", "Bins", "In Point moved",
            "Marker added", "Freeze Frame added" }));
    EXPECT_EQ(QFChangeLines::filterArray(
                  lines, { { "filterInPoints", 1 }, { "filterMarkers", 1 }, { "filterFreezeFrames", 1 } }),
        QStringList({ "Clip added", "Sequence clip", "Subclip added", "Multiclip changed", "New bin added", "Bins" }));
    // Preferences that cannot be applied leave the lines as they are.
    EXPECT_EQ(QFChangeLines::filterArray(lines, { { "filterClips", 2 } }), lines);
    EXPECT_EQ(QFChangeLines::filterArray(lines, { { "filterClips", "yes" } }), lines);
}

TEST(QFChangeLinesTest, SearchKeepsMatchingLinesOrEveryLineOfAVersionWhoseNoteMatches)
{
    const QList<QFVersionEntry> entries = {
        entry("00003", { "Clip added", "Marker \"Cue\" added" }),
        entry("00002", { "Clip removed", "Bin renamed" }, "Check the marker at 1:00"),
        entry("00001", { "Sequence added" }, "First cut"),
    };
    const QList<QFVersionEntry> found = QFChangeLines::searchVersions(entries, QStringLiteral("MARKER"));
    ASSERT_EQ(found.size(), 2);
    EXPECT_EQ(found[0].changelist, QStringList("Marker \"Cue\" added"));
    EXPECT_TRUE(found[0].annotation.isEmpty());
    EXPECT_EQ(found[1].changelist, QStringList({ "Clip removed", "Bin renamed" })) << "a note match keeps every line";
    EXPECT_EQ(found[1].annotation, QStringLiteral("Check the marker at 1:00"));
    EXPECT_TRUE(QFChangeLines::searchVersions(entries, QStringLiteral("nowhere")).isEmpty());
}

TEST(QFChangeLinesTest, TheReportIsBuiltInOrderWithEveryTextEscaped)
{
    QFTempHome home;
    const QString resources = home.file(QStringLiteral("Resources"));
    home.write(QStringLiteral("Resources/clip.png"), "png");
    const QList<QFVersionEntry> entries = {
        entry("00002", { "Clip \"<b>Intro</b>\" added", "Marker added" }, "<b>x</b> & \"y\""),
        entry("00001", {}),
    };
    const QString body = QFChangeLines::reportHTML(QStringLiteral("Cut & Paste"), entries, false, resources);
    const QString expected = QStringLiteral("<h1>Cut &amp; Paste</h1>"
                                            "<h2>Version 00002</h2><h3>2026-12-06 11:37:16 +0000</h3><table>"
                                            "<tr><td colspan=\"2\">&lt;b&gt;x&lt;/b&gt; &amp; &quot;y&quot;</td></tr>"
                                            "<tr><td><img src=\"file://%1/clip.png\" /></td><td width=\"100%\">Clip "
                                            "&quot;&lt;b&gt;Intro&lt;/b&gt;&quot; added</td></tr>"
                                            "<tr><td></td><td width=\"100%\">Marker added</td></tr>"
                                            "</table>"
                                            "<h2>Version 00001</h2><h3>2026-12-06 11:37:16 +0000</h3><table></table>"
                                            "<h5>Generated with Pro Tombrel by Quenfield</h5>")
                                 .arg(QString::fromLatin1(QUrl::toPercentEncoding(resources, "/")));
    EXPECT_EQ(body, expected) << "a missing icon file leaves the first cell empty";

    const QString document = QFChangeLines::reportHTML(QStringLiteral("Cut & Paste"), entries, true, resources);
    EXPECT_TRUE(document.startsWith(QStringLiteral("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\" "
                                                   "\"http://www.w3.org/TR/html4/strict.dtd\"><html><head><style>")));
    EXPECT_TRUE(document.endsWith(body + QStringLiteral("</body></html>")));

    EXPECT_EQ(QFChangeLines::reportJobTitle(QString()), QStringLiteral("Untitled Changelist"));
    EXPECT_EQ(QFChangeLines::reportJobTitle(QStringLiteral("/Videos/Wedding Cut.v2.fcp")),
        QStringLiteral("Wedding Cut.v2 Changelist"));
}
