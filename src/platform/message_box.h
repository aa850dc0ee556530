#pragma once

#include <string_view>

namespace platform {

// Tells the user something went wrong. There is no desktop to show a box on, so the text
// goes to standard error as one line; the call never blocks.
void show_message_box(std::u16string_view text);

} // namespace platform
