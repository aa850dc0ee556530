#!/usr/bin/env bash
# Builds the benchmarks (Release, in build-bench) and runs the soak for the given number of
# seconds (default 180): steady clients, clients that vanish abruptly and device changes, then
# checks on the registry, the memory, the replies and the log. Exits non-zero when one fails.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j"$(nproc)" --target quillgate_soak >/dev/null
exec build-bench/bench/quillgate_soak "${1:-180}"
