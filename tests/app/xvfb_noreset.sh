#!/usr/bin/env bash
# The virtual X server of the program tests (gui_session.sh) keeps running as
# it is when its last client leaves. A server that resets then drops every
# connection and all state, and a program connecting in that moment fails to
# load the xcb plugin; here a root window property that a client set and left
# behind must still be there for the next client.
# Usage: xvfb_noreset.sh
source "$(dirname "$0")/gui_session.sh"

start_display
# The only client sets the property and leaves.
xprop -root -f _OSTRAKEL_PROBE 8s -set _OSTRAKEL_PROBE kept || fail "xprop could not reach the display"
sleep 1
xprop -root _OSTRAKEL_PROBE 2>&1 | grep -q '"kept"' ||
  fail "the X server reset when its last client left (the property is gone: $(xprop -root _OSTRAKEL_PROBE 2>&1))"
echo "The X server kept its state after its last client left."
