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

# Prints "<best wall seconds> <peak RSS in MB> <best CPU seconds>" of running
# the command $repeat times. CPU time (user + system, all threads) is the
# steadier figure on a machine shared with other work.
measure() {
  local best="" rss=0 cpu=""
  for _ in $(seq "$repeat"); do
    local start end
    start=$(date +%s%N)
    /usr/bin/time -f "%M %U %S" -o "$work/rss" "$@" >/dev/null
    end=$(date +%s%N)
    local t=$(( end - start ))
    [ -z "$best" ] || [ "$t" -lt "$best" ] && best=$t
    read -r m u s <"$work/rss"
    rss=$(( m > rss ? m : rss ))
    cpu=$(awk -v u="$u" -v s="$s" -v c="$cpu" 'BEGIN { t = u + s; print (c == "" || t < c) ? t : c }')
  done
  awk -v t="$best" -v m="$rss" -v c="$cpu" 'BEGIN { printf "%.3f %.1f %.2f\n", t / 1e9, m / 1024, c }'
}

echo "threads: ${GRIDWAVE_THREADS:-all CPUs ($(nproc))}, best of $repeat"
printf "%-12s %10s %10s %8s %10s %10s %10s\n" grid plain_s gridwave_s ratio plain_MB gridwave_MB gridwave_cpu
dense200="" blocks200="" dense1000="" extreme1000="" dense1000c="" extreme1000c=""
for grid in "dense 200" "dense 1000" "blocks 200" "extreme 1000" "dense 2000"; do
  read -r kind rows <<<"$grid"
  build/bench/make_bench_grid "$kind" "$rows" "$work/grid"
  if [ "$rows" -le 1000 ]; then
    read -r plain_t plain_m _ < <(measure build/bench/gridwave_plain "$work/grid" "$work/plain.wav" x)
  else
    plain_t="-" plain_m="-"   # rows read a c^2 way: too slow to be worth waiting for
  fi
  read -r fast_t fast_m fast_c < <(measure build/gridwave "$work/grid" "$work/fast.wav" x)
  if [ "$plain_t" != "-" ]; then
    cmp -s "$work/plain.wav" "$work/fast.wav" || { echo "$kind $rows: WAV files differ" >&2; exit 1; }
    ratio=$(awk -v p="$plain_t" -v f="$fast_t" 'BEGIN { printf "1/%.1f", p / f }')
  else
    ratio="-"
  fi
  [ "$grid" = "dense 200" ] && dense200=$fast_t
  [ "$grid" = "blocks 200" ] && blocks200=$fast_t
  [ "$grid" = "dense 1000" ] && dense1000=$fast_t dense1000c=$fast_c
  [ "$grid" = "extreme 1000" ] && extreme1000=$fast_t extreme1000c=$fast_c
  printf "%-12s %10s %10s %8s %10s %10s %10s\n" "$kind-$rows" "$plain_t" "$fast_t" "$ratio" "$plain_m" "$fast_m" "$fast_c"
done
awk -v d="$dense200" -v b="$blocks200" 'BEGIN { printf "blocks-200 is %.1fx faster than dense-200\n", d / b }'
awk -v d="$dense1000" -v e="$extreme1000" -v dc="$dense1000c" -v ec="$extreme1000c" \
  'BEGIN { printf "extreme-1000 takes %.2fx the time of dense-1000 (%.2fx the CPU time)\n", e / d, ec / dc }'
