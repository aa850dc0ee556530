#include "app/CommandLine.h"

#include "log/AnsiText.h"
#include "platform/temp_directory.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char* kVersion = "1.0.0.1";

const char* const kUsage = "Usage: quillgate [--help | --version]\n";

void print_help() {
    std::string log_path = platform::temp_directory() + "Quillgatelog_YYYY-MM-DD.log";
    std::printf(
        "%s\n"
        "Quillgate lets web pages on this desktop reach the local security control. It serves\n"
        "WebSocket clients on port 9656 of every IPv4 and IPv6 address: each message is a process\n"
        "script, answered with its result text. After every USB device arrival or removal it "
        "pushes\n"
        "the security control's user list to every connected client.\n"
        "\n"
        "The security control module is loaded from $QUILLGATE_CONTROL_MODULE.\n"
        "The log goes to %s (the directory is $TMPDIR, else /tmp/).\n"
        "\n"
        "Signals: SIGINT and SIGTERM end the program, closing every connection with code 1001;\n"
        "SIGHUP stops watching USB devices while the service goes on answering.\n",
        kUsage, log_path.c_str());
}

} // namespace

int RunCommandLineOption(const char* option) {
    if (std::strcmp(option, "--version") == 0) {
        std::printf("%s\nversion %s\n", AnsiFromUtf8("Vorn_Quillgate，1.0 版").c_str(), kVersion);
        return 0;
    }
    if (std::strcmp(option, "--help") == 0) {
        print_help();
        return 0;
    }
    std::fprintf(stderr, "quillgate: unknown option %s\n%s", option, kUsage);
    return 2;
}
