#include "bench/server_process.h"

#include "support/spawn_arguments.h"
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

long status_field_kib(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, field.size(), field) == 0)
            return std::stol(line.substr(field.size()));
    return 0;
}

} // namespace

ServerProcess::ServerProcess(std::vector<std::string> argv, std::vector<std::string> env) {
    for (std::string& entry : env)
        for (std::size_t at; (at = entry.find("{folder}")) != std::string::npos;)
            entry.replace(at, 8, folder_.path());
    env.push_back("TMPDIR=" + folder_.path());
    std::vector<std::string> environment = environment_with(env);

    int commands[2], answers[2];
    if (pipe2(commands, O_CLOEXEC) != 0 || pipe2(answers, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot create pipes");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, commands[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, answers[1], 3);
    std::string errors = folder_.path() + "stderr.txt";
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    int error = posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, pointers(argv).data(),
                            pointers(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    close(commands[0]);
    close(answers[1]);
    commands_ = commands[1];
    answers_ = answers[0];
    if (error != 0) {
        ended_ = true;
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(error));
    }
    std::string first;
    try {
        first = read_answer();
    } catch (const std::runtime_error&) {
    }
    if (first.compare(0, 5, "port ") != 0) {
        quit();
        close(commands_);
        close(answers_);
        throw std::runtime_error(argv[0] + " did not start: " + first);
    }
    port_ = static_cast<std::uint16_t>(std::stoi(first.substr(5)));
}

ServerProcess::~ServerProcess() {
    if (!ended_)
        quit();
    close(commands_);
    close(answers_);
}

void ServerProcess::push() {
    command("push");
}

std::size_t ServerProcess::connections() {
    return std::stoul(command("count"));
}

ServerProcess::Memory ServerProcess::memory() const {
    return {status_field_kib(pid_, "VmRSS:"), status_field_kib(pid_, "VmHWM:")};
}

double ServerProcess::cpu_seconds() const {
    std::ifstream file("/proc/" + std::to_string(pid_) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // The fields after the command name, which may hold blanks, start after its ")".
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int number = 3; number <= 15 && fields >> field; ++number)
        if (number >= 14)
            ticks += std::stod(field);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

int ServerProcess::quit() {
    ended_ = true;
    const char line[] = "quit\n";
    [[maybe_unused]] ssize_t ignored = write(commands_, line, sizeof line - 1);
    auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status;
}

std::string ServerProcess::command(const std::string& line) {
    std::string text = line + "\n";
    if (write(commands_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        throw std::runtime_error("server gone: " + line);
    return read_answer();
}

std::string ServerProcess::read_answer() {
    auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
    std::size_t end;
    while ((end = buffered_.find('\n')) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd readable{answers_, POLLIN, 0};
        if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) <= 0)
            throw std::runtime_error("no answer from the server");
        char chunk[256];
        ssize_t n = read(answers_, chunk, sizeof chunk);
        if (n <= 0)
            throw std::runtime_error("server gone");
        buffered_.append(chunk, static_cast<std::size_t>(n));
    }
    std::string answer = buffered_.substr(0, end);
    buffered_.erase(0, end + 1);
    return answer;
}
