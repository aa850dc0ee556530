#include "platform/thread_id.h"

#include <unistd.h>

namespace platform {

unsigned long current_thread_id() {
    return static_cast<unsigned long>(gettid());
}

} // namespace platform
