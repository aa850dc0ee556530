// The program's host for tests: the real main window and service, plus device changes read from
// standard input, one per line: "arrival" or "removal". Never installed.

#include "app/DeviceEventType.h"
#include "app/Vorn_Quillgate.h"
#include "app/Vorn_QuillgateDlg.h"
#include "platform/open_file_limit.h"

#include <cstdio>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

// Posts a device change for each command line until standard input ends or stop is readable.
void read_commands(CVorn_QuillgateDlg& dialog, int stop) {
    std::string pending;
    pollfd fds[] = {{STDIN_FILENO, POLLIN, 0}, {stop, POLLIN, 0}};
    while (poll(fds, 2, -1) >= 0 && fds[1].revents == 0) {
        char buffer[256];
        ssize_t count = read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0)
            return;
        pending.append(buffer, static_cast<std::size_t>(count));
        for (auto end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            std::string command = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (command == "arrival")
                dialog.PostMessage({platform::WM_DEVICECHANGE, DBT_DEVICEARRIVAL});
            else if (command == "removal")
                dialog.PostMessage({platform::WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE});
            else
                std::fprintf(stderr, "test host: unknown command %s\n", command.c_str());
        }
    }
}

} // namespace

int main() {
    platform::raise_open_file_limit();
    int stop[2];
    if (pipe(stop) != 0)
        return 1;
    CVorn_QuillgateDlg dialog(TheService());
    std::thread commands([&dialog, &stop] { read_commands(dialog, stop[0]); });
    dialog.DoModal();
    // The reader must be gone before the window is.
    close(stop[1]);
    commands.join();
    close(stop[0]);
    return 0;
}
