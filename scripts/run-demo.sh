#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The Obrin developers
# make run: makes a demo disc image with mkdisc, then opens the window on it when there is a
# display, or else rips it with obrin-rip in the terminal, with progress.
# Usage: run-demo.sh BIN_DIR DEMO_DIR
set -euo pipefail
bin=$1
demo=$2
mkdir -p "$demo"
demo=$(cd "$demo" && pwd)

echo "Making a demo disc: $demo/demo.cue (4 tracks, the third a data track)"
"$bin/mkdisc" "$demo/demo.cue" --lengths 2250,1500,750,3000 --data-track 3 --seed 7

# Settings of the demo live beside it, so the user's own Obrin.ini is left alone.
export XDG_CONFIG_HOME="$demo/config"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Opening the window on the demo disc (tick tracks, press Rip)"
  exec "$bin/obrin" --image "$demo/demo.cue"
fi

echo
echo "Tracks on the disc:"
"$bin/obrin-rip" --image "$demo/demo.cue" --list --output "$demo/output"

echo
echo "Ripping to MP3 into $demo/output"
status=0
"$bin/obrin-rip" --image "$demo/demo.cue" --output "$demo/output" \
  --artist "Obrin" --album "Demo Disc" --year 2026 --id3 || status=$?
echo
echo "Files written:"
find "$demo/output" -type f -printf '  %p (%s bytes)\n' | sort
exit "$status"
