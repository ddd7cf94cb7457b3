#!/usr/bin/env bash
# Times the whole program, gridwave against gridwave_plain (the same program
# around the plain row-by-row loop), on generated grids in the same run, and
# prints wall times, ratios and peak memory. Both must write the same bytes.
# extreme: every cell INT32_MIN, the loudest grid there is.
#   bench/compare.sh            best of 3 runs each
#   REPEAT=1 bench/compare.sh   one run each
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
repeat=${REPEAT:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Prints "<best wall seconds> <peak RSS in MB>" of running the command $repeat times.
measure() {
  local best="" rss=0
  for _ in $(seq "$repeat"); do
    local start end
    start=$(date +%s%N)
    /usr/bin/time -f "%M" -o "$work/rss" "$@" >/dev/null
    end=$(date +%s%N)
    local t=$(( end - start ))
    [ -z "$best" ] || [ "$t" -lt "$best" ] && best=$t
    rss=$(( $(cat "$work/rss") > rss ? $(cat "$work/rss") : rss ))
  done
  awk -v t="$best" -v m="$rss" 'BEGIN { printf "%.3f %.1f\n", t / 1e9, m / 1024 }'
}

echo "threads: ${GRIDWAVE_THREADS:-all CPUs ($(nproc))}, best of $repeat"
printf "%-12s %10s %10s %8s %10s %10s\n" grid plain_s gridwave_s ratio plain_MB gridwave_MB
dense200="" blocks200="" dense1000="" extreme1000=""
for grid in "dense 200" "dense 1000" "blocks 200" "extreme 1000" "dense 2000"; do
  read -r kind rows <<<"$grid"
  build/bench/make_bench_grid "$kind" "$rows" "$work/grid"
  if [ "$rows" -le 1000 ]; then
    read -r plain_t plain_m < <(measure build/bench/gridwave_plain "$work/grid" "$work/plain.wav" x)
  else
    plain_t="-" plain_m="-"   # rows read a c^2 way: too slow to be worth waiting for
  fi
  read -r fast_t fast_m < <(measure build/gridwave "$work/grid" "$work/fast.wav" x)
  if [ "$plain_t" != "-" ]; then
    cmp -s "$work/plain.wav" "$work/fast.wav" || { echo "$kind $rows: WAV files differ" >&2; exit 1; }
    ratio=$(awk -v p="$plain_t" -v f="$fast_t" 'BEGIN { printf "1/%.1f", p / f }')
  else
    ratio="-"
  fi
  [ "$grid" = "dense 200" ] && dense200=$fast_t
  [ "$grid" = "blocks 200" ] && blocks200=$fast_t
  [ "$grid" = "dense 1000" ] && dense1000=$fast_t
  [ "$grid" = "extreme 1000" ] && extreme1000=$fast_t
  printf "%-12s %10s %10s %8s %10s %10s\n" "$kind-$rows" "$plain_t" "$fast_t" "$ratio" "$plain_m" "$fast_m"
done
awk -v d="$dense200" -v b="$blocks200" 'BEGIN { printf "blocks-200 is %.1fx faster than dense-200\n", d / b }'
awk -v d="$dense1000" -v e="$extreme1000" 'BEGIN { printf "extreme-1000 takes %.2fx the time of dense-1000\n", e / d }'
