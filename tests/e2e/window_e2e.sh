#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The installer window on a real X server. Starts its own Xvfb on a free display and drives the
# program `install-conventions` with xdotool:
#   1. in a folder without the source database, the "Installation impossible " box is the only
#      window shown, and Enter ends the program with status 1;
#   2. with CONVENTIONS_TEST_KVEL.mdb beside it, the window is 513 x 237 pixels in all (a
#      507 x 231 client area in a 3-pixel frame), centred on the screen; its picture is saved;
#      its class and name are those of its desktop entry (WM_CLASS "installateur-conventions",
#      _NET_WM_NAME "Installation des conventions de test"), the name taskbars show;
#      Alt+A (Annuler) ends the program with status 0. Given a reference picture, the window's
#      picture must match it pixel for pixel.
# Before any X server: --help and --version answer on standard output, status 0, and a wrong
# word is refused with status 2, all without a window; with no display (none named, or one that
# does not answer) one French line on standard error and status 3, not Qt's abort.
# Usage: window_e2e.sh PROGRAM [SCREENSHOT.png [REFERENCE.png]]. Exit status 77 when a tool is
# missing.
set -u

program=${1:?usage: window_e2e.sh PROGRAM [SCREENSHOT.png [REFERENCE.png]]}
screenshot=${2:-$PWD/window.png}
reference=${3:-}
readonly screen_width=1024 screen_height=768
readonly wait_seconds=20

for tool in Xvfb xdotool xwininfo xprop import identify compare; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done

# shellcheck source=x_session.sh
source "$(dirname "$0")/x_session.sh"

# answers EXPECTED_STATUS EXPECTED_FIRST_STDOUT_LINE EXPECTED_STDERR_LINES [ENV ...] -- ARGUMENTS...
answers() {
  local status=$1 first=$2 lines=$3
  shift 3
  local environment=()
  while [[ $1 != -- ]]; do environment+=("$1") && shift; done
  shift
  env "${environment[@]}" timeout 20 "$program" "$@" >"$work/out" 2>"$work/err"
  local got=$?
  [[ $got == "$status" && $(head -n1 "$work/out") == "$first" && $(wc -l <"$work/err") == "$lines" ]] ||
    fail "'install-conventions $*' (${environment[*]}): status $got, out '$(head -n1 "$work/out")', err '$(cat "$work/err")'"
}
answers 0 "Utilisation : install-conventions [--help | --version]" 0 -u DISPLAY -- --help
answers 0 "Utilisation : install-conventions [--help | --version]" 0 -u DISPLAY -- -h
answers 0 "install-conventions 1.00" 0 -u DISPLAY -- --version
answers 2 "" 2 -- --version extra
no_display="install-conventions : aucun affichage graphique utilisable, la fenêtre ne peut pas s'ouvrir (sans fenêtre : vidange install)."
for unreachable in "-u DISPLAY" "DISPLAY=:4095"; do
  # shellcheck disable=SC2086  # the env arguments are meant to split
  answers 3 "" 1 -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM $unreachable --
  [[ $(cat "$work/err") == "$no_display" ]] || fail "with no display: '$(cat "$work/err")'"
done
(($(LC_ALL=C.UTF-8 "$program" --help | LC_ALL=C.UTF-8 wc -L) <= 80)) || fail "a help line is wider than 80 columns"
echo "ok: --help, --version and a wrong word answered without a window; no display said in French, status 3"

start_xvfb

# Starts a copy of the program from folder $1; sets app_pid.
start_program() {
  cp "$program" "$1/install-conventions"
  (cd / && exec "$1/install-conventions") >"$work/program.log" 2>&1 &
  app_pid=$!
}

# The visible top-level windows of the running program, one id a line.
visible_windows() {
  xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null
}

# Waits for the program to end and checks its exit status against $1.
expect_exit() {
  poll eval '! kill -0 "$app_pid" 2>/dev/null' || fail "the program did not end"
  wait "$app_pid"
  local status=$?
  app_pid=
  ((status == $1)) || fail "exit status $status, expected $1 ($(cat "$work/program.log"))"
}

# 1. The source database is missing.
mkdir "$work/without"
start_program "$work/without"
poll visible_windows >/dev/null || fail "no window appeared without the source database"
box=$(visible_windows)
[[ $(wc -l <<<"$box") -eq 1 ]] || fail "more than the message box is shown: $box"
[[ $(xdotool getwindowname "$box") == "Installation impossible " ]] ||
  fail "box title is '$(xdotool getwindowname "$box")'"
xdotool windowfocus --sync "$box"
xdotool key --clearmodifiers Return
expect_exit 1
echo "ok: missing source database reported, status 1"

# 2. The source database is there.
mkdir "$work/with"
echo "any content" >"$work/with/CONVENTIONS_TEST_KVEL.mdb"
start_program "$work/with"
poll visible_windows >/dev/null || fail "the installer window did not appear"
window=$(visible_windows)
[[ $(wc -l <<<"$window") -eq 1 ]] || fail "more than one window is shown: $window"

geometry=$(xwininfo -id "$window")
field() { awk -F: -v name="$1" '$1 ~ name { gsub(/ /, "", $2); print $2 }' <<<"$geometry"; }
x=$(field "Absolute upper-left X") y=$(field "Absolute upper-left Y")
width=$(field "Width") height=$(field "Height")
[[ $width == 513 && $height == 237 ]] || fail "window is ${width} x ${height}, expected 513 x 237"
centre_x=$(((screen_width - 513) / 2)) centre_y=$(((screen_height - 237) / 2))
((x >= centre_x - 1 && x <= centre_x + 1 && y >= centre_y - 1 && y <= centre_y + 1)) ||
  fail "window at $x,$y, expected about $centre_x,$centre_y"
echo "ok: window 513 x 237 at $x,$y, centred"

class=$(xprop -id "$window" WM_CLASS | sed 's/^[^=]*= //')
[[ $class == *', "installateur-conventions"' ]] || fail "window class $class"
name=$(xprop -id "$window" _NET_WM_NAME | sed 's/^[^=]*= //')
[[ $name == '"Installation des conventions de test"' ]] || fail "window name $name"
echo "ok: window class $class and name $name"

# Waits until the window is painted: the banner alone brings many colours.
painted() {
  import -silent -window root -crop "513x237+$x+$y" +repage "$work/window.png" 2>/dev/null &&
    (($(identify -format %k "$work/window.png") > 200))
}
poll painted || fail "the window was never painted"
mkdir -p "$(dirname "$screenshot")"
cp "$work/window.png" "$screenshot"
echo "ok: picture saved as $screenshot"
if [[ -n $reference ]]; then
  differing=$(compare -metric AE "$screenshot" "$reference" null: 2>&1)
  [[ $differing == 0 ]] || fail "the window's picture differs from $reference: $differing pixels"
  echo "ok: the picture matches $reference pixel for pixel"
fi

xdotool windowfocus --sync "$window"
xdotool key --clearmodifiers alt+a
expect_exit 0
echo "ok: Alt+A closed the window, status 0"
