// The service as the program runs it, for the load benchmark and the soak: the main window
// with its service, on a free port instead of 9656. The control module and the temporary
// folder come from the environment, as for the program.
//
// "push" posts a device arrival to the main window, which pushes the user list to every
// client; "count" tells how many connections the registry holds.

#include "app/DeviceEventType.h"
#include "app/Vorn_QuillgateDlg.h"
#include "bench/server_commands.h"
#include "platform/open_file_limit.h"
#include "service/websocket_server.h"

#include <thread>

int main() {
    platform::raise_open_file_limit();
    websocket_server service(0);
    CVorn_QuillgateDlg dialog(service);

    std::thread commands([&service, &dialog] {
        if (service.wait_until_serving(std::chrono::seconds(30))) {
            answer_command("port " + std::to_string(service.listening_port()));
            serve_commands([&service, &dialog](const std::string& line) -> std::string {
                if (line == "push") {
                    dialog.PostMessage({platform::WM_DEVICECHANGE, DBT_DEVICEARRIVAL});
                    return "ok";
                }
                if (line == "count")
                    return std::to_string(service.registered_connections().size());
                return "unknown";
            });
        } else {
            answer_command("failed");
        }
        dialog.PostMessage({platform::WM_COMMAND, platform::IDCANCEL});
    });
    dialog.DoModal();
    commands.join();
    return 0;
}
