#include "platform/thread_id.h"

#include <unistd.h>

namespace platform {

// A thread keeps its id for life, so each thread asks the kernel once.
unsigned long current_thread_id() {
    thread_local const unsigned long id = static_cast<unsigned long>(gettid());
    return id;
}

} // namespace platform
