#pragma once

#include <websocketpp/common/asio.hpp>
#include <websocketpp/common/connection_hdl.hpp>
#include <websocketpp/common/system_error.hpp>

// Ends a client's connection at once: a zero linger time makes the close send a reset instead
// of a FIN. Call it on the endpoint's event-loop thread.
template <typename Client>
void reset_connection(Client& endpoint, websocketpp::connection_hdl hdl) {
    websocketpp::lib::error_code ec;
    typename Client::connection_ptr connection = endpoint.get_con_from_hdl(hdl, ec);
    if (ec)
        return;
    auto& socket = connection->get_raw_socket();
    websocketpp::lib::asio::error_code ignored;
    socket.set_option(websocketpp::lib::asio::socket_base::linger(true, 0), ignored);
    socket.close(ignored);
}
