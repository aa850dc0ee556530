// The baselines of the load benchmark: a websocketpp echo server with the service's endpoint
// type. Bare, it logs nothing. With --logged it does the I/O the service does per message: two
// flushed lines through CLogger, and the library's access log with the service's channels
// (standard output is /dev/null when the benchmark runs it).
//
//   bench_echo_server [--logged] PUSH_FILE
//
// "push" sends the text of PUSH_FILE as a text message to every open connection.

#include "bench/server_commands.h"
#include "log/CLogger.h"
#include "platform/open_file_limit.h"

#include <websocketpp/config/asio_no_tls.hpp>
#include <websocketpp/server.hpp>

#include <fstream>
#include <future>
#include <set>
#include <sstream>
#include <thread>

using server = websocketpp::server<websocketpp::config::asio>;

namespace {

constexpr const char* kSource = "service\\websocket_server";

struct EchoServer {
    server endpoint;
    bool logged = false;
    std::string push_text;
    std::set<websocketpp::connection_hdl, std::owner_less<websocketpp::connection_hdl>> open;

    void on_message(websocketpp::connection_hdl hdl, server::message_ptr msg) {
        if (logged) {
            CLogger::GetInstance()->Error("websocket_server通信.[%s:%d]", kSource, 72);
            CLogger::GetInstance()->Error("websocket_server-on_message called with hdl.[%s:%d]",
                                          kSource, 80);
        }
        websocketpp::lib::error_code ec;
        endpoint.send(hdl, msg->get_payload(), msg->get_opcode(), ec);
    }

    void push() {
        for (const auto& hdl : open) {
            websocketpp::lib::error_code ec;
            endpoint.send(hdl, push_text, websocketpp::frame::opcode::text, ec);
        }
    }

    // Runs on the event loop's thread and waits for the result.
    template <typename Task> auto on_loop(Task task) {
        std::packaged_task<decltype(task())()> packaged(task);
        auto result = packaged.get_future();
        endpoint.get_io_service().post([&packaged] { packaged(); });
        return result.get();
    }

    void quit() {
        endpoint.get_io_service().post([this] {
            websocketpp::lib::error_code ec;
            endpoint.stop_listening(ec);
            for (const auto& hdl : open)
                endpoint.close(hdl, websocketpp::close::status::going_away, "", ec);
        });
    }

    std::string command(const std::string& line) {
        if (line == "push") {
            endpoint.get_io_service().post([this] { push(); });
            return "ok";
        }
        if (line == "count")
            return std::to_string(on_loop([this] { return open.size(); }));
        return "unknown";
    }
};

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace

int main(int argc, char* argv[]) {
    using std::placeholders::_1;
    using std::placeholders::_2;
    EchoServer echo;
    echo.logged = argc > 2 && std::string(argv[1]) == "--logged";
    echo.push_text = read_file(argc > 1 ? argv[argc - 1] : "");
    platform::raise_open_file_limit();

    server& endpoint = echo.endpoint;
    if (echo.logged) {
        CLogger::GetInstance(); // creates the log file before the first message
        endpoint.set_access_channels(websocketpp::log::alevel::all);
        endpoint.clear_access_channels(websocketpp::log::alevel::frame_payload);
    } else {
        endpoint.clear_access_channels(websocketpp::log::alevel::all);
        endpoint.clear_error_channels(websocketpp::log::elevel::all);
    }
    endpoint.init_asio();
    endpoint.set_reuse_addr(true);
    endpoint.set_open_handler([&echo](websocketpp::connection_hdl hdl) { echo.open.insert(hdl); });
    endpoint.set_close_handler([&echo](websocketpp::connection_hdl hdl) { echo.open.erase(hdl); });
    endpoint.set_message_handler(std::bind(&EchoServer::on_message, &echo, _1, _2));
    endpoint.listen(boost::asio::ip::tcp::v6(), 0);
    endpoint.start_accept();
    websocketpp::lib::asio::error_code ec;
    std::uint16_t port = endpoint.get_local_endpoint(ec).port();

    std::thread commands([&echo, port] {
        answer_command("port " + std::to_string(port));
        serve_commands([&echo](const std::string& line) { return echo.command(line); });
        echo.quit();
    });
    endpoint.run();
    commands.join();
    return 0;
}
