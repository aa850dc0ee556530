#pragma once

#include <sanitizer/common_interface_defs.h>

#include <cstdio>
#include <cstdlib>

// Stops the run on a broken invariant, so that libFuzzer keeps the input. The note goes where
// sanitizer reports go, which stays open when libFuzzer closes standard error.
#define FUZZ_CHECK(condition) ((condition) ? void() : fuzz::Fail(#condition, __FILE__, __LINE__))

namespace fuzz {

[[noreturn]] inline void Fail(const char* condition, const char* file, int line) {
    char note[512];
    std::snprintf(note, sizeof note, "SUMMARY: invariant broken at %s:%d: %s", file, line,
                  condition);
    __sanitizer_report_error_summary(note);
    std::abort();
}

} // namespace fuzz
