#include "control/CDTarskCtrlControl.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// Sets an environment variable, or removes it when value is null, until the scope ends.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        Set(value);
    }
    ~ScopedEnv() { Set(old_ ? old_->c_str() : nullptr); }

private:
    void Set(const char* value) { value ? ::setenv(name_, value, 1) : ::unsetenv(name_); }
    const char* name_;
    std::optional<std::string> old_;
};

TEST(ControlCreationTest, WithoutRegistrationEveryCallReturnsEmptyText) {
    ScopedEnv registration("QUILLGATE_CONTROL_MODULE", nullptr);
    CDTarskCtrlControl control;
    EXPECT_FALSE(control.CreateControl());
    EXPECT_EQ(control.GetUselistX(), u"");
}

TEST(ControlCreationTest, RegisteredSampleReadsTheListBesideIt) {
    ScopedEnv registration("QUILLGATE_CONTROL_MODULE", SAMPLE_MODULE);
    ScopedEnv list("QUILLGATE_SAMPLE_USERLIST", nullptr);
    CDTarskCtrlControl control;
    ASSERT_TRUE(control.CreateControl());
    EXPECT_NE(control.GetUselistX().find(u"\n张伟\n"), std::u16string::npos);
}

TEST(ControlCreationTest, FailedCreationLeavesNoControl) {
    const std::string modules[] = {"", "/nonexistent/libquillgate_none.so", CREATE_FAILS_MODULE,
                                   NO_FREE_MODULE};
    for (const std::string& module : modules) {
        SCOPED_TRACE(module);
        CDTarskCtrlControl control;
        EXPECT_FALSE(control.CreateFromModule(module));
        EXPECT_EQ(control.GetUselistX(), u"");
    }
}

TEST(ControlCreationTest, EachCreationReplacesTheLast) {
    CDTarskCtrlControl control;
    ASSERT_FALSE(control.CreateFromModule(CREATE_FAILS_MODULE));
    ASSERT_TRUE(control.CreateFromModule(CALL_FAILS_MODULE));
    EXPECT_THROW(control.GetUselistX(), ControlError);
    ASSERT_FALSE(control.CreateFromModule(CREATE_FAILS_MODULE));
    EXPECT_EQ(control.GetUselistX(), u"");
}

TEST(ControlCallTest, FailingCallThrowsTheModulesMessage) {
    const struct {
        const char* module;
        const char* message;
    } cases[] = {
        {CALL_FAILS_MODULE, "设备未连接 (device not connected)"},
        {CALL_FAILS_WITHOUT_MESSAGE_MODULE, "the security control failed (code 7)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.module);
        CDTarskCtrlControl control;
        ASSERT_TRUE(control.CreateFromModule(c.module));
        try {
            control.GetUselistX();
            ADD_FAILURE() << "no ControlError";
        } catch (const ControlError& error) {
            EXPECT_STREQ(error.what(), c.message);
        }
    }
}

TEST(ControlCallTest, CallsFromTwoThreadsDoNotOverlap) {
    CDTarskCtrlControl control;
    ASSERT_TRUE(control.CreateFromModule(COUNTS_CALLS_MODULE));
    constexpr int kCallsPerThread = 200;
    std::vector<std::u16string> answers[2];
    auto call = [&](std::vector<std::u16string>& into) {
        for (int i = 0; i < kCallsPerThread; ++i)
            into.push_back(control.GetUselistX());
    };
    std::thread other(call, std::ref(answers[1]));
    call(answers[0]);
    other.join();
    std::set<std::u16string> distinct(answers[0].begin(), answers[0].end());
    distinct.insert(answers[1].begin(), answers[1].end());
    EXPECT_EQ(distinct.size(), 2u * kCallsPerThread);
}

// The sample module with a user-list file of the test's own, in a fresh folder.
class SampleControlTest : public testing::Test {
protected:
    SampleControlTest() { fs::create_directory(folder_); }
    ~SampleControlTest() override { fs::remove_all(folder_); }
    void SetUp() override { ASSERT_TRUE(control_.CreateFromModule(SAMPLE_MODULE)); }

    void WriteList(const std::string& bytes) {
        std::ofstream(list_, std::ios::binary | std::ios::trunc) << bytes;
    }

    static fs::path FreshFolder() {
        std::random_device device;
        return fs::temp_directory_path() / ("quillgate-control-test-" + std::to_string(device()));
    }

    const fs::path folder_ = FreshFolder();
    const fs::path list_ = folder_ / "users.txt";
    ScopedEnv list_variable_{"QUILLGATE_SAMPLE_USERLIST", list_.c_str()};
    CDTarskCtrlControl control_;
};

TEST_F(SampleControlTest, ReturnsTheFileDecodedFromUtf8) {
    const struct {
        std::string bytes;
        std::u16string text;
    } cases[] = {
        {"alice\n张伟\n", u"alice\n张伟\n"},
        {"", u""},
        {"a\0b"s, u"a\0b"s},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},
        {"a\xFFz", u"a\uFFFDz"},
        {"\xC0\x80", u"\uFFFD\uFFFD"},                     // overlong
        {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},           // overlong
        {"\xE4\xBD", u"\uFFFD\uFFFD"},                     // cut short by the end
        {"\xE4z", u"\uFFFDz"},                             // cut short by another character
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},           // a surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, // beyond U+10FFFF
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        WriteList(c.bytes);
        EXPECT_EQ(control_.GetUselistX(), c.text);
    }
}

TEST_F(SampleControlTest, EditsShowOnTheNextCall) {
    WriteList("alice\n");
    EXPECT_EQ(control_.GetUselistX(), u"alice\n");
    WriteList("李娜\nbob\n");
    EXPECT_EQ(control_.GetUselistX(), u"李娜\nbob\n");
}

TEST_F(SampleControlTest, AListThatWasReadAndThenRemovedFailsTheNextCall) {
    WriteList("alice\n");
    EXPECT_EQ(control_.GetUselistX(), u"alice\n");
    fs::remove(list_);
    EXPECT_THROW(control_.GetUselistX(), ControlError);
}

TEST_F(SampleControlTest, MissingFileThrowsWithItsPath) {
    try {
        control_.GetUselistX();
        ADD_FAILURE() << "no ControlError";
    } catch (const ControlError& error) {
        EXPECT_EQ(
            std::string(error.what()).rfind("cannot read user list " + list_.string() + ": ", 0),
            0u)
            << error.what();
    }
}

} // namespace
