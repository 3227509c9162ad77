#!/usr/bin/env bash
# The Windows build of rob216-update under wine64, driven through its console front
# end: button, an existing empty target folder (which must not count as full: folders
# on wine's drive Z: list no "." and ".."), the result box. The written ROB216.dbf must equal
# the rate table, and no staged file may stay in the Windows temporary folder.
#   win_export.sh PROGRAM.exe TABLE WORKDIR
set -u
prog=$1 table=$2 work=$3
here=$(cd "$(dirname "$0")/../.." && pwd)
run=$here/cmake/toolchains/wine-run
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-zm}"

mkdir -p "$work"
dir=$(mktemp -d "$work/export.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT
out=$dir/output.txt
fail() { echo "FAIL: $*" >&2; [ -f "$out" ] && { echo "--- output:" >&2; cat "$out" >&2; }; exit 1; }

# Unix paths are drive Z: under wine.
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
target=$dir/kopia
mkdir "$target"

printf '\n%s\n\n' "$(winpath "$target")" |
  ROB216_UI=console timeout 120 "$run" "$prog" >"$out" 2>&1
rc=$?
[ $rc -eq 0 ] || fail "exit code $rc"
grep -qF "Aktualizacja zakończona." "$out" || fail "no result box"
grep -qF "z błędami" "$out" && fail "reported errors"
grep -qF "nie jest pusty" "$out" && fail "the empty folder was taken for a full one"
[ -f "$target/ROB216.dbf" ] || fail "ROB216.dbf was not written"
cmp "$table" "$target/ROB216.dbf" || fail "ROB216.dbf differs from $table"
temp=$(ls -d "$WINEPREFIX"/drive_c/users/*/Temp 2>/dev/null | head -1)
if [ -n "$temp" ]; then
  [ ! -e "$temp/_xkgcsa9fjsk8_.tmp" ] || fail "staged archive left in $temp"
  [ ! -e "$temp/DzEngine190.dll" ] || fail "staged engine left in $temp"
fi
echo "PASS: ROB216.dbf written under wine64 ($(stat -c %s "$target/ROB216.dbf") bytes, equal to the table)"
