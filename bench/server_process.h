#pragma once

#include "support/temp_folder.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// A benchmark server (see server_commands.h) in a process of its own, with a temporary folder
// of its own as $TMPDIR. Its standard output goes to /dev/null, its standard error to
// stderr.txt in that folder.
// Every wait is bounded; a server that does not end in time is killed by its pid.
// Thread Safety: distinct objects safe, shared objects unsafe.
class ServerProcess {
public:
    static constexpr std::chrono::seconds kWaitLimit{60};

    // env: NAME=value entries added to ours; a "{folder}" in them is replaced by the folder's
    // path. Waits until the server listens.
    ServerProcess(std::vector<std::string> argv, std::vector<std::string> env);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    pid_t pid() const { return pid_; }
    std::uint16_t port() const { return port_; }
    // Ends with "/".
    std::string folder() const { return folder_.path(); }

    void push();
    std::size_t connections();

    struct Memory {
        long rss_kib = 0;
        long peak_kib = 0;
    };
    Memory memory() const;
    // User and system time of all its threads so far.
    double cpu_seconds() const;

    // Asks it to end; its wait status, or -1 when it had to be killed.
    int quit();

private:
    std::string command(const std::string& line);
    std::string read_answer();

    TempFolder folder_;
    pid_t pid_ = -1;
    int commands_ = -1;
    int answers_ = -1;
    std::string buffered_;
    std::uint16_t port_ = 0;
    bool ended_ = false;
};
