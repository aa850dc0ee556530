#include "process/ResultText.h"

#include "platform/code_page.h"

using namespace platform;

std::string ResultToUtf8(std::u16string_view result) {
    std::string ansi = to_narrow(CP_THREAD_ACP, result);
    if (ansi_code_page() == CP_UTF8)
        return ansi;
    return to_narrow(CP_UTF8, to_wide(CP_ACP, ansi));
}
