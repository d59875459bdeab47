#pragma once

// The backup engine: one instance per program. Its operations run on whatever thread calls them; the
// flags may be set from any thread.

#include <pugixml.hpp>

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <optional>

class QFTombrelBackup {
public:
    QFTombrelBackup() = default;
    ~QFTombrelBackup() = default;
    QFTombrelBackup(const QFTombrelBackup &) = delete;
    QFTombrelBackup &operator=(const QFTombrelBackup &) = delete;
    QFTombrelBackup(QFTombrelBackup &&) = delete;
    QFTombrelBackup &operator=(QFTombrelBackup &&) = delete;

    // --- Flags -------------------------------------------------------------------------------------
    // Cancellation is honoured only by an engine that serves a window (hasGUI).
    bool processingCancelled() const;
    void setProcessingCancelled(bool processingCancelled);
    bool hasGUI() const;
    void setHasGUI(bool hasGUI);

    // --- Progress (only with hasGUI; run on the main thread) ---------------------------------------
    void setEndProgressHandler(std::function<void()> handler);
    void endProgress();

    // --- Change lists of Final Cut Pro XML ---------------------------------------------------------
    // The change lines of doc against the older baseDoc; empty when either is missing, none when
    // cancelled. The lists are the texts of every uuid element and id attribute of each document.
    std::optional<QStringList> changeListForFCPXMLDoc(const pugi::xml_document *doc, const pugi::xml_document *baseDoc,
        const QStringList &oldUUIDList, const QStringList &oldIDList, const QStringList &newUUIDList,
        const QStringList &newIDList);
    pugi::xml_node nextBaseNode(const pugi::xml_node &oldNode, const pugi::xml_node &newNode) const;
    // One sentence for a changed leaf element, or a null string when the change is not worth one.
    QString changeStringFromFCPNode(const pugi::xml_node &node, const QString &nodeName, const QString &nodeValue,
        const pugi::xml_node &nodeParent, const QString &nodeParentName, const pugi::xml_node &oldNode,
        const QString &oldValue, const QStringList &withUUIDList, const QStringList &withIDList);
    QString timecodeFromFrames(const QString &frames, const pugi::xml_node &withNode) const;
    QString startTimeForNode(const pugi::xml_node &node) const;
    QStringList uuidHistoryForNode(const pugi::xml_node &node) const;
    QString typeOfNode(const pugi::xml_node &node) const;
    QString capitalizeFirstLetter(const QString &string) const;

private:
    class ChangeListWalk;
    QString changeString(const pugi::xml_node &node, const QString &nodeName, const QString &nodeValue,
        const pugi::xml_node &nodeParent, const QString &nodeParentName, const QString &oldValue,
        const std::function<bool(const QString &)> &isOldUUID);
    bool cancelledWithGUI() const;

    std::atomic<bool> m_processingCancelled { false };
    std::atomic<bool> m_hasGUI { false };
    std::function<void()> m_endProgressHandler;
};
