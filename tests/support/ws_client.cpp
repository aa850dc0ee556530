#include "support/ws_client.h"

#include "support/reset_connection.h"

#include <websocketpp/client.hpp>
#include <websocketpp/config/asio_no_tls_client.hpp>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>

using client = websocketpp::client<websocketpp::config::asio_client>;

namespace {

// The library works out the byte order on first use, in a static it writes unguarded. Settle it
// before any client or service thread starts, so that concurrent threads only read it.
[[maybe_unused]] const std::uint64_t settled_byte_order = websocketpp::lib::net::_htonll(0);

} // namespace

// Every call into the library runs on the client's own thread, so nothing races inside it.
struct WsClient::Impl {
    enum class State { connecting, open, failed, closed };

    client endpoint;
    websocketpp::connection_hdl hdl;
    std::mutex mutex;
    std::condition_variable changed;
    State state = State::connecting;
    std::deque<Message> messages;
    std::uint16_t close_code = 0;
    std::string close_reason;
    std::uint16_t local_port = 0;
    bool stalled = false; // touched only by the thread that owns the WsClient
    std::thread thread;

    void set_state(State next) {
        std::lock_guard<std::mutex> lock(mutex);
        state = next;
        changed.notify_all();
    }

    template <typename Done> bool wait(Done done) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, kWaitLimit, done);
    }

    void on_message(client::message_ptr msg) {
        std::lock_guard<std::mutex> lock(mutex);
        messages.push_back({static_cast<Opcode>(msg->get_opcode()), msg->get_payload()});
        changed.notify_all();
    }

    void on_open() {
        websocketpp::lib::asio::error_code ec;
        std::uint16_t port =
            endpoint.get_con_from_hdl(hdl)->get_raw_socket().local_endpoint(ec).port();
        std::lock_guard<std::mutex> lock(mutex);
        local_port = port;
        state = State::open;
        changed.notify_all();
    }

    void on_close() {
        client::connection_ptr connection = endpoint.get_con_from_hdl(hdl);
        std::lock_guard<std::mutex> lock(mutex);
        close_code = connection->get_remote_close_code();
        close_reason = connection->get_remote_close_reason();
        state = State::closed;
        changed.notify_all();
    }
};

WsClient::WsClient(const std::string& uri) : impl_(std::make_unique<Impl>()) {
    client& endpoint = impl_->endpoint;
    endpoint.clear_access_channels(websocketpp::log::alevel::all);
    endpoint.clear_error_channels(websocketpp::log::elevel::all);
    endpoint.init_asio();
    Impl* impl = impl_.get();
    endpoint.set_open_handler([impl](auto) { impl->on_open(); });
    endpoint.set_fail_handler([impl](auto) { impl->set_state(Impl::State::failed); });
    endpoint.set_close_handler([impl](auto) { impl->on_close(); });
    endpoint.set_message_handler([impl](auto, client::message_ptr msg) { impl->on_message(msg); });

    websocketpp::lib::error_code ec;
    client::connection_ptr connection = endpoint.get_connection(uri, ec);
    if (ec)
        throw std::runtime_error("bad uri " + uri + ": " + ec.message());
    impl_->hdl = connection->get_handle();
    endpoint.connect(connection);
    impl_->thread = std::thread([impl] { impl->endpoint.run(); });
}

WsClient::~WsClient() {
    if (!impl_->stalled) {
        close();
        impl_->wait([this] { return impl_->state != Impl::State::open; });
        impl_->endpoint.stop();
        impl_->thread.join();
    }
}

bool WsClient::wait_open() {
    impl_->wait([this] { return impl_->state != Impl::State::connecting; });
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->state == Impl::State::open;
}

void WsClient::send(const std::string& payload, Opcode opcode) {
    Impl* impl = impl_.get();
    impl->endpoint.get_io_service().post([impl, payload, opcode] {
        websocketpp::lib::error_code ignored;
        impl->endpoint.send(impl->hdl, payload,
                            static_cast<websocketpp::frame::opcode::value>(opcode), ignored);
    });
}

std::optional<WsClient::Message> WsClient::receive() {
    if (!impl_->wait([this] { return !impl_->messages.empty(); }))
        return std::nullopt;
    std::lock_guard<std::mutex> lock(impl_->mutex);
    Message message = std::move(impl_->messages.front());
    impl_->messages.pop_front();
    return message;
}

std::optional<std::uint16_t> WsClient::wait_closed() {
    if (!impl_->wait([this] { return impl_->state == Impl::State::closed; }))
        return std::nullopt;
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->close_code;
}

std::string WsClient::close_reason() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->close_reason;
}

std::uint16_t WsClient::local_port() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->local_port;
}

void WsClient::close() {
    Impl* impl = impl_.get();
    impl->endpoint.get_io_service().post([impl] {
        websocketpp::lib::error_code ignored;
        impl->endpoint.close(impl->hdl, websocketpp::close::status::normal, "", ignored);
    });
}

void WsClient::drop() {
    Impl* impl = impl_.get();
    impl->endpoint.get_io_service().post([impl] { reset_connection(impl->endpoint, impl->hdl); });
}

void WsClient::stall() {
    if (impl_->stalled)
        return;
    impl_->endpoint.stop();
    impl_->thread.join();
    impl_->stalled = true;
}
