#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The Obrin developers
# What reading a drive honestly costs. A 10-track disc in the emulated drive
# (tools/emudrive: 8x, a 2000-sector audio cache with read-ahead, 8 ms seeks, no C2): a secure WAV
# rip (every track read twice, a cache's worth read elsewhere before the second read, the
# cache measured once) against a plain WAV rip of it. Prints both times, their ratio, the
# sectors each read (from the drive's command log) and the extra sectors per re-read against
# the cache's size: the cost of defeating the cache should be at most one cache a re-read.
# Then what finding a disc's pregaps and indexes in the Q sub-channel reads: a 74-minute disc
# of 20 tracks, pregaps on every other one and later indexes on some, asked for --disc-info;
# the sectors READ CD served against the disc's, which should stay below 2 %.
#
# Usage: bench/drive.sh [--quick] [BUILD_DIR]   (--quick: 10 tracks of 10 seconds)
# Environment: RUNS (default 1 here: the emulated drive's time model is steady), BENCH_DIR.
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/lib.sh"
bench_init "$@"
if [[ -z ${RUNS:-} ]]; then bench_runs=1; fi
shim=$bench_bin/libemudrive.so
[[ -f $shim ]] || {
  echo "drive.sh: $shim is missing (build the emudrive target)" >&2
  exit 2
}

seconds=40
((bench_quick)) && seconds=10
sectors=$((seconds * 75))
lengths=$(printf "$sectors,%.0s" {1..10})
lengths=${lengths%,}
name=drive${seconds}s
bench_disc "$name" "$lengths"
export XDG_CONFIG_HOME=$bench_work/config XDG_CACHE_HOME=$bench_work/cache
{
  echo "image $bench_work/$name.bin"
  for ((t = 0; t < 10; t++)); do echo "track $((t + 1)) $((t * sectors))"; done
  echo "speed 8"
  echo "seek-ms 8"
  echo "cache 2000"
  echo "readahead 64"
  echo "c2 none"  # both rips read through paranoia: the difference is the re-read and the cache
} >"$bench_work/drive.txt"

# The settings file, its AccurateRip server a closed port on this machine: no database
# answers, so every track of the secure rip is read again (and nothing leaves the machine).
mkdir -p "$bench_work/config/obrin"
ini=$bench_work/config/obrin/Obrin.ini
"$bench_bin/obrin-rip" --image "$bench_work/$name.cue" --list >/dev/null 2>&1 || true
sed -i 's|^Server=https\?://[^/]*accuraterip[^ ]*$|Server=http://127.0.0.1:9|' "$ini"
grep -q '^Server=http://127.0.0.1:9$' "$ini" || bench_fail "the settings file's AccurateRip server"

# Sectors read by READ CD commands in the drive's log.
read_sectors() { awk '$1 == "mmc" && $2 == "READ_CD" && $5 == "ok" { n += $4 } END { print n + 0 }' "$1"; }

run() {  # LABEL ARGS...: wall seconds and sectors read, medians over the runs
  local label=$1 walls=() reads=() wall _
  shift
  for ((run = 0; run < bench_runs; run++)); do
    rm -rf "$bench_work/out" "$bench_work/drive.log"
    read -r wall _ < <(LD_PRELOAD=$shim OBRIN_EMUDRIVE=$bench_work/drive.txt \
      OBRIN_EMUDRIVE_LOG=$bench_work/drive.log bench_timed "$bench_bin/obrin-rip" --format wav \
      --output "$bench_work/out" "$@") || bench_fail "$label"
    walls+=("$wall")
    reads+=("$(read_sectors "$bench_work/drive.log")")
  done
  echo "$(printf '%s\n' "${walls[@]}" | bench_median) $(printf '%s\n' "${reads[@]}" | bench_median)"
}

printf '%-44s %9s %9s %7s %9s %9s\n' "drive reading (emulated 8x, cache 2000)" "obrin s" "ref s" \
  "ratio" "sectors" "ref sec"
read -r plainWall plainRead < <(run plain)
read -r secureWall secureRead < <(run secure --secure --log)
cache=$(sed -n 's/^  Cache: \([0-9]*\) sectors.*/\1/p' "$bench_work"/out/*/*.log 2>/dev/null | head -n 1)
printf '%-44s %9s %9s %7s %9s %9s\n' "secure WAV rip / plain WAV rip" "$secureWall" "$plainWall" \
  "$(bench_div "$secureWall" "$plainWall" %.3f)" "$secureRead" "$plainRead"
# A re-read of each of the 10 tracks is the plain read again; the rest is the cache's price.
extra=$((secureRead - 2 * plainRead))
printf '%-44s %9s %9s\n' "  extra sectors per re-read / cache measured" "$((extra / 10))" \
  "${cache:-none}"

# The index search reads single sectors; the image need not hold the disc (past its end the
# emulated disc reads as silence), only its Q is asked for.
per=16650  # 3:42 a track
{
  echo "image $bench_work/$name.bin"
  expected=0
  for ((t = 1; t <= 20; t++)); do
    start=$(((t - 1) * per))
    echo "track $t $start"
    if ((t % 2 == 0)); then echo "index $t 0 $((start - 75 * (t % 5 + 1)))"; expected=$((expected + 1)); fi
    if ((t % 4 == 3)); then echo "index $t 2 $((start + 3000 + t))"; expected=$((expected + 1)); fi
  done
  echo "leadout $((20 * per))"
  echo "q-corrupt 0.1"
} >"$bench_work/indexes.txt"
rm -f "$bench_work/indexes.log"
LD_PRELOAD=$shim OBRIN_EMUDRIVE=$bench_work/indexes.txt OBRIN_EMUDRIVE_LOG=$bench_work/indexes.log \
  "$bench_bin/obrin-rip" --disc-info >"$bench_work/indexes.out" 2>&1 || bench_fail "--disc-info of the 20-track disc"
found=$(grep -c ' index 0[02]: ' "$bench_work/indexes.out" || true)
[[ $found == "$expected" ]] || bench_fail "the index search found $found of $expected indexes"
searched=$(read_sectors "$bench_work/indexes.log")
printf '%-44s %9s %9s %7s\n' "index search: sectors read / disc sectors" "$searched" "$((20 * per))" \
  "$(bench_div "$searched" "$((20 * per))" %.4f)"
bench_finish
