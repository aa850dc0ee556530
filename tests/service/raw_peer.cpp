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

    std::string take(std::size_t size) {
        const char* data = asio::buffer_cast<const char*>(input.data());
        std::string bytes(data, size);
        input.consume(size);
        return bytes;
    }
};

RawPeer::RawPeer(const std::string& address, std::uint16_t port) : impl_(std::make_unique<Impl>()) {
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
                          "Sec-WebSocket-Version: 13\r\n"
                          "\r\n";
    asio::write(impl_->socket, asio::buffer(request), ec);
    if (ec || !impl_->read_until("\r\n\r\n"))
        return;
    std::string response = impl_->take(impl_->input.size());
    impl_->open = response.rfind("HTTP/1.1 101 ", 0) == 0;
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
