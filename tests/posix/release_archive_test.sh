#!/usr/bin/env bash
# The Linux release archive as a user gets it: made by scripts/release, unpacked into a fresh
# folder far from any build tree, its program needs nothing but a C library as old as Ubuntu
# 22.04's and extracts the sample archive into its own folder.
#   tests/posix/release_archive_test.sh BUILD_DIR   (the release build is kept in BUILD_DIR/release)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "release archive: $*" >&2; exit 1; }

"$root/scripts/release" --build "$1/release" --dist "$work/dist" linux >/dev/null
mkdir "$work/user"
tar -xzf "$work/dist"/zipdrop-*-linux-x86_64.tar.gz -C "$work/user"
folder="$(echo "$work/user"/zipdrop-*)"
for file in zipdrop zipdrop.desktop zipdrop.png README.txt LICENSE THIRD-PARTY.md; do
  [ -f "$folder/$file" ] || fail "$file is missing"
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

# No PATH leads to a dialog program or an opener, so the run ends at the terminal's summary.
cp "$root/examples/sample.zip" "$work/sample.zip"
(cd "$work" && env -i PATH=/nonexistent HOME="$work" "$folder/zipdrop" sample.zip) ||
  fail "extracting the sample failed"
for file in はじめに.txt 写真/旅行メモ.txt データ/表.csv; do
  [ -s "$folder/sample/$file" ] || fail "sample/$file was not extracted"
done
echo "release archive: $(basename "$folder") unpacked, needs only the C library up to $newest, extracts the sample"
