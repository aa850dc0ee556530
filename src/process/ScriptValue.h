#pragma once

#include <string>
#include <string_view>

// The value of the first "key{value}" entry in text: the first occurrence of key that is
// directly followed by "{", up to the next "}". Empty when there is none.
std::u16string GetBraceValue(std::u16string_view key, std::u16string_view text);

// The same for "key[value]" entries.
std::u16string GetBracketValue(std::u16string_view key, std::u16string_view text);
