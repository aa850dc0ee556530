#include "platform/message_box.h"

#include "platform/code_page.h"

#include <cstdio>

namespace platform {

void show_message_box(std::u16string_view text) {
    std::string line = "Vorn_Quillgate: " + to_narrow(CP_ACP, text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

} // namespace platform
