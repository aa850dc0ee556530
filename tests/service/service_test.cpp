#include "service/websocket_server.h"

#include "service_fixture.h"
#include "support/log_lines.h"
#include "support/ws_client.h"

#include <gtest/gtest.h>

namespace {

using Opcode = WsClient::Opcode;

const std::string kReceived = "websocket_server通信.[service\\websocket_server:72]";
const std::string kHandler =
    "websocket_server-on_message called with hdl.[service\\websocket_server:80]";
const std::string kStopped = "websocket_server-stop-listening.[service\\websocket_server:84]";

// The messages of the log's new lines, without those of opens and closes: their timing against
// a client's requests is not fixed.
std::vector<std::string> logged_messages(const LogLines& log) {
    std::vector<std::string> messages;
    for (std::string& message : error_messages(log))
        if (message != kOpened && message != kClosed)
            messages.push_back(std::move(message));
    return messages;
}

std::vector<std::string> repeated(const std::vector<std::string>& lines, int times) {
    std::vector<std::string> all;
    for (int i = 0; i < times; ++i)
        all.insert(all.end(), lines.begin(), lines.end());
    return all;
}

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
        LogLines log(service_log_path());
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
        ServiceThread running;
        ASSERT_TRUE(running.service().wait_until_serving(kWaitLimit));
        std::string address = running.uri();
        {
            WsClient open_client(address);
            ASSERT_TRUE(open_client.wait_open());
            LogLines log(service_log_path());
            open_client.send("stop-listening", opcode);
            open_client.send(kUserListScript, opcode);
            auto reply = open_client.receive();
            ASSERT_TRUE(reply);
            EXPECT_EQ(reply->payload, kUserList);
            EXPECT_EQ(logged_messages(log), (std::vector<std::string>{kReceived, kHandler, kStopped,
                                                                      kReceived, kHandler}));

            WsClient refused(address);
            EXPECT_FALSE(refused.wait_open());
            open_client.send("ProcessNum{0}");
            reply = open_client.receive();
            ASSERT_TRUE(reply);
            EXPECT_EQ(reply->payload, "-1");
        }
    }
}

TEST_F(ServiceTest, ASecondStopListeningIsLoggedAndTheServiceGoesOn) {
    WsClient client(uri());
    ASSERT_TRUE(client.wait_open());
    LogLines log(service_log_path());
    client.send("stop-listening");
    client.send("stop-listening");
    client.send("ProcessNum{0}");
    auto reply = client.receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->payload, "-1");
    EXPECT_EQ(
        logged_messages(log),
        (std::vector<std::string>{kReceived, kHandler, kStopped, kReceived, kHandler,
                                  "websocket_server-stop-listening failed because.invalid state，"
                                  "[service\\websocket_server:86]",
                                  kReceived, kHandler}));
    EXPECT_FALSE(service_.wait_until_ended(std::chrono::milliseconds(0)));
}

TEST_F(ServiceTest, ATakenPortEndsOnlyTheSecondServiceWithATransportError) {
    LogLines log(service_log_path());
    ServiceThread second(service_.listening_port());
    EXPECT_FALSE(second.service().wait_until_serving(kWaitLimit));
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
    LogLines log(service_log_path());
    sender.send(std::string(32000001, 'x'));
    EXPECT_EQ(sender.wait_closed(), 1009); // message too big
    bystander.send(kUserListScript);
    auto reply = bystander.receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->payload, kUserList);
    EXPECT_EQ(logged_messages(log), (std::vector<std::string>{kReceived, kHandler}));
}

} // namespace
