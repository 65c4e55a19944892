#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The Obrin developers
# Every benchmark in one table: obrin-rip against the reference tool on the same audio in the
# same run for WAV (dd copying the bytes out of the image), MP3 (lame), Ogg Vorbis (oggenc),
# FLAC (flac -5, whose file size is compared too) and Opus (opusenc --bitrate 160), each at
# Obrin's default settings, on 1- and 20-minute tracks; then a full 74-minute disc ripped to each format. Every file
# obrin writes is checked: WAV byte for byte against the image, FLAC decoded to those bytes,
# MP3, Ogg and Opus by decoding them to the right length. What ReplayGain costs
# (bench/replaygain.sh) follows the format rows. Then --jobs 2 against --jobs 1
# (bench/jobs.sh); what verified rips cost (bench/verify.sh); last, what a MusicBrainz
# lookup costs (bench/lookup.sh), and the cover after it (bench/cover.sh); what proving a cue sheet over FLAC costs (bench/images.sh);
# what reading the emulated drive securely costs against a plain rip, and what its index
# search reads (bench/drive.sh).
#
# Times are medians of alternating runs; ratio is obrin/reference (wall clock), cpu_ratio the
# same for user + system time, which a busy machine disturbs less. Peak memory is the largest
# resident set over the runs (GNU time). Not a timed test: only a failed rip or check makes the
# exit status non-zero.
#
# Usage: bench/run-all.sh [--quick] [BUILD_DIR]
#   --quick  one run each on a 10-second disc and no 74-minute disc (the smoke CI may run)
# Environment: RUNS, BENCH_DIR, BENCH_REF_PRIORITY (see bench/lib.sh).
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/lib.sh"
bench_init "$@"
bench_compare_header
bench_compare_formats wav mp3 ogg flac opus
if ((!bench_quick)); then
  echo
  bench_full_header
  for format in wav mp3 ogg flac opus; do bench_full "$format"; done
fi
echo
bash "$(dirname "$0")/replaygain.sh" "$@" | sed -n '/^ReplayGain (/,/^$/{/^$/!p}' || bench_failed=1
echo
bench_jobs_header
bench_jobs_rows
echo
bash "$(dirname "$0")/verify.sh" "$@" | sed -n '/^verified rips/,/^$/{/^$/!p}' || bench_failed=1
echo
bash "$(dirname "$0")/lookup.sh" "$@" | sed -n '/^MusicBrainz lookup/,/^--disc-info/p' || bench_failed=1
echo
bash "$(dirname "$0")/cover.sh" "$@" | sed -n '/^cover art/,/^--lookup/p' || bench_failed=1
echo
bash "$(dirname "$0")/images.sh" "$@" | sed -n '/^cue sheet over FLAC/,/^--list/p' || bench_failed=1
echo
bash "$(dirname "$0")/drive.sh" "$@" | sed -n '/^drive reading/,/^index search/p' || bench_failed=1
bench_finish
