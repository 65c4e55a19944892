#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The Obrin developers
# What ReplayGain costs a rip: the 74-minute disc ripped to FLAC (fed while it is read) plain,
# with --replaygain (sample peaks) and with [ReplayGain] TruePeak=TRUE, each checked for its
# tags; and libebur128 alone (tools/loudness) over the same audio in the same run.
#
# image: the image read as fast as it goes; the rip with ReplayGain should take at most the
#   longer of the plain rip and libebur128 alone, plus 5 % (rg/bound).
# 40x:   the image read as a 40x drive would (OBRIN_IMAGE_SPEED); ReplayGain should cost at
#   most 3 % (sample peaks) and 10 % (true peaks) over the plain rip (rg/plain).
#
# Usage: bench/replaygain.sh [--quick] [BUILD_DIR]  (--quick: a 3-track disc of 20 s)
# Environment: RUNS, BENCH_DIR, BENCH_REF_PRIORITY (see bench/lib.sh); RG_PACED=0 leaves the
# 40x rows out (they take about ten minutes).
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/lib.sh"
bench_init "$@"
[[ -x $bench_bin/loudness ]] || {
  echo "$(basename "$0"): $bench_bin/loudness is missing; build first" >&2
  exit 2
}

name=$BENCH_FULL_DISC
lengths=$BENCH_FULL_LENGTHS
((bench_quick)) && name=rg20s lengths=500,500,500
bench_disc "$name" "$lengths"
mkdir -p "$bench_work/tp/obrin"
printf '[ReplayGain]\nTruePeak=TRUE\n' >"$bench_work/tp/obrin/Obrin.ini"

# One timed run of VARIANT (plain, sample, true, ebur-sample, ebur-true) at SPEED, appended
# to $bench_work/VARIANT-SPEED.runs.
run() {
  local variant=$1 speed=$2 out=$bench_work/rg-out
  local -a env=() cmd
  [[ $speed == image ]] || env=("OBRIN_IMAGE_SPEED=$speed")
  rm -rf "$out"
  case $variant in
    plain) cmd=("$bench_bin/obrin-rip" --format flac) ;;
    sample) cmd=("$bench_bin/obrin-rip" --format flac --replaygain) ;;
    true)
      env+=("XDG_CONFIG_HOME=$bench_work/tp")
      cmd=("$bench_bin/obrin-rip" --format flac --replaygain)
      ;;
    ebur-sample) cmd=("${bench_ref_priority[@]}" "$bench_bin/loudness" "$bench_work/$name.bin") ;;
    ebur-true)
      cmd=("${bench_ref_priority[@]}" "$bench_bin/loudness" --true-peak "$bench_work/$name.bin")
      ;;
  esac
  [[ $variant == ebur-* ]] || cmd+=(--image "$bench_work/$name.cue" --output "$out")
  bench_timed env "${env[@]}" "${cmd[@]}" >>"$bench_work/$variant-$speed.runs" ||
    bench_fail "$variant at $speed: $(tail -n 3 "$bench_work/last.err")"
  if [[ $variant == sample || $variant == true ]]; then
    local file
    file=$(bench_ripped_files "$out" flac | head -n 1)
    metaflac --show-tag=REPLAYGAIN_ALBUM_GAIN "$file" | grep -q . ||
      bench_fail "$variant at $speed: $file has no album gain"
  fi
  rm -rf "$out"
}

wall() { cut -d' ' -f1 "$bench_work/$1.runs" | bench_median; }

echo "ReplayGain ($(($(stat -c %s "$bench_work/$name.bin") / BENCH_SECTOR_BYTES / 75)) s of audio, FLAC)"
printf '%-6s %-6s %8s %8s %8s %8s %9s %8s\n' drive peaks plain_s rg_s ebur_s bound_s rg/bound \
  rg/plain
for ((round = 0; round < bench_runs; round++)); do
  for variant in plain sample true ebur-sample ebur-true; do run "$variant" image; done
done
for peaks in sample true; do
  plain=$(wall plain-image) rg=$(wall "$peaks-image") ebur=$(wall "ebur-$peaks-image")
  bound=$(awk -v a="$plain" -v b="$ebur" 'BEGIN { print (a > b) ? a : b }')
  printf '%-6s %-6s %8s %8s %8s %8s %9s %8s\n' image "$peaks" "$plain" "$rg" "$ebur" "$bound" \
    "$(bench_div "$rg" "$bound" %.3f)" "$(bench_div "$rg" "$plain" %.3f)"
done
# At a drive's pace the read dominates: one run each.
if ((${RG_PACED:-1})); then
  for variant in plain sample true; do run "$variant" 40; done
  for peaks in sample true; do
    plain=$(wall plain-40) rg=$(wall "$peaks-40")
    printf '%-6s %-6s %8s %8s %8s %8s %9s %8s\n' 40x "$peaks" "$plain" "$rg" - - - \
      "$(bench_div "$rg" "$plain" %.3f)"
  done
fi
bench_finish
