# shellcheck shell=sh
# What the launcher runs: the build writes this script into the launcher's Exec line (lines that
# hold only a comment are left out there) and starts it as
#   /bin/sh -c SCRIPT zipdrop RECORDED [LOCATION] -- [FILE]...
# RECORDED is the program's absolute path when the launcher was built or installed; LOCATION is
# the launcher's own path (the %k field code), which launchers that build the entry from its
# text expand to nothing at all. The "--" that always follows it tells the two cases apart, so
# a dropped file is never taken for the launcher's location.
recorded=$1
shift
location=
if [ "$1" != -- ]; then
  location=$1
  shift
fi
if [ "$1" != -- ]; then
  echo "zipdrop: the launcher was started with unexpected arguments" >&2
  exit 2
fi
shift

# Only absolute PATH entries: an empty entry or "." would let the current directory, which may
# be the dropped file's folder, supply readlink or a dialog program.
trusted=
set -f
IFS=:
for folder in $PATH; do
  case $folder in /*) trusted=$trusted${trusted:+:}$folder ;; esac
done
unset IFS
set +f
PATH=$trusted

is_program() {
  [ -f "$1" ] && [ -x "$1" ]
}

# The program beside the launcher's real location, links resolved, when %k gave an absolute
# path. readlink -n and the appended x keep a newline that ends a folder's name: $(...) strips
# trailing newlines, and the program of the folder without it would be found instead.
beside=
case $location in
  /*)
    real=$(readlink -fn -- "$location" && echo x) && beside=${real%x}
    [ -z "$beside" ] || beside=${beside%/*}/zipdrop
    ;;
esac

if [ -n "$beside" ] && is_program "$beside"; then
  program=$beside
elif [ "${recorded#/}" != "$recorded" ] && is_program "$recorded"; then
  program=$recorded
else
  # Standard error first: zenity also ends with 1 when it finds no display, as when it is closed.
  # The first line is plain text, so kdialog never takes the paths for markup.
  message="zipdrop のプログラムが見つかりません。
探した場所：${beside:+
$beside}
$recorded"
  printf 'エラー\n%s\n' "$message" >&2
  if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    zenity --error --no-markup --title=エラー --text="$message" 2>/dev/null ||
      [ $? -eq 1 ] || kdialog --title エラー --error "$message" 2>/dev/null
  fi
  exit 2
fi

# No file: the program shows how it is used.
[ $# -gt 0 ] || exec "$program"
for file; do
  "$program" "$file"
done
