#pragma once

// The WebSocket client the benchmarks load servers with: websocketpp's client with its logs off
// and an all-zero masking key, so that the client's own cost stays small next to the server's.

#include <websocketpp/client.hpp>
#include <websocketpp/config/asio_no_tls_client.hpp>
#include <websocketpp/random/none.hpp>

struct bench_client_config : websocketpp::config::asio_client {
    using type = bench_client_config;
    using rng_type = websocketpp::random::none::int_generator<std::uint32_t>;
    static const websocketpp::log::level elog_level = websocketpp::log::elevel::none;
    static const websocketpp::log::level alog_level = websocketpp::log::alevel::none;
};

using bench_client = websocketpp::client<bench_client_config>;

// Sets up an endpoint: no logs, no delay on its sockets.
inline void init_bench_client(bench_client& endpoint) {
    endpoint.clear_access_channels(websocketpp::log::alevel::all);
    endpoint.clear_error_channels(websocketpp::log::elevel::all);
    endpoint.init_asio();
    endpoint.set_socket_init_handler([](websocketpp::connection_hdl, auto& socket) {
        websocketpp::lib::asio::error_code ignored;
        socket.set_option(websocketpp::lib::asio::ip::tcp::no_delay(true), ignored);
    });
}
