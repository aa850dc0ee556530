#!/usr/bin/env bash
# Sets up, builds and runs every test: a warning-free build, then the same tests under
# AddressSanitizer with UBSan, and under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

run_suite() { # build folder, compiler flags
    local folder=$1 flags=$2
    echo "== tests in $folder ($flags)"
    cmake -S . -B "$folder" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS="$flags" \
        -DCMAKE_C_FLAGS="$flags" >/dev/null
    cmake --build "$folder" -j"$(nproc)"
    ctest --test-dir "$folder" --output-on-failure -j2
}

run_suite build-test "-Werror"
# GCC 12 warns falsely inside <regex> under AddressSanitizer.
run_suite build-asan "-Werror -Wno-maybe-uninitialized -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
# Boost.Asio uses thread fences, which ThreadSanitizer warns it does not model.
run_suite build-tsan "-Werror -Wno-tsan -fsanitize=thread"
# Fuzzing: each libFuzzer target for a short, fixed number of runs (scripts/fuzz.sh).
bash scripts/fuzz.sh
