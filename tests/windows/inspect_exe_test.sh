#!/usr/bin/env bash
# Reads the built zipdrop.exe as Windows would: its subsystem, the DLLs it imports, its icon,
# its version record and its manifest. Usage: inspect_exe_test.sh path/to/zipdrop.exe
set -euo pipefail

exe=$1
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=../checks.sh
source "$here/../checks.sh"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

x86_64-w64-mingw32-objdump -p "$exe" > "$work/headers.txt"
wrestool -x -t 14 -o "$work" "$exe"
wrestool -x -t 16 --raw -o "$work/version.bin" "$exe"
# The loader reads a program's manifest from resource 1 of type 24 only.
wrestool -x -t 24 -n 1 --raw -o "$work/manifest.xml" "$exe"

is_graphical() { grep -Eq '^Subsystem[[:space:]]+00000002' "$work/headers.txt"; }

# Terminal-server aware (0x8000), ASLR with high entropy (0x0040, 0x0020) and NX (0x0100).
has_safety_bits() {
  local bits
  bits=$(sed -n 's/^DllCharacteristics[[:space:]]*\([0-9a-fA-F]*\)$/\1/p' "$work/headers.txt")
  [ -n "$bits" ] && (( (16#$bits & 0x8160) == 0x8160 ))
}

# Windows refuses to start a program whose manifest is not well-formed XML; Wine starts it.
manifest_is_well_formed() { xmllint --noout "$work/manifest.xml"; }

# Only DLLs that Windows always loads from the system folder (its "known DLLs") may be imported:
# any other would be looked for first beside the exe, where archives are unpacked.
imports_only_system_dlls() {
  local dll ok=0
  while read -r dll; do
    case "${dll,,}" in
      kernel32.dll | user32.dll | ole32.dll | oleaut32.dll | msvcrt.dll | advapi32.dll | shell32.dll) ;;
      *) echo "        unexpected import: $dll"; ok=1 ;;
    esac
  done < <(sed -n 's/^[[:space:]]*DLL Name: //p' "$work/headers.txt")
  return $ok
}

has_48_pixel_32_bit_icon() {
  local ico
  for ico in "$work"/*.ico; do
    icotool -l "$ico" | grep -q -- '--width=48 --height=48 --bit-depth=32' && return 0
  done
  return 1
}

utf16_hex() { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -d ' \n'; }
version_hex() { od -An -v -tx1 "$work/version.bin" | tr -d ' \n'; }

# A version string value follows its null-terminated key, padded to a 32-bit boundary.
version_value_is() {
  version_hex | grep -Eq "$(utf16_hex "$1")0000(0000)?$(utf16_hex "$2")0000"
}

has_japanese_unicode_block() { version_hex | grep -q "$(utf16_hex 041104B0)0000"; }

# The translation is the language 0x0411 and the code page 1200 (0x04B0), little-endian words.
has_japanese_unicode_translation() {
  version_hex | grep -Eq "$(utf16_hex Translation)0000(0000)?1104b004"
}

manifest_says() { grep -q -- "$1" "$work/manifest.xml"; }

echo "exe inspection ($(stat -c %s "$exe") bytes)"
check "graphical subsystem" is_graphical
check "terminal-server aware, ASLR and NX" has_safety_bits
check "imports only system DLLs" imports_only_system_dlls
check "icon has a 48x48 32-bit image" has_48_pixel_32_bit_icon
check "FileVersion is 1.00" version_value_is FileVersion 1.00
check "ProductVersion is 1.00" version_value_is ProductVersion 1.00
check "strings block 041104B0" has_japanese_unicode_block
check "translation 0411 / 04B0" has_japanese_unicode_translation
check "manifest: resource 1, well-formed XML" manifest_is_well_formed
check "manifest: asInvoker" manifest_says 'level="asInvoker"'
check "manifest: Windows 10/11" manifest_says '8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a'
check "manifest: per-monitor DPI" manifest_says 'PerMonitorV2'
check "manifest: Common Controls 6" manifest_says 'Microsoft.Windows.Common-Controls" version="6.0.0.0"'
check "manifest: long paths" manifest_says '<longPathAware[^>]*>true<'
finish "exe inspection"
