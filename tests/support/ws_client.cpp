#include "support/ws_client.h"

#include <websocketpp/client.hpp>
#include <websocketpp/config/asio_no_tls_client.hpp>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>

using client = websocketpp::client<websocketpp::config::asio_client>;

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

    void on_close() {
        std::lock_guard<std::mutex> lock(mutex);
        close_code = endpoint.get_con_from_hdl(hdl)->get_remote_close_code();
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
    endpoint.set_open_handler([impl](auto) { impl->set_state(Impl::State::open); });
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
    close();
    impl_->wait([this] { return impl_->state != Impl::State::open; });
    impl_->endpoint.stop();
    impl_->thread.join();
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
        impl->endpoint.send(impl->hdl, payload, static_cast<websocketpp::frame::opcode::value>(opcode),
                            ignored);
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

void WsClient::close() {
    Impl* impl = impl_.get();
    impl->endpoint.get_io_service().post([impl] {
        websocketpp::lib::error_code ignored;
        impl->endpoint.close(impl->hdl, websocketpp::close::status::normal, "", ignored);
    });
}
