#include "foundation/platform/QFFormat.h"

#include <cstdio>
#include <vector>

QString QFFormatArg::text() const
{
    switch (m_kind) {
    case Kind::Text:
        return m_text.isNull() ? QStringLiteral("(null)") : m_text;
    case Kind::Signed:
        return QString::number(m_signed);
    case Kind::Unsigned:
        return QString::number(m_unsigned);
    case Kind::Real:
        return QString::number(m_real, 'g', 17);
    case Kind::Character:
        return QString(QChar(char16_t(m_unsigned)));
    }
    return {};
}

long long QFFormatArg::asSigned() const
{
    switch (m_kind) {
    case Kind::Signed:
        return m_signed;
    case Kind::Unsigned:
    case Kind::Character:
        return static_cast<long long>(m_unsigned);
    case Kind::Real:
        return static_cast<long long>(m_real);
    case Kind::Text:
        return m_text.toLongLong();
    }
    return 0;
}

unsigned long long QFFormatArg::asUnsigned() const
{
    switch (m_kind) {
    case Kind::Signed:
        return static_cast<unsigned long long>(m_signed);
    case Kind::Unsigned:
    case Kind::Character:
        return m_unsigned;
    case Kind::Real:
        return static_cast<unsigned long long>(m_real);
    case Kind::Text:
        return m_text.toULongLong();
    }
    return 0;
}

double QFFormatArg::asReal() const
{
    switch (m_kind) {
    case Kind::Signed:
        return double(m_signed);
    case Kind::Unsigned:
    case Kind::Character:
        return double(m_unsigned);
    case Kind::Real:
        return m_real;
    case Kind::Text:
        return m_text.toDouble();
    }
    return 0;
}

namespace {

bool isFlag(QChar c)
{
    return c == u'-' || c == u'+' || c == u' ' || c == u'#' || c == u'0';
}

bool isLength(QChar c)
{
    return c == u'h' || c == u'l' || c == u'q' || c == u'z' || c == u'j' || c == u't' || c == u'L';
}

QString pad(const QString &text, int width, bool left)
{
    if (width <= text.size())
        return text;
    const QString fill(width - text.size(), u' ');
    return left ? text + fill : fill + text;
}

// Runs one numeric conversion through the C library with the flags, width and precision as written.
QString printfNumber(const QString &flagsWidthPrecision, char conversion, const QFFormatArg &arg)
{
    std::string conversionText = "%" + flagsWidthPrecision.toStdString();
    char buffer[512];
    int n = 0;
    switch (conversion) {
    case 'd':
    case 'i':
        conversionText += "ll";
        conversionText += conversion;
        n = std::snprintf(buffer, sizeof buffer, conversionText.c_str(), arg.asSigned());
        break;
    case 'u':
    case 'x':
    case 'X':
    case 'o':
        conversionText += "ll";
        conversionText += conversion;
        n = std::snprintf(buffer, sizeof buffer, conversionText.c_str(), arg.asUnsigned());
        break;
    default:
        conversionText += conversion;
        n = std::snprintf(buffer, sizeof buffer, conversionText.c_str(), arg.asReal());
        break;
    }
    if (n < 0)
        return {};
    return QString::fromLatin1(buffer, qMin<qsizetype>(n, qsizetype(sizeof buffer) - 1));
}

} // namespace

QString qfFormatList(QStringView format, std::initializer_list<QFFormatArg> args)
{
    const std::vector<QFFormatArg> list(args);
    std::size_t next = 0;
    QString out;
    out.reserve(format.size() + 16 * qsizetype(list.size()));

    qsizetype i = 0;
    const qsizetype n = format.size();
    while (i < n) {
        const QChar c = format[i];
        if (c != u'%') {
            out += c;
            ++i;
            continue;
        }
        const qsizetype start = i;
        ++i;
        if (i < n && format[i] == u'%') {
            out += u'%';
            ++i;
            continue;
        }
        QString flagsWidthPrecision;
        bool leftAlign = false;
        while (i < n && isFlag(format[i])) {
            leftAlign = leftAlign || format[i] == u'-';
            flagsWidthPrecision += format[i++];
        }
        int width = 0;
        while (i < n && format[i].isDigit()) {
            width = width * 10 + format[i].digitValue();
            flagsWidthPrecision += format[i++];
        }
        if (i < n && format[i] == u'.') {
            flagsWidthPrecision += format[i++];
            while (i < n && format[i].isDigit())
                flagsWidthPrecision += format[i++];
        }
        while (i < n && isLength(format[i]))
            ++i;
        if (i >= n) {
            out += format.mid(start);
            break;
        }
        const char16_t conversion = format[i].unicode();
        ++i;
        const bool known = conversion == u'@' || conversion == u's' || conversion == u'S' || conversion == u'C'
            || conversion == u'c' || conversion == u'd' || conversion == u'i' || conversion == u'u'
            || conversion == u'x' || conversion == u'X' || conversion == u'o' || conversion == u'f'
            || conversion == u'F' || conversion == u'e' || conversion == u'E' || conversion == u'g'
            || conversion == u'G';
        if (!known || next >= list.size()) {
            out += format.mid(start, i - start);
            continue;
        }
        const QFFormatArg &arg = list[next++];
        switch (conversion) {
        case u'@':
        case u's':
        case u'S':
            out += pad(arg.text(), width, leftAlign);
            break;
        case u'C':
        case u'c':
            out += pad(QString(QChar(char16_t(arg.asUnsigned()))), width, leftAlign);
            break;
        default:
            out += printfNumber(flagsWidthPrecision, char(conversion), arg);
            break;
        }
    }
    return out;
}
