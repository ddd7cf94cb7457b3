#!/usr/bin/env bash
# Times img2sound against gridwave on equal work in the same run: a 1000-row
# picture rendered for 20 s (--rows 1000) against a dense 1000-row grid
# (18.2 s); then the peak memory of a 10-minute sound, and the kernel against
# its plain loop (picture_sound_bench).
#   bench/img2sound_compare.sh            best of 3 runs each
#   REPEAT=1 bench/img2sound_compare.sh   one run each
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh gridwave img2sound make_bench_grid picture_sound_bench >/dev/null
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

# A 1000 x 1000 binary PGM of random greys.
python3 - "$work/picture.pgm" <<'PY'
import random, sys
random.seed(1)
with open(sys.argv[1], 'wb') as f:
    f.write(b'P5\n1000 1000\n255\n' + bytes(random.randrange(13, 256) for _ in range(1000 * 1000)))
PY
build/bench/make_bench_grid dense 1000 "$work/grid"

echo "threads: ${GRIDWAVE_THREADS:-all CPUs ($(nproc))}, best of $repeat"
read -r grid_t grid_m < <(measure build/gridwave "$work/grid" "$work/grid.wav" x)
read -r sound_t sound_m < <(measure build/img2sound "$work/picture.pgm" "$work/sound.wav" --rows 1000 --duration 20)
printf "%-44s %8s %8s\n" run seconds MB
printf "%-44s %8s %8s\n" "gridwave, 1000-row dense grid (18.2 s)" "$grid_t" "$grid_m"
printf "%-44s %8s %8s\n" "img2sound --rows 1000 --duration 20" "$sound_t" "$sound_m"
awk -v a="$sound_t" -v b="$grid_t" 'BEGIN { printf "img2sound / gridwave: %.2f (goal: 2 or less)\n", a / b }'
repeat=1
read -r long_t long_m < <(measure build/img2sound "$work/picture.pgm" "$work/long.wav" --duration 600)
printf "%-44s %8s %8s\n" "img2sound --duration 600 (default rows)" "$long_t" "$long_m"
echo
build/bench/picture_sound_bench 300 1
