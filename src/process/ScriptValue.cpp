#include "process/ScriptValue.h"

namespace {

// The value of the first occurrence of key directly followed by open, up to the next close.
// An occurrence not followed by open is skipped whole, so an overlapping one is not seen.
std::u16string GetDelimitedValue(std::u16string_view key, std::u16string_view text, char16_t open,
                                 char16_t close) {
    if (text.empty() || key.empty())
        return {};
    for (std::size_t p = 0;;) {
        const std::size_t found = text.find(key, p);
        if (found == std::u16string_view::npos)
            return {};
        const std::size_t q = found + key.size();
        if (q < text.size() && text[q] == open) {
            const std::size_t end = text.find(close, q);
            return end == std::u16string_view::npos
                       ? std::u16string()
                       : std::u16string(text.substr(q + 1, end - q - 1));
        }
        p = q;
    }
}

} // namespace

std::u16string GetBraceValue(std::u16string_view key, std::u16string_view text) {
    return GetDelimitedValue(key, text, u'{', u'}');
}

std::u16string GetBracketValue(std::u16string_view key, std::u16string_view text) {
    return GetDelimitedValue(key, text, u'[', u']');
}
