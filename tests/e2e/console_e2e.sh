#!/usr/bin/env bash
# Runs the built rob216-update as a user at a terminal would: no display, the prompts
# answered on standard input.
#   console_e2e.sh PROGRAM TABLE WORKDIR CASE
# CASE: export (ROB216_UI=console), nodisplay (no ROB216_UI, no DISPLAY), cancel,
# badfolder, declined, signal (SIGINT, SIGTERM, SIGHUP at the folder prompt), fulltmp
# (a temporary folder too small for the engine; needs a mount namespace, else skipped
# with status 77).
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

# Runs as run does and requires exit code 0.
run_ok() {
  run "$@"
  local rc=$?
  [ $rc -eq 0 ] || fail "exit code $rc"
}

expect_text() { grep -qF -- "$1" "$out" || fail "output lacks '$1'"; }
no_staged() {
  [ ! -e "$dir/tmp/_xkgcsa9fjsk8_.tmp" ] || fail "staged archive left behind"
  [ ! -e "$dir/tmp/DzEngine190.dll" ] || fail "staged engine left behind"
}

case $case in
  export|nodisplay)
    ui=console; [ "$case" = nodisplay ] && ui=
    run_ok "$ui" $'\n'"$target"$'\n\n'
    expect_text "Informacje Tarnix/Tarnix-MAX 2 kw 2016 - poprawka"
    expect_text "Wybierz folder do zapisu kopii"
    expect_text "Aktualizacja zakończona."
    grep -qF "z błędami" "$out" && fail "reported errors"
    cmp "$table" "$target/ROB216.dbf" || fail "ROB216.dbf differs from $table"
    no_staged
    ;;
  cancel)
    run_ok console $'\n\n\n'
    expect_text "Aktualizacja zakończona z błędami."
    no_staged
    ;;
  badfolder)
    run_ok console $'\n'"$dir/missing/kopia"$'\n\n\n'
    expect_text "Błędny katalog: $dir/missing/kopia"
    expect_text "Aktualizacja zakończona z błędami."
    [ ! -e "$dir/missing" ] || fail "a missing parent folder was created"
    no_staged
    ;;
  declined)
    mkdir "$target" && echo keep >"$target/notes.txt"
    run_ok console $'\n'"$target"$'\nn\n\n'
    expect_text "Folder kopii istnieje"
    expect_text "Aktualizacja zakończona z błędami."
    [ ! -e "$target/ROB216.dbf" ] || fail "written although declined"
    no_staged
    ;;
  signal)
    for sig in INT TERM HUP; do
      mkfifo "$dir/in.$sig"
      # The signals at their defaults: a background command starts with SIGINT ignored,
      # and the caller may ignore SIGHUP.
      env --default-signal=INT,TERM,HUP -u DISPLAY -u WAYLAND_DISPLAY TMPDIR="$dir/tmp" \
        ROB216_UI=console "$prog" <"$dir/in.$sig" >"$out" 2>&1 &
      pid=$!
      exec 3>"$dir/in.$sig"
      printf '\n' >&3
      for _ in $(seq 300); do grep -qF "Wybierz folder do zapisu kopii" "$out" && break; sleep 0.1; done
      expect_text "Wybierz folder do zapisu kopii"
      [ -e "$dir/tmp/_xkgcsa9fjsk8_.tmp" ] && [ -e "$dir/tmp/DzEngine190.dll" ] ||
        fail "nothing staged at the prompt"
      kill -"$sig" "$pid"
      wait "$pid"
      rc=$?
      exec 3>&-
      [ $rc -eq $((128 + $(kill -l "$sig"))) ] || fail "SIG$sig: exit code $rc"
      no_staged
    done
    ;;
  fulltmp)
    # Room for the archive, not for the engine. The mount lives as long as the shell
    # inside the namespace, which therefore also looks at what is left.
    command -v unshare >/dev/null || { echo "skip: no unshare"; exit 77; }
    printf '\n%s\n\n' "$target" | env -u DISPLAY -u WAYLAND_DISPLAY ROB216_UI=console \
      unshare -m bash -c 'mount -t tmpfs -o size=64k tmpfs "$1" || exit 77
        TMPDIR="$1" timeout 60 "$2"; echo "exit code $?"; echo "left:" $(ls -A "$1")' \
      _ "$dir/tmp" "$prog" >"$out" 2>&1
    rc=$?
    [ $rc -eq 77 ] && { echo "skip: no mount namespace"; exit 77; }
    expect_text "exit code 1"
    expect_text "$dir/tmp/DzEngine190.dll"
    expect_text "There is not enough space on the disk"
    grep -q "^left: *$" "$out" || fail "staged files left behind"
    ;;
  *) echo "unknown case $case" >&2; exit 2 ;;
esac
echo "ok: $case"
