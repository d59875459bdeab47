// Lines for whole items: clips, multiclips, bins, generators, transitions, markers and sequences that the
// newer document adds, each named with where it stands and when it starts, and items it no longer has.

#include "engine/QFChangePhrases.h"

#include "engine/QFTombrelBackup.h"
#include "engine/QFXMLParser.h"
#include "foundation/platform/QFFormat.h"

#include <optional>

using Node = pugi::xml_node;
using namespace QFChangeNodes;

namespace {

// The file name of the first media path the query finds, unescaped; none when there is no path.
std::optional<QString> mediaFileName(const char *query, const Node &item)
{
    if (const pugi::xpath_node url = QFXMLParser::nodeForQuery(QString::fromLatin1(query), item))
        return QFXMLParser::percentUnescaped(lastPathComponent(QFXMLParser::stringValue(url)));
    return std::nullopt;
}

} // namespace

QString QFChangePhrases::newClip(const QFTombrelBackup &engine, const Node &item)
{
    const QString kind = itemKind(item, "./subclipinfo[1]", "./stillframeoffset[1]");
    const QString prefix = mediaPrefix(item);
    const Node sequence = pathContains(item, "sequence") ? ancestorNamed(item, "sequence") : Node();
    Node multiclip;
    if (pathContains(item, "multiclip")) {
        multiclip = ancestorNamed(item, "multiclip");
        if (!multiclip)
            multiclip = QFXMLParser::nodeForQuery(QStringLiteral(".//multiclip[1]"), item).node();
    }
    const QString multiclipPart
        = multiclip ? part(" to multiclip %@", QFXMLParser::nameForNode(multiclip)) : QStringLiteral("");
    const QString sequencePart
        = sequence ? part(" for sequence %@", QFXMLParser::nameForNode(sequence)) : QStringLiteral("");
    const QString timePart = part(" at %@", engine.startTimeForNode(item));

    // Named by its media file, else by its own name.
    if (const std::optional<QString> file = mediaFileName("./file[1]/pathurl[1]", item))
        return qfFormat("New %@%@ %@ added%@%@%@", prefix, kind, *file, multiclipPart, sequencePart, timePart);
    const QString name = QFXMLParser::nameForNode(item);
    if (!name.isNull())
        return qfFormat("New %@%@ %@ added%@%@%@", prefix, kind, name, multiclipPart, sequencePart, timePart);
    return qfFormat("New %@%@ added%@%@%@", prefix, kind, multiclipPart, sequencePart, timePart);
}

QString QFChangePhrases::newMulticlip(const QFTombrelBackup &engine, const Node &multiclip)
{
    const QString at = part(" at %@", engine.startTimeForNode(multiclip));
    const Node sequence = ancestorNamed(multiclip, "sequence");
    const QString to = sequence ? part(" to sequence %@", QFXMLParser::nameForNode(sequence)) : QStringLiteral("");
    const QString name = QFXMLParser::nameForNode(multiclip);
    if (const std::optional<QString> file = mediaFileName(".//pathurl[1]", multiclip))
        return qfFormat("New multiclip added%@%@: %@", at, to, *file);
    if (!name.isNull())
        return qfFormat("New multiclip added%@%@: %@", at, to, name);
    return qfFormat("New multiclip added%@%@", at, to);
}

QString QFChangePhrases::newBin(const Node &bin)
{
    return qfFormat("New bin added: %@", QFXMLParser::nameForNode(bin));
}

QString QFChangePhrases::newGenerator(const QFTombrelBackup &engine, const Node &generator)
{
    const Node sequence = ancestorNamed(generator, "sequence");
    return qfFormat("New generator %@ added%@%@", QFXMLParser::nameForNode(generator),
        sequence ? part(" to sequence %@", QFXMLParser::nameForNode(sequence)) : QStringLiteral(""),
        part(" at %@", engine.startTimeForNode(generator)));
}

QString QFChangePhrases::newTransition(const QFTombrelBackup &engine, const Node &transition)
{
    const Node clip = ancestorNamed(transition, "clipitem");
    const Node sequence = ancestorNamed(transition, "sequence");
    return qfFormat("New transition %@ added%@%@%@", QFXMLParser::nameForNode(transition),
        clip ? part(" to clip %@", QFXMLParser::nameForNode(clip)) : QStringLiteral(""),
        sequence ? part(" for sequence %@", QFXMLParser::nameForNode(sequence)) : QStringLiteral(""),
        part(" at %@", engine.startTimeForNode(transition)));
}

QString QFChangePhrases::newMarker(const QFTombrelBackup &engine, const Node &marker, const QString &name)
{
    const Node clip = ancestorNamed(marker, "clipitem");
    const Node sequence = ancestorNamed(marker, "sequence");
    return qfFormat("New marker %@ added%@%@%@", name,
        clip ? qfFormat(" to %@clip %@", mediaPrefix(marker), QFXMLParser::nameForNode(clip)) : QStringLiteral(""),
        sequence ? part(" for sequence %@", QFXMLParser::nameForNode(sequence)) : QStringLiteral(""),
        part(" at %@", engine.startTimeForNode(marker)));
}

QString QFChangePhrases::newSequence(const QString &name)
{
    return qfFormat("New sequence added: %@", name);
}

QString QFChangePhrases::removedItem(const QFTombrelBackup &engine, const Node &item)
{
    return qfFormat("%@ %@ removed", engine.typeOfNode(item), QFXMLParser::nameForNode(item));
}
