#include "service/service_log.h"

#include "log/AnsiText.h"
#include "log/CLogger.h"

namespace {

constexpr const char* kSource = "service\\websocket_server";

ServiceLogMessages make_messages() {
    return {
        {AnsiFromUtf8("websocket_server-start，[%s:%d]"), 185},
        {AnsiFromUtf8("websocket_Initialize Asio，[%s:%d]"), 189},
        {AnsiFromUtf8("websocket_ Listen on port，[%s:%d]"), 196},
        {AnsiFromUtf8("websocket_ Start the server accept loop，[%s:%d]"), 199},
        {AnsiFromUtf8("websocket_ Start the ASIO io_service run loop，[%s:%d]"), 202},
        {AnsiFromUtf8("websocket_ pause，%s-[%s:%d]"), 210},
        {AnsiFromUtf8("websocket_server通信.[%s:%d]"), 72},
        {AnsiFromUtf8("websocket_server-on_message called with hdl.[%s:%d]"), 80},
        {AnsiFromUtf8("websocket_server-stop-listening.[%s:%d]"), 84},
        {AnsiFromUtf8("websocket_server-stop-listening failed because.%s，[%s:%d]"), 86},
        {AnsiFromUtf8("websocket_server-Echo failed because.[%s:%d]"), 126},
        {AnsiFromUtf8("websocket_server连接on_open.[%s:%d]"), 39},
        {AnsiFromUtf8("websocket_server断开连接on_close.[%s:%d]"), 57},
        {AnsiFromUtf8("websocket_server-Echo failed because.%s，[%s:%d]"), 167},
    };
}

} // namespace

const ServiceLogMessages& service_log() {
    static const ServiceLogMessages messages = make_messages();
    return messages;
}

void log_service_event(const ServiceLogMessage& message) {
    CLogger::GetInstance()->Error(message.format.c_str(), kSource, message.number);
}

void log_service_event(const ServiceLogMessage& message, const char* detail) {
    CLogger::GetInstance()->Error(message.format.c_str(), detail, kSource, message.number);
}
