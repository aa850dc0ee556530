#include "service/websocket_server.h"

#include "raw_peer.h"
#include "service_fixture.h"
#include "support/eventually.h"
#include "support/log_lines.h"
#include "support/ws_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Ids = std::vector<std::string>;
using Opcode = WsClient::Opcode;

// How a client reaches the dual-stack service, and the id the service gives it.
struct Host {
    std::string uri_host;
    std::string id_address;
};
const Host kIPv4{"127.0.0.1", "[::ffff:127.0.0.1]"};
const Host kIPv6{"[::1]", "[::1]"};

std::string id_of(const Host& host, WsClient& client) {
    return host.id_address + ":" + std::to_string(client.local_port());
}

// The two ways a client leaves: with a close handshake, or by resetting its socket (then the
// server can no longer read the peer's address when it handles the close).
struct Ending {
    const char* name;
    void (*end)(WsClient&);
};
const Ending kEndings[] = {
    {"close", [](WsClient& client) { client.close(); }},
    {"drop", [](WsClient& client) { client.drop(); }},
};

// Connections of the storm, opened kStormRound at a time; a quarter of them each way from each
// address family.
constexpr int kStormConnections = 1000;
constexpr int kStormRound = 20;

// Clients per churning thread while pushes race with them.
constexpr int kRaceConnections = 100;

// Waits until the registry holds exactly these ids, in this order.
testing::AssertionResult registry_becomes(websocket_server& service, const Ids& expected) {
    Ids ids;
    if (eventually([&] { return (ids = service.registered_connections()) == expected; },
                   kWaitLimit))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "registry holds " << testing::PrintToString(ids)
                                       << ", expected " << testing::PrintToString(expected);
}

int count(const Ids& messages, const std::string& message) {
    return static_cast<int>(std::count(messages.begin(), messages.end(), message));
}

// The next message is the answer to a request: nothing else came before it.
void expect_nothing_pending(WsClient& client) {
    client.send("ProcessNum{0}");
    auto reply = client.receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->payload, "-1");
}

using RegistryTest = ServiceTest;

TEST_F(RegistryTest, PushesEachTextAsATextFrameToEveryClient) {
    WsClient v4(uri(kIPv4.uri_host));
    WsClient v6(uri(kIPv6.uri_host));
    ASSERT_TRUE(v4.wait_open());
    ASSERT_TRUE(v6.wait_open());
    ASSERT_TRUE(registry_becomes(service_, {id_of(kIPv6, v6), id_of(kIPv4, v4)}));

    const std::vector<std::string> texts = {"设备变更：alice\n张三 ✓", "", "plain"};
    LogLines log(service_log_path());
    for (const std::string& text : texts)
        service_.send_to_all(text);
    EXPECT_EQ(error_messages(log), Ids{});
    for (WsClient* client : {&v4, &v6}) {
        for (const std::string& text : texts) {
            auto message = client->receive();
            ASSERT_TRUE(message);
            EXPECT_EQ(message->opcode, Opcode::text);
            EXPECT_EQ(message->payload, text);
        }
        expect_nothing_pending(*client);
    }
}

TEST_F(RegistryTest, APushWithNoClientSendsNothingAndLogsNothing) {
    LogLines log(service_log_path());
    service_.send_to_all("nobody");
    EXPECT_EQ(error_messages(log), Ids{});
    // A client that comes afterwards does not get it either.
    WsClient late(uri());
    ASSERT_TRUE(late.wait_open());
    expect_nothing_pending(late);
}

TEST(RegistryStoppedTest, APushOrTheIdsOfAServiceThatDoesNotRunReturnAtOnce) {
    websocket_server never_started(0);

    websocket_server shut_down_first(0);
    shut_down_first.shut_down();
    std::thread never_served([&] { shut_down_first.start(); });
    never_served.join();

    ServiceThread ended;
    ASSERT_TRUE(ended.service().wait_until_serving(kWaitLimit));
    WsClient client(ended.uri());
    ASSERT_TRUE(client.wait_open());
    ended.service().shut_down();
    EXPECT_EQ(client.wait_closed(), 1001);

    ServiceThread holder;
    ASSERT_TRUE(holder.service().wait_until_serving(kWaitLimit));
    ServiceThread failed(holder.service().listening_port());
    EXPECT_FALSE(failed.service().wait_until_serving(kWaitLimit));

    for (websocket_server* service :
         {&never_started, &shut_down_first, &ended.service(), &failed.service()}) {
        service->send_to_all("nobody");
        EXPECT_EQ(service->registered_connections(), Ids{});
    }
}

TEST_F(RegistryTest, OrdersIdsByTheirBytesNotByArrival) {
    WsClient v4(uri(kIPv4.uri_host));
    ASSERT_TRUE(v4.wait_open());
    ASSERT_TRUE(registry_becomes(service_, {id_of(kIPv4, v4)}));
    WsClient v6(uri(kIPv6.uri_host));
    ASSERT_TRUE(v6.wait_open());
    ASSERT_TRUE(registry_becomes(service_, {id_of(kIPv6, v6), id_of(kIPv4, v4)}));

    Ids ids = service_.registered_connections();
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_TRUE(std::regex_match(ids[0], std::regex(R"(\[::1\]:[1-9]\d{0,4})"))) << ids[0];
    EXPECT_TRUE(std::regex_match(ids[1], std::regex(R"(\[::ffff:127\.0\.0\.1\]:[1-9]\d{0,4})")))
        << ids[1];
}

TEST_F(RegistryTest, LogsOneOpenAndOneCloseLinePerConnection) {
    LogLines log(service_log_path());
    std::vector<std::unique_ptr<WsClient>> clients;
    Ids ids;
    for (const Host& host : {kIPv4, kIPv6, kIPv4, kIPv6}) {
        clients.push_back(std::make_unique<WsClient>(uri(host.uri_host)));
        ASSERT_TRUE(clients.back()->wait_open());
        ids.push_back(id_of(host, *clients.back()));
    }
    std::sort(ids.begin(), ids.end());
    ASSERT_TRUE(registry_becomes(service_, ids));
    for (std::size_t i = 0; i < clients.size(); ++i)
        kEndings[i / 2].end(*clients[i]);
    ASSERT_TRUE(registry_becomes(service_, {}));

    Ids messages = error_messages(log);
    EXPECT_EQ(count(messages, kOpened), 4);
    EXPECT_EQ(count(messages, kClosed), 4);
    EXPECT_EQ(messages.size(), 8u);
}

TEST_F(RegistryTest, AReconnectingClientIsRegisteredAfreshAndItsOldEntryIsGone) {
    for (const Host& host : {kIPv4, kIPv6}) {
        for (const Ending& ending : kEndings) {
            SCOPED_TRACE(host.uri_host + " " + ending.name);
            {
                WsClient first(uri(host.uri_host));
                ASSERT_TRUE(first.wait_open());
                ASSERT_TRUE(registry_becomes(service_, {id_of(host, first)}));
                ending.end(first);
                ASSERT_TRUE(first.wait_closed());
            }
            WsClient again(uri(host.uri_host));
            ASSERT_TRUE(again.wait_open());
            ASSERT_TRUE(registry_becomes(service_, {id_of(host, again)}));
            service_.send_to_all("again");
            auto message = again.receive();
            ASSERT_TRUE(message);
            EXPECT_EQ(message->payload, "again");
            again.close();
            ASSERT_TRUE(registry_becomes(service_, {}));
        }
    }
}

TEST_F(RegistryTest, AStormOfConnectsAndDisconnectsLeavesOnlyTheOpenClient) {
    WsClient bystander(uri());
    ASSERT_TRUE(bystander.wait_open());
    const std::string bystander_id = id_of(kIPv4, bystander);
    ASSERT_TRUE(registry_becomes(service_, {bystander_id}));

    LogLines log(service_log_path());
    for (int round = 0; round < kStormConnections / kStormRound; ++round) {
        std::vector<std::unique_ptr<WsClient>> clients;
        for (int i = 0; i < kStormRound; ++i)
            clients.push_back(
                std::make_unique<WsClient>(uri(i % 2 ? kIPv6.uri_host : kIPv4.uri_host)));
        for (int i = 0; i < kStormRound; ++i) {
            ASSERT_TRUE(clients[i]->wait_open()) << "round " << round << ", client " << i;
            kEndings[i / 2 % 2].end(*clients[i]);
        }
    }
    ASSERT_TRUE(registry_becomes(service_, {bystander_id}));
    // An open whose peer had already gone can read as "Unknown" and share its entry with
    // another one, so an empty registry does not yet mean that every close was handled.
    Ids messages;
    EXPECT_TRUE(eventually(
        [&] {
            messages = error_messages(log);
            return count(messages, kClosed) >= kStormConnections;
        },
        kWaitLimit));
    EXPECT_EQ(count(messages, kOpened), kStormConnections);
    EXPECT_EQ(count(messages, kClosed), kStormConnections);
    EXPECT_EQ(messages.size(), 2u * kStormConnections);

    LogLines push_log(service_log_path());
    service_.send_to_all("after the storm");
    EXPECT_EQ(error_messages(push_log), Ids{});
    auto message = bystander.receive();
    ASSERT_TRUE(message);
    EXPECT_EQ(message->payload, "after the storm");
    EXPECT_TRUE(registry_becomes(service_, {bystander_id}));
}

TEST_F(RegistryTest, AFailedPushIsLoggedOnceAndTheLaterClientsStillGetIt) {
    // The peer's id, "[::1]:…", sorts before the others: it is pushed to first.
    RawPeer peer("::1", service_.listening_port());
    ASSERT_TRUE(peer.open());
    WsClient first(uri(kIPv4.uri_host));
    WsClient second(uri(kIPv4.uri_host));
    ASSERT_TRUE(first.wait_open());
    ASSERT_TRUE(second.wait_open());
    Ids ids = {id_of(kIPv4, first), id_of(kIPv4, second)};
    std::sort(ids.begin(), ids.end());
    ids.insert(ids.begin(), "[::1]:" + std::to_string(peer.local_port()));
    ASSERT_TRUE(registry_becomes(service_, ids));

    // The server acknowledges the peer's close only behind a backlog the peer never reads:
    // until its close timeout the connection is closing but still registered, and a send on
    // it fails. Push until a push meets that state.
    const std::string backlog(RawPeer::kBacklogSize, 'x');
    service_.send_to_all(backlog);
    peer.send_close();
    int pushes = 0;
    Ids failures;
    ASSERT_TRUE(eventually(
        [&] {
            LogLines log(service_log_path());
            service_.send_to_all("probe");
            ++pushes;
            failures = error_messages(log);
            return !failures.empty();
        },
        kWaitLimit));
    EXPECT_EQ(
        failures,
        Ids{"websocket_server-Echo failed because.invalid state，[service\\websocket_server:167]"});
    for (WsClient* client : {&first, &second}) {
        auto message = client->receive();
        ASSERT_TRUE(message);
        EXPECT_TRUE(message->payload == backlog);
        for (int i = 0; i < pushes; ++i) {
            message = client->receive();
            ASSERT_TRUE(message);
            ASSERT_EQ(message->payload, "probe");
        }
        expect_nothing_pending(*client);
    }
}

TEST_F(RegistryTest, ShutDownClosesEveryClientWithGoingAway) {
    WsClient v4(uri(kIPv4.uri_host));
    WsClient v6(uri(kIPv6.uri_host));
    ASSERT_TRUE(v4.wait_open());
    ASSERT_TRUE(v6.wait_open());
    ASSERT_TRUE(registry_becomes(service_, {id_of(kIPv6, v6), id_of(kIPv4, v4)}));

    LogLines log(service_log_path());
    service_.shut_down();
    EXPECT_TRUE(service_.wait_until_ended(std::chrono::milliseconds(0)));
    for (WsClient* client : {&v4, &v6}) {
        EXPECT_EQ(client->wait_closed(), 1001);
        EXPECT_EQ(client->close_reason(), "");
    }
    EXPECT_EQ(service_.registered_connections(), Ids{});
    EXPECT_EQ(error_messages(log), (Ids{kClosed, kClosed}));
}

TEST_F(RegistryTest, ShutDownEndsWhenAClientNeverAnswersTheClose) {
    WsClient silent(uri(kIPv6.uri_host));
    WsClient v4(uri(kIPv4.uri_host));
    ASSERT_TRUE(silent.wait_open());
    ASSERT_TRUE(v4.wait_open());
    ASSERT_TRUE(registry_becomes(service_, {id_of(kIPv6, silent), id_of(kIPv4, v4)}));
    silent.stall();

    LogLines log(service_log_path());
    service_.shut_down();
    EXPECT_TRUE(service_.wait_until_ended(std::chrono::milliseconds(0)));
    EXPECT_EQ(v4.wait_closed(), 1001);
    // The silent connection ended by the library's close timeout, inside the event loop.
    EXPECT_EQ(error_messages(log), (Ids{kClosed, kClosed}));
}

TEST_F(RegistryTest, AConnectionWhoseHandshakeEndsDuringShutDownIsClosedWithGoingAway) {
    RawPeer late("::1", service_.listening_port(), RawPeer::Handshake::held);
    // Connections are accepted in order: once this client is open, the late one is accepted.
    WsClient client(uri(kIPv4.uri_host));
    ASSERT_TRUE(client.wait_open());

    std::thread ending([this] { service_.shut_down(); });
    // Once the client has its close, the registry has been closed and emptied.
    EXPECT_EQ(client.wait_closed(), 1001);
    late.finish_handshake();
    EXPECT_TRUE(late.open());
    EXPECT_EQ(late.read_close_code(), 1001);
    late.send_close();
    ending.join();
    EXPECT_TRUE(service_.wait_until_ended(std::chrono::milliseconds(0)));
}

TEST(AddressReuseTest, ANewServiceListensAtOnceOnThePortOfOneThatClosedItsClients) {
    std::uint16_t port;
    {
        ServiceThread first;
        ASSERT_TRUE(first.service().wait_until_serving(kWaitLimit));
        port = first.service().listening_port();
        WsClient v4(first.uri(kIPv4.uri_host));
        WsClient v6(first.uri(kIPv6.uri_host));
        for (WsClient* client : {&v4, &v6}) {
            ASSERT_TRUE(client->wait_open());
            expect_nothing_pending(*client);
        }
        // The server closes first, so its side of each connection waits in TIME_WAIT.
        first.service().shut_down();
        EXPECT_EQ(v4.wait_closed(), 1001);
        EXPECT_EQ(v6.wait_closed(), 1001);
    }
    ServiceThread second(port);
    ASSERT_TRUE(second.service().wait_until_serving(kWaitLimit));
    WsClient client(second.uri());
    ASSERT_TRUE(client.wait_open());
    client.send(kUserListScript);
    auto reply = client.receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->payload, kUserList);
}

TEST_F(RegistryTest, PushesRacingWithConnectsAndDisconnectsReachTheOpenClientIntact) {
    WsClient bystander(uri());
    ASSERT_TRUE(bystander.wait_open());
    const std::string bystander_id = id_of(kIPv4, bystander);
    ASSERT_TRUE(registry_becomes(service_, {bystander_id}));

    std::atomic<bool> churning{true};
    std::thread pusher([&] {
        do {
            service_.send_to_all("tick");
            service_.registered_connections();
        } while (churning);
    });
    auto churn = [&](const Host& host) {
        for (int i = 0; i < kRaceConnections; ++i) {
            WsClient client(uri(host.uri_host));
            EXPECT_TRUE(client.wait_open());
            kEndings[i % 2].end(client);
        }
    };
    std::thread other([&] { churn(kIPv6); });
    churn(kIPv4);
    other.join();
    churning = false;
    pusher.join();

    service_.send_to_all("last");
    for (;;) {
        auto message = bystander.receive();
        ASSERT_TRUE(message);
        if (message->payload == "last")
            break;
        ASSERT_EQ(message->payload, "tick");
    }
    EXPECT_TRUE(registry_becomes(service_, {bystander_id}));
}

} // namespace
