// Change lists of Final Cut Pro XML, the engine's entry points: the walk over two exports is
// QFChangeListWalk, the sentence for each difference QFChangePhrases.

#include "engine/QFTombrelBackup.h"

#include "engine/QFChangeListWalk.h"
#include "engine/QFChangePhrases.h"
#include "engine/QFXMLParser.h"
#include "foundation/QFLog.h"
#include "foundation/QFMainThread.h"

using Node = pugi::xml_node;
using namespace QFChangeNodes;

bool QFTombrelBackup::processingCancelled() const
{
    return m_processingCancelled;
}

void QFTombrelBackup::setProcessingCancelled(bool processingCancelled)
{
    m_processingCancelled = processingCancelled;
}

bool QFTombrelBackup::hasGUI() const
{
    return m_hasGUI;
}

void QFTombrelBackup::setHasGUI(bool hasGUI)
{
    m_hasGUI = hasGUI;
}

void QFTombrelBackup::setEndProgressHandler(std::function<void()> handler)
{
    m_endProgressHandler = std::move(handler);
}

void QFTombrelBackup::endProgress()
{
    if (!m_endProgressHandler)
        return;
    QFMainThread::run(m_endProgressHandler, true);
}

bool QFTombrelBackup::cancelledWithGUI() const
{
    return m_processingCancelled && m_hasGUI;
}

std::optional<QStringList> QFTombrelBackup::changeListForFCPXMLDoc(const pugi::xml_document *doc,
    const pugi::xml_document *baseDoc, const QStringList &oldUUIDList, const QStringList &oldIDList,
    const QStringList &newUUIDList, const QStringList &newIDList)
{
    if (!doc || !baseDoc)
        return QStringList();
    if (doc == baseDoc)
        return QStringList { QStringLiteral("No change") };
    return QFChangeListWalk(*this, *doc, *baseDoc, oldUUIDList, oldIDList, newUUIDList, newIDList).run();
}

pugi::xml_node QFTombrelBackup::nextBaseNode(const pugi::xml_node &oldNode, const pugi::xml_node &newNode) const
{
    // The walk's own step; where it would stand just before oldNode, the node before it.
    QFChangeListWalk::Climbs climbs;
    return QFChangeListWalk::nextBase(oldNode, newNode, climbs).resolved();
}

QString QFTombrelBackup::timecodeFromFrames(const QString &frames, const pugi::xml_node &withNode) const
{
    const Node sequence = ancestorNamed(withNode, "sequence");
    const QString timebaseText
        = QFXMLParser::stringValueForQuery(QStringLiteral("./rate[1]/timebase[1]"), sequence ? sequence : withNode);
    long long timebase = timebaseText.isNull() ? 30 : intValue(timebaseText);
    // A rate of zero or less cannot count frames; such a document gets the usual rate.
    if (timebase <= 0)
        timebase = 30;
    long long count = intValue(frames);
    bool dropFrame = true;
    if (sequence) {
        const QString start = QFXMLParser::stringValueForQuery(QStringLiteral("./timecode[1]/frame[1]"), sequence);
        // One hour at 29.97 frames per second, drop frame: where sequences start by default.
        count += start.isNull() ? 107892 : intValue(start);
        dropFrame = QFXMLParser::stringValueForQuery(QStringLiteral("./timecode[1]/displayformat[1]"), sequence)
            != QLatin1String("NDF");
    }
    if (dropFrame) {
        const long long minutes = (count / timebase) / 60;
        count += 2 * (minutes - minutes / 10);
    }
    const long long frame = count % timebase;
    const long long totalSeconds = count / timebase;
    const long long seconds = totalSeconds % 60;
    const long long minutes = (totalSeconds / 60) % 60;
    const long long hours = (totalSeconds / 3600) % 24;
    if (dropFrame)
        return qfFormat("%0.2li:%0.2li:%0.2li;%0.2li", hours, minutes, seconds, frame);
    return qfFormat("%0.2li:%0.2li:%0.2li:%0.2li", hours, minutes, seconds, frame);
}

QString QFTombrelBackup::startTimeForNode(const pugi::xml_node &node) const
{
    for (const char *query : { "./start[1]/text()", "./in[1]/text()", ".//start[1]/text()", ".//in[1]/text()" }) {
        const QString frames = QFXMLParser::stringValueForQuery(QString::fromLatin1(query), node);
        if (!frames.isNull())
            return timecodeFromFrames(frames, node);
    }
    return {};
}

QStringList QFTombrelBackup::uuidHistoryForNode(const pugi::xml_node &node) const
{
    QStringList history = QFXMLParser::stringValuesForQuery(QStringLiteral("./itemhistory[1]/uuid[1]"), node);
    if (history.isEmpty())
        history = QFXMLParser::stringValuesForQuery(QStringLiteral(".//itemhistory[1]/uuid[1]"), node);
    history.removeAll(QStringLiteral(""));
    return history;
}

QString QFTombrelBackup::typeOfNode(const pugi::xml_node &node) const
{
    const QString name = QFXMLParser::name(node);
    if (name.isNull())
        return name;
    return capitalized(QString(name).replace(QLatin1String("clipitem"), QLatin1String("clip")));
}

QString QFTombrelBackup::capitalizeFirstLetter(const QString &string) const
{
    if (string.isEmpty())
        return string;
    return string.left(1).toUpper() + string.mid(1);
}

QString QFTombrelBackup::changeStringFromFCPNode(const pugi::xml_node &node, const QString &nodeName,
    const QString &nodeValue, const pugi::xml_node &nodeParent, const QString &nodeParentName,
    const pugi::xml_node &oldNode, const QString &oldValue, const QStringList &withUUIDList,
    const QStringList &withIDList)
{
    if (cancelledWithGUI()) {
        endProgress();
        return {};
    }
    return QFChangePhrases::forChangedLeaf(
        *this, node, nodeName, nodeValue, nodeParent, nodeParentName, oldNode, oldValue, withUUIDList);
}
