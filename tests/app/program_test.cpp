// The real program, started with a temporary folder of its own. It listens on its fixed port.

#include "support/child_process.h"
#include "support/eventually.h"
#include "support/temp_folder.h"
#include "support/ws_client.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>

namespace {

const std::string kUserList = "alice\n张三\n";
const std::string kUserListScript =
    "ProcessEntity-1{FunctionType[401]TrueNext[0]FalseNext[0]}ProcessNum{1}";
const std::string kStartupLine = "| Info: http process is start.[Vorn_QuillgateDlg:278]";

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// The soft and hard limits on open files of a running process.
std::pair<std::string, std::string> open_file_limits(pid_t pid) {
    std::istringstream limits(read_file("/proc/" + std::to_string(pid) + "/limits"));
    for (std::string line; std::getline(limits, line);) {
        if (line.rfind("Max open files", 0) != 0)
            continue;
        std::istringstream fields(line.substr(std::strlen("Max open files")));
        std::string soft, hard;
        fields >> soft >> hard;
        return {soft, hard};
    }
    return {};
}

bool exited_normally(std::optional<int> status) {
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

class ProgramTest : public testing::Test {
protected:
    void SetUp() override {
        std::ofstream(folder_.path() + "users.txt", std::ios::binary) << kUserList;
    }

    std::unique_ptr<ChildProcess> start(const std::string& name,
                                        const std::vector<std::string>& arguments = {}) {
        std::vector<std::string> argv = {QUILLGATE_PROGRAM};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return std::make_unique<ChildProcess>(
            argv,
            std::vector<std::string>{"TMPDIR=" + folder_.path(),
                                     std::string("QUILLGATE_CONTROL_MODULE=") +
                                         SAMPLE_CONTROL_MODULE,
                                     "QUILLGATE_SAMPLE_USERLIST=" + folder_.path() + "users.txt"},
            output_path(name), error_path(name));
    }

    std::string output_path(const std::string& name) const {
        return folder_.path() + name + ".out";
    }
    std::string error_path(const std::string& name) const { return folder_.path() + name + ".err"; }

    std::string log() const {
        std::string text;
        for (const auto& entry : std::filesystem::directory_iterator(folder_.path()))
            if (entry.path().filename().string().rfind("Quillgatelog_", 0) == 0)
                text += read_file(entry.path());
        return text;
    }

    // Waits until the log shows the service's event loop started for the nth time.
    bool wait_until_serving(std::size_t nth = 1) const {
        return eventually([&] { return count_of(log(), "websocket_server:202]") >= nth; });
    }

    static void expect_answer(WsClient& client) {
        client.send(kUserListScript);
        auto reply = client.receive();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->payload, kUserList);
    }

    TempFolder folder_;
};

TEST_F(ProgramTest, StartsWithItsStartupLineServesBothStacksAndEndsCleanlyOnSigterm) {
    // The program inherits the usual low soft limit on open files, and must raise it.
    rlimit limit;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    limit.rlim_cur = std::min<rlim_t>(1024, limit.rlim_max);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    auto program = start("quillgate");
    ASSERT_TRUE(wait_until_serving());
    std::vector<std::string> lines = lines_of(log());
    ASSERT_GE(lines.size(), 6u);
    EXPECT_NE(lines[0].find(kStartupLine), std::string::npos) << lines[0];
    const char* steps[] = {":185]", ":189]", ":196]", ":199]", ":202]"};
    for (int i = 0; i < 5; ++i)
        EXPECT_NE(lines[i + 1].find(steps[i]), std::string::npos) << lines[i + 1];
    auto [soft, hard] = open_file_limits(program->pid());
    EXPECT_FALSE(soft.empty());
    EXPECT_EQ(soft, hard) << "the soft limit on open files was not raised";

    WsClient ipv4("ws://127.0.0.1:9656");
    WsClient ipv6("ws://[::1]:9656");
    for (WsClient* client : {&ipv4, &ipv6}) {
        ASSERT_TRUE(client->wait_open());
        expect_answer(*client);
    }
    program->signal(SIGTERM);
    EXPECT_EQ(ipv4.wait_closed(), 1001);
    EXPECT_EQ(ipv6.wait_closed(), 1001);
    EXPECT_TRUE(exited_normally(program->wait_exit()));
}

TEST_F(ProgramTest, ListensAgainRightAfterEndingWithClients) {
    for (std::size_t round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        auto program = start("quillgate");
        ASSERT_TRUE(wait_until_serving(round));
        WsClient client("ws://127.0.0.1:9656");
        ASSERT_TRUE(client.wait_open());
        expect_answer(client);
        program->signal(SIGINT);
        EXPECT_EQ(client.wait_closed(), 1001);
        EXPECT_TRUE(exited_normally(program->wait_exit()));
    }
    EXPECT_EQ(count_of(log(), "websocket_server:210]"), 0u) << log();
}

TEST_F(ProgramTest, SighupEndsOnlyTheMainThreadAndTheServiceGoesOn) {
    auto program = start("quillgate");
    ASSERT_TRUE(wait_until_serving());
    WsClient client("ws://127.0.0.1:9656");
    ASSERT_TRUE(client.wait_open());
    program->signal(SIGHUP);
    ASSERT_TRUE(eventually([&] { return program->main_thread_ended(); }));
    expect_answer(client);
    WsClient newcomer("ws://[::1]:9656");
    ASSERT_TRUE(newcomer.wait_open());
    expect_answer(newcomer);

    // With the main thread gone, SIGTERM takes its default action.
    program->signal(SIGTERM);
    std::optional<int> status = program->wait_exit();
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFSIGNALED(*status));
}

TEST_F(ProgramTest, ASecondInstanceStartsNoService) {
    auto first = start("first");
    ASSERT_TRUE(wait_until_serving());
    auto second = start("second");
    ASSERT_TRUE(eventually([&] {
        return read_file(error_path("second")).find("another instance") != std::string::npos;
    }));
    EXPECT_EQ(count_of(log(), kStartupLine), 1u);
    EXPECT_EQ(count_of(log(), "websocket_server:185]"), 1u);

    WsClient client("ws://127.0.0.1:9656");
    ASSERT_TRUE(client.wait_open());
    expect_answer(client);
    second->signal(SIGTERM);
    EXPECT_TRUE(exited_normally(second->wait_exit()));
    first->signal(SIGTERM);
    EXPECT_TRUE(exited_normally(first->wait_exit()));
}

TEST_F(ProgramTest, CommandLineOptions) {
    struct Case {
        std::string option;
        int status;
        std::vector<std::string> output;
    };
    const Case cases[] = {
        {"--version", 0, {"Vorn_Quillgate", "1.0.0.1"}},
        {"--help", 0, {"9656", folder_.path() + "Quillgatelog_", "SIGTERM", "SIGHUP"}},
        {"--bogus", 2, {}},
    };
    for (const Case& test : cases) {
        auto program = start("options", {test.option});
        std::optional<int> status = program->wait_exit();
        ASSERT_TRUE(status && WIFEXITED(*status)) << test.option;
        EXPECT_EQ(WEXITSTATUS(*status), test.status) << test.option;
        std::string output = read_file(output_path("options"));
        for (const std::string& part : test.output)
            EXPECT_NE(output.find(part), std::string::npos) << test.option << ": " << output;
        if (test.status != 0) {
            EXPECT_NE(read_file(error_path("options")).find("Usage"), std::string::npos);
        }
    }
    EXPECT_EQ(log(), "");
}

} // namespace
