#pragma once

#include "control/CDTarskCtrlControl.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Bounds of one run, so that a cycle of steps ends and a reply fits in a client's message.
constexpr int kMaxStepsPerRun = 1000;
constexpr std::size_t kMaxResultLength = 1 << 20; // UTF-16 code units
// A step may read the whole script, so a long script gets fewer steps: steps times script length
// stays within this many code units, and one long message cannot hold the service for seconds.
// Scripts up to 64 Ki units keep every step.
constexpr std::size_t kMaxScriptUnitsReadPerRun = std::size_t{1} << 26;

// The most steps one run of a script of this many code units may take.
int MaxStepsFor(std::size_t script_length);

// The result texts of a run that a bound ended; %d is the step that would have run or whose
// output went past the length.
constexpr const char* kStepLimitResult = "FunctionRes[-1]StepLimitReachedAt[%d]";
constexpr const char* kResultTooLongResult = "FunctionRes[-1]ResultTooLongAt[%d]";

// Runs a process script and fills result, which the caller passes empty. Returns 0 when the
// run ended by itself and -1 when an error or a bound ended it.
std::int32_t RunProcess(std::u16string script, std::u16string& result,
                        SecurityControl& control = TheSecurityControl());
