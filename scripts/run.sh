#!/usr/bin/env bash
# Sets up, builds and runs quillgate in the foreground with the sample security control.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j"$(nproc)"

export QUILLGATE_CONTROL_MODULE="${QUILLGATE_CONTROL_MODULE:-$PWD/build/controls/sample/libquillgate_sample_control.so}"
echo "quillgate: listening on port 9656, control module $QUILLGATE_CONTROL_MODULE"
exec ./build/quillgate "$@"
