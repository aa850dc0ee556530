#pragma once

#include <string>
#include <vector>

#include <unistd.h> // environ

// This process's environment with the NAME=value entries of extra added or overriding.
inline std::vector<std::string> environment_with(const std::vector<std::string>& extra) {
    std::vector<std::string> entries(extra);
    for (char** entry = environ; *entry; ++entry) {
        std::string text = *entry;
        std::string name = text.substr(0, text.find('=') + 1);
        bool overridden = false;
        for (const std::string& own : extra)
            overridden |= own.compare(0, name.size(), name) == 0;
        if (!overridden)
            entries.push_back(text);
    }
    return entries;
}

// The null-terminated pointer array that posix_spawn takes; texts must outlive it.
inline std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (std::string& text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}
