#include "engine/QFXMLParser.h"

#include "foundation/QFLog.h"
#include "tests/support/QFTempHome.h"

#include <QFile>

#include <gtest/gtest.h>

#include <sstream>

namespace {

class QFXMLParserTest : public TempHomeTest {
protected:
    std::unique_ptr<pugi::xml_document> parse(const char *text)
    {
        QString error;
        auto document = QFXMLParser::documentFromData(QByteArray(text), &error);
        EXPECT_TRUE(document) << qPrintable(error);
        return document;
    }
    QString logText() const
    {
        QFLog::finishWriting();
        QFile log(QFLog::sharedController()->currentLogPath());
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    }
};

const char *const kClip = "<xmeml version=\"4\"><sequence id=\"seq%201\"><uuid>U-SEQ</uuid><name>Main</name>"
                          "<media><video><track><clipitem id=\"c1\"><name>Inter%20view</name><in>10</in>"
                          "<itemhistory><uuid>H1</uuid></itemhistory><file id=\"f1\"><name>deep</name></file>"
                          "</clipitem><clipitem id=\"c2\"><file><name>only%zzdeep</name></file></clipitem>"
                          "</track></video></media></sequence></xmeml>";

} // namespace

TEST_F(QFXMLParserTest, EscapesQueryStringsUnitByUnit)
{
    QFLog::createNewLog(QStringLiteral("parser"));
    const struct {
        QString input;
        QString expected;
    } cases[] = {
        { QStringLiteral("plain //uuid"), QStringLiteral("plain //uuid") },
        { QString::fromUtf8("caf\xc3\xa9"), QStringLiteral("caf&#233;") },
        { QStringLiteral("a&b"), QStringLiteral("a&amp;b") },
        { QStringLiteral("a&amp;b"), QStringLiteral("a&amp;b") },
        // The look-ahead stops four units before the end: a cut-off "&amp" is escaped.
        { QStringLiteral("&amp;"), QStringLiteral("&amp;") },
        { QStringLiteral("&amp"), QStringLiteral("&amp;amp") },
        { QStringLiteral("ab&amp"), QStringLiteral("ab&amp;amp") },
        { QStringLiteral("a\rb"), QStringLiteral("a&#13;b") },
        { QStringLiteral("a\tb\nc\x13"
                         "d"),
            QStringLiteral("abcd") },
        { QStringLiteral("a\x14"
                         "b"),
            QStringLiteral("a\x14"
                           "b") },
        { QString(QChar(0x00a0)), QStringLiteral("&#160;") },
        { QString(QChar(0x009f)), QString(QChar(0x009f)) },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(qPrintable(c.input));
        EXPECT_EQ(QFXMLParser::escapeQueryString(c.input), c.expected);
    }
    EXPECT_TRUE(logText().contains(QStringLiteral("Stripped character \x13")));
}

TEST_F(QFXMLParserTest, QueriesReturnValuesNodesOrNone)
{
    QFLog::createNewLog(QStringLiteral("parser"));
    const auto doc = parse(kClip);
    ASSERT_TRUE(doc);
    EXPECT_EQ(QFXMLParser::stringValuesForQuery(QStringLiteral("//uuid"), *doc),
        (QStringList { QStringLiteral("U-SEQ"), QStringLiteral("H1") }));
    EXPECT_EQ(QFXMLParser::stringValuesForQuery(QStringLiteral("//@id"), *doc),
        (QStringList { QStringLiteral("seq%201"), QStringLiteral("c1"), QStringLiteral("f1"), QStringLiteral("c2") }));
    EXPECT_TRUE(QFXMLParser::stringValuesForQuery(QStringLiteral("//nothing"), *doc).isEmpty());
    EXPECT_EQ(QFXMLParser::stringValueForQuery(QStringLiteral("//clipitem/in"), *doc), QStringLiteral("10"));
    EXPECT_TRUE(QFXMLParser::stringValueForQuery(QStringLiteral("//out"), *doc).isNull());
    EXPECT_EQ(QFXMLParser::nodesForQuery(QStringLiteral("//clipitem"), *doc).size(), 2);
    EXPECT_EQ(QFXMLParser::nodeForQuery(QStringLiteral("//clipitem"), *doc).node().attribute("id").value(),
        std::string("c1"));
    EXPECT_FALSE(QFXMLParser::nodeForQuery(QStringLiteral("//none"), *doc));

    // Errors are logged and give no result.
    EXPECT_TRUE(QFXMLParser::nodesForQuery(QStringLiteral("//clipitem[["), *doc).isEmpty());
    EXPECT_TRUE(QFXMLParser::nodesForQuery(QStringLiteral("count(//clipitem)"), *doc).isEmpty());
    EXPECT_TRUE(QFXMLParser::stringValuesForQuery(QStringLiteral("]]"), *doc).isEmpty());
    EXPECT_TRUE(QFXMLParser::stringValueForQuery(QStringLiteral("]]"), *doc).isNull());
    EXPECT_TRUE(logText().contains(QStringLiteral("XML parsing error: ")));
    EXPECT_TRUE(QFXMLParser::nodesForQuery(QStringLiteral("//x"), pugi::xml_node()).isEmpty());
}

TEST_F(QFXMLParserTest, NamesUuidsAndIdsOfNodes)
{
    const auto doc = parse(kClip);
    ASSERT_TRUE(doc);
    const pugi::xml_node sequence = doc->document_element().child("sequence");
    const pugi::xml_node first = QFXMLParser::nodeForQuery(QStringLiteral("//clipitem"), *doc).node();
    const pugi::xml_node second = first.next_sibling();
    const pugi::xml_node track = first.parent();

    EXPECT_EQ(QFXMLParser::nameForNode(first), QStringLiteral("Inter view"));
    EXPECT_EQ(QFXMLParser::nameForNode(first, true), QStringLiteral("Inter view"));
    // No direct name: the first one below, raw when its escapes are not escapes.
    EXPECT_EQ(QFXMLParser::nameForNode(second), QStringLiteral("only%zzdeep"));
    EXPECT_TRUE(QFXMLParser::nameForNode(second, true).isNull());
    EXPECT_EQ(QFXMLParser::nameForNode(track), QStringLiteral("Inter view"));
    const auto noName = parse("<xmeml><bin id=\"b%41\"/><bin/></xmeml>");
    EXPECT_EQ(QFXMLParser::nameForNode(noName->document_element().first_child()), QStringLiteral("bA"));
    EXPECT_TRUE(QFXMLParser::nameForNode(noName->document_element().last_child()).isNull());

    EXPECT_EQ(QFXMLParser::uuidForNode(sequence), QStringLiteral("U-SEQ"));
    EXPECT_EQ(QFXMLParser::uuidForNode(first), QStringLiteral("H1"));
    EXPECT_TRUE(QFXMLParser::uuidForNode(first, true).isNull());
    EXPECT_TRUE(QFXMLParser::uuidForNode(second).isNull());
    EXPECT_EQ(QFXMLParser::idAttributeForNode(sequence), QStringLiteral("seq 1"));
    EXPECT_TRUE(QFXMLParser::idAttributeForNode(track).isNull());

    EXPECT_EQ(QFXMLParser::percentUnescaped(QStringLiteral("My%20Clip.mov")), QStringLiteral("My Clip.mov"));
    EXPECT_EQ(QFXMLParser::percentUnescaped(QStringLiteral("Kra%CC%8Ake")), QStringLiteral("Kra%CC%8Ake"));
    EXPECT_EQ(QFXMLParser::percentUnescaped(QStringLiteral("100%")), QStringLiteral("100%"));
}

TEST_F(QFXMLParserTest, WalksAncestorsSiblingsAndDocumentOrder)
{
    const auto doc = parse(kClip);
    ASSERT_TRUE(doc);
    const pugi::xml_node in = QFXMLParser::nodeForQuery(QStringLiteral("//clipitem/in"), *doc).node();
    EXPECT_EQ(QFXMLParser::name(QFXMLParser::node(in, QStringLiteral("sequence"))), QStringLiteral("sequence"));
    EXPECT_FALSE(QFXMLParser::node(in, QStringLiteral("sequence"), { QStringLiteral("track") }));
    EXPECT_FALSE(QFXMLParser::node(in, QStringLiteral("in")));

    EXPECT_EQ(QFXMLParser::name(QFXMLParser::nextSiblingForNode(in)), QStringLiteral("itemhistory"));
    const pugi::xml_node deepName = QFXMLParser::nodeForQuery(QStringLiteral("//file[@id='f1']/name"), *doc).node();
    EXPECT_EQ(QFXMLParser::nextSiblingForNode(deepName).attribute("id").value(), std::string("c2"));
    EXPECT_FALSE(QFXMLParser::nextSiblingForNode(doc->document_element()));

    // Document order meets element and text nodes only; text nodes have no name.
    const pugi::xml_node text = QFXMLParser::nextNode(in);
    EXPECT_EQ(text.type(), pugi::node_pcdata);
    EXPECT_TRUE(QFXMLParser::name(text).isNull());
    EXPECT_EQ(QFXMLParser::name(QFXMLParser::nextNode(text)), QStringLiteral("itemhistory"));
    EXPECT_EQ(QFXMLParser::previousNode(QFXMLParser::nextNode(text)), text);
    EXPECT_EQ(QFXMLParser::previousNode(text), in);
    EXPECT_EQ(QFXMLParser::stringValue(QFXMLParser::previousNode(in)), QStringLiteral("Inter%20view"));

    EXPECT_EQ(
        QFXMLParser::xPath(in), QStringLiteral("/xmeml[1]/sequence[1]/media[1]/video[1]/track[1]/clipitem[1]/in[1]"));
    EXPECT_EQ(QFXMLParser::xPath(deepName.parent().parent().next_sibling()),
        QStringLiteral("/xmeml[1]/sequence[1]/media[1]/video[1]/track[1]/clipitem[2]"));
    EXPECT_EQ(QFXMLParser::xPath(text),
        QStringLiteral("/xmeml[1]/sequence[1]/media[1]/video[1]/track[1]/clipitem[1]/in[1]/text()[1]"));
}

TEST_F(QFXMLParserTest, LoadsRealDocumentsWithoutBlankText)
{
    for (const char *name : { "markp.xml", "fcp_sample.xml", "premiere_cs6_lydtest.xml", "hiero_xml_export.xml" }) {
        SCOPED_TRACE(name);
        QString error;
        const auto doc
            = QFXMLParser::documentFromFile(fixturePath(QStringLiteral("xmeml/") + QLatin1String(name)), &error);
        ASSERT_TRUE(doc) << qPrintable(error);
        EXPECT_STREQ(doc->document_element().name(), "xmeml");
        // Every leaf element has exactly its text, or nothing.
        for (const pugi::xpath_node &text : doc->select_nodes("//text()"))
            EXPECT_FALSE(QFXMLParser::stringValue(text).trimmed().isEmpty());
    }
}

TEST_F(QFXMLParserTest, RefusesWhatIsNotADocument)
{
    QString error;
    const struct {
        const char *label;
        QByteArray data;
    } cases[] = {
        { "empty", QByteArray() },
        { "truncated", QByteArray("<xmeml><sequence><name>Main</na") },
        { "mismatched", QByteArray("<xmeml><sequence></clip></xmeml>") },
        { "text only", QByteArray("just words") },
        { "too deep", QByteArray("<a>").repeated(QFXMLParser::kMaximumNesting + 1) },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        error.clear();
        EXPECT_FALSE(QFXMLParser::documentFromData(c.data, &error));
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_FALSE(QFXMLParser::documentFromFile(home.file(QStringLiteral("missing.xml")), &error));
    EXPECT_FALSE(error.isEmpty());
    const QString truncated = home.write(QStringLiteral("cut.xml"), QByteArray(kClip).left(100));
    EXPECT_FALSE(QFXMLParser::documentFromFile(truncated, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("at byte"))) << qPrintable(error);

    // As deep as allowed still loads; invalid UTF-8 is read, not refused.
    EXPECT_TRUE(QFXMLParser::documentFromData(QByteArray("<a>").repeated(QFXMLParser::kMaximumNesting - 1)
        + QByteArray("</a>").repeated(QFXMLParser::kMaximumNesting - 1)));
    const auto invalid = QFXMLParser::documentFromData(QByteArray("<xmeml><name>\xff\xfe\xc3</name></xmeml>"), &error);
    ASSERT_TRUE(invalid);
    EXPECT_FALSE(QFXMLParser::nameForNode(invalid->document_element()).isEmpty());
}

TEST_F(QFXMLParserTest, FilesReadCompactlyAsTheyParse)
{
    // Blank runs between markup go before parsing; nothing else may change.
    const QByteArray tricky
        = "<?xml version=\"1.0\"?>\n<!DOCTYPE xmeml [ <!ENTITY e \"> <\"> ]>\n<xmeml>\n\t<a t=\"> <\" u='x > y'>\n"
          "\t\t<![CDATA[ > \n < ]]>\n\t</a>\n\t<!-- > \n < -->\n\t<b> mixed <i/> text </b>\n\t<c>\n\t</c>\n</xmeml>\n";
    const QString path = home.write(QStringLiteral("tricky.xml"), tricky);
    QString error;
    const auto fromFile = QFXMLParser::documentFromFile(path, &error);
    const auto fromData = QFXMLParser::documentFromData(tricky, &error);
    ASSERT_TRUE(fromFile && fromData) << qPrintable(error);
    const pugi::xml_node a = fromFile->document_element().child("a");
    EXPECT_STREQ(a.attribute("t").value(), "> <");
    EXPECT_STREQ(a.attribute("u").value(), "x > y");
    EXPECT_EQ(QFXMLParser::stringValue(a), QStringLiteral(" > \n < "));
    EXPECT_EQ(QFXMLParser::stringValue(fromFile->document_element().child("b")), QStringLiteral(" mixed  text "));
    EXPECT_EQ(QFXMLParser::stringValue(*fromFile), QFXMLParser::stringValue(*fromData));
    EXPECT_FALSE(fromFile->document_element().child("c").first_child());

    for (const char *name : { "markp.xml", "fcp_sample.xml", "premiere_cs6_lydtest.xml", "hiero_xml_export.xml" }) {
        SCOPED_TRACE(name);
        const auto doc = QFXMLParser::documentFromFile(fixturePath(QStringLiteral("xmeml/") + QLatin1String(name)));
        ASSERT_TRUE(doc);
        EXPECT_EQ(QFXMLParser::uuidList(*doc), QFXMLParser::stringValuesForQuery(QStringLiteral("//uuid"), *doc));
        EXPECT_EQ(QFXMLParser::idList(*doc), QFXMLParser::stringValuesForQuery(QStringLiteral("//@id"), *doc));
    }

    // A fault is placed in the file as it stands.
    const QString broken = home.write(QStringLiteral("broken.xml"), "<xmeml>\n\t\t\t\t<a>\n\t\t\t\t</b>\n</xmeml>\n");
    EXPECT_FALSE(QFXMLParser::documentFromFile(broken, &error));
    EXPECT_TRUE(error.endsWith(QStringLiteral("at byte 22"))) << qPrintable(error);
}

TEST_F(QFXMLParserTest, ItemListsInOnePassMatchTheQueries)
{
    for (const char *name : { "markp.xml", "fcp_sample.xml", "premiere_cs6_lydtest.xml", "hiero_xml_export.xml" }) {
        SCOPED_TRACE(name);
        const auto doc = QFXMLParser::documentFromFile(fixturePath(QStringLiteral("xmeml/") + QLatin1String(name)));
        ASSERT_TRUE(doc);
        QStringList uuids, ids;
        QFXMLParser::itemLists(*doc, uuids, ids);
        EXPECT_EQ(uuids, QFXMLParser::stringValuesForQuery(QStringLiteral("//uuid"), *doc));
        EXPECT_EQ(ids, QFXMLParser::stringValuesForQuery(QStringLiteral("//@id"), *doc));
    }
    // Below one element only, the element itself included; an empty handle has none.
    const auto clip = parse(kClip);
    const pugi::xml_node item
        = clip->document_element().child("sequence").child("media").child("video").child("track").child("clipitem");
    QStringList uuids, ids;
    QFXMLParser::itemLists(item, uuids, ids);
    EXPECT_EQ(uuids, QStringList { QStringLiteral("H1") });
    EXPECT_EQ(ids, (QStringList { QStringLiteral("c1"), QStringLiteral("f1") }));
    QFXMLParser::itemLists(pugi::xml_node(), uuids, ids);
    EXPECT_EQ(uuids.size() + ids.size(), 3);
}

// A file is read in blocks: whatever stands across the end of a block, and tokens longer than a block,
// parse as the whole text does.
TEST_F(QFXMLParserTest, FilesReadInBlocksParseAsTheWholeText)
{
    QByteArray text = "<?xml version=\"1.0\"?>\n<!DOCTYPE xmeml>\n<xmeml>\n";
    for (int i = 0; text.size() < 3 * 1024 * 1024; ++i) {
        const QByteArray n = QByteArray::number(i);
        text += "\t<clipitem id=\"c" + n + "\">\n\t\t<name>clip " + n + "</name>\n" + QByteArray(i % 37, '\t') + "<in>"
            + n + "</in>" + QByteArray(i % 11, ' ') + "\n\t\t<empty/>\n";
        if (i % 97 == 0)
            text += "\t\t<!-- a > comment " + QByteArray(i % 5000, '-') + " -->\n";
        if (i % 89 == 0)
            text += "\t\t<![CDATA[ <not a tag> " + QByteArray(i % 7000, ']') + " ]]>\n";
        if (i % 83 == 0)
            text += "\t\t<?pi " + QByteArray(i % 3000, '?') + "?>\n";
        if (i % 1009 == 0)
            text += "\t\t<long a=\"" + QByteArray(300 * 1024, '>') + "\" b='<'>" + QByteArray(400 * 1024, 'x')
                + "</long>\n\t\t<blank>" + QByteArray(300 * 1024, ' ') + "</blank>\n";
        text += "\t</clipitem>\n";
    }
    text += "</xmeml>\n";
    const auto raw = [](const pugi::xml_document &document) {
        std::ostringstream out;
        document.save(out, "", pugi::format_raw);
        return out.str();
    };
    QString error;
    const auto fromFile = QFXMLParser::documentFromFile(home.write(QStringLiteral("blocks.xml"), text), &error);
    const auto fromData = QFXMLParser::documentFromData(text, &error);
    ASSERT_TRUE(fromFile && fromData) << qPrintable(error);
    EXPECT_EQ(raw(*fromFile), raw(*fromData));

    // Nesting is bounded as the whole document is, whether or not the text tells its depth.
    const int limit = QFXMLParser::kMaximumNesting;
    const QByteArray deepest = QByteArray("<a>").repeated(limit - 1) + "x<b/>" + QByteArray("</a>").repeated(limit - 1);
    EXPECT_TRUE(QFXMLParser::documentFromFile(home.write(QStringLiteral("deepest.xml"), deepest), &error));
    const QByteArray deeper = QByteArray("<a>").repeated(limit) + "x" + QByteArray("</a>").repeated(limit);
    EXPECT_FALSE(QFXMLParser::documentFromFile(home.write(QStringLiteral("deeper.xml"), deeper), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("nested"))) << qPrintable(error);
    const QByteArray declared = "<!DOCTYPE a [ <!-- it's --> ]>" + deeper;
    EXPECT_EQ(bool(QFXMLParser::documentFromFile(home.write(QStringLiteral("declared.xml"), declared))),
        bool(QFXMLParser::documentFromData(declared)));
}

// A file's texts are moved together behind their nodes once parsed: the document reads, queries in document
// order and takes new texts as the one parsed from the same bytes in memory does.
TEST_F(QFXMLParserTest, FilesPackTheirTextsWithoutChangingTheDocument)
{
    QByteArray text = "<?xml version=\"1.0\"?>\n<xmeml version=\"4\">\n";
    for (int i = 0; i < 20000; ++i) {
        const QByteArray n = QByteArray::number(i);
        text += "  <clipitem id=\"c" + n + "\">\n    <name>clip &amp; " + n + "</name>\n    <in>" + n
            + "</in>\n    <uuid><![CDATA[U-" + n + "]]></uuid>\n    <b>one<!-- c -->two</b>\n  </clipitem>\n";
    }
    text += "</xmeml>\n";
    const auto raw = [](const pugi::xml_document &document) {
        std::ostringstream out;
        document.save(out, "", pugi::format_raw);
        return out.str();
    };
    QString error;
    const auto fromFile = QFXMLParser::documentFromFile(home.write(QStringLiteral("packed.xml"), text), &error);
    const auto fromData = QFXMLParser::documentFromData(text, &error);
    ASSERT_TRUE(fromFile && fromData) << qPrintable(error);
    EXPECT_EQ(raw(*fromFile), raw(*fromData));
    // Results of several steps together come in document order.
    const QString query = QStringLiteral("//uuid | //@id | //in | //b/text()");
    const QStringList values = QFXMLParser::stringValuesForQuery(query, *fromFile);
    EXPECT_EQ(values.size(), 100000);
    EXPECT_EQ(values, QFXMLParser::stringValuesForQuery(query, *fromData));
    // A new text shorter than the old one is written over it, a longer one elsewhere; the neighbours stay.
    pugi::xml_node in = fromFile->document_element().child("clipitem").child("in");
    ASSERT_TRUE(in.first_child().set_value("7"));
    ASSERT_TRUE(in.next_sibling().first_child().set_value("a much longer uuid than before"));
    EXPECT_EQ(QFXMLParser::stringValue(in.parent()), QStringLiteral("clip & 07a much longer uuid than beforeonetwo"));
    EXPECT_EQ(QFXMLParser::stringValue(in.parent().next_sibling().child("name")), QStringLiteral("clip & 1"));

    // Files the parser converts from another encoding keep their own buffer and read as before.
    const QByteArray latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><xmeml><name>caf\xe9</name></xmeml>";
    const auto converted = QFXMLParser::documentFromFile(home.write(QStringLiteral("latin1.xml"), latin1), &error);
    ASSERT_TRUE(converted) << qPrintable(error);
    EXPECT_EQ(QFXMLParser::nameForNode(converted->document_element()), QString::fromUtf8("caf\xc3\xa9"));
    const QString wideText = QStringLiteral("<xmeml><name>wide</name></xmeml>");
    QByteArray wide("\xff\xfe", 2);
    wide += QByteArray(reinterpret_cast<const char *>(wideText.utf16()), wideText.size() * 2);
    const auto fromWide = QFXMLParser::documentFromFile(home.write(QStringLiteral("wide.xml"), wide), &error);
    ASSERT_TRUE(fromWide) << qPrintable(error);
    EXPECT_EQ(QFXMLParser::nameForNode(fromWide->document_element()), QStringLiteral("wide"));
}

namespace {

// Elements of a name at every depth, first and later ones, with and without text, mixed content and CDATA:
// what the queries below can tell apart.
const char *const kPaths
    = "<xmeml><a><b>1</b><b>2</b><name>n1</name><name>n2</name></a>"
      "<a><name><name>inner</name>outer</name><c><name/><name>late</name></c></a>"
      "<a><name><![CDATA[cd]]>x<i/>y</name><b><name>deep</name></b></a>"
      "<name>top</name><subclipinfo/><x><subclipinfo>s</subclipinfo><subclipinfo>t</subclipinfo></x>"
      "<itemhistory><uuid>U1</uuid><uuid>U2</uuid></itemhistory>"
      "<p><q><itemhistory><uuid>U3</uuid><uuid/></itemhistory><itemhistory><uuid>U4</uuid></itemhistory></q></p>"
      "<file><pathurl>u1</pathurl></file><file><name>f</name><pathurl>u2</pathurl></file></xmeml>";

// The documents the tests below go over, each with every node of it.
std::vector<std::unique_ptr<pugi::xml_document>> pathDocuments()
{
    std::vector<std::unique_ptr<pugi::xml_document>> documents;
    for (const char *name : { "markp.xml", "fcp_sample.xml", "premiere_cs6_lydtest.xml", "hiero_xml_export.xml" })
        documents.push_back(QFXMLParser::documentFromFile(fixturePath(QStringLiteral("xmeml/") + QLatin1String(name))));
    documents.push_back(QFXMLParser::documentFromData(QByteArray(kPaths)));
    return documents;
}

std::vector<pugi::xml_node> everyNode(const pugi::xml_document &document)
{
    std::vector<pugi::xml_node> nodes { document };
    for (const pugi::xpath_node &found : document.select_nodes("//node()"))
        nodes.push_back(found.node());
    return nodes;
}

} // namespace

// Queries of the shape "./a[1]/b[1]", ".//a[1]", ".//a[1]/text()" are answered from the records: from every
// node of every document, they find what the XPath engine finds, in the same order.
TEST_F(QFXMLParserTest, SimplePathsFindWhatTheXPathEngineFinds)
{
    const char *const queries[] = { "./name[1]", "./name[1]/text()", ".//name[1]", ".//name[1]/text()", "./a[1]/b[1]",
        ".//a[1]/b[1]", ".//a[1]/b[1]/text()", ".//b[1]/name[1]/text()", "./itemhistory[1]/uuid[1]",
        ".//itemhistory[1]/uuid[1]", ".//subclipinfo[1]", ".//subclipinfo[1]/text()", "./subclipinfo[1]",
        "./file[1]/pathurl[1]", ".//pathurl[1]", ".//multiclip[1]", "./rate[1]/timebase[1]", "./timecode[1]/frame[1]",
        "./start[1]/text()", ".//in[1]/text()", ".//uuid[1]/text()", ".//clipitem[1]/name[1]" };
    int compared = 0;
    for (const auto &document : pathDocuments()) {
        ASSERT_TRUE(document);
        for (const pugi::xml_node &context : everyNode(*document)) {
            for (const char *query : queries) {
                pugi::xpath_node_set expected = context.select_nodes(query);
                expected.sort();
                QStringList expectedValues;
                for (const pugi::xpath_node &found : expected)
                    expectedValues.append(QFXMLParser::stringValue(found));
                const QString text = QString::fromLatin1(query);
                ASSERT_EQ(QFXMLParser::stringValuesForQuery(text, context), expectedValues)
                    << query << " from " << qPrintable(QFXMLParser::xPath(context));
                const QList<pugi::xpath_node> nodes = QFXMLParser::nodesForQuery(text, context);
                ASSERT_EQ(size_t(nodes.size()), expected.size()) << query;
                for (qsizetype i = 0; i < nodes.size(); ++i)
                    ASSERT_EQ(nodes.at(i), expected[size_t(i)]) << query;
                ASSERT_EQ(QFXMLParser::nodeForQuery(text, context), expected.empty() ? pugi::xpath_node() : expected[0])
                    << query;
                ASSERT_EQ(QFXMLParser::stringValueForQuery(text, context),
                    expected.empty() ? QString() : expectedValues.first())
                    << query;
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 100000);
}

// Names, uuids and locations read from the records are those the queries they stand for give.
TEST_F(QFXMLParserTest, NamesUuidsAndLocationsReadAsTheirQueries)
{
    const auto byQueries
        = [](const pugi::xml_node &node, const char *direct, const char *deep, bool immediateOnly, bool idFallback) {
              const auto first = [&](const char *query) {
                  const pugi::xpath_node found = node.select_node(query);
                  return found ? QFXMLParser::stringValue(found) : QString();
              };
              QString text = first(direct);
              if (text.isNull() && !immediateOnly)
                  text = first(deep);
              if (text.isNull() && idFallback && !immediateOnly && node.attribute("id"))
                  text = QString::fromUtf8(node.attribute("id").value());
              return text.isNull() ? text : QFXMLParser::percentUnescaped(text);
          };
    for (const auto &document : pathDocuments()) {
        ASSERT_TRUE(document);
        for (const pugi::xml_node &node : everyNode(*document)) {
            SCOPED_TRACE(qPrintable(QFXMLParser::xPath(node)));
            for (const bool immediateOnly : { false, true }) {
                ASSERT_EQ(QFXMLParser::nameForNode(node, immediateOnly),
                    byQueries(node, "./name[1]/text()", ".//name[1]/text()", immediateOnly, true));
                ASSERT_EQ(QFXMLParser::uuidForNode(node, immediateOnly),
                    byQueries(node, "./uuid[1]/text()", ".//uuid[1]/text()", immediateOnly, false));
            }
            if (node.type() != pugi::node_document) {
                ASSERT_EQ(document->select_node(QFXMLParser::xPath(node).toUtf8().constData()).node(), node);
            }
        }
    }
}

// Where the parser's records read as the walks read them, they answer as the library's accessors do; both
// readers are the same to every node of the fixtures.
TEST_F(QFXMLParserTest, RecordsReadAsTheLibraryAnswers)
{
#ifndef PUGIXML_COMPACT
    EXPECT_TRUE(QFXMLParser::recordsReadable());
#endif
    using Direct = QFXMLParser::DirectRecords;
    using Library = QFXMLParser::LibraryRecords;
    std::vector<std::unique_ptr<pugi::xml_document>> documents = pathDocuments();
    documents.push_back(
        QFXMLParser::documentFromData("<xmeml><a id=\"1\" b=\"\"><![CDATA[c]]>d<e/></a><f id=\"2\"/></xmeml>"));
    documents.push_back(QFXMLParser::documentFromData("<x a='1' id='i' id2='j'>t<y/></x>"));
    // Kinds of node the loader does not keep, as another caller may have parsed them.
    documents.push_back(std::make_unique<pugi::xml_document>());
    ASSERT_TRUE(documents.back()->load_string(
        "<?xml version='1.0'?><!DOCTYPE x><x><!-- c --><y id='1'>z</y><?pi v?></x>", pugi::parse_full));
    int nodes = 0;
    for (const auto &owned : documents) {
        ASSERT_TRUE(owned);
        for (const pugi::xml_node &node : everyNode(*owned)) {
            QFXMLParser::NodeRecord *record = QFXMLParser::recordOf(node);
            ASSERT_EQ(QFXMLParser::nodeOf(record), node);
            if (!QFXMLParser::recordsReadable())
                continue;
            ASSERT_EQ(Direct::type(record), Library::type(record));
            ASSERT_EQ(Direct::type(record), node.type());
            ASSERT_STREQ(Direct::name(record), Library::name(record));
            ASSERT_EQ(Direct::elementName(record) == nullptr, Library::elementName(record) == nullptr);
            ASSERT_STREQ(Direct::value(record), Library::value(record));
            ASSERT_EQ(Direct::isText(record), Library::isText(record));
            ASSERT_EQ(Direct::firstChild(record), Library::firstChild(record));
            ASSERT_EQ(Direct::nextSibling(record), Library::nextSibling(record));
            ASSERT_EQ(Direct::previousSibling(record), Library::previousSibling(record));
            ASSERT_EQ(Direct::lastChild(record), Library::lastChild(record));
            ASSERT_EQ(Direct::parent(record), Library::parent(record));
            const char *directId = Direct::attribute(record, "id");
            const char *libraryId = Library::attribute(record, "id");
            ASSERT_EQ(directId == nullptr, libraryId == nullptr);
            if (directId) {
                ASSERT_STREQ(directId, libraryId);
            }
            ++nodes;
        }
    }
    EXPECT_EQ(Direct::elementName(nullptr), nullptr);
    EXPECT_EQ(Library::elementName(nullptr), nullptr);
    EXPECT_GT(nodes, 1000);
}
