#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// A WebSocket client for tests. It connects on a thread of its own and collects what the
// server sends; every wait is bounded by kWaitLimit.
class WsClient {
public:
    static constexpr std::chrono::seconds kWaitLimit{20};

    enum class Opcode { text = 1, binary = 2 };
    struct Message {
        Opcode opcode;
        std::string payload;
    };

    // Starts connecting to uri, e.g. "ws://127.0.0.1:9656" or "ws://[::1]:9656".
    explicit WsClient(const std::string& uri);
    // Closes the connection if it is open and waits for the client's thread.
    ~WsClient();

    // True once the connection is open; false if it failed (refused, for example).
    bool wait_open();
    void send(const std::string& payload, Opcode opcode = Opcode::text);
    // The next message from the server, or nothing if none came.
    std::optional<Message> receive();
    // The close code the server sent, once the connection has closed; nothing if it did not.
    std::optional<std::uint16_t> wait_closed();
    // Starts a normal close.
    void close();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
