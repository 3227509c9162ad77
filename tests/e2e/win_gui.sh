#!/usr/bin/env bash
# The Windows window of rob216-update under wine64 on a private Xvfb display, driven
# as a user would: a screenshot of the main window (kept as an artefact), a click on
# the button, a folder typed into the chooser's edit box, Enter, the result box
# closed. The written ROB216.dbf must equal the rate table.
# Every step waits for the state it needs (window shown and painted, keyboard focus,
# selection in the edit box, file written), each with a generous time limit, so that
# a slow or loaded machine only makes the run longer. On failure a screenshot of the
# whole screen is kept.
#   win_gui.sh PROGRAM.exe TABLE ARTEFACTS WORKDIR
# Exit 77 (skipped) when Xvfb, xdotool, ImageMagick or wine is missing.
set -u
prog=$1 table=$2 artefacts=$3 work=$4

for tool in Xvfb xdotool import identify flock; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done
wine=$(command -v wine64 || command -v wine || true)
if [ -z "$wine" ]; then
  echo "SKIP: wine is not installed"
  exit 77
fi
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-zm}"
# Time limit of each wait, in seconds; ZM_GUI_SLOW multiplies them.
slow=${ZM_GUI_SLOW:-1}

caption='Informacje Tarnix/Tarnix-MAX 2 kw 2016 - poprawka'
question='Folder kopii istnieje'
mkdir -p "$artefacts" "$work"
dir=$(mktemp -d "$work/gui.XXXXXX") || exit 1
log=$dir/app.log
xvfb_pid='' app_pid='' top='' desk='' desk_saved='' t0=$SECONDS
rm -f "$artefacts/rob216-update-win64-failed.png"

say() { echo "[$((SECONDS - t0)) s] $*"; }

stop_app() {
  [ -n "$app_pid" ] || return 0
  kill "$app_pid" 2>/dev/null
  for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$app_pid" 2>/dev/null
  wait "$app_pid" 2>/dev/null
  app_pid=
}
restore_desktop() {
  if [ -n "$desk_saved" ] && [ -f "$desk_saved" ]; then
    ln -sfn "$(cat "$desk_saved")" "$desk" && rm -f "$desk_saved"
  fi
}
cleanup() {
  stop_app
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
  restore_desktop
  rm -rf "$dir" "$top"
}
trap cleanup EXIT
trap "exit 1" INT TERM
fail() {
  [ -n "$xvfb_pid" ] && import -window root "$artefacts/rob216-update-win64-failed.png" 2>/dev/null &&
    echo "screen at the failure: $artefacts/rob216-update-win64-failed.png" >&2
  echo "FAIL [$((SECONDS - t0)) s]: $*" >&2
  if [ -n "$app_pid" ] && ! kill -0 "$app_pid" 2>/dev/null; then
    wait "$app_pid"
    echo "(the program had ended, exit code $?)" >&2
    app_pid=''
  fi
  [ -s "$log" ] && { echo "--- program output:" >&2; cat "$log" >&2; }
  exit 1
}

# One run at a time per prefix: the run borrows the prefix's Desktop folder (below).
exec 9>"$WINEPREFIX/.zm-gui.lock" || fail "cannot open the lock in $WINEPREFIX"
flock -w $((900 * slow)) 9 || fail "another window test kept $WINEPREFIX for 15 minutes"

# A private display; Xvfb picks a free number and writes it once it accepts clients.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" 9>&- >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq $((300 * slow))); do [ -s "$dir/display" ] && break; sleep 0.2; done
[ -s "$dir/display" ] || fail "Xvfb did not start"
DISPLAY=":$(head -1 "$dir/display")"
export DISPLAY
xdotool getmouselocation >/dev/null 2>&1 || fail "no connection to Xvfb on $DISPLAY"

# wait_for SECONDS COMMAND...: runs COMMAND every 0.2 s until it succeeds; false when
# the time is up or the program has ended.
wait_for() {
  local end=$((SECONDS + $1 * slow)); shift
  while :; do
    "$@" && return 0
    kill -0 "$app_pid" 2>/dev/null || return 1
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.2
  done
}

# The program's visible top-level windows, one "ID NAME" per line.
app_windows() {
  local w
  for w in $(xdotool search --onlyvisible --classname '^rob216-update\.exe$' 2>/dev/null); do
    printf '%s %s\n' "$w" "$(xdotool getwindowname "$w" 2>/dev/null)"
  done
}
# find_window NAME-TEST: sets $found to the first program window whose name passes
# the awk test (on $0, the name) and that is not the main window.
find_window() {
  found=$(app_windows | awk -v main="${main:-none}" '{ id = $1; sub(/^[0-9]+ ?/, "") }
                                                  id != main && ('"$1"') { print id; exit }')
  [ -n "$found" ]
}
has_window() { app_windows | awk -v id="$1" '$1 == id { f = 1 } END { exit !f }'; }
size_of() { xdotool getwindowgeometry "$1" 2>/dev/null | sed -n 's/.*Geometry: //p'; }

last_sum=
# painted ID MIN-COLOURS: true once two captures in a row are equal and show at least
# MIN-COLOURS colours (a window not drawn yet is one flat colour).
painted() {
  local cap=$dir/capture.ppm sum colours
  import -window "$1" -depth 8 "ppm:$cap" 2>/dev/null || return 1
  sum=$(md5sum <"$cap") colours=$(identify -format %k "$cap" 2>/dev/null || echo 0)
  if [ "$colours" -ge "$2" ] && [ "$sum" = "${last_sum:-}" ]; then last_sum=; return 0; fi
  last_sum=$sum
  return 1
}
# focused ID: gives ID the keyboard focus and tells whether it has it.
focused() {
  timeout 10 xdotool windowfocus --sync "$1" >/dev/null 2>&1
  [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]
}
# strip_colours ID GEOMETRY: the colours in a part of a window, "count r g b" per line.
strip_colours() {
  import -window "$1" -crop "$2" +repage -depth 8 -format %c histogram:info:- 2>/dev/null |
    sed -n 's/^ *\([0-9]*\): *(\([0-9]*\),\([0-9]*\),\([0-9]*\)).*/\1 \2 \3 \4/p'
}
# selection_shown ID GEOMETRY: a coloured (not grey) area of some size there, which in
# an edit box is its selection.
selection_shown() {
  strip_colours "$1" "$2" | awk '{ hi = $2; lo = $2
                                   if ($3 > hi) hi = $3; if ($4 > hi) hi = $4
                                   if ($3 < lo) lo = $3; if ($4 < lo) lo = $4
                                   if (hi - lo > 60) n += $1 }
                                 END { exit !(n >= 50) }'
}
strip_sum() { import -window "$1" -crop "$2" +repage -depth 8 rgb:- 2>/dev/null | md5sum; }

top=$(mktemp -d /tmp/zmgui.XXXXXX) || exit 1
target=$top/kopia
mkdir "$target"  # an existing empty folder
# wine's chooser answers with the folder tree's selection, Desktop when it opens, and
# ignores a typed path: for this run the prefix's Desktop is the target folder. The
# link's old target is kept in the prefix, so that a run that was killed is undone by
# the next one.
for d in "$WINEPREFIX"/drive_c/users/*/Desktop; do
  [ -L "$d" ] && [ "${d%/Public/Desktop}" = "$d" ] && { desk=$d; break; }
done
[ -n "$desk" ] || { echo "SKIP: the wine prefix has no Desktop link"; exit 77; }
desk_saved=$WINEPREFIX/.zm-gui-desktop
restore_desktop
readlink "$desk" >"$desk_saved" || fail "cannot read the Desktop link"
ln -sfn "$target" "$desk" || fail "cannot point the Desktop link at $target"
wintarget="Z:${target//\//\\}"

# A wine server still running for programs started without a display (the unit tests,
# the console export) keeps their display-less desktop, and a window program started
# under it ends at once with exit code 1: wait for that server to end, then stop it if
# it lingers.
server=$(command -v wineserver || true)
if [ -n "$server" ]; then
  timeout $((60 * slow)) "$server" -w 9>&- || "$server" -k 9>&-
fi

# Started directly (not through wine-run's pipe), so that its id is the program's.
env -u ROB216_UI WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" "$prog" >"$log" 2>&1 9>&- &
app_pid=$!

# The main window: shown, drawn, the exact client size, kept as a picture.
main=
wait_for 300 find_window "\$0 == \"$caption\"" || fail "the main window did not appear"
main=$found
say "main window $main"
wait_for 120 painted "$main" 8 || fail "the main window was not drawn"
geom=$(size_of "$main")
[ "$geom" = 423x132 ] || fail "the main window's client area is $geom, not 423x132"
shot=$artefacts/rob216-update-win64.png
import -window "$main" "$shot" 2>/dev/null || fail "no screenshot of the main window"
[ -s "$shot" ] || fail "empty screenshot of the main window"
say "main window drawn, $geom, screenshot $shot"

# The button (client 8,95 407x25): focus, then a click in its middle. The chooser is
# the program's new window with a name (the dialog's caption is wine's). A click that
# came too early is given again; once the chooser is open the main window is disabled
# and a second click does nothing.
wait_for 60 focused "$main" || fail "the main window did not take the keyboard focus"
chooser_shown() { find_window "\$0 != \"\" && \$0 != \"$question\""; }
button_pressed() {
  focused "$main" && xdotool mousemove --window "$main" 211 107 click 1
  wait_for 30 chooser_shown
}
wait_for 150 button_pressed || fail "the folder chooser did not appear"
chooser=$found
say "folder chooser $chooser"
wait_for 60 painted "$chooser" 16 || fail "the folder chooser was not drawn"
import -window "$chooser" "$artefacts/rob216-update-win64-chooser.png" 2>/dev/null
cgeom=$(size_of "$chooser")
cw=${cgeom%x*} ch=${cgeom#*x}
# The edit box lies above the row of buttons along the bottom edge, right of its label.
ex=$((cw * 3 / 5)) ey=$((ch - 60))
strip="$((cw / 2))x18+$((cw / 4))+$((ey - 9))"
wait_for 60 focused "$chooser" || fail "the folder chooser did not take the keyboard focus"
# A click into the edit box, then its text selected: the selection shows once the
# edit box has the keyboard focus (tried again while it does not).
edit_selected() {
  xdotool mousemove --window "$chooser" "$ex" "$ey" click 1 key --clearmodifiers End shift+Home
  wait_for 10 selection_shown "$chooser" "$strip"
}
wait_for 90 edit_selected || fail "the chooser's edit box did not take the keyboard focus"
say "edit box focused, its text selected"
selected=$(strip_sum "$chooser" "$strip")
xdotool type --delay 20 "$wintarget"
typed() { ! selection_shown "$chooser" "$strip" && [ "$(strip_sum "$chooser" "$strip")" != "$selected" ]; }
wait_for 60 typed || fail "the typed folder did not replace the edit box's text"
import -window "$chooser" "$artefacts/rob216-update-win64-chooser-typed.png" 2>/dev/null
say "typed $wintarget"
# Enter in the edit box is the dialog's OK.
xdotool key --clearmodifiers Return
chooser_gone() { ! has_window "$chooser"; }
wait_for 60 chooser_gone || fail "the folder chooser did not close on Enter"

# Then the result box: the program's window with an empty title, once the file is
# written. The folder is empty, so the not-empty question must not come.
result_box() {
  find_window "\$0 == \"$question\"" && fail "the empty target folder was taken for a full one"
  [ -f "$target/ROB216.dbf" ] || return 1
  local w
  for w in $(app_windows | awk -v main="$main" '$1 != main && NF == 1 { print $1 }'); do
    local g; g=$(size_of "$w")
    # Tooltips and other small helpers are no message box.
    [ "${g%x*}" -ge 100 ] 2>/dev/null && [ "${g#*x}" -ge 50 ] 2>/dev/null && { box=$w; return 0; }
  done
  return 1
}
box=
wait_for 300 result_box || {
  [ -f "$target/ROB216.dbf" ] || fail "ROB216.dbf was not written into the chosen folder"
  fail "no result box after writing ROB216.dbf"
}
cmp "$table" "$target/ROB216.dbf" || fail "ROB216.dbf differs from $table"
say "ROB216.dbf written, equal to the table; result box $box"
wait_for 60 painted "$box" 8 || fail "the result box was not drawn"
import -window "$box" "$artefacts/rob216-update-win64-result.png" 2>/dev/null

# Enter on the result box (its OK is the focused button) ends the program.
box_closed() {
  has_window "$box" || return 0
  focused "$box" && xdotool key --clearmodifiers Return
  local i
  for ((i = 0; i < 50 * slow; i++)); do
    has_window "$box" || return 0
    sleep 0.2
  done
  return 1
}
wait_for 120 box_closed || fail "the result box did not close on Enter"
exited() { ! kill -0 "$app_pid" 2>/dev/null; }
for _ in $(seq $((300 * slow))); do exited && break; sleep 0.2; done
exited || fail "the program did not end after the result box"
wait "$app_pid"
rc=$?
app_pid=
[ $rc -eq 0 ] || fail "exit code $rc"
say "PASS: window shown, folder typed in the chooser, ROB216.dbf equal to the table"
