#!/usr/bin/env bash
# Sets up, builds, and runs the whole test suite: normally (build/), under
# AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/), then every
# fuzz target for GRIDWAVE_FUZZ_SECONDS seconds each (default 60; 0 skips).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
ctest --test-dir build --output-on-failure -j "$(nproc)"

echo "== sanitizers (build-asan/)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DGRIDWAVE_SANITIZE=ON >/dev/null
cmake --build build-asan -j "$(nproc)"
ctest --test-dir build-asan --output-on-failure -j "$(nproc)"

seconds=${GRIDWAVE_FUZZ_SECONDS:-60}
if [ "$seconds" -gt 0 ]; then
  echo "== fuzzing, ${seconds}s per target (build-fuzz/)"
  tests/fuzz/run.sh "$seconds"
fi
