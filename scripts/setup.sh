#!/usr/bin/env bash
# Installs what gridwave needs to build and test, from Debian 12's archive.
# Safe to run again: it only calls apt-get when a package is missing.
set -euo pipefail

packages=(
  build-essential
  clang
  cmake
  libclang-rt-14-dev
  libgtest-dev
  pkgconf
  libspng-dev
  libsndfile1-dev
  libcli11-dev
  libturbojpeg0-dev
  libgif-dev
  libwebp-dev
  python3-numpy
  libhwy-dev
  libbenchmark-dev
  time
  libcivetweb-dev
  chromium
  chromium-driver
  python3-selenium
  libcairo2-dev
  fonts-dejavu-core
  sox
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
