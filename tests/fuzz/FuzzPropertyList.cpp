// The property-list reader over any bytes: XML and binary lists written by other programs, damaged
// files. Whatever it accepts must come back through the writer.

#include "foundation/platform/QFPropertyList.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto value = QFPropertyList::parse(bytes);
    if (!value)
        return 0;
    QFPropertyList::integerValue(*value);
    const QByteArray xml = QFPropertyList::toXml(*value);
    // A value read from a list is one a list can hold (dates out of range aside, which the writer refuses).
    if (!xml.isEmpty() && !QFPropertyList::parse(xml))
        std::abort();
    return 0;
}
