#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The Obrin developers
# What a MusicBrainz lookup costs: obrin-rip --disc-info --lookup against the same command
# without --lookup, the web service a server on 127.0.0.1 that answers every request with one
# release of the disc. The difference is the lookup's own time, which should stay under 0.5 s
# (the window runs the same call on a thread of its own).
#
# Usage: bench/lookup.sh [--quick] [BUILD_DIR]
# Environment: RUNS, BENCH_DIR (see bench/lib.sh).
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/lib.sh"
bench_init "$@"
bench_disc lookup12 1500,1400,1300,1200,1100,1000,900,800,700,600,500,400
export XDG_CONFIG_HOME=$bench_work/config XDG_CACHE_HOME=$bench_work/cache
cue=$bench_work/lookup12.cue

PYTHONPATH=$(dirname "$0") python3 - "$bench_work/port" <<'PY' &
import json, sys
from reply_server import serve
tracks = [{"position": n, "title": "Title %d" % n} for n in range(1, 13)]
reply = json.dumps({"releases": [{"title": "Album", "date": "2001-02-03", "country": "GB",
                                  "artist-credit": [{"name": "Artist", "joinphrase": ""}],
                                  "media": [{"track-count": 12, "tracks": tracks}]}]}).encode()
serve(sys.argv[1], lambda path: (200, reply, {"Content-Type": "application/json"}))
PY
bench_await_server
"$bench_bin/obrin-rip" --list >/dev/null 2>&1 || true  # writes the settings file
sed -i "/^\[MusicBrainz\]/,/^Server=/s|^Server=.*|Server=$bench_address|" \
  "$XDG_CONFIG_HOME/obrin/Obrin.ini"
info=("$bench_bin/obrin-rip" --image "$cue" --disc-info)
"${info[@]}" --lookup >"$bench_work/found" 2>&1 || bench_fail "--lookup: $(cat "$bench_work/found")"
grep -q '^Track 12: Title 12$' "$bench_work/found" ||
  bench_fail "--lookup did not name the tracks: $(head -n 5 "$bench_work/found")"

with=() without=()
for ((run = 0; run < bench_runs; run++)); do
  read -r wall _ < <(bench_timed "${info[@]}" --lookup) || bench_fail "--lookup"
  with+=("$wall")
  read -r wall _ < <(bench_timed "${info[@]}") || bench_fail "--disc-info"
  without+=("$wall")
done
a=$(printf '%s\n' "${with[@]}" | bench_median)
b=$(printf '%s\n' "${without[@]}" | bench_median)
printf '%-44s %9s %9s %7s\n' "MusicBrainz lookup" "obrin s" "ref s" "lookup s"
printf '%-44s %9s %9s %7s\n' "--disc-info --lookup / without" "$a" "$b" \
  "$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", a - b }')"
bench_finish
