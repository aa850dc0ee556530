#pragma once

namespace platform {

// The operating system's numeric id of the calling thread.
unsigned long current_thread_id();

} // namespace platform
