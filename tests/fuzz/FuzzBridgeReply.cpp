// The editor bridge's answers: the fuzz input describes a reply's argument as a tree of D-Bus values
// (strings, bytes, numbers, lists, dictionaries, variants in variants), which the reply decoding and
// the readers of export and list answers must take without crashing.

#include "foundation/QFAppleEvents.h"

#include <QDBusMessage>
#include <QDBusVariant>
#include <QVariantList>
#include <QVariantMap>

#include <cstddef>
#include <cstdint>

namespace {

struct Input {
    const uint8_t *data;
    size_t size;
    size_t at = 0;
    uint8_t next() { return at < size ? data[at++] : 0; }
    QByteArray take(size_t n)
    {
        n = std::min(n, size - at);
        QByteArray out(reinterpret_cast<const char *>(data + at), qsizetype(n));
        at += n;
        return out;
    }
};

const char *const kKeys[] = { "xmlD", "fcOP", "fcPf", "----", "errn", "other" };

QVariant value(Input &in, int depth)
{
    const uint8_t kind = in.next();
    if (depth > 8)
        return QString();
    switch (kind % 9) {
    case 0:
        return QString::fromUtf8(in.take(in.next()));
    case 1:
        return in.take(size_t(in.next()) * 16);
    case 2:
        return qint64(int8_t(in.next())) * 1000003;
    case 3:
        return bool(in.next() & 1);
    case 4: {
        QVariantList list;
        for (int n = in.next() % 6; n > 0; --n)
            list << value(in, depth + 1);
        return list;
    }
    case 5: {
        QVariantMap map;
        for (int n = in.next() % 6; n > 0; --n)
            map.insert(QString::fromLatin1(kKeys[in.next() % 6]), value(in, depth + 1));
        return map;
    }
    case 6:
        return QVariant::fromValue(QDBusVariant(value(in, depth + 1)));
    case 7:
        return double(in.next()) / 7.0;
    default:
        return QVariant();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input in { data, size };
    QVariantList arguments;
    for (int n = in.next() % 3; n > 0; --n)
        arguments << value(in, 0);
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("com.apple.FinalCutPro"), QStringLiteral("/"),
        QStringLiteral("com.quenfield.EditorBridge"), QStringLiteral("HandleEvent"));
    const QDBusMessage reply = (in.next() & 1)
        ? call.createErrorReply(QStringLiteral("org.example.Error"), QStringLiteral("no"))
        : call.createReply(arguments);
    if (const auto parameters = QFAppleEvents::replyParameters(reply)) {
        QFAppleEvents::xmlFromReply(*parameters);
        QFAppleEvents::openProjectsFromReply(*parameters);
    }
    return 0;
}
