#include "platform/code_page.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <map>
#include <mutex>
#include <strings.h>
#include <utility>

namespace platform {
namespace {

constexpr const char* kUtf16 = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? "UTF-16LE" : "UTF-16BE";
constexpr char16_t kReplacement = u'\uFFFD';
constexpr std::size_t kNoConversion = static_cast<std::size_t>(-1);

CodePage code_page_of_codeset(const char* codeset) {
    static const std::pair<const char*, CodePage> known[] = {
        {"UTF-8", CP_UTF8}, {"ANSI_X3.4-1968", CP_UTF8},
        {"ASCII", CP_UTF8}, {"GBK", 936},
        {"GB2312", 936},    {"CP936", 936},
        {"GB18030", 54936}, {"ISO-8859-1", 28591},
    };
    for (const auto& [name, code_page] : known)
        if (strcasecmp(codeset, name) == 0)
            return code_page;
    return CP_UTF8;
}

std::string iconv_name(CodePage code_page) {
    switch (code_page) {
    case CP_UTF8:
        return "UTF-8";
    case 936:
        return "CP936";
    case 54936:
        return "GB18030";
    case 28591:
        return "ISO-8859-1";
    case 20127:
        return "ASCII";
    default:
        return "CP" + std::to_string(code_page);
    }
}

CodePage resolve(CodePage code_page) {
    return code_page == CP_ACP || code_page == CP_THREAD_ACP ? ansi_code_page() : code_page;
}

// glibc loads and unloads conversion modules in iconv_open and iconv_close under its own
// locks, which thread sanitizers cannot see; this lock makes that ordering visible to them.
std::mutex open_close_mutex;

// One open conversion; a failed open is kept too, so it is not retried on every call.
class Descriptor {
public:
    Descriptor(const char* to, const char* from) {
        std::lock_guard<std::mutex> lock(open_close_mutex);
        cd_ = iconv_open(to, from);
    }
    ~Descriptor() {
        std::lock_guard<std::mutex> lock(open_close_mutex);
        if (valid())
            iconv_close(cd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

// The calling thread's descriptor for one code page and direction, reset to its initial state.
// Returns nullptr if iconv cannot convert that code page.
const Descriptor* descriptor(CodePage code_page, bool into_wide) {
    thread_local std::map<std::pair<CodePage, bool>, Descriptor> cache;
    auto found = cache.find({code_page, into_wide});
    if (found == cache.end()) {
        const std::string name = iconv_name(code_page);
        found = cache
                    .emplace(std::piecewise_construct, std::forward_as_tuple(code_page, into_wide),
                             std::forward_as_tuple(into_wide ? kUtf16 : name.c_str(),
                                                   into_wide ? name.c_str() : kUtf16))
                    .first;
    }
    if (!found->second.valid())
        return nullptr;
    iconv(found->second.get(), nullptr, nullptr, nullptr, nullptr);
    return &found->second;
}

// Runs one conversion into a string of Out, first sized to capacity units and grown when
// iconv runs out of room. on_error(position, bytes_left, cut_off, out) is called where the
// input cannot be converted (cut_off: it ends inside a character); it appends a replacement
// to out and returns how many bytes to skip.
template <typename Out, typename OnError>
Out convert(iconv_t cd, const void* input, std::size_t input_bytes, std::size_t capacity,
            OnError on_error) {
    constexpr std::size_t unit = sizeof(typename Out::value_type);
    Out out(capacity, {});
    std::size_t used = 0; // units written
    char* in = const_cast<char*>(static_cast<const char*>(input));
    std::size_t in_left = input_bytes;
    bool input_done = false;
    for (;;) {
        char* out_ptr = reinterpret_cast<char*>(&out[0]) + used * unit;
        std::size_t out_left = (out.size() - used) * unit;
        // Once the input is used up, a call without input writes what the state still holds.
        const std::size_t result = input_done ? iconv(cd, nullptr, nullptr, &out_ptr, &out_left)
                                              : iconv(cd, &in, &in_left, &out_ptr, &out_left);
        used = out.size() - out_left / unit;
        if (result != kNoConversion) {
            if (input_done)
                break;
            input_done = true;
        } else if (errno == E2BIG) {
            out.resize(out.size() * 2 + 16);
        } else if (input_done) {
            break;
        } else {
            const bool cut_off = errno == EINVAL;
            const std::size_t size = out.size();
            out.resize(used);
            const std::size_t skip = on_error(in, in_left, cut_off, out);
            used = out.size();
            out.resize(std::max(size, used));
            in += skip;
            in_left -= skip;
        }
    }
    out.resize(used);
    return out;
}

} // namespace

CodePage ansi_code_page() {
    static const CodePage code_page = [] {
        locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
        if (!locale)
            return CP_UTF8;
        const CodePage found = code_page_of_codeset(nl_langinfo_l(CODESET, locale));
        freelocale(locale);
        return found;
    }();
    return code_page;
}

std::u16string to_wide(CodePage code_page, std::string_view text) {
    text = text.substr(0, text.find('\0'));
    const Descriptor* cd = descriptor(resolve(code_page), true);
    if (!cd || text.empty())
        return {};
    // One unit per byte suffices for the code pages named above; convert grows it otherwise.
    return convert<std::u16string>(
        cd->get(), text.data(), text.size(), text.size(),
        [](const char*, std::size_t left, bool cut_off, std::u16string& out) -> std::size_t {
            out += kReplacement;
            // An invalid byte is skipped alone; a sequence cut off by the end is one character.
            return cut_off ? left : 1;
        });
}

std::string to_narrow(CodePage code_page, std::u16string_view text) {
    text = text.substr(0, text.find(u'\0'));
    code_page = resolve(code_page);
    const Descriptor* cd = descriptor(code_page, false);
    if (!cd || text.empty())
        return {};
    const char* fallback = code_page == CP_UTF8 ? "\xEF\xBF\xBD" : "?";
    // Four bytes per unit: GB18030 writes four for some single units; UTF-8 at most three.
    return convert<std::string>(
        cd->get(), text.data(), text.size() * sizeof(char16_t), text.size() * 4,
        [fallback](const char* at, std::size_t left, bool cut_off, std::string& out) {
            out += fallback;
            // A high surrogate at the very end.
            if (cut_off)
                return left;
            char16_t pair[2] = {};
            std::memcpy(pair, at, std::min(left, sizeof pair));
            const bool is_pair = left >= sizeof pair && pair[0] >= 0xD800 && pair[0] < 0xDC00 &&
                                 pair[1] >= 0xDC00 && pair[1] < 0xE000;
            return is_pair ? sizeof pair : sizeof(char16_t);
        });
}

} // namespace platform
