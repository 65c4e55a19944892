#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The Obrin developers
# Installs every Debian 12 package that building, running, testing and benchmarking Obrin needs.
# Safe to run again: packages already present are skipped, and apt-get is only called when
# something is missing.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang clang-format
  # core and GUI libraries
  qt6-base-dev qt6-svg-dev libcdio-dev libcdio-paranoia-dev libmp3lame-dev
  libvorbis-dev libogg-dev libsoxr-dev libasound2-dev libudev-dev zlib1g-dev libisal-dev
  libcurl4-openssl-dev libdiscid-dev nlohmann-json3-dev libflac-dev libtag1-dev libcue-dev libexpat1-dev libssl-dev
  libebur128-dev libopusenc-dev libopus-dev
  fp-utils
  # tests (whipper brings accuraterip-checksum, their AccurateRip oracle; PyYAML reads logs)
  libgtest-dev libgmock-dev libmpg123-dev whipper python3-yaml xvfb xauth xdotool valgrind libclang-rt-14-dev util-linux
  sox  # the de-emphasis oracle
  loudgain opus-tools python3-mutagen  # the loudness, Opus and tag oracles
  locales  # the sources from which a test generates de_DE.UTF-8
  # the Debian package and its checks (make package, scripts/check-package.sh)
  dpkg-dev file lintian desktop-file-utils appstream man-db
  # reference encoders for the benchmarks
  lame vorbis-tools flac time
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
