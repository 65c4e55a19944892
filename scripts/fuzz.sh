#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The Obrin developers
# Builds Obrin's libFuzzer targets with clang (AddressSanitizer + UBSan), makes their seed
# corpora with the project's own tools, and runs each target for a while.
#
#   bash scripts/fuzz.sh [SECONDS_PER_TARGET]      (default 20)
#
# Installs nothing (clang and libclang-rt come from scripts/install-deps.sh). The build goes
# to build-fuzz/ (OBRIN_FUZZ_BUILD overrides it); corpora in build-fuzz/corpus/<target>/ grow
# from run to run, findings land in build-fuzz/findings/<target>/. OBRIN_FUZZ_TARGETS picks
# targets (space-separated). Exit status: 0 when no target crashed, hung, leaked or broke an
# invariant; 1 otherwise (the inputs are kept, and each is named in the output); 2 when the
# build or the seeds could not be made.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: bash scripts/fuzz.sh [SECONDS_PER_TARGET]" >&2
  exit 2
fi
build=${OBRIN_FUZZ_BUILD:-build-fuzz}
targets=${OBRIN_FUZZ_TARGETS:-fuzz_profile fuzz_image fuzz_dbar fuzz_ctdb fuzz_q fuzz_picture fuzz_release}
jobs=${JOBS:-2}

echo "== fuzz: configuring and building $build (clang, address,undefined)"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DOBRIN_FUZZ=ON -DOBRIN_BUILD_TESTS=OFF -DOBRIN_SANITIZE=address,undefined >/dev/null ||
  exit 2
# shellcheck disable=SC2086
cmake --build "$build" -j "$jobs" --target $targets fuzz_seeds mkdisc || exit 2

# Everything the targets and the seed maker write goes to one scratch folder, on a memory
# file system when there is one (the settings writes fsync), removed however the run ends.
scratch_parent=/dev/shm
[ -w "$scratch_parent" ] || scratch_parent=${TMPDIR:-/tmp}
scratch=$(mktemp -d "$scratch_parent/obrin-fuzz-run.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export OBRIN_FUZZ_SCRATCH="$scratch"
export TMPDIR="$scratch"

echo "== fuzz: seed corpora"
images="$scratch/images"
mkdir -p "$images"/{cue,toc,data,short,gap,nrg}
# Small discs (16 sectors or fewer), named disc.* like the data file fuzz_image writes, so the
# texts point at a bin the image target really has.
"$build/bin/mkdisc" "$images/cue/disc.cue" --lengths 4,5,7 || exit 2
"$build/bin/mkdisc" "$images/toc/disc.toc" --lengths 6,4,6 || exit 2
"$build/bin/mkdisc" "$images/data/disc.cue" --lengths 5,5,6 --data-track 2 || exit 2
"$build/bin/mkdisc" "$images/short/disc.toc" --lengths 6,5,5 --short 3 || exit 2
"$build/bin/mkdisc" "$images/gap/disc.cue" --lengths 3,0,13 || exit 2
"$build/bin/mkdisc" "$images/nrg/disc.nrg" --lengths 4,0,12 || exit 2
# CD-Text: cdrdao's own layout (blocks over lines, octal escapes) and a cue sheet's.
mkdir -p "$images/text" "$images/cuetext"
"$build/bin/mkdisc" "$images/text/disc.toc" --lengths 5,6 --title "Café" --performer Band \
  --track-title "1=José" --cdrdao-layout || exit 2
"$build/bin/mkdisc" "$images/cuetext/disc.cue" --lengths 5,6 --title Album \
  --track-performer 2=Guest || exit 2
corpus="$build/corpus"
"$build/bin/fuzz_seeds" "$corpus" "$images"/*/disc.cue "$images"/*/disc.toc \
  "$images"/*/disc.nrg || exit 2
for target in $targets; do
  [ -d "$corpus/$target" ] || { echo "fuzz: no seeds for $target" >&2; exit 2; }
done

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/fuzz/lsan_suppressions.txt:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
for target in $targets; do
  findings="$build/findings/$target"
  mkdir -p "$findings"
  echo "== fuzz: $target for ${seconds}s"
  log="$build/findings/$target.log"
  touch "$scratch/started"
  if "$build/bin/$target" "$corpus/$target" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 -artifact_prefix="$findings/" \
    >"$log" 2>&1; then
    grep -E '^(#[0-9]+[[:space:]]+DONE|stat::(number_of_executed_units|average_exec_per_sec))' \
      "$log" || true
  else
    echo "fuzz: $target FAILED; its log follows" >&2
    tail -n 60 "$log" >&2
    find "$findings" -type f -newer "$scratch/started" | sed 's|^|fuzz: kept input |' >&2
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: ${#failed[@]} target(s) failed: ${failed[*]}"
  exit 1
fi
echo "fuzz: all targets ran ${seconds}s without a finding"
