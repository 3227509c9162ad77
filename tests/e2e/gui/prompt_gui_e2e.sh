#!/usr/bin/env bash
# The component's prompt dialog drawn by the GTK front end, answered with the
# keyboard on a private Xvfb display.
#   prompt_gui_e2e.sh PROBE ARTEFACTS CASE
# CASE: password-ok, password-escape, password-long (more than 80 characters typed),
# question-default (Enter), question-tab (Tab to the second button, Enter).
# Exit 77 (skipped) when Xvfb or xdotool is missing.
set -u
probe=$1 artefacts=$2 case=$3

for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
done
mkdir -p "$artefacts"
dir=$(mktemp -d) || exit 1
xvfb_pid= probe_pid=
cleanup() {
  [ -n "$probe_pid" ] && kill "$probe_pid" 2>/dev/null && wait "$probe_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; [ -s "$dir/out" ] && cat "$dir/out" >&2; exit 1; }
. "$(dirname "$0")/display.sh"

start_display 1024x768x24

kind=${case%%-*}
NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory LANG=C.UTF-8 "$probe" "$kind" >"$dir/out" 2>"$dir/err" &
probe_pid=$!
dialog_up() { win=$(xdotool search --onlyvisible --pid "$probe_pid" 2>/dev/null | head -n1) && [ -n "$win" ]; }
wait_for 20 dialog_up || fail "the dialog did not appear: $(cat "$dir/err")"
sleep 0.5
command -v import >/dev/null 2>&1 && timeout 30 import -window "$win" "$artefacts/prompt-$case.png" 2>/dev/null
timeout 5 xdotool windowfocus --sync "$win" 2>/dev/null || xdotool windowfocus "$win"

long=$(printf 'abcdefghij%.0s' $(seq 1 9))  # 90 characters
case $case in
  password-ok) xdotool type --delay 20 'tajne hasło'; xdotool key --clearmodifiers Return; expect=$'1\ttajne hasło' ;;
  password-escape) xdotool type --delay 20 'abc'; xdotool key --clearmodifiers Escape; expect=$'2\t' ;;
  password-long) xdotool type --delay 5 "$long"; xdotool key --clearmodifiers Return; expect=$'1\t'"${long:0:80}" ;;
  question-default) xdotool key --clearmodifiers Return; expect=$'6\t' ;;
  question-tab) xdotool key --clearmodifiers Tab; xdotool key --clearmodifiers Return; expect=$'7\t' ;;
  *) fail "unknown case $case" ;;
esac

wait_for 20 sh -c "! kill -0 $probe_pid 2>/dev/null" || fail "the dialog did not close"
wait "$probe_pid"; rc=$?; probe_pid=
[ $rc -eq 0 ] || fail "probe exit code $rc: $(cat "$dir/err")"
got=$(cat "$dir/out")
[ "$got" = "$expect" ] || fail "answer '$got', expected '$expect'"
echo "PASS: $case ($got)"
