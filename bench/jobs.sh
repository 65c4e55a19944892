#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The Obrin developers
# obrin-rip --jobs 2 against --jobs 1 on the 74-minute disc, to MP3 (default settings) and
# Ogg Vorbis (q0.45): read at image speed, and read from a simulated 48x drive (the image
# reader held to 48 times real time). Prints the time ratios, the peak memory of both, and
# checks that both rips wrote the same audio.
#
# Usage: bench/jobs.sh [--quick] [BUILD_DIR]   (--quick: a 3-track disc of 20 seconds)
# Environment: RUNS, BENCH_DIR, BENCH_REF_PRIORITY (see bench/lib.sh).
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/lib.sh"
bench_init "$@"
bench_jobs_header
bench_jobs_rows
bench_finish
