#include "process/RunProcess.h"

#include "platform/code_page.h"
#include "process/CFunction_GetUsrList.h"
#include "process/CreateFunction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <variant>
#include <vector>

namespace {

using namespace std::string_literals;

// What the fake control does on one call: return a text or throw.
using Answer = std::variant<std::u16string, ControlError, std::bad_alloc>;

// Answers each call with the next answer; the last one repeats. Counts the calls.
class FakeControl : public SecurityControl {
public:
    explicit FakeControl(std::vector<Answer> answers) : answers_(std::move(answers)) {}

    std::u16string GetUselistX() override {
        const Answer& answer = answers_[std::min(calls_++, answers_.size() - 1)];
        if (const auto* text = std::get_if<std::u16string>(&answer))
            return *text;
        if (const auto* error = std::get_if<ControlError>(&answer))
            throw *error;
        throw std::get<std::bad_alloc>(answer);
    }

    std::size_t calls() const { return calls_; }

private:
    std::vector<Answer> answers_;
    std::size_t calls_ = 0;
};

const std::u16string kDeviceChangeScript =
    u"ProcessEntity-1{FunctionType[401]TrueNext[0]FalseNext[0]}ProcessCallBackName{_1}"
    u"ProcessNum{3}";
const std::u16string kStep1 = u"ProcessEntity-1{FunctionType[401]}";
// Step 1 goes on to step 2 when it succeeds; step 2 ends the run.
const std::u16string kTwoSteps =
    u"ProcessNum{2}ProcessEntity-1{FunctionType[401]TrueNext[2]}ProcessEntity-2{FunctionType[401]}";

TEST(CreateFunctionTest, Type401GivesTheUserListFunction) {
    const std::u16string bodies[] = {
        u"FunctionType[401]",
        u"FunctionType[ 401]",
        u"FunctionType[+401]",
        u"FunctionType[00401]",
        u"FunctionType[401abc]",
        u"FunctionType[401]FunctionType[402]",
        u"Name[x]Other{y}FunctionType[401]TrueNext[2]",
    };
    for (const std::u16string& body : bodies) {
        SCOPED_TRACE(testing::PrintToString(body));
        FakeControl control({u"L"});
        const std::unique_ptr<EumFunction> function = CreateFunction(body, control);
        ASSERT_NE(dynamic_cast<CFunction_GetUsrList*>(function.get()), nullptr);
        EXPECT_EQ(function->m_nFunctionType, 401);
        EXPECT_EQ(function->m_strFunctionName, u"GetUselistX");
        EXPECT_FALSE(function->m_bSuccess);
        EXPECT_EQ(control.calls(), 0u);
    }
}

TEST(CreateFunctionTest, OtherBodiesGiveNone) {
    const std::u16string bodies[] = {
        u"",
        u"FunctionType[402]",
        u"FunctionType[0]",
        u"FunctionType[-401]",
        u"FunctionType[]",
        u"FunctionType{401}",
        u"functiontype[401]",
        u"TrueNext[401]",
        u"FunctionType[402]FunctionType[401]",
    };
    for (const std::u16string& body : bodies) {
        SCOPED_TRACE(testing::PrintToString(body));
        FakeControl control({u"L"});
        EXPECT_EQ(CreateFunction(body, control), nullptr);
    }
}

TEST(GetUsrListTest, OutputIsTheControlsTextAndSucceedsWhenItHoldsACharacter) {
    const struct {
        std::u16string text;
        bool success;
    } cases[] = {{u"alice\n张伟", true}, {u"", false}, {u"\0"s, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        FakeControl control({c.text});
        CFunction_GetUsrList function(control);
        std::u16string output = u"old";
        function.Execute(output);
        EXPECT_EQ(output, c.text);
        EXPECT_EQ(function.m_bSuccess, c.success);
    }
}

TEST(GetUsrListTest, FailingCallLeavesOutputAndOutcome) {
    FakeControl control({u"L", ControlError("down")});
    CFunction_GetUsrList function(control);
    std::u16string output;
    function.Execute(output);
    output = u"kept";
    EXPECT_THROW(function.Execute(output), ControlError);
    EXPECT_EQ(output, u"kept");
    EXPECT_TRUE(function.m_bSuccess);
}

struct RunCase {
    const char* name;
    std::u16string script;
    std::vector<Answer> answers;
    std::u16string result;
};

TEST(RunProcessTest, ScriptsGiveTheirResults) {
    const RunCase cases[] = {
        {"empty script", u"", {u"L"}, u"-1"},
        {"ProcessNum 0", u"ProcessNum{0}" + kStep1, {u"L"}, u"-1"},
        {"ProcessNum -2", u"ProcessNum{-2}" + kStep1, {u"L"}, u"-1"},
        {"ProcessNum no digits", u"ProcessNum{abc}" + kStep1, {u"L"}, u"-1"},
        {"ProcessNum empty", u"ProcessNum{}" + kStep1, {u"L"}, u"-1"},
        {"ProcessNum other case", u"processnum{3}" + kStep1, {u"L"}, u"-1"},
        {"blank before brace", u"ProcessNum {3}" + kStep1, {u"L"}, u"-1"},
        {"N from leading blank",
         u"ProcessNum{ 3}ProcessEntity-1{FunctionType[401]TrueNext[3]}"
         u"ProcessEntity-3{FunctionType[401]}",
         {u"a", u"b"},
         u"ab"},
        {"N from text after digits",
         u"ProcessNum{3abc}ProcessEntity-1{FunctionType[401]TrueNext[3]}"
         u"ProcessEntity-3{FunctionType[401]}",
         {u"a", u"b"},
         u"ab"},
        {"no step 1", u"ProcessNum{1}", {u"L"}, u"FunctionRes[-1]FunctionNotSucessAt[1]"},
        {"device-change script", kDeviceChangeScript, {u"alice\n张伟"}, u"alice\n张伟"},
        {"device-change script, no list", kDeviceChangeScript, {u""}, u""},
        {"missing step 2 drops step 1",
         u"ProcessNum{2}ProcessEntity-1{FunctionType[401]TrueNext[2]}",
         {u"a"},
         u"FunctionRes[-1]FunctionNotSucessAt[2]"},
        {"two outputs back to back", kTwoSteps, {u"ab", u"cd"}, u"abcd"},
        {"step 10 before step 1",
         u"ProcessNum{10}ProcessEntity-10{FunctionType[402]}ProcessEntity-1{FunctionType[401]}",
         {u"a"},
         u"a"},
        {"first occurrence inside another value",
         u"ProcessNum{2}ProcessEntity-2{xProcessEntity-1{FunctionType[402]}"
         u"ProcessEntity-1{FunctionType[401]}",
         {u"a"},
         u"FunctionRes[-1]FunctionNotSucessAt[1]"},
        {"later duplicate never read",
         u"ProcessNum{1}ProcessNum{0}" + kStep1 + u"ProcessEntity-1{FunctionType[402]}",
         {u"a"},
         u"a"},
        {"NUL-first text succeeds and adds nothing", kTwoSteps, {u"\0x"s, u"b"}, u"b"},
        {"output cut at NUL", kTwoSteps, {u"a\0x"s, u"b"}, u"ab"},
        {"empty text follows FalseNext",
         u"ProcessNum{2}ProcessEntity-1{FunctionType[401]TrueNext[0]FalseNext[2]}"
         u"ProcessEntity-2{FunctionType[401]}",
         {u"", u"b"},
         u"b"},
        {"earlier step as successor",
         u"ProcessNum{2}ProcessEntity-1{FunctionType[401]TrueNext[2]}"
         u"ProcessEntity-2{FunctionType[401]TrueNext[1]}",
         {u"a", u"b", u""},
         u"ab"},
        {"next-step values looked up in the step body",
         u"ProcessNum{2}TrueNext[2]ProcessEntity-1{FunctionType[401]}ProcessEntity-2{}",
         {u"a"},
         u"a"},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeControl control(c.answers);
        std::u16string result;
        EXPECT_EQ(RunProcess(c.script, result, control), 0);
        EXPECT_EQ(result, c.result);
    }
}

TEST(RunProcessTest, NextStepOutOfRangeEndsTheRun) {
    const std::u16string next_entries[] = {u"TrueNext[4]", u"TrueNext[0]", u"TrueNext[-1]",
                                           u"TrueNext[]",  u"TrueNext[x]", u""};
    for (const std::u16string& next : next_entries) {
        SCOPED_TRACE(testing::PrintToString(next));
        FakeControl control({u"a"});
        std::u16string result;
        const std::u16string script = u"ProcessNum{3}ProcessEntity-1{FunctionType[401]" + next +
                                      u"FalseNext[2]}ProcessEntity-2{FunctionType[401]}"
                                      u"ProcessEntity-4{FunctionType[401]}";
        EXPECT_EQ(RunProcess(script, result, control), 0);
        EXPECT_EQ(result, u"a");
        EXPECT_EQ(control.calls(), 1u);
    }
}

TEST(RunProcessTest, ErrorShowsOneMessageAndKeepsCompletedSteps) {
    const struct {
        const char* name;
        std::vector<Answer> answers;
        std::u16string result;
        std::u16string message;
    } cases[] = {
        {"control error in step 2",
         {u"a", ControlError("设备未连接 (device not connected)")},
         u"a",
         u"有异常设备未连接 (device not connected)"},
        {"out of memory in step 1", {std::bad_alloc()}, u"", u"有异常内存不足。"},
        {"long message cut",
         {ControlError(std::string(2000, 'x'))},
         u"",
         u"有异常" + std::u16string(1023, u'x')},
        {"empty message", {ControlError("")}, u"", u"有异常"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeControl control(c.answers);
        std::u16string result;
        testing::internal::CaptureStderr();
        const std::int32_t status = RunProcess(kTwoSteps, result, control);
        const std::string shown = testing::internal::GetCapturedStderr();
        EXPECT_EQ(status, -1);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 1);
        const std::string line = platform::to_narrow(platform::CP_ACP, c.message) + "\n";
        EXPECT_TRUE(shown.size() >= line.size() &&
                    shown.compare(shown.size() - line.size(), line.size(), line) == 0)
            << shown;
    }
}

// Step 1 goes to step 2, which names itself for as long as the control answers.
const std::u16string kCycle = u"ProcessNum{2}ProcessEntity-1{FunctionType[401]TrueNext[2]}"
                              u"ProcessEntity-2{FunctionType[401]TrueNext[2]}";

struct BoundCase {
    const char* name;
    std::u16string script;
    std::vector<Answer> answers;
    std::int32_t status;
    std::u16string result;
};

TEST(RunProcessTest, LongerScriptsMayTakeFewerSteps) {
    const struct {
        std::size_t script_length;
        int max_steps;
    } cases[] = {
        {0, kMaxStepsPerRun},
        {kMaxScriptUnitsReadPerRun / kMaxStepsPerRun, kMaxStepsPerRun},
        {kMaxScriptUnitsReadPerRun / kMaxStepsPerRun + 1, kMaxStepsPerRun - 1},
        {kMaxScriptUnitsReadPerRun / 2, 2},
        {kMaxScriptUnitsReadPerRun, 1},
        {kMaxScriptUnitsReadPerRun * 2, 1}, // still one step, however long
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script_length);
        EXPECT_EQ(MaxStepsFor(c.script_length), c.max_steps);
    }
}

TEST(RunProcessTest, BoundsEndTheRunQuietly) {
    // One step beyond the bound would throw, and so show a message.
    std::vector<Answer> endless(kMaxStepsPerRun, u"a");
    endless.push_back(ControlError("one step too many"));
    std::vector<Answer> full_run(kMaxStepsPerRun, u"a");
    full_run.back() = u"";
    const std::u16string almost_full(kMaxResultLength - 1, u'x');
    // A script this long may take only a quarter of the steps.
    const int long_script_steps = kMaxStepsPerRun / 4;
    const std::u16string long_cycle =
        kCycle +
        std::u16string(kMaxScriptUnitsReadPerRun / long_script_steps - kCycle.size(), u' ');
    std::vector<Answer> endless_long(long_script_steps, u"a");
    endless_long.push_back(ControlError("one step too many"));
    std::vector<Answer> full_long_run(long_script_steps, u"a");
    full_long_run.back() = u"";
    const BoundCase cases[] = {
        {"cycle", kCycle, endless, -1, u"FunctionRes[-1]StepLimitReachedAt[2]"},
        {"cycle ending at the last allowed step", kCycle, full_run, 0,
         std::u16string(kMaxStepsPerRun - 1, u'a')},
        {"cycle in a long script", long_cycle, endless_long, -1,
         u"FunctionRes[-1]StepLimitReachedAt[2]"},
        {"cycle in a long script ending at its last allowed step", long_cycle, full_long_run, 0,
         std::u16string(long_script_steps - 1, u'a')},
        {"output past the length",
         kTwoSteps,
         {almost_full, u"yz"},
         -1,
         u"FunctionRes[-1]ResultTooLongAt[2]"},
        {"output up to the length", kTwoSteps, {almost_full, u"y"}, 0, almost_full + u"y"},
    };
    for (const BoundCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeControl control(c.answers);
        std::u16string result;
        testing::internal::CaptureStderr();
        EXPECT_EQ(RunProcess(c.script, result, control), c.status);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_TRUE(result == c.result) << "result of " << result.size() << " units";
    }
}

} // namespace
