#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The Obrin developers
# Breaks the code on purpose, one small fault at a time (scripts/mutants.txt), and tells which
# faults the test suite catches: for each fault it changes one text in a private copy of the
# tree at REV, builds, runs the tests (stopping at the first failure) and restores the file.
#
#   scripts/mutation-check.sh [REV] [NAME...]    REV defaults to HEAD; NAMEs pick faults
#
# The copy lives in ${MUTANT_DIR:-/tmp/obrin-mutants}/REV and keeps its build between runs.
# A fault the build refuses is listed as "broken" and counts for neither side. The list of
# faults always comes from the working tree, so older revisions are measured against it too.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
rev=${1:-HEAD}
shift || true
sha=$(git rev-parse --short "$rev")
dir=${MUTANT_DIR:-/tmp/obrin-mutants}/$sha
jobs=${JOBS:-$(nproc)}

if [ ! -f "$dir/CMakeLists.txt" ]; then
  mkdir -p "$dir"
  git archive "$sha" | tar -x -C "$dir"
fi
cmake -S "$dir" -B "$dir/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir/build" -j "$jobs" >/dev/null
if ! ctest --test-dir "$dir/build" -j "$jobs" --timeout 300 >/dev/null 2>&1; then
  echo "the tests fail at $sha without any fault: nothing to measure" >&2
  exit 1
fi

caught=0 missed=0 broken=0
report=$dir/mutants.log
: >"$report"
while IFS= read -r line; do
  case $line in '#'* | '') continue ;; esac
  name=${line%% @@ *}
  rest=${line#* @@ }
  file=${rest%% @@ *}
  rest=${rest#* @@ }
  old=${rest%% @@ *}
  new=${rest#* @@ }
  if [ $# -gt 0 ] && ! printf '%s\n' "$@" | grep -x -- "$name" >/dev/null; then continue; fi
  target=$dir/$file
  saved=$(mktemp)
  cp -p "$target" "$saved"
  if ! OLD=$old NEW=$new perl -0pi -e '
      my ($o, $n) = ($ENV{OLD}, $ENV{NEW});
      s/\\n/\n/g for ($o, $n);
      my $at = index($_, $o);
      die "not found\n" if $at < 0;
      substr($_, $at, length $o) = $n;' "$target"; then
    echo "$name: the text is no longer in $file; mend scripts/mutants.txt" >&2
    cp -p "$saved" "$target"
    rm -f "$saved"
    exit 1
  fi
  if ! cmake --build "$dir/build" -j "$jobs" >>"$report" 2>&1; then
    verdict=broken
    broken=$((broken + 1))
  elif ctest --test-dir "$dir/build" -j "$jobs" --timeout 300 --stop-on-failure >>"$report" 2>&1; then
    verdict=MISSED
    missed=$((missed + 1))
  else
    verdict=caught
    caught=$((caught + 1))
  fi
  cp "$saved" "$target"
  touch "$target"  # newer than the mutant's objects, so the next build takes it again
  rm -f "$saved"
  printf '%-30s %-40s %s\n' "$name" "$file" "$verdict"
done <"$top/scripts/mutants.txt"
cmake --build "$dir/build" -j "$jobs" >/dev/null
echo "suite at $sha: caught $caught of $((caught + missed)) faults ($broken did not build)"
