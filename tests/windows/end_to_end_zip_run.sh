# The end-to-end run with a ZIP file, sourced by end_to_end_test.sh.
#
# Wine's shell cannot open a ZIP file as a folder: Namespace on the archive yields nothing, so the
# copy step fails there and the run passes over it, as it passes over any failed step. What Wine
# can show is everything around it: the shell's leftover folders are removed, the folder handler
# is started from the system folder with the run's command line, a RunDll32.exe planted beside
# zipdrop.exe is never run, no message box appears and the program ends cleanly.
#
# Wine's rundll32 does not accept the blank after "url.dll," that Windows' rundll32 skips, so under
# Wine the handler starts and then finds no entry point, and no folder window appears. The launch
# is therefore observed in Wine's own process trace: the line that Wine's loader writes when it
# creates the process, and the line that the new rundll32 writes about its command line once it
# runs. Neither comes from zipdrop.

wine_temp="$(winepath -u "$(wine cmd /c echo '%TEMP%' | tr -d '\r')")"
leftovers=("Temporary Directory 1 for sample.zip" "Temporary Directory 2 for other.zip")
keepers=("Keep This" "Temporary Stuff" "My Temporary Directory")
for folder in "${leftovers[@]}"; do mkdir -p "$wine_temp/$folder/inner"; done
for folder in "${keepers[@]}"; do mkdir -p "$wine_temp/$folder"; done
touch "$wine_temp/${leftovers[0]}/inner/file.txt"

# The smallest valid ZIP file: an empty archive, nothing but its end-of-directory record.
printf 'PK\005\006\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000' \
  > "$inbox/sample.zip"
cp "$build/zipdrop_launch_probe.exe" "$program_folder/RunDll32.exe"

trace="$(mktemp)"
zip_status=0
ZIPDROP_PROBE_REPORT='C:\planted_probe_report.txt' WINEDEBUG=+process,+rundll32 \
  timeout 60 wine "$exe" 'C:\in box\sample.zip' 2> "$trace" || zip_status=$?
timeout 60 wineserver -w || true

ended_cleanly() { [ "$zip_status" -eq 0 ]; }
leftovers_removed() {
  local folder
  for folder in "${leftovers[@]}"; do [ ! -e "$wine_temp/$folder" ] || return 1; done
}
others_kept() {
  local folder
  for folder in "${keepers[@]}"; do [ -d "$wine_temp/$folder" ] || return 1; done
}
handler_created() {
  grep -Fq 'NtCreateUserProcess L"\\??\\C:\\windows\\system32\\rundll32.exe" image L"C:\\windows\\system32\\rundll32.exe" cmdline L"RunDll32.exe url.dll, FileProtocolHandler C:\\zipdrop e2e\\sample"' "$trace"
}
handler_ran() {
  grep -Fq 'trace:rundll32:wWinMain CmdLine=L"url.dll, FileProtocolHandler C:\\zipdrop e2e\\sample"' "$trace"
}
planted_never_ran() { [ ! -e "$probe_report" ]; }
# The copy failed under Wine, so the program folder holds only what the test put there.
copy_passed_over() {
  [ "$(find "$program_folder" -mindepth 1 | sort | tr '\n' '|')" = \
    "$program_folder/RunDll32.exe|$program_folder/zipdrop.exe|" ]
}

check "ZIP: ends with status 0 and no box" ended_cleanly
check "ZIP: Temporary Directory* folders removed" leftovers_removed
check "ZIP: other folders kept" others_kept
check "ZIP: system rundll32 started with the handler command" handler_created
check "ZIP: the handler process ran" handler_ran
check "ZIP: planted RunDll32.exe never ran" planted_never_ran
check "ZIP: copy failed under Wine and was passed over" copy_passed_over
rm -f "$trace"
