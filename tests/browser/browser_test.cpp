// The JavaScript client and the example page in a real browser: Debian's chromium, headless,
// against the program's test host on its fixed port. The pages report on the console
// ("quillgate-check WHAT VALUE...", values URI-encoded), which chromium writes to its log.

#include "file_server.h"

#include "support/child_process.h"
#include "support/eventually.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string kUserList = "alice\n张三\n";
const std::string kOtherUserList = "bob.smith\nRenée\n";
const std::string kUserListScript =
    "ProcessEntity-1{FunctionType[401]TrueNext[0]FalseNext[0]}ProcessNum{1}";

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The chromium program on the PATH; empty if there is none.
std::string chromium_program() {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');) {
        std::string candidate = folder + "/chromium";
        if (!folder.empty() && access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return "";
}

std::string uri_decoded(const std::string& text) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            decoded += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

// One console report: what it is about, then its values.
struct Report {
    std::string what;
    std::vector<std::string> values;
};

// The reports in a chromium log, in order. A console line there reads
// [...:INFO:CONSOLE...] "quillgate-check state open", source: ...
std::vector<Report> reports_in(const std::string& log) {
    const std::string marker = "\"quillgate-check ";
    std::vector<Report> reports;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        auto start = line.find(marker);
        if (start == std::string::npos)
            continue;
        start += marker.size();
        auto end = line.find('"', start);
        if (end == std::string::npos)
            continue;
        // Split at every blank: an empty value stands between two of them.
        std::istringstream fields(line.substr(start, end - start));
        Report report;
        std::getline(fields, report.what, ' ');
        for (std::string value; std::getline(fields, value, ' ');)
            report.values.push_back(uri_decoded(value));
        if (line[end - 1] == ' ')
            report.values.emplace_back();
        reports.push_back(std::move(report));
    }
    return reports;
}

// Headless chromium with a new profile, showing one page; ended with SIGTERM.
class Browser {
public:
    explicit Browser(const std::string& url) {
        std::string program = chromium_program();
        if (program.empty())
            throw std::runtime_error("chromium is not installed: run scripts/setup.sh");
        const std::vector<std::string> argv = {
            program,
            "--headless",
            "--no-sandbox",
            "--disable-gpu",
            "--disable-background-networking",
            "--disable-component-update",
            "--no-first-run",
            "--disable-sync",
            "--user-data-dir=" + folder_.path() + "profile",
            "--enable-logging=stderr",
            "--v=0",
            url,
        };
        process_ =
            std::make_unique<ChildProcess>(argv, std::vector<std::string>{"HOME=" + folder_.path()},
                                           folder_.path() + "out", log_path());
    }
    ~Browser() {
        process_->signal(SIGTERM);
        process_->wait_exit();
    }

    std::string log_path() const { return folder_.path() + "log"; }
    std::vector<Report> reports() const { return reports_in(read_file(log_path())); }

    // The values of the reports about what, in order.
    std::vector<std::vector<std::string>> about(const std::string& what) const {
        std::vector<std::vector<std::string>> found;
        for (Report& report : reports())
            if (report.what == what)
                found.push_back(std::move(report.values));
        return found;
    }

    // Waits until there are at least count reports about what.
    bool wait_for(const std::string& what, std::size_t count = 1) const {
        return eventually([&] { return about(what).size() >= count; });
    }

    // Waits until the nth report about the state (from 1) is state.
    bool wait_for_state(const std::string& state, std::size_t nth = 1) const {
        return eventually([&] {
            std::size_t seen = 0;
            for (const auto& values : about("state"))
                seen += values == std::vector<std::string>{state};
            return seen >= nth;
        });
    }

private:
    TempFolder folder_;
    std::unique_ptr<ChildProcess> process_;
};

// The end of a log, for messages.
std::string tail_of(const std::string& text) {
    constexpr std::size_t kShown = 3000;
    return text.size() > kShown ? "..." + text.substr(text.size() - kShown) : text;
}

// The values of each report, for messages.
std::string shown(const std::vector<std::vector<std::string>>& reports) {
    std::string text;
    for (const auto& values : reports) {
        text += "\n ";
        for (const std::string& value : values)
            text += " [" + value + "]";
    }
    return text;
}

bool exited_normally(std::optional<int> status) {
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

class BrowserTest : public testing::Test {
protected:
    void SetUp() override { write_file(user_list_path(), kUserList); }

    std::string user_list_path() const { return folder_.path() + "users.txt"; }

    std::unique_ptr<ChildProcess> start_host() const {
        return std::make_unique<ChildProcess>(
            std::vector<std::string>{QUILLGATE_TEST_HOST},
            std::vector<std::string>{"TMPDIR=" + folder_.path(),
                                     std::string("QUILLGATE_CONTROL_MODULE=") +
                                         SAMPLE_CONTROL_MODULE,
                                     "QUILLGATE_SAMPLE_USERLIST=" + user_list_path()},
            folder_.path() + "host.out", folder_.path() + "host.err", ChildProcess::Input::pipe);
    }

    // Waits until the log shows the service's event loop started for the nth time.
    bool wait_until_serving(std::size_t nth) const {
        return eventually([&] { return count_in_log("websocket_server:202]") >= nth; });
    }

    std::size_t count_in_log(const std::string& part) const {
        std::size_t count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder_.path())) {
            if (entry.path().filename().string().rfind("Quillgatelog_", 0) != 0)
                continue;
            std::string text = read_file(entry.path());
            for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
                ++count;
        }
        return count;
    }

    TempFolder folder_;
    FileServer files_{SOURCE_ROOT};
};

TEST_F(BrowserTest, TheClientPassesItsCasesInTheBrowser) {
    Browser browser(files_.url("/tests/browser/client_test.html"));
    ASSERT_TRUE(browser.wait_for("done")) << tail_of(read_file(browser.log_path()));
    std::size_t cases = 0;
    for (const auto& values : browser.about("case")) {
        ASSERT_GE(values.size(), 2u);
        EXPECT_EQ(values[1], "pass") << values[0] << ": " << (values.size() > 2 ? values[2] : "");
        ++cases;
    }
    auto done = browser.about("done").front();
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0], std::to_string(cases));
    EXPECT_EQ(done[1], "0");
    EXPECT_GE(cases, 10u);
}

TEST_F(BrowserTest, TheExamplePageReadsTheUserListGetsPushesAndReconnects) {
    auto host = start_host();
    ASSERT_TRUE(wait_until_serving(1)) << read_file(folder_.path() + "host.err");
    Browser browser(files_.url("/examples/index.html?selfcheck"));
    ASSERT_TRUE(browser.wait_for_state("open")) << tail_of(read_file(browser.log_path()));

    // The button's reply, then the script box's, each in the log.
    ASSERT_TRUE(browser.wait_for("reply", 2)) << shown(browser.about("reply"));
    EXPECT_EQ(browser.about("reply"), (std::vector<std::vector<std::string>>{{kUserList}, {"-1"}}));

    // Scripts sent at once, each reply matched to its own request.
    const std::pair<std::string, std::string> batch[] = {
        {kUserListScript, kUserList},
        {"ProcessEntity-1{FunctionType[401]TrueNext[2]FalseNext[0]}"
         "ProcessEntity-2{FunctionType[401]TrueNext[0]FalseNext[0]}ProcessNum{2}",
         kUserList + kUserList},
        {"ProcessEntity-1{FunctionType[999]TrueNext[0]FalseNext[0]}ProcessNum{1}",
         "FunctionRes[-1]FunctionNotSucessAt[1]"},
        {"ProcessEntity-1{FunctionType[401]TrueNext[1]FalseNext[1]}ProcessNum{1}",
         "FunctionRes[-1]StepLimitReachedAt[1]"},
        {"ProcessNum{0}", "-1"},
        {"读取用户 " + kUserListScript, kUserList},
    };
    const std::size_t batch_size = std::size(batch);
    ASSERT_TRUE(browser.wait_for("batch", batch_size)) << shown(browser.about("batch"));
    auto results = browser.about("batch");
    ASSERT_EQ(results.size(), batch_size);
    for (std::size_t i = 0; i < batch_size; ++i) {
        EXPECT_EQ(results[i],
                  (std::vector<std::string>{std::to_string(i), batch[i].first, batch[i].second}));
    }

    // A device change pushes the user list as it is then.
    const std::pair<const char*, std::string> changes[] = {{"arrival\n", kUserList},
                                                           {"removal\n", kOtherUserList}};
    std::size_t pushes = 0;
    for (const auto& [command, list] : changes) {
        SCOPED_TRACE(command);
        write_file(user_list_path(), list);
        ASSERT_TRUE(host->write_input(command));
        ASSERT_TRUE(browser.wait_for("push", ++pushes)) << shown(browser.about("push"));
        EXPECT_EQ(browser.about("push").back(), std::vector<std::string>{list});
    }

    // The page waits while the program is gone and reads the list again once it is back.
    host->signal(SIGTERM);
    EXPECT_TRUE(exited_normally(host->wait_exit()));
    ASSERT_TRUE(browser.wait_for_state("waiting")) << shown(browser.about("state"));
    host = start_host();
    ASSERT_TRUE(wait_until_serving(2)) << read_file(folder_.path() + "host.err");
    ASSERT_TRUE(browser.wait_for_state("open", 2)) << shown(browser.about("state"));
    ASSERT_TRUE(browser.wait_for("reply", 3)) << shown(browser.about("reply"));
    EXPECT_EQ(browser.about("reply").back(), std::vector<std::string>{kOtherUserList});

    EXPECT_EQ(browser.about("error"), std::vector<std::vector<std::string>>{});
    EXPECT_EQ(browser.about("push").size(), 2u);
    host->signal(SIGTERM);
    EXPECT_TRUE(exited_normally(host->wait_exit()));
}

} // namespace
