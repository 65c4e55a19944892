# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The Obrin developers
# Shared by the benchmark scripts (sourced, not run): argument handling, the scratch folder,
# generated discs, timed runs, the comparison against the reference tools and the checks that
# decode what obrin-rip wrote.
#
# Every script takes [--quick] [BUILD_DIR] (default: build, or $BUILD) and reads:
#   RUNS               alternating runs of each side per row (default 3, --quick 1)
#   BENCH_DIR          parent of the scratch folder (default $TMPDIR or /tmp); the folder is
#                      removed when the script ends
#   BENCH_REF_PRIORITY idle (default) runs the reference tool at SCHED_IDLE like obrin's rip
#                      worker, so a busy machine slows both alike; normal runs it as started
#
# The reference tools, at the settings equal to Obrin's defaults:
#   wav  dd copying the track's byte range out of the bin (obrin adds a 44-byte header)
#   mp3  lame --noreplaygain -m s -V 2 -b 128 -B 192 -q 0 --nores  (channels "Stereo", VBR
#        quality 2, 128..192 kbps, "Very high", no bit reservoir; Obrin computes no ReplayGain),
#        reading a WAV of the same audio; its frames come out the same as obrin's, only the
#        info frame differs
#   ogg  oggenc -q 4.5  (VBR quality 0.45), reading a WAV of the same audio
#   flac flac -5 (level 5), reading a WAV of the same audio; its file's size is compared too
#   opus opusenc --bitrate 160 (VBR, complexity 10), reading a WAV of the same audio
# obrin-rip's time includes reading the image (for MP3 and Ogg into its temporary PCM file,
# then encoding that; FLAC is encoded as it is read); the references start from a file that
# is already there.
# shellcheck shell=bash

readonly BENCH_SECTOR_BYTES=2352
readonly BENCH_SAMPLES_PER_SECTOR=588
readonly BENCH_SECTORS_PER_SECOND=75
# Decoded MP3 may differ from the input by a frame or two of encoder delay and padding.
readonly BENCH_MP3_SLACK_SAMPLES=2304

bench_quick=0
bench_server=
bench_address=
bench_failed=0
bench_build=
bench_bin=
bench_work=
bench_runs=
bench_ref_priority=()

# Parses [--quick] [BUILD_DIR], checks the tools and makes the scratch folder.
bench_init() {
  local arg
  export LC_ALL=C  # decimal points in EPOCHREALTIME, awk and sort alike
  bench_build=${BUILD:-build}
  for arg in "$@"; do
    case $arg in
      --quick) bench_quick=1 ;;
      -h | --help)
        sed -n '2,/^set -/p' "$0" | sed -n 's/^# \{0,1\}//p'
        exit 0
        ;;
      -*)
        echo "$(basename "$0"): unknown option $arg" >&2
        exit 2
        ;;
      *) bench_build=$arg ;;
    esac
  done
  if ((bench_quick)); then bench_runs=${RUNS:-1}; else bench_runs=${RUNS:-3}; fi

  local tool
  for tool in lame oggenc oggdec flac opusenc opusdec dd cmp /usr/bin/time; do
    command -v "$tool" >/dev/null || {
      echo "$(basename "$0"): $tool is needed (bash scripts/install-deps.sh)" >&2
      exit 2
    }
  done
  for tool in mkdisc obrin-rip; do
    [[ -x $bench_build/bin/$tool ]] || {
      echo "$(basename "$0"): $bench_build/bin/$tool is missing; build first" >&2
      exit 2
    }
  done
  bench_bin=$(cd "$bench_build/bin" && pwd)

  case ${BENCH_REF_PRIORITY:-idle} in
    idle) bench_ref_priority=(chrt --idle 0) ;;
    normal) bench_ref_priority=() ;;
    *)
      echo "$(basename "$0"): BENCH_REF_PRIORITY must be idle or normal" >&2
      exit 2
      ;;
  esac

  bench_work=$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/obrin-bench.XXXXXX")
  trap 'rm -rf "$bench_work"' EXIT
  trap 'exit 130' INT TERM
  # A fresh settings file: Obrin's defaults, and the user's own Obrin.ini is left alone.
  export XDG_CONFIG_HOME=$bench_work/config

  echo "Machine: $(nproc) cores;$(uptime)"
  echo "obrin-rip: $bench_bin/obrin-rip; reference at ${BENCH_REF_PRIORITY:-idle} priority;" \
    "$bench_runs run(s) each, alternating"
  echo
}

# Prints the load again (a rise during the run makes the times suspect) and gives the status
# to exit with: 1 when a rip, a reference run or a check failed.
bench_finish() {
  echo
  echo "Load at the end:$(uptime | sed 's/.*load average/ load average/')"
  return $((bench_failed ? 1 : 0))
}

bench_fail() {
  echo "FAILED: $*" >&2
  bench_failed=1
}

# Makes (once) the disc NAME with the given comma-separated track lengths in sectors.
bench_disc() {
  local name=$1 lengths=$2
  [[ -f $bench_work/$name.cue ]] && return 0
  "$bench_bin/mkdisc" "$bench_work/$name.cue" --lengths "$lengths" >/dev/null
}

# shellcheck disable=SC2059  # the bytes are built as escapes in the format on purpose
bench_le32() {
  local v=$1
  printf "\\x$(printf %02x $((v & 255)))\\x$(printf %02x $((v >> 8 & 255)))"
  printf "\\x$(printf %02x $((v >> 16 & 255)))\\x$(printf %02x $((v >> 24 & 255)))"
}

# Writes (once) NAME.wav: the whole bin of disc NAME behind a CD-audio WAV header, the input
# of the encoder references.
bench_wav() {
  local name=$1 wav=$bench_work/$1.wav bytes
  [[ -f $wav ]] && return 0
  bytes=$(stat -c %s "$bench_work/$name.bin")
  {
    printf RIFF
    bench_le32 $((bytes + 36))
    printf 'WAVEfmt '
    printf '\x10\x00\x00\x00\x01\x00\x02\x00'  # PCM, 2 channels
    printf '\x44\xac\x00\x00\x10\xb1\x02\x00'  # 44100 Hz, 176400 bytes/s
    printf '\x04\x00\x10\x00data'              # 4-byte frames of 16 bits
    bench_le32 "$bytes"
    cat "$bench_work/$name.bin"
  } >"$wav"
}

# Runs a command under GNU time, output to $bench_work/last.{out,err}. Prints
# "wall_seconds cpu_seconds peak_kB"; returns the command's status. The wall clock is taken
# here to the millisecond (GNU time gives hundredths, too coarse for short WAV copies).
bench_timed() {
  local status=0 started=$EPOCHREALTIME ended
  /usr/bin/time -f '%U %S %M' -o "$bench_work/last.time" "$@" \
    >"$bench_work/last.out" 2>"$bench_work/last.err" || status=$?
  ended=$EPOCHREALTIME
  # On failure GNU time puts a "Command exited with non-zero status" line first.
  tail -n 1 "$bench_work/last.time" |
    awk -v a="$started" -v b="$ended" '{ printf "%.3f %.2f %s\n", b - a, $1 + $2, $3 }'
  return "$status"
}

# After a stand-in web service (bench/reply_server.py) was started in the background: stops
# it when the script ends, waits for the port it writes to $bench_work/port, and sets
# bench_address to http://127.0.0.1:PORT.
bench_await_server() {
  bench_server=$!
  trap 'kill $bench_server 2>/dev/null; rm -rf "$bench_work"' EXIT
  for _ in $(seq 100); do [[ -s $bench_work/port ]] && break; read -r -t 0.05 <> <(:) || true; done
  [[ -s $bench_work/port ]] || bench_fail "the local server did not start"
  bench_address=http://127.0.0.1:$(cat "$bench_work/port")
}

bench_median() {
  sort -g | awk '{ v[NR] = $1 }
    END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
bench_max() { sort -g | tail -n 1; }
bench_min() { sort -g | head -n 1; }
# A / B printed with format F (default %.2f), or "-" when B is 0.
bench_div() {
  awk -v a="$1" -v b="$2" -v f="${3:-%.2f}" 'BEGIN { if (b > 0) printf f, a / b; else printf "-" }'
}
bench_seconds() { awk -v s="$1" -v r=$BENCH_SECTORS_PER_SECOND 'BEGIN { printf "%.2f", s / r }'; }
bench_mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

# The files obrin-rip wrote into DIR with extension EXT, in track order, one a line.
bench_ripped_files() { find "$1" -type f -name "*.$2" | sort; }

# Checks FILE (FORMAT wav|mp3|ogg|flac) against SECTORS sectors of disc NAME from sector START:
# WAV must hold those very bytes behind its header, FLAC pass `flac -t` and decode to them,
# MP3 and Ogg must decode to that length, Opus to exactly that length at 44.1 kHz.
bench_verify_track() {
  local format=$1 file=$2 name=$3 start=$4 sectors=$5
  local samples=$((sectors * BENCH_SAMPLES_PER_SECTOR)) decoded
  case $format in
    wav)
      [[ $(stat -c %s "$file") -eq $((44 + sectors * BENCH_SECTOR_BYTES)) ]] &&
        cmp -s <(tail -c +45 "$file") \
          <(dd if="$bench_work/$name.bin" bs=1M iflag=skip_bytes,count_bytes status=none \
            skip=$((start * BENCH_SECTOR_BYTES)) count=$((sectors * BENCH_SECTOR_BYTES)))
      ;;
    mp3)
      decoded=$(($(lame --quiet --decode -t "$file" - | wc -c) / 4))
      ((decoded >= samples - BENCH_MP3_SLACK_SAMPLES &&
        decoded <= samples + BENCH_MP3_SLACK_SAMPLES))
      ;;
    ogg)
      decoded=$(($(oggdec --quiet --raw -o - "$file" | wc -c) / 4))
      ((decoded == samples))
      ;;
    opus)
      # Behind the 44-byte header of the WAV written to a pipe.
      decoded=$((($(opusdec --quiet --rate 44100 --force-wav "$file" - 2>/dev/null | wc -c) - 44) / 4))
      ((decoded == samples))
      ;;
    flac)
      flac --silent --test "$file" &&
        cmp -s <(flac --silent --decode --stdout --force-raw-format --endian=little \
          --sign=signed "$file") \
          <(dd if="$bench_work/$name.bin" bs=1M iflag=skip_bytes,count_bytes status=none \
            skip=$((start * BENCH_SECTOR_BYTES)) count=$((sectors * BENCH_SECTOR_BYTES)))
      ;;
  esac || {
    local what="$sectors sectors from sector $start of $name"
    bench_fail "$file does not match the track ($what${decoded:+; decoded $decoded samples})"
    return 1
  }
}

# Checks every file of a rip of disc NAME (tracks of LENGTHS sectors, comma-separated) into
# DIR; false when one is missing or wrong.
bench_verify_rip() {
  local format=$1 dir=$2 name=$3 lengths=$4 start=0 ok=0 sectors i=0
  local -a files tracks
  mapfile -t files < <(bench_ripped_files "$dir" "$format")
  IFS=, read -r -a tracks <<<"$lengths"
  if ((${#files[@]} != ${#tracks[@]})); then
    bench_fail "$dir holds ${#files[@]} .$format files, expected ${#tracks[@]}"
    return 1
  fi
  for sectors in "${tracks[@]}"; do
    bench_verify_track "$format" "${files[i]}" "$name" "$start" "$sectors" || ok=1
    start=$((start + sectors))
    i=$((i + 1))
  done
  return "$ok"
}

# The reference command for FORMAT on disc NAME, writing OUT.
bench_reference_command() {
  local format=$1 name=$2 out=$3
  case $format in
    wav) echo dd "if=$bench_work/$name.bin" "of=$out" bs=1M status=none ;;
    mp3)
      echo lame --quiet --noreplaygain -m s -V 2 -b 128 -B 192 -q 0 --nores \
        "$bench_work/$name.wav" "$out"
      ;;
    ogg) echo oggenc --quiet -q 4.5 -o "$out" "$bench_work/$name.wav" ;;
    flac) echo flac --silent --force -5 -o "$out" "$bench_work/$name.wav" ;;
    opus) echo opusenc --quiet --bitrate 160 "$bench_work/$name.wav" "$out" ;;
  esac
}

bench_compare_header() {
  printf '%-6s %-6s %9s %9s %6s %9s %8s %9s %7s %8s\n' format length obrin_s ref_s ratio \
    cpu_ratio x_realtime obrin_MB ref_MB verified
}

# One row: a single-track disc of SECTORS sectors ripped to FORMAT by obrin-rip and made by
# the reference tool from the same audio, alternating, RUNS times each. LABEL names the length.
bench_compare() {
  local format=$1 label=$2 sectors=$3 name=track$3 round verified=yes
  local out=$bench_work/obrin-$format-$label ref=$bench_work/ref-$label.$format side
  local -a refCommand
  bench_disc "$name" "$sectors"
  [[ $format == wav ]] || bench_wav "$name"
  read -r -a refCommand <<<"$(bench_reference_command "$format" "$name" "$ref")"
  : >"$bench_work/obrin.runs"
  : >"$bench_work/ref.runs"
  for ((round = 0; round < bench_runs; round++)); do
    # Who goes first alternates too, so a load that rises or falls hits both sides alike.
    for side in $( ((round % 2)) && echo ref obrin || echo obrin ref); do
      if [[ $side == obrin ]]; then
        rm -rf "$out"
        bench_timed "$bench_bin/obrin-rip" --image "$bench_work/$name.cue" --format "$format" \
          --output "$out" >"$bench_work/last.line" || {
          bench_fail "obrin-rip --format $format on $label: $(tail -n 3 "$bench_work/last.err")"
          verified=no
        }
        cat "$bench_work/last.line" >>"$bench_work/obrin.runs"
      else
        rm -f "$ref"
        bench_timed "${bench_ref_priority[@]}" "${refCommand[@]}" >"$bench_work/last.line" || {
          bench_fail "${refCommand[*]}: $(tail -n 3 "$bench_work/last.err")"
        }
        cat "$bench_work/last.line" >>"$bench_work/ref.runs"
      fi
    done
  done
  if [[ $verified == yes ]] && ! bench_verify_rip "$format" "$out" "$name" "$sectors"; then
    verified=no
  fi
  # A lossless file is judged by its size too: within 0.5 % of the reference's.
  local sizeNote=""
  if [[ $format == flac && -f $ref ]]; then
    local obrinBytes refBytes
    obrinBytes=$(cat "$(bench_ripped_files "$out" flac)" | wc -c)
    refBytes=$(stat -c %s "$ref")
    sizeNote="  size $obrinBytes / $refBytes bytes = $(bench_div "$obrinBytes" "$refBytes" %.4f)"
  fi
  rm -rf "$out" "$ref"

  local obrinWall refWall obrinCpu refCpu obrinPeak refPeak
  obrinWall=$(cut -d' ' -f1 "$bench_work/obrin.runs" | bench_median)
  refWall=$(cut -d' ' -f1 "$bench_work/ref.runs" | bench_median)
  obrinCpu=$(cut -d' ' -f2 "$bench_work/obrin.runs" | bench_median)
  refCpu=$(cut -d' ' -f2 "$bench_work/ref.runs" | bench_median)
  obrinPeak=$(cut -d' ' -f3 "$bench_work/obrin.runs" | bench_max)
  refPeak=$(cut -d' ' -f3 "$bench_work/ref.runs" | bench_max)
  printf '%-6s %-6s %9s %9s %6s %9s %8s %9s %7s %8s\n' "$format" "$label" "$obrinWall" "$refWall" \
    "$(bench_div "$obrinWall" "$refWall")" "$(bench_div "$obrinCpu" "$refCpu")" \
    "$(bench_div "$(bench_seconds "$sectors")" "$obrinWall" %.1f)" \
    "$(bench_mb "$obrinPeak")" "$(bench_mb "$refPeak")" "$verified"
  [[ -z $sizeNote ]] || echo "$sizeNote"
}

# A full 74-minute disc (333000 sectors) of tracks from 2 to 7 minutes.
readonly BENCH_FULL_DISC=full74
readonly BENCH_FULL_LENGTHS=18000,24750,21000,27750,15000,30000,19500,22500,26250,16500,9000,\
33000,20250,25500,24000

bench_full_header() {
  printf '%-6s %-6s %6s %9s %9s %10s %8s %8s\n' format length tracks obrin_s obrin_cpu x_realtime \
    obrin_MB verified
}

# One row: the whole 74-minute disc ripped to FORMAT once, every file checked.
bench_full() {
  local format=$1 name=$BENCH_FULL_DISC out=$bench_work/obrin-$1-full wall cpu kb verified=no
  local sectors
  bench_disc "$name" "$BENCH_FULL_LENGTHS"
  sectors=$(($(stat -c %s "$bench_work/$name.bin") / BENCH_SECTOR_BYTES))
  rm -rf "$out"
  if bench_timed "$bench_bin/obrin-rip" --image "$bench_work/$name.cue" --format "$format" \
    --output "$out" >"$bench_work/last.line"; then
    bench_verify_rip "$format" "$out" "$name" "$BENCH_FULL_LENGTHS" && verified=yes
  else
    bench_fail "obrin-rip --format $format on the 74-minute disc:" \
      "$(tail -n 3 "$bench_work/last.err")"
  fi
  read -r wall cpu kb <"$bench_work/last.line"
  rm -rf "$out"
  printf '%-6s %-6s %6s %9s %9s %10s %8s %8s\n' "$format" "$((sectors / 75 / 60))min" \
    "$(tr , '\n' <<<"$BENCH_FULL_LENGTHS" | wc -l)" "$wall" "$cpu" \
    "$(bench_div "$(bench_seconds "$sectors")" "$wall" %.1f)" "$(bench_mb "$kb")" "$verified"
}

# The comparison lengths, "label sectors" a line: 1 and 20 minutes, or 10 seconds when quick.
bench_lengths() {
  if ((bench_quick)); then
    echo "10s 750"
  else
    printf '%s\n' "1min 4500" "20min 90000"
  fi
}

# The rows comparing obrin-rip with the reference for each FORMAT given, at every length.
bench_compare_formats() {
  local format label sectors
  for format in "$@"; do
    while read -r label sectors; do
      bench_compare "$format" "$label" "$sectors"
    done < <(bench_lengths)
  done
}

# obrin-rip --jobs 2 against --jobs 1 (the window's one-track-after-another order) on one
# disc. SPEED "image" reads the image as fast as it goes; a number N reads it as a drive of
# N times real time would (OBRIN_IMAGE_SPEED, a test-and-bench-only setting of the image
# reader), and read_s is then the pure read time of the disc at that speed. j2/j1 is the
# time ratio of the two (target 0.60 at most at image speed), j2/read that of --jobs 2 to the
# read time (target 1.15 at most at a drive speed), mem_x their peak memory ratio (target 3
# at most). same: both rips wrote the same audio (WAV and MP3 byte for byte, Ogg decoded) and
# every file checks against the disc.
bench_jobs_header() {
  printf '%-6s %-6s %-6s %7s %8s %8s %6s %8s %9s %9s %6s %5s\n' format length drive read_s \
    jobs1_s jobs2_s j2/j1 j2/read jobs1_MB jobs2_MB mem_x same
}

# The audio of FILE as a decoder gives it (the Ogg stream serial differs between rips).
bench_jobs_audio() {
  case $1 in
    *.ogg) oggdec --quiet --raw -o - "$1" ;;
    *) cat "$1" ;;
  esac
}

# One row: disc NAME of LENGTHS (comma-separated sectors) ripped to FORMAT at SPEED, the two
# sides alternating RUNS times (once each at a drive speed, where the read time dominates).
bench_jobs() {
  local format=$1 name=$2 lengths=$3 speed=$4 round side same=yes sectors runs=$bench_runs
  local -a env=()
  bench_disc "$name" "$lengths"
  sectors=$(($(stat -c %s "$bench_work/$name.bin") / BENCH_SECTOR_BYTES))
  [[ $speed == image ]] || {
    env=("OBRIN_IMAGE_SPEED=$speed")
    runs=1
  }
  : >"$bench_work/jobs1.runs"
  : >"$bench_work/jobs2.runs"
  for ((round = 0; round < runs; round++)); do
    for side in $( ((round % 2)) && echo 2 1 || echo 1 2); do
      rm -rf "$bench_work/jobs$side"
      bench_timed env "${env[@]}" "$bench_bin/obrin-rip" --image "$bench_work/$name.cue" \
        --format "$format" --output "$bench_work/jobs$side" --jobs "$side" \
        >"$bench_work/last.line" || {
        bench_fail "obrin-rip --jobs $side --format $format: $(tail -n 3 "$bench_work/last.err")"
        same=no
      }
      cat "$bench_work/last.line" >>"$bench_work/jobs$side.runs"
    done
  done
  local -a one two
  mapfile -t one < <(bench_ripped_files "$bench_work/jobs1" "$format")
  mapfile -t two < <(bench_ripped_files "$bench_work/jobs2" "$format")
  bench_verify_rip "$format" "$bench_work/jobs2" "$name" "$lengths" || same=no
  for ((round = 0; round < ${#two[@]}; round++)); do
    cmp -s <(bench_jobs_audio "${one[round]:-/dev/null}") <(bench_jobs_audio "${two[round]}") || {
      bench_fail "${two[round]} differs from the --jobs 1 rip"
      same=no
    }
  done
  rm -rf "$bench_work/jobs1" "$bench_work/jobs2"

  local wall1 wall2 peak1 peak2 read=- toRead=-
  wall1=$(cut -d' ' -f1 "$bench_work/jobs1.runs" | bench_median)
  wall2=$(cut -d' ' -f1 "$bench_work/jobs2.runs" | bench_median)
  peak1=$(cut -d' ' -f3 "$bench_work/jobs1.runs" | bench_max)
  peak2=$(cut -d' ' -f3 "$bench_work/jobs2.runs" | bench_max)
  if [[ $speed != image ]]; then
    read=$(awk -v s="$sectors" -v x="$speed" 'BEGIN { printf "%.2f", s / 75 / x }')
    toRead=$(bench_div "$wall2" "$read")
  fi
  printf '%-6s %-6s %-6s %7s %8s %8s %6s %8s %9s %9s %6s %5s\n' "$format" \
    "$( ((sectors < 4500)) && echo "$((sectors / 75))s" || echo "$((sectors / 75 / 60))min")" \
    "$([[ $speed == image ]] && echo image || echo "${speed}x")" \
    "$read" "$wall1" "$wall2" "$(bench_div "$wall2" "$wall1")" \
    "$toRead" "$(bench_mb "$peak1")" \
    "$(bench_mb "$peak2")" "$(bench_div "$peak2" "$peak1")" "$same"
}

# The --jobs rows: the 74-minute disc to MP3 and Ogg Vorbis at image speed and from a 48x
# drive; when quick, a 3-track disc of 20 seconds.
bench_jobs_rows() {
  local name=$BENCH_FULL_DISC lengths=$BENCH_FULL_LENGTHS format speed
  if ((bench_quick)); then
    name=jobs20s
    lengths=600,500,400
  fi
  for speed in image 48; do
    for format in mp3 ogg; do bench_jobs "$format" "$name" "$lengths" "$speed"; done
  done
}
