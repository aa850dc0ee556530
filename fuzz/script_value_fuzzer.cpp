// Value extraction and the number rule, against plain reference versions.
//
// Input: one byte giving the key's length in units, then the key's units, then the text's.
// A byte below 0xFF is the unit of the same value; 0xFF and the two bytes after it are any unit
// (low byte first), so that surrogates and far white space can be reached too.
#include "fuzz_check.h"
#include "process/ScriptNumber.h"
#include "process/ScriptValue.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

class Units {
public:
    Units(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ == size_; }

    std::uint8_t Byte() { return empty() ? 0 : data_[at_++]; }

    // Up to count units, fewer where the input ends.
    std::u16string Take(std::size_t count) {
        std::u16string out;
        while (out.size() < count && !empty()) {
            const std::uint8_t byte = Byte();
            if (byte != 0xFF) {
                out += static_cast<char16_t>(byte);
            } else {
                const std::uint8_t low = Byte();
                out += static_cast<char16_t>(low | Byte() << 8);
            }
        }
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

bool MatchesAt(const std::u16string& text, std::size_t at, const std::u16string& key) {
    if (text.size() - at < key.size())
        return false;
    for (std::size_t k = 0; k < key.size(); ++k)
        if (text[at + k] != key[k])
            return false;
    return true;
}

// Walks text unit by unit: an occurrence of key not followed by open is passed over whole.
std::u16string ReferenceValue(const std::u16string& key, const std::u16string& text, char16_t open,
                              char16_t close) {
    if (key.empty())
        return {};
    std::size_t at = 0;
    while (at < text.size()) {
        if (!MatchesAt(text, at, key)) {
            ++at;
            continue;
        }
        at += key.size();
        if (at < text.size() && text[at] == open) {
            std::u16string value;
            for (std::size_t k = at + 1; k < text.size(); ++k) {
                if (text[k] == close)
                    return value;
                value += text[k];
            }
            return {};
        }
    }
    return {};
}

void CheckValue(const std::u16string& key, const std::u16string& text, const std::u16string& value,
                char16_t open, char16_t close) {
    FUZZ_CHECK(value == ReferenceValue(key, text, open, close));
    FUZZ_CHECK(value.find(close) == std::u16string::npos);
    FUZZ_CHECK(value.empty() || text.find(key + open + value + close) != std::u16string::npos);
    if (text.find(key + open) == std::u16string::npos)
        FUZZ_CHECK(value.empty());
}

// strtol in the C locale, clamped to 32 bits; only for ASCII.
std::int32_t ReferenceNumber(const std::u16string& value) {
    const std::string narrow(value.begin(), value.end());
    const long number = std::strtol(narrow.c_str(), nullptr, 10);
    return static_cast<std::int32_t>(std::clamp<long>(number, INT32_MIN, INT32_MAX));
}

void CheckNumber(const std::u16string& value) {
    const std::int32_t number = ScriptNumber(value);
    const bool ascii = std::all_of(value.begin(), value.end(), [](char16_t c) { return c < 0x80; });
    if (ascii)
        FUZZ_CHECK(number == ReferenceNumber(value));
    if (number < 0)
        FUZZ_CHECK(value.find(u'-') != std::u16string::npos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Units units(data, size);
    const std::size_t key_length = units.Byte();
    const std::u16string key = units.Take(key_length);
    const std::u16string text = units.Take(size);

    const std::u16string brace = GetBraceValue(key, text);
    const std::u16string bracket = GetBracketValue(key, text);
    CheckValue(key, text, brace, u'{', u'}');
    CheckValue(key, text, bracket, u'[', u']');
    CheckNumber(text);
    CheckNumber(brace);
    CheckNumber(bracket);
    return 0;
}
