#include "platform/thread_id.h"

#include <gtest/gtest.h>

#include <thread>
#include <unistd.h>

namespace {

// Each thread's id is the kernel's id of that thread, asked once or many times.
TEST(ThreadIdTest, IsTheKernelsIdOfTheCallingThread) {
    auto check_this_thread = [] {
        for (int call = 0; call < 2; ++call)
            EXPECT_EQ(platform::current_thread_id(), static_cast<unsigned long>(gettid()));
    };
    check_this_thread();
    std::thread other(check_this_thread);
    other.join();
}

} // namespace
