#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The Obrin developers
# Ogg Vorbis speed check: obrin-rip --format ogg against oggenc -q 4.5 (the same libvorbis at
# the quality of Obrin's default slider position 9) on the same audio, on generated one-track
# discs of 1 and 20 minutes, alternating runs. Prints the median time ratio obrin/oggenc,
# obrin's speed and peak memory, and checks every file obrin wrote by decoding it.
#
# Usage: bench/ogg/run.sh [--quick] [BUILD_DIR]   (--quick: one run on a 10-second disc)
# Environment: RUNS, BENCH_DIR, BENCH_REF_PRIORITY (see bench/lib.sh).
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/../lib.sh"
bench_init "$@"
bench_compare_header
bench_compare_formats ogg
bench_finish
