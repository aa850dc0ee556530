#include "service/websocket_server.h"

#include "platform/socket_options.h"
#include "service/service_log.h"
#include "service/websocket_endpoint.h"

#include <cstdio>
#include <functional>

namespace {

// Long enough for the library's close handshake timeout (5 s) to run out.
constexpr std::chrono::seconds kShutDownGrace{10};

} // namespace

websocket_server::websocket_server(std::uint16_t port)
    : m_server(std::make_unique<endpoint>()), m_port(port) {}

websocket_server::~websocket_server() {
    shut_down();
}

void websocket_server::start() {
    try {
        run_endpoint();
    } catch (const websocketpp::exception& e) {
        log_service_event(service_log().paused, e.what());
    } catch (...) {
        std::fputs("other exception\n", stdout);
        std::fflush(stdout);
    }
    set_state(State::Ended);
}

void websocket_server::run_endpoint() {
    using std::placeholders::_1;
    using std::placeholders::_2;
    const ServiceLogMessages& log = service_log();

    log_service_event(log.start);
    m_server->set_access_channels(websocketpp::log::alevel::all);
    m_server->clear_access_channels(websocketpp::log::alevel::frame_payload);
    log_service_event(log.initialize_asio);
    m_server->init_asio();
    m_server->start_perpetual();
    if (!advance(State::Constructed, State::Starting))
        return; // shut down before it started
    m_server->set_open_handler(std::bind(&on_open, m_server.get(), this, _1));
    m_server->set_close_handler(std::bind(&on_close, m_server.get(), this, _1));
    m_server->set_message_handler(std::bind(&on_message, m_server.get(), this, _1, _2));

    log_service_event(log.listen);
    m_server->set_reuse_addr(platform::reuse_listening_address);
    m_server->listen(boost::asio::ip::tcp::v6(), m_port);
    log_service_event(log.accept_loop);
    m_server->start_accept();
    log_service_event(log.run_loop);

    boost::system::error_code ec;
    m_listening_port = m_server->get_local_endpoint(ec).port();
    advance(State::Starting, State::Serving);
    m_server->run();
}

void websocket_server::shut_down() {
    {
        std::lock_guard<std::mutex> lock(m_state_mutex);
        if (m_state == State::Ended)
            return;
        if (m_state == State::Constructed) {
            m_state = State::Ended;
            m_state_changed.notify_all();
            return;
        }
    }
    m_server->get_io_service().post([this] { stop_serving(); });
    if (!wait_until_ended(kShutDownGrace)) {
        m_server->stop();
        wait_until([this] { return m_state == State::Ended; });
    }
}

// On the service thread: let the event loop end once the closed connections are gone.
void websocket_server::stop_serving() {
    m_closing = true;
    m_server->stop_perpetual();
    websocketpp::lib::error_code already_stopped;
    m_server->stop_listening(already_stopped);
    close_all();
}

void websocket_server::send_to_all(const std::string& text) {
    run_on_service_thread([this, &text] { push_to_all(text); });
}

std::vector<std::string> websocket_server::registered_connections() {
    std::vector<std::string> ids;
    run_on_service_thread([this, &ids] {
        for (const auto& entry : m_connections)
            ids.push_back(entry.first);
    });
    return ids;
}

// Waits for the task or for the end of the service, whichever comes first: a task still
// queued when the event loop ends is dropped with it, never run.
bool websocket_server::run_on_service_thread(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(m_state_mutex);
        if (m_state == State::Constructed || m_state == State::Ended)
            return false;
    }
    auto done = std::make_shared<bool>(false);
    m_server->get_io_service().post([this, task = std::move(task), done] {
        task();
        std::lock_guard<std::mutex> lock(m_state_mutex);
        *done = true;
        m_state_changed.notify_all();
    });
    wait_until([this, &done] { return *done || m_state == State::Ended; });
    return *done;
}

bool websocket_server::wait_until_serving(std::chrono::milliseconds timeout) {
    wait_for(timeout, [this] { return m_state == State::Serving || m_state == State::Ended; });
    std::lock_guard<std::mutex> lock(m_state_mutex);
    return m_state == State::Serving;
}

bool websocket_server::wait_until_ended(std::chrono::milliseconds timeout) {
    return wait_for(timeout, [this] { return m_state == State::Ended; });
}

std::uint16_t websocket_server::listening_port() const {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    return m_listening_port;
}

bool websocket_server::advance(State from, State to) {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    if (m_state != from)
        return false;
    m_state = to;
    m_state_changed.notify_all();
    return true;
}

void websocket_server::set_state(State state) {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    m_state = state;
    m_state_changed.notify_all();
}

// done is checked with the state lock held.
template <typename Done>
bool websocket_server::wait_for(std::chrono::milliseconds timeout, Done done) {
    std::unique_lock<std::mutex> lock(m_state_mutex);
    return m_state_changed.wait_for(lock, timeout, done);
}

template <typename Done> void websocket_server::wait_until(Done done) {
    std::unique_lock<std::mutex> lock(m_state_mutex);
    m_state_changed.wait(lock, done);
}
