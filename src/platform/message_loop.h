#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace platform {

// A message for the main thread, in the shape of a window message.
struct Message {
    unsigned id;
    std::uintptr_t wparam = 0;
};

constexpr unsigned WM_CLOSE = 0x0010;
constexpr unsigned WM_COMMAND = 0x0111;
constexpr unsigned WM_DEVICECHANGE = 0x0219;
constexpr std::uintptr_t IDOK = 1;
constexpr std::uintptr_t IDCANCEL = 2;

// The main thread's message loop: messages posted by code, the termination signals and file
// descriptors to watch. SIGINT and SIGTERM arrive as the Cancel command, SIGHUP as WM_CLOSE,
// whichever thread the system hands them to. One loop at a time.
// Thread Safety: post() from any thread; everything else on the loop's thread.
class MessageLoop {
public:
    // Starts catching the signals.
    MessageLoop();
    // Gives the signals back their default handling.
    ~MessageLoop();
    MessageLoop(const MessageLoop&) = delete;
    MessageLoop& operator=(const MessageLoop&) = delete;

    void post(Message message);

    // Calls on_readable on the loop's thread whenever fd has data to read.
    void watch(int fd, std::function<void()> on_readable);

    // Hands every message to dispatch, in order, until dispatch returns false.
    void run(const std::function<bool(const Message&)>& dispatch);

private:
    bool dispatch_signals(const std::function<bool(const Message&)>& dispatch);
    bool dispatch_posted(const std::function<bool(const Message&)>& dispatch);

    int signal_pipe_[2];
    int posted_event_;
    std::mutex posted_mutex_;
    std::deque<Message> posted_;
    std::vector<std::pair<int, std::function<void()>>> watched_;
};

} // namespace platform
