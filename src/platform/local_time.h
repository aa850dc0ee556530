#pragma once

#include <ctime>

namespace platform {

// The current local date and time, broken down. Safe to call from any thread.
std::tm local_time_now();

} // namespace platform
