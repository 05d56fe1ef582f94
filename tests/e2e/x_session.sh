# SPDX-License-Identifier: Apache-2.0
# Shared by the real-window tests (sourced, not run): a temporary folder, the
# clean-up of the program and of the X server at exit, fail and poll, and
# start_xvfb, which starts a private Xvfb on a free display and exports DISPLAY.
# Expects screen_width, screen_height and wait_seconds to be set.

work=$(mktemp -d)
xvfb_pid=
app_pid=
cleanup() {
  [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  exit 1
}

# Polls `$@` every 0.1 s until it succeeds, for at most $seconds (wait_seconds by default).
poll() {
  local tries=$((${seconds:-$wait_seconds} * 10))
  while ((tries-- > 0)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

start_xvfb() {
  # Xvfb picks a free display itself and writes its number on the descriptor given.
  local display_fd display_number=
  exec {display_fd}<> <(:)
  # -noreset: the server would otherwise reset whenever its last client leaves (each xdotool
  # call is a client), and a program connecting during the reset fails.
  Xvfb -displayfd "$display_fd" -screen 0 "${screen_width}x${screen_height}x24" -nolisten tcp -noreset \
    >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  read -r -t "$wait_seconds" display_number <&"$display_fd" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  exec {display_fd}<&-
  export DISPLAY=":$display_number"
  # The program must reach this X server, whatever the caller's Qt settings.
  unset QT_QPA_PLATFORM WAYLAND_DISPLAY
}
