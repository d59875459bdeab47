// Sentences for filters: new ones, the values of their parameters and keyframes, and whatever else
// changes inside an effect.

#include "engine/QFChangePhrases.h"

#include "engine/QFTombrelBackup.h"
#include "engine/QFXMLParser.h"
#include "foundation/platform/QFFormat.h"

using Node = pugi::xml_node;
using namespace QFChangeNodes;

QString QFChangePhrases::valueChanged() const
{
    if (is(m_a1, "effect"))
        return qfFormat("%@ set to %@ for %@ Filter",
            m_engine.capitalizeFirstLetter(QFXMLParser::nameForNode(m_parent)), m_value,
            QFXMLParser::nameForNode(m_grandparent));
    if (is(m_p, "keyframe")) {
        const Node effect = ancestorNamed(m_node, "effect");
        const Node clip = ancestorNamed(m_node, "clipitem");
        return qfFormat("Keyframe at %@ set to %@%@%@", QFXMLParser::stringValue(QFXMLParser::previousNode(m_node)),
            m_value, effect ? part(" for filter %@", QFXMLParser::nameForNode(effect)) : QStringLiteral(""),
            clip ? part(" on clip %@", QFXMLParser::nameForNode(clip)) : QStringLiteral(""));
    }
    return unknownChange();
}

// Any other element up to three levels inside an effect is one of the filter's settings.
QString QFChangePhrases::filterParameterChanged() const
{
    const Node effect = is(m_p, "effect") ? m_parent
        : is(m_a1, "effect")              ? m_grandparent
        : is(m_a2, "effect")              ? m_greatGrandparent
                                          : Node();
    return qfFormat("%@ set to %@ for %@ Filter", m_engine.capitalizeFirstLetter(m_nodeName), m_value,
        effect ? QFXMLParser::nameForNode(effect) : QString());
}

QString QFChangePhrases::newFilter(const Node &effect)
{
    QString clipName;
    if (pathContains(effect, "clip"))
        clipName = QFXMLParser::nameForNode(ancestorNamed(effect, "clip"));
    else if (pathContains(effect, "clipitem"))
        clipName = QFXMLParser::nameForNode(ancestorNamed(effect, "clipitem"));
    const QString name = QFXMLParser::nameForNode(effect);
    if (isStandardFilter(name))
        return {};
    return qfFormat(
        "New filter added%@: %@", part(" for clip %@", clipName), name.isNull() ? name : lastPathComponent(name));
}

QString QFChangePhrases::newEffectNamed(const Node &nameNode, const QString &name)
{
    if (const Node generator = ancestorNamed(nameNode, "generatoritem"))
        return qfFormat("New generator added: %@", QFXMLParser::nameForNode(generator));
    if (isStandardFilter(name))
        return {};
    return qfFormat("New filter added: %@", name);
}
