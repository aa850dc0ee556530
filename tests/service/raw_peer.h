#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// A WebSocket client written by hand, for what a client library will not do: after the opening
// handshake it reads nothing, so what the server sends it backs up once the socket buffers are
// full, and it can send a close frame that the server can only answer behind that backlog.
// Every wait is bounded.
// Thread Safety: distinct objects safe, shared objects unsafe.
class RawPeer {
public:
    // held: the opening handshake request goes out without its final line end, so the server
    // waits for the rest until finish_handshake().
    enum class Handshake { complete, held };

    // Connects to address ("127.0.0.1" or "::1") and port and sends the opening handshake
    // request; unless held, it waits for the answer.
    RawPeer(const std::string& address, std::uint16_t port,
            Handshake handshake = Handshake::complete);
    // Closes the socket without a close frame.
    ~RawPeer();

    // True once the opening handshake has succeeded.
    bool open() const;
    std::uint16_t local_port() const;

    // Sends the rest of a held handshake request and waits for the answer.
    void finish_handshake();

    // Sends a close frame with code 1000 (normal).
    void send_close();

    // Reads the next frame: the code of a close frame; nothing for another frame, or when none
    // comes within the wait limit.
    std::optional<int> read_close_code();

    // A message this large cannot be written out to the peer while it reads nothing: the
    // server's send buffer grows to a few megabytes at most, and the peer keeps its receive
    // buffer small.
    static constexpr std::size_t kBacklogSize = 16 * 1024 * 1024;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
