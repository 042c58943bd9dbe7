# The end-to-end runs with a ZIP file, sourced by end_to_end_test.sh.
#
# Wine's shell cannot open a ZIP file as a folder: Namespace on the archive yields nothing, so the
# copy step fails there and the run passes over it, as it passes over any failed step. What Wine
# can show is everything around it: the shell's leftover folders are removed, the folder handler
# is started from the system folder with the run's command line when the result folder exists
# (the second run makes it beforehand, in place of the copy), and not at all when it does not,
# programs planted beside zipdrop.exe are never run, no message box appears and the program ends
# cleanly. end_to_end_copy_run.sh runs the copy itself, against a stand-in for the shell.
#
# Wine's rundll32 does not accept the blank after "url.dll," that Windows' rundll32 skips, so under
# Wine the handler starts and then finds no entry point, and no folder window appears. The launch
# is therefore observed in Wine's own process trace: the line that Wine's loader writes when it
# creates the process, and the line that the new rundll32 writes about its command line once it
# runs. Neither comes from zipdrop. The traces write each character beyond ASCII as a backslash
# and four hex digits.

wine_temp="$(winepath -u "$(wine cmd /c echo '%TEMP%' | tr -d '\r')")"
leftovers=("Temporary Directory 1 for sample.zip" "Temporary Directory 2 for other.zip")
keepers=("Keep This" "Temporary Stuff" "My Temporary Directory")
for folder in "${leftovers[@]}"; do mkdir -p "$wine_temp/$folder/inner"; done
for folder in "${keepers[@]}"; do mkdir -p "$wine_temp/$folder"; done
touch "$wine_temp/${leftovers[0]}/inner/file.txt"

japanese=写真アルバム
japanese_traced='\5199\771f\30a2\30eb\30d0\30e0'
# The smallest valid ZIP file: an empty archive, nothing but its end-of-directory record.
printf 'PK\005\006\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000' \
  > "$inbox/sample.zip"
cp "$inbox/sample.zip" "$inbox/$japanese.zip"
# What an archive could plant: the handler's program, and a program under the result folder's
# name for each extension the shell's execute function tries on a path that is no folder, also
# beside the result folder where it does exist.
for planted in RunDll32.exe sample.exe sample.com "$japanese.exe"; do
  cp "$build/zipdrop_launch_probe.exe" "$program_folder/$planted"
done
mkdir "$program_folder/$japanese"

sample_trace="$(mktemp)"
japanese_trace="$(mktemp)"
statuses=()
# Runs zipdrop.exe on the archive with Wine's process traces in the file. Wine takes the
# arguments' text from the locale's character set, and the ANSI code page (932) from its language.
run_traced() {
  local status=0
  ZIPDROP_PROBE_REPORT='C:\planted_probe_report.txt' WINEDEBUG=+process,+rundll32 LC_ALL=ja_JP.UTF-8 \
    timeout 60 wine "$exe" "C:\\in box\\$1" 2> "$2" || status=$?
  timeout 60 wineserver -w || true
  statuses+=("$status")
}
run_traced sample.zip "$sample_trace"
run_traced "$japanese.zip" "$japanese_trace"

ended_cleanly() { [ "${statuses[*]}" = "0 0" ]; }
leftovers_removed() {
  local folder
  for folder in "${leftovers[@]}"; do [ ! -e "$wine_temp/$folder" ] || return 1; done
}
others_kept() {
  local folder
  for folder in "${keepers[@]}"; do [ -d "$wine_temp/$folder" ] || return 1; done
}
handler_created() {
  grep -Fq 'NtCreateUserProcess L"\\??\\C:\\windows\\system32\\rundll32.exe" image L"C:\\windows\\system32\\rundll32.exe" cmdline L"RunDll32.exe url.dll, FileProtocolHandler C:\\zipdrop e2e\\'"$japanese_traced"'"' "$japanese_trace"
}
handler_ran() {
  grep -Fq 'trace:rundll32:wWinMain CmdLine=L"url.dll, FileProtocolHandler C:\\zipdrop e2e\\'"$japanese_traced"'"' "$japanese_trace"
}
no_handler_without_folder() { ! grep -aq 'NtCreateUserProcess.*rundll32' "$sample_trace"; }
planted_never_ran() { [ ! -e "$probe_report" ]; }
# The copy failed under Wine, so the program folder holds only what the test put there.
copy_passed_over() {
  [ "$(cd "$program_folder" && find . -mindepth 1 | LC_ALL=C sort | tr '\n' '|')" = \
    "./RunDll32.exe|./sample.com|./sample.exe|./zipdrop.exe|./$japanese|./$japanese.exe|" ]
}

check "ZIP: ends with status 0 and no box" ended_cleanly
check "ZIP: Temporary Directory* folders removed" leftovers_removed
check "ZIP: other folders kept" others_kept
check "ZIP: system rundll32 started on the Japanese-named result folder" handler_created
check "ZIP: the handler process ran" handler_ran
check "ZIP: no handler started when the result folder does not exist" no_handler_without_folder
check "ZIP: planted RunDll32.exe, sample.exe, sample.com and $japanese.exe never ran" \
  planted_never_ran
check "ZIP: copy failed under Wine and was passed over" copy_passed_over
rm -f "$sample_trace" "$japanese_trace"
