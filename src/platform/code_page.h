#pragma once

#include <string>
#include <string_view>

namespace platform {

// Code page identifiers as the rest of the program names them. Any other number is a
// numeric code page such as 936 (GBK).
using CodePage = unsigned;
constexpr CodePage CP_ACP = 0;        // the process's ANSI code page
constexpr CodePage CP_THREAD_ACP = 3; // the calling thread's ANSI code page (same as CP_ACP here)
constexpr CodePage CP_UTF8 = 65001;

// The numeric code page behind CP_ACP: read once from the locale's character set; the plain
// C/POSIX locale counts as UTF-8.
CodePage ansi_code_page();

// Narrow text in the given code page to UTF-16. Reads up to the first NUL; a byte sequence
// that is not valid in the code page becomes U+FFFD.
std::u16string to_wide(CodePage code_page, std::string_view text);

// UTF-16 to narrow text in the given code page. Reads up to the first NUL; a character the
// code page cannot hold becomes the code page's default character ("?"; U+FFFD for UTF-8).
std::string to_narrow(CodePage code_page, std::u16string_view text);

} // namespace platform
