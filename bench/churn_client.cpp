#include "bench/churn_client.h"

#include "bench/bench_client.h"
#include "support/reset_connection.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// One client's life, kept by its connection's handlers; touched on the loop's thread only.
struct Visitor {
    websocketpp::connection_hdl hdl;
    const Exchange* exchange = nullptr; // none: it vanishes as soon as it is open
    bool awaiting_reply = false;
    bool gone = false;
};

} // namespace

struct ChurnClient::Impl {
    bench_client endpoint;
    std::string uri;
    std::size_t parallel;
    std::vector<Exchange> exchanges;
    std::thread thread;
    std::size_t serial = 0;
    bool stopping = false;
    bool stopped = false; // the owner's thread only

    std::mutex mutex;
    std::condition_variable changed;
    std::size_t under_way = 0;
    Counts counts;

    template <typename Change> void update(Change change) {
        std::lock_guard<std::mutex> lock(mutex);
        change();
        changed.notify_all();
    }

    // Every third client vanishes without a request; the others go round the exchanges.
    void start_one() {
        auto visitor = std::make_shared<Visitor>();
        std::size_t number = serial++;
        if (number % 3 != 0)
            visitor->exchange = &exchanges[number % exchanges.size()];
        websocketpp::lib::error_code ec;
        bench_client::connection_ptr con = endpoint.get_connection(uri, ec);
        if (ec) {
            update([this] { ++counts.failed; });
            return;
        }
        visitor->hdl = con->get_handle();
        con->set_open_handler([this, visitor](websocketpp::connection_hdl) { on_open(*visitor); });
        con->set_fail_handler([this, visitor](websocketpp::connection_hdl) {
            if (!visitor->gone) {
                update([this] { ++counts.failed; });
                finish(*visitor);
            }
        });
        con->set_close_handler([this, visitor](websocketpp::connection_hdl) {
            if (!visitor->gone) {
                if (visitor->awaiting_reply)
                    update([this] { ++counts.lost_replies; });
                finish(*visitor);
            }
        });
        con->set_message_handler(
            [this, visitor](websocketpp::connection_hdl, bench_client::message_ptr msg) {
                on_message(*visitor, msg);
            });
        endpoint.connect(con);
        update([this] { ++under_way; });
    }

    void on_open(Visitor& visitor) {
        update([this] { ++counts.opened; });
        if (!visitor.exchange)
            return vanish(visitor);
        websocketpp::lib::error_code ec;
        endpoint.send(visitor.hdl, visitor.exchange->request, websocketpp::frame::opcode::binary,
                      ec);
        update([this, &ec] {
            ++counts.requests;
            counts.lost_replies += ec ? 1 : 0;
        });
        if (ec)
            return vanish(visitor);
        visitor.awaiting_reply = true;
    }

    // Pushes, in text frames, are let pass.
    void on_message(Visitor& visitor, const bench_client::message_ptr& msg) {
        if (visitor.gone || !visitor.awaiting_reply ||
            msg->get_opcode() != websocketpp::frame::opcode::binary)
            return;
        visitor.awaiting_reply = false;
        bool right = msg->get_payload() == visitor.exchange->reply;
        update([this, right] { ++(right ? counts.replies : counts.wrong_replies); });
        vanish(visitor);
    }

    void vanish(Visitor& visitor) {
        reset_connection(endpoint, visitor.hdl);
        finish(visitor);
    }

    // The next one starts first, so that none under way reads as all gone.
    void finish(Visitor& visitor) {
        visitor.gone = true;
        if (!stopping)
            start_one();
        update([this] { --under_way; });
    }
};

ChurnClient::ChurnClient(std::uint16_t port, std::size_t parallel, std::vector<Exchange> exchanges)
    : impl_(std::make_unique<Impl>()) {
    Impl* impl = impl_.get();
    impl->uri = "ws://127.0.0.1:" + std::to_string(port);
    impl->parallel = parallel;
    impl->exchanges = std::move(exchanges);
    init_bench_client(impl->endpoint);
    impl->endpoint.start_perpetual();
    impl->endpoint.get_io_service().post([impl] {
        for (std::size_t i = 0; i < impl->parallel; ++i)
            impl->start_one();
    });
    impl->thread = std::thread([impl] { impl->endpoint.run(); });
}

ChurnClient::~ChurnClient() {
    if (!impl_->stopped)
        stop(std::chrono::seconds(20));
    impl_->endpoint.stop();
    impl_->thread.join();
}

bool ChurnClient::stop(std::chrono::seconds limit) {
    Impl* impl = impl_.get();
    impl->stopped = true;
    impl->endpoint.get_io_service().post([impl] { impl->stopping = true; });
    std::unique_lock<std::mutex> lock(impl->mutex);
    return impl->changed.wait_for(lock, limit, [impl] { return impl->under_way == 0; });
}

ChurnClient::Counts ChurnClient::counts() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->counts;
}
