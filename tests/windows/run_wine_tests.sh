#!/usr/bin/env bash
# Cross-builds zipdrop for Windows with MinGW-w64 into build-windows/, then runs under Wine:
# the Windows unit tests, the end-to-end tests of zipdrop.exe on a virtual X display, and the
# inspection of the built exe. Installs what it needs from Debian's packages; never asks anything.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$root/build-windows"
here="$root/tests/windows"

packages=(cmake ninja-build g++-mingw-w64-x86-64-posix googletest wine wine64 xvfb xdotool icoutils
          libxml2-utils locales)

install_packages() {
  local missing=() package
  for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  [ "${#missing[@]}" -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # A fresh machine may have no package lists yet.
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null ||
    { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; }
}

cross_build() {
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
  cmake --build "$build" -- -k 0 > "$build/build.log" 2>&1 || { cat "$build/build.log"; return 1; }
}

# Wine keeps everything it creates in the prefix; ours lives in the build folder.
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES='mscoree,mshtml='
export WINEARCH=win64

xvfb_pid=""
stop_everything() {
  timeout 30 wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  return 0
}
trap stop_everything EXIT

start_display() {
  local number=90
  while [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ]; do
    number=$((number + 1))
  done
  Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$number"
  local tries=0
  until [ -e "/tmp/.X11-unix/X$number" ]; do
    tries=$((tries + 1))
    [ "$tries" -gt 100 ] && { echo "Xvfb did not start"; return 1; }
    sleep 0.1
  done
}

run_unit_tests() {
  local log="$build/unit_tests.log" status=0
  (cd "$build" && LC_ALL=C.UTF-8 wine zipdrop_tests.exe --gtest_brief=1 &&
    LC_ALL=ja_JP.UTF-8 wine zipdrop_tests.exe --gtest_brief=1 --gtest_filter='*HandlerFolder*') \
    > "$log" 2>&1 || status=$?
  grep -E '^\[  FAILED  \]|Failure|error:' "$log" || true
  local ran failing
  ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\{0,1\} from .* ran\..*/\1/p' "$log" |
    awk '{ sum += $1 } END { print sum }')
  # Brief output names each failed test on a line of its own and gives no count of them; the
  # line of a parameterised test goes on with its parameter before the time.
  failing=$(grep -c '^\[  FAILED  \] [^ ]*[ ,].*([0-9]* ms)' "$log" || true)
  ran=${ran:-0}
  failing=${failing:-0}
  echo "windows unit tests: $((ran - failing)) passed, $failing failed"
  unit_passed=$((ran - failing))
  unit_failed=$failing
  [ "$status" -eq 0 ] && [ "$ran" -gt 0 ]
}

install_packages
# Wine takes the ANSI code page from the locale: 1252 from C.UTF-8, and 932 from Japanese.
locale -a | grep -qx 'ja_JP.utf8' ||
  { sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen && locale-gen >/dev/null; }
cross_build
start_display
[ -f "$WINEPREFIX/system.reg" ] || wineboot --init >/dev/null 2>&1
timeout 120 wineserver -w || true

overall=0
unit_passed=0
unit_failed=0
run_unit_tests || overall=1
e2e_log="$build/end_to_end.log"
"$here/end_to_end_test.sh" "$build" | tee "$e2e_log" || overall=1
inspect_log="$build/inspection.log"
"$here/inspect_exe_test.sh" "$build/zipdrop.exe" | tee "$inspect_log" || overall=1

count() { sed -n "s/^$2: \([0-9]*\) passed, \([0-9]*\) failed$/\\$3/p" "$1"; }
total_passed=$((unit_passed + $(count "$e2e_log" end-to-end 1) + $(count "$inspect_log" "exe inspection" 1)))
total_failed=$((unit_failed + $(count "$e2e_log" end-to-end 2) + $(count "$inspect_log" "exe inspection" 2)))
echo "windows: $total_passed passed, $total_failed failed"
[ "$total_failed" -eq 0 ] || overall=1
exit "$overall"
