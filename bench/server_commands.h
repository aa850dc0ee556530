#pragma once

// The command channel of a benchmark server: one command a line on standard input, one
// answer a line on descriptor 3. The server first answers "port N" (or "failed"), then
// "push", "count" and "quit" as it defines them; the end of input counts as "quit".

#include <functional>
#include <iostream>
#include <string>
#include <unistd.h>

inline void answer_command(std::string line) {
    line += '\n';
    for (std::size_t written = 0; written < line.size();) {
        ssize_t n = write(3, line.data() + written, line.size() - written);
        if (n <= 0)
            return;
        written += static_cast<std::size_t>(n);
    }
}

// Hands each command but "quit" to handle and answers with what it returns.
inline void serve_commands(const std::function<std::string(const std::string&)>& handle) {
    for (std::string line; std::getline(std::cin, line) && line != "quit";)
        answer_command(handle(line));
}
