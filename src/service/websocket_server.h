#pragma once

#include "service/connection_metadata.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The WebSocket service: every message a client sends is run as a process script and
// answered on its connection; "stop-listening" stops accepting new connections. Open
// connections are registered by their peer address so that a text can be pushed to all.
// The registry is only touched on the service thread: pushes and shut-down are carried there.
// start() runs the whole service on the calling thread (the service thread); destroy the
// object only after that thread has left start().
// Thread Safety: start() on one thread; shut_down() and the waits from any other.
class websocket_server {
public:
    static constexpr std::uint16_t kDefaultPort = 9656;

    // Port 0 picks a free port; listening_port() tells which.
    explicit websocket_server(std::uint16_t port = kDefaultPort);
    ~websocket_server();
    websocket_server(const websocket_server&) = delete;
    websocket_server& operator=(const websocket_server&) = delete;

    // Listens on every IPv6 and IPv4 address and serves until the event loop ends: after
    // shut_down(), or when an error ends it (logged). Raises nothing.
    void start();

    // Ends the service from another thread: stops listening, closes every registered
    // connection with 1001 (going away) and waits, within a bound, until start() is over.
    // Safe to call more than once, and before or after start().
    void shut_down();

    // Sends text (UTF-8) as a text message to every registered connection, in the order of
    // their ids, and returns once that is done; at once when the service does not run.
    void send_to_all(const std::string& text);

    // The ids of the registered connections, in registry order; empty when the service does
    // not run.
    std::vector<std::string> registered_connections();

    // Wait until start() serves connections (true) or ended without serving (false).
    bool wait_until_serving(std::chrono::milliseconds timeout);
    // Wait until start() has ended; false on timeout.
    bool wait_until_ended(std::chrono::milliseconds timeout);

    // The port the service listens on, once serving.
    std::uint16_t listening_port() const;

    struct endpoint; // the websocketpp endpoint, kept out of this header

private:
    enum class State { Constructed, Starting, Serving, Ended };
    using connection_registry = std::map<std::string, std::shared_ptr<connection_metadata>>;

    friend void on_open(endpoint*, websocket_server*, connection_metadata::handle);
    friend void on_close(endpoint*, websocket_server*, connection_metadata::handle);

    void run_endpoint();
    void push_to_all(const std::string& text);
    void close_all();
    // Runs task on the service thread and waits for it; false when the service does not run.
    bool run_on_service_thread(std::function<void()> task);
    void stop_serving();
    bool advance(State from, State to);
    void set_state(State state);
    template <typename Done> bool wait_for(std::chrono::milliseconds timeout, Done done);
    template <typename Done> void wait_until(Done done);

    std::unique_ptr<endpoint> m_server;
    std::uint16_t m_port;
    std::uint16_t m_listening_port = 0;
    mutable std::mutex m_state_mutex;
    std::condition_variable m_state_changed;
    State m_state = State::Constructed;
    connection_registry m_connections; // service thread only
    bool m_closing = false;            // service thread only: the registry has been closed
};
