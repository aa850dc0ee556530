#include "platform/local_time.h"

namespace platform {

std::tm local_time_now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

} // namespace platform
