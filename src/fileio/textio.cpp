#include "fileio/textio.h"

#include <QFile>
#include <QList>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <system_error>
#include <clocale>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

namespace {

locale_t cLocale()
{
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

// Switches this thread to the C locale for its lifetime.
class CLocaleScope {
public:
    CLocaleScope() : m_old(uselocale(cLocale())) {}
    ~CLocaleScope() { uselocale(m_old); }
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    locale_t m_old;
};

} // namespace

QByteArray formatC(const char* format, ...)
{
    CLocaleScope scope;
    char buf[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    if (n < 0)
        return QByteArray();
    if (n < static_cast<int>(sizeof buf))
        return QByteArray(buf, n);
    // Very large floats print hundreds of digits with "%f".
    QByteArray big(n, '\0');
    va_start(args, format);
    std::vsnprintf(big.begin(), static_cast<size_t>(n) + 1, format, args);
    va_end(args);
    return big;
}

NumberText readFloat(QByteArrayView text, float& value)
{
    if (text.isEmpty())
        return NumberText::Empty;
    // strtof skips blanks in front; a value has none (the readers take them off).
    if (std::isspace(static_cast<unsigned char>(text.front())))
        return NumberText::NotANumber;
    // Terminated for the parser; a NUL inside the text ends the parse early and so fails it.
    const QByteArray copy = text.toByteArray();
    CLocaleScope scope;
    char* end = nullptr;
    errno = 0;
    const float v = std::strtof(copy.constData(), &end);
    // ERANGE with an infinity tells a number too large for a float from an "inf" written out.
    const bool range = errno == ERANGE;
    if (end != copy.constData() + copy.size())
        return NumberText::NotANumber;
    if (std::isnan(v) || (std::isinf(v) && !range))
        return NumberText::NotFinite;
    if (std::isinf(v))
        return NumberText::OutOfRange;
    value = v;
    return NumberText::Ok;
}

QByteArray shortestText(float value)
{
    char buf[32];
    return QByteArray(buf, int(std::to_chars(buf, buf + sizeof buf, value).ptr - buf));
}

NumberText readWholeNumber(QByteArrayView text, qint64 lo, qint64 hi, qint64& value)
{
    if (text.isEmpty())
        return NumberText::Empty;
    // from_chars takes a minus but no plus; after either sign a digit must follow.
    const char* first = text.begin();
    const char* const last = first + text.size();
    const char* digits = first + (*first == '-' || *first == '+' ? 1 : 0);
    if (digits == last || *digits < '0' || *digits > '9')
        return NumberText::NotANumber;
    if (*first == '+')
        ++first;
    qint64 v = 0;
    const std::from_chars_result read = std::from_chars(first, last, v);
    if (read.ptr != last) {
        // A number too long for 64 bits stops the parse at its end all the same.
        return NumberText::NotANumber;
    }
    if (read.ec == std::errc::result_out_of_range || v < lo || v > hi)
        return NumberText::OutOfRange;
    value = v;
    return NumberText::Ok;
}

QString floatText(float value)
{
    return QString::fromLatin1(shortestText(value));
}

QString roundedText(float value)
{
    QByteArray text = formatC("%f", static_cast<double>(value));
    // "%f" always writes a point and six decimals for a finite value.
    if (text.contains('.')) {
        while (text.endsWith('0'))
            text.chop(1);
        if (text.endsWith('.'))
            text.chop(1);
    }
    if (text == "-0")
        text = "0";
    return QString::fromLatin1(text);
}

bool readFloatEntry(const QString& text, float& value, QString* why)
{
    const QByteArray t = text.trimmed().toUtf8();
    const NumberText result = t.isEmpty() ? NumberText::Empty : readFloat(t, value);
    if (result != NumberText::Ok && why)
        *why = result == NumberText::Empty ? QStringLiteral("a number is needed") : numberFault(result);
    return result == NumberText::Ok;
}

QString numberFault(NumberText result)
{
    switch (result) {
    case NumberText::Ok:
        break;
    case NumberText::Empty:
        return QStringLiteral("empty");
    case NumberText::NotANumber:
        return QStringLiteral("not a number");
    case NumberText::NotFinite:
        return QStringLiteral("not a finite number");
    case NumberText::OutOfRange:
        return QStringLiteral("out of range");
    }
    return QString();
}

QString numberProblem(NumberText result)
{
    return result == NumberText::Ok ? QString() : QStringLiteral("is ") + numberFault(result);
}

namespace {

// The length of the UTF-8 sequence that `lead` begins, 0 when it begins none.
int utf8Length(unsigned char lead)
{
    if (lead >= 0xc2 && lead <= 0xdf)
        return 2;
    if (lead >= 0xe0 && lead <= 0xef)
        return 3;
    if (lead >= 0xf0 && lead <= 0xf4)
        return 4;
    return 0;
}

} // namespace

QString printable(QByteArrayView text, int max)
{
    QString out;
    for (qsizetype k = 0; k < text.size();) {
        if (out.size() >= max)
            return out + QStringLiteral("...");
        const unsigned char c = static_cast<unsigned char>(text[k]);
        if (c >= 0x20 && c < 0x7f) {
            out += QLatin1Char(char(c));
            ++k;
            continue;
        }
        // A printable character written in UTF-8 stays as it is (names in any language).
        const int len = utf8Length(c);
        if (len > 0 && k + len <= text.size()) {
            const QList<uint> ucs = QString::fromUtf8(text.sliced(k, len)).toUcs4();
            if (ucs.size() == 1 && ucs[0] != 0xfffd && QChar::isPrint(char32_t(ucs[0]))) {
                out += QString::fromUcs4(reinterpret_cast<const char32_t*>(ucs.constData()), 1);
                k += len;
                continue;
            }
        }
        switch (c) {
        case '\n':
            out += QStringLiteral("\\n");
            break;
        case '\r':
            out += QStringLiteral("\\r");
            break;
        case '\t':
            out += QStringLiteral("\\t");
            break;
        default:
            out += QStringLiteral("\\x%1").arg(c, 2, 16, QChar('0'));
        }
        ++k;
    }
    return out;
}

QString printableName(const QString& fileName)
{
    // Long enough for any sensible path; a longer name keeps its start and, more telling, its end.
    constexpr int kKeep = 160, kHead = 40;
    const QString all = printable(QFile::encodeName(fileName), INT_MAX);
    if (all.size() <= kKeep)
        return all;
    return all.left(kHead) + QStringLiteral("...") + all.right(kKeep - kHead - 3);
}
