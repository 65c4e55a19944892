#!/usr/bin/env bash
# Ogg Vorbis speed check: obrin-rip --format ogg against oggenc -q 4.5 (the same libvorbis
# at the same quality as Obrin's default slider position 9) on generated discs of 1 and 20
# minutes. Runs alternate so that a busy machine slows both sides alike. Prints the median
# time ratio obrin/oggenc and obrin's peak resident memory per length.
#
# Usage: bench/ogg/run.sh [BUILD_DIR] (default: build). Needs oggenc and GNU time.
# Environment: RUNS (default 3) runs of each; SAME_PRIORITY=1 runs oggenc at idle priority
# too (chrt --idle), like obrin's rip worker.
# Obrin's time includes reading the disc image into its temporary PCM file; oggenc reads a
# WAV of the same audio that obrin-rip wrote beforehand. The rip worker runs at idle
# priority, so on a busy machine its wall time grows while its CPU time does not: the CPU
# ratio (user + system) is printed beside the wall-clock one.
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

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b > 0) ? a / b : 0 }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Runs a command under GNU time; prints "wall_seconds cpu_seconds peak_kilobytes".
timed() {
  /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || {
    echo "run.sh: failed: $*" >&2
    cat "$work/stderr" >&2
    exit 1
  }
  awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$work/time"
}

oggencCommand=(oggenc)
[[ ${SAME_PRIORITY:-0} == 1 ]] && oggencCommand=(chrt --idle 0 oggenc)

format='%-7s %8s %9s %7s %8s %9s %9s %14s %15s\n'
printf "$format" length obrin_s oggenc_s ratio obrin_cpu oggenc_cpu cpu_ratio obrin_peak_kB oggenc_peak_kB
for entry in "1min 4500" "20min 90000"; do
  read -r name sectors <<<"$entry"
  disc=$work/$name.cue
  "$bin/mkdisc" "$disc" --lengths "$sectors" >/dev/null
  "$bin/obrin-rip" --image "$disc" --format wav --output "$work/wav-$name" >/dev/null 2>&1
  wav=$(find "$work/wav-$name" -name '*.wav' | head -n 1)
  [[ -n $wav ]] || { echo "run.sh: no WAV ripped from $disc" >&2; exit 1; }

  for file in obrin-wall obrin-cpu obrin-mem oggenc-wall oggenc-cpu oggenc-mem; do
    : >"$work/$file"
  done
  for ((i = 0; i < runs; i++)); do
    rm -rf "$work/ogg-$name"
    read -r wall cpu kb < <(timed "$bin/obrin-rip" --image "$disc" --format ogg --output "$work/ogg-$name")
    echo "$wall" >>"$work/obrin-wall"
    echo "$cpu" >>"$work/obrin-cpu"
    echo "$kb" >>"$work/obrin-mem"
    read -r wall cpu kb < <(timed "${oggencCommand[@]}" -Q -q 4.5 -o "$work/oggenc-$name.ogg" "$wav")
    echo "$wall" >>"$work/oggenc-wall"
    echo "$cpu" >>"$work/oggenc-cpu"
    echo "$kb" >>"$work/oggenc-mem"
  done
  obrinWall=$(median <"$work/obrin-wall")
  oggencWall=$(median <"$work/oggenc-wall")
  obrinCpu=$(median <"$work/obrin-cpu")
  oggencCpu=$(median <"$work/oggenc-cpu")
  obrinPeak=$(sort -g "$work/obrin-mem" | tail -n 1)
  oggencPeak=$(sort -g "$work/oggenc-mem" | tail -n 1)
  printf "$format" "$name" "$obrinWall" "$oggencWall" "$(ratio "$obrinWall" "$oggencWall")" \
    "$obrinCpu" "$oggencCpu" "$(ratio "$obrinCpu" "$oggencCpu")" "$obrinPeak" "$oggencPeak"
done
