#!/usr/bin/env bash
# Sets up, builds, and runs the whole test suite: normally (build/), under
# AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/), then every
# fuzz target for GRIDWAVE_FUZZ_SECONDS seconds each (default 60; 0 skips).
# The studio's tests (label "studio": hostile HTTP, and the page in headless
# Chromium) run on their own after each suite, one at a time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
ctest --test-dir build --output-on-failure -j "$(nproc)" -LE studio
echo "== studio: hostile HTTP and the page in a real browser (build/)"
ctest --test-dir build --output-on-failure -L studio

echo "== sanitizers (build-asan/)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DGRIDWAVE_SANITIZE=ON >/dev/null
cmake --build build-asan -j "$(nproc)"
ctest --test-dir build-asan --output-on-failure -j "$(nproc)" -LE studio
echo "== studio under the sanitizers (build-asan/)"
ctest --test-dir build-asan --output-on-failure -L studio

seconds=${GRIDWAVE_FUZZ_SECONDS:-60}
if [ "$seconds" -gt 0 ]; then
  echo "== fuzzing, ${seconds}s per target (build-fuzz/)"
  tests/fuzz/run.sh "$seconds"
fi
