#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// A request and the reply it must get.
struct Exchange {
    std::string request;
    std::string reply;
};

// What one round of requests measured.
struct RequestRound {
    std::size_t replies = 0;       // replies that matched
    std::size_t wrong_replies = 0; // replies of another text
    std::size_t lost_replies = 0;  // requests whose connection ended or timed out before the reply
    double seconds = 0;            // from the first request to the last reply
    std::vector<std::int64_t> latencies_ns; // one per reply
};

// Connections to one server on loopback, all run on a thread of their own. Requests are strict
// request/response: a connection sends its next request once the last one has its reply. A
// message of the requests' frame kind that answers an outstanding request is its reply; any
// other text message is a push.
// Thread Safety: distinct objects safe, shared objects unsafe.
class LoadClient {
public:
    static constexpr std::size_t kHandshakesInFlight = 100;

    // Starts connecting count clients to 127.0.0.1:port. Requests go as binary frames when
    // binary is set, else as text frames; pushes must carry push_text.
    LoadClient(std::uint16_t port, std::size_t count, bool binary, std::string push_text);
    // Closes what is still open (bounded) and stops the thread.
    ~LoadClient();
    LoadClient(const LoadClient&) = delete;
    LoadClient& operator=(const LoadClient&) = delete;

    // True once every connection is open; false when one failed or the limit passed.
    bool wait_open(std::chrono::seconds limit);

    // Every open connection sends requests, going round the exchanges, until duration has
    // passed, and then waits for its last reply (bounded).
    RequestRound run(const std::vector<Exchange>& exchanges,
                     std::chrono::duration<double> duration);

    // Once every open connection has had count pushes: when the last of them came.
    std::optional<std::chrono::steady_clock::time_point> wait_pushes(std::size_t count,
                                                                     std::chrono::seconds limit);
    // The fewest and the most pushes a connection has had, and the pushes of another text.
    std::size_t fewest_pushes();
    std::size_t most_pushes();
    std::size_t wrong_pushes();
    // Connections that ended without our asking, and messages that were neither reply nor push.
    std::size_t dropped();
    std::size_t strays();

    // Closes every connection normally; true once all have closed within the limit.
    bool close(std::chrono::seconds limit);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
