#include "platform/temp_directory.h"

#include <cstdlib>

namespace platform {

std::string temp_directory() {
    const char* tmpdir = std::getenv("TMPDIR");
    std::string directory = (tmpdir && *tmpdir) ? tmpdir : "/tmp";
    if (directory.back() != '/')
        directory += '/';
    return directory;
}

} // namespace platform
