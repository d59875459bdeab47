#pragma once

// Fills the system's printf-style texts ("%@", "%i", "%li", "%lu", "%s", "%C", "%%", "%0.2f", "%04x" …)
// so that a text in the code reads exactly as the system shows it. Missing arguments leave their
// conversion in the text; a null string given to "%@" reads "(null)".

#include <QByteArray>
#include <QChar>
#include <QString>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

class QFFormatArg final {
public:
    enum class Kind { Text, Signed, Unsigned, Real, Character };

    QFFormatArg(const QString &text)
        : m_kind(Kind::Text)
        , m_text(text)
    {
    }
    QFFormatArg(const char *text)
        : m_kind(Kind::Text)
        , m_text(text ? QString::fromUtf8(text) : QString())
    {
    }
    QFFormatArg(const std::string &text)
        : m_kind(Kind::Text)
        , m_text(QString::fromStdString(text))
    {
    }
    QFFormatArg(std::string_view text)
        : m_kind(Kind::Text)
        , m_text(QString::fromUtf8(text.data(), qsizetype(text.size())))
    {
    }
    QFFormatArg(const QByteArray &text)
        : m_kind(Kind::Text)
        , m_text(QString::fromUtf8(text))
    {
    }
    QFFormatArg(QChar c)
        : m_kind(Kind::Character)
        , m_unsigned(c.unicode())
    {
    }
    QFFormatArg(char16_t c)
        : m_kind(Kind::Character)
        , m_unsigned(c)
    {
    }
    QFFormatArg(char c)
        : m_kind(Kind::Character)
        , m_unsigned(static_cast<unsigned char>(c))
    {
    }
    QFFormatArg(bool b)
        : m_kind(Kind::Signed)
        , m_signed(b ? 1 : 0)
    {
    }
    QFFormatArg(int v)
        : m_kind(Kind::Signed)
        , m_signed(v)
    {
    }
    QFFormatArg(long v)
        : m_kind(Kind::Signed)
        , m_signed(v)
    {
    }
    QFFormatArg(long long v)
        : m_kind(Kind::Signed)
        , m_signed(v)
    {
    }
    QFFormatArg(unsigned v)
        : m_kind(Kind::Unsigned)
        , m_unsigned(v)
    {
    }
    QFFormatArg(unsigned long v)
        : m_kind(Kind::Unsigned)
        , m_unsigned(v)
    {
    }
    QFFormatArg(unsigned long long v)
        : m_kind(Kind::Unsigned)
        , m_unsigned(v)
    {
    }
    QFFormatArg(double v)
        : m_kind(Kind::Real)
        , m_real(v)
    {
    }
    QFFormatArg(float v)
        : m_kind(Kind::Real)
        , m_real(v)
    {
    }

    Kind kind() const { return m_kind; }
    QString text() const;
    long long asSigned() const;
    unsigned long long asUnsigned() const;
    double asReal() const;

private:
    Kind m_kind;
    QString m_text;
    long long m_signed = 0;
    unsigned long long m_unsigned = 0;
    double m_real = 0;
};

QString qfFormatList(QStringView format, std::initializer_list<QFFormatArg> args);

template <typename... Args> QString qfFormat(const char *format, const Args &...args)
{
    return qfFormatList(QString::fromUtf8(format), { QFFormatArg(args)... });
}

template <typename... Args> QString qfFormat(const QString &format, const Args &...args)
{
    return qfFormatList(format, { QFFormatArg(args)... });
}
