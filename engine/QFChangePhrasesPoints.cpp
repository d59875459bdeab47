// Sentences for points in time: durations, in and out points, starts and ends, and the offsets of
// subclips, told as timecodes of the sequence they stand in.

#include "engine/QFChangePhrases.h"

#include "engine/QFXMLParser.h"
#include "foundation/platform/QFFormat.h"

using Node = pugi::xml_node;
using namespace QFChangeNodes;

QString QFChangePhrases::durationChanged() const
{
    if (is(m_p, "sequence"))
        return qfFormat("%@ sequence duration changed from %@ to %@ (%@%li)", QFXMLParser::nameForNode(m_parent),
            timecode(m_oldValue), timecode(m_value), m_sign, m_delta);
    if (m_clipParent)
        return qfFormat("%@ %@ duration changed from %@ to %@ (%@%i)", QFXMLParser::nameForNode(m_parent),
            kindOfParent(), timecode(m_oldValue), timecode(m_value), m_sign, m_delta);
    if (is(m_p, "generatoritem"))
        return qfFormat(
            "Duration changed to %@ for %@ generator", timecode(m_value), QFXMLParser::nameForNode(m_parent));
    return unknownChange();
}

QString QFChangePhrases::inOrOutChanged() const
{
    const bool in = is(m_n, "in");
    if (is(m_p, "sequence")) {
        if (m_removed)
            return qfFormat(in ? "In Point of sequence %@ removed" : "Out Point of sequence %@ removed",
                QFXMLParser::nameForNode(m_parent));
        return qfFormat(in ? "In Point of sequence %@ changed from %@ to %@ (%@%i)"
                           : "Out Point of sequence %@ changed from %@ to %@ (%@%i)",
            QFXMLParser::nameForNode(m_parent), timecode(m_oldValue), timecode(m_value), m_sign, m_delta);
    }
    if (m_clipParent) {
        if (m_removed)
            return qfFormat(in ? "In Point of %@ %@ removed" : "Out Point of %@ %@ removed", kindOfParent(),
                QFXMLParser::nameForNode(m_parent));
        return qfFormat(
            in ? "In Point of %@ %@ changed from %@ to %@ (%@%i)" : "Out Point of %@ %@ changed from %@ to %@ (%@%i)",
            kindOfParent(), QFXMLParser::nameForNode(m_parent), timecode(m_oldValue), timecode(m_value), m_sign,
            m_delta);
    }
    if (is(m_p, "generatoritem"))
        return qfFormat(in ? "In Point of generator %@ %@" : "Out Point of generator %@ %@",
            QFXMLParser::nameForNode(m_parent), removedOrChangedTo());
    if (is(m_p, "effect"))
        return qfFormat(in ? "In Point of filter %@ %@" : "Out Point of filter %@ %@",
            QFXMLParser::nameForNode(m_parent), removedOrChangedTo());
    if (is(m_p, "transitionitem"))
        return qfFormat(in ? "In Point of transition %@ %@" : "Out Point of transition %@ %@",
            QFXMLParser::nameForNode(m_parent), removedOrChangedTo());
    if (is(m_p, "marker"))
        return qfFormat(in ? "In Point of marker %@ %@" : "Out Point of marker %@ %@",
            QFXMLParser::nameForNode(m_parent), removedOrChangedTo());
    return inOrOutOfMediaChanged(in);
}

// The points of the audio or video of a clip, or of a sequence's tracks (media/audio/in): the item is two
// levels above the parent. Out points are told for audio only.
QString QFChangePhrases::inOrOutOfMediaChanged(bool in) const
{
    if (in ? !isOneOf(m_p, { "audio", "video" }) : !is(m_p, "audio"))
        return unknownChange();
    if (isOneOf(m_a2, { "clip", "clipitem" })) {
        if (in) {
            if (m_removed)
                return qfFormat(
                    "In Point of %@ clip %@ removed", m_parentName, QFXMLParser::nameForNode(m_greatGrandparent));
            return qfFormat("In Point of %@ clip %@ changed from %@ to %@ (%@%i)", m_parentName,
                QFXMLParser::nameForNode(m_greatGrandparent), timecode(m_oldValue), timecode(m_value), m_sign, m_delta);
        }
        if (m_removed)
            return qfFormat("Out Point of audio clip %@ removed", QFXMLParser::nameForNode(m_greatGrandparent));
        return qfFormat("Out Point of audio clip %@ changed from %@ to %@ (%@%i)",
            QFXMLParser::nameForNode(m_greatGrandparent), timecode(m_oldValue), timecode(m_value), m_sign, m_delta);
    }
    if (is(m_a2, "sequence")) {
        if (m_removed)
            return qfFormat(
                in ? "In Point of %@ track in sequence %@ removed" : "Out Point of %@ track in sequence %@ removed",
                m_parentName, QFXMLParser::nameForNode(m_greatGrandparent));
        return qfFormat(in ? "In Point of %@ track in sequence %@ changed from %@ to %@ (%@%i)"
                           : "Out Point of %@ track in sequence %@ changed from %@ to %@ (%@%i)",
            m_parentName, QFXMLParser::nameForNode(m_greatGrandparent), timecode(m_oldValue), timecode(m_value), m_sign,
            m_delta);
    }
    return unknownChange();
}

QString QFChangePhrases::startOrEndChanged() const
{
    const bool start = is(m_n, "start");
    if (is(m_p, "sequence"))
        return qfFormat(
            start ? "%@ sequence Start changed from %@ to %@ (%@%i)" : "%@ sequence End changed from %@ to %@ (%@%i)",
            QFXMLParser::nameForNode(m_parent), timecode(m_oldValue), timecode(m_value), m_sign, m_delta);
    if (m_clipParent) {
        if (m_removed)
            return qfFormat(start ? "Transition added at beginning of %@%@ %@" : "Transition added at end of %@%@ %@",
                mediaPrefix(m_node), kindOfParent(), QFXMLParser::nameForNode(m_parent));
        return qfFormat(start ? "Start point of %@%@ %@ changed from %@ to %@ (%@%i)"
                              : "End point of %@%@ %@ changed from %@ to %@ (%@%i)",
            mediaPrefix(m_node), kindOfParent(), QFXMLParser::nameForNode(m_parent), timecode(m_oldValue),
            timecode(m_value), m_sign, m_delta);
    }
    if (is(m_p, "generatoritem")) {
        if (m_removed)
            return qfFormat(
                start ? "Transition added at beginning of generator %@" : "Transition added at end of generator %@",
                QFXMLParser::nameForNode(m_parent));
        return qfFormat(start ? "Start point of generator %@ changed from %@ to %@ (%@%i)"
                              : "End point of generator %@ changed from %@ to %@ (%@%i)",
            QFXMLParser::nameForNode(m_parent), timecode(m_oldValue), timecode(m_value), m_sign, m_delta);
    }
    if (is(m_p, "transitionitem"))
        return qfFormat(start ? "Start point of transition %@ %@" : "End point of transition %@ %@",
            QFXMLParser::nameForNode(m_parent), removedOrChangedTo());
    if (is(m_p, "filter"))
        return qfFormat(start ? "Start point of filter %@ %@" : "End point of filter %@ %@",
            QFXMLParser::nameForNode(m_parent), removedOrChangedTo());
    if (is(m_p, "audio") && isOneOf(m_a2, { "clip", "clipitem" })) {
        if (m_removed)
            return qfFormat(
                start ? "Transition added at beginning of audio clip %@" : "Transition added at end of audio clip %@",
                QFXMLParser::nameForNode(m_greatGrandparent));
        return qfFormat(start ? "Start of audio clip %@ changed from %@ to %@ (%@%i)"
                              : "End of audio clip %@ changed from %@ to %@ (%@%i)",
            QFXMLParser::nameForNode(m_greatGrandparent), timecode(m_oldValue), timecode(m_value), m_sign, m_delta);
    }
    return unknownChange();
}

QString QFChangePhrases::subclipOffsetChanged() const
{
    if (!is(m_p, "subclipinfo") || !isOneOf(m_a1, { "clipitem", "clip" }))
        return unknownChange();
    if (is(m_n, "endoffset"))
        return qfFormat(
            "End point of subclip %@ changed to %@", QFXMLParser::nameForNode(m_grandparent), timecode(m_value));
    return qfFormat("Start point of subclip %@ changed from %@ to %@ (%@%i)", QFXMLParser::nameForNode(m_grandparent),
        timecode(m_oldValue), timecode(m_value), m_sign, m_delta);
}
