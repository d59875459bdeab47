// The reader of MLT projects and the comparison of two. The input is split in two at its first NUL byte (or
// in the middle when it has none): the older project, then the newer one. Each is also compared with itself,
// which must say nothing.

#include "engine/QFMLTChangeList.h"
#include "engine/QFMLTModel.h"
#include "engine/QFXMLParser.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

std::optional<QFMLTModel> modelOf(const QByteArray &data)
{
    const auto document = QFXMLParser::documentFromData(data);
    if (!document || !QFMLTModel::isMLTDocument(*document))
        return std::nullopt;
    return QFMLTModel::fromDocument(*document);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    const void *nul = std::memchr(bytes, '\0', size);
    const size_t split = nul ? size_t(static_cast<const char *>(nul) - bytes) : size / 2;
    const QByteArray older(bytes, qsizetype(split));
    const QByteArray newer = split < size
        ? QByteArray(bytes + split + (nul ? 1 : 0), qsizetype(size - split - (nul ? 1 : 0)))
        : QByteArray();

    const auto oldModel = modelOf(older);
    const auto newModel = modelOf(newer);
    for (const auto *model : { &oldModel, &newModel }) {
        if (*model && !QFMLTChangeList::changeLines(**model, **model).isEmpty())
            std::abort();
    }
    if (oldModel && newModel) {
        const QStringList lines = QFMLTChangeList::changeLines(*oldModel, *newModel);
        if (lines.size() > QFMLTChangeList::kLineLimit + 1)
            std::abort();
    }
    return 0;
}
