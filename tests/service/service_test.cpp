#include "service/websocket_server.h"

#include "control/CDTarskCtrlControl.h"
#include "log/CLogger.h"
#include "support/log_lines.h"
#include "support/temp_folder.h"
#include "support/ws_client.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <thread>

namespace {

using Opcode = WsClient::Opcode;

constexpr std::chrono::seconds kWaitLimit{20};
const std::string kUserList = "alice\n张三\n";
const std::string kUserListScript =
    "ProcessEntity-1{FunctionType[401]TrueNext[0]FalseNext[0]}ProcessNum{1}";

const std::string kReceived = "websocket_server通信.[service\\websocket_server:72]";
const std::string kHandler = "websocket_server-on_message called with hdl.[service\\websocket_server:80]";
const std::string kStopped = "websocket_server-stop-listening.[service\\websocket_server:84]";

const std::string kOpened = "websocket_server连接on_open.[service\\websocket_server:39]";
const std::string kClosed = "websocket_server断开连接on_close.[service\\websocket_server:57]";

// The messages of error-level log lines, each line's prefix checked on the way. Open and close
// lines are left out: their timing against a client's requests is not fixed.
std::vector<std::string> logged_messages(const LogLines& log) {
    static const std::regex prefix(R"(^\d\d:\d\d:\d\d\|\d+\| Error: )");
    std::vector<std::string> messages;
    for (const std::string& line : log.since_mark()) {
        std::smatch match;
        EXPECT_TRUE(std::regex_search(line, match, prefix)) << line;
        if (match.suffix() != kOpened && match.suffix() != kClosed)
            messages.push_back(match.suffix());
    }
    return messages;
}

std::vector<std::string> repeated(const std::vector<std::string>& lines, int times) {
    std::vector<std::string> all;
    for (int i = 0; i < times; ++i)
        all.insert(all.end(), lines.begin(), lines.end());
    return all;
}

// One log folder and one user list for the whole program; the control is the sample module.
class ServiceEnvironment : public testing::Environment {
public:
    void SetUp() override {
        setenv("TMPDIR", folder_.path().c_str(), 1);
        std::string user_list = folder_.path() + "users.txt";
        std::ofstream(user_list, std::ios::binary) << kUserList;
        setenv("QUILLGATE_SAMPLE_USERLIST", user_list.c_str(), 1);
        ASSERT_TRUE(TheSecurityControl().CreateFromModule(SAMPLE_CONTROL_MODULE));
    }

private:
    TempFolder folder_;
};

const auto* const environment = testing::AddGlobalTestEnvironment(new ServiceEnvironment);

class ServiceTest : public testing::Test {
protected:
    void SetUp() override {
        thread_ = std::thread([this] { service_.start(); });
        ASSERT_TRUE(service_.wait_until_serving(kWaitLimit));
    }

    void TearDown() override {
        service_.shut_down();
        thread_.join();
    }

    std::string uri(const std::string& host = "127.0.0.1") const {
        return "ws://" + host + ":" + std::to_string(service_.listening_port());
    }

    static std::string log_path() { return CLogger::GetInstance()->path(); }

    websocket_server service_{0};
    std::thread thread_;
};

struct Exchange {
    std::string payload;
    Opcode opcode;
    std::string reply;
};

TEST_F(ServiceTest, AnswersEachScriptInAFrameOfItsKindAndLogsTwoLinesPerMessage) {
    const std::vector<Exchange> exchanges = {
        {"", Opcode::text, "-1"},
        {"ProcessNum{0}", Opcode::binary, "-1"},
        {"ProcessNum{1}", Opcode::text, "FunctionRes[-1]FunctionNotSucessAt[1]"},
        {kUserListScript, Opcode::text, kUserList},
        {kUserListScript, Opcode::binary, kUserList},
        {"Stop-listening", Opcode::text, "-1"},
        {"stop-listening ", Opcode::text, "-1"},
        {"stop-listening\n", Opcode::binary, "-1"},
        {std::string("stop-listening\0ProcessNum{1}", 28), Opcode::text, "-1"},
        {"\xff\xfeProcessNum{1}", Opcode::binary, "FunctionRes[-1]FunctionNotSucessAt[1]"},
    };
    for (const std::string host : {"127.0.0.1", "[::1]"}) {
        SCOPED_TRACE(host);
        LogLines log(log_path());
        WsClient client(uri(host));
        ASSERT_TRUE(client.wait_open());
        for (const Exchange& exchange : exchanges) {
            client.send(exchange.payload, exchange.opcode);
            auto reply = client.receive();
            ASSERT_TRUE(reply) << exchange.payload;
            EXPECT_EQ(reply->payload, exchange.reply) << exchange.payload;
            EXPECT_EQ(reply->opcode, exchange.opcode) << exchange.payload;
        }
        EXPECT_EQ(logged_messages(log), repeated({kReceived, kHandler}, exchanges.size()));
    }
}

TEST_F(ServiceTest, StopListeningRefusesNewConnectionsAndKeepsServingOpenOnes) {
    for (Opcode opcode : {Opcode::text, Opcode::binary}) {
        websocket_server service(0);
        std::thread thread([&] { service.start(); });
        ASSERT_TRUE(service.wait_until_serving(kWaitLimit));
        std::string address = "ws://127.0.0.1:" + std::to_string(service.listening_port());
        {
            WsClient open_client(address);
            ASSERT_TRUE(open_client.wait_open());
            LogLines log(log_path());
            open_client.send("stop-listening", opcode);
            open_client.send(kUserListScript, opcode);
            auto reply = open_client.receive();
            ASSERT_TRUE(reply);
            EXPECT_EQ(reply->payload, kUserList);
            EXPECT_EQ(logged_messages(log),
                      (std::vector<std::string>{kReceived, kHandler, kStopped, kReceived, kHandler}));

            WsClient refused(address);
            EXPECT_FALSE(refused.wait_open());
            open_client.send("ProcessNum{0}");
            reply = open_client.receive();
            ASSERT_TRUE(reply);
            EXPECT_EQ(reply->payload, "-1");
        }
        service.shut_down();
        thread.join();
    }
}

TEST_F(ServiceTest, ASecondStopListeningIsLoggedAndTheServiceGoesOn) {
    WsClient client(uri());
    ASSERT_TRUE(client.wait_open());
    LogLines log(log_path());
    client.send("stop-listening");
    client.send("stop-listening");
    client.send("ProcessNum{0}");
    auto reply = client.receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->payload, "-1");
    EXPECT_EQ(logged_messages(log),
              (std::vector<std::string>{
                  kReceived, kHandler, kStopped, kReceived, kHandler,
                  "websocket_server-stop-listening failed because.invalid state，"
                  "[service\\websocket_server:86]",
                  kReceived, kHandler}));
    EXPECT_FALSE(service_.wait_until_ended(std::chrono::milliseconds(0)));
}

TEST_F(ServiceTest, ATakenPortEndsOnlyTheSecondServiceWithATransportError) {
    LogLines log(log_path());
    websocket_server second(service_.listening_port());
    std::thread thread([&] { second.start(); });
    EXPECT_FALSE(second.wait_until_serving(kWaitLimit));
    thread.join();
    EXPECT_EQ(logged_messages(log),
              (std::vector<std::string>{
                  "websocket_server-start，[service\\websocket_server:185]",
                  "websocket_Initialize Asio，[service\\websocket_server:189]",
                  "websocket_ Listen on port，[service\\websocket_server:196]",
                  "websocket_ pause，Underlying Transport Error-[service\\websocket_server:210]",
              }));

    WsClient client(uri());
    ASSERT_TRUE(client.wait_open());
    client.send("ProcessNum{0}");
    auto reply = client.receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->payload, "-1");
}

TEST_F(ServiceTest, AnOversizedMessageFailsOnlyItsOwnConnection) {
    WsClient bystander(uri("[::1]"));
    WsClient sender(uri());
    ASSERT_TRUE(bystander.wait_open());
    ASSERT_TRUE(sender.wait_open());
    LogLines log(log_path());
    sender.send(std::string(32000001, 'x'));
    EXPECT_EQ(sender.wait_closed(), 1009); // message too big
    bystander.send(kUserListScript);
    auto reply = bystander.receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->payload, kUserList);
    EXPECT_EQ(logged_messages(log), (std::vector<std::string>{kReceived, kHandler}));
}

} // namespace
