#!/usr/bin/env bash
# Sets up and builds, then runs the whole chain on the demo picture:
# picture -> img2grid -> gridwave -> spectrogram.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh gridwave img2grid spectrogram draw_demo_picture
build/examples/draw_demo_picture build/demo-picture.png
build/img2grid build/demo-picture.png build/demo.grid
build/gridwave build/demo.grid build/demo.wav build/demo-picture.png
build/spectrogram build/demo.wav build/demo-spectrogram.png
echo
echo "Picture:     $PWD/build/demo-picture.png"
echo "Sound:       $PWD/build/demo.wav"
echo "Spectrogram: $PWD/build/demo-spectrogram.png"
