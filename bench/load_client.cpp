#include "bench/load_client.h"

#include "bench/bench_client.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

using Clock = std::chrono::steady_clock;

namespace {

struct Connection {
    enum class State { connecting, open, failed, closed };
    websocketpp::connection_hdl hdl;
    State state = State::connecting; // written under the mutex
    bool outstanding = false;        // a request waits for its reply
    std::size_t next = 0;            // the exchange it sends next
    Clock::time_point sent;
    std::size_t pushes = 0; // under the mutex
    Clock::time_point last_push;
};

} // namespace

// Everything but the members under the mutex is touched on the loop's thread only.
struct LoadClient::Impl {
    bench_client endpoint;
    std::string uri;
    websocketpp::frame::opcode::value opcode;
    std::string push_text;
    std::vector<std::unique_ptr<Connection>> connections;
    std::thread thread;

    std::size_t started = 0;
    std::size_t in_flight = 0;
    bool closing = false;
    const std::vector<Exchange>* exchanges = nullptr;
    bool round_running = false;
    std::size_t active = 0; // connections still in the round
    Clock::time_point first_sent, deadline, last_reply;
    RequestRound round;

    std::mutex mutex;
    std::condition_variable changed;
    std::size_t opened = 0, failed = 0, closed = 0;
    bool round_done = false;
    std::size_t wrong_pushes = 0, dropped = 0, strays = 0;

    template <typename Done> bool wait(std::chrono::duration<double> limit, Done done) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, limit, done);
    }

    template <typename Change> void update(Change change) {
        std::lock_guard<std::mutex> lock(mutex);
        change();
        changed.notify_all();
    }

    void connect_more() {
        while (started < connections.size() && in_flight < kHandshakesInFlight) {
            Connection* c = connections[started++].get();
            websocketpp::lib::error_code ec;
            bench_client::connection_ptr con = endpoint.get_connection(uri, ec);
            if (ec) {
                update([this, c] {
                    c->state = Connection::State::failed;
                    ++failed;
                });
                continue;
            }
            c->hdl = con->get_handle();
            con->set_open_handler([this, c](websocketpp::connection_hdl) { on_open(c); });
            con->set_fail_handler([this, c](websocketpp::connection_hdl) { on_fail(c); });
            con->set_close_handler([this, c](websocketpp::connection_hdl) { on_close(c); });
            con->set_message_handler(
                [this, c](websocketpp::connection_hdl, bench_client::message_ptr msg) {
                    on_message(c, msg);
                });
            endpoint.connect(con);
            ++in_flight;
        }
    }

    void on_open(Connection* c) {
        --in_flight;
        update([this, c] {
            c->state = Connection::State::open;
            ++opened;
        });
        connect_more();
    }

    void on_fail(Connection* c) {
        --in_flight;
        update([this, c] {
            c->state = Connection::State::failed;
            ++failed;
        });
        connect_more();
    }

    void on_close(Connection* c) {
        if (c->outstanding) {
            c->outstanding = false;
            ++round.lost_replies;
            leave_round();
        }
        update([this, c] {
            c->state = Connection::State::closed;
            ++closed;
            dropped += closing ? 0 : 1;
        });
    }

    void on_message(Connection* c, const bench_client::message_ptr& msg) {
        Clock::time_point now = Clock::now();
        if (c->outstanding && msg->get_opcode() == opcode) {
            c->outstanding = false;
            round.latencies_ns.push_back(
                std::chrono::duration_cast<std::chrono::nanoseconds>(now - c->sent).count());
            const Exchange& exchange = (*exchanges)[c->next];
            ++(msg->get_payload() == exchange.reply ? round.replies : round.wrong_replies);
            c->next = (c->next + 1) % exchanges->size();
            last_reply = now;
            if (now < deadline)
                send_request(c);
            else
                leave_round();
        } else if (msg->get_opcode() == websocketpp::frame::opcode::text) {
            bool right = msg->get_payload() == push_text;
            update([&] {
                ++c->pushes;
                c->last_push = now;
                wrong_pushes += right ? 0 : 1;
            });
        } else {
            update([this] { ++strays; });
        }
    }

    void send_request(Connection* c) {
        c->outstanding = true;
        c->sent = Clock::now();
        websocketpp::lib::error_code ec;
        endpoint.send(c->hdl, (*exchanges)[c->next].request, opcode, ec);
        if (ec) {
            c->outstanding = false;
            ++round.lost_replies;
            leave_round();
        }
    }

    void start_round(std::chrono::duration<double> duration) {
        round_running = true;
        first_sent = last_reply = Clock::now();
        deadline = first_sent + std::chrono::duration_cast<Clock::duration>(duration);
        active = 0;
        for (const auto& c : connections)
            active += c->state == Connection::State::open ? 1 : 0;
        if (active == 0)
            return end_round();
        for (const auto& c : connections)
            if (c->state == Connection::State::open)
                send_request(c.get());
    }

    void leave_round() {
        if (round_running && --active == 0)
            end_round();
    }

    // The requests still without a reply count as lost.
    void end_round() {
        if (!round_running)
            return;
        round_running = false;
        for (const auto& c : connections) {
            if (c->outstanding) {
                c->outstanding = false;
                ++round.lost_replies;
            }
        }
        round.seconds = std::chrono::duration<double>(last_reply - first_sent).count();
        update([this] { round_done = true; });
    }
};

LoadClient::LoadClient(std::uint16_t port, std::size_t count, bool binary, std::string push_text)
    : impl_(std::make_unique<Impl>()) {
    Impl* impl = impl_.get();
    impl->uri = "ws://127.0.0.1:" + std::to_string(port);
    impl->opcode = binary ? websocketpp::frame::opcode::binary : websocketpp::frame::opcode::text;
    impl->push_text = std::move(push_text);
    for (std::size_t i = 0; i < count; ++i)
        impl->connections.push_back(std::make_unique<Connection>());
    init_bench_client(impl->endpoint);
    impl->endpoint.start_perpetual();
    impl->endpoint.get_io_service().post([impl] { impl->connect_more(); });
    impl->thread = std::thread([impl] { impl->endpoint.run(); });
}

LoadClient::~LoadClient() {
    close(std::chrono::seconds(20));
    impl_->endpoint.stop();
    impl_->thread.join();
}

bool LoadClient::wait_open(std::chrono::seconds limit) {
    Impl* impl = impl_.get();
    std::size_t count = impl->connections.size();
    impl->wait(limit, [impl, count] { return impl->opened + impl->failed == count; });
    std::lock_guard<std::mutex> lock(impl->mutex);
    return impl->opened == count;
}

RequestRound LoadClient::run(const std::vector<Exchange>& exchanges,
                             std::chrono::duration<double> duration) {
    Impl* impl = impl_.get();
    impl->update([impl] { impl->round_done = false; });
    impl->endpoint.get_io_service().post([impl, &exchanges, duration] {
        impl->exchanges = &exchanges;
        impl->round = RequestRound();
        impl->start_round(duration);
    });
    auto done = [impl] { return impl->round_done; };
    if (!impl->wait(duration + std::chrono::seconds(30), done)) {
        impl->endpoint.get_io_service().post([impl] { impl->end_round(); });
        impl->wait(std::chrono::seconds(30), done);
    }
    std::lock_guard<std::mutex> lock(impl->mutex);
    return std::move(impl->round);
}

std::optional<Clock::time_point> LoadClient::wait_pushes(std::size_t count,
                                                         std::chrono::seconds limit) {
    Impl* impl = impl_.get();
    auto all_have = [impl, count] {
        return std::all_of(impl->connections.begin(), impl->connections.end(), [count](auto& c) {
            return c->state != Connection::State::open || c->pushes >= count;
        });
    };
    if (!impl->wait(limit, all_have))
        return std::nullopt;
    std::lock_guard<std::mutex> lock(impl->mutex);
    Clock::time_point last{};
    for (const auto& c : impl->connections)
        last = std::max(last, c->last_push);
    return last;
}

std::size_t LoadClient::fewest_pushes() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    std::size_t fewest = SIZE_MAX;
    for (const auto& c : impl_->connections)
        fewest = std::min(fewest, c->pushes);
    return impl_->connections.empty() ? 0 : fewest;
}

std::size_t LoadClient::most_pushes() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    std::size_t most = 0;
    for (const auto& c : impl_->connections)
        most = std::max(most, c->pushes);
    return most;
}

std::size_t LoadClient::wrong_pushes() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->wrong_pushes;
}

std::size_t LoadClient::dropped() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->dropped;
}

std::size_t LoadClient::strays() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->strays;
}

bool LoadClient::close(std::chrono::seconds limit) {
    Impl* impl = impl_.get();
    impl->update([impl] { impl->closing = true; });
    impl->endpoint.get_io_service().post([impl] {
        for (const auto& c : impl->connections) {
            if (c->state != Connection::State::open)
                continue;
            websocketpp::lib::error_code ignored;
            impl->endpoint.close(c->hdl, websocketpp::close::status::normal, "", ignored);
        }
    });
    return impl->wait(limit, [impl] { return impl->closed == impl->opened; });
}
