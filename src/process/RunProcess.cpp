#include "process/RunProcess.h"

#include "platform/code_page.h"
#include "platform/message_box.h"
#include "process/CreateFunction.h"
#include "process/ScriptNumber.h"
#include "process/ScriptValue.h"

#include <algorithm>
#include <cstdio>
#include <new>

namespace {

constexpr std::int32_t kEnded = 0;
constexpr std::int32_t kFailed = -1;
constexpr const char* kNoFunctionResult = "FunctionRes[-1]FunctionNotSucessAt[%d]";
constexpr std::size_t kMaxMessageLength = 1023;

// A format holding one %d, filled with a step number.
std::u16string StepText(const char* format, std::int32_t step) {
    char text[64];
    const int length = std::snprintf(text, sizeof text, format, step);
    return std::u16string(text, text + length);
}

std::u16string StepKey(std::int32_t step) {
    return StepText("ProcessEntity-%d", step);
}

// Appends a step's output up to its first NUL. Returns false, leaving result alone, when
// that would make result longer than a run may produce.
bool AppendOutput(std::u16string& result, std::u16string_view output) {
    output = output.substr(0, output.find(u'\0'));
    if (result.size() + output.size() > kMaxResultLength)
        return false;
    result += output;
    return true;
}

std::int32_t EndWith(std::u16string& result, const char* format, std::int32_t step,
                     std::int32_t status) {
    result = StepText(format, step);
    return status;
}

// Runs the steps from step 1 on; the result holds their outputs.
std::int32_t RunSteps(const std::u16string& script, std::int32_t step_count, std::u16string& result,
                      SecurityControl& control) {
    const int step_bound = MaxStepsFor(script.size());
    std::int32_t step = 1;
    for (int steps_run = 0;; ++steps_run) {
        if (steps_run == step_bound)
            return EndWith(result, kStepLimitResult, step, kFailed);
        std::u16string body = GetBraceValue(StepKey(step), script);
        // Both successors are read before the body moves into the function. An empty or
        // non-numeric value gives 0, which ends the run like any step out of range.
        const std::int32_t true_next = ScriptNumber(GetBracketValue(u"TrueNext", body));
        const std::int32_t false_next = ScriptNumber(GetBracketValue(u"FalseNext", body));
        std::unique_ptr<EumFunction> function = CreateFunction(std::move(body), control);
        if (!function)
            return EndWith(result, kNoFunctionResult, step, kEnded);
        std::u16string output;
        function->Execute(output);
        if (!AppendOutput(result, output))
            return EndWith(result, kResultTooLongResult, step, kFailed);
        const std::int32_t next_step = function->m_bSuccess ? true_next : false_next;
        function.reset();
        if (next_step < 1 || next_step > step_count)
            return kEnded;
        step = next_step;
    }
}

std::int32_t RunScript(const std::u16string& script, std::u16string& result,
                       SecurityControl& control) {
    const std::int32_t step_count = ScriptNumber(GetBraceValue(u"ProcessNum", script));
    if (step_count < 1) {
        result = u"-1";
        return kEnded;
    }
    return RunSteps(script, step_count, result, control);
}

std::int32_t ReportError(std::u16string message) {
    if (message.size() > kMaxMessageLength)
        message.resize(kMaxMessageLength);
    platform::show_message_box(u"有异常" + message);
    return kFailed;
}

} // namespace

int MaxStepsFor(std::size_t script_length) {
    const std::size_t by_length =
        kMaxScriptUnitsReadPerRun / std::max<std::size_t>(script_length, 1);
    return static_cast<int>(std::clamp<std::size_t>(by_length, 1, kMaxStepsPerRun));
}

std::int32_t RunProcess(std::u16string script, std::u16string& result, SecurityControl& control) {
    try {
        return RunScript(script, result, control);
    } catch (const std::bad_alloc&) {
        return ReportError(u"内存不足。");
    } catch (const std::exception& error) {
        return ReportError(platform::to_wide(platform::CP_UTF8, error.what()));
    }
}
