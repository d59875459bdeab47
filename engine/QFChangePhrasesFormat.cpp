// Sentences for what a sequence or clip is made of: frame size and shape, rate, whether it is enabled and
// how its alpha channel is read.

#include "engine/QFChangePhrases.h"

#include "engine/QFXMLParser.h"
#include "foundation/platform/QFFormat.h"

using Node = pugi::xml_node;
using namespace QFChangeNodes;

QString QFChangePhrases::frameFormatChanged() const
{
    // The sequence or clip item whose format this is: parent, then four levels up.
    Node owner = m_parent;
    for (int level = 0; level < 4 && owner; ++level)
        owner = owner.parent();
    const char *x = nameOf(owner);
    const int row = is(m_n, "width") ? 0 : is(m_n, "height") ? 1 : is(m_n, "pixelaspectratio") ? 2 : 3;
    if (is(x, "sequence")) {
        static const char *const formats[] = { "%@ sequence width changed to %@", "%@ sequence height changed to %@",
            "%@ sequence pixel aspect ratio changed to %@", "%@ sequence field dominance changed to %@" };
        return qfFormat(formats[row], QFXMLParser::nameForNode(owner), m_value);
    }
    if (row == 3 && isOneOf(x, { "clipitem", "clip" }))
        return qfFormat("%@ %@ field dominance changed to %@",
            capitalizedItemKind(owner, ".//subclipinfo[1]", ".//stillframeoffset[1]"), QFXMLParser::nameForNode(owner),
            m_value);
    if (row < 3 && is(x, "clipitem")) {
        static const char *const formats[]
            = { "%@ %@ width changed to %@", "%@ %@ height changed to %@", "%@ %@ pixel aspect ratio changed to %@" };
        return qfFormat(formats[row], capitalizedItemKind(owner, "./subclipinfo[1]", "./stillframeoffset[1]"),
            QFXMLParser::nameForNode(owner), m_value);
    }
    return unknownChange();
}

QString QFChangePhrases::rateChanged() const
{
    const bool ntsc = is(m_n, "ntsc");
    const QString isNTSC = m_value == QLatin1String("TRUE") ? QStringLiteral("is") : QStringLiteral("is not");
    if (is(m_a1, "sequence"))
        return ntsc ? qfFormat("%@ sequence %@ NTSC", QFXMLParser::nameForNode(m_grandparent), isNTSC)
                    : qfFormat("%@ sequence timebase changed to %@", QFXMLParser::nameForNode(m_grandparent), m_value);
    if (isOneOf(m_a1, { "clipitem", "clip" })) {
        const QString kind = capitalizedItemKind(m_grandparent, ".//subclipinfo[1]", ".//stillframeoffset[1]");
        return ntsc ? qfFormat("%@ %@ %@ NTSC", kind, QFXMLParser::nameForNode(m_grandparent), isNTSC)
                    : qfFormat("%@ %@ timebase changed to %@", kind, QFXMLParser::nameForNode(m_grandparent), m_value);
    }
    return unknownChange();
}

QString QFChangePhrases::enabledChanged() const
{
    const QString state = m_value == QLatin1String("FALSE") ? QStringLiteral("disabled") : QStringLiteral("enabled");
    if (is(m_p, "sequence"))
        return qfFormat("%@ sequence %@", QFXMLParser::nameForNode(m_parent), state);
    if (is(m_p, "clipitem"))
        return qfFormat("%@ %@ %@", capitalizedItemKind(m_parent, "./subclipinfo[1]", "./stillframeoffset[1]"),
            QFXMLParser::nameForNode(m_parent), state);
    if (is(m_p, "filter"))
        return qfFormat("%@ filter for clip %@ %@", QFXMLParser::nameForNode(m_parent),
            QFXMLParser::nameForNode(m_grandparent), state);
    return unknownChange();
}

QString QFChangePhrases::alphaTypeChanged() const
{
    if (is(m_p, "generatoritem"))
        return qfFormat("Alpha type for generator %@ set to %@", QFXMLParser::nameForNode(m_parent), m_value);
    if (is(m_p, "effect"))
        return qfFormat("Alpha type for filter %@ set to %@", QFXMLParser::nameForNode(m_parent), m_value);
    if (is(m_p, "clipitem"))
        return qfFormat("Alpha type for clip %@ set to %@", QFXMLParser::nameForNode(m_parent), m_value);
    return unknownChange();
}
