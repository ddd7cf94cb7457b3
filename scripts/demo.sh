#!/usr/bin/env bash
# Sets up and builds, then draws the demo picture and turns it into sound
# both ways, with a spectrogram of each:
#   exact:     picture -> img2grid -> gridwave -> spectrogram
#   img2sound: picture -> img2sound -> spectrogram
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh gridwave img2grid img2sound spectrogram draw_demo_picture
build/examples/draw_demo_picture build/demo-picture.png
build/img2grid build/demo-picture.png build/demo.grid
build/gridwave build/demo.grid build/demo.wav build/demo-picture.png
build/spectrogram build/demo.wav build/demo-spectrogram.png
build/img2sound build/demo-picture.png build/demo-img2sound.wav
build/spectrogram build/demo-img2sound.wav build/demo-img2sound-spectrogram.png
echo
echo "Picture:                 $PWD/build/demo-picture.png"
echo "gridwave's sound:        $PWD/build/demo.wav"
echo "  its spectrogram:       $PWD/build/demo-spectrogram.png"
echo "img2sound's sound:       $PWD/build/demo-img2sound.wav"
echo "  its spectrogram:       $PWD/build/demo-img2sound-spectrogram.png"
