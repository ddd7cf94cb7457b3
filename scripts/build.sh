#!/usr/bin/env bash
# Configures and builds into build/ (Release): everything, or just the
# targets named on the command line.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build build -j "$(nproc)" "${targets[@]}"
