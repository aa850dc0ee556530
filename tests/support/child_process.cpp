#include "support/child_process.h"

#include "support/eventually.h"

#include "support/spawn_arguments.h"
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& extra_env,
                           const std::string& stdout_path, const std::string& stderr_path,
                           Input input) {
    std::vector<std::string> arguments(argv);
    std::vector<std::string> environment = environment_with(extra_env);
    int input_pipe[2] = {-1, -1};
    if (input == Input::pipe && pipe2(input_pipe, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot create a pipe for " + argv[0]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input == Input::pipe)
        posix_spawn_file_actions_adddup2(&actions, input_pipe[0], 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    int error = posix_spawn(&pid_, arguments[0].c_str(), &actions, nullptr,
                            pointers(arguments).data(), pointers(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    if (input == Input::pipe) {
        close(input_pipe[0]);
        input_ = input_pipe[1];
    }
    if (error != 0) {
        if (input_ >= 0)
            close(input_);
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(error));
    }
}

ChildProcess::~ChildProcess() {
    if (input_ >= 0)
        close(input_);
    if (!status_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

void ChildProcess::signal(int number) const {
    kill(pid_, number);
}

// Writing to a program that has ended raises SIGPIPE.
bool ChildProcess::write_input(const std::string& text) {
    std::size_t written = 0;
    while (input_ >= 0 && written < text.size()) {
        ssize_t count = write(input_, text.data() + written, text.size() - written);
        if (count < 0)
            return false;
        written += static_cast<std::size_t>(count);
    }
    return input_ >= 0;
}

std::optional<int> ChildProcess::wait_exit() {
    eventually([this] {
        int status;
        if (waitpid(pid_, &status, WNOHANG) == pid_)
            status_ = status;
        return status_.has_value();
    });
    return status_;
}

bool ChildProcess::main_thread_ended() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/task/" + std::to_string(pid_) + "/stat");
    std::string pid, name, state;
    stat >> pid >> name >> state;
    return state == "Z";
}
