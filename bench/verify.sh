#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The Obrin developers
# What verified rips cost. (1) A WAV rip of the 74-minute disc with the copy CRC and the
# AccurateRip sums worked out as it reads, against the same rip with them skipped
# (OBRIN_NO_CHECKSUMS=1, a benchmark-only switch). (2) obrin-rip --find-offset (one read of
# three tracks with 3000 samples to spare each side, every correction from -3000 to +3000
# tried) against a WAV rip of the same three tracks, the database a server on 127.0.0.1.
# (3) A WAV rip verified against both databases, the CUETools one holding the disc (so every
# track is read with its neighbours' edges and its CRC worked out at every shift), against
# the rip of (1) with every sum skipped: the database's sums should cost at most 3 %.
#
# Usage: bench/verify.sh [--quick] [BUILD_DIR]   (--quick: a 3-track disc of 20 seconds)
# Environment: RUNS (default 15 here), BENCH_DIR (see bench/lib.sh).
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/lib.sh"
bench_init "$@"
# Single rips on a shared machine stray by a third or more either way, far more than the
# few percent measured here: more runs than the other benchmarks take.
if [[ -z ${RUNS:-} ]] && ((!bench_quick)); then bench_runs=15; fi
command -v accuraterip-checksum >/dev/null || {
  echo "verify.sh: accuraterip-checksum is needed (bash scripts/install-deps.sh)" >&2
  exit 2
}

name=$BENCH_FULL_DISC
lengths=$BENCH_FULL_LENGTHS
if ((bench_quick)); then
  name=verify20s
  lengths=600,500,400
fi
bench_disc "$name" "$lengths"
export XDG_CONFIG_HOME=$bench_work/config XDG_CACHE_HOME=$bench_work/cache
cue=$bench_work/$name.cue

# Alternating runs of two commands; prints the median wall time of each, then the fastest of
# each (on a shared machine single runs stray far; the fastest is the least disturbed).
median_pair() {
  local -a first second
  local run a=() b=() wall _
  IFS=' ' read -r -a first <<<"$1"
  IFS=' ' read -r -a second <<<"$2"
  # The last run's files go to the disk before the next starts: their writing would land on
  # whichever run came next.
  for ((run = 0; run < bench_runs; run++)); do
    rm -rf "$bench_work/out" && sync
    read -r wall _ < <(bench_timed "${first[@]}") || bench_fail "${first[*]}"
    a+=("$wall")
    rm -rf "$bench_work/out" && sync
    read -r wall _ < <(bench_timed "${second[@]}") || bench_fail "${second[*]}"
    b+=("$wall")
  done
  echo "$(printf '%s\n' "${a[@]}" | bench_median) $(printf '%s\n' "${b[@]}" | bench_median)" \
    "$(printf '%s\n' "${a[@]}" | bench_min) $(printf '%s\n' "${b[@]}" | bench_min)"
}

printf '%-44s %9s %9s %7s\n' "verified rips" "obrin s" "ref s" "ratio"
rip=("$bench_bin/obrin-rip" --image "$cue" --format wav --output "$bench_work/out")
"${rip[@]}" >/dev/null 2>&1 || bench_fail "the first rip"  # settings file, page cache
read -r with without withBest withoutBest < <(median_pair "${rip[*]}" \
  "env OBRIN_NO_CHECKSUMS=1 ${rip[*]}")
printf '%-44s %9s %9s %7s\n' "WAV rip, sums on / skipped" "$with" "$without" \
  "$(bench_div "$with" "$without" %.3f)" \
  "  fastest runs" "$withBest" "$withoutBest" "$(bench_div "$withBest" "$withoutBest" %.3f)"

# The database: the v1 sums of the first three tracks of a plain rip, served for any path.
"$bench_bin/obrin-rip" --image "$cue" --format wav --tracks 1-3 --template 't$n' \
  --album plain --output "$bench_work/plain" >/dev/null 2>&1 || bench_fail "the plain rip"
tracks=$(tr , '\n' <<<"$lengths" | wc -l)
{
  printf '\x03'
  head -c 12 /dev/zero
  for track in 1 2 3; do
    printf '\x09'
    bench_le32 "$((16#$(accuraterip-checksum --accuraterip-v1 \
      "$bench_work/plain/plain/t0$track.wav" "$track" "$tracks")))"
    head -c 4 /dev/zero
  done
} >"$bench_work/reply.bin"
if ((tracks != 3)); then  # the entry must carry every track of the disc
  for ((track = 4; track <= tracks; track++)); do printf '\x09\x00\x00\x00\x00\x00\x00\x00\x00'; done >>"$bench_work/reply.bin"
  printf "\\x$(printf %02x "$tracks")" | dd of="$bench_work/reply.bin" bs=1 count=1 conv=notrunc status=none
fi
# The CUETools database's entry of the disc: its TOC and CRCs from a plain rip of every track.
"$bench_bin/obrin-rip" --image "$cue" --format wav --template 't$n' --album whole \
  --output "$bench_work/plain" >/dev/null 2>&1 || bench_fail "the whole plain rip"
# The replies' XML namespace, as the program's own source names it.
namespace=$(sed -n 's/.*kCtdbNamespace\[\] = "\(.*\)";/\1/p' "$(dirname "$0")/../src/disc/ctdb.h")
[[ -n $namespace ]] || bench_fail "the CTDB namespace in src/disc/ctdb.h"
python3 - "$cue" "$bench_work/ctdb.xml" "$namespace" "$bench_work"/plain/whole/t*.wav <<'PY' || bench_fail "the CTDB reply"
import sys, zlib
d = [open(f, 'rb').read()[44:] for f in sys.argv[4:]]
s = b''.join(d)
n, e = len(s) // 4, 5880
b, end = e, e + (n // e - 2) * e
crcs, at, starts = [], 0, []
for x in d:
    starts.append(at // 588)
    lo, hi = max(at, b), min(at + len(x) // 4, end)
    crcs.append('%08x' % zlib.crc32(s[4 * lo:4 * hi]))
    at += len(x) // 4
toc = ':'.join(str(v) for v in starts + [n // 588])
open(sys.argv[2], 'w').write(
    '<?xml version="1.0" encoding="utf-8"?><ctdb xmlns="%s">'
    '<entry id="bench" crc32="%08x" confidence="5" npar="8" stride="5880" hasparity="true" '
    'trackcrcs="%s" toc="%s"/></ctdb>' % (sys.argv[3], zlib.crc32(s[4 * b:4 * end]), ' '.join(crcs), toc))
PY
PYTHONPATH=$(dirname "$0") python3 - "$bench_work/reply.bin" "$bench_work/port" \
  "$bench_work/ctdb.xml" <<'PY' &
import sys
from reply_server import serve
reply = open(sys.argv[1], 'rb').read()
ctdb = open(sys.argv[3], 'rb').read()
serve(sys.argv[2], lambda path: (200, ctdb if path.startswith('/lookup2.php') else reply))
PY
bench_await_server
"$bench_bin/obrin-rip" --list >/dev/null 2>&1 || true  # writes the settings file
sed -i "s|^Server=.*|Server=$bench_address|" "$XDG_CONFIG_HOME/obrin/Obrin.ini"
find=("$bench_bin/obrin-rip" --image "$cue" --find-offset)
"${find[@]}" >"$bench_work/found" 2>&1 || bench_fail "--find-offset: $(cat "$bench_work/found")"
grep -q '^Read offset +0: 3 of 3 tracks match' "$bench_work/found" ||
  bench_fail "--find-offset did not find +0: $(head -n 3 "$bench_work/found")"
read -r found ripped foundBest rippedBest < <(median_pair \
  "env XDG_CACHE_HOME=$bench_work/cache ${find[*]}" \
  "$bench_bin/obrin-rip --image $cue --format wav --tracks 1-3 --output $bench_work/out")
printf '%-44s %9s %9s %7s\n' "--find-offset / WAV rip of its 3 tracks" "$found" "$ripped" \
  "$(bench_div "$found" "$ripped" %.3f)" \
  "  fastest runs" "$foundBest" "$rippedBest" "$(bench_div "$foundBest" "$rippedBest" %.3f)"
verified=("$bench_bin/obrin-rip" --image "$cue" --format wav --verify --output "$bench_work/out")
"${verified[@]}" >"$bench_work/verified" 2>&1 || true  # AccurateRip's sums do not match: status 0 or 1
grep -q "CTDB: $(tr , '\n' <<<"$lengths" | wc -l) of" "$bench_work/verified" ||
  bench_fail "the verified rip did not match the CTDB entry: $(tail -n 1 "$bench_work/verified")"
read -r checked skipped checkedBest skippedBest < <(median_pair \
  "env XDG_CACHE_HOME=$bench_work/cache ${verified[*]}" "env OBRIN_NO_CHECKSUMS=1 ${rip[*]}")
printf '%-44s %9s %9s %7s\n' "WAV rip verified (CTDB) / sums skipped" "$checked" "$skipped" \
  "$(bench_div "$checked" "$skipped" %.3f)" \
  "  fastest runs" "$checkedBest" "$skippedBest" "$(bench_div "$checkedBest" "$skippedBest" %.3f)"
bench_finish
