#include "platform/instance_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

InstanceLock::InstanceLock(const std::string& path)
    : fd_(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) != 0)
        held_elsewhere_ = errno == EWOULDBLOCK;
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0)
        close(fd_);
}

} // namespace platform
