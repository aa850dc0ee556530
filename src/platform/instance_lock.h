#pragma once

#include <string>

namespace platform {

// Marks this process as the running instance for as long as the object lives, through an
// exclusive lock on a file.
class InstanceLock {
public:
    explicit InstanceLock(const std::string& path);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True when another process holds the lock. A lock file that cannot be opened tells
    // nothing, so it counts as free.
    bool held_elsewhere() const { return held_elsewhere_; }

private:
    int fd_;
    bool held_elsewhere_ = false;
};

} // namespace platform
