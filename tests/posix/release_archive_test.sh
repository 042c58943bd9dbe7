#!/usr/bin/env bash
# The Linux release archive as a user gets it: made by scripts/release, unpacked into a fresh
# folder far from any build tree whose name a launcher must escape, its program needs nothing but
# a C library as old as Ubuntu 22.04's, decodes with its own ISA-L where the system's is hidden,
# and its set-up launcher, copied elsewhere and started as GLib starts it, extracts the sample
# into the folder. The source archive holds the tree as it was built.
#   tests/posix/release_archive_test.sh BUILD_DIR   (the release build is kept in BUILD_DIR/release)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "release archive: $*" >&2; exit 1; }

"$root/scripts/release" --build "$1/release" --dist "$work/dist" linux >/dev/null
user="$work/Tom & Jerry | \"引用\" 'x'"
mkdir "$user"
tar -xzf "$work/dist"/zipdrop-*-linux-x86_64.tar.gz -C "$user"
folder="$(echo "$user"/zipdrop-*)"
view="$(ls "$folder" | tr '\n' ' ')"
[ "$view" = "zipdrop zipdrop-docs zipdrop-setup zipdrop.desktop zipdrop.png " ] ||
  fail "the folder holds more than the program, its launcher, its icon and its setup: $view"
for file in README.txt LICENSE THIRD-PARTY.md licenses/libisal2.txt; do
  [ -f "$folder/zipdrop-docs/$file" ] || fail "zipdrop-docs/$file is missing"
done
(cd "$work/dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"

others="$(ldd "$folder/zipdrop" | grep -v -E '^\s*(linux-vdso\.so|libc\.so|libm\.so|/lib64/ld-linux)')" &&
  fail "the program needs more than the C library: $others"
newest="$(objdump -T "$folder/zipdrop" | grep -o 'GLIBC_[0-9.]*' | sort -uV | tail -1)"
[ "$(printf '%s\n' "$newest" GLIBC_2.35 | sort -V | tail -1)" = GLIBC_2.35 ] ||
  fail "the program needs $newest, newer than Ubuntu 22.04's C library"
if readelf -d "$folder/zipdrop" | grep -q -E 'RPATH|RUNPATH'; then
  fail "the program looks for libraries in a folder of its own"
fi

# One entry larger than is decoded in memory, with the system's ISA-L hidden in a mount
# namespace: the program decodes it without ever looking for a libisal. No PATH leads to a dialog
# program or an opener, so the run ends at the terminal's summary.
mkdir "$work/big" && seq 4000000 > "$work/big/big.txt"
(cd "$work" && zip -q big.zip big/big.txt)
system_isal="$(ldconfig -p | sed -n 's/^.*libisal\.so\.2 .*=> //p' | head -1)"
[ -n "$system_isal" ] || fail "the system's libisal.so.2, which the check hides, is not installed"
(cd "$work" && unshare $([ "$(id -u)" = 0 ] || echo -r) -m sh -c \
  'mount --bind /dev/null "$(readlink -f "$1")" && shift && exec env -i "$@"' sh "$system_isal" \
  LD_DEBUG=libs PATH=/nonexistent HOME="$work" "$folder/zipdrop" big.zip) 2>"$work/libs.log" ||
  fail "extracting one large entry without the system's ISA-L failed: $(tail -3 "$work/libs.log")"
cmp -s "$work/big/big.txt" "$folder/big/big.txt" || fail "the large entry was extracted wrong"
! grep -q libisal "$work/libs.log" || fail "the program looks for the system's ISA-L"

# zipdrop-setup writes the folder's paths into the launcher, offers it to "Open With" and puts
# it on the desktop; a copy of the offered one, started from its file as GLib's launcher does,
# runs this folder's program (an opener that does nothing stands in for the desktop's).
mkdir -p "$work/bin" "$work/elsewhere"
printf '#!/bin/sh\nexit 0\n' >"$work/bin/xdg-open" && chmod +x "$work/bin/xdg-open"
setup() { env -i PATH="$work/bin:/usr/bin:/bin" HOME="$work/home" "$folder/zipdrop-setup" "$@"; }
setup --desktop >/dev/null || fail "zipdrop-setup failed"
offered="$work/home/.local/share/applications/zipdrop.desktop"
desktop-file-validate "$offered" || fail "the launcher zipdrop-setup wrote is not valid"
cmp -s "$offered" "$work/home/Desktop/zipdrop.desktop" || fail "no launcher on the desktop"
cp "$offered" "$work/elsewhere/"
cp "$root/examples/sample.zip" "$work/sample.zip"
env -i PATH="$work/bin:/usr/bin:/bin" HOME="$work/home" /usr/bin/python3 - \
  "$work/elsewhere/zipdrop.desktop" "$work/sample.zip" <<'PYTHON'
import sys
import gi
gi.require_version("Gio", "2.0")
from gi.repository import Gio
Gio.DesktopAppInfo.new_from_filename(sys.argv[1]).launch([Gio.File.new_for_path(sys.argv[2])], None)
PYTHON
for file in はじめに.txt 写真/旅行メモ.txt データ/表.csv; do
  for _ in $(seq 300); do [ -s "$folder/sample/$file" ] && break; sleep 0.1; done
  [ -s "$folder/sample/$file" ] || fail "the launcher GLib started did not extract sample/$file"
done
setup --undo >/dev/null
[ ! -e "$offered" ] && [ ! -e "$work/home/Desktop/zipdrop.desktop" ] ||
  fail "zipdrop-setup --undo left a launcher behind"

# The source archive holds the working tree as built: an uncommitted change and a new file too.
# The clone is given this tree's scripts, so that it is they that are tried.
if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  git clone -q "$root" "$work/source"
  cp "$root/scripts/"* "$work/source/scripts/"
  echo "changed" >> "$work/source/README.md" && echo "new" > "$work/source/new.txt"
  "$work/source/scripts/release" --dist "$work/source-dist" source >/dev/null
  tar -xzf "$work/source-dist"/zipdrop-*-source.tar.gz -C "$work/source-dist"
  [ "$(tail -1 "$work/source-dist"/zipdrop-*/README.md)" = changed ] &&
    [ -f "$work/source-dist"/zipdrop-*/new.txt ] ||
    fail "the source archive is not the tree the programs were built from"
fi
echo "release archive: $(basename "$folder") unpacked, needs only the C library up to $newest, \
decodes without the system's ISA-L, its set-up launcher extracts the sample"
