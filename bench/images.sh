#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The Obrin developers
# What a disc kept as a cue sheet over FLAC costs to prove: obrin-rip --list and then --check
# of a 74-minute disc whose audio is one FLAC file (as rippers leave them), against flac -d of
# that file to a WAV, in the same run. Decoding is the cost of both; nothing else should add
# to it: the ratio should stay within 1.1. Every --check must find every track Completed.
#
# Usage: bench/images.sh [--quick] [BUILD_DIR]
#   --quick  a 10-second disc, one run
# Environment: RUNS, BENCH_DIR (see bench/lib.sh).
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/lib.sh"
bench_init "$@"
if ((bench_quick)); then
  lengths=300,450
else
  lengths=$(printf '33300,%.0s' {1..9})33300  # 10 tracks, 74 minutes
fi
cue=$bench_work/kept.cue
"$bench_bin/mkdisc" "$cue" --lengths "$lengths" --source flac >/dev/null ||
  bench_fail "mkdisc could not write the image"
"$bench_bin/obrin-rip" --list >/dev/null 2>&1 || true  # writes the settings file

# Listing, then checking: what a user runs to prove an old rip.
prove() {
  "$bench_bin/obrin-rip" --image "$cue" --list >/dev/null &&
    "$bench_bin/obrin-rip" --image "$cue" --check
}
export -f prove
export bench_bin cue

ours=() ref=() ours_cpu=() ref_cpu=()
for ((run = 0; run < bench_runs; run++)); do
  read -r wall cpu _ < <(bench_timed bash -c prove) || bench_fail "--list/--check"
  grep -qv $'\tCompleted\t' "$bench_work/last.out" &&
    bench_fail "--check found a track not Completed: $(grep -v $'\tCompleted\t' "$bench_work/last.out" | head -n 1)"
  ours+=("$wall") ours_cpu+=("$cpu")
  read -r wall cpu _ < <(bench_timed "${bench_ref_priority[@]}" flac -d -s -f \
    -o "$bench_work/ref.wav" "$bench_work/kept.flac") || bench_fail "flac -d"
  ref+=("$wall") ref_cpu+=("$cpu")
  rm -f "$bench_work/ref.wav"
done
a=$(printf '%s\n' "${ours[@]}" | bench_median)
b=$(printf '%s\n' "${ref[@]}" | bench_median)
ac=$(printf '%s\n' "${ours_cpu[@]}" | bench_median)
bc=$(printf '%s\n' "${ref_cpu[@]}" | bench_median)
printf '%-44s %9s %9s %7s %9s\n' "cue sheet over FLAC" "obrin s" "ref s" "ratio" "cpu_ratio"
printf '%-44s %9s %9s %7s %9s\n' "--list + --check / flac -d ($(bench_seconds "$(awk -F, '{ for (i = 1; i <= NF; i++) s += $i; print s }' <<<"$lengths")") s)" \
  "$a" "$b" "$(bench_div "$a" "$b")" "$(bench_div "$ac" "$bc")"
bench_finish
