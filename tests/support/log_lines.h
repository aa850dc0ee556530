#pragma once

#include <fstream>
#include <string>
#include <vector>

// The lines a log file gained since a mark taken earlier.
class LogLines {
public:
    explicit LogLines(std::string path) : path_(std::move(path)), mark_(size()) {}

    std::vector<std::string> since_mark() const {
        std::ifstream file(path_, std::ios::binary);
        file.seekg(mark_);
        std::vector<std::string> lines;
        for (std::string line; std::getline(file, line);)
            lines.push_back(line);
        return lines;
    }

private:
    std::streamoff size() const {
        std::ifstream file(path_, std::ios::binary | std::ios::ate);
        return file ? std::streamoff(file.tellg()) : 0;
    }

    std::string path_;
    std::streamoff mark_;
};
