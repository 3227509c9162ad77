#!/usr/bin/env bash
# Drives the GTK window of rob216-update as a user would, on a private Xvfb display:
# screenshot of the main window, click on the button, a typed target folder in the
# chooser, the result box closed; the written ROB216.dbf must equal the rate table.
#   rob216_gui_e2e.sh PROGRAM TABLE ARTEFACTS WORKDIR CASE
# CASE: export (a folder that does not exist yet), cancel (the chooser is cancelled),
# error (the first click fails to stage the archive: an error box with the error's
# text, the window stays; the second click exports).
# Exit 77 (skipped) when Xvfb, xdotool or a screenshot tool is missing. Where a
# session bus and the accessibility library are there, the texts the windows show
# (memo, button, result box) are read back through the accessibility bus and checked.
set -u
prog=$1 table=$2 artefacts=$3 work=$4 case=${5:-export}

for tool in Xvfb xdotool xprop import; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (scripts/setup installs it)"
    exit 77
  fi
done

caption='Informacje Tarnix/Tarnix-MAX 2 kw 2016 - poprawka'
mkdir -p "$artefacts" "$work"
dir=$(mktemp -d "$work/$case.XXXXXX") || exit 1
mkdir "$dir/tmp"
log=$dir/app.log
xvfb_pid= app_pid= bus_pid=
here=$(cd "$(dirname "$0")" && pwd)

cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null
  [ -n "$app_pid" ] && wait "$app_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  if [ -n "${DISPLAY:-}" ] && [ -n "$xvfb_pid" ]; then
    timeout 30 import -window root "$artefacts/rob216-$case-failure.png" 2>/dev/null &&
      echo "screen at the failure: $artefacts/rob216-$case-failure.png" >&2
  fi
  [ -s "$log" ] && { echo "--- program output:" >&2; cat "$log" >&2; }
  exit 1
}

. "$here/display.sh"

# Visible windows of the program, one id a line.
app_windows() { xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null; }
# Title (WM_NAME) of a window, without quotes.
title_of() { xprop -id "$1" WM_NAME 2>/dev/null | sed -n 's/^WM_NAME([A-Z_0-9]*) = "\(.*\)"$/\1/p'; }
# The visible window of the program whose title is exactly $1 (empty: untitled),
# other than window $2.
window_titled() {
  local w
  for w in $(app_windows); do
    [ "$w" = "${2:-}" ] && continue
    if xprop -id "$w" WM_NAME 2>/dev/null | grep -q '^WM_NAME' && [ "$(title_of "$w")" = "$1" ]; then
      echo "$w"
      return 0
    fi
  done
  return 1
}
find_window() { found=$(window_titled "$1" "${2:-}") && [ -n "$found" ]; }

# Width and height of a PNG file from its header; fails when it is not a PNG.
png_size() {
  [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] || return 1
  local w h
  w=$(od -An -tu1 -j16 -N4 "$1" | awk '{print $1*16777216 + $2*65536 + $3*256 + $4}')
  h=$(od -An -tu1 -j20 -N4 "$1" | awk '{print $1*16777216 + $2*65536 + $3*256 + $4}')
  echo "$w $h"
}

start_display 1280x1024x24

# A private session bus for the accessibility bus, when the tools are there.
a11y=0
unset DBUS_SESSION_BUS_ADDRESS
if command -v dbus-daemon >/dev/null 2>&1 &&
   timeout 30 /usr/bin/python3 -c 'import gi; gi.require_version("Atspi", "2.0")' 2>/dev/null; then
  bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null) &&
    export DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$bus") && bus_pid=$(sed -n 2p <<<"$bus") &&
    [ -n "$DBUS_SESSION_BUS_ADDRESS" ] && a11y=1
fi
[ $a11y = 1 ] || echo "note: no session bus or accessibility library, the shown texts are not read back"
bridge=1
[ $a11y = 1 ] && bridge=

# The texts the program shows, as "window title<TAB>text" lines.
texts() { timeout 15 /usr/bin/python3 "$here/a11y_texts.py" "$app_pid" 2>/dev/null; }
# Waits until the texts contain the line $1 exactly.
shows_line() { texts >"$dir/texts" && grep -qxF -- "$1" "$dir/texts"; }

target="$dir/kopie/ROB 2016"   # the last level does not exist yet: the export creates it
mkdir -p "$dir/kopie"
# Something that cannot be removed where the archive is staged makes the export fail.
[ "$case" = error ] && mkdir -p "$dir/tmp/_xkgcsa9fjsk8_.tmp/in-the-way"
env -u WAYLAND_DISPLAY ${bridge:+NO_AT_BRIDGE=1} ROB216_UI=gtk TMPDIR="$dir/tmp" GTK_THEME=Adwaita GSETTINGS_BACKEND=memory \
  LANG=C.UTF-8 LC_ALL=C.UTF-8 GDK_BACKEND=x11 "$prog" >"$log" 2>&1 &
app_pid=$!

wait_for 30 find_window "$caption" || fail "the main window did not appear"
main=$found

# The main window as the user sees it, kept as an artefact.
shot=$artefacts/rob216-main.png
rm -f "$shot"
sleep 0.5  # let the first frame be drawn
timeout 30 import -window "$main" "$shot" || fail "no screenshot of the main window"
size=$(png_size "$shot") || fail "$shot is not a PNG"
read -r w h <<<"$size"
# The client area is 423 x 132; a window manager may add its frame.
[ "$w" -ge 423 ] && [ "$w" -le 460 ] && [ "$h" -ge 132 ] && [ "$h" -le 180 ] ||
  fail "main window screenshot is $w x $h, expected 423 x 132 plus a frame at most"
echo "main window: $w x $h, screenshot $shot"

# Not resizable: GTK gives a fixed-size window equal minimum and maximum sizes.
hints=$(xprop -id "$main" WM_NORMAL_HINTS)
min=$(sed -n 's/.*minimum size: \([0-9]* by [0-9]*\).*/\1/p' <<<"$hints")
max=$(sed -n 's/.*maximum size: \([0-9]* by [0-9]*\).*/\1/p' <<<"$hints")
[ -n "$min" ] && [ "$min" = "$max" ] || fail "the main window is resizable: $hints"
xprop -id "$main" _NET_WM_WINDOW_TYPE | grep -q _NET_WM_WINDOW_TYPE_DIALOG ||
  fail "the main window is not a dialog window"

if [ $a11y = 1 ]; then
  wait_for 20 shows_line "$caption"$'\t[Zapisz plik ROB216.dbf]' ||
    fail "the button's caption was not read back: $(cat "$dir/texts")"
  # The memo's four lines exactly, trailing blanks included.
  printf '%s\t%s\n' \
    "$caption" 'Program generuje poprawny plik rob216.dbf dla cennika Korvant "Informacje ' \
    "$caption" 'kwartalne Tarnix/Tarnix-MAX 2 kw 2016" zawierający stawki robocizny kosztorysowej. ' \
    "$caption" 'Zapisany plik można zaimportować do programu kosztorysowego razem ' \
    "$caption" 'z pozostałymi plikami .dbf wyekesportowanymi z płyty CD z cennikiem.' \
    "$caption" '[Zapisz plik ROB216.dbf]' >"$dir/expected"
  diff "$dir/expected" "$dir/texts" || fail "the main window shows other texts"
fi

# The button: 8,95 407 x 25 in client coordinates.
if [ "$case" = error ]; then
  xdotool mousemove --window "$main" 211 107 click 1 || fail "click on the button failed"
  wait_for 30 find_window "$caption" "$main" || fail "no error box after a failed staging"
  errbox=$found
  timeout 30 import -window "$errbox" "$artefacts/rob216-error-box.png" 2>/dev/null
  if [ $a11y = 1 ]; then
    wait_for 20 shows_line "$caption"$'\t[OK]' || fail "the error box has no OK button: $(cat "$dir/texts")"
    grep -qF "$caption"$'\tCannot create file "'"$dir/tmp/_xkgcsa9fjsk8_.tmp"'"' "$dir/texts" ||
      fail "the error box does not show the error's text: $(cat "$dir/texts")"
    echo "error box: $(grep -F 'Cannot create' "$dir/texts" | cut -f2)"
  fi
  timeout 5 xdotool windowfocus --sync "$errbox" 2>/dev/null || xdotool windowfocus "$errbox"
  xdotool key --clearmodifiers Return
  wait_for 20 sh -c "! xdotool search --onlyvisible --pid $app_pid 2>/dev/null | grep -qx $errbox" ||
    fail "the error box did not close"
  # The program goes on: its window is there and takes the next click.
  kill -0 "$app_pid" 2>/dev/null || fail "the program ended after the error"
  find_window "$caption" && [ "$found" = "$main" ] || fail "the main window is gone after the error"
  rm -rf "$dir/tmp/_xkgcsa9fjsk8_.tmp"
fi
xdotool mousemove --window "$main" 211 107 click 1 || fail "click on the button failed"

chooser_title='Select a folder'
wait_for 20 find_window "$chooser_title" || fail "the folder chooser did not appear"
chooser=$found
timeout 30 import -window "$chooser" "$artefacts/rob216-chooser.png" 2>/dev/null
timeout 5 xdotool windowfocus --sync "$chooser" 2>/dev/null || xdotool windowfocus "$chooser"

if [ "$case" = cancel ]; then
  xdotool key --clearmodifiers Escape
else
  xdotool key --clearmodifiers ctrl+l
  sleep 0.5
  xdotool type --delay 15 "$target"
  sleep 0.5
  xdotool key --clearmodifiers Return
fi

# The result box: no title at all.
wait_for 60 find_window "" || fail "the result box did not appear"
box=$found
[ "$box" != "$main" ] || fail "the main window lost its title"
[ -z "$(title_of "$box")" ] || fail "the result box has a title"
timeout 30 import -window "$box" "$artefacts/rob216-$case-result.png" 2>/dev/null
if [ $a11y = 1 ]; then
  result='Aktualizacja zakończona.'
  [ "$case" = cancel ] && result='Aktualizacja zakończona z błędami.'
  wait_for 20 shows_line $'\t'"$result" || fail "the result box does not read '$result': $(cat "$dir/texts")"
  echo "result box: $result"
fi
timeout 5 xdotool windowfocus --sync "$box" 2>/dev/null || xdotool windowfocus "$box"
xdotool key --clearmodifiers Return

# Closing the result box ends the program.
wait_for 20 sh -c "! kill -0 $app_pid 2>/dev/null" || fail "the program did not end after the result box"
wait "$app_pid"
rc=$?
app_pid=
[ $rc -eq 0 ] || fail "exit code $rc"

[ ! -e "$dir/tmp/_xkgcsa9fjsk8_.tmp" ] || fail "staged archive left behind"
[ ! -e "$dir/tmp/DzEngine190.dll" ] || fail "staged engine left behind"

case $case in
  export|error)
    [ -f "$target/ROB216.dbf" ] || fail "no ROB216.dbf in '$target'"
    cmp "$table" "$target/ROB216.dbf" || fail "ROB216.dbf differs from the rate table"
    [ "$(ls -A "$target")" = ROB216.dbf ] || fail "unexpected files in the target: $(ls -A "$target")"
    ;;
  cancel)
    [ ! -e "$target" ] || fail "a cancelled chooser still created '$target'"
    ;;
esac
echo "PASS: $case"
exit 0
