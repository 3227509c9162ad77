# Helpers of the window scripts, sourced by them. They need $dir (the script's own
# folder of scratch files) and a function fail.

# Waits up to $1 seconds for command "$2..." to succeed.
wait_for() {
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.2
  done
  return 0
}

# Starts a private Xvfb display of size $1 (WIDTHxHEIGHTxDEPTH), its process in
# $xvfb_pid, and exports DISPLAY once it accepts clients.
start_display() {
  exec 3>"$dir/display"
  Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp -noreset >"$dir/xvfb.log" 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  wait_for 20 test -s "$dir/display" || fail "Xvfb did not start: $(cat "$dir/xvfb.log")"
  export DISPLAY=":$(head -n1 "$dir/display")"
}
