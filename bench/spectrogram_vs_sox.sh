#!/usr/bin/env bash
# Times spectrogram (labelled picture) against SoX's spectrogram for the same
# sound and plot size, in the same run, runs of the two taking turns, and
# prints wall times, the ratio and peak memory of each.
#   bench/spectrogram_vs_sox.sh              a 2-minute and a 1-hour sound, best of 3
#   REPEAT=1 LONG=10800 bench/spectrogram_vs_sox.sh   one run each, a 3-hour long sound
# The sounds (tones, a sweep and pink noise, made by SoX) are kept in
# build/bench-sounds/ for the next run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh spectrogram >/dev/null
repeat=${REPEAT:-3}
width=${WIDTH:-800}
height=${HEIGHT:-400}
sounds=build/bench-sounds
mkdir -p "$sounds"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# sound NAME SECONDS: a music-like mix (a sweep across the octaves, a steady
# tone, a tremolo tone) over pink noise, 16-bit 44.1 kHz mono.
sound() {
  local file="$sounds/$1.wav"
  [ -f "$file" ] || sox -n -r 44100 -b 16 -c 1 "$file" synth "$2" \
    sine 200-8000 sine 1000 sine 3000 pinknoise remix 1,2,3,4 tremolo 0.5 60 vol 0.3 2>/dev/null
  echo "$file"
}

# Prints "<wall seconds> <peak RSS in MB>" of one run of the command.
once() {
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f "%M" -o "$work/rss" "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  awk -v t=$(( end - start )) -v m="$(cat "$work/rss")" 'BEGIN { printf "%.3f %.1f\n", t / 1e9, m / 1024 }'
}

printf "%-10s %9s %9s %8s %8s %8s\n" sound sox_s ours_s ratio sox_MB ours_MB
for entry in "2min 120" "long ${LONG:-3600}"; do
  read -r name seconds <<<"$entry"
  file=$(sound "$name" "$seconds")
  best_sox="" best_ours="" mem_sox=0 mem_ours=0
  for _ in $(seq "$repeat"); do
    read -r t m < <(once sox "$file" -n spectrogram -x "$width" -y "$height" -o "$work/sox.png")
    best_sox=$(awk -v a="$t" -v b="${best_sox:-$t}" 'BEGIN { print (a < b ? a : b) }')
    mem_sox=$(awk -v a="$m" -v b="$mem_sox" 'BEGIN { print (a > b ? a : b) }')
    read -r t m < <(once build/spectrogram "$file" "$work/ours.png" --width "$width" --height "$height")
    best_ours=$(awk -v a="$t" -v b="${best_ours:-$t}" 'BEGIN { print (a < b ? a : b) }')
    mem_ours=$(awk -v a="$m" -v b="$mem_ours" 'BEGIN { print (a > b ? a : b) }')
  done
  awk -v n="$name ($seconds s)" -v s="$best_sox" -v o="$best_ours" -v ms="$mem_sox" -v mo="$mem_ours" \
    'BEGIN { printf "%-10s %9.2f %9.2f %7.1fx %8.1f %8.1f\n", n, s, o, s / o, ms, mo }'
done
