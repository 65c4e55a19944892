#!/usr/bin/env bash
# Ogg Vorbis speed check: obrin-rip --format ogg against oggenc -q 4.5 (the same libvorbis
# at the same quality as Obrin's default slider position 9) on generated discs of 1 and 20
# minutes. Runs alternate so that a busy machine slows both sides alike. Prints the median
# time ratio obrin/oggenc and obrin's peak resident memory per length.
#
# Usage: bench/ogg/run.sh [BUILD_DIR] (default: build). Needs oggenc and GNU time.
# Obrin's time includes reading the disc image into its temporary PCM file; oggenc reads a
# WAV of the same audio that obrin-rip wrote beforehand.
set -euo pipefail

build=${1:-build}
runs=${RUNS:-3}
bin=$(cd "$build/bin" && pwd)
for tool in oggenc /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "run.sh: $tool is needed" >&2; exit 2; }
done
for tool in mkdisc obrin-rip; do
  [[ -x $bin/$tool ]] || { echo "run.sh: $bin/$tool is missing; build first" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/obrin-bench-ogg.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Defaults apply: VBR quality 0.45, 44100 Hz, stereo.
export XDG_CONFIG_HOME=$work/config

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Runs a command under GNU time; prints "seconds kilobytes".
timed() {
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || {
    echo "run.sh: failed: $*" >&2
    cat "$work/stderr" >&2
    exit 1
  }
  cat "$work/time"
}

printf '%-10s %12s %12s %8s %14s %14s\n' length obrin_s oggenc_s ratio obrin_peak_kB oggenc_peak_kB
for spec in "1min 4500" "20min 90000"; do
  read -r name sectors <<<"$spec"
  disc=$work/$name.cue
  "$bin/mkdisc" "$disc" --lengths "$sectors" >/dev/null
  "$bin/obrin-rip" --image "$disc" --format wav --output "$work/wav-$name" >/dev/null 2>&1
  wav=$(find "$work/wav-$name" -name '*.wav' | head -n 1)
  [[ -n $wav ]] || { echo "run.sh: no WAV ripped from $disc" >&2; exit 1; }

  : >"$work/obrin-times"
  : >"$work/obrin-mem"
  : >"$work/oggenc-times"
  : >"$work/oggenc-mem"
  for ((i = 0; i < runs; i++)); do
    rm -rf "$work/ogg-$name"
    read -r seconds kb < <(timed "$bin/obrin-rip" --image "$disc" --format ogg --output "$work/ogg-$name")
    echo "$seconds" >>"$work/obrin-times"
    echo "$kb" >>"$work/obrin-mem"
    read -r seconds kb < <(timed oggenc -Q -q 4.5 -o "$work/oggenc-$name.ogg" "$wav")
    echo "$seconds" >>"$work/oggenc-times"
    echo "$kb" >>"$work/oggenc-mem"
  done
  obrin=$(median <"$work/obrin-times")
  oggenc=$(median <"$work/oggenc-times")
  ratio=$(awk -v a="$obrin" -v b="$oggenc" 'BEGIN { printf "%.3f", (b > 0) ? a / b : 0 }')
  obrinPeak=$(sort -g "$work/obrin-mem" | tail -n 1)
  oggencPeak=$(sort -g "$work/oggenc-mem" | tail -n 1)
  printf '%-10s %12s %12s %8s %14s %14s\n' "$name" "$obrin" "$oggenc" "$ratio" "$obrinPeak" "$oggencPeak"
done
