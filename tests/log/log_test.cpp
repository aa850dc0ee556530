#include "log/CLogger.h"

#include "log/AnsiText.h"
#include "platform/code_page.h"
#include "platform/local_time.h"
#include "platform/thread_id.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::istringstream content(ReadFile(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(content, line);)
        lines.push_back(line);
    return lines;
}

std::string TodaysFileName() {
    const std::tm today = platform::local_time_now();
    char name[64];
    std::strftime(name, sizeof name, "Quillgatelog_%Y-%m-%d.log", &today);
    return name;
}

const std::string kTime = R"((?:[01]\d|2[0-3]):[0-5]\d:[0-5]\d)";

std::string ThisThread() {
    return std::to_string(platform::current_thread_id());
}

class LogFile : public testing::Test {
protected:
    TempFolder folder_;
    const std::string directory_ = folder_.path();
};

TEST_F(LogFile, CreatedAtConstructionAndNamedAfterToday) {
    const std::string before = TodaysFileName();
    CLogger logger(directory_);
    const std::string after = TodaysFileName();

    EXPECT_TRUE(logger.path() == directory_ + before || logger.path() == directory_ + after)
        << logger.path();
    EXPECT_TRUE(fs::exists(logger.path()));
    EXPECT_EQ(ReadFile(logger.path()), "");
}

TEST_F(LogFile, LineHoldsTimeThreadTagAndMessage) {
    CLogger logger(directory_);
    logger.Info("http process is start.[%s:%d]", "Vorn_QuillgateDlg", 278);
    logger.Error("on_open %s [%s:%d]", "::1", "service\\websocket_server", 42);

    const std::string prefix = kTime + R"(\|)" + ThisThread() + R"(\|)";
    const std::regex expected(prefix +
                              R"( Info: http process is start\.\[Vorn_QuillgateDlg:278\]\n)" +
                              prefix + R"( Error: on_open ::1 \[service\\websocket_server:42\]\n)");
    const std::string content = ReadFile(logger.path());
    EXPECT_TRUE(std::regex_match(content, expected)) << content;
}

TEST_F(LogFile, NullFormatWritesNothing) {
    CLogger logger(directory_);
    const char* no_format = nullptr;
    logger.Error(no_format);
    logger.Info(no_format);
    EXPECT_EQ(ReadFile(logger.path()), "");
}

TEST_F(LogFile, LongLineIsCutToFitTheBuffer) {
    // "hh:mm:ss|" + thread id + "|" + " Error: "
    const std::size_t prefix = 9 + ThisThread().size() + 1 + 8;
    const std::size_t limit = CLogger::kMaxLineBytes - 1;
    for (const std::size_t message : {limit - prefix, limit - prefix + 1, std::size_t{5000}}) {
        SCOPED_TRACE(message);
        TempFolder folder;
        CLogger logger(folder.path());
        logger.Error("%s", std::string(message, 'x').c_str());

        const std::string content = ReadFile(logger.path());
        EXPECT_EQ(content.size(), std::min(prefix + message, limit) + 1);
        EXPECT_EQ(content.find('\n'), content.size() - 1);
    }
}

TEST_F(LogFile, SecondLoggerAppendsToTheSameFile) {
    {
        CLogger first(directory_);
        first.Error("first start");
    }
    CLogger second(directory_);
    second.Error("second start");

    const auto lines = ReadLines(second.path());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(".* Error: first start")));
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(".* Error: second start")));
}

TEST_F(LogFile, UnopenableFileDropsLinesAndRetriesOnTheNext) {
    const std::string missing = directory_ + "later";
    CLogger logger(missing + "/");
    logger.Error("lost");
    EXPECT_FALSE(fs::exists(logger.path()));

    fs::create_directory(missing);
    logger.Error("kept");
    const auto lines = ReadLines(logger.path());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(".* Error: kept")));
}

TEST_F(LogFile, ConcurrentLinesNeverMix) {
    constexpr int kThreads = 8;
    constexpr int kLinesEach = 200;
    CLogger logger(directory_);
    std::vector<std::string> thread_ids(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            thread_ids[t] = ThisThread();
            const std::string payload(300, static_cast<char>('a' + t));
            for (int i = 0; i < kLinesEach; ++i)
                logger.Error("t%d l%d %s", t, i, payload.c_str());
        });
    }
    for (auto& thread : threads)
        thread.join();

    const std::regex line_format(kTime + R"(\|(\d+)\| Error: t(\d) l(\d+) ([a-z]+))");
    const auto lines = ReadLines(logger.path());
    std::set<std::pair<int, int>> seen;
    for (const auto& line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, line_format)) << line;
        const int t = std::stoi(match[2]);
        EXPECT_EQ(match[1], thread_ids[t]);
        EXPECT_EQ(match[4], std::string(300, static_cast<char>('a' + t)));
        EXPECT_TRUE(seen.emplace(t, std::stoi(match[3])).second) << line;
    }
    EXPECT_EQ(lines.size(), std::size_t{kThreads * kLinesEach});
}

TEST(AnsiText, ReadsBackInTheAnsiCodePage) {
    const auto ansi = platform::ansi_code_page();
    if (ansi != platform::CP_UTF8 && ansi != 936 && ansi != 54936)
        GTEST_SKIP() << "code page " << ansi << " holds no Chinese text";
    EXPECT_EQ(platform::to_wide(platform::CP_ACP, AnsiFromUtf8("通信，失败")), u"通信，失败");
}

} // namespace
