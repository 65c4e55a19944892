#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The Obrin developers
# MP3 speed check: obrin-rip --format mp3 against
# lame --noreplaygain -m s -V 2 -b 128 -B 192 -q 0 --nores (the same libmp3lame at Obrin's
# default settings) on the same audio, on generated one-track discs of 1 and 20 minutes,
# alternating runs. Prints the median time ratio obrin/lame (the target is 1.10 at most),
# obrin's speed and peak memory (which should not grow with the track's length), and checks
# every file obrin wrote by decoding it.
#
# Usage: bench/mp3/run.sh [--quick] [BUILD_DIR]   (--quick: one run on a 10-second disc)
# Environment: RUNS, BENCH_DIR, BENCH_REF_PRIORITY (see bench/lib.sh).
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/../lib.sh"
bench_init "$@"
bench_compare_header
bench_compare_formats mp3
bench_finish
