#pragma once

#include <string>
#include <string_view>

// UTF-8 text from the source code (log formats holding Chinese text) in the ANSI code page,
// the code page the log file is read in. Callers convert each format once and keep it.
std::string AnsiFromUtf8(std::string_view utf8);
