#pragma once

#include "bench/load_client.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

// Clients that come and vanish: each connects to 127.0.0.1:port, then either vanishes at once
// or sends one request (a binary frame) and vanishes when its reply has come. Vanishing is a
// reset: no close frame, no orderly end of the stream. A fixed number are under way at a time,
// on a thread of their own.
// Thread Safety: distinct objects safe, shared objects unsafe.
class ChurnClient {
public:
    struct Counts {
        std::size_t opened = 0;
        std::size_t failed = 0; // connections that did not open
        std::size_t requests = 0;
        std::size_t replies = 0; // that matched
        std::size_t wrong_replies = 0;
        std::size_t lost_replies = 0; // the connection ended before the reply
    };

    ChurnClient(std::uint16_t port, std::size_t parallel, std::vector<Exchange> exchanges);
    // Stops, if stop() was not called.
    ~ChurnClient();
    ChurnClient(const ChurnClient&) = delete;
    ChurnClient& operator=(const ChurnClient&) = delete;

    // Starts no more clients and waits, within the limit, until those under way are gone.
    // False when some were still under way.
    bool stop(std::chrono::seconds limit);

    Counts counts();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
