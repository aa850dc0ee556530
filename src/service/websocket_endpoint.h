#pragma once

// The websocketpp side of the service; include only where the library is needed, since every
// file that includes it takes long to compile.

#include "service/websocket_server.h"

#include <websocketpp/config/asio_no_tls.hpp>
#include <websocketpp/server.hpp>

using server = websocketpp::server<websocketpp::config::asio>;

struct websocket_server::endpoint : server {};

// The open and close handlers: register and unregister the connection.
void on_open(websocket_server::endpoint* endpoint, websocket_server* service,
             connection_metadata::handle hdl);
void on_close(websocket_server::endpoint* endpoint, websocket_server* service,
              connection_metadata::handle hdl);

// The message handler: runs the payload as a process script and answers on the connection.
void on_message(server* endpoint, websocket_server* service, websocketpp::connection_hdl hdl,
                server::message_ptr msg);
