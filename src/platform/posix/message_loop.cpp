#include "platform/message_loop.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Written by the signal handler, which may run on any thread.
volatile std::sig_atomic_t signal_pipe_write = -1;

void forward_signal(int number) {
    int saved_errno = errno;
    char byte = static_cast<char>(number);
    [[maybe_unused]] ssize_t ignored = write(signal_pipe_write, &byte, 1);
    errno = saved_errno;
}

void set_signal_handling(void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int number : kSignals)
        sigaction(number, &action, nullptr);
}

Message message_for_signal(int number) {
    if (number == SIGHUP)
        return {WM_CLOSE};
    return {WM_COMMAND, IDCANCEL};
}

} // namespace

MessageLoop::MessageLoop() {
    if (pipe2(signal_pipe_, O_NONBLOCK | O_CLOEXEC) != 0)
        throw std::system_error(errno, std::generic_category(), "signal pipe");
    posted_event_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (posted_event_ < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    signal_pipe_write = signal_pipe_[1];
    set_signal_handling(forward_signal);
}

MessageLoop::~MessageLoop() {
    set_signal_handling(SIG_DFL);
    signal_pipe_write = -1;
    close(signal_pipe_[0]);
    close(signal_pipe_[1]);
    close(posted_event_);
}

void MessageLoop::post(Message message) {
    {
        std::lock_guard<std::mutex> lock(posted_mutex_);
        posted_.push_back(message);
    }
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = write(posted_event_, &one, sizeof one);
}

void MessageLoop::watch(int fd, std::function<void()> on_readable) {
    watched_.emplace_back(fd, std::move(on_readable));
}

void MessageLoop::run(const std::function<bool(const Message&)>& dispatch) {
    std::vector<pollfd> fds = {{signal_pipe_[0], POLLIN, 0}, {posted_event_, POLLIN, 0}};
    for (const auto& watched : watched_)
        fds.push_back({watched.first, POLLIN, 0});
    for (;;) {
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            throw std::system_error(errno, std::generic_category(), "poll");
        }
        if (fds[0].revents && !dispatch_signals(dispatch))
            return;
        if (fds[1].revents && !dispatch_posted(dispatch))
            return;
        for (std::size_t i = 2; i < fds.size(); ++i)
            if (fds[i].revents)
                watched_[i - 2].second();
    }
}

bool MessageLoop::dispatch_signals(const std::function<bool(const Message&)>& dispatch) {
    char number;
    while (read(signal_pipe_[0], &number, 1) == 1)
        if (!dispatch(message_for_signal(number)))
            return false;
    return true;
}

bool MessageLoop::dispatch_posted(const std::function<bool(const Message&)>& dispatch) {
    std::uint64_t count;
    [[maybe_unused]] ssize_t ignored = read(posted_event_, &count, sizeof count);
    for (;;) {
        Message message;
        {
            std::lock_guard<std::mutex> lock(posted_mutex_);
            if (posted_.empty())
                return true;
            message = posted_.front();
            posted_.pop_front();
        }
        if (!dispatch(message))
            return false;
    }
}

} // namespace platform
