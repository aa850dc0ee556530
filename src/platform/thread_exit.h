#pragma once

namespace platform {

// Ends the calling thread, unwinding its stack; the process lives on while other threads run.
[[noreturn]] void end_current_thread();

} // namespace platform
