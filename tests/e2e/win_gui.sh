#!/usr/bin/env bash
# The Windows window of rob216-update under wine64 on a private Xvfb display, driven
# as a user would: a screenshot of the main window (kept as an artefact), Enter on the
# button, a folder typed into the chooser's edit box, OK, the result box closed. The
# written ROB216.dbf must equal the rate table.
#   win_gui.sh PROGRAM.exe TABLE ARTEFACTS WORKDIR
# Exit 77 (skipped) when Xvfb, xdotool, a screenshot tool or wine is missing.
set -u
prog=$1 table=$2 artefacts=$3 work=$4
here=$(cd "$(dirname "$0")/../.." && pwd)
run=$here/cmake/toolchains/wine-run

for tool in Xvfb xdotool import; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done
if ! command -v wine64 >/dev/null 2>&1 && ! command -v wine >/dev/null 2>&1; then
  echo "SKIP: wine is not installed"
  exit 77
fi
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-zm}"

caption='Informacje Tarnix/Tarnix-MAX 2 kw 2016 - poprawka'
mkdir -p "$artefacts" "$work"
dir=$(mktemp -d "$work/gui.XXXXXX") || exit 1
log=$dir/app.log
xvfb_pid= app_pid= top= desk= desk_was=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$app_pid" ] && { sleep 1; kill -9 "$app_pid" 2>/dev/null; wait "$app_pid" 2>/dev/null; }
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && wait "$xvfb_pid" 2>/dev/null
  [ -n "$desk_was" ] && ln -sfn "$desk_was" "$desk"
  rm -rf "$dir" "$top"
}
trap cleanup EXIT
trap "exit 1" INT TERM
fail() {
  [ -n "$xvfb_pid" ] && import -window root "$artefacts/rob216-update-win64-failed.png" 2>/dev/null
  echo "FAIL: $*" >&2; [ -f "$log" ] && { echo "--- program output:" >&2; cat "$log" >&2; }
  exit 1
}

# A free display number.
n=$((90 + RANDOM % 100))
while [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$n"
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

# waitwin NAME-REGEX SECONDS: the id of the first visible window whose name matches.
waitwin() {
  local id i
  for ((i = 0; i < $2 * 5; i++)); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  return 1
}

top=$(mktemp -d /tmp/zmgui.XXXXXX) || exit 1
target=$top/kopia
mkdir "$target"  # an existing empty folder
# wine's chooser answers with the folder tree's selection, Desktop when it opens, and
# ignores a typed path: for this run the prefix's Desktop is the target folder.
desk=$(ls -d "$WINEPREFIX"/drive_c/users/*/Desktop 2>/dev/null | grep -v /Public/ | head -1)
[ -L "$desk" ] || { echo "SKIP: the wine prefix has no Desktop link"; exit 77; }
desk_was=$(readlink "$desk")
ln -sfn "$target" "$desk"
wintarget="Z:${target//\//\\}"

# Started directly (not through wine-run's pipe), so that its id is the program's.
wine=$(command -v wine64 || command -v wine)
env -u ROB216_UI WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" "$prog" >"$log" 2>&1 &
app_pid=$!

main=$(waitwin "^$caption\$" 180) || fail "the main window did not appear"
sleep 1
shot=$artefacts/rob216-update-win64.png
import -window "$main" "$shot" 2>/dev/null || fail "no screenshot of the main window"
[ -s "$shot" ] || fail "empty screenshot"
# The client area is 423 by 132 pixels inside a fixed frame.
geom=$(xdotool getwindowgeometry "$main" | sed -n 's/.*Geometry: //p')
echo "main window $main, geometry $geom, screenshot $shot"

xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus "$main"
sleep 0.5
xdotool key --clearmodifiers Return

chooser=$(waitwin "Browse|Przegl|Folder" 30) || fail "the folder chooser did not appear"
[ "$chooser" != "$main" ] || fail "the chooser is the main window"
sleep 1
import -window "$chooser" "$artefacts/rob216-update-win64-chooser.png" 2>/dev/null
# The edit box under the tree takes the typed path, then OK.
cgeom=$(xdotool getwindowgeometry "$chooser" | sed -n 's/.*Geometry: //p')
cw=${cgeom%x*} ch=${cgeom#*x}
xdotool windowactivate --sync "$chooser" 2>/dev/null || xdotool windowfocus "$chooser"
xdotool mousemove --window "$chooser" $((cw * 3 / 5)) $((ch - 60)) click 1
sleep 0.3
xdotool key --clearmodifiers End shift+Home BackSpace
xdotool type --delay 20 "$wintarget"
sleep 0.5
import -window "$chooser" "$artefacts/rob216-update-win64-chooser-typed.png" 2>/dev/null
# OK: the middle one of the three buttons along the bottom edge.
xdotool mousemove --window "$chooser" $((cw * 3 / 5)) $((ch - 22)) click 1

# The result box has an empty title; it is the new window of the program. Where the
# system lists no "." and ".." in the empty folder, the not-empty question comes
# first: Yes (its default button).
box= asked=
for _ in $(seq 300); do
  if [ -z "$asked" ] && q=$(xdotool search --onlyvisible --name '^Folder kopii istnieje$' 2>/dev/null | head -1) &&
     [ -n "$q" ]; then
    asked=1
    echo "the not-empty question was asked: Yes"
    xdotool windowactivate --sync "$q" 2>/dev/null || xdotool windowfocus "$q"
    xdotool key --clearmodifiers Return
  fi
  [ -f "$target/ROB216.dbf" ] && box=$(xdotool search --onlyvisible --name '^$' 2>/dev/null | tail -1)
  kill -0 "$app_pid" 2>/dev/null || break
  [ -n "$box" ] && break
  sleep 0.2
done
[ -f "$target/ROB216.dbf" ] || fail "ROB216.dbf was not written into the typed folder"
cmp "$table" "$target/ROB216.dbf" || fail "ROB216.dbf differs from $table"
sleep 1
import -window root "$artefacts/rob216-update-win64-result.png" 2>/dev/null
# OK on the result box: each small unnamed visible window in turn gets Enter.
for _ in $(seq 10); do
  kill -0 "$app_pid" 2>/dev/null || break
  for w in $(xdotool search --onlyvisible --name '^$' 2>/dev/null); do
    [ "$w" = "$main" ] && continue
    xdotool windowactivate --sync "$w" 2>/dev/null || xdotool windowfocus "$w" 2>/dev/null
    xdotool key --clearmodifiers Return
    sleep 0.5
    kill -0 "$app_pid" 2>/dev/null || break
  done
  sleep 0.5
done
for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.2; done
if kill -0 "$app_pid" 2>/dev/null; then fail "the program did not end after the result box"; fi
wait "$app_pid"
rc=$?
app_pid=
[ $rc -eq 0 ] || fail "exit code $rc"
echo "PASS: window shown, folder typed in the chooser, ROB216.dbf equal to the table"
