#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each over a copy of its seed corpus in
# fuzz/corpus/; fails when a target finds a crash, a hang or a sanitizer report.
# Usage: scripts/fuzz.sh [runs per target, default 20000; -1 runs until stopped] [libFuzzer flags...]
#   bash scripts/fuzz.sh 1000000
#   bash scripts/fuzz.sh -1 -max_total_time=600
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

runs=${1:-20000}
[ $# -eq 0 ] || shift
folder=build-fuzz
targets=(script_fuzzer script_value_fuzzer)
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"

cmake -S . -B "$folder" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$folder" -j"$(nproc)" --target "${targets[@]}"

symbolizer=$(command -v llvm-symbolizer-14 || command -v llvm-symbolizer || true)
[ -z "$symbolizer" ] || export ASAN_SYMBOLIZER_PATH="${ASAN_SYMBOLIZER_PATH:-$symbolizer}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$folder/artifacts"
for target in "${targets[@]}"; do
    mkdir "$work/$target"
    cp fuzz/corpus/"$target"/* "$work/$target"/
    echo "== fuzzing $target ($runs runs)"
    # -close_fd_mask=2: the runner's own line on standard error for each failing control call
    # is dropped; libFuzzer and the sanitizers report on a copy of it.
    if ! "$folder/fuzz/$target" -runs="$runs" -timeout=30 -close_fd_mask=2 -dict=fuzz/script.dict \
        -artifact_prefix="$folder/artifacts/$target-" "$@" "$work/$target" \
        2>"$work/$target.log"; then
        tail -n 80 "$work/$target.log"
        echo "fuzz: $target failed; the input is in $folder/artifacts/" >&2
        exit 1
    fi
    grep -E '^Done [0-9]+ runs' "$work/$target.log" || tail -n 3 "$work/$target.log"
done
