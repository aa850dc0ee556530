#pragma once

#include "service/websocket_server.h"
#include "support/log_lines.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

// What the service tests share: the test environment (a log folder and the sample control with
// a user list of its own), a service run on a thread, and the log lines of the registry.

constexpr std::chrono::seconds kWaitLimit{20};

inline const std::string kUserList = "alice\n张三\n";
inline const std::string kUserListScript =
    "ProcessEntity-1{FunctionType[401]TrueNext[0]FalseNext[0]}ProcessNum{1}";

inline const std::string kOpened = "websocket_server连接on_open.[service\\websocket_server:39]";
inline const std::string kClosed =
    "websocket_server断开连接on_close.[service\\websocket_server:57]";

// The file the service logs to.
std::string service_log_path();

// The messages of the lines the log gained since its mark; each line's error-level prefix is
// checked on the way.
std::vector<std::string> error_messages(const LogLines& log);

// A service on the given port (0: a free one), run on a thread of its own; shut down and
// joined when the object goes.
class ServiceThread {
public:
    explicit ServiceThread(std::uint16_t port = 0)
        : service_(port), thread_([this] { service_.start(); }) {}
    ~ServiceThread() {
        service_.shut_down();
        thread_.join();
    }
    ServiceThread(const ServiceThread&) = delete;
    ServiceThread& operator=(const ServiceThread&) = delete;

    websocket_server& service() { return service_; }

    // host: "127.0.0.1" or "[::1]".
    std::string uri(const std::string& host = "127.0.0.1") const {
        return "ws://" + host + ":" + std::to_string(service_.listening_port());
    }

private:
    websocket_server service_;
    std::thread thread_;
};

// One serving service per test.
class ServiceTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(service_.wait_until_serving(kWaitLimit)); }

    std::string uri(const std::string& host = "127.0.0.1") const { return running_.uri(host); }

    ServiceThread running_;
    websocket_server& service_ = running_.service();
};
