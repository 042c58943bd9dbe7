#!/usr/bin/env bash
# zipdrop on a Linux desktop, end to end: the real zenity on a virtual X server, each window found
# by its title, and the launcher started the way GLib-based file managers start it.
#   tests/posix/desktop_end_to_end.sh BUILD_FOLDER [SCREENSHOT_FOLDER]
# BUILD_FOLDER holds zipdrop, zipdrop.desktop and zipdrop.png. Given a screenshot folder, each
# window is also saved there as a PNG (the README's pictures come from here).
set -euo pipefail

build=$(cd "$1" && pwd)
shots=${2:+$(mkdir -p "$2" && cd "$2" && pwd)}
work=$(mktemp -d /tmp/zipdrop-desktop-XXXXXX)
started=()
cleanup() {
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# shellcheck source=../checks.sh
source "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"

# A display of our own; Xvfb picks a free number and tells it through descriptor 3. A desktop
# always has a client connected (its window manager, its panel), so the server never resets;
# Xvfb resets whenever its last client leaves, as dialogs and xdotool come and go here, and a
# client that connects during a reset is turned away. -noreset keeps it a desktop's server.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
xvfb=$!
started+=($xvfb)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
unset WAYLAND_DISPLAY
export LANG=C.UTF-8 HOME="$work" TEMP="$work/temp" PATH="$work/bin:/usr/bin:/bin"
mkdir -p "$work/temp" "$work/bin" "$work/app"
# The opener records what it was asked to open.
printf '#!/bin/sh\nprintf "%%s\\n" "$@" >> "%s/opened"\n' "$work" >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
# Installed as a user would, so that the launcher records the program in $work/app.
cmake --install "$build" --prefix "$work/app" >/dev/null
# zenity keeps a copy of the text it is to show in a scrolling window.
printf '#!/bin/sh\n[ "$1" = --text-info ] || exec /usr/bin/zenity "$@"\ntee "%s/shown" | /usr/bin/zenity "$@"\n' \
  "$work" >"$work/bin/zenity"
chmod +x "$work/bin/zenity"
# The dialog programs are started in the Japanese locale where one is installed. It is made here,
# in a folder of our own, so that the test needs no root; the run's own locale stays C.UTF-8.
mkdir -p "$work/locale"
localedef -i ja_JP -f UTF-8 "$work/locale/ja_JP.UTF-8" 2>/dev/null || true
export LOCPATH="$work/locale"
# glibc's newlocale leaks the parsed LOCPATH; only this test sets it.
echo "leak:__argz_add_sep" >"$work/lsan.supp"
export LSAN_OPTIONS="suppressions=$work/lsan.supp:fast_unwind_on_malloc=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

# make_zip ARCHIVE [NAME=CONTENT | NAME@LINK | COUNT*SIZE | NAME+GIB (zeros, deflated)]...
make_zip() {
  /usr/bin/python3 - "$@" <<'PYTHON'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for spec in sys.argv[2:]:
        if "+" in spec:
            name, gib = spec.split("+")
            with z.open(name, "w", force_zip64=True) as entry:
                for _ in range(16 * int(gib)):
                    entry.write(bytes(64 << 20))
        elif "*" in spec:
            count, size = map(int, spec.split("*"))
            for i in range(count):
                z.writestr("many/d%03d/f%05d.txt" % (i // 1000, i), "x" * size)
        elif "@" in spec:
            name, target = spec.split("@")
            info = zipfile.ZipInfo(name)
            info.external_attr = 0o120777 << 16
            z.writestr(info, target)
        else:
            name, content = spec.split("=")
            z.writestr(name, content)
PYTHON
}

# Starts zipdrop from the program folder; its exit status lands in $work/status.
start() {
  rm -f "$work/status"
  # set -e must not end the subshell before it records a status other than 0.
  (set +e; "$work/app/zipdrop" "$@" 2>"$work/stderr"; echo $? >"$work/status") &
  started+=($!)
}
finished() {
  for _ in $(seq 600); do [ -s "$work/status" ] && return 0; sleep 0.1; done
  return 1
}
# Every call is bounded, as a search for a window that never comes would wait forever.
xdotool() { timeout 60 xdotool "$@"; }
window() { xdotool search --sync --onlyvisible --name "^$1\$" | head -1; }
shot() { if [ -n "$shots" ]; then import -window "$1" "$shots/$2.png"; fi; }
press() { xdotool windowfocus --sync "$1" key "${@:2}"; }
fits() { eval "$(xdotool getwindowgeometry --shell "$1")" && [ "$WIDTH" -le 800 ] && [ "$HEIGHT" -le 560 ]; }
gone() { for _ in $(seq 100); do xdotool getwindowname "$1" >/dev/null 2>&1 || return 0; sleep 0.1; done; }
status_is() { finished && [ "$(cat "$work/status")" = "$1" ]; }

make_zip "$work/a.zip" "a/1.txt=one"

# The usage box and the error box.
start
id=$(window 使い方) || true
check "usage box shown" [ -n "$id" ]
shot "$id" usage && press "$id" Return
check "usage box closes the run" status_is 0

start "$work/notes.txt"
id=$(window エラー) || true
check "error box shown" [ -n "$id" ]
shot "$id" error && press "$id" Return
check "error box closes the run" status_is 2

# An archive that cannot be read is told in a window of its own, a damaged one as an empty one.
printf 'PK\003\004 damaged' >"$work/fake.zip"
: >"$work/empty.zip"
for archive in fake empty; do
  start "$work/$archive.zip"
  id=$(window "ZIP ファイルを開けません") || true
  check "$archive archive told" [ -n "$id" ]
  [ "$archive" = fake ] && shot "$id" unreadable
  press "$id" Return
  check "$archive archive run ends" status_is 2
done

# Files that exist are asked about once, before anything is written: each answer in turn.
# clash KEYS...: extracts clash.zip over three old files, answering each question with the next
# keys; each question must fit a small screen. The questions are saved as pictures named by
# $snaps, in turn, when pictures are taken.
make_zip "$work/clash.zip" "clash/1.txt=new" "clash/2.txt=new" "clash/3.txt=new" "clash/4.txt=new"
snaps=()
clash() {
  rm -rf "$work/app/clash" "$work/shown"
  mkdir -p "$work/app/clash"
  for i in 1 2 3; do echo old >"$work/app/clash/$i.txt"; done
  start "$work/clash.zip"
  local keys step=0
  for keys in "$@"; do
    id=$(window ファイルの置換またはスキップ) && fits "$id" || return 1
    [ -n "${snaps[$step]:-}" ] && shot "$id" "${snaps[$step]}"
    step=$((step + 1))
    # shellcheck disable=SC2086 # The keys are separate words.
    press "$id" $keys
    gone "$id"
  done
  snaps=()
}
contents() { (cd "$work/app/clash" && for f in *; do printf '%s=%s ' "$f" "$(cat "$f")"; done); }
closed_report() { id=$(window 展開されなかったファイル) && press "$id" Return; }
snaps=(clash)
check "replace asked" clash Return
check "replace ends" status_is 0
check "replace replaces" [ "$(contents)" = "1.txt=new 2.txt=new 3.txt=new 4.txt=new " ]
check "skip asked" clash "Tab Return"
check "skip reports" closed_report
check "skip ends" status_is 1
check "skip keeps" [ "$(contents)" = "1.txt=old 2.txt=old 3.txt=old 4.txt=new " ]
# For each file: replace the first, then skip it and the rest.
snaps=("" clash-each)
check "each file asked" clash "Tab Tab Return" Return "Tab Tab Tab Return"
check "each file reports" closed_report
check "each file ends" status_is 1
check "each file decides" [ "$(contents)" = "1.txt=new 2.txt=old 3.txt=old 4.txt=new " ]
check "cancel asked" clash Escape
check "cancel ends" status_is 1
check "cancel writes nothing" [ "$(contents)" = "1.txt=old 2.txt=old 3.txt=old " ]

# What was left out is listed, every name under its reason, as scrolling text in a window that
# fits a small screen, once the run is over; the folder is opened after it.
mkdir -p "$work/app/report"
echo mine >"$work/app/report/はじめに.txt"
links=()
for i in $(seq 30); do links+=("report/link$i@/etc/passwd"); done
make_zip "$work/report.zip" "report/はじめに.txt=theirs" "report/new.txt=new" "../outside.txt=x" \
  "${links[@]}" "report/$(printf 'long%.0s' $(seq 40)).txt@/etc/passwd"
rm -f "$work/opened" "$work/shown"
start "$work/report.zip"
id=$(window ファイルの置換またはスキップ) || true
check "report run asks first" [ -n "$id" ]
press "$id" Tab Return
id=$(window 展開されなかったファイル) || true
check "report shown" [ -n "$id" ]
check "report is shown before the folder opens" [ ! -e "$work/opened" ]
check "report fits a small screen" fits "$id"
check "report names every link" [ "$(grep -c '^  report/link' "$work/shown")" -eq 30 ]
check "report names the rest" grep -q '^  \.\./outside.txt$' "$work/shown"
check "report shortens long names" grep -q '^  report/longlong.*…long.*\.txt$' "$work/shown"
shot "$id" report && press "$id" Return
check "report run ends" status_is 1
check "report leaves what was there" [ "$(cat "$work/app/report/はじめに.txt")" = mine ]
check "report run extracts the rest" [ "$(cat "$work/app/report/new.txt")" = new ]

# A long extraction shows its progress; Cancel stops it with every file whole, and the run goes
# on to open the folder. The small files come first and a large entry last, so that Cancel
# always finds the run at work however fast the machine is, and must not wait for that entry to
# be written out: it is dropped.
make_zip "$work/many.zip" "3000*200" "many/zeros.bin+4"
rm -f "$work/opened"
start "$work/many.zip"
id=$(window 展開しています) || true
check "progress window shown" [ -n "$id" ]
[ -n "$id" ] || cat "$work/stderr" >&2  # What the run said instead, for the log.
sleep 1  # Lets the bar move before the picture is taken.
shot "$id" progress && press "$id" Escape
check "cancelled run ends" status_is 1
written=$(find "$work/app/many" -type f | wc -l)
check "cancel keeps finished files" [ "$written" -gt 0 ]
check "cancel stops early" [ "$written" -le 3000 ]
check "cancel leaves no partial file" [ -z "$(find "$work/app/many" -type f ! -size 200c)" ]
check "entry cancelled while written is dropped" [ ! -e "$work/app/many/zeros.bin" ]
check "cancel leaves no temporary file" [ -z "$(find "$work/app/many" -name '.zipdrop-*')" ]
check "cancelled run opens the folder" grep -qx "$work/app/many" "$work/opened"

# On a busy machine (more busy loops than cores) the display still counts as there: every run of
# a password-protected archive asks for its password in a window, even when the display server
# has been held up (stopped here) for two seconds as the run starts.
mkdir -p "$work/sealed/locked"
echo plan >"$work/sealed/locked/secret.txt"
(cd "$work/sealed" && 7zz a -tzip -mem=AES256 -p'Open sesame' locked.zip locked >/dev/null)
busy=()
for _ in $(seq $((2 * $(nproc) + 2))); do
  sh -c 'while :; do :; done' &
  busy+=($!)
done
started+=("${busy[@]}")
asked=0
for _ in $(seq 6); do
  rm -rf "$work/app/locked"
  kill -STOP "$xvfb"
  start "$work/sealed/locked.zip"
  sleep 2
  kill -CONT "$xvfb"
  id=$(window パスワード) || true
  [ -n "$id" ] && xdotool windowfocus --sync "$id" type 'Open sesame' && press "$id" Return
  status_is 0 && [ "$(cat "$work/app/locked/secret.txt")" = plan ] && asked=$((asked + 1))
done
kill "${busy[@]}"
check "password asked in a window every time under load" [ "$asked" -eq 6 ]

# At a terminal the run ends with a line that says what was extracted where; the terminal is a
# pseudo-terminal made by script(1).
(cd "$work" && script -qec "'$work/app/zipdrop' '$work/a.zip'" /dev/null >"$work/terminal") || true
check "terminal gets the closing line" grep -q "1 件を展開しました → app[[:space:]]*$" "$work/terminal"

# A display that has gone: the message is written to standard error instead. Other tests' virtual
# displays may be running beside ours, so the number is one that no socket has.
gone=$(($(cat "$work/display") + 1))
while [ -e "/tmp/.X11-unix/X$gone" ]; do gone=$((gone + 1)); done
(DISPLAY=":$gone" "$work/app/zipdrop" 2>"$work/stderr") || true
check "gone display falls back to standard error" grep -q 使い方 "$work/stderr"

# A display that refuses clients without its cookie, as after su or sudo -u: without the cookie
# the message goes to standard error, with it the box is shown there.
cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
xauth -q -f "$work/server-cookie" add :0 . "$cookie" 2>/dev/null
Xvfb -displayfd 3 -auth "$work/server-cookie" -nolisten tcp -noreset 3>"$work/locked" 2>/dev/null &
started+=($!)
for _ in $(seq 100); do [ -s "$work/locked" ] && break; sleep 0.1; done
open_display=$DISPLAY
export DISPLAY=":$(cat "$work/locked")" XAUTHORITY="$work/no-cookie"
("$work/app/zipdrop" 2>"$work/stderr") || true
check "refusing display falls back to standard error" grep -q 使い方 "$work/stderr"
# An authority file that is a FIFO nobody writes to, or one that never ends, is not read: the run
# goes on without a cookie.
mkfifo "$work/fifo"
for authority in "$work/fifo" /dev/zero; do
  (XAUTHORITY=$authority timeout 60 "$work/app/zipdrop" 2>"$work/stderr") || true
  check "$authority as the authority file falls back to standard error" grep -q 使い方 "$work/stderr"
done
xauth -q -f "$work/cookie" add "$DISPLAY" . "$cookie" 2>/dev/null
export XAUTHORITY="$work/cookie"
start
id=$(window 使い方) || true
check "usage box shown with the cookie" [ -n "$id" ]
[ -n "$id" ] && press "$id" Return
check "usage box with the cookie closes the run" status_is 0
export DISPLAY=$open_display
unset XAUTHORITY

# Names too long for the file system are listed in the report; three of 64 KiB are more than one
# argument can hold, so the report reaches its window through the window's input.
long=$(head -c 65000 /dev/zero | tr '\0' x)
make_zip "$work/long.zip" "long/${long}a=1" "long/${long}b=2" "long/${long}c=3"
start "$work/long.zip"
id=$(window 展開されなかったファイル) || true
check "report of long names shown" [ -n "$id" ]
shot "$id" long-report && press "$id" Escape
check "report of long names ends the run" status_is 1

# The launcher, as built and as installed, started as GLib's launcher does: from its file, where
# %k is its path ("path"), or from its text as `gio launch` does, where %k is empty ("text").
check "launcher is valid" desktop-file-validate "$build/zipdrop.desktop"
check "installed launcher is valid" desktop-file-validate "$work/app/zipdrop.desktop"
launch() {  # launch path|text LAUNCHER [FILE]...
  /usr/bin/python3 - "$@" <<'PYTHON'
import sys
import gi
gi.require_version("Gio", "2.0")
from gi.repository import GLib, Gio
how, launcher, files = sys.argv[1], sys.argv[2], sys.argv[3:]
if how == "path":
    app = Gio.DesktopAppInfo.new_from_filename(launcher)
else:
    keys = GLib.KeyFile()
    keys.load_from_file(launcher, GLib.KeyFileFlags.NONE)
    app = Gio.DesktopAppInfo.new_from_keyfile(keys)
app.launch([Gio.File.new_for_path(f) for f in files], None)
PYTHON
}
arrived() { for _ in $(seq 300); do [ -e "$1" ] && return 0; sleep 0.1; done; return 1; }
plant() { printf '#!/bin/sh\ntouch "%s/planted"\n' "$work" >"$1/zipdrop" && chmod +x "$1/zipdrop"; }

# Without %k the dropped file is not taken for the launcher's location: the program planted
# beside it stays unrun, and the recorded one extracts it. A copy of the launcher runs the
# program its original recorded; the build's records the build's (which shows its usage box).
mkdir -p "$work/drop" "$work/Desktop"
plant "$work/drop"
make_zip "$work/drop/d.zip" "d/4.txt=four"
launch text "$work/app/zipdrop.desktop" "$work/drop/d.zip"
check "launcher without %k extracts the first file" arrived "$work/app/d/4.txt"
cp "$work/app/zipdrop.desktop" "$work/Desktop/"
make_zip "$work/e.zip" "e/5.txt=five"
launch path "$work/Desktop/zipdrop.desktop" "$work/e.zip"
check "copied launcher runs the recorded program" arrived "$work/app/e/5.txt"
cp "$build/zipdrop.desktop" "$work/Desktop/build.desktop"
launch path "$work/Desktop/build.desktop"
id=$(window 使い方) || true
check "build's launcher records the build's program" [ -n "$id" ]
[ -z "$id" ] || press "$id" Return

# Moved into a folder whose name ends in a newline, the launcher finds the program beside its
# real location, also through a link, and not the one planted in the folder named without the
# newline; each dropped file is extracted in turn.
moved="$work/moved app
"
mv "$work/app" "$moved"
mkdir -p "$work/moved app" "$work/applications"
plant "$work/moved app"
ln -s "$moved/zipdrop.desktop" "$work/applications/zipdrop.desktop"
rm -rf "$moved/a"
make_zip "$work/b b.zip" "b/2.txt=two"
make_zip "$work/c.zip" "c/3.txt=three"
launch path "$moved/zipdrop.desktop" "$work/a.zip" "$work/b b.zip"
launch path "$work/applications/zipdrop.desktop" "$work/c.zip"
check "launcher extracts the first file" arrived "$moved/a/1.txt"
check "launcher extracts the second file" arrived "$moved/b/2.txt"
check "linked launcher finds the program" arrived "$moved/c/3.txt"
check "no planted program ran" [ ! -e "$work/planted" ]

# The copy on the desktop, with the program moved away from where it was recorded, says so.
launch path "$work/Desktop/zipdrop.desktop" "$work/c.zip"
id=$(window エラー) || true
check "launcher without a program says so" [ -n "$id" ]
[ -z "$id" ] || press "$id" Return

finish desktop
