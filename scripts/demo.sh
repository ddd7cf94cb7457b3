#!/usr/bin/env bash
# Sets up, builds, and renders the bundled example grid into build/example.wav.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
build/examples/make_example_grid build/example.grid
build/gridwave build/example.grid build/example.wav build/example.grid
echo "Wrote build/example.wav"
