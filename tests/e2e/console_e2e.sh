#!/usr/bin/env bash
# Runs the built rob216-update as a user at a terminal would: no display, the prompts
# answered on standard input.
#   console_e2e.sh PROGRAM TABLE WORKDIR CASE
# CASE: export (ROB216_UI=console), nodisplay (no ROB216_UI, no DISPLAY), cancel,
# badfolder, declined.
set -u
prog=$1 table=$2 work=$3 case=$4
fail() { echo "FAIL: $*" >&2; [ -f "$out" ] && { echo "--- output:" >&2; cat "$out" >&2; }; exit 1; }

mkdir -p "$work"
dir=$(mktemp -d "$work/$case.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/tmp"
out=$dir/output.txt
target=$dir/kopia

run() {  # run ENV_UI INPUT
  local ui=$1 input=$2
  if [ -n "$ui" ]; then
    printf '%s' "$input" | env -u DISPLAY -u WAYLAND_DISPLAY TMPDIR="$dir/tmp" ROB216_UI="$ui" \
      timeout 60 "$prog" >"$out" 2>&1
  else
    printf '%s' "$input" | env -u DISPLAY -u WAYLAND_DISPLAY -u ROB216_UI TMPDIR="$dir/tmp" \
      timeout 60 "$prog" >"$out" 2>&1
  fi
}

expect_text() { grep -qF -- "$1" "$out" || fail "output lacks '$1'"; }
no_staged() {
  [ ! -e "$dir/tmp/_xkgcsa9fjsk8_.tmp" ] || fail "staged archive left behind"
  [ ! -e "$dir/tmp/DzEngine190.dll" ] || fail "staged engine left behind"
}

case $case in
  export|nodisplay)
    ui=console; [ "$case" = nodisplay ] && ui=
    run "$ui" $'\n'"$target"$'\n\n'
    rc=$?
    [ $rc -eq 0 ] || fail "exit code $rc"
    expect_text "Informacje Tarnix/Tarnix-MAX 2 kw 2016 - poprawka"
    expect_text "Wybierz folder do zapisu kopii"
    expect_text "Aktualizacja zakończona."
    grep -qF "z błędami" "$out" && fail "reported errors"
    cmp "$table" "$target/ROB216.dbf" || fail "ROB216.dbf differs from $table"
    no_staged
    ;;
  cancel)
    run console $'\n\n\n'
    rc=$?
    [ $rc -eq 0 ] || fail "exit code $rc"
    expect_text "Aktualizacja zakończona z błędami."
    no_staged
    ;;
  badfolder)
    run console $'\n'"$dir/missing/kopia"$'\n\n\n'
    rc=$?
    [ $rc -eq 0 ] || fail "exit code $rc"
    expect_text "Błędny katalog: $dir/missing/kopia"
    expect_text "Aktualizacja zakończona z błędami."
    [ ! -e "$dir/missing" ] || fail "a missing parent folder was created"
    no_staged
    ;;
  declined)
    mkdir "$target" && echo keep >"$target/notes.txt"
    run console $'\n'"$target"$'\nn\n\n'
    rc=$?
    [ $rc -eq 0 ] || fail "exit code $rc"
    expect_text "Folder kopii istnieje"
    expect_text "Aktualizacja zakończona z błędami."
    [ ! -e "$target/ROB216.dbf" ] || fail "written although declined"
    no_staged
    ;;
  *) echo "unknown case $case" >&2; exit 2 ;;
esac
echo "ok: $case"
