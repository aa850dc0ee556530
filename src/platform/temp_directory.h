#pragma once

#include <string>

namespace platform {

// The user's temporary directory as a native path, always ending in the path separator.
std::string temp_directory();

} // namespace platform
