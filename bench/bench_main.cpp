// The load benchmark: the service, run as the program runs it, against two websocketpp echo
// servers (bare, and doing the service's per-message logging), each in a process of its own,
// driven by our own client in alternating rounds.
//
//   quillgate_bench [--rounds N] [--seconds S] [--cases NAME,...]
//
// Cases: script-1, script-50 (a 60-byte script answered by "-1" over 1 and 50 connections),
// userlist-1, userlist-50 (a type-401 script with the sample control module), push (one user
// list to 1,000 clients), idle (RSS with 10,000 idle connections).

#include "bench/load_client.h"
#include "bench/server_process.h"
#include "bench/stats.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kScript60 = "ProcessEntity-1{FunctionType[401]FalseNext[0]}ProcessNum{-1}";
const std::string kUserListScript =
    "ProcessEntity-1{FunctionType[401]TrueNext[0]FalseNext[0]}ProcessNum{1}";
constexpr std::size_t kPushClients = 1000;
constexpr std::size_t kPushesPerRound = 20;
constexpr std::size_t kIdleClients = 10000;

struct Options {
    int rounds = 5;
    double seconds = 2;
    std::set<std::string> cases;
};

enum ServerKind { service, bare, logged };
constexpr ServerKind kServers[] = {service, bare, logged};
const char* const kServerNames[] = {"service", "bare echo", "logged echo"};

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::unique_ptr<ServerProcess> start_server(ServerKind kind) {
    if (kind == service)
        return std::make_unique<ServerProcess>(
            std::vector<std::string>{SERVICE_HOST},
            std::vector<std::string>{"QUILLGATE_CONTROL_MODULE=" SAMPLE_CONTROL_MODULE,
                                     "QUILLGATE_SAMPLE_USERLIST=" SAMPLE_USER_LIST});
    std::vector<std::string> argv{ECHO_SERVER};
    if (kind == logged)
        argv.push_back("--logged");
    argv.push_back(SAMPLE_USER_LIST);
    return std::make_unique<ServerProcess>(argv, std::vector<std::string>{});
}

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void require(bool condition, const std::string& what) {
    if (!condition)
        throw Failure(what);
}

// Waits until the server's registry (or the echo server's set) holds count connections.
void wait_registered(ServerProcess& server, std::size_t count) {
    auto deadline = Clock::now() + 60s;
    while (server.connections() != count) {
        require(Clock::now() < deadline, "the server did not register every connection");
        std::this_thread::sleep_for(10ms);
    }
}

struct CaseResult {
    std::string title;
    std::string figures[3];
    double to_bare = 0, to_logged = 0;
    std::string target;
    long service_peak_kib = 0;
};

// Sets the case's verdict on its target and prints the ratios.
void report_ratios(CaseResult& result, bool met, const std::string& target) {
    result.target = (met ? "met (" : "MISSED (") + target + ")";
    std::printf("  service/bare %.2fx  service/logged %.2fx (target %s: %s)  service peak RSS "
                "%.1f MiB\n",
                result.to_bare, result.to_logged, target.c_str(), met ? "met" : "MISSED",
                static_cast<double>(result.service_peak_kib) / 1024);
}

void end_servers(std::unique_ptr<LoadClient> (&clients)[3],
                 std::unique_ptr<ServerProcess> (&servers)[3]) {
    for (ServerKind kind : kServers) {
        require(clients[kind]->close(30s), "connections did not close");
        require(servers[kind]->quit() == 0, std::string(kServerNames[kind]) + " did not end well");
    }
}

// Strict request/response over connections to each server, in rounds whose order turns.
CaseResult throughput_case(const Options& options, const std::string& title,
                           std::size_t connections, const std::string& request,
                           const std::string& service_reply) {
    std::printf("\n== %s: %d rounds of %.1f s\n", title.c_str(), options.rounds, options.seconds);
    std::unique_ptr<ServerProcess> servers[3];
    std::unique_ptr<LoadClient> clients[3];
    std::vector<Exchange> exchanges[3];
    for (ServerKind kind : kServers) {
        servers[kind] = start_server(kind);
        clients[kind] = std::make_unique<LoadClient>(servers[kind]->port(), connections, false, "");
        require(clients[kind]->wait_open(60s), "connections to the server failed");
        exchanges[kind] = {{request, kind == service ? service_reply : request}};
    }
    for (ServerKind kind : kServers)
        clients[kind]->run(exchanges[kind], 500ms);

    std::vector<double> rates[3], p50[3], p99[3], cpu[3], ratios[3];
    for (int round = 0; round < options.rounds; ++round) {
        double round_rate[3];
        for (int k = 0; k < 3; ++k) {
            ServerKind kind = kServers[(round + k) % 3];
            double cpu_before = servers[kind]->cpu_seconds();
            RequestRound result =
                clients[kind]->run(exchanges[kind], std::chrono::duration<double>(options.seconds));
            double cpu_used = servers[kind]->cpu_seconds() - cpu_before;
            require(result.wrong_replies == 0 && result.lost_replies == 0,
                    std::string(kServerNames[kind]) + ": " + std::to_string(result.wrong_replies) +
                        " wrong and " + std::to_string(result.lost_replies) + " lost replies");
            round_rate[kind] = static_cast<double>(result.replies) / result.seconds;
            rates[kind].push_back(round_rate[kind]);
            p50[kind].push_back(percentile(result.latencies_ns, 50) / 1000);
            p99[kind].push_back(percentile(result.latencies_ns, 99) / 1000);
            cpu[kind].push_back(cpu_used * 1e6 / static_cast<double>(result.replies));
        }
        ratios[bare].push_back(round_rate[service] / round_rate[bare]);
        ratios[logged].push_back(round_rate[service] / round_rate[logged]);
    }

    CaseResult result;
    result.title = title;
    result.service_peak_kib = servers[service]->memory().peak_kib;
    std::printf("  %-12s %10s %9s %9s %17s\n", "", "req/s", "p50 us", "p99 us",
                "server CPU us/req");
    for (ServerKind kind : kServers) {
        std::printf("  %-12s %10s %9.1f %9.1f %17.2f\n", kServerNames[kind],
                    thousands(median(rates[kind])).c_str(), median(p50[kind]), median(p99[kind]),
                    median(cpu[kind]));
        char figure[96];
        std::snprintf(figure, sizeof figure, "%s req/s, p50 %.0f us, p99 %.0f us",
                      thousands(median(rates[kind])).c_str(), median(p50[kind]), median(p99[kind]));
        result.figures[kind] = figure;
    }
    result.to_bare = median(ratios[bare]);
    result.to_logged = median(ratios[logged]);
    report_ratios(result, result.to_logged >= 0.95, ">= 0.95x logged");
    end_servers(clients, servers);
    return result;
}

// One push to 1,000 clients: from the command until the last client has the user list.
CaseResult push_case(const Options& options) {
    std::printf("\n== push of the user list to %zu clients: %d rounds of %zu pushes\n",
                kPushClients, options.rounds, kPushesPerRound);
    const std::string user_list = read_file(SAMPLE_USER_LIST);
    std::unique_ptr<ServerProcess> servers[3];
    std::unique_ptr<LoadClient> clients[3];
    std::size_t pushed[3] = {};
    for (ServerKind kind : kServers) {
        servers[kind] = start_server(kind);
        clients[kind] =
            std::make_unique<LoadClient>(servers[kind]->port(), kPushClients, false, user_list);
        require(clients[kind]->wait_open(60s), "connections to the server failed");
        wait_registered(*servers[kind], kPushClients);
    }
    auto push_once = [&](ServerKind kind) {
        Clock::time_point start = Clock::now();
        servers[kind]->push();
        auto last = clients[kind]->wait_pushes(++pushed[kind], 60s);
        require(last.has_value(), std::string(kServerNames[kind]) + ": a push did not arrive");
        return std::chrono::duration<double, std::milli>(*last - start).count();
    };
    for (ServerKind kind : kServers)
        for (int i = 0; i < 2; ++i)
            push_once(kind);

    std::vector<double> times[3], round_medians[3], cpu[3], ratios[3];
    for (int round = 0; round < options.rounds; ++round) {
        double round_time[3];
        for (int k = 0; k < 3; ++k) {
            ServerKind kind = kServers[(round + k) % 3];
            std::vector<double> these;
            double cpu_before = servers[kind]->cpu_seconds();
            for (std::size_t i = 0; i < kPushesPerRound; ++i)
                these.push_back(push_once(kind));
            cpu[kind].push_back((servers[kind]->cpu_seconds() - cpu_before) * 1e3 /
                                static_cast<double>(kPushesPerRound));
            times[kind].insert(times[kind].end(), these.begin(), these.end());
            round_time[kind] = median(these);
            round_medians[kind].push_back(round_time[kind]);
        }
        ratios[bare].push_back(round_time[service] / round_time[bare]);
        ratios[logged].push_back(round_time[service] / round_time[logged]);
    }

    CaseResult result;
    result.title = "push to " + std::to_string(kPushClients) + " clients";
    result.service_peak_kib = servers[service]->memory().peak_kib;
    std::printf("  %-12s %14s %9s %18s\n", "", "median ms", "p99 ms", "server CPU ms/push");
    for (ServerKind kind : kServers) {
        require(clients[kind]->wrong_pushes() == 0 && clients[kind]->most_pushes() == pushed[kind],
                std::string(kServerNames[kind]) + ": wrong or extra pushes");
        double p99 = percentile(times[kind], 99);
        std::printf("  %-12s %14.2f %9.2f %18.2f\n", kServerNames[kind],
                    median(round_medians[kind]), p99, median(cpu[kind]));
        char figure[96];
        std::snprintf(figure, sizeof figure, "%.2f ms to the last client (p99 %.2f ms)",
                      median(round_medians[kind]), p99);
        result.figures[kind] = figure;
    }
    result.to_bare = median(ratios[bare]);
    result.to_logged = median(ratios[logged]);
    report_ratios(result, result.to_bare <= 1.2, "<= 1.2x bare");
    end_servers(clients, servers);
    return result;
}

// RSS of a fresh server with 10,000 idle connections, less its RSS before them.
CaseResult idle_case(const Options& options) {
    int rounds = std::min(options.rounds, 3);
    std::printf("\n== RSS with %zu idle connections: %d rounds\n", kIdleClients, rounds);
    std::vector<double> per_connection[3];
    long service_peak_kib = 0;
    for (int round = 0; round < rounds; ++round) {
        for (int k = 0; k < 3; ++k) {
            ServerKind kind = kServers[(round + k) % 3];
            auto server = start_server(kind);
            long before = server->memory().rss_kib;
            {
                LoadClient clients(server->port(), kIdleClients, false, "");
                require(clients.wait_open(120s), "idle connections failed");
                wait_registered(*server, kIdleClients);
                long with = server->memory().rss_kib;
                per_connection[kind].push_back(static_cast<double>(with - before) /
                                               static_cast<double>(kIdleClients));
                if (kind == service)
                    service_peak_kib = std::max(service_peak_kib, server->memory().peak_kib);
                require(clients.close(60s), "idle connections did not close");
            }
            require(server->quit() == 0, std::string(kServerNames[kind]) + " did not end well");
        }
    }
    CaseResult result;
    result.title = "RSS per idle connection (" + std::to_string(kIdleClients) + ")";
    result.service_peak_kib = service_peak_kib;
    std::printf("  %-12s %18s\n", "", "KiB per connection");
    for (ServerKind kind : kServers) {
        std::printf("  %-12s %18.1f\n", kServerNames[kind], median(per_connection[kind]));
        char figure[64];
        std::snprintf(figure, sizeof figure, "%.1f KiB", median(per_connection[kind]));
        result.figures[kind] = figure;
    }
    result.to_bare = median(per_connection[service]) / median(per_connection[bare]);
    result.to_logged = median(per_connection[service]) / median(per_connection[logged]);
    bool met = median(per_connection[service]) <= 64;
    result.target = met ? "met (<= 64 KiB)" : "MISSED (<= 64 KiB)";
    std::printf("  service %.1f KiB per connection (target <= 64 KiB: %s)  service peak RSS %.1f "
                "MiB\n",
                median(per_connection[service]), met ? "met" : "MISSED",
                static_cast<double>(service_peak_kib) / 1024);
    return result;
}

void print_summary(const std::vector<CaseResult>& results) {
    std::printf("\n| case | service | bare echo | logged echo | service/bare | service/logged | "
                "target | service peak RSS |\n|---|---|---|---|---|---|---|---|\n");
    for (const CaseResult& r : results)
        std::printf("| %s | %s | %s | %s | %.2fx | %.2fx | %s | %.1f MiB |\n", r.title.c_str(),
                    r.figures[service].c_str(), r.figures[bare].c_str(), r.figures[logged].c_str(),
                    r.to_bare, r.to_logged, r.target.c_str(),
                    static_cast<double>(r.service_peak_kib) / 1024);
}

Options parse(int argc, char* argv[]) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string name = argv[i], value = argv[i + 1];
        if (name == "--rounds")
            options.rounds = std::max(1, std::atoi(value.c_str()));
        else if (name == "--seconds")
            options.seconds = std::max(0.1, std::atof(value.c_str()));
        else if (name == "--cases")
            for (std::stringstream list(value); std::getline(list, value, ',');)
                options.cases.insert(value);
        else
            throw Failure("unknown option " + name);
    }
    return options;
}

std::string load_average() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

} // namespace

int main(int argc, char* argv[]) {
    try {
        std::setvbuf(stdout, nullptr, _IOLBF, 0);
        Options options = parse(argc, argv);
        // As the program does: room for the 10,000 clients.
        rlimit limit;
        if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
            limit.rlim_cur = limit.rlim_max;
            setrlimit(RLIMIT_NOFILE, &limit);
        }
        auto wanted = [&options](const std::string& name) {
            return options.cases.empty() || options.cases.count(name) > 0;
        };
        std::printf("quillgate load benchmark: %u cores, load average %s\n",
                    std::thread::hardware_concurrency(), load_average().c_str());
        std::printf("60-byte script: %s\n", kScript60.c_str());
        std::vector<CaseResult> results;
        if (wanted("script-1"))
            results.push_back(throughput_case(
                options, "60-byte script answered by \"-1\", 1 connection", 1, kScript60, "-1"));
        if (wanted("script-50"))
            results.push_back(throughput_case(
                options, "60-byte script answered by \"-1\", 50 connections", 50, kScript60, "-1"));
        const std::string user_list = read_file(SAMPLE_USER_LIST);
        if (wanted("userlist-1"))
            results.push_back(throughput_case(options, "type-401 script (user list), 1 connection",
                                              1, kUserListScript, user_list));
        if (wanted("userlist-50"))
            results.push_back(throughput_case(options,
                                              "type-401 script (user list), 50 connections", 50,
                                              kUserListScript, user_list));
        if (wanted("push"))
            results.push_back(push_case(options));
        if (wanted("idle"))
            results.push_back(idle_case(options));
        print_summary(results);
        std::printf("\nload average at the end: %s\n", load_average().c_str());
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "quillgate_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
