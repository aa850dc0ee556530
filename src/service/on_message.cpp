#include "platform/code_page.h"
#include "process/ResultText.h"
#include "process/RunProcess.h"
#include "service/service_log.h"
#include "service/websocket_endpoint.h"

#include <string_view>

namespace {

constexpr std::string_view kStopListening = "stop-listening";

void stop_listening(server* endpoint) {
    try {
        endpoint->stop_listening();
    } catch (const websocketpp::exception& e) {
        // The acceptor is closed already: keep serving the open connections.
        log_service_event(service_log().stop_listening_failed, e.what());
        return;
    }
    log_service_event(service_log().stopped_listening);
}

// Runs the payload as a script and sends the result back in a frame of the request's kind.
void answer(server* endpoint, websocketpp::connection_hdl hdl, const server::message_ptr& msg) {
    std::u16string result;
    RunProcess(platform::to_wide(platform::CP_THREAD_ACP, msg->get_payload()), result);
    try {
        endpoint->send(hdl, ResultToUtf8(result), msg->get_opcode());
    } catch (const websocketpp::exception&) {
        log_service_event(service_log().echo_failed);
    }
}

} // namespace

void on_message(server* endpoint, websocket_server*, websocketpp::connection_hdl hdl,
                server::message_ptr msg) {
    log_service_event(service_log().message_received);
    log_service_event(service_log().message_handler);
    if (msg->get_payload() == kStopListening)
        stop_listening(endpoint);
    else
        answer(endpoint, std::move(hdl), msg);
}
