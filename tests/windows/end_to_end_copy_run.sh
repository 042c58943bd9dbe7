# The copy step end to end, against a stand-in for the shell, sourced by end_to_end_test.sh.
#
# helpers/shell_stand_in.cpp is registered in this prefix for the ProgID "Shell.Application" while
# these runs last; the prefix is put back as it was afterwards. A folder "X.zip.d" beside X.zip
# stands for the archive's contents, and each run picks how the stand-in copies (see its header).

stand_in_class='{5F1C6A3E-1D2B-4C7A-9E51-3A6B0C27D481}'
classes='HKLM\Software\Classes'
saved_shell="$(mktemp --suffix=.reg)"
wine reg export "$classes\\Shell.Application" "$(winepath -w "$saved_shell")" /y >/dev/null 2>&1
restore_shell() {
  wine reg import "$(winepath -w "$saved_shell")" >/dev/null 2>&1
  wine reg delete "$classes\\CLSID\\$stand_in_class" /f >/dev/null 2>&1 || true
  rm -f "$saved_shell"
}
trap restore_shell EXIT
wine reg add "$classes\\CLSID\\$stand_in_class\\InprocServer32" /ve /d \
  "$(winepath -w "$build/shell_stand_in.dll")" /f >/dev/null 2>&1
wine reg add "$classes\\CLSID\\$stand_in_class\\InprocServer32" /v ThreadingModel /d Apartment \
  /f >/dev/null 2>&1
wine reg add "$classes\\Shell.Application\\CLSID" /ve /d "$stand_in_class" /f >/dev/null 2>&1

# An archive NAME.zip whose contents are a folder NAME with two files, one of them in a subfolder.
make_archive() {
  mkdir -p "$inbox/$1.zip.d/$1/sub"
  echo "a of $1" > "$inbox/$1.zip.d/$1/a.txt"
  echo "b of $1" > "$inbox/$1.zip.d/$1/sub/b.txt"
  cp "$inbox/sample.zip" "$inbox/$1.zip"
}
copied() { diff -r "$inbox/$1.zip.d/$1" "$program_folder/$1" >/dev/null 2>&1; }

stand_in_log="$drive_c/stand_in_log.txt"
# Runs zipdrop.exe on NAME.zip with the stand-in in MODE; a run that has not ended in 30 s is
# stopped and fails. Wine's process trace goes to trace_NAME.
declare -A copy_status copy_trace
copy_run() {
  local status=0 trace
  trace="$(mktemp)"
  rm -f "$stand_in_log"
  ZIPDROP_SHELL_MODE=$1 ZIPDROP_SHELL_LOG='C:\stand_in_log.txt' WINEDEBUG=+process \
    ZIPDROP_PROBE_REPORT='C:\planted_probe_report.txt' \
    timeout 30 wine "$exe" "C:\\in box\\$2.zip" 2> "$trace" || status=$?
  timeout 60 wineserver -w || true
  copy_status[$2]=$status
  copy_trace[$2]=$trace
}
ended() { [ "${copy_status[$1]}" = 0 ]; }
handler_on() {
  grep -Fq "cmdline L\"RunDll32.exe url.dll, FileProtocolHandler C:\\\\zipdrop e2e\\\\$2\"" \
    "${copy_trace[$1]}"
}
no_handler() { ! grep -aq 'NtCreateUserProcess.*rundll32' "${copy_trace[$1]}"; }

for name in kept lost held sent; do make_archive "$name"; done
# The dangerous archive: a folder whose name expands to a program's name beside it.
make_archive 'evil%OS%'
cp "$build/zipdrop_launch_probe.exe" "$inbox/evil%OS%.zip.d/evilWindows_NT.exe"

copy_run hold kept
kept_calls="$(cat "$stand_in_log")"
calls_logged() {
  [ "$kept_calls" = "$(printf '%s\n' 'NameSpace|shell|1|text:C:\in box\kept.zip' \
    'Items|C:\in box\kept.zip.d|0' 'NameSpace|shell|1|text:C:\zipdrop e2e' \
    'CopyHere|C:\zipdrop e2e|1|object:C:\in box\kept.zip.d')" ]
}
copy_run nohold lost
copy_run folders held
copy_run send sent
copy_run hold 'evil%OS%'
restore_shell
trap - EXIT

check "copy: the shell got NameSpace, Items and CopyHere with one argument, no options" calls_logged
check "copy held: zipdrop waits, every file is there" eval 'ended kept && copied kept'
check "copy held: the handler opens the result folder" handler_on kept kept
check "copy unheld (control): files missing at the end, no handler" \
  eval '! copied lost && no_handler lost'
check "folders holding the process: zipdrop ends with every file there" \
  eval 'ended held && copied held'
check "copy waiting for a sent message: answered, every file there" eval 'ended sent && copied sent'
check "folder evil%OS% beside evilWindows_NT.exe: copied, nothing started" \
  eval 'ended evil%OS% && copied evil%OS% && [ -f "$program_folder/evilWindows_NT.exe" ] &&
    no_handler evil%OS% && [ ! -e "$probe_report" ]'
for name in "${!copy_trace[@]}"; do rm -f "${copy_trace[$name]}"; done
