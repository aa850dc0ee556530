// The soak run: the service, run as the program runs it, under a steady load of 100 clients
// sending scripts while other clients connect and vanish abruptly and device changes are
// posted. A warm-up phase, then the main phase; after each, every client goes and the service
// is checked. Exits non-zero when a check fails.
//
//   quillgate_soak [SECONDS]   (default 180, at least 20)

#include "bench/churn_client.h"
#include "bench/load_client.h"
#include "bench/server_process.h"
#include "bench/stats.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kSteadyClients = 100;
constexpr std::size_t kChurningClients = 10;
constexpr auto kDeviceChangeEvery = 250ms;
constexpr double kRssTolerance = 0.05;

const std::string kUserList = "alice\n张伟\n李娜\nbob.smith\nRenée\n";

std::vector<Exchange> soak_exchanges() {
    return {
        {"ProcessEntity-1{FunctionType[401]FalseNext[0]}ProcessNum{-1}", "-1"},
        {"ProcessEntity-1{FunctionType[401]TrueNext[0]FalseNext[0]}ProcessNum{1}", kUserList},
        {"ProcessNum{1}", "FunctionRes[-1]FunctionNotSucessAt[1]"},
        {"ProcessEntity-1{FunctionType[401]TrueNext[2]FalseNext[0]}"
         "ProcessEntity-2{FunctionType[401]TrueNext[0]}ProcessNum{2}",
         kUserList + kUserList},
        {"ProcessEntity-1{FunctionType[7]}ProcessNum{1}", "FunctionRes[-1]FunctionNotSucessAt[1]"},
    };
}

struct Checks {
    int failed = 0;

    void check(bool ok, const std::string& what) {
        std::printf("  %s %s\n", ok ? "ok  " : "FAIL", what.c_str());
        failed += ok ? 0 : 1;
    }
};

std::string count(std::size_t n) {
    return thousands(static_cast<double>(n));
}

struct Phase {
    std::size_t requests = 0; // by every client
    std::size_t connections = 0;
    long rss_kib = 0; // once every client has gone
};

template <typename Condition> bool eventually(Condition condition, std::chrono::seconds limit) {
    auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// The full load for duration; then every client goes.
Phase run_phase(const char* name, ServerProcess& host, std::chrono::seconds duration,
                Checks& checks) {
    std::printf("\n%s: %lld s, %zu steady clients, %zu churning, a device change every %lld ms\n",
                name, static_cast<long long>(duration.count()), kSteadyClients, kChurningClients,
                static_cast<long long>(kDeviceChangeEvery.count()));
    const std::vector<Exchange> exchanges = soak_exchanges();
    Phase phase;
    LoadClient steady(host.port(), kSteadyClients, true, kUserList);
    checks.check(steady.wait_open(60s), "every steady client connected");
    checks.check(eventually([&] { return host.connections() == kSteadyClients; }, 30s),
                 "the registry holds the steady clients");

    RequestRound round;
    std::thread requests([&] { round = steady.run(exchanges, duration); });
    ChurnClient churn(host.port(), kChurningClients, exchanges);
    std::size_t device_changes = 0;
    long busy_rss_kib = 0;
    for (auto end = Clock::now() + duration; Clock::now() < end;) {
        std::this_thread::sleep_for(kDeviceChangeEvery);
        host.push();
        ++device_changes;
        busy_rss_kib = std::max(busy_rss_kib, host.memory().rss_kib);
    }
    requests.join();
    bool churn_ended = churn.stop(30s);
    ChurnClient::Counts churned = churn.counts();
    bool pushes_arrived = steady.wait_pushes(device_changes, 30s).has_value();

    std::size_t steady_requests = round.replies + round.wrong_replies + round.lost_replies;
    phase.requests = steady_requests + churned.requests;
    phase.connections = kSteadyClients + churned.opened;
    std::printf("  steady: %s requests (%s/s), p50 %.0f us, p99 %.0f us; churn: %s clients, %s "
                "requests; %zu device changes; RSS under load %.1f MiB\n",
                count(steady_requests).c_str(),
                thousands(static_cast<double>(steady_requests) / round.seconds).c_str(),
                percentile(round.latencies_ns, 50) / 1000,
                percentile(round.latencies_ns, 99) / 1000, count(churned.opened).c_str(),
                count(churned.requests).c_str(), device_changes,
                static_cast<double>(busy_rss_kib) / 1024);
    checks.check(round.lost_replies == 0 && churned.lost_replies == 0,
                 "no client lost a reply (steady " + count(round.lost_replies) + ", churn " +
                     count(churned.lost_replies) + ")");
    checks.check(round.wrong_replies == 0 && churned.wrong_replies == 0,
                 "every reply was right (wrong: steady " + count(round.wrong_replies) + ", churn " +
                     count(churned.wrong_replies) + ")");
    checks.check(churn_ended && churned.failed == 0,
                 "every churning client connected and went (" + count(churned.failed) + " failed)");
    checks.check(pushes_arrived && steady.most_pushes() == device_changes &&
                     steady.wrong_pushes() == 0,
                 "every steady client got each of the " + std::to_string(device_changes) +
                     " pushes once (fewest " + count(steady.fewest_pushes()) + ", most " +
                     count(steady.most_pushes()) + ")");
    checks.check(steady.dropped() == 0 && steady.strays() == 0,
                 "no steady client was dropped or got a stray message");

    checks.check(steady.close(30s), "every steady client closed");
    std::size_t left = 0;
    bool empty = eventually([&] { return (left = host.connections()) == 0; }, 30s);
    checks.check(empty, "the registry is empty (" + count(left) + " left)");
    phase.rss_kib = host.memory().rss_kib;
    std::printf("  RSS with every client gone: %.1f MiB\n",
                static_cast<double>(phase.rss_kib) / 1024);
    return phase;
}

struct LogCount {
    std::size_t lines = 0;
    std::size_t malformed = 0;
    std::size_t received = 0; // the first line of a message
    std::size_t handled = 0;  // the second
    std::size_t opened = 0;
    std::size_t closed = 0;
};

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// "hh:mm:ss|thread id| Error: " or " Info: " starts every line.
bool well_formed(const std::string& line) {
    if (line.size() < 10 || line[2] != ':' || line[5] != ':' || line[8] != '|')
        return false;
    std::size_t bar = line.find('|', 9);
    if (bar == std::string::npos || bar == 9 || line.find_first_not_of("0123456789", 9) != bar)
        return false;
    return line.compare(bar + 1, 8, " Error: ") == 0 || line.compare(bar + 1, 7, " Info: ") == 0;
}

// The day's log file of the service's folder; a run past midnight keeps its first file.
LogCount count_log(const std::string& folder) {
    LogCount counted;
    std::string path;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().rfind("Quillgatelog_", 0) == 0)
            path = entry.path();
    std::ifstream log(path, std::ios::binary);
    for (std::string line; std::getline(log, line);) {
        ++counted.lines;
        counted.malformed += well_formed(line) ? 0 : 1;
        counted.received += ends_with(line, "websocket_server通信.[service\\websocket_server:72]");
        counted.handled += ends_with(
            line, "websocket_server-on_message called with hdl.[service\\websocket_server:80]");
        counted.opened +=
            ends_with(line, "websocket_server连接on_open.[service\\websocket_server:39]");
        counted.closed +=
            ends_with(line, "websocket_server断开连接on_close.[service\\websocket_server:57]");
    }
    return counted;
}

} // namespace

int main(int argc, char* argv[]) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    long seconds = argc > 1 ? std::max(20L, std::atol(argv[1])) : 180;
    auto warm_up = std::chrono::seconds(std::clamp(seconds / 6, 10L, 60L));
    auto main_phase = std::chrono::seconds(seconds) - warm_up;
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }

    Checks checks;
    try {
        ServerProcess host({SERVICE_HOST}, {"QUILLGATE_CONTROL_MODULE=" SAMPLE_CONTROL_MODULE,
                                            "QUILLGATE_SAMPLE_USERLIST={folder}users.txt"});
        std::ofstream(host.folder() + "users.txt", std::ios::binary) << kUserList;
        std::printf("quillgate soak: %ld s, service pid %d\n", seconds, host.pid());

        Phase warm = run_phase("warm-up", host, warm_up, checks);
        Phase main = run_phase("main phase", host, main_phase, checks);
        double growth =
            static_cast<double>(main.rss_kib - warm.rss_kib) / static_cast<double>(warm.rss_kib);
        std::printf("\nafter the run\n");
        char rss[160];
        std::snprintf(rss, sizeof rss,
                      "RSS is back within 5%% of its level after warm-up (%ld KiB, now %ld KiB, "
                      "%+.1f%%)",
                      warm.rss_kib, main.rss_kib, growth * 100);
        checks.check(growth <= kRssTolerance, rss);
        std::printf("  service peak RSS %.1f MiB\n",
                    static_cast<double>(host.memory().peak_kib) / 1024);
        checks.check(host.quit() == 0, "the service ended with status 0");

        std::ifstream errors(host.folder() + "stderr.txt", std::ios::binary);
        std::size_t control_failures = 0;
        for (std::string line; std::getline(errors, line);)
            control_failures += line.find("Vorn_Quillgate: ") == 0 ? 1 : 0;
        checks.check(control_failures == 0,
                     "the control never failed (" + count(control_failures) + " reports)");

        LogCount log = count_log(host.folder());
        std::size_t messages = warm.requests + main.requests;
        checks.check(log.received == messages && log.handled == messages &&
                         log.received + log.handled == 2 * messages,
                     "the log holds two lines per message: " + count(messages) + " messages, " +
                         count(log.received) + " + " + count(log.handled) + " message lines");
        checks.check(log.malformed == 0, "every one of the " + count(log.lines) +
                                             " log lines is well formed (" + count(log.malformed) +
                                             " not)");
        checks.check(log.opened == log.closed && log.opened >= warm.connections + main.connections,
                     "every opened connection was closed: " + count(log.opened) + " opened, " +
                         count(log.closed) + " closed, " +
                         count(warm.connections + main.connections) + " clients");
    } catch (const std::exception& e) {
        std::printf("FAIL %s\n", e.what());
        ++checks.failed;
    }
    std::printf("\n%s\n", checks.failed ? "soak FAILED" : "soak passed");
    return checks.failed ? 1 : 0;
}
