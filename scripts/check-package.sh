#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The Obrin developers
# Builds the Debian package and checks it as a user would meet it: unpacked into a temporary
# folder (so also moved away from /usr), its obrin-rip rips a generated disc to every format
# for a new user, with the encoder library found beside the program, into that user's music
# folder; then the desktop entry, the metainfo, the man pages and lintian.
# Usage: check-package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)

fail() {
  echo "check-package: $*" >&2
  exit 1
}

rm -f "$build"/obrin_*.deb
(cd "$build" && cpack -G DEB >"$build/cpack.log" 2>&1) || fail "cpack: $(cat "$build/cpack.log")"
debs=("$build"/obrin_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one package in $build"
deb=${debs[0]}
echo "check-package: $(basename "$deb")"

tmp=$(mktemp -d)
trap 'chmod -R u+w "$tmp"; rm -rf "$tmp"' EXIT
chmod 755 "$tmp"
root=$tmp/root
dpkg-deb -x "$deb" "$root"
lib=$root/usr/lib/obrin
unset LD_LIBRARY_PATH XDG_CONFIG_HOME

for f in tips.txt help.chm; do
  if [ -e "$build/bin/$f" ] && [ ! -e "$lib/$f" ]; then fail "$f is not in the package"; fi
done

"$root/usr/bin/obrin-rip" --version | grep -qx 'obrin-rip (Obrin) [0-9.]*' ||
  fail "obrin-rip --version"

# The man pages name exactly the options that --help names.
for program in obrin obrin-rip; do
  help_options=$("$root/usr/bin/$program" --help | grep -o -- '--[a-z0-9-]*' | sort -u)
  man_options=$(zcat "$root/usr/share/man/man1/$program.1.gz" | sed 's/\\-/-/g' |
    grep -o -- '--[a-z0-9-]*' | sort -u)
  [ "$help_options" = "$man_options" ] ||
    fail "$program: --help and the man page name different options:
$(diff <(echo "$help_options") <(echo "$man_options") || true)"
done

# A new user of an installed copy: the program folder cannot be written, so the first run
# takes the music folder of user-dirs.dirs. Root can write anywhere, so it rips as nobody.
home=$tmp/home
mkdir -p "$home/.config"
echo 'XDG_MUSIC_DIR="$HOME/Tunes"' >"$home/.config/user-dirs.dirs"
"$build/bin/mkdisc" "$tmp/disc.cue" --lengths 150,100 --seed 5 >/dev/null
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  chown -R 65534:65534 "$home"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
else
  chmod -R a-w "$lib"
fi
for format in wav mp3 ogg flac; do
  HOME=$home "${as_user[@]}" "$root/usr/bin/obrin-rip" --image "$tmp/disc.cue" \
    --format "$format" >"$tmp/out" 2>"$tmp/err" || fail "rip to $format: $(cat "$tmp/out" "$tmp/err")"
  for track in 01 02; do
    file=$(find "$home/Tunes" -name "*Track $track.$format" -size +1k)
    [ -n "$file" ] || fail "rip to $format left no Track $track in $home/Tunes: $(cat "$tmp/out")"
  done
done
grep -qx "Path=$home/Tunes/" "$home/.config/obrin/Obrin.ini" || fail "[Output] Path of a first run"
[ ! -e "$lib/My Music" ] || fail "a new user's rip went into the program folder"
echo "check-package: ripped to wav, mp3, ogg and flac from the unpacked package"

desktop-file-validate "$root"/usr/share/applications/*.desktop
appstream=$(appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml 2>&1) ||
  fail "appstreamcli: $appstream"
echo "$appstream"
! grep -qi 'licen[cs]e' <<<"$appstream" || fail "appstreamcli on the licence: $appstream"
for page in "$root"/usr/share/man/man1/*.1.gz; do
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done

status=0
report=$(lintian --fail-on error "$deb" 2>&1) || status=$?
grep -v 'running with root privileges' <<<"$report" || true
[ "$status" -eq 0 ] || fail "lintian reports errors"
# The licence is stated where distributions look: not one tag of any level about it.
licence=$(grep -iE '^[EWIPX]: .*(copyright|licen[cs]e)' <<<"$report" || true)
[ -z "$licence" ] || fail "lintian on the copyright or licence: $licence"
echo "check-package: passed"
