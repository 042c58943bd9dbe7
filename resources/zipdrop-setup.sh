#!/bin/bash
# Sets up the launcher of the zipdrop folder this script lies in, the folder that receives what
# is dropped on it:
#   ./zipdrop-setup            writes this folder's program and icon into zipdrop.desktop and
#                              offers the launcher to the desktop's "Open With" list
#   ./zipdrop-setup --desktop  also puts it on the desktop, marked trusted where the desktop
#                              knows how
#   ./zipdrop-setup --undo     takes the copies away again
# Launchers hold only absolute paths, so it is run again after the folder moves.
set -euo pipefail

fail() {
  printf 'zipdrop-setup: %s\n' "$*" >&2
  exit 1
}

# The folder's real path, links resolved. The appended x keeps a newline that ends a folder's
# name: $(...) strips trailing newlines.
case $0 in
  */*) here=${0%/*} ;;
  *) here=. ;;
esac
here=$(cd -P -- "$here" && pwd -P && echo x) || fail "cannot enter the script's folder"
here=${here%$'\n'x}
launcher=$here/zipdrop.desktop
[ -f "$launcher" ] && [ -x "$here/zipdrop" ] || fail "no zipdrop or zipdrop.desktop in $here"
# A launcher is UTF-8 text: desktops refuse one that names a folder in another encoding.
printf '%s' "$here" | iconv -f UTF-8 -t UTF-8 >/dev/null 2>&1 ||
  fail "the folder's path is not UTF-8; move the folder to a path that is, and run this again"

# The replacements are quoted: bash 5.2 would otherwise put the matched text in place of an "&".
# A key file's string value: the backslash first, then the characters it writes as escapes.
key_file_string() {
  local text=$1
  text=${text//'\'/'\\'}
  text=${text//$'\n'/'\n'}
  text=${text//$'\t'/'\t'}
  text=${text//$'\r'/'\r'}
  printf '%s' "$text"
}

# One argument of an Exec line, in double quotes, where only these four characters need a
# backslash; a percent sign would start a field code.
exec_argument() {
  local text=$1
  text=${text//'\'/'\\'}
  text=${text//'"'/'\"'}
  text=${text//'`'/'\`'}
  text=${text//'$'/'\$'}
  text=${text//'%'/'%%'}
  printf '"%s"' "$text"
}

applications=${XDG_DATA_HOME:-$HOME/.local/share}/applications
desktop=
if command -v xdg-user-dir >/dev/null; then
  desktop=$(xdg-user-dir DESKTOP)
fi
# xdg-user-dir answers the home folder when no desktop folder is set.
[ -n "$desktop" ] && [ "$desktop" != "$HOME" ] || desktop=$HOME/Desktop

refresh_open_with() {
  if command -v update-desktop-database >/dev/null; then
    update-desktop-database "$applications" || true
  fi
}

# Only copies of this folder's launcher are removed: a launcher the user made is left alone.
remove_copy() {
  if [ -f "$1" ] && cmp -s "$1" "$launcher"; then
    rm -f -- "$1"
    printf 'removed %s\n' "$1"
  fi
}

on_desktop=false
case ${1-} in
  "") ;;
  --desktop) on_desktop=true ;;
  --undo)
    remove_copy "$applications/zipdrop.desktop"
    remove_copy "$desktop/zipdrop.desktop"
    refresh_open_with
    exit 0
    ;;
  *) fail "usage: ./zipdrop-setup [--desktop | --undo]" ;;
esac

# The launcher's Exec line ends with the program it records: ... " zipdrop "PROGRAM" %k -- %F.
# Every double quote inside the script before it and inside the program's path carries a
# backslash, so the first '" zipdrop "' is where the script ends.
program=$(key_file_string "$(exec_argument "$here/zipdrop")")
icon=$(key_file_string "$here/zipdrop.png")
written=$(mktemp "$here/.zipdrop.desktop.XXXXXX")
trap 'rm -f -- "$written"' EXIT
while IFS= read -r line || [ -n "$line" ]; do
  case $line in
    Exec=*)
      script=${line%%'" zipdrop "'*}
      [ "$script" != "$line" ] || fail "zipdrop.desktop has an Exec line of another form"
      line="$script\" zipdrop $program %k -- %F"
      ;;
    Icon=*) line="Icon=$icon" ;;
  esac
  printf '%s\n' "$line"
done <"$launcher" >"$written"
chmod 755 "$written"
mv -f -- "$written" "$launcher"
printf 'wrote %s\n' "$launcher"

mkdir -p -- "$applications"
cp -- "$launcher" "$applications/zipdrop.desktop"
refresh_open_with
printf 'added zipdrop to "Open With": %s\n' "$applications/zipdrop.desktop"

if $on_desktop; then
  mkdir -p -- "$desktop"
  cp -- "$launcher" "$desktop/zipdrop.desktop"
  # GNOME's desktop starts a launcher only once it is marked trusted; others ask on first use.
  if command -v gio >/dev/null &&
     gio set -- "$desktop/zipdrop.desktop" metadata::trusted true 2>/dev/null; then
    printf 'put zipdrop on the desktop, trusted: %s\n' "$desktop/zipdrop.desktop"
  else
    printf 'put zipdrop on the desktop: %s (allow it to launch when asked)\n' \
      "$desktop/zipdrop.desktop"
  fi
fi
