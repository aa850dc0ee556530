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

// The numeric code page behind CP_ACP: read once from the environment's locale (LC_CTYPE)
// without changing the process's locale. UTF-8, GBK/GB2312 (936), GB18030 (54936) and
// ISO-8859-1 (28591) are recognised; the plain C/POSIX locale, any other character set and an
// unusable locale count as UTF-8.
CodePage ansi_code_page();

// A code page other than 65001, 936, 54936, 28591 and 20127 (ASCII) is taken as iconv's
// "CP<number>"; one that iconv does not know converts every text to empty text.
// Both functions are safe to call from any thread.

// Narrow text in the given code page to UTF-16. Reads up to the first NUL; an invalid byte
// becomes U+FFFD and conversion goes on with the next byte; a character cut off by the end of
// the text becomes one U+FFFD.
std::u16string to_wide(CodePage code_page, std::string_view text);

// UTF-16 to narrow text in the given code page. Reads up to the first NUL; a character the
// code page cannot hold (a surrogate pair is one character) becomes the code page's default
// character: "?", or U+FFFD for UTF-8, where only a lone surrogate has no encoding.
std::string to_narrow(CodePage code_page, std::u16string_view text);

} // namespace platform
