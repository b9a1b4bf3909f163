#include "TextNumber.h"

#include <limits>

namespace
{

char32_t unit(QChar c)
{
    return c.unicode();
}

char32_t unit(wchar_t c)
{
    return static_cast<char32_t>(c);
}

bool isCSpace(char32_t c)
{
    return c == U' ' || c == U'\t' || c == U'\n' || c == U'\v' || c == U'\f' || c == U'\r';
}

template <typename Text> std::int32_t parse(const Text& text)
{
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && isCSpace(unit(text[i])))
        ++i;
    bool negative = false;
    if (i < n && (unit(text[i]) == U'+' || unit(text[i]) == U'-')) {
        negative = unit(text[i]) == U'-';
        ++i;
    }
    // Accumulate in 64 bits and stop growing once past the 32-bit range; the clamp decides the result.
    std::int64_t value = 0;
    constexpr std::int64_t limit = std::int64_t(std::numeric_limits<std::int32_t>::max()) + 1;
    for (; i < n; ++i) {
        const char32_t c = unit(text[i]);
        if (c < U'0' || c > U'9')
            break;
        if (value <= limit)
            value = value * 10 + (c - U'0');
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

} // namespace

std::int32_t ParseDecimal(QStringView text)
{
    return parse(text);
}

std::int32_t ParseDecimal(std::wstring_view text)
{
    return parse(text);
}
