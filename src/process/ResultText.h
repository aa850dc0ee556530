#pragma once

#include <string>
#include <string_view>

// A result text as it goes on the wire: held to what the thread's ANSI code page can
// represent (other characters become its default character), then as UTF-8. Stops at the
// first NUL.
std::string ResultToUtf8(std::u16string_view result);
