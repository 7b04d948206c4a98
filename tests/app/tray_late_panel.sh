#!/usr/bin/env bash
# The notification-area icon of the real program, with a panel (icewm and its
# tray) that starts after the program, as at a login: the icon docks when the
# tray appears, "Do ikony" then hides the window into it and a click on the
# icon brings it back. Without a tray "Do ikony" minimises instead of hiding.
# Usage: tray_late_panel.sh PROGRAM DEMO_DIR
PROGRAM=$1
DEMO=$2
source "$(dirname "$0")/gui_session.sh"

# The window's X id, once shown.
main_window() {
  xdotool search --name '^Ostrakel$' | head -n 1
}

map_state() {
  xwininfo -id "$1" | awk '/Map State:/ {print $3}'
}

# The X id of the program's icon inside icewm's tray, when it is docked there.
docked_icon() {
  xwininfo -root -tree | grep -A 2 '"YXTrayEmbedder"' | awk '/"ostrakel"/ {print $1; found = 1; exit} END {exit !found}'
}

start_program() {
  local dir=$1
  prepare_program "$dir"
  "$dir/ostrakel" >"$dir/stdout" 2>&1 &
  started+=($!)
  wait_for 30 window_shown || fail "the window did not appear"
  window=$(main_window)
}

start_panel() {
  local config=$1
  ICEWM_PRIVCFG=$config icewm >"$config/icewm.log" 2>&1 &
  started+=($!)
  wait_for 15 xprop -root -notype _NET_SUPPORTING_WM_CHECK || fail "icewm did not start"
}

# "Do ikony" sits at (175, 149) and is 75 by 25 pixels.
click_do_ikony() {
  xdotool mousemove --window "$window" 212 161 click 1
}

# The panel with its tray comes after the program.
start_display
start_program "$work/late"
mkdir -p "$work/icewm-tray"
start_panel "$work/icewm-tray"
wait_for 15 docked_icon || fail "the icon did not dock in the tray that started after the program"
icon=$(docked_icon)
click_do_ikony
wait_for 10 test "$(map_state "$window")" = IsUnMapped || fail "Do ikony did not hide the window"
[ "$(map_state "$icon")" = IsViewable ] || fail "the icon went with the window"
xdotool mousemove --window "$icon" 8 8 click 1
wait_for 10 test "$(map_state "$window")" = IsViewable || fail "a click on the icon did not bring the window back"
echo "late tray: the icon docked, Do ikony hid the window into it, a click brought it back"

# A panel without a tray: the window is minimised, never hidden.
start_display
start_program "$work/notray"
mkdir -p "$work/icewm-notray"
echo "ShowTaskBar=0" >"$work/icewm-notray/preferences"
start_panel "$work/icewm-notray"
sleep 1
docked_icon && fail "a tray is there although the panel shows none"
click_do_ikony
wait_for 10 bash -c "xprop -id $window WM_STATE | grep -q Iconic" || fail "without a tray Do ikony did not minimise"
echo "no tray: Do ikony minimised the window"
