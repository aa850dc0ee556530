#include "app/Vorn_QuillgateDlg.h"

#include "app/DeviceEventType.h"
#include "log/CLogger.h"
#include "service/websocket_server.h"
#include "support/eventually.h"
#include "support/log_lines.h"
#include "support/temp_folder.h"
#include "support/ws_client.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <thread>

namespace {

using platform::Message;

const std::string kUserList = "alice\n张三\n";

TEST(DeviceEventType, AddIsAnArrivalRemoveACompletedRemovalAndTheRestNeither) {
    const std::pair<const char*, unsigned> cases[] = {
        {"add", DBT_DEVICEARRIVAL},       {"remove", DBT_DEVICEREMOVECOMPLETE},
        {"bind", DBT_DEVNODES_CHANGED},   {"unbind", DBT_DEVNODES_CHANGED},
        {"change", DBT_DEVNODES_CHANGED}, {"Add", DBT_DEVNODES_CHANGED},
        {"", DBT_DEVNODES_CHANGED},
    };
    for (const auto& [action, type] : cases)
        EXPECT_EQ(DeviceEventType(action), type) << action;
}

// One temporary folder for the program: the log, the instance lock and the user list.
class HostEnvironment : public testing::Environment {
public:
    void SetUp() override {
        setenv("TMPDIR", folder_.path().c_str(), 1);
        setenv("QUILLGATE_CONTROL_MODULE", SAMPLE_CONTROL_MODULE, 1);
        setenv("QUILLGATE_SAMPLE_USERLIST", (folder_.path() + "users.txt").c_str(), 1);
    }

private:
    TempFolder folder_;
};

const auto* const environment = testing::AddGlobalTestEnvironment(new HostEnvironment);

// The main window on a thread of its own, with the sample control and two clients, one over
// IPv4 and one over IPv6.
class HostTest : public testing::Test {
protected:
    void SetUp() override {
        write_user_list(kUserList);
        log_ = std::make_unique<LogLines>(CLogger::GetInstance()->path());

        main_thread_ = std::thread([this] { result_ = dialog_.DoModal(); });
        ASSERT_TRUE(service_.wait_until_serving(WsClient::kWaitLimit));
        std::string port = std::to_string(service_.listening_port());
        for (const char* host : {"127.0.0.1", "[::1]"}) {
            clients_.push_back(
                std::make_unique<WsClient>("ws://" + std::string(host) + ":" + port));
            ASSERT_TRUE(clients_.back()->wait_open());
        }
        ASSERT_TRUE(eventually([this] { return service_.registered_connections().size() == 2; }));
    }

    void TearDown() override {
        if (main_thread_.joinable()) {
            dialog_.PostMessage({platform::WM_COMMAND, platform::IDCANCEL});
            main_thread_.join();
        }
    }

    static void write_user_list(const std::string& text) {
        std::ofstream(std::getenv("QUILLGATE_SAMPLE_USERLIST"), std::ios::binary) << text;
    }

    void expect_push_to_every_client(const std::string& text) {
        for (auto& client : clients_) {
            auto message = client->receive();
            ASSERT_TRUE(message);
            EXPECT_EQ(message->opcode, WsClient::Opcode::text);
            EXPECT_EQ(message->payload, text);
        }
    }

    std::unique_ptr<LogLines> log_;
    websocket_server service_{0};
    CVorn_QuillgateDlg dialog_{service_};
    std::uintptr_t result_ = 0;
    std::thread main_thread_;
    std::vector<std::unique_ptr<WsClient>> clients_;
};

TEST_F(HostTest, StartsWithTheStartupLineThenTheServiceSteps) {
    std::vector<std::string> lines = log_->since_mark();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_NE(lines[0].find("| Info: http process is start.[Vorn_QuillgateDlg:278]"),
              std::string::npos);
    const char* steps[] = {":185]", ":189]", ":196]", ":199]", ":202]"};
    for (int i = 0; i < 5; ++i)
        EXPECT_NE(lines[i + 1].find(steps[i]), std::string::npos) << lines[i + 1];
}

TEST_F(HostTest, ArrivalAndRemovalEachPushTheUserListToEveryClient) {
    for (unsigned event_type : {DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE, DBT_DEVICEARRIVAL}) {
        dialog_.PostMessage({platform::WM_DEVICECHANGE, event_type});
        expect_push_to_every_client(kUserList);
    }
}

TEST_F(HostTest, OtherEventTypesPushNothing) {
    for (unsigned event_type : {0x0007u, 0x8001u, 0x8003u, 0x8006u})
        dialog_.PostMessage({platform::WM_DEVICECHANGE, event_type});
    dialog_.PostMessage({platform::WM_DEVICECHANGE, DBT_DEVICEARRIVAL});
    expect_push_to_every_client(kUserList);
    // A reply queued after the pushes comes next only if nothing else was pushed.
    for (auto& client : clients_) {
        client->send("ProcessNum{0}");
        auto reply = client->receive();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->payload, "-1");
    }
}

TEST_F(HostTest, AnEmptyUserListPushesAnEmptyText) {
    write_user_list("");
    dialog_.PostMessage({platform::WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE});
    expect_push_to_every_client("");
}

TEST_F(HostTest, TheCancelCommandEndsTheWindowAndClosesEveryClientGoingAway) {
    dialog_.PostMessage({platform::WM_COMMAND, platform::IDCANCEL});
    main_thread_.join();
    EXPECT_EQ(result_, platform::IDCANCEL);
    for (auto& client : clients_)
        EXPECT_EQ(client->wait_closed(), 1001);
    EXPECT_TRUE(service_.wait_until_ended(std::chrono::seconds(0)));
}

} // namespace
