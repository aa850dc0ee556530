#include "raw_peer.h"

#include "service_fixture.h"

#include <boost/asio.hpp>

#include <string_view>

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

struct RawPeer::Impl {
    asio::io_context io;
    tcp::socket socket{io};
    asio::streambuf input;
    bool open = false;

    // Runs the one queued operation until it has completed or the wait limit has passed.
    bool finish(const bool& done, const boost::system::error_code& result) {
        io.restart();
        io.run_for(kWaitLimit);
        if (!done) {
            boost::system::error_code ignored;
            socket.close(ignored);
            io.restart();
            io.run();
            return false;
        }
        return !result;
    }

    bool read_until(std::string_view delimiter) {
        bool done = false;
        boost::system::error_code result;
        asio::async_read_until(socket, input, std::string(delimiter),
                               [&](boost::system::error_code ec, std::size_t) {
                                   result = ec;
                                   done = true;
                               });
        return finish(done, result);
    }

    bool read_at_least(std::size_t size) {
        if (input.size() >= size)
            return true;
        bool done = false;
        boost::system::error_code result;
        asio::async_read(socket, input, asio::transfer_exactly(size - input.size()),
                         [&](boost::system::error_code ec, std::size_t) {
                             result = ec;
                             done = true;
                         });
        return finish(done, result);
    }

    void read_handshake_answer() {
        if (!read_until("\r\n\r\n"))
            return;
        const std::size_t end = response_end();
        open = take(end).rfind("HTTP/1.1 101 ", 0) == 0;
    }

    // Where the answer's header ends in the input; frames may follow it.
    std::size_t response_end() const {
        const std::string_view data(asio::buffer_cast<const char*>(input.data()), input.size());
        return data.find("\r\n\r\n") + 4;
    }

    std::string take(std::size_t size) {
        const char* data = asio::buffer_cast<const char*>(input.data());
        std::string bytes(data, size);
        input.consume(size);
        return bytes;
    }
};

RawPeer::RawPeer(const std::string& address, std::uint16_t port, Handshake handshake)
    : impl_(std::make_unique<Impl>()) {
    tcp::endpoint server(asio::ip::make_address(address), port);
    boost::system::error_code ec;
    impl_->socket.open(server.protocol(), ec);
    // A fixed small receive buffer does not grow with the backlog.
    impl_->socket.set_option(asio::socket_base::receive_buffer_size(4096), ec);
    impl_->socket.connect(server, ec);
    if (ec)
        return;
    std::string host = address.find(':') == std::string::npos ? address : "[" + address + "]";
    std::string request = "GET / HTTP/1.1\r\n"
                          "Host: " +
                          host + ":" + std::to_string(port) +
                          "\r\n"
                          "Upgrade: websocket\r\n"
                          "Connection: Upgrade\r\n"
                          "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                          "Sec-WebSocket-Version: 13\r\n";
    if (handshake == Handshake::complete)
        request += "\r\n";
    asio::write(impl_->socket, asio::buffer(request), ec);
    if (!ec && handshake == Handshake::complete)
        impl_->read_handshake_answer();
}

void RawPeer::finish_handshake() {
    boost::system::error_code ec;
    asio::write(impl_->socket, asio::buffer("\r\n", 2), ec);
    if (!ec)
        impl_->read_handshake_answer();
}

RawPeer::~RawPeer() {
    boost::system::error_code ignored;
    impl_->socket.close(ignored);
}

bool RawPeer::open() const {
    return impl_->open;
}

std::uint16_t RawPeer::local_port() const {
    boost::system::error_code ec;
    return impl_->socket.local_endpoint(ec).port();
}

void RawPeer::send_close() {
    // Final close frame, masked with a zero key, code 1000.
    const unsigned char frame[] = {0x88, 0x82, 0, 0, 0, 0, 0x03, 0xe8};
    boost::system::error_code ignored;
    asio::write(impl_->socket, asio::buffer(frame), ignored);
}

std::optional<int> RawPeer::read_close_code() {
    // Frames from a server are unmasked; a close frame's payload is short.
    if (!impl_->read_at_least(2))
        return std::nullopt;
    const std::string header = impl_->take(2);
    const int opcode = header[0] & 0x0f;
    const std::size_t length = header[1] & 0x7f;
    if (opcode != 0x8 || length < 2 || length > 125 || !impl_->read_at_least(length))
        return std::nullopt;
    const std::string payload = impl_->take(length);
    return (static_cast<unsigned char>(payload[0]) << 8) | static_cast<unsigned char>(payload[1]);
}
