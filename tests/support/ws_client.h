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
    // 1006 when the connection ended without a close frame.
    std::optional<std::uint16_t> wait_closed();
    // The reason text of the server's close frame, once wait_closed() has seen it.
    std::string close_reason();
    // The client's own port, once the connection is open.
    std::uint16_t local_port();
    // Starts a normal close.
    void close();
    // Ends the connection at once without a close handshake: the socket is reset, so the
    // server sees neither a close frame nor an orderly end of the stream.
    void drop();
    // Stops the client's event loop: the connection stays open, but nothing is read or
    // answered any more, a close frame included. The socket closes when the client goes.
    void stall();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
