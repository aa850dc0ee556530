#!/usr/bin/env bash
# Builds the benchmarks (Release, in build-bench) and runs the load benchmark: the service
# against a bare websocketpp echo server and one that logs like the service, in alternating
# rounds. Arguments go to the benchmark: --rounds N, --seconds S, --cases NAME,...
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j"$(nproc)" --target quillgate_bench >/dev/null
exec build-bench/bench/quillgate_bench "$@"
