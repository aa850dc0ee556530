#include "process/ScriptNumber.h"

#include <algorithm>
#include <limits>

namespace {

// The characters Unicode gives the White_Space property.
bool IsWhiteSpace(char16_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

} // namespace

std::int32_t ScriptNumber(std::u16string_view value) {
    using Limits = std::numeric_limits<std::int32_t>;
    std::size_t i = 0;
    while (i < value.size() && IsWhiteSpace(value[i]))
        ++i;
    const bool negative = i < value.size() && value[i] == u'-';
    if (i < value.size() && (value[i] == u'+' || value[i] == u'-'))
        ++i;
    // The magnitude stops growing just beyond the 32-bit range; clamping does the rest.
    constexpr std::int64_t kBeyond = std::int64_t{Limits::max()} + 1;
    std::int64_t magnitude = 0;
    for (; i < value.size() && IsDigit(value[i]); ++i)
        magnitude = std::min(magnitude * 10 + (value[i] - u'0'), kBeyond);
    const std::int64_t number = negative ? -magnitude : magnitude;
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(number, Limits::min(), Limits::max()));
}
