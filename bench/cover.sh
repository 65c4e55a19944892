#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The Obrin developers
# What the cover costs: a three-track FLAC rip with --lookup --cover-art against the same rip
# with --lookup alone, both with an empty cache each time, so every run with the cover fetches
# it: the front cover's 307 to the picture, a 1.5 MB original and a 100 kB thumbnail, from a
# server on 127.0.0.1 that also answers MusicBrainz with one release of the disc. The
# difference is the cover's own time (one fetch, one saved file, three embeddings), which
# should stay under 0.5 s per album.
#
# Usage: bench/cover.sh [--quick] [BUILD_DIR]
# Environment: RUNS, BENCH_DIR (see bench/lib.sh).
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/lib.sh"
bench_init "$@"
bench_disc cover3 1500,1400,1300
export XDG_CONFIG_HOME=$bench_work/config XDG_CACHE_HOME=$bench_work/cache
cue=$bench_work/cover3.cue

PYTHONPATH=$(dirname "$0") python3 - "$bench_work/port" <<'PY' &
import json, random, sys
from reply_server import serve
release = "11111111-2222-3333-4444-555555555555"
tracks = [{"position": n, "title": "Title %d" % n} for n in range(1, 4)]
reply = json.dumps({"releases": [{"id": release, "title": "Album",
                                  "artist-credit": [{"name": "Artist", "joinphrase": ""}],
                                  "media": [{"track-count": 3, "tracks": tracks}]}]}).encode()
def jpeg(side, size):
    # A baseline frame header, then a scan of bytes without markers: what a reader of the
    # header sees of a real photograph of that size.
    head = b"\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00"
    head += b"\xff\xc0\x00\x11\x08" + side.to_bytes(2, "big") * 2
    head += b"\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01"
    head += b"\xff\xda\x00\x0c\x03\x01\x00\x02\x11\x03\x11\x00\x3f\x00"
    scan = random.Random(side).randbytes(size).replace(b"\xff", b"\x00")
    return head + scan + b"\xff\xd9"
pictures = {"/pictures/front.jpg": jpeg(1400, 1500000),
            "/pictures/front-500.jpg": jpeg(500, 100000)}
def route(path):
    path = path.split("?")[0]
    if path.startswith("/ws/"):
        return 200, reply, {"Content-Type": "application/json"}
    if path.startswith("/release/"):
        return 307, b"", {"Location": "/pictures/" + path.rsplit("/", 1)[1] + ".jpg"}
    if path in pictures:
        return 200, pictures[path], {"Content-Type": "image/jpeg"}
    return 404, b""
serve(sys.argv[1], route)
PY
bench_await_server
"$bench_bin/obrin-rip" --list >/dev/null 2>&1 || true  # writes the settings file
sed -i -e "/^\[MusicBrainz\]/,/^Server=/s|^Server=.*|Server=$bench_address|" \
  -e "/^\[CoverArt\]/,/^Server=/s|^Server=.*|Server=$bench_address|" \
  "$XDG_CONFIG_HOME/obrin/Obrin.ini"
rip=("$bench_bin/obrin-rip" --image "$cue" --format flac --lookup --output "$bench_work/out")

"${rip[@]}" --cover-art >"$bench_work/first" 2>&1 || bench_fail "--cover-art: $(cat "$bench_work/first")"
for flac in "$bench_work"/out/*/*.flac; do
  [[ $(metaflac --list --block-type=PICTURE "$flac") == *"width: 500"* ]] ||
    bench_fail "no 500-pixel front cover in $flac"
done
[[ $(find "$bench_work/out" -name cover.jpg -size +1000k | wc -l) == 1 ]] ||
  bench_fail "the original was not saved once as cover.jpg"

with=() without=()
for ((run = 0; run < bench_runs; run++)); do
  rm -rf "$bench_work/out" "$XDG_CACHE_HOME"
  read -r wall _ < <(bench_timed "${rip[@]}" --cover-art) || bench_fail "--cover-art"
  with+=("$wall")
  rm -rf "$bench_work/out" "$XDG_CACHE_HOME"
  read -r wall _ < <(bench_timed "${rip[@]}") || bench_fail "--lookup"
  without+=("$wall")
done
a=$(printf '%s\n' "${with[@]}" | bench_median)
b=$(printf '%s\n' "${without[@]}" | bench_median)
printf '%-44s %9s %9s %7s\n' "cover art (3 tracks to FLAC)" "obrin s" "ref s" "cover s"
printf '%-44s %9s %9s %7s\n' "--lookup --cover-art / --lookup" "$a" "$b" \
  "$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", a - b }')"
bench_finish
