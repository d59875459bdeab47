// The change list of two editor exports. The input is split in two at its first NUL byte (or in the
// middle when it has none): the older document, then the newer one.

#include "engine/QFTombrelBackup.h"
#include "engine/QFXMLParser.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    const void *nul = std::memchr(bytes, '\0', size);
    const size_t split = nul ? size_t(static_cast<const char *>(nul) - bytes) : size / 2;
    const QByteArray older(bytes, qsizetype(split));
    const QByteArray newer = split < size
        ? QByteArray(bytes + split + (nul ? 1 : 0), qsizetype(size - split - (nul ? 1 : 0)))
        : QByteArray();

    const auto oldDoc = QFXMLParser::documentFromData(older);
    const auto newDoc = QFXMLParser::documentFromData(newer);
    if (!oldDoc || !newDoc)
        return 0;
    QFTombrelBackup engine;
    engine.changeListForFCPXMLDoc(newDoc.get(), oldDoc.get(), QFXMLParser::uuidList(*oldDoc),
        QFXMLParser::idList(*oldDoc), QFXMLParser::uuidList(*newDoc), QFXMLParser::idList(*newDoc));
    return 0;
}
