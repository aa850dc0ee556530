#include "log/AnsiText.h"

#include "platform/code_page.h"

std::string AnsiFromUtf8(std::string_view utf8) {
    return platform::to_narrow(platform::CP_ACP, platform::to_wide(platform::CP_UTF8, utf8));
}
