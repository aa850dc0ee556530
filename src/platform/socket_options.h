#pragma once

namespace platform {

// Whether a listening socket should set address reuse. On POSIX it lets a restarted service
// listen while old connections sit in TIME_WAIT, and still refuses a port another live
// listener holds.
constexpr bool reuse_listening_address = true;

} // namespace platform
