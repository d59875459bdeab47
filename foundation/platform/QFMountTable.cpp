#include "foundation/platform/QFMountTable.h"

#include <QFile>

namespace {

// Decodes the octal escapes (\040 for a blank …) of a mountinfo field.
QString unescapeField(const QByteArray &field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int value = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out += char(value);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return QFile::decodeName(out);
}

} // namespace

QByteArray QFMountTable::read()
{
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList QFMountTable::mountPoints(const QByteArray &table)
{
    QStringList points;
    for (const QByteArray &line : table.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        // A damaged line gives no mount point: an empty one would contain every path.
        if (fields.size() > 4 && fields[4].startsWith('/'))
            points << unescapeField(fields[4]);
    }
    return points;
}
