#pragma once

#include <chrono>
#include <csignal>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// A program started by a test, ended with SIGKILL if the test leaves it running.
class ChildProcess {
public:
    static constexpr std::chrono::seconds kWaitLimit{30};

    // Standard input: /dev/null, or a pipe that write_input() feeds.
    enum class Input { none, pipe };

    // Starts argv[0] with the test's environment plus the NAME=value entries of extra_env;
    // standard output and error go to the given files.
    ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
                 const std::string& stdout_path, const std::string& stderr_path,
                 Input input = Input::none);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int number) const;
    // Writes text to the program's standard input (Input::pipe); false if it could not.
    bool write_input(const std::string& text);
    // The wait status once the program has ended; nothing if it did not end in time.
    std::optional<int> wait_exit();
    // Whether the program's main thread has ended while the program lives on.
    bool main_thread_ended() const;

private:
    pid_t pid_ = -1;
    int input_ = -1;
    std::optional<int> status_;
};
