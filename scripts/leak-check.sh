#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The Obrin developers
# Leak check: full rips of a short generated disc to WAV, MP3 and Ogg Vorbis under valgrind's
# memcheck, then MP3 and Ogg rips stopped with Ctrl+C (SIGINT) while capturing a track and
# while encoding it.
# Only memory that is lost counts (definite and indirect), and invalid reads, writes and frees.
# What is still reachable at exit is not a leak, nor is the "possibly lost" thread block of
# the signal-watching thread, which is still waiting when the program ends.
#
# Usage: scripts/leak-check.sh [BUILD_DIR]   (default: build, or $BUILD; must be built)
# Exit status: 0 clean, 1 a leak or memory error (or a rip that did not end as it should),
# 2 missing tools or build.
set -euo pipefail

build=${1:-${BUILD:-build}}
command -v valgrind >/dev/null || {
  echo "leak-check: valgrind is needed (bash scripts/install-deps.sh)" >&2
  exit 2
}
for tool in mkdisc obrin-rip; do
  [[ -x $build/bin/$tool ]] || {
    echo "leak-check: $build/bin/$tool is missing; build first" >&2
    exit 2
  }
done
bin=$(cd "$build/bin" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/obrin-leak-check.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
export XDG_CONFIG_HOME=$work/config

# valgrind's own status for an error, apart from obrin-rip's 1 (a track failed).
readonly leakStatus=97
memcheck=(valgrind --leak-check=full "--show-leak-kinds=definite,indirect"
  "--errors-for-leak-kinds=definite,indirect" "--error-exitcode=$leakStatus")

"$bin/mkdisc" "$work/short.cue" --lengths 150,150 >/dev/null
# Long enough that the stop lands inside the first track, even on a slow machine.
"$bin/mkdisc" "$work/long.cue" --lengths 4500,150 >/dev/null

failed=0
# Prints one result line for a run: what, obrin-rip's status, the leak summary of its log.
report() {
  local what=$1 status=$2 expected=$3 log=$4 lost verdict=ok
  # "definitely lost: 0 bytes in 0 blocks" ... or, when nothing was left, "All heap blocks
  # were freed".
  lost=$(grep -E '(definitely|indirectly|possibly) lost:|still reachable:|All heap blocks' "$log" |
    sed -E 's/^==[0-9]+== +//; s/ in [0-9,]+ blocks//' | paste -sd ';' | sed 's/;/; /g' || true)
  if ((status == leakStatus)); then
    verdict=LEAK/ERROR
  elif ((status != expected)); then
    verdict="FAILED (exit $status, expected $expected)"
  fi
  printf '%-20s %-12s %s\n' "$what" "$verdict" "${lost:-no leak summary}"
  if [[ $verdict != ok ]]; then
    failed=1
    sed 's/^/    /' "$log"
  fi
}

printf '%-20s %-12s %s\n' run verdict "valgrind leak summary"
for format in wav mp3 ogg flac; do
  log=$work/$format.log
  status=0
  "${memcheck[@]}" --log-file="$log" "$bin/obrin-rip" --image "$work/short.cue" \
    --format "$format" --output "$work/out-$format" >/dev/null 2>"$work/$format.err" || status=$?
  files=$(find "$work/out-$format" -name "*.$format" | wc -l)
  if ((status == 0 && files != 2)); then
    echo "leak-check: the $format rip wrote $files files, expected 2" >&2
    status=1
  fi
  report "rip to $format" "$status" 0 "$log"
done

# Stops: SIGINT once the first track's progress shows, while capturing (progress up to 30%)
# and while encoding (past 50%). The poll only waits for the rip to get there.
for format in mp3 ogg; do
  for phase in "capture [0-9]+%" "encoding [5-9][0-9]%"; do
    read -r stage pattern <<<"$phase"
    log=$work/stop-$format-$stage.log
    err=$work/stop-$format-$stage.err
    status=0
    "${memcheck[@]}" --log-file="$log" "$bin/obrin-rip" --image "$work/long.cue" \
      --format "$format" --output "$work/stop-$format-$stage" >/dev/null 2>"$err" &
    pid=$!
    for ((i = 0; i < 1200; i++)); do
      grep -qE "Track 01: $pattern" "$err" 2>/dev/null && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -INT "$pid" 2>/dev/null || true
    wait "$pid" || status=$?
    report "stop $format $stage" "$status" 130 "$log"
  done
done

# A FLAC rip stopped halfway: the encoder and its metadata blocks are let go on the stop path.
log=$work/stop-flac.log
err=$work/stop-flac.err
status=0
"${memcheck[@]}" --log-file="$log" "$bin/obrin-rip" --image "$work/long.cue" \
  --format flac --output "$work/stop-flac" >/dev/null 2>"$err" &
pid=$!
for ((i = 0; i < 1200; i++)); do
  grep -qE "Track 01: [4-9][0-9]%" "$err" 2>/dev/null && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -INT "$pid" 2>/dev/null || true
wait "$pid" || status=$?
report "stop flac" "$status" 130 "$log"

if ((failed)); then
  echo "leak-check: FAILED"
  exit 1
fi
echo "leak-check: no leaks"
