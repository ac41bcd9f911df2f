#include "fileio/textio.h"

#include <cerrno>
#include <climits>
#include <clocale>
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
    std::vsnprintf(big.data(), static_cast<size_t>(n) + 1, format, args);
    va_end(args);
    return big;
}

bool scanInt(const char*& text, int& value)
{
    CLocaleScope scope;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (end == text || errno == ERANGE || v < INT_MIN || v > INT_MAX)
        return false;
    value = static_cast<int>(v);
    text = end;
    return true;
}

bool scanFloat(const char*& text, float& value)
{
    CLocaleScope scope;
    char* end = nullptr;
    const float v = std::strtof(text, &end);
    if (end == text)
        return false;
    value = v;
    text = end;
    return true;
}

int scanFloats3(const char* text, float& x, float& y, float& z)
{
    if (!scanFloat(text, x))
        return 0;
    if (!scanFloat(text, y))
        return 1;
    return scanFloat(text, z) ? 3 : 2;
}
