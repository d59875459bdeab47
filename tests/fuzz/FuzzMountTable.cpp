// The mount-table reader over any bytes: every mount point it gives is an absolute path.

#include "foundation/platform/QFMountTable.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray table(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const QString &point : QFMountTable::mountPoints(table)) {
        if (!point.startsWith(u'/'))
            std::abort();
    }
    return 0;
}
