#!/usr/bin/env bash
# Builds the fuzz targets with clang into build-fuzz/ and runs each one for
# SECONDS seconds (default: $GRIDWAVE_FUZZ_SECONDS, else 60).
#
# Each target starts from its seeds (tests/fuzz/corpus/NAME) and from what
# earlier runs found (build-fuzz/corpus/NAME, kept between runs, never
# committed). A crash stops the run; its input is saved as
# build-fuzz/crashes/NAME-crash-* and must go into tests/fuzz/regressions/NAME/
# (the test suite replays it) before the fault is fixed.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${1:-${GRIDWAVE_FUZZ_SECONDS:-60}}
build=build-fuzz

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DGRIDWAVE_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"

mkdir -p "$build/corpus" "$build/crashes"
# The targets' scratch files, on a memory file system where there is one.
scratch=$(mktemp -d "$( [ -d /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")/gridwave-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export GRIDWAVE_FUZZ_SCRATCH=$scratch
shopt -s nullglob
targets=("$build"/fuzz-targets/*)
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets were built" >&2; exit 1; }

for entry in "${targets[@]}"; do
  name=$(basename "$entry")
  { read -r binary; read -r seeds; read -r regressions; read -r max_len; } <"$entry"
  [ -x "$binary" ] || continue  # registered by an older configuration
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  dirs=("$corpus" "$seeds")
  [ -d "$regressions" ] && dirs+=("$regressions")
  echo "== $name: ${seconds}s"
  if ! "$binary" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$build/crashes/$name-" "${dirs[@]}" \
      2>"$build/$name.log"; then
    tail -n 60 "$build/$name.log" >&2
    echo "== $name FAILED: add the input above from $build/crashes/ to $regressions/" >&2
    exit 1
  fi
  grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::average_exec_per_sec|stat::new_units_added)' \
    "$build/$name.log" || true
done
