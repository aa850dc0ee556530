// The request path: payload bytes read in the thread's ANSI code page, run as a script against
// a fake control, and the result as the UTF-8 of the reply.
#include "control/SecurityControl.h"
#include "fuzz_check.h"
#include "platform/code_page.h"
#include "process/ResultText.h"
#include "process/RunProcess.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using platform::CodePage;

constexpr char16_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t c) {
    return c >= 0xD800 && c < 0xDC00;
}

bool IsLowSurrogate(char32_t c) {
    return c >= 0xDC00 && c < 0xE000;
}

bool IsAscii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

bool IsAscii(std::u16string_view text) {
    for (char16_t c : text)
        if (c >= 0x80)
            return false;
    return true;
}

bool SameUnits(std::string_view narrow, std::u16string_view wide) {
    return std::u16string(narrow.begin(), narrow.end()) == wide;
}

// Strict UTF-8: shortest forms only, no surrogates, nothing past U+10FFFF.
bool IsValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        std::size_t length;
        char32_t c, least;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead < 0xE0) {
            length = 2, c = lead & 0x1F, least = 0x80;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            length = 3, c = lead & 0x0F, least = 0x800;
        } else if (lead >= 0xF0 && lead < 0xF5) {
            length = 4, c = lead & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            c = c << 6 | (next & 0x3F);
        }
        if (c < least || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000))
            return false;
        i += length;
    }
    return true;
}

// Every surrogate in text is half of a pair.
bool IsWellFormedUtf16(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]))
            ++i;
        else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i]))
            return false;
    }
    return true;
}

// The UTF-8 of text up to its first NUL, with U+FFFD for a lone surrogate.
std::string EncodeUtf8(std::u16string_view text) {
    text = text.substr(0, text.find(u'\0'));
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]))
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        else if (IsHighSurrogate(c) || IsLowSurrogate(c))
            c = kReplacement;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Answers after a plan: the bytes after the payload's first NUL, which the script never sees.
// Call n takes plan byte n (cycling), so that an input replays the same way: it throws, or
// returns empty text, NUL-first text, a text past half the result bound, a text with lone
// surrogates, or a piece of the script. Without a plan every call returns a piece, so a real
// script runs as against a working control. Keeps what a run should have appended.
class FakeControl : public SecurityControl {
public:
    FakeControl(std::string_view payload, std::u16string_view script)
        : payload_(payload), script_(script) {
        const std::size_t nul = payload.find('\0');
        if (nul != std::string_view::npos)
            plan_ = payload.substr(nul + 1);
    }

    std::u16string GetUselistX() override {
        const std::size_t n = calls_++;
        const unsigned char byte =
            plan_.empty() ? 0xFF : static_cast<unsigned char>(plan_[n % plan_.size()]);
        std::u16string piece = u"-";
        if (!script_.empty())
            piece = script_.substr(n * 31 % script_.size(), (byte ^ n) % 64 + 1);
        switch (plan_.empty() ? 7 : byte % 8) {
        case 0:
            threw_ = true;
            throw ControlError(std::string(payload_.substr(n % (payload_.size() + 1))));
        case 1:
            return Returned({});
        case 2:
            return Returned(u'\0' + piece);
        case 3:
            return Returned(
                std::u16string(kMaxResultLength / 2 + byte, static_cast<char16_t>(0x4E00 + byte)));
        case 4:
            return Returned(char16_t{0xDC00} + piece + u"\U0001F600" + char16_t{0xD800});
        default:
            return Returned(piece);
        }
    }

    std::size_t calls() const { return calls_; }
    bool threw() const { return threw_; }
    // The outputs returned, each up to its first NUL, back to back.
    const std::u16string& joined() const { return joined_; }
    std::size_t last_size() const { return last_size_; }

private:
    std::u16string Returned(std::u16string text) {
        const std::u16string_view kept = std::u16string_view(text).substr(0, text.find(u'\0'));
        joined_ += kept;
        last_size_ = kept.size();
        return text;
    }

    std::string_view payload_;
    std::string_view plan_;
    std::u16string_view script_;
    std::size_t calls_ = 0;
    bool threw_ = false;
    std::u16string joined_;
    std::size_t last_size_ = 0;
};

// "FunctionRes[-1]<what>At[K]" with K a step number: no sign, no leading zero, from 1 on.
bool IsErrorText(const std::u16string& result, std::u16string_view what) {
    const std::u16string head = u"FunctionRes[-1]" + std::u16string(what) + u"At[";
    if (result.compare(0, head.size(), head) != 0 || result.back() != u']')
        return false;
    const std::u16string_view digits =
        std::u16string_view(result).substr(head.size(), result.size() - head.size() - 1);
    if (digits.empty() || digits.size() > 10 || digits[0] == u'0')
        return false;
    std::int64_t step = 0;
    for (char16_t c : digits) {
        if (c < u'0' || c > u'9')
            return false;
        step = step * 10 + (c - u'0');
    }
    return step <= INT32_MAX;
}

void CheckWide(std::string_view narrow, std::u16string_view wide) {
    narrow = narrow.substr(0, narrow.find('\0'));
    FUZZ_CHECK(IsWellFormedUtf16(wide));
    FUZZ_CHECK(wide.find(u'\0') == std::u16string_view::npos);
    // Every supported code page keeps ASCII as it is.
    FUZZ_CHECK(!IsAscii(narrow) || SameUnits(narrow, wide));
}

void CheckPayloadText(std::string_view payload, std::u16string_view script) {
    CheckWide(payload, script);
    if (platform::ansi_code_page() != platform::CP_UTF8)
        return;
    const std::string_view text = payload.substr(0, payload.find('\0'));
    if (IsValidUtf8(text))
        FUZZ_CHECK(EncodeUtf8(script) == text);
    else
        FUZZ_CHECK(script.find(kReplacement) != std::u16string_view::npos);
}

// The payload as a GBK or GB18030 locale would read it.
void CheckChineseCodePages(std::string_view payload) {
    for (const CodePage code_page : {CodePage{936}, CodePage{54936}}) {
        const std::u16string wide = platform::to_wide(code_page, payload);
        CheckWide(payload, wide);
        const std::string narrow = platform::to_narrow(code_page, wide);
        FUZZ_CHECK(narrow.find('\0') == std::string::npos);
        // GB18030 holds every character.
        if (code_page == 54936)
            FUZZ_CHECK(platform::to_wide(code_page, narrow) == wide);
    }
}

void CheckRun(const FakeControl& control, std::size_t script_length, std::int32_t status,
              const std::u16string& result) {
    const auto max_steps = static_cast<std::size_t>(MaxStepsFor(script_length));
    FUZZ_CHECK(control.calls() <= max_steps);
    FUZZ_CHECK(result.size() <= kMaxResultLength);
    FUZZ_CHECK(result.find(u'\0') == std::u16string::npos);
    const std::u16string& joined = control.joined();
    if (control.threw()) {
        // The failing call was the last one; what the steps before it produced stays.
        FUZZ_CHECK(status == -1);
        FUZZ_CHECK(result == joined);
    } else if (status == -1) {
        if (IsErrorText(result, u"StepLimitReached")) {
            FUZZ_CHECK(control.calls() == max_steps);
        } else {
            FUZZ_CHECK(IsErrorText(result, u"ResultTooLong"));
            FUZZ_CHECK(joined.size() > kMaxResultLength);
            FUZZ_CHECK(joined.size() - control.last_size() <= kMaxResultLength);
        }
    } else {
        FUZZ_CHECK(status == 0);
        const bool no_step = control.calls() == 0;
        FUZZ_CHECK(result == joined || (no_step && result == u"-1") ||
                   (no_step ? result == u"FunctionRes[-1]FunctionNotSucessAt[1]"
                            : IsErrorText(result, u"FunctionNotSucess")));
    }
}

void CheckReply(const std::u16string& result, const std::string& reply) {
    FUZZ_CHECK(IsValidUtf8(reply));
    FUZZ_CHECK(reply.find('\0') == std::string::npos);
    FUZZ_CHECK(reply.size() <= 3 * kMaxResultLength);
    FUZZ_CHECK(!IsAscii(result) || SameUnits(reply, result));
    if (platform::ansi_code_page() == platform::CP_UTF8)
        FUZZ_CHECK(reply == EncodeUtf8(result));
    // The reply as a GBK locale makes it; long results only slow the search down.
    if (result.size() > 4096)
        return;
    const std::string gbk = platform::to_narrow(
        platform::CP_UTF8, platform::to_wide(936, platform::to_narrow(936, result)));
    FUZZ_CHECK(IsValidUtf8(gbk));
    FUZZ_CHECK(!IsAscii(result) || SameUnits(gbk, result));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view payload(reinterpret_cast<const char*>(data), size);
    const std::u16string script = platform::to_wide(platform::CP_THREAD_ACP, payload);
    CheckPayloadText(payload, script);
    CheckChineseCodePages(payload);

    FakeControl control(payload, script);
    std::u16string result;
    const std::int32_t status = RunProcess(script, result, control);
    CheckRun(control, script.size(), status, result);
    CheckReply(result, ResultToUtf8(result));
    return 0;
}
