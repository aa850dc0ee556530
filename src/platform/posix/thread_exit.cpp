#include "platform/thread_exit.h"

#include <pthread.h>

namespace platform {

void end_current_thread() {
    pthread_exit(nullptr);
}

} // namespace platform
