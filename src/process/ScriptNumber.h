#pragma once

#include <cstdint>
#include <string_view>

// The number rule of script values: leading white space, an optional sign, then the decimal
// digits "0" to "9" up to the first other character. No digit gives 0; values beyond the
// 32-bit range are clamped to it.
std::int32_t ScriptNumber(std::u16string_view value);
