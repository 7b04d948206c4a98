#!/usr/bin/env bash
# The notification-area icon of the real program, with a panel (icewm and its
# tray) that starts after the program, as at a login: the icon docks when the
# tray appears, "Do ikony" then hides the window into it and a click on the
# icon brings it back. Without a tray "Do ikony" minimises instead of hiding.
# Started with --tray the window stays hidden in a running tray, a second
# start brings it forward, and the icon's menu ends the program; without a
# tray --tray shows the window after a short wait for one.
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

# The window is on the screen; the number of the program's windows on it.
window_visible() {
  [ -n "$(xdotool search --onlyvisible --name '^Ostrakel$')" ]
}
windows_of_program() {
  xdotool search --onlyvisible --class ostrakel | wc -l
}
more_windows_than_before() {
  [ "$(windows_of_program)" -gt "$before" ]
}

# --tray with a tray running: the window stays hidden and the icon docks. A
# second start with the same settings brings the window to the front and ends
# with status 0; the icon's menu "Zakończ" ends the program as a close does.
start_display
mkdir -p "$work/icewm-tray2"
start_panel "$work/icewm-tray2"
prepare_program "$work/intray"
"$work/intray/ostrakel" --tray >"$work/intray/stdout" 2>&1 &
intray=$!
started+=($intray)
wait_for 15 docked_icon || fail "--tray: the icon did not dock"
icon=$(docked_icon)
sleep 2
window_visible && fail "--tray: the window was shown"
# In the foreground: it must end by itself.
timeout 20 "$work/intray/ostrakel" >"$work/intray/second" 2>&1 ||
  fail "the second start ended with status $?: $(cat "$work/intray/second")"
wait_for 10 window_visible || fail "the second start did not bring the window to the front"
before=$(windows_of_program)
xdotool mousemove --window "$icon" 8 8 click 3
wait_for 10 more_windows_than_before || fail "a right click on the icon opened no menu"
xdotool key Up Return
wait_for 15 not_running "$intray" || fail "Zakończ did not end the program"
wait "$intray" && status=0 || status=$?
[ "$status" -eq 0 ] || fail "Zakończ: status $status"
grep -aq "start programu" "$(log_file "$work/intray")" || fail "Zakończ: the log was not saved"
echo "--tray: hidden in the tray, a second start brought it to the front, Zakończ ended it with the log saved"

# --tray without a tray: the window is shown after a short wait for one.
start_display
prepare_program "$work/notray-tray"
"$work/notray-tray/ostrakel" --tray >"$work/notray-tray/stdout" 2>&1 &
started+=($!)
sleep 2
window_visible && fail "--tray without a tray: shown before the wait for a tray was over"
wait_for 20 window_visible || fail "--tray without a tray: no window"
echo "--tray without a tray: the window was shown"
